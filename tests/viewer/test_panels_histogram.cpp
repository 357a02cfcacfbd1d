#include <climits>
#include <vector>

#include <gtest/gtest.h>

#include "HistogramPanel.h"

using ImageViewer::HistogramPanel;
using ImageViewer::PanelAxis;
using ImageViewer::PanelBins;

namespace {

// The panel on the "Channels" page is 176 x 32 with a sunken frame.
const HistogramPanel panel(176, 32);

} // namespace

TEST(PanelsHistogram, GeometryOfTheStandardPanel)
{
    EXPECT_EQ(panel.Width(), 171);
    EXPECT_EQ(panel.Baseline(), 27);
    EXPECT_TRUE(panel.IsDrawable());
    EXPECT_FALSE(HistogramPanel(5, 32).IsDrawable());
}

TEST(PanelsHistogram, ConstantPlaneOnTheFullRange)
{
    // 50 pixels of value 100 against a channel range 0..65535.
    const std::vector<unsigned short> plane(50, 100);
    const PanelBins bins = panel.Count(plane.data(), plane.size());
    EXPECT_EQ(bins.lo, 100);
    EXPECT_EQ(bins.hi, 100);
    EXPECT_EQ(bins.R, 1);
    ASSERT_EQ(bins.counts.size(), 171u);
    EXPECT_EQ(bins.counts[0], 9); // ln 51 / ln 1.5 = 9.70
    EXPECT_EQ(bins.counts[1], 0);
    EXPECT_EQ(bins.hrange, 10);

    const PanelAxis axis = HistogramPanel::MakeAxis(bins.lo, bins.hi, 0, 65535);
    EXPECT_EQ(axis.a0, 0);
    EXPECT_EQ(axis.a1, 65535);
    EXPECT_EQ(axis.A, 65536);
    EXPECT_EQ(panel.MarkerX(axis, 0), 0);
    EXPECT_EQ(panel.MarkerX(axis, 65535), 170);
    EXPECT_EQ(panel.BarX(bins, axis, 0), 0); // 171 * 100 / 65536 rounds down to 0
    EXPECT_EQ(panel.BarTop(bins, 0), 27 - 24);
    EXPECT_EQ(panel.BarTop(bins, 1), 27);
}

TEST(PanelsHistogram, BinsSpreadOverThePlaneRange)
{
    // 0..170 once each: one value per bin, every log counter ln 2 / ln 1.5 = 1.7 -> 1.
    std::vector<unsigned short> ramp;
    for (int v = 0; v <= 170; ++v)
        ramp.push_back(static_cast<unsigned short>(v));
    const PanelBins flat = panel.Count(ramp.data(), ramp.size());
    EXPECT_EQ(flat.R, 171);
    for (int c : flat.counts)
        ASSERT_EQ(c, 1);
    EXPECT_EQ(flat.hrange, 1);
    EXPECT_EQ(panel.BarTop(flat, 5), 0);

    // Three zeros and seven full-scale values: the extremes land in the first and last bin.
    std::vector<unsigned short> ends(3, 0);
    ends.insert(ends.end(), 7, 65535);
    const PanelBins two = panel.Count(ends.data(), ends.size());
    EXPECT_EQ(two.R, 65536);
    EXPECT_EQ(two.counts[0], 3);   // ln 4 / ln 1.5 = 3.42
    EXPECT_EQ(two.counts[170], 5); // ln 8 / ln 1.5 = 5.13
    EXPECT_EQ(two.bmin, 0);
    EXPECT_EQ(two.bmax, 5);
}

