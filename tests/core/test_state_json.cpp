// View states as files and command lines: round trips, physical units, refusals, and the
// same pictures from a state written and read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "CellsImage.h"
#include "RenderRequest.h"
#include "StateJson.h"
#include "ViewRender.h"
#include "Viewer.h"

using namespace ImageViewer;

namespace {

ImageDescription describe(Viewer& v)
{
    return ImageDescription{v.Size(), v.Session().DimensionNames(), v.PixelSizes()};
}

} // namespace

TEST(StateJson, RoundTripsEveryField)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    ViewState s = v.State();
    s.axes = ViewAxes{2, 1, 0, 0};
    s.cursor = V({3, 4, 5, 1});
    s.projection = ProjectionMode::Max;
    s.projected = {false, false, true, false};
    s.zoom = 2.5;
    s.pan = V({-7, 12});
    s.fitted = true;
    s.scaleBar = true;
    s.colourBar = true;
    s.spectrum = SpectrumCalibration{1, 400.5, 9, 700.25};
    s.measure = MeasureState{2, V({1, 2, 5, 1}), V({8, 9, 5, 1})};
    DisplayState d = v.Display();
    d.channels[1] = ChannelDisplay{"membranes", 0, 200, 17, 30, 4000, -3, false, false, "Fire", {}};
    d.channels[0].lut = "File's table";
    d.channels[0].lutColours.assign(768, 7);
    d.channels[0].lutColours[767] = 250;
    d.selected = 1;
    const std::string text = StateToJson(s, d, describe(v));

    ViewState s2 = v.State();
    DisplayState d2;
    ASSERT_EQ(StateFromJson(text, describe(v), s2, d2), "");
    EXPECT_EQ(s2, s);
    ASSERT_GE(d2.channels.size(), 2u);
    EXPECT_EQ(d2.channels[1], d.channels[1]);
    EXPECT_EQ(d2.channels[0], d.channels[0]);
    EXPECT_EQ(d2.selected, 1);
    // Dimensions are written by name, positions also in nm where the size is known.
    EXPECT_NE(text.find("\"xz\": \"x\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"z\": 1500.0"), std::string::npos) << text; // 5 x 300 nm
    EXPECT_NE(text.find("\"nmPerScreenPixel\": 40.0"), std::string::npos) << text; // 100 nm / 2.5
}

TEST(StateJson, PhysicalPositionsAndPartialFiles)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    ViewState s = v.State();
    DisplayState d = v.Display();
    // Only the nm position and the physical zoom: z = 900 nm is index 3; 50 nm per screen
    // pixel is zoom 2 for 100 nm pixels. Everything else stays.
    ASSERT_EQ(StateFromJson(R"({"view": {"cursorNm": {"z": 900}, "nmPerScreenPixel": 50}})", describe(v), s, d), "");
    EXPECT_EQ(s.cursor[2], 3);
    EXPECT_DOUBLE_EQ(s.zoom, 2.0);
    EXPECT_EQ(s.axes.x, v.State().axes.x);
    // A channel written before lookup tables keeps the one it has.
    d.channels[0].lut = "HiLo";
    ASSERT_EQ(StateFromJson(R"({"display": {"channels": [{"min": 10, "max": 20}]}})", describe(v), s, d), "");
    EXPECT_EQ(d.channels[0].lut, "HiLo");
    EXPECT_EQ(d.channels[0].max, 20);
}

TEST(StateJson, RefusesWhatDoesNotFitTheImage)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    const ViewState before = v.State();
    const DisplayState dbefore = v.Display();
    const char* bad[] = {
        "not json",
        R"({"format": "something else"})",
        R"({"view": {"cursor": {"z": 6}}})",          // z runs 0..5
        R"({"view": {"cursor": {"q": 1}}})",          // no such dimension
        R"({"view": {"axes": {"x": "t"}}})",
        R"({"view": {"zoom": -1}})",
        R"({"view": {"projection": "mean"}})",
        R"({"view": {"pan": [1]}})",
        R"({"display": {"channels": [{"color": "green"}]}})",
        R"({"display": {"channels": [{"min": -4}]}})",
        R"({"display": {"channels": [{"lut": "Rainbow"}]}})",
        R"({"display": {"channels": [{"lutColours": [1, 2, 3]}]}})",
        R"({"view": {"cursor": {"z": "three"}}})",
    };
    for (const char* text : bad) {
        ViewState s = before;
        DisplayState d = dbefore;
        EXPECT_NE(StateFromJson(text, describe(v), s, d), "") << text;
        EXPECT_EQ(s, before) << text;
        EXPECT_EQ(d, dbefore) << text;
    }
}

