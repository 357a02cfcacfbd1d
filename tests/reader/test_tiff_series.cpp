// Folders of numbered TIFF files named the way people name them.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "Diagnostics.h"
#include "OpenImage.h"
#include "TIFFImageReader.h"
#include "TiffWriter.h"

using namespace ImageReader;
using tifftest::Folder;
using tifftest::Messages;
using tifftest::V;
using Series = TIFFImageReader<unsigned short>;

namespace {

// The value every sample of a plane holds, or -1 for an empty slice.
int PlaneValue(ImageBase<unsigned short>& image, const Vector& position)
{
    const ImageSlice<unsigned short> slice = image.GetSlice(position);
    return slice.IsEmpty() ? -1 : slice.GetData()[0];
}

} // namespace

// Which names a template matches, and the numbers it reads from them.
TEST(TiffSeries, TemplateMatchesNumbersByTheirWriting)
{
    struct Case {
        const char* chosen;
        const char* other;
        std::vector<long long> numbers; // empty: no match
    };
    const Case cases[] = {
        {"img_007.tif", "img_012.tif", {12}},      // padded: same width
        {"img_007.tif", "img_1234.tif", {1234}},   // padded: wider once the padding is outgrown
        {"img_007.tif", "img_0012.tif", {}},       // padded wider with a leading zero: another series
        {"img_007.tif", "img_12.tif", {}},         // padded: narrower
        {"img_50.tif", "img_7.tif", {7}},          // unpadded: any width by value
        {"img_50.tif", "img_119.tif", {119}},
        {"img_50.tif", "img_07.tif", {7}},         // the chosen one's width, padded
        {"img_50.tif", "img_007.tif", {}},
        {"img_105.tif", "img_07.tif", {7}},        // unpadded past a %02d padding: narrower padded too
        {"img_105.tif", "img_0007.tif", {}},       // but not a wider padding
        {"img_0.tif", "img_10.tif", {10}},         // a lone 0 is not padding
        {"a1b22.tif", "a3b04.TIFF", {3, 4}},
        {"a1b22.tif", "a3c04.tif", {}},            // other text
        {"a1b22.tif", "a3b04.tif.bak", {}},        // other extension
        {"a1b22.tif", "a3b04x.tif", {}},           // text after the last number
        {"a1b22.tif", "a3b.tif", {}},              // a number missing
        {"scan.TIF", "scan.tiff", std::vector<long long>{}}, // no numbers: matches, nothing read
        {"n1.ics", "n2.ics", {2}},
        {"n1.ics", "n2.tif", {}},
        {"z1.tif", "z1234567890.tif", {}},         // more digits than an extent holds
    };
    for (const Case& c : cases) {
        const SeriesTemplate pattern(c.chosen);
        std::vector<long long> numbers;
        const bool matched = pattern.Match(c.other, numbers);
        const bool expected = !c.numbers.empty() || std::string(c.chosen) == "scan.TIF";
        EXPECT_EQ(matched, expected) << c.chosen << " / " << c.other;
        if (matched && expected) {
            EXPECT_EQ(numbers, c.numbers) << c.chosen << " / " << c.other;
        }
    }
}