TEST(PanelsHistogram, MarkersAtTheEndsWhenTheRangeEqualsTheData)
{
    struct Case { int lo, hi, xmax; };
    const Case cases[] = {
        {1000, 2000, 170}, // 171 * 1000 / 1001
        {0, 170, 170},     // 171 * 170 / 171
        {0, 100, 169},     // 171 * 100 / 101
        {5, 5, 0},
    };
    for (const Case& c : cases) {
        const PanelAxis axis = HistogramPanel::MakeAxis(c.lo, c.hi, c.lo, c.hi);
        EXPECT_EQ(panel.MarkerX(axis, c.lo), 0) << c.lo << ".." << c.hi;
        EXPECT_EQ(panel.MarkerX(axis, c.hi), c.xmax) << c.lo << ".." << c.hi;
    }
}

TEST(PanelsHistogram, BarsShareTheMarkersOrigin)
{
    // Data 1000..1999, channel range 0..1999: the first bar stands where value 1000 is
    // marked, not at the left edge.
    std::vector<unsigned short> plane;
    for (int v = 1000; v <= 1999; ++v)
        plane.push_back(static_cast<unsigned short>(v));
    const PanelBins bins = panel.Count(plane.data(), plane.size());
    const PanelAxis axis = HistogramPanel::MakeAxis(bins.lo, bins.hi, 0, 1999);
    EXPECT_EQ(axis.A, 2000);
    EXPECT_EQ(panel.MarkerX(axis, 1000), 85); // 171000 / 2000
    EXPECT_EQ(panel.BarX(bins, axis, 0), 85);
    // Bin 170 starts at value 1000 + 994: 171 * 994 / 2000 = 84, plus the shift.
    EXPECT_EQ(panel.BarX(bins, axis, 170), 169);
    EXPECT_EQ(panel.MarkerX(axis, 1999), 170);
}

TEST(PanelsHistogram, HitZoneIsThreePixelsAndTheLowerMarkerWins)
{
    struct Case { int x, xmin, xmax, grabbed; };
    const Case cases[] = {
        {47, 50, 120, 0},  {46, 50, 120, -1}, {53, 50, 120, 0},   {54, 50, 120, -1},
        {117, 50, 120, 1}, {116, 50, 120, -1}, {123, 50, 120, 1}, {124, 50, 120, -1},
        {52, 50, 52, 0},   {55, 50, 52, 1},    {2, 0, 0, 0},      {0, INT_MIN, INT_MAX, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HistogramPanel::HitTest(c.x, c.xmin, c.xmax), c.grabbed) << c.x << " " << c.xmin << " " << c.xmax;
}

TEST(PanelsHistogram, DragScaleComesFromTheAxis)
{
    struct Case { int a0, a1, x, histstart, delta; };
    const Case cases[] = {
        {0, 65535, 171, 0, 65535},    // the whole width moves by a1 - a0
        {0, 65535, 0, 171, -65535},
        {0, 65535, 40, 50, -3832},    // -655350 / 171 truncates toward zero
        {998, 3945, 11, 10, 17},      // 2947 / 171
        {100, 100, 500, 0, 0},        // a one-value axis does not move
        {INT_MIN, INT_MAX, 171, 0, INT_MAX},
    };
    for (const Case& c : cases) {
        const PanelAxis axis = HistogramPanel::MakeAxis(c.a0, c.a1, c.a0, c.a1);
        EXPECT_EQ(panel.DragDelta(axis, c.x, c.histstart), c.delta) << c.a0 << ".." << c.a1 << " x " << c.x;
    }
}

TEST(PanelsHistogram, WideAxesStayInsideThePanel)
{
    const PanelAxis axis = HistogramPanel::MakeAxis(0, 0, INT_MIN, INT_MAX);
    EXPECT_EQ(axis.A, 4294967296LL);
    EXPECT_EQ(panel.MarkerX(axis, INT_MIN), 0);
    EXPECT_EQ(panel.MarkerX(axis, INT_MAX), 170);
    EXPECT_EQ(HistogramPanel::MoveMarker(INT_MAX - 5, 10), INT_MAX);
    EXPECT_EQ(HistogramPanel::MoveMarker(INT_MIN + 5, -10), INT_MIN);
    EXPECT_EQ(HistogramPanel::MoveMarker(998, 65535), 66533);
}
