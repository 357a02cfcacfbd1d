// The viewer's rules without a window: what a new image shows, which views a change
// recomputes, fitting to a table, channel seeding and autoscaling, colouring and spectra.
// Every expected value comes from the image's formula or the file's documented contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "OpenImage.h"
#include "ViewerTestKit.h"

using namespace ViewerTestKit;

namespace {

const FormulaImage::Formula Zero = [](const std::vector<int>&) -> unsigned short { return 0; };

std::string Data(const char* name)
{
    return std::string(LUMORA_TESTDATA) + "/" + name;
}

std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> OpenFile(const char* name)
{
    ImageReader::OpenedImage opened = ImageReader::OpenImage(Data(name));
    EXPECT_TRUE(opened.reader) << name << ": " << opened.error;
    return std::move(opened.reader);
}

std::array<int, 3> Colour(const ChannelDisplay& c)
{
    return {c.r, c.g, c.b};
}

} // namespace

TEST(ViewerRules, InitialAxesChannelAndCursor)
{
    // The depth is the last dimension named z; the channel the last named w, c or lambda
    // (an empty name matches nothing); without a depth, dimension 2.
    struct Case { std::vector<std::string> names; int depth, channel; } cases[] = {
        {{"x", "y", "z", "ch"}, 2, 3}, {{"x", "y", "t"}, 2, -1},     {{"x", "y"}, -1, -1},
        {{"x", "y", "Z", "z"}, 3, -1}, {{"x", "y", "W", "c"}, 2, 3}, {{"x", "y", "W", "t"}, 2, 2},
        {{"x", "y", "", "C"}, 2, 3},   {{"x", "y", "Lambda", "t"}, 2, 2},
    };
    for (const Case& c : cases) {
        Viewer v;
        v.autoRefresh = false;
        ASSERT_EQ(v.Open(Image(std::vector<int>(c.names.size(), 4), c.names, Zero)), "");
        const ViewState& s = v.State();
        const std::string what = c.names.back();
        EXPECT_EQ(s.axes.x, 0) << what;
        EXPECT_EQ(s.axes.y, 1) << what;
        EXPECT_EQ(s.axes.xz, c.depth) << what;
        EXPECT_EQ(s.axes.yz, c.depth) << what;
        EXPECT_EQ(s.channelDim, c.channel) << what;
        EXPECT_EQ(s.profileDim, -1) << what;
    }

    // The cursor starts in the middle (0 for an extent of 1), or where the reader says for
    // the dimensions it names in range; a channel dimension the file names wins over names.
    Viewer v;
    v.autoRefresh = false; // the state alone
    ASSERT_EQ(v.Open(Image({512, 512, 31, 1}, {"x", "y", "z", "t"}, Zero)), "");
    EXPECT_EQ(v.State().cursor, V({256, 256, 15, 0}));
    auto landing = std::make_unique<FileLikeImage>(std::vector<int>{8, 8, 10, 5}, Zero,
                                                   std::vector<std::string>{"x", "y", "z", "c"});
    landing->initial = V({-1, -1, 3, 99});
    landing->hintDim = 2;
    ASSERT_EQ(v.Open(std::move(landing)), "");
    EXPECT_EQ(v.State().cursor, V({4, 4, 3, 2}));
    EXPECT_EQ(v.State().channelDim, 2);
}

