#include <tiffio.h>

#include <TIFFImageReader.h>

#include "KorvelTestUtil.h"

using namespace korveltest;
using ImageReader::ImageSlice;
using ImageReader::Vector;
using Series = ImageReader::TIFFImageReader<unsigned short>;

namespace {

// libtiff's warnings about the files that are not TIFFs would only clutter the log.
[[maybe_unused]] const bool kLibtiffQuiet = (TIFFSetErrorHandler(nullptr), TIFFSetWarningHandler(nullptr), true);

// A w x h plane whose samples are all `value`.
void WritePlane(const std::string& path, std::uint32_t value, int bits = 16, int w = 3, int h = 2)
{
    Image image;
    ASSERT_EQ(NewImage(w, h, bits, &image), 0);
    for (size_t i = 0; i < static_cast<size_t>(w * h); ++i)
        image.Set(i, value);
    ASSERT_EQ(SimpleTIFFWriteImage(&image, path.c_str()), 0);
}

Vector V(std::initializer_list<int> values)
{
    Vector v;
    for (int x : values)
        v.push_back(x);
    return v;
}

// The plane's samples, or none for an empty slice.
std::vector<unsigned short> Samples(const ImageSlice<unsigned short>& slice)
{
    if (slice.IsEmpty())
        return {};
    const Vector size = slice.GetSize();
    return std::vector<unsigned short>(slice.GetData(), slice.GetData() + size[0] * size[1]);
}

// What Samples gives for a 3 x 2 plane of `value`; -1 for an empty slice.
std::vector<unsigned short> Plane(int value)
{
    return value < 0 ? std::vector<unsigned short>() : std::vector<unsigned short>(6, static_cast<unsigned short>(value));
}

std::vector<std::string> Names(Series& series)
{
    std::vector<std::string> names;
    for (unsigned d = 0; d <= series.GetSize().size(); ++d)
        names.push_back(series.GetDimName(d));
    return names;
}

} // namespace