// Each file holds its place in the list plus one; the case opens `open`.
TEST(TiffSeries, NamesAsPeopleWriteThem)
{
    struct Case {
        const char* what;
        std::vector<std::string> files; // a trailing '/' makes a folder
        std::string open;
        Vector size;
        std::vector<std::string> names;
        std::vector<int> origins;
        std::vector<std::pair<Vector, int>> planes; // position, value (-1: missing)
    };
    const auto numbered = [](const std::string& prefix, int from, int to, int width, const std::string& ext = ".tif") {
        std::vector<std::string> files;
        for (int i = from; i <= to; ++i) {
            std::string n = std::to_string(i);
            if (static_cast<int>(n.size()) < width)
                n.insert(0, static_cast<size_t>(width) - n.size(), '0');
            files.push_back(prefix + n + ext);
        }
        return files;
    };
    const auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        // ImageJ's "Image Sequence": the 16 of the name is the same everywhere.
        {"image sequence", numbered("grad16_", 0, 39, 4), "grad16_0007.tif", V({3, 2, 40}), {"x", "y", "z"}, {0, 0, 0},
         {{V({0}), 1}, {V({39}), 40}}},
        {"dates and labels", numbered("2024-03-05_exp2_pos3_z", 0, 4, 2), "2024-03-05_exp2_pos3_z02.tif", V({3, 2, 5}),
         {"x", "y", "z"}, {0, 0, 0}, {{V({4}), 5}}},
        {"one-based", numbered("img_", 1, 3, 3), "img_002.tif", V({3, 2, 3}), {"x", "y", "img"}, {0, 0, 1},
         {{V({0}), 1}, {V({2}), 3}}},
        {"unpadded", numbered("img_", 0, 119, 1), "img_50.tif", V({3, 2, 120}), {"x", "y", "img"}, {0, 0, 0},
         {{V({0}), 1}, {V({9}), 10}, {V({10}), 11}, {V({119}), 120}}},
        {"padding outgrown", join(numbered("m_", 98, 99, 2), numbered("m_", 100, 101, 3)), "m_98.tif", V({3, 2, 4}),
         {"x", "y", "m"}, {0, 0, 98}, {{V({3}), 4}}},
        {"padded template", join(numbered("q_", 8, 9, 2), {"q_10.tif", "q_100.tif", "q_7.tif", "q_0011.tif"}), "q_08.tif",
         V({3, 2, 93}), {"x", "y", "q"}, {0, 0, 8}, {{V({0}), 1}, {V({2}), 3}, {V({92}), 4}, {V({3}), -1}}},
        {"extensions in any case", {"u_1.TIF", "u_2.tiff", "u_3.Tif", "u_4.TIFF", "u_5.png"}, "u_3.Tif", V({3, 2, 4}),
         {"x", "y", "u"}, {0, 0, 1}, {{V({3}), 4}}},
        {"two numbers", {"cell_z1_t0.tif", "cell_z2_t0.tif", "cell_z3_t1.tif", "cell_z1_t1.tif"}, "cell_z1_t0.tif",
         V({3, 2, 3, 2}), {"x", "y", "z", "t"}, {0, 0, 1, 0}, {{V({2, 1}), 3}, {V({1, 1}), -1}, {V({0, 1}), 4}}},
        {"gap", {"g_1.tif", "g_2.tif", "g_4.tif"}, "g_1.tif", V({3, 2, 4}), {"x", "y", "g"}, {0, 0, 1},
         {{V({2}), -1}, {V({3}), 3}}},
        {"printf %02d opened past its padding", numbered("img_", 0, 119, 2), "img_105.tif", V({3, 2, 120}),
         {"x", "y", "img"}, {0, 0, 0}, {{V({0}), 1}, {V({7}), 8}, {V({99}), 100}, {V({100}), 101}, {V({119}), 120}}},
        {"alone", {"scan7.tif", "other8.tif", "scan7.tif.bak"}, "scan7.tif", V({3, 2}), {"x", "y"}, {0, 0}, {{Vector(), 1}}},
        {"other text and folders", {"a_1.tif", "a_2.tif", "b_3.tif", "a_5.tif/", "a_x.tif"}, "a_2.tif", V({3, 2, 2}),
         {"x", "y", "a"}, {0, 0, 1}, {{V({1}), 2}}},
        {"unnamed numbers", {"1_1.tif", "1_2.tif", "2_1.tif"}, "1_1.tif", V({3, 2, 2, 2}), {"x", "y", "z", "t"},
         {0, 0, 1, 1}, {{V({1, 0}), 3}, {V({1, 1}), -1}}},
    };
    for (const Case& c : cases) {
        Folder folder;
        for (size_t i = 0; i < c.files.size(); ++i) {
            if (c.files[i].back() == '/')
                std::filesystem::create_directory(folder.File(c.files[i]));
            else
                tifftest::WriteFlat(folder.File(c.files[i]), static_cast<double>(i + 1));
        }
        OpenedImage opened = OpenImage(folder.File(c.open));
        ASSERT_NE(opened.reader, nullptr) << c.what << ": " << opened.error;
        auto& r = *opened.reader;
        EXPECT_EQ(r.GetSize(), c.size) << c.what;
        for (unsigned d = 0; d < c.size.size(); ++d) {
            EXPECT_EQ(r.GetDimName(d), c.names[d]) << c.what << " " << d;
            EXPECT_EQ(r.GetDimOrigin(d), c.origins[d]) << c.what << " " << d;
        }
        EXPECT_EQ(r.GetFormatName(), c.size.size() > 2 ? "TIFF series, uint16" : "TIFF, uint16") << c.what;
        for (const auto& [position, value] : c.planes)
            EXPECT_EQ(PlaneValue(r, position), value) << c.what;
    }
}