TEST(ViewerRules, CursorMovesRecomputeOnlyTheViewsThatDependOnThem)
{
    struct Step { int d, value, mask; };
    struct Case
    {
        std::vector<int> size;
        std::vector<std::string> names;
        int channelDim; // -2 keeps the initial choice
        std::vector<Step> steps;
    } cases[] = {
        // z moves XY only, x the YZ view only, y the XZ view only.
        {{32, 32, 31}, {"x", "y", "z"}, -2, {{2, 3, ViewXY}, {0, 5, ViewYZ}, {1, 5, ViewXZ}}},
        // t is on no view: every picture changes.
        {{16, 16, 4, 5}, {"x", "y", "z", "t"}, -2, {{3, 1, ViewAll}, {2, 1, ViewXY}}},
        // t as the channel dimension: all its entries are drawn already.
        {{16, 16, 4, 5}, {"x", "y", "z", "t"}, 3, {{3, 1, 0}, {2, 1, ViewXY}}},
    };
    for (const Case& c : cases) {
        Viewer v;
        ASSERT_EQ(v.Open(Image(c.size, c.names, Zero)), "");
        if (c.channelDim != -2) {
            ASSERT_TRUE(v.SetChannelDimension(c.channelDim));
        }
        v.Wait();
        for (const Step& s : c.steps) {
            EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(s.d, s.value)); }), s.mask)
                << c.names.size() << "-D, dimension " << s.d;
            EXPECT_EQ(v.State().cursor[s.d], s.value);
        }
        // Positions outside the image are refused and change nothing.
        const ViewState before = v.State();
        for (const int bad : {-1, c.size[2], 1 << 30})
            EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_FALSE(v.SetCursor(2, bad)); }), 0) << bad;
        EXPECT_EQ(v.State(), before);
    }

    // A projected dimension moves no picture, but only while the mode is "max": a checked
    // dimension without it is an ordinary one.
    Viewer v;
    ASSERT_EQ(v.Open(Image({16, 16, 4}, {"x", "y", "z"}, Zero)), "");
    ASSERT_TRUE(v.SetProjection(ProjectionMode::Max));
    v.Wait();
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetProjected(2, true); }), ViewXY);
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetProjected(0, true); }), ViewYZ); // the one view without x on an axis
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetCursor(0, 9); }), 0);
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetCursor(2, 1); }), 0);
    v.SetProjection(ProjectionMode::None);
    v.Wait();
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetCursor(0, 10); }), ViewYZ);
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetCursor(2, 2); }), ViewXY);
    // Toggling a box without the mode changes no picture.
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetProjected(1, true); }), 0);
}

TEST(ViewerRules, FitFillsTheTableKeepingThePhysicalAspect)
{
    // Without side views the picture may use the table less the 3-pixel gap, centred.
    struct Flat { int table[2]; int w, h; double px, py; } flat[] = {
        {{755, 546}, 64, 64, 100, 100}, {{997, 597}, 64, 64, 100, 100}, {{755, 546}, 128, 32, 100, 100},
        {{755, 697}, 32, 100, 100, 100}, {{897, 597}, 40, 20, 100, 200}, // physically square
    };
    for (const Flat& c : flat) {
        Viewer v;
        v.autoRefresh = false;
        ASSERT_EQ(v.Open(Image({c.w, c.h}, {"x", "y"}, Zero, {c.px, c.py})), "");
        ASSERT_TRUE(v.Fit(c.table[0], c.table[1]));
        const double sx = c.w * c.px / std::min(c.px, c.py), sy = c.h * c.py / std::min(c.px, c.py);
        const double zoom = std::min((c.table[0] - 3) / sx, (c.table[1] - 3) / sy);
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h);
        EXPECT_NEAR(v.State().zoom, zoom, 1e-9) << what;
        EXPECT_TRUE(v.State().fitted);
        EXPECT_NEAR(v.State().pan[0], (c.table[0] - sx * zoom) / 2, 1.0) << what;
        EXPECT_NEAR(v.State().pan[1], (c.table[1] - sy * zoom) / 2, 1.0) << what;
    }

    // With side views (z three times as thick as x and y) everything lies inside the table,
    // one direction filled to within a pixel; the picture stays against its side views.
    for (const std::array<int, 2> table : {std::array<int, 2>{755, 515}, {900, 400}, {500, 900}}) {
        Viewer v;
        v.autoRefresh = false;
        ASSERT_EQ(v.Open(Image({200, 150, 40}, {"x", "y", "z"}, Zero, {100, 100, 300})), "");
        ASSERT_TRUE(v.Fit(table[0], table[1]));
        const double z = v.State().zoom;
        const double sideW = std::min(40 * 3 * z, table[0] / 3.0), sideH = std::min(40 * 3 * z, table[1] / 3.0);
        const double wide = 200 * z + sideW + 3, high = 150 * z + sideH + 3;
        EXPECT_LE(wide, table[0] + 1);
        EXPECT_LE(high, table[1] + 1);
        EXPECT_TRUE(std::fabs(wide - table[0]) <= 1 || std::fabs(high - table[1]) <= 1) << wide << " " << high;
        EXPECT_EQ(v.State().pan, V({0, 0}));
    }

    // A zoom the image cannot take is refused; a zoom without a level change reads nothing.
    Viewer v;
    ASSERT_EQ(v.Open(Image({64, 48, 5}, {"x", "y", "z"}, Zero)), "");
    v.Wait();
    for (const double bad : {0.0, -1.0, std::nan(""), HUGE_VAL})
        EXPECT_FALSE(v.SetZoom(bad, V({0, 0}), false)) << bad;
    EXPECT_FALSE(v.SetZoom(2, V({0}), false));
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetZoom(3.5, V({-7, 9}), false)); }), 0);
    EXPECT_FALSE(v.State().fitted);
}

