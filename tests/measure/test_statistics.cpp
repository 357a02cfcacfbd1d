// Statistics against sums the tests work out pixel by pixel from the image they made.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "MeasureFile.h"
#include "Measurements.h"
#include "MeasureTestUtil.h"
#include "MemoryImage.h"
#include "StopToken.h"
#include "TiffWriter.h"

using namespace Measure;
using measuretest::InsidePolygon;
using measuretest::Make;

namespace {

struct Expected
{
    double n = 0, sum = 0, squares = 0, min = INFINITY, max = -INFINITY, sx = 0, sy = 0;
    void Add(double v, int x, int y)
    {
        ++n;
        sum += v;
        squares += v * v;
        min = std::min(min, v);
        max = std::max(max, v);
        sx += x + 0.5;
        sy += y + 0.5;
    }
    double Mean() const { return sum / n; }
    double StdDev() const { return std::sqrt((squares - sum * sum / n) / (n - 1)); }
};

Expected Over(int w, int h, const std::function<bool(double, double)>& inside, const std::function<double(int, int)>& value)
{
    Expected e;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (inside(x + 0.5, y + 0.5))
                e.Add(value(x, y), x, y);
    return e;
}

ImageDescription Describe(std::vector<std::string> names, std::vector<double> sizes, int channelDim = -1)
{
    ImageDescription d;
    d.dimNames = std::move(names);
    d.pixelSizes = std::move(sizes);
    d.channelDim = channelDim;
    return d;
}

} // namespace

TEST(Statistics, AreasMatchPixelSumsWithAnisotropicPixels)
{
    const int w = 90, h = 70;
    MemoryImage image({w, h});
    const auto value = [](int x, int y) { return (x * 37 + y * y * 11) % 4001; };
    image.Fill([&](const std::vector<int>& c) { return value(c[0], c[1]); });
    const double pw = 0.25, ph = 1.5; // µm

    const std::vector<PointF> poly = {{3.2, 4.7}, {80.1, 10.3}, {60.6, 66.2}, {40.4, 20.9}, {12.8, 50.05}};
    // Partly outside on the left and bottom.
    const Region rect = Make(RegionKind::Rectangle, {{-7, 40}, {20, 95}});
    const Region ellipse = Make(RegionKind::Ellipse, {{10.3, 5.1}, {71.9, 44.6}});
    const Region polygon = Make(RegionKind::Polygon, poly);
    const MeasureTable t = MeasureImage(image, Describe({"x", "y"}, {250, 1500}), {rect, ellipse, polygon}, {});
    ASSERT_EQ(t.rows.size(), 3u);

    const Expected expected[] = {
        Over(w, h, [](double x, double y) { return x >= -7 && x < 20 && y >= 40 && y < 95; }, value),
        Over(w, h,
             [](double x, double y) {
                 const double dx = (x - 41.1) / 30.8, dy = (y - 24.85) / 19.75;
                 return dx * dx + dy * dy < 1;
             },
             value),
        Over(w, h, [&](double x, double y) { return InsidePolygon(poly, x, y); }, value),
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Statistics& s = t.rows[i].stats;
        const Expected& e = expected[i];
        ASSERT_GT(e.n, 100);
        EXPECT_EQ(s.count, e.n);
        EXPECT_NEAR(s.area, e.n * pw * ph, 1e-9);
        EXPECT_NEAR(s.mean, e.Mean(), 1e-9);
        EXPECT_NEAR(s.stdDev, e.StdDev(), 1e-9);
        EXPECT_EQ(s.min, e.min);
        EXPECT_EQ(s.max, e.max);
        EXPECT_NEAR(s.rawIntDen, e.sum, 1e-6);
        EXPECT_NEAR(s.intDen, e.n * pw * ph * e.Mean(), 1e-6);
        EXPECT_NEAR(s.x, e.sx / e.n * pw, 1e-9);
        EXPECT_NEAR(s.y, e.sy / e.n * ph, 1e-9);
    }
    // The clipped rectangle is boxed by what lies inside: x 0..19, y 40..69.
    const Statistics& r = t.rows[0].stats;
    EXPECT_DOUBLE_EQ(r.bx, 0);
    EXPECT_DOUBLE_EQ(r.by, 40 * ph);
    EXPECT_DOUBLE_EQ(r.width, 20 * pw);
    EXPECT_DOUBLE_EQ(r.height, 30 * ph);

    // Wholly outside: nothing measured, area 0, no intensities.
    const MeasureTable out = MeasureImage(image, Describe({"x", "y"}, {250, 1500}),
                                          {Make(RegionKind::Polygon, {{100, 1}, {120, 1}, {110, 30}})}, {});
    ASSERT_EQ(out.rows.size(), 1u);
    EXPECT_EQ(out.rows[0].stats.area, 0);
    EXPECT_TRUE(std::isnan(out.rows[0].stats.mean));
}

