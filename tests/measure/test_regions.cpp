// Pixel membership, and regions through every file form and back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "GeoJson.h"
#include "MeasureTestUtil.h"
#include "ImageJRoi.h"
#include "RegionFiles.h"
#include "RegionMask.h"

using namespace Measure;
using measuretest::InsidePolygon;
using measuretest::Make;

namespace {

// One region of every kind, with fractional, negative and whole coordinates.
std::vector<Region> EveryKind()
{
    std::vector<Region> regions = {
        Make(RegionKind::Point, {{5.5, 7.5}}, "spot"),
        Make(RegionKind::Point, {{1.5, 2.5}, {10.25, 3.75}, {4.5, 4.5}}, "spots"),
        Make(RegionKind::Line, {{3.75, 8}, {41.25, 30.75}}, "membrane"),
        Make(RegionKind::Polyline, {{2.5, 2.5}, {30.5, 2.5}, {30.5, 20.5}}, "bent"),
        Make(RegionKind::Rectangle, {{-5, -3}, {7, 7}}, "corner"),
        Make(RegionKind::Rectangle, {{2.25, 3.5}, {12.75, 11}}, "sub"),
        Make(RegionKind::Ellipse, {{3, 4}, {14, 13}}, "nucleus \xc3\xa9\xf0\x9f\x94\xac"),
        Make(RegionKind::Polygon, {{3, 3}, {20, 5}, {10, 18}}, "tri"),
        Make(RegionKind::Freehand, {{1.25, 2.5}, {30.75, 1}, {25.5, 40.75}, {4, 30.25}}, "drawn"),
    };
    regions[4].SetPosition(3, 2);
    regions[6].SetPosition(2, 1);
    regions[6].SetPosition(4, 0);
    return regions;
}

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("lumora-measure-" + std::to_string(getpid()) + "-" + name)).string();
}

} // namespace

TEST(RegionMask, PolygonsAndEllipsesTakeThePixelsWhoseCentresAreInside)
{
    const int w = 60, h = 50;
    const std::vector<std::vector<PointF>> polygons = {
        {{3.3, 3.7}, {20.2, 5.9}, {10.5, 18.1}},
        // A self-crossing star: the middle is outside by the even-odd rule.
        {{30.1, 2.2}, {36.3, 40.6}, {42.2, 2.1}, {26.05, 26.3}, {46.2, 26.15}},
        // Partly off every side.
        {{-10.3, -5.2}, {70.6, 8.1}, {55.2, 65.7}, {-4.3, 44.1}},
        // Concave, with a vertical edge.
        {{5.5, 5.2}, {5.5, 40.7}, {30.2, 40.3}, {15.1, 22.6}, {30.3, 5.1}},
    };
    for (const auto& poly : polygons) {
        const RegionMask mask(Make(RegionKind::Polygon, poly), w, h);
        size_t count = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool in = InsidePolygon(poly, x + 0.5, y + 0.5);
                count += in;
                ASSERT_EQ(mask.Contains(x, y), in) << x << "," << y;
            }
        EXPECT_EQ(mask.PixelCount(), count);
        for (const Span& s : mask.Spans()) {
            EXPECT_TRUE(s.y >= 0 && s.y < h && s.x0 >= 0 && s.x0 < s.x1 && s.x1 <= w);
        }
    }
    const RegionMask ellipse(Make(RegionKind::Ellipse, {{2.6, 3.25}, {50.2, 61.75}}), w, h);
    size_t count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = (x + 0.5 - 26.4) / 23.8, dy = (y + 0.5 - 32.5) / 29.25;
            const bool in = dx * dx + dy * dy < 1;
            count += in;
            ASSERT_EQ(ellipse.Contains(x, y), in) << x << "," << y;
        }
    EXPECT_EQ(ellipse.PixelCount(), count);

    // A whole-pixel rectangle is exactly its pixels; points take the pixel they fall in.
    EXPECT_EQ(RegionMask(Make(RegionKind::Rectangle, {{3, 4}, {13, 11}}), w, h).PixelCount(), 70u);
    EXPECT_EQ(RegionMask(Make(RegionKind::Rectangle, {{13, 11}, {3, 4}}), w, h).PixelCount(), 70u);
    const RegionMask points(Make(RegionKind::Point, {{5.9, 7.1}, {5.2, 7.8}, {-1, 3}, {59.5, 49.5}}), w, h);
    EXPECT_EQ(points.PixelCount(), 2u);
    EXPECT_TRUE(points.Contains(5, 7));
    EXPECT_TRUE(points.Contains(59, 49));
    // Far outside, huge or degenerate: nothing, and no overflow.
    EXPECT_TRUE(RegionMask(Make(RegionKind::Polygon, {{1e12, 1}, {2e12, 1}, {1e12, 30}}), w, h).IsEmpty());
    EXPECT_EQ(RegionMask(Make(RegionKind::Rectangle, {{-1e15, -1e15}, {1e15, 1e15}}), w, h).PixelCount(), size_t(w * h));
    EXPECT_TRUE(RegionMask(Make(RegionKind::Ellipse, {{4, 4}, {4, 20}}), w, h).IsEmpty());
    EXPECT_TRUE(RegionMask(Make(RegionKind::Polygon, {{NAN, 1}, {20, 1}, {10, 30}}), w, h).IsEmpty());
}