namespace {

// Entry c holds 1000 (c + 1) + x + y: each channel autoscales to its own data.
unsigned short ThreeChannels(const std::vector<int>& c)
{
    return static_cast<unsigned short>(1000 * (c[3] + 1) + c[0] + c[1]);
}

} // namespace

TEST(ViewerRules, ChannelsSeededFromHintsAndOnePerEntry)
{
    {
        auto image = std::make_unique<FileLikeImage>(std::vector<int>{32, 24, 2, 3}, ThreeChannels,
                                                     std::vector<std::string>{"x", "y", "z", "ch"});
        image->hints.resize(2);
        image->hints[0].name = "DAPI";
        image->hints[0].hasColor = true;
        image->hints[0].red = 0;
        image->hints[0].green = 0;
        image->hints[0].blue = 255;
        image->hints[0].hasWindow = true;
        image->hints[0].windowStart = 1010;
        image->hints[0].windowEnd = 1040;
        image->hints[1].name = "GFP";
        image->hints[1].active = false;
        Viewer v;
        ASSERT_EQ(v.Open(std::move(image)), "");
        v.Wait();
        const DisplayState& d = v.Display();
        ASSERT_EQ(d.channels.size(), 3u);
        EXPECT_EQ(d.channels[0].name, "DAPI");
        EXPECT_EQ(Colour(d.channels[0]), (std::array<int, 3>{0, 0, 255}));
        // The file's window is kept: no autoscaling widens it.
        EXPECT_EQ(d.channels[0].min, 1010);
        EXPECT_EQ(d.channels[0].max, 1040);
        EXPECT_FALSE(d.channels[0].autoscaling);
        EXPECT_EQ(d.channels[1].name, "GFP");
        EXPECT_FALSE(d.channels[1].enabled);
        // The third keeps its default colour and name and takes the range of what is shown:
        // x + y runs over 0 .. 31 + 23 in XY, and within it in the side views.
        EXPECT_EQ(d.channels[2].name, "2");
        EXPECT_EQ(Colour(d.channels[2]), (std::array<int, 3>{0, 0, 255}));
        EXPECT_EQ(d.channels[2].min, 3000);
        EXPECT_EQ(d.channels[2].max, 3000 + 31 + 23);
        EXPECT_TRUE(d.channels[2].autoscaling);
    }

    // Every entry up to nine gets a channel: those past the defaults are white and widen
    // to their own data.
    {
        Viewer v;
        ASSERT_EQ(v.Open(Image({16, 12, 2, 8}, {"x", "y", "z", "c"},
                               [](const std::vector<int>& c) { return static_cast<unsigned short>(100 + 10 * c[3] + c[0]); })),
                  "");
        v.Wait();
        const DisplayState& d = v.Display();
        ASSERT_EQ(d.channels.size(), 8u);
        for (size_t c = 3; c < 8; ++c) {
            EXPECT_EQ(Colour(d.channels[c]), (std::array<int, 3>{255, 255, 255})) << c;
            EXPECT_TRUE(d.channels[c].enabled) << c;
            EXPECT_EQ(d.channels[c].min, 100 + 10 * static_cast<int>(c)) << c;
            EXPECT_EQ(d.channels[c].max, 115 + 10 * static_cast<int>(c)) << c;
        }
        // Another channel dimension with more entries brings channels for them, the others
        // keep their settings.
        ASSERT_EQ(v.Open(Image({16, 12, 3, 5}, {"x", "y", "ch", "t"}, Zero)), "");
        ChannelDisplay off = v.Display().channels[1];
        off.enabled = false;
        ASSERT_TRUE(v.SetChannel(1, off));
        ASSERT_EQ(v.Display().channels.size(), 3u);
        ASSERT_TRUE(v.SetChannelDimension(3));
        ASSERT_EQ(v.Display().channels.size(), 5u);
        EXPECT_FALSE(v.Display().channels[1].enabled);
        EXPECT_EQ(v.Display().channels[4].name, "4");
        EXPECT_EQ(Colour(v.Display().channels[4]), (std::array<int, 3>{255, 255, 255}));
        v.Wait();
        EXPECT_FALSE(v.Record(kViewXY).picture.IsNull());
        // Ten entries or more are a spectrum: one global channel colours them all.
        ASSERT_EQ(v.Open(Image({16, 12, 10}, {"x", "y", "c"}, Zero)), "");
        EXPECT_TRUE(v.State().IsSpectral(v.Size()));
        EXPECT_EQ(v.State().channelDim, 2);
    }

}