TEST(TiffSeries, AMultiPageFileOpensItsStackAndASinglePageOneItsSeries)
{
    Folder folder;
    tifftest::WriteFlat(folder.File("s_1.tif"), 1);
    tifftest::WriteFlat(folder.File("s_2.tif"), 2);
    tifftest::Write(folder.File("s_3.tif"), tifftest::Page(), 4, [](int p, int, int, int) { return 10 + p; });
    OpenedImage single = OpenImage(folder.File("s_1.tif"));
    ASSERT_NE(single.reader, nullptr);
    EXPECT_EQ(single.reader->GetSize(), V({3, 2, 3}));
    EXPECT_EQ(single.reader->GetFormatName(), "TIFF series, uint16");
    OpenedImage stack = OpenImage(folder.File("s_3.tif"));
    ASSERT_NE(stack.reader, nullptr);
    EXPECT_EQ(stack.reader->GetSize(), V({3, 2, 4}));
    EXPECT_EQ(stack.reader->GetFormatName(), "multi-page TIFF, uint16");
    EXPECT_EQ(PlaneValue(*stack.reader, V({3})), 13);
    // Within the series, the stack file's first page stands for its number.
    EXPECT_EQ(PlaneValue(*single.reader, V({2})), 10);
}

TEST(TiffSeries, PlanesThatDoNotFitAreMissingAndSaidOnce)
{
    Folder folder;
    tifftest::WriteFlat(folder.File("m1.tif"), 1);
    tifftest::WriteFlat(folder.File("m2.tif"), 2, 4, 2); // wider
    tifftest::WriteFlat(folder.File("m3.tif"), 3, 3, 3); // taller
    tifftest::WriteFlat(folder.File("m4.tif"), 4, 3, 2, 8); // other sample type
    std::ofstream(folder.File("m5.tif")) << "not a TIFF";
    std::ofstream(folder.File("m6.tif")) << "not a TIFF either";
    Messages messages;
    Series series(folder.File("m1.tif"));
    EXPECT_EQ(series.GetSize(), V({3, 2, 6}));
    EXPECT_EQ(PlaneValue(series, V({0})), 1);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(PlaneValue(series, V({i})), -1) << i;
    for (int i = 1; i <= 5; ++i)
        PlaneValue(series, V({i}));
    // One message for the misfits, one per distinct libtiff complaint about the non-TIFFs.
    EXPECT_GE(messages.list.size(), 2u);
    EXPECT_LE(messages.list.size(), 3u);
}

TEST(TiffSeries, SampleTypesAndCalibrationComeFromThePlanes)
{
    Folder folder;
    tifftest::Page g;
    g.bits = 32;
    g.format = SAMPLEFORMAT_IEEEFP;
    g.xres = g.yres = 20000; // per centimetre: 0.5 µm
    g.resolutionUnit = RESUNIT_CENTIMETER;
    for (int i = 0; i < 3; ++i)
        tifftest::Write(folder.File("f_t" + std::to_string(i) + ".tif"), g, 1,
                        [i](int, int, int x, int y) { return -1.5 + i * 100.25 + x + 0.5 * y; });
    Series series(folder.File("f_t1.tif"));
    EXPECT_EQ(series.GetSize(), V({3, 2, 3}));
    EXPECT_EQ(series.GetSampleType(), SampleType::Float32);
    EXPECT_EQ(series.GetFormatName(), "TIFF series, float32");
    EXPECT_EQ(series.GetDimPixelSize(0), 500.0);
    EXPECT_EQ(series.GetDimPixelSize(1), 500.0);
    EXPECT_EQ(series.GetDimPixelSize(2), 0.0);
    EXPECT_EQ(series.GetValue(V({2, 1, 2})), std::optional<double>(-1.5 + 200.5 + 2 + 0.5));
    EXPECT_EQ(series.GetValue(V({0, 0, 0})), std::optional<double>(-1.5));
    EXPECT_EQ(series.GetValue(V({0, 0, 3})), std::nullopt);
    EXPECT_EQ(series.GetSlice(V({0})).GetData()[0], 0);
    EXPECT_EQ(series.GetSlice(V({2})).GetData()[5], 65535);
}

// ImageJ's "Image Sequence" writes a description into every file; the files still form
// the series, calibrated by their descriptions.
TEST(TiffSeries, ImageJSequenceFilesFormTheirSeries)
{
    Folder folder;
    tifftest::Page g;
    g.description = "ImageJ=1.54f\nunit=micron\nmin=0.0\nmax=255.0\n";
    g.xres = g.yres = 8; // pixels per micron
    g.resolutionUnit = RESUNIT_NONE;
    for (int i = 0; i < 4; ++i)
        tifftest::Write(folder.File("grad16_000" + std::to_string(i) + ".tif"), g, 1, [i](int, int, int, int) { return i; });
    OpenedImage opened = OpenImage(folder.File("grad16_0002.tif"));
    ASSERT_NE(opened.reader, nullptr) << opened.error;
    EXPECT_EQ(opened.reader->GetSize(), V({3, 2, 4}));
    EXPECT_EQ(opened.reader->GetFormatName(), "TIFF series, uint16");
    EXPECT_EQ(opened.reader->GetDimPixelSize(0), 125.0);
    EXPECT_EQ(opened.reader->GetDimPixelSize(1), 125.0);
    EXPECT_EQ(PlaneValue(*opened.reader, V({3})), 3);
}