TEST(Statistics, LinesGiveLengthAngleAndProfileInCalibratedUnits)
{
    MemoryImage image({50, 20});
    image.Fill([](const std::vector<int>& c) { return 3 * c[0] + 1000 * c[1]; });
    MeasureOptions o;
    o.profiles = true;
    // Along the centres of row 4, from pixel 2 to pixel 12: 11 samples at whole pixels.
    const Region row = Make(RegionKind::Line, {{2.5, 4.5}, {12.5, 4.5}});
    const Region diagonal = Make(RegionKind::Line, {{0.5, 0.5}, {30.5, 10.5}});
    const Region bent = Make(RegionKind::Polyline, {{1.5, 1.5}, {5.5, 1.5}, {5.5, 4.5}});
    const MeasureTable t = MeasureImage(image, Describe({"x", "y"}, {100, 300}), {row, diagonal, bent}, o);
    ASSERT_EQ(t.rows.size(), 3u);

    const MeasureRow& a = t.rows[0];
    ASSERT_EQ(a.profile.value.size(), 11u);
    for (int i = 0; i <= 10; ++i) {
        EXPECT_DOUBLE_EQ(a.profile.value[static_cast<size_t>(i)], 3 * (2 + i) + 4000);
        EXPECT_NEAR(a.profile.distance[static_cast<size_t>(i)], i * 0.1, 1e-12);
    }
    EXPECT_NEAR(a.stats.mean, 3 * 7 + 4000, 1e-9);
    EXPECT_NEAR(a.stats.length, 1.0, 1e-12);
    EXPECT_NEAR(a.stats.angle, 0.0, 1e-12);

    // 30 x 10 pixels of 0.1 x 0.3 µm: 3 µm each way, so 45 degrees up-right (y grows down).
    const Statistics& d = t.rows[1].stats;
    EXPECT_NEAR(d.length, std::hypot(3.0, 3.0), 1e-12);
    EXPECT_NEAR(d.angle, -45.0, 1e-9);
    // The image is linear in x and y, so interpolated samples along the line average to
    // the value at its midpoint (15.5, 5.5) less the half-pixel centre offset.
    EXPECT_NEAR(d.mean, 3 * 15 + 1000 * 5, 1e-6);
    EXPECT_EQ(d.count, 33u); // round(31.6) + 1

    // A polyline samples each segment without its end: 4 + 3 samples.
    const MeasureRow& b = t.rows[2];
    EXPECT_EQ(b.stats.count, 7u);
    EXPECT_NEAR(b.stats.length, 4 * 0.1 + 3 * 0.3, 1e-12);
    EXPECT_TRUE(std::isnan(b.stats.angle));
    const std::vector<double> values = {1003, 1006, 1009, 1012, 1015, 2015, 3015};
    EXPECT_EQ(b.profile.value, values);

    // Ends far outside (a damaged file): a bounded number of samples.
    const Region far = Make(RegionKind::Polyline, {{-3e38, 1}, {3e38, 2}, {-3e38, 3}});
    const MeasureTable f = MeasureImage(image, Describe({"x", "y"}, {}), {far}, o);
    ASSERT_EQ(f.rows.size(), 1u);
    EXPECT_LE(f.rows[0].profile.value.size(), size_t(1) << 21);
}