TEST(ViewerRules, AFixedRangeStaysAndAutoscalingWidensToTheData)
{
    Viewer v;
    ASSERT_EQ(v.Open(Image({32, 24, 2, 3}, {"x", "y", "z", "ch"}, ThreeChannels)), "");
    v.Wait();
    ChannelDisplay red = v.Display().channels[0];
    ASSERT_EQ(red.min, 1000);
    red.min = 1010;
    red.autoscaling = false;
    ASSERT_TRUE(v.SetChannel(0, red));
    v.SetCursor(2, 0);
    v.SetCursor(0, 3);
    v.Wait();
    EXPECT_EQ(v.Display().channels[0].min, 1010);
    red.autoscaling = true;
    ASSERT_TRUE(v.SetChannel(0, red));
    v.Wait();
    EXPECT_EQ(v.Display().channels[0].min, 1000);
}

TEST(ViewerRules, FilesOwnChannelsColoursAndRanges)
{
    // ImageJ's hyperstack: blue, green and magenta ramps with a range each (its README).
    Viewer v;
    ASSERT_EQ(v.Open(OpenFile("imagej/hyperstack-luts.tif")), "");
    v.Wait();
    ASSERT_EQ(v.Size(), V({6, 4, 3, 2}));
    EXPECT_EQ(v.State().channelDim, 2);
    const std::array<int, 3> imagej[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 255}};
    const int ranges[][2] = {{1100, 1150}, {2000, 2300}, {3120, 3240}};
    ASSERT_GE(v.Display().channels.size(), 3u);
    for (size_t c = 0; c < 3; ++c) {
        const ChannelDisplay& ch = v.Display().channels[c];
        EXPECT_EQ(Colour(ch), imagej[c]) << c;
        EXPECT_EQ(ch.min, ranges[c][0]) << c;
        EXPECT_EQ(ch.max, ranges[c][1]) << c;
        EXPECT_FALSE(ch.autoscaling) << c;
    }
    EXPECT_NEAR(v.PixelSizes()[0], 162.5, 1e-3);
    EXPECT_NEAR(v.PixelSizes()[3], 500, 1e-3);

    // tifffile's tables: a fire table and a falling ramp are the file's own, a rising cyan
    // ramp is a colour.
    ASSERT_EQ(v.Open(OpenFile("tiff-other/imagej-luts.tif")), "");
    ASSERT_GE(v.Display().channels.size(), 3u);
    EXPECT_EQ(v.Display().channels[0].lut, "File's table");
    EXPECT_EQ(v.Display().channels[1].lut, "Colour");
    EXPECT_EQ(Colour(v.Display().channels[1]), (std::array<int, 3>{0, 255, 255}));
    EXPECT_EQ(v.Display().channels[2].lut, "File's table");

    // OME's signed RGBA colours and channel names.
    ASSERT_EQ(v.Open(OpenFile("tiff-other/ome-colors.ome.tif")), "");
    ASSERT_GE(v.Display().channels.size(), 3u);
    const char* names[] = {"DAPI", "GFP", "mCherry"};
    const std::array<int, 3> ome[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(v.Display().channels[c].name, names[c]);
        EXPECT_EQ(Colour(v.Display().channels[c]), ome[c]) << c;
    }

    // The OME-Zarr pyramid (x, y, z, c, t in the viewer's order) with its channel axis.
    ASSERT_EQ(v.Open(OpenFile("zarr/ome5d.zarr")), "");
    v.Wait();
    EXPECT_EQ(v.Session().LevelCount(), 3);
    EXPECT_EQ(v.State().channelDim, 3);
    ASSERT_GE(v.Display().channels.size(), 3u);
    EXPECT_EQ(v.Display().channels[2].name, "mCherry");
    EXPECT_EQ(Colour(v.Display().channels[1]), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(v.Display().channels[1].max, 30000);
    EXPECT_FALSE(v.Record(kViewXY).picture.IsNull());
}