TEST(TiffSeries, AThousandPlanesScanQuickly)
{
    Folder folder;
    for (int i = 1; i <= 1000; ++i)
        tifftest::WriteFlat(folder.File("plane_" + std::to_string(i) + ".tif"), i);
    const auto start = std::chrono::steady_clock::now();
    Series series(folder.File("plane_500.tif"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(series.GetSize(), V({3, 2, 1000}));
    EXPECT_EQ(series.GetDimOrigin(2), 1);
    EXPECT_EQ(PlaneValue(series, V({999})), 1000);
    // bench_tiff has the figure; this bound only catches a scan gone badly wrong, also in
    // sanitizer builds on a busy machine.
    EXPECT_LT(seconds, 2.0);
}

TEST(TiffSeries, UnreadableChoiceSaysWhyAndReopeningReplacesTheSeries)
{
    Folder folder;
    std::ofstream(folder.File("bad1.tif")) << "not a TIFF";
    for (const std::string& path : {folder.File("none1.tif"), folder.File("bad1.tif"), folder.File("")}) {
        Messages quiet;
        Series series(path);
        EXPECT_EQ(series.GetSize(), Vector()) << path;
        EXPECT_FALSE(series.GetError().empty()) << path;
        EXPECT_EQ(series.GetDimName(0), "") << path;
        EXPECT_EQ(series.GetFormatName(), "") << path;
        EXPECT_TRUE(series.GetSlice(V({1})).IsEmpty() && series.GetSlice(Vector()).IsEmpty()) << path;
    }
    tifftest::WriteFlat(folder.File("r_a1_b2.tif"), 1);
    tifftest::WriteFlat(folder.File("r_a2_b3.tif"), 1);
    tifftest::WriteFlat(folder.File("q5.tif"), 7, 4, 4);
    tifftest::WriteFlat(folder.File("q6.tif"), 8, 4, 4);
    Series series(folder.File("r_a1_b2.tif"));
    EXPECT_EQ(series.GetSize(), V({3, 2, 2, 2}));
    series.Open(folder.File("q6.tif"));
    EXPECT_EQ(series.GetSize(), V({4, 4, 2}));
    EXPECT_EQ(series.GetDimName(2), "q");
    EXPECT_EQ(series.GetDimOrigin(2), 5);
    EXPECT_EQ(PlaneValue(series, V({0})), 7);
}

// Opening one file of a series puts the cursor on its plane; opening the folder starts where
// any image starts; a folder of a multi-page file opens that file.
TEST(TiffSeries, WhereOpeningLands)
{
    Folder folder;
    for (int z = 0; z < 3; ++z)
        for (int t = 1; t <= 4; ++t)
            tifftest::WriteFlat(folder.File("cell_z" + std::to_string(z) + "_t" + std::to_string(t) + ".tif"), 10 * z + t);
    OpenedImage file = OpenImage(folder.File("cell_z2_t3.tif"));
    ASSERT_NE(file.reader, nullptr) << file.error;
    EXPECT_EQ(file.reader->GetInitialPosition(), V({-1, -1, 2, 2})); // t counts from 1
    EXPECT_EQ(PlaneValue(*file.reader, V({2, 2})), 23);

    OpenedImage whole = OpenImage(std::filesystem::path(folder.File("")));
    ASSERT_NE(whole.reader, nullptr) << whole.error;
    EXPECT_EQ(whole.reader->GetSize(), V({3, 2, 3, 4}));
    EXPECT_EQ(whole.reader->GetInitialPosition(), Vector());

    Folder stackFolder;
    tifftest::Write(stackFolder.File("stack.tif"), tifftest::Page(), 5, [](int p, int, int, int) { return p; });
    OpenedImage stack = OpenImage(std::filesystem::path(stackFolder.File("")));
    ASSERT_NE(stack.reader, nullptr) << stack.error;
    EXPECT_EQ(stack.reader->GetSize(), V({3, 2, 5}));

    Folder empty;
    std::ofstream(empty.File("notes.txt")) << "no images";
    EXPECT_EQ(OpenImage(std::filesystem::path(empty.File(""))).error, "a folder, not an image file");
}