TEST(Statistics, ThroughPlanesReadsEachPlaneOnceAndReportsMissingOnes)
{
    // x, y, z, c, t = 16 x 12 x 4 x 2 x 3; the plane z 2, c 1, t 0 cannot be read.
    MemoryImage image({16, 12, 4, 2, 3});
    image.Fill([](const std::vector<int>& c) { return c[0] + c[1] + 100 * c[2] + 1000 * c[3] + 10000 * c[4]; });
    image.failing.insert(2 + 4 * 1);
    const ImageDescription d = Describe({"x", "y", "z", "c", "t"}, {0, 0, 0, 0, 0}, 3);

    Region a = Make(RegionKind::Rectangle, {{0, 0}, {4, 4}}, "a");
    Region b = Make(RegionKind::Rectangle, {{2, 2}, {3, 3}}, "b");
    b.SetPosition(4, 2); // t 2 only
    Region outside = Make(RegionKind::Rectangle, {{0, 0}, {1, 1}}, "no such t");
    outside.SetPosition(4, 7);
    MeasureOptions o;
    o.through = {2};  // every z
    o.cursor = {0, 0, 1}; // t 1 where a region does not say
    const MeasureTable t = MeasureImage(image, d, {a, b, outside}, o);

    EXPECT_EQ(t.skippedRegions, 1u);
    // a: 4 z x 2 c at t 1; b: 4 z x 2 c at t 2; 16 planes, each read once.
    ASSERT_EQ(t.rows.size(), 16u);
    EXPECT_EQ(image.reads, 16);
    EXPECT_EQ(t.unit, "pixel");
    EXPECT_EQ(t.missingPlanes, 0u); // the failing plane is at t 0, which nobody measures here
    for (size_t i = 0; i < 8; ++i) {
        const MeasureRow& r = t.rows[i];
        const int z = static_cast<int>(i / 2), c = static_cast<int>(i % 2); // channel fastest
        EXPECT_EQ(r.label, "a");
        EXPECT_EQ(r.position, (std::vector<int>{z, c, 1}));
        // Mean of x + y over 0..3 x 0..3 is 3.
        EXPECT_DOUBLE_EQ(r.stats.mean, 3 + 100 * z + 1000 * c + 10000);
        EXPECT_EQ(r.stats.area, 16);
    }
    EXPECT_EQ(t.rows[8].position, (std::vector<int>{0, 0, 2}));
    EXPECT_DOUBLE_EQ(t.rows[8].stats.mean, 4 + 20000);

    // At t 0 the plane z 2, c 1 is missing: its row keeps the geometry and says so.
    o.cursor = {0, 0, 0};
    image.reads = 0;
    const MeasureTable m = MeasureImage(image, d, {a}, o);
    ASSERT_EQ(m.rows.size(), 8u);
    EXPECT_EQ(m.missingPlanes, 1u);
    const MeasureRow& gap = m.rows[5];
    EXPECT_EQ(gap.position, (std::vector<int>{2, 1, 0}));
    EXPECT_TRUE(gap.missing);
    EXPECT_TRUE(std::isnan(gap.stats.mean));
    EXPECT_EQ(gap.stats.area, 16);
    EXPECT_FALSE(m.rows[4].missing);
    const std::string csv = TableToCsv(m);
    EXPECT_NE(csv.find(",Note\n"), std::string::npos);
    EXPECT_NE(csv.find("missing plane"), std::string::npos);
}

namespace {

// Asks the running measurement to stop once it has read `after` planes.
class StoppingImage : public MemoryImage
{
public:
    StoppingImage(std::vector<int> size, ImageReader::StopToken& token, int after)
        : MemoryImage(std::move(size)), m_token(token), m_after(after)
    {
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        if (reads + 1 >= m_after)
            m_token.RequestStop();
        return MemoryImage::GetSlice(position);
    }

private:
    ImageReader::StopToken& m_token;
    int m_after;
};

} // namespace

TEST(Statistics, StopsBetweenPlanesWhenAsked)
{
    ImageReader::StopToken token;
    StoppingImage image({8, 8, 100}, token, 3);
    const ImageReader::StopScope scope(&token);
    MeasureOptions o;
    o.through = {2};
    const MeasureTable t = MeasureImage(image, Describe({"x", "y", "z"}, {}), {Make(RegionKind::Rectangle, {{0, 0}, {8, 8}})}, o);
    EXPECT_TRUE(t.cancelled);
    EXPECT_EQ(image.reads, 3);
    EXPECT_EQ(t.rows.size(), 3u);
}

