// Regions in the model: statistics that follow the cursor's plane (at once and on the worker),
// measuring through z, and regions kept in view state files.
#include <gtest/gtest.h>

#include "CellsImage.h"
#include "LiveRegions.h"
#include "StateJson.h"
#include "Viewer.h"

using namespace ImageViewer;

namespace {

// The box [2, 6) x [3, 7): x runs 2..5 (mean 3.5), y 3..6 (mean 4.5), 16 pixels.
Measure::Region Box()
{
    Measure::Region r;
    r.kind = Measure::RegionKind::Rectangle;
    r.points = {{2, 3}, {6, 7}};
    r.name = "box";
    return r;
}

double MeanCh0(int z) { return 50 * 3.5 + 7 * z; }
double MeanCh1(int z) { return 900 - 30 * 4.5 + z; }

const Measure::MeasureRow* Row(const Measure::MeasureTable& t, size_t region, int channel)
{
    for (const Measure::MeasureRow& r : t.rows)
        if (r.region == region && r.position.size() >= 2 && r.position[1] == channel)
            return &r;
    return nullptr;
}

} // namespace

class LiveRegionsTest : public ::testing::TestWithParam<bool>
{
};

// Inline and on the worker (every region counts as large) the table follows the cursor's
// plane, and only its plane: moving along x measures nothing again.
TEST_P(LiveRegionsTest, StatisticsFollowTheCursorsPlane)
{
    const bool worker = GetParam();
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    ASSERT_EQ(v.State().channelDim, 3);
    LiveRegions live(v);
    if (worker)
        live.inlinePixels = 0;
    int tables = 0;
    live.onTable = [&] { ++tables; };

    RegionList list;
    list.Add(Box());
    ASSERT_TRUE(live.SetRegions(list));
    EXPECT_EQ(live.Pending(), worker);
    v.Wait();
    ASSERT_FALSE(live.Pending());
    const int z0 = v.State().cursor[2];
    ASSERT_EQ(live.Table().rows.size(), 2u);
    const Measure::MeasureRow* c0 = Row(live.Table(), 0, 0);
    const Measure::MeasureRow* c1 = Row(live.Table(), 0, 1);
    ASSERT_TRUE(c0 && c1);
    EXPECT_DOUBLE_EQ(c0->stats.mean, MeanCh0(z0));
    EXPECT_DOUBLE_EQ(c1->stats.mean, MeanCh1(z0));
    EXPECT_NEAR(c0->stats.area, 16 * 0.1 * 0.1, 1e-12); // µm²
    EXPECT_EQ(live.Table().unit, "\u00b5m");

    ASSERT_TRUE(v.SetCursor(2, 5));
    v.Wait();
    ASSERT_EQ(live.Table().rows.size(), 2u);
    EXPECT_DOUBLE_EQ(Row(live.Table(), 0, 0)->stats.mean, MeanCh0(5));
    EXPECT_DOUBLE_EQ(Row(live.Table(), 0, 1)->stats.mean, MeanCh1(5));
    EXPECT_DOUBLE_EQ(Row(live.Table(), 0, 1)->stats.min, 900 - 30 * 6 + 5);

    const int before = tables;
    ASSERT_TRUE(v.SetCursor(0, 11));
    v.Wait();
    EXPECT_EQ(tables, before);
    // Selecting a region is no reason to measure again either.
    list = live.Regions();
    list.selected = -1;
    ASSERT_TRUE(live.SetRegions(list));
    v.Wait();
    EXPECT_EQ(tables, before);
}

INSTANTIATE_TEST_SUITE_P(InlineAndWorker, LiveRegionsTest, ::testing::Values(false, true));

