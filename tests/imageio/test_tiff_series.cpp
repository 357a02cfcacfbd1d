#include <gtest/gtest.h>

#include <unistd.h>

#include <TIFFImageReader.h>

#include "TiffTestUtil.h"

using namespace korveltest;
using ImageReader::ImageSlice;
using ImageReader::TIFFImageReader;
using ImageReader::Vector;
using Reader = TIFFImageReader<unsigned short>;

namespace {

// A w x h plane whose samples are all `value`.
void WritePlane(const std::string& path, std::uint32_t value, int bits = 16, int w = 3, int h = 2)
{
    Image image;
    ASSERT_EQ(NewImage(w, h, bits, &image), 0);
    for (int i = 0; i < w * h; ++i) {
        if (bits == 8)
            static_cast<std::uint8_t*>(image.data)[i] = static_cast<std::uint8_t>(value);
        else if (bits == 16)
            static_cast<std::uint16_t*>(image.data)[i] = static_cast<std::uint16_t>(value);
        else
            static_cast<std::uint32_t*>(image.data)[i] = value;
    }
    ASSERT_EQ(SimpleTIFFWriteImage(&image, path.c_str()), 0);
}

Vector V(std::initializer_list<int> values)
{
    Vector v;
    for (int x : values)
        v.push_back(x);
    return v;
}

// The value of the plane's first sample, or -1 for an empty slice.
int FirstSample(const ImageSlice<unsigned short>& slice)
{
    return slice.IsEmpty() ? -1 : slice.GetData()[0];
}

std::vector<std::string> Names(Reader& reader)
{
    std::vector<std::string> names;
    for (unsigned d = 0; d < reader.GetSize().size(); ++d)
        names.push_back(reader.GetDimName(d));
    return names;
}

} // namespace

TEST(TiffSeries, TwoDigitRunsGiveTwoDimensions)
{
    TempDir dir;
    WritePlane(dir.File("cell_z012_t3.tif"), 123);
    WritePlane(dir.File("cell_z007_t2.tif"), 72);
    WritePlane(dir.File("cell_z001_t0.tif"), 10);
    Reader reader(dir.File("cell_z012_t3.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 13, 4}));
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"x", "y", "z", "t"}));
    EXPECT_EQ(reader.GetDimName(4), "");
    EXPECT_EQ(reader.GetDimPixelSize(2), 0.0);

    const ImageSlice<unsigned short> plane = reader.GetSlice(V({7, 2}));
    ASSERT_FALSE(plane.IsEmpty());
    EXPECT_EQ(plane.GetSize(), V({3, 2}));
    EXPECT_EQ(std::vector<unsigned short>(plane.GetData(), plane.GetData() + 6), std::vector<unsigned short>(6, 72));
    EXPECT_EQ(FirstSample(reader.GetSlice(V({1, 0}))), 10);
    EXPECT_EQ(FirstSample(reader.GetSlice(V({12, 3}))), 123);
    EXPECT_TRUE(reader.GetSlice(V({0, 0})).IsEmpty()) << "a gap in the numbering";
    EXPECT_TRUE(reader.GetSlice(V({7})).IsEmpty()) << "position too short";
    EXPECT_TRUE(reader.GetSlice(V({-1, 2})).IsEmpty());
}