TEST(Statistics, FloatAndSignedFilesMeasureInTheirOwnValues)
{
    tifftest::Folder folder;
    const int w = 40, h = 30;
    // Polygon partly outside the image on the right.
    const std::vector<PointF> poly = {{5.5, 3.2}, {52.0, 12.7}, {20.3, 28.9}};
    const auto inside = [&](double x, double y) { return InsidePolygon(poly, x, y); };
    struct Case
    {
        const char* name;
        std::uint16_t bits, format;
        std::function<double(int, int)> value;
        double tolerance; // float values are measured through 65536 display steps
    };
    const Case cases[] = {
        {"int16", 16, SAMPLEFORMAT_INT, [](int x, int y) { return x * 50.0 - y * 700.0; }, 1e-9},
        {"float32", 32, SAMPLEFORMAT_IEEEFP, [](int x, int y) { return std::sin(x * 0.3) * 1e3 + y * 0.125; }, 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File(std::string(c.name) + ".tif");
        tifftest::Page page;
        page.width = w;
        page.height = h;
        page.bits = c.bits;
        page.format = c.format;
        page.xres = 5;  // pixels per µm: 0.2 µm
        page.yres = 2;  // 0.5 µm
        page.resolutionUnit = RESUNIT_NONE;
        page.description = "ImageJ=1.53t\nunit=micron\n";
        tifftest::Write(path, page, 1, [&](int, int, int x, int y) { return c.value(x, y); });
        const std::string regions = folder.File("rois.geojson");
        {
            Region r = Make(RegionKind::Polygon, poly, "tri");
            std::ofstream(regions) << "{\"type\":\"Feature\",\"properties\":{\"name\":\"tri\"},"
                                      "\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[[5.5,3.2],[52.0,12.7],"
                                      "[20.3,28.9],[5.5,3.2]]]}}";
        }
        std::string error;
        const auto table = MeasureFile(path, regions, folder.File("out.csv"), MeasureRequest{}, &error);
        ASSERT_TRUE(table) << error;
        ASSERT_EQ(table->rows.size(), 1u);
        const Statistics& s = table->rows[0].stats;
        const Expected e = Over(w, h, inside, c.value);
        EXPECT_EQ(s.count, e.n);
        EXPECT_NEAR(s.area, e.n * 0.1, 1e-9);
        EXPECT_NEAR(s.mean, e.Mean(), c.tolerance);
        EXPECT_NEAR(s.stdDev, e.StdDev(), c.tolerance);
        EXPECT_NEAR(s.min, e.min, c.tolerance);
        EXPECT_NEAR(s.max, e.max, c.tolerance);
        EXPECT_NEAR(s.rawIntDen, e.sum, c.tolerance * e.n);
        std::ifstream in(folder.File("out.csv"));
        std::string header;
        std::getline(in, header);
        EXPECT_EQ(header, " ,Label,Area,Mean,StdDev,Min,Max,X,Y,BX,BY,Width,Height,IntDen,RawIntDen,Length,Angle");
    }
}

TEST(Tables, CsvQuotesAndTabsForTheClipboard)
{
    MemoryImage image({4, 4, 2});
    image.Fill([](const std::vector<int>& c) { return 1 + c[2]; });
    MeasureOptions o;
    o.through = {2};
    const MeasureTable t = MeasureImage(image, Describe({"x", "y", "z"}, {1000, 1000}),
                                        {Make(RegionKind::Rectangle, {{0, 0}, {2, 1}}, "cell, \"one\"")}, o);
    EXPECT_EQ(TableToCsv(t),
              " ,Label,Slice,Area,Mean,StdDev,Min,Max,X,Y,BX,BY,Width,Height,IntDen,RawIntDen,Length,Angle\n"
              "1,\"cell, \"\"one\"\"\",1,2,1,0,1,1,1,0.5,0,0,2,1,2,2,,\n"
              "2,\"cell, \"\"one\"\"\",2,2,2,0,2,2,1,0.5,0,0,2,1,4,4,,\n");
    const std::string tsv = TableToTsv(t);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n')),
              " \tLabel\tSlice\tArea\tMean\tStdDev\tMin\tMax\tX\tY\tBX\tBY\tWidth\tHeight\tIntDen\tRawIntDen\tLength\tAngle");
    EXPECT_NE(tsv.find("\tcell, \"one\"\t2\t"), std::string::npos);
    // A line's profile, one line per sample with its distance in µm.
    MeasureOptions p;
    p.profiles = true;
    p.cursor = {1};
    const MeasureTable line = MeasureImage(image, Describe({"x", "y", "z"}, {500, 500}),
                                           {Make(RegionKind::Line, {{0.5, 0.5}, {2.5, 0.5}}, "l")}, p);
    EXPECT_EQ(ProfilesToCsv(line), "Label,Slice,Distance,Value\nl,2,0,2\nl,2,0.5,2\nl,2,1,2\n");
    EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatNumber(-0.0), "0");
}