TEST(ViewerRules, ChannelsAddUpAndDisabledOnesDropOut)
{
    // Every channel ramps from 0 at x = 0 to its maximum at x = 7.
    Viewer v;
    ASSERT_EQ(v.Open(Image({8, 8, 3}, {"x", "y", "ch"}, [](const std::vector<int>& p) {
                  return static_cast<unsigned short>(p[0] * 100);
              })),
              "");
    v.Wait();
    EXPECT_EQ(Rgb(v.Record(kViewXY).picture, 7, 3), (std::array<int, 3>{255, 255, 255})); // red + green + blue
    EXPECT_EQ(Rgb(v.Record(kViewXY).picture, 0, 3), (std::array<int, 3>{0, 0, 0}));
    ChannelDisplay green = v.Display().channels[1];
    green.enabled = false;
    v.SetChannel(1, green);
    v.Wait();
    EXPECT_EQ(Rgb(v.Record(kViewXY).picture, 7, 3), (std::array<int, 3>{255, 0, 255}));
    DisplayState none = v.Display();
    for (ChannelDisplay& c : none.channels)
        c.enabled = false;
    v.SetDisplay(none);
    v.Wait();
    EXPECT_EQ(Rgb(v.Record(kViewXY).picture, 7, 3), (std::array<int, 3>{0, 0, 0}));

}

TEST(ViewerRules, GammaBendsTheRampBetweenItsEnds)
{
    // A ramp over the whole 16-bit range drawn from min - 1 (black) to max (full): a gamma
    // bends it without moving its ends, and gamma 0 is the plain ramp.
    Viewer v;
    ASSERT_EQ(v.Open(Image({256, 4}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0] * 257); })), "");
    ChannelDisplay g = v.Display().global;
    g.autoscaling = false;
    g.min = 1;
    g.max = 65535;
    ASSERT_TRUE(v.SetGlobalChannel(g));
    v.Wait();
    const ViewPicture plain = Copy(v.Record(kViewXY).picture);
    ASSERT_EQ(Rgb(plain, 0, 0)[0], 0);
    ASSERT_EQ(Rgb(plain, 255, 0)[0], 255);
    for (const int gamma : {5, -5, 10}) {
        g.gamma = gamma;
        v.SetGlobalChannel(g);
        v.Wait();
        const ViewPicture& curved = v.Record(kViewXY).picture;
        for (int x = 1; x < 256; ++x)
            ASSERT_GE(Rgb(curved, x, 0)[0], Rgb(curved, x - 1, 0)[0]) << "gamma " << gamma << " x " << x;
        EXPECT_EQ(Rgb(curved, 0, 0)[0], 0);
        EXPECT_EQ(Rgb(curved, 255, 0)[0], 255);
        if (gamma > 0)
            EXPECT_GT(Rgb(curved, 128, 0)[0], Rgb(plain, 128, 0)[0] + 20);
        else
            EXPECT_LT(Rgb(curved, 128, 0)[0] + 20, Rgb(plain, 128, 0)[0]);
    }
    g.gamma = 0;
    v.SetGlobalChannel(g);
    v.Wait();
    EXPECT_TRUE(SameBytes(v.Record(kViewXY).picture, plain));

}