TEST(StateJson, ASavedStateRendersTheSamePicture)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "lumora_state_test.json";
    std::vector<unsigned char> first;
    {
        Viewer v;
        ASSERT_EQ(v.Open(Cells()), "");
        ViewState s = v.State();
        s.cursor = V({3, 4, 2, 0});
        s.projection = ProjectionMode::Max;
        s.projected = {false, false, true, false};
        DisplayState d = v.Display();
        const ViewPicture p = RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewAll);
        ASSERT_FALSE(p.IsNull());
        first.assign(p.pixels.get(), p.pixels.get() + 4 * p.width * p.height);
        ASSERT_EQ(SaveStateFile(file.string(), s, d, describe(v)), "");
    }
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    ViewState s = v.State();
    DisplayState d = v.Display();
    ASSERT_EQ(LoadStateFile(file.string(), describe(v), s, d), "");
    const ViewPicture p = RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewAll);
    ASSERT_EQ(first.size(), static_cast<size_t>(4 * p.width * p.height));
    EXPECT_EQ(std::memcmp(first.data(), p.pixels.get(), first.size()), 0);
    std::filesystem::remove(file);
}

TEST(RenderRequest, ParsesTheCommandLine)
{
    RenderRequest r;
    OptionTable table;
    AddRenderOptions(table, r);
    std::vector<std::string> positional;
    ASSERT_EQ(table.Parse({"in.ics", "-o", "out.png", "--view", "all", "--axes", "x,z", "--cursor", "z=12,t=3",
                           "--project", "z", "--channel", "1:green:100-4000", "--channel", "0:#ff8000",
                           "--level", "2", "--size", "640", "480"},
                          positional),
              "");
    EXPECT_EQ(positional, std::vector<std::string>{"in.ics"});
    EXPECT_EQ(r.output, "out.png");
    EXPECT_EQ(r.views, ViewAll);
    EXPECT_EQ(r.axes, (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(r.cursor, (std::vector<std::pair<std::string, int>>{{"z", 12}, {"t", 3}}));
    ASSERT_EQ(r.channels.size(), 2u);
    EXPECT_EQ(r.channels[0].index, 1);
    EXPECT_EQ(r.channels[0].g, 255);
    EXPECT_EQ(r.channels[0].r, 0);
    EXPECT_DOUBLE_EQ(r.channels[0].lo, 100);
    EXPECT_DOUBLE_EQ(r.channels[0].hi, 4000);
    EXPECT_EQ(r.channels[1].r, 255);
    EXPECT_EQ(r.channels[1].g, 128);
    EXPECT_FALSE(r.channels[1].hasRange);
    EXPECT_EQ(r.level, 2);
    EXPECT_EQ(r.width, 640);

    const std::vector<std::string> wrong[] = {
        {"--view", "xw"}, {"--cursor", "z12"}, {"--channel", "1:mauve"}, {"--channel", "1:red:9-3"},
        {"--size", "640"}, {"--level", "-1"}, {"--frobnicate"}, {"--size", "0", "10"}};
    for (const auto& args : wrong) {
        RenderRequest q;
        OptionTable t;
        AddRenderOptions(t, q);
        std::vector<std::string> rest;
        EXPECT_NE(t.Parse(args, rest), "") << args[0];
    }
}

TEST(RenderRequest, AppliesOverTheState)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    RenderRequest r;
    r.axes = {"x", "z"};
    r.cursor = {{"y", 2}};
    r.project = {"z"};
    ChannelRequest c;
    c.index = 1;
    c.hasRange = true;
    c.lo = 100;
    c.hi = 800;
    r.channels = {c};
    ViewState s = v.State();
    DisplayState d = v.Display();
    ASSERT_EQ(ApplyRenderRequest(r, describe(v), ImageReader::ValueMap(), s, d), "");
    EXPECT_EQ(s.axes.x, 0);
    EXPECT_EQ(s.axes.y, 2);
    EXPECT_EQ(s.cursor[1], 2);
    EXPECT_TRUE(s.IsProjected(2));
    EXPECT_FALSE(d.channels[0].enabled); // only the listed channels are shown
    EXPECT_TRUE(d.channels[1].enabled);
    EXPECT_EQ(d.channels[1].min, 100);
    EXPECT_EQ(d.channels[1].max, 800);
    EXPECT_FALSE(d.channels[1].autoscaling);

    r = RenderRequest();
    r.cursor = {{"z", 6}};
    const ViewState before = s;
    EXPECT_NE(ApplyRenderRequest(r, describe(v), ImageReader::ValueMap(), s, d), "");
    EXPECT_EQ(s, before);
}