// The first file of each case is opened; every plane's samples are its place in the list.
TEST(TiffSeries, FolderScanCutsTheTemplateIntoNamedDimensions)
{
    struct Case {
        std::vector<std::string> files; // a trailing '/' makes a folder
        Vector size;
        std::vector<std::string> names; // the one past the last dimension is empty
        std::vector<std::pair<Vector, int>> planes; // position, Plane value
    };
    const Case cases[] = {
        {{"cell_z012_t3.tif", "cell_z007_t2.tif", "cell_z001_t0.tif"}, V({3, 2, 13, 4}), {"x", "y", "z", "t", ""},
         {{V({12, 3}), 0}, {V({7, 2}), 1}, {V({1, 0}), 2}, {V({0, 0}), -1}, {V({7}), -1}, {V({-1, 2}), -1}}},
        // Indices run from 0 to the largest number; widths come from the template.
        {{"img0001.tif", "img0009.tif", "img0040.tif"}, V({3, 2, 41}), {"x", "y", "img", ""},
         {{V({0}), -1}, {V({9}), 1}, {V({40}), 2}}},
        {{"0001.tif"}, V({3, 2, 2}), {"x", "y", "", ""}, {}},
        {{"series1_z05.tif"}, V({3, 2, 2, 6}), {"x", "y", "series", "z", ""}, {{V({1, 5}), 0}}},
        {{"a-b3.tif"}, V({3, 2, 4}), {"x", "y", "b", ""}, {}},
        {{"run 7.tif"}, V({3, 2, 8}), {"x", "y", "", ""}, {}},
        {{"scan.tif", "other.tif"}, V({3, 2}), {"x", "y", ""}, {{Vector(), 0}}},
        // Only "12" of "123" fits the two-digit field; other names, extensions and folders do not count.
        {{"s_z05.tif", "s_z123.tif", "s_z07.txt", "t_z40.tif", "s_z60.tif/"}, V({3, 2, 13}), {"x", "y", "z", ""}, {}},
        // A name without the "_t" segment still counts for z.
        {{"cell_z001_t1.tif", "cell_z004.tif"}, V({3, 2, 5, 2}), {"x", "y", "z", "t", ""}, {}},
        {{"p0.tiff", "p1.tiff", "p2.tiff"}, V({3, 2, 3}), {"x", "y", "p", ""}, {{V({2}), 2}}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (size_t i = 0; i < c.files.size(); ++i) {
            if (c.files[i].back() == '/')
                std::filesystem::create_directory(dir.File(c.files[i]));
            else
                WritePlane(dir.File(c.files[i]), static_cast<std::uint32_t>(i));
        }
        Series series(dir.File(c.files[0]));
        EXPECT_EQ(series.GetSize(), c.size) << c.files[0];
        EXPECT_EQ(Names(series), c.names) << c.files[0];
        EXPECT_EQ(series.GetDimPixelSize(2), 0.0);
        for (const auto& [position, value] : c.planes)
            EXPECT_EQ(Samples(series.GetSlice(position)), Plane(value)) << c.files[0];
    }
}

TEST(TiffSeries, PlanesOfOtherDepthsAreConverted)
{
    TempDir dir;
    WritePlane(dir.File("a1.tif"), 200, 8);
    WritePlane(dir.File("a2.tif"), 255, 8);
    Series bytes(dir.File("a1.tif"));
    EXPECT_EQ(Samples(bytes.GetSlice(V({1}))), Plane(200));
    EXPECT_EQ(Samples(bytes.GetSlice(V({2}))), Plane(255));

    TempDir wide;
    WritePlane(wide.File("b1.tif"), 70000, 32);
    Series words(wide.File("b1.tif"));
    EXPECT_EQ(Samples(words.GetSlice(V({1}))), Plane(70000 - 65536));
}

TEST(TiffSeries, PlaneThatDoesNotMatchTheChosenFileIsMissing)
{
    TempDir dir;
    WritePlane(dir.File("m1.tif"), 1);
    WritePlane(dir.File("m2.tif"), 2, 16, 4, 2); // wider
    WritePlane(dir.File("m3.tif"), 3, 16, 3, 3); // taller
    WritePlane(dir.File("m4.tif"), 4, 8);        // other depth
    dir.Write("m5.tif", Text("not a TIFF"));
    Series series(dir.File("m1.tif"));
    EXPECT_EQ(series.GetSize(), V({3, 2, 6}));
    EXPECT_EQ(Samples(series.GetSlice(V({1}))), Plane(1));
    for (int i = 2; i <= 5; ++i)
        EXPECT_TRUE(series.GetSlice(V({i})).IsEmpty()) << i;
}

TEST(TiffSeries, PathWithoutFolderMeansTheCurrentFolder)
{
    TempDir dir;
    WritePlane(dir.File("c1.tif"), 11);
    WritePlane(dir.File("c2.tif"), 12);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    Series series("c1.tif");
    const Vector size = series.GetSize();
    const auto plane = Samples(series.GetSlice(V({2})));
    std::filesystem::current_path(previous);
    EXPECT_EQ(size, V({3, 2, 3}));
    EXPECT_EQ(plane, Plane(12));
}

TEST(TiffSeries, UnreadableChoiceLeavesAnEmptySeriesAndReopeningReplacesIt)
{
    TempDir dir;
    const std::string bad = dir.Write("bad1.tif", Text("not a TIFF"));
    for (const std::string& path : {dir.File("none1.tif"), bad, dir.Path().string(), std::string()}) {
        Series series;
        if (!path.empty())
            series.Open(path);
        EXPECT_EQ(series.GetSize(), Vector()) << path;
        EXPECT_EQ(series.GetDimName(0), "") << path;
        EXPECT_TRUE(series.GetSlice(V({1})).IsEmpty() && series.GetSlice(Vector()).IsEmpty()) << path;
    }
    WritePlane(dir.File("r_a1_b2.tif"), 1);
    WritePlane(dir.File("q5.tif"), 1, 16, 4, 4);
    Series series(dir.File("r_a1_b2.tif"));
    EXPECT_EQ(series.GetSize().size(), 4u);
    series.Open(dir.File("q5.tif"));
    EXPECT_EQ(series.GetSize(), V({4, 4, 6}));
    EXPECT_EQ(series.GetDimName(2), "q");
}