TEST(ViewerRules, ProjectionOnlyInMaxModeAndEqualAxesDrawNothing)
{
    // 10 z + x: the maximum over z (plane 4) is brighter than plane 2, but only in "max"
    // mode; equal axes leave that view without a picture.
    Viewer v;
    ASSERT_EQ(v.Open(Image({8, 8, 5}, {"x", "y", "z"}, [](const std::vector<int>& p) {
                  return static_cast<unsigned short>(10 * p[2] + p[0]);
              })),
              "");
    ChannelDisplay g = v.Display().global;
    g.autoscaling = false;
    g.min = 0;
    g.max = 47;
    v.SetGlobalChannel(g);
    v.Wait();
    ASSERT_EQ(v.State().cursor[2], 2);
    const ViewPicture plane2 = Copy(v.Record(kViewXY).picture);
    v.SetProjection(ProjectionMode::Max);
    v.SetProjected(2, true);
    v.Wait();
    EXPECT_GT(Rgb(v.Record(kViewXY).picture, 0, 0)[0], Rgb(plane2, 0, 0)[0] + 50);
    v.SetProjection(ProjectionMode::None);
    v.Wait();
    EXPECT_TRUE(SameBytes(v.Record(kViewXY).picture, plane2));
    ViewAxes axes = v.State().axes;
    axes.y = 0;
    ASSERT_TRUE(v.SetAxes(axes));
    v.Wait();
    EXPECT_TRUE(v.Record(kViewXY).picture.IsNull());
    // YZ: z across, the new y (x) down.
    EXPECT_EQ(v.Record(kViewYZ).picture.width, 5);
    EXPECT_EQ(v.Record(kViewYZ).picture.height, 8);
    EXPECT_FALSE(v.Record(kViewXZ).picture.IsNull());
}