TEST(LiveRegions, PinnedRegionsStayOnTheirPlaneAndMeasureThroughZ)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    LiveRegions live(v);
    RegionList list;
    list.Add(Box());
    Measure::Region pinned = Box();
    pinned.name = "on z 1";
    pinned.SetPosition(2, 1);
    list.Add(pinned);
    ASSERT_TRUE(live.SetRegions(list));
    ASSERT_TRUE(v.SetCursor(2, 4));
    v.Wait();
    EXPECT_DOUBLE_EQ(Row(live.Table(), 0, 0)->stats.mean, MeanCh0(4));
    EXPECT_DOUBLE_EQ(Row(live.Table(), 1, 0)->stats.mean, MeanCh0(1));

    EXPECT_EQ(live.ThroughDimensions(), std::vector<int>{2});
    Measure::MeasureTable through;
    bool got = false;
    live.MeasureThrough(live.ThroughDimensions(), [&](Measure::MeasureTable t) {
        through = std::move(t);
        got = true;
    });
    v.Wait();
    ASSERT_TRUE(got);
    EXPECT_FALSE(live.ThroughRunning());
    EXPECT_DOUBLE_EQ(live.ThroughProgress(), 1.0);
    // The unpinned box at every z and channel, the pinned one once per channel.
    ASSERT_EQ(through.rows.size(), 6u * 2 + 2);
    for (const Measure::MeasureRow& r : through.rows) {
        const int z = r.position[0];
        EXPECT_EQ(z, r.region == 1 ? 1 : z);
        EXPECT_DOUBLE_EQ(r.stats.mean, r.position[1] == 0 ? MeanCh0(z) : MeanCh1(z));
    }

    // A cancelled measurement delivers nothing.
    got = false;
    live.MeasureThrough(live.ThroughDimensions(), [&](Measure::MeasureTable) { got = true; });
    live.CancelThrough();
    v.Wait();
    EXPECT_FALSE(got);
    EXPECT_FALSE(live.ThroughRunning());
}

TEST(LiveRegions, RegionsRoundTripThroughTheStateFile)
{
    Viewer v;
    ASSERT_EQ(v.Open(Cells()), "");
    const ImageViewer::ImageDescription image{v.Size(), v.Session().DimensionNames(), v.PixelSizes()};
    ViewState s = v.State();
    s.regions.Add(Box());
    Measure::Region line;
    line.kind = Measure::RegionKind::Line;
    line.points = {{1.5, 2.5}, {10.25, 7.5}};
    line.name = "membrane";
    line.color = 0xff00ff00;
    line.SetPosition(2, 3);
    s.regions.Add(line);
    s.regions.SetHidden(0, true);
    s.regions.selected = 0;
    const std::string text = StateToJson(s, v.Display(), image);

    ViewState back = v.State();
    DisplayState d = v.Display();
    ASSERT_EQ(StateFromJson(text, image, back, d), "");
    EXPECT_EQ(back, s);
    EXPECT_TRUE(back.regions.Hidden(0));
    EXPECT_FALSE(back.regions.Hidden(1));
    EXPECT_EQ(back.regions.regions[1].PositionOf(2), 3);

    // A file from before regions were kept loads and leaves the list as it was.
    ViewState old = s;
    ASSERT_EQ(StateFromJson(R"({"view": {"cursor": {"z": 2}}})", image, old, d), "");
    EXPECT_EQ(old.regions, s.regions);
    EXPECT_EQ(old.cursor[2], 2);
    // A list that is not one is refused as a whole.
    ViewState bad = v.State();
    EXPECT_NE(StateFromJson(R"({"view": {"regions": [{"kind": "blob", "points": []}]}})", image, bad, d), "");
    EXPECT_EQ(bad, v.State());
}

TEST(RegionList, RemovingKeepsTheSelectionOnItsRegion)
{
    RegionList l;
    for (int k = 0; k < 3; ++k) {
        Measure::Region r = Box();
        r.name = l.FreshName(r.kind);
        l.Add(r);
    }
    EXPECT_EQ(l.regions[2].name, "rectangle 3");
    l.SetHidden(2, true);
    l.selected = 2;
    l.Remove(0);
    EXPECT_EQ(l.selected, 1);
    EXPECT_TRUE(l.Hidden(1));
    l.Remove(1);
    EXPECT_EQ(l.selected, -1);
    EXPECT_EQ(l.FreshName(Measure::RegionKind::Rectangle), "rectangle 1");
}