TEST(TiffSeries, IndicesRunFromZeroToTheLargestNumber)
{
    TempDir dir;
    for (int i = 1; i <= 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "img%04d.tif", i);
        WritePlane(dir.File(name), static_cast<std::uint32_t>(i));
    }
    Reader reader(dir.File("img0001.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 41}));
    EXPECT_EQ(reader.GetDimName(2), "img");
    EXPECT_TRUE(reader.GetSlice(V({0})).IsEmpty());
    EXPECT_EQ(FirstSample(reader.GetSlice(V({40}))), 40);
    EXPECT_EQ(FirstSample(reader.GetSlice(V({9}))), 9);
}

TEST(TiffSeries, DimensionNamesComeFromTheLettersBeforeEachNumber)
{
    struct Case {
        const char* file;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"0001.tif", {"x", "y", ""}},
        {"series1_z05.tif", {"x", "y", "series", "z"}},
        {"a-b3.tif", {"x", "y", "b"}},
        {"run 7.tif", {"x", "y", ""}},
        {"scan.tif", {"x", "y"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WritePlane(dir.File(c.file), 5);
        Reader reader(dir.File(c.file));
        EXPECT_EQ(Names(reader), c.names) << c.file;
    }
}

TEST(TiffSeries, NameWithoutDigitsIsOnePlane)
{
    TempDir dir;
    WritePlane(dir.File("scan.tif"), 77);
    WritePlane(dir.File("other.tif"), 1);
    Reader reader(dir.File("scan.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2}));
    EXPECT_EQ(FirstSample(reader.GetSlice(Vector())), 77);
}

TEST(TiffSeries, NumbersAreReadWithTheTemplateWidths)
{
    TempDir dir;
    WritePlane(dir.File("s_z05.tif"), 5);
    WritePlane(dir.File("s_z123.tif"), 9); // only "12" fits the two-digit field
    WritePlane(dir.File("s_z07.txt"), 9);  // not a TIFF name
    WritePlane(dir.File("t_z40.tif"), 9);  // another series
    std::filesystem::create_directory(dir.File("s_z60.tif"));
    Reader reader(dir.File("s_z05.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 13}));
}

TEST(TiffSeries, SegmentThatDoesNotMatchIsSkipped)
{
    // "cell_z004.tif" lacks the "_t" segment: its z still counts, its t does not exist.
    TempDir dir;
    WritePlane(dir.File("cell_z001_t1.tif"), 1);
    WritePlane(dir.File("cell_z004.tif"), 1);
    Reader reader(dir.File("cell_z001_t1.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 5, 2}));
}

TEST(TiffSeries, TiffExtensionSeriesOpensWhole)
{
    TempDir dir;
    for (int i = 0; i < 3; ++i)
        WritePlane(dir.File("p" + std::to_string(i) + ".tiff"), static_cast<std::uint32_t>(100 + i));
    Reader reader(dir.File("p0.tiff"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 3}));
    EXPECT_EQ(FirstSample(reader.GetSlice(V({2}))), 102);
}

TEST(TiffSeries, PlanesOfOtherDepthsAreConverted)
{
    TempDir dir;
    WritePlane(dir.File("a1.tif"), 200, 8);
    WritePlane(dir.File("a2.tif"), 255, 8);
    Reader bytes(dir.File("a1.tif"));
    EXPECT_EQ(FirstSample(bytes.GetSlice(V({1}))), 200);
    EXPECT_EQ(FirstSample(bytes.GetSlice(V({2}))), 255);

    TempDir wide;
    WritePlane(wide.File("b1.tif"), 70000, 32); // 70000 - 65536
    Reader words(wide.File("b1.tif"));
    const ImageSlice<unsigned short> plane = words.GetSlice(V({1}));
    ASSERT_FALSE(plane.IsEmpty());
    EXPECT_EQ(std::vector<unsigned short>(plane.GetData(), plane.GetData() + 6), std::vector<unsigned short>(6, 4464));
}

TEST(TiffSeries, PlaneThatDoesNotMatchTheChosenFileIsMissing)
{
    TempDir dir;
    WritePlane(dir.File("m1.tif"), 1);
    WritePlane(dir.File("m2.tif"), 2, 16, 4, 2); // wider
    WritePlane(dir.File("m3.tif"), 3, 16, 3, 3); // taller
    WritePlane(dir.File("m4.tif"), 4, 8);        // other depth
    WriteFile(dir.File("m5.tif"), std::string("not a TIFF"));
    Reader reader(dir.File("m1.tif"));
    EXPECT_EQ(reader.GetSize(), V({3, 2, 6}));
    EXPECT_EQ(FirstSample(reader.GetSlice(V({1}))), 1);
    for (int i = 2; i <= 5; ++i)
        EXPECT_TRUE(reader.GetSlice(V({i})).IsEmpty()) << i;
}

TEST(TiffSeries, PathWithoutFolderMeansTheCurrentFolder)
{
    TempDir dir;
    WritePlane(dir.File("c1.tif"), 11);
    WritePlane(dir.File("c2.tif"), 12);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    Reader reader("c1.tif");
    const Vector size = reader.GetSize();
    const int sample = FirstSample(reader.GetSlice(V({2})));
    std::filesystem::current_path(previous);
    EXPECT_EQ(size, V({3, 2, 3}));
    EXPECT_EQ(sample, 12);
}

TEST(TiffSeries, UnreadableChoiceLeavesAnEmptyReader)
{
    TempDir dir;
    WriteFile(dir.File("bad1.tif"), std::string("not a TIFF"));
    for (const std::string& path : {dir.File("none1.tif"), dir.File("bad1.tif"), dir.Path().string()}) {
        Reader reader(path);
        EXPECT_EQ(reader.GetSize(), Vector()) << path;
        EXPECT_EQ(reader.GetDimName(0), "") << path;
        EXPECT_TRUE(reader.GetSlice(V({1})).IsEmpty()) << path;
    }
    Reader unopened;
    EXPECT_EQ(unopened.GetSize(), Vector());
    EXPECT_TRUE(unopened.GetSlice(Vector()).IsEmpty());
}

TEST(TiffSeries, ReopeningReplacesTheSeries)
{
    TempDir dir;
    WritePlane(dir.File("r_a1_b2.tif"), 1);
    WritePlane(dir.File("q5.tif"), 1, 16, 4, 4);
    Reader reader(dir.File("r_a1_b2.tif"));
    EXPECT_EQ(reader.GetSize().size(), 4u);
    reader.Open(dir.File("q5.tif"));
    EXPECT_EQ(reader.GetSize(), V({4, 4, 6}));
    EXPECT_EQ(reader.GetDimName(2), "q");
}