TEST(RegionFormats, ViewStateJsonKeepsEveryField)
{
    const std::vector<Region> regions = EveryKind();
    const nlohmann::json saved = nlohmann::json::parse(RegionsToJson(regions).dump());
    EXPECT_EQ(saved[4]["position"], nlohmann::json::parse(R"(["all", 2])"));
    EXPECT_EQ(saved[0]["color"], "#ffffff00");
    std::string error;
    const auto back = RegionsFromJson(saved, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, regions);

    for (const char* bad : {R"([{"kind":"line","points":[[1,2]]}])", R"([{"kind":"blob","points":[[1,2]]}])",
                            R"([{"kind":"point","points":[[1,"x"]]}])",
                            R"([{"kind":"point","points":[[1,2]],"position":[-3]}])", R"({"kind":"point"})"}) {
        EXPECT_FALSE(RegionsFromJson(nlohmann::json::parse(bad), &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(ColorFromString("#12ab34"), 0xff12ab34u);
    EXPECT_FALSE(ColorFromString("#12ab3"));
    EXPECT_FALSE(ColorFromString("#12ab3g"));
}

TEST(RegionFormats, ImageJRecordsRoundTrip)
{
    const ImageJAxes axes = ImageJAxes::FromNames({"x", "y", "c", "z", "t"});
    for (const Region& r : EveryKind()) {
        SCOPED_TRACE(r.name);
        const std::vector<std::uint8_t> bytes = EncodeImageJRoi(r, axes);
        ASSERT_GE(bytes.size(), 128u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "Iout");
        std::string error;
        const auto back = DecodeImageJRoi(bytes.data(), bytes.size(), axes, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(*back, r);
        // Every shorter prefix is refused or read, never read past.
        for (size_t n = 0; n < bytes.size(); n += 7)
            DecodeImageJRoi(bytes.data(), n, axes);
    }
    // More points than the record's 16-bit count holds.
    Region big = Make(RegionKind::Freehand, {});
    for (int i = 0; i < 70000; ++i)
        big.points.push_back({100 + 50 * std::cos(i * 1e-4), 100 + 50 * std::sin(i * 1e-4)});
    const std::vector<std::uint8_t> bytes = EncodeImageJRoi(big, axes);
    const auto back = DecodeImageJRoi(bytes.data(), bytes.size(), axes);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->points.size(), big.points.size());
    // Kept as 32-bit floats.
    EXPECT_NEAR(back->points[12345].x, big.points[12345].x, 1e-4);
}

TEST(RegionFormats, RoiSetsRoundTripWithUniqueEntryNames)
{
    std::vector<Region> regions = EveryKind();
    regions.push_back(Make(RegionKind::Point, {{1, 1}}, "spot"));   // same name again
    regions.push_back(Make(RegionKind::Point, {{2, 2}}, "a/b"));    // no folders in the archive
    regions.push_back(Make(RegionKind::Point, {{3, 3}}));           // unnamed
    const ImageJAxes axes = ImageJAxes::FromNames({"x", "y", "ch", "z", "time"});
    const std::string path = TempPath("set.zip");
    std::string error;
    ASSERT_TRUE(WriteRegions(path, regions, axes, &error)) << error;
    const auto back = ReadRegions(path, axes, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), regions.size());
    for (size_t i = 0; i + 1 < regions.size(); ++i)
        EXPECT_EQ((*back)[i], regions[i]) << i;
    // An unnamed selection takes its entry's name, as in ImageJ's manager.
    EXPECT_EQ(back->back().name, "0012");

    // A damaged entry fails the set; a file that is no archive fails too.
    std::ofstream(path, std::ios::binary) << "PK\x03\x04 not really";
    EXPECT_FALSE(ReadRegions(path, axes, &error));
    std::remove(path.c_str());
    EXPECT_FALSE(ReadRegions(TempPath("none.zip"), axes, &error));
    EXPECT_FALSE(WriteRegions(TempPath("two.roi"), regions, axes, &error));
}

TEST(RegionFormats, GeoJsonRoundTripsAndReadsOtherPrograms)
{
    const std::vector<Region> regions = EveryKind();
    std::string error;
    const std::string text = RegionsToGeoJson(regions);
    const auto back = RegionsFromGeoJson(text, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), regions.size());
    for (size_t i = 0; i < regions.size(); ++i) {
        EXPECT_EQ((*back)[i].kind, regions[i].kind);
        EXPECT_EQ((*back)[i].name, regions[i].name);
        EXPECT_EQ((*back)[i].position, regions[i].position);
        ASSERT_EQ((*back)[i].points.size(), regions[i].points.size());
        for (size_t k = 0; k < regions[i].points.size(); ++k) {
            // The ellipse's box comes back from its outline's extreme points.
            EXPECT_NEAR((*back)[i].points[k].x, regions[i].points[k].x, 1e-12);
            EXPECT_NEAR((*back)[i].points[k].y, regions[i].points[k].y, 1e-12);
        }
    }
    const nlohmann::json doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["type"], "FeatureCollection");
    EXPECT_EQ(doc["features"][7]["geometry"]["type"], "Polygon");
    EXPECT_EQ(doc["features"][7]["geometry"]["coordinates"][0].size(), 4u); // closed ring

    // As another program writes it: no kind, colour as RGB, holes, parts, empty features.
    const auto other = RegionsFromGeoJson(R"({"type":"FeatureCollection","features":[
        {"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,0]],[[2,1],[3,1],[3,2],[2,1]]]},
         "properties":{"name":"cell","color":[255,0,128]}},
        {"type":"Feature","geometry":null,"properties":{}},
        {"type":"Feature","geometry":{"type":"MultiPolygon","coordinates":[[[[0,0],[1,0],[1,1]]],[[[5,5],[6,5],[6,6]]]]}},
        {"type":"Feature","geometry":{"type":"LineString","coordinates":[[1,1],[4,5]]}}]})",
                                          &error);
    ASSERT_TRUE(other) << error;
    ASSERT_EQ(other->size(), 4u);
    EXPECT_EQ((*other)[0].kind, RegionKind::Polygon);
    EXPECT_EQ((*other)[0].points.size(), 3u);
    EXPECT_EQ((*other)[0].color, 0xffff0080u);
    EXPECT_EQ((*other)[2].points[0], (PointF{5, 5}));
    EXPECT_EQ((*other)[3].kind, RegionKind::Line);

    for (const char* bad : {"", "[1,2]", R"({"type":"Polygon","coordinates":[[[0,0],[1,0]]]})",
                            R"({"type":"Point","coordinates":[1]})", R"({"type":"Circle","coordinates":[1,2]})",
                            R"({"type":"FeatureCollection","features":{}})"})
        EXPECT_FALSE(RegionsFromGeoJson(bad, &error)) << bad;
}