TEST(ViewerRules, LookupTablesColourTheRange)
{
    // Values 0, 100, ..., 1500 across, drawn over 300 .. 1200.
    Viewer v;
    ASSERT_EQ(v.Open(Image({16, 2}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(100 * c[0]); })), "");
    ChannelDisplay g = v.Display().global;
    g.autoscaling = false;
    g.min = 300;
    g.max = 1200;
    g.lut = "HiLo";
    ASSERT_TRUE(v.SetGlobalChannel(g));
    v.Wait();
    // HiLo marks what is clipped blue below and red above; a third of the way is grey.
    const ViewPicture& hilo = v.Record(kViewXY).picture;
    ASSERT_EQ(hilo.width, 16);
    EXPECT_EQ(Rgb(hilo, 2, 0), (std::array<int, 3>{0, 0, 255}));  // 200 below the minimum
    EXPECT_EQ(Rgb(hilo, 3, 0), (std::array<int, 3>{0, 0, 255}));  // 300 at it
    EXPECT_EQ(Rgb(hilo, 12, 0), (std::array<int, 3>{255, 0, 0})); // 1200 at the maximum
    EXPECT_EQ(Rgb(hilo, 15, 0), (std::array<int, 3>{255, 0, 0}));
    const std::array<int, 3> third = Rgb(hilo, 6, 0); // 600
    EXPECT_NEAR(third[0], 85, 1);
    EXPECT_EQ(third[0], third[1]);
    EXPECT_EQ(third[1], third[2]);
    // Inverted runs from the colour down to black.
    g.lut = "Inverted";
    ASSERT_TRUE(v.SetGlobalChannel(g));
    v.Wait();
    const ViewPicture& inverted = v.Record(kViewXY).picture;
    EXPECT_EQ(Rgb(inverted, 1, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(Rgb(inverted, 14, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_NEAR(Rgb(inverted, 6, 0)[0], 170, 1);
    // A table that is not one of the names is refused.
    g.lut = "Rainbow";
    EXPECT_FALSE(v.SetGlobalChannel(g));
}

namespace {

// Which of red (0), green (1) and blue (2) is strongest at a picture's centre.
int Strongest(const ViewPicture& p)
{
    const std::array<int, 3> c = Rgb(p, p.width / 2, p.height / 2);
    return static_cast<int>(std::max_element(c.begin(), c.end()) - c.begin());
}

} // namespace

TEST(ViewerRules, SpectraInTrueColourUnderTheirCalibration)
{
    // Short stacks spread over 400-700 nm; long ones keep the built-in calibration.
    struct Case { int samples; SpectrumCalibration want; } cases[] = {
        {1024, {367, 488, 646, 658}}, {32, {0, 400, 31, 700}}, {12, {0, 400, 11, 700}}};
    for (const Case& c : cases) {
        const int mid = c.samples / 2;
        Viewer v;
        ASSERT_EQ(v.Open(Image({6, 6, c.samples}, {"x", "y", "lambda"},
                               [mid](const std::vector<int>& p) -> unsigned short { return std::abs(p[2] - mid) < 2 ? 3000 : 10; })),
                  "");
        v.Wait();
        ASSERT_TRUE(v.State().IsSpectral(v.Size()));
        const SpectrumCalibration& s = v.State().spectrum;
        EXPECT_EQ((std::array<double, 4>{s.p1, s.w1, s.p2, s.w2}), (std::array<double, 4>{c.want.p1, c.want.w1, c.want.p2, c.want.w2}))
            << c.samples;
        EXPECT_TRUE(AnyLit(v.Record(kViewXY).picture)) << c.samples;
    }

    // Samples 14-17 of 0 (400 nm) .. 31 (700 nm) are about 540 nm: green; calling sample 0
    // 650 nm and 31 680 nm puts them into the red, 438-478 nm into the blue.
    Viewer v;
    ASSERT_EQ(v.Open(Image({6, 6, 32}, {"x", "y", "lambda"},
                           [](const std::vector<int>& p) -> unsigned short { return p[2] >= 14 && p[2] <= 17 ? 3000 : 10; })),
              "");
    v.Wait();
    EXPECT_EQ(Strongest(v.Record(kViewXY).picture), 1);
    EXPECT_EQ(RecomputedBy(v, [&] { v.SetSpectrum({0, 650, 31, 680}); }), ViewAll);
    EXPECT_EQ(Strongest(v.Record(kViewXY).picture), 0);
    v.SetSpectrum({0, 438, 31, 478});
    v.Wait();
    EXPECT_EQ(Strongest(v.Record(kViewXY).picture), 2);
    // Two equal reference positions are a calibration still being typed: taken, and the
    // spectrum is black until it is usable.
    EXPECT_TRUE(v.SetSpectrum({31, 438, 31, 478}));
    v.Wait();
    EXPECT_FALSE(AnyLit(v.Record(kViewXY).picture));
    EXPECT_EQ(v.State().spectrum.w1, 438);

    // The file's wavelengths (500 .. 690 nm) calibrate; a flat spectrum over them is a
    // warm white, not a hue, and black stays black.
    auto lambda = std::make_unique<FileLikeImage>(std::vector<int>{6, 6, 20},
                                                  [](const std::vector<int>& p) -> unsigned short { return p[0] >= 3 ? 1000 : 0; },
                                                  std::vector<std::string>{"x", "y", "lambda"});
    lambda->wavelengthDim = 2;
    for (int i = 0; i < 20; ++i)
        lambda->wavelengths.push_back(500 + 10 * i);
    ASSERT_EQ(v.Open(std::move(lambda)), "");
    v.Wait();
    const SpectrumCalibration& s = v.State().spectrum;
    EXPECT_EQ((std::array<double, 4>{s.p1, s.w1, s.p2, s.w2}), (std::array<double, 4>{0, 500, 19, 690}));
    const auto [r, g, b] = Rgb(v.Record(kViewXY).picture, 4, 3);
    EXPECT_GT(r, 128);
    EXPECT_GT(g, 96);
    EXPECT_EQ(Rgb(v.Record(kViewXY).picture, 1, 3), (std::array<int, 3>{0, 0, 0}));
    // Leaving the channel dimension and coming back keeps the file's wavelengths, and a state
    // that differs only in them is a change.
    ASSERT_TRUE(v.SetChannelDimension(-1));
    ASSERT_TRUE(v.SetChannelDimension(2));
    EXPECT_EQ(v.State().spectrum.fileWavelengths.size(), 20u);
    ViewState other = v.State();
    other.spectrum.fileWavelengths.back() = 700;
    EXPECT_FALSE(other == v.State());
}

namespace {

// The pixels of a picture brighter than mid-grey in every component.
std::set<std::pair<int, int>> Bright(const ViewPicture& p)
{
    std::set<std::pair<int, int>> lit;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::array<int, 3> c = Rgb(p, x, y);
            if (c[0] > 200 && c[1] > 200 && c[2] > 200)
                lit.insert({x, y});
        }
    return lit;
}

} // namespace

TEST(ViewerRules, PicturesOfAStateAtAnySize)
{
    // One bright voxel at (7, 5, 3) of 20 x 16 x 6 with z three times as thick as x and y.
    Viewer v;
    v.autoRefresh = false; // pictures straight from the state, as exports and the command line take them
    ASSERT_EQ(v.Open(Image({20, 16, 6}, {"x", "y", "z"},
                           [](const std::vector<int>& c) -> unsigned short { return c[0] == 7 && c[1] == 5 && c[2] == 3 ? 4000 : 0; },
                           {100, 100, 300})),
              "");
    ViewState s = v.State();
    s.cursor = V({7, 5, 3});
    DisplayState d = v.Display();
    d.global.autoscaling = false;
    d.global.min = 0;
    d.global.max = 4000;
    // At the natural size: YZ (18 x 16) left of XY (20 x 16), XZ (20 x 18) above it, 6 black
    // pixels apart; z rows and columns three pixels each.
    const ViewPicture all = RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewAll);
    ASSERT_EQ(all.width, 18 + 6 + 20);
    ASSERT_EQ(all.height, 18 + 6 + 16);
    const std::set<std::pair<int, int>> natural = {{24 + 7, 24 + 5},                                  // XY
                                                   {24 + 7, 9}, {24 + 7, 10}, {24 + 7, 11},           // XZ
                                                   {9, 24 + 5}, {10, 24 + 5}, {11, 24 + 5}};          // YZ
    EXPECT_EQ(Bright(all), natural);

    // Into 88 x 120: twice the size, centred between black bands of 20 rows.
    const ViewPicture fitted = RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewAll, 88, 120);
    ASSERT_EQ(fitted.width, 88);
    ASSERT_EQ(fitted.height, 120);
    std::set<std::pair<int, int>> doubled;
    for (const auto& [x, y] : natural)
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
                doubled.insert({2 * x + dx, 20 + 2 * y + dy});
    EXPECT_EQ(Bright(fitted), doubled);

    // The XY view alone; a view that cannot be drawn gives no picture.
    const ViewPicture xy = RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewXY, 40, 40);
    EXPECT_EQ(Bright(xy), (std::set<std::pair<int, int>>{{14, 14}, {15, 14}, {14, 15}, {15, 15}}));
    s.axes.y = 0;
    EXPECT_TRUE(RenderPicture(v.Session(), s, d, v.PixelSizes(), ViewXY, 40, 40).IsNull());
}

TEST(ViewerRules, ACursorOfSeveralCoordinatesIsOneChange)
{
    const auto At = [](std::initializer_list<int> xs) {
        ImageReader::Vector p;
        for (const int x : xs)
            p.push_back(x);
        return p;
    };
    std::vector<ChangeSet> heard; // outlives the viewer that tells it
    Viewer v;
    ASSERT_EQ(v.Open(Image({32, 32, 31}, {"x", "y", "z"}, Zero)), "");
    v.Wait();
    v.AddListener([&](const ChangeSet& c) {
        if (c.Has(ChangeCursor))
            heard.push_back(c);
    });
    // A drag across XY moves x and y: the YZ and the XZ view, told once.
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(At({3, 4, 15}))); }), ViewXZ | ViewYZ);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].views, ViewXZ | ViewYZ);
    EXPECT_EQ(v.State().cursor, At({3, 4, 15}));
    // The same cursor again is no news; one coordinate outside refuses the whole move.
    heard.clear();
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(At({3, 4, 15}))); }), 0);
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_FALSE(v.SetCursor(At({5, 4, 31}))); }), 0);
    EXPECT_FALSE(v.SetCursor(At({5, 4})));
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(v.State().cursor, At({3, 4, 15}));
}
