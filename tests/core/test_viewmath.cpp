// The window's numeric rules (view masks, mouse mapping, zoom and fit, resolution levels,
// layout, scale bars, the histogram panel's axis and ranges, the measurements' blocks and
// lengths), against hand-worked values.
#include <climits>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "HistogramPanel.h"
#include "Measurement.h"
#include "ViewMath.h"

using namespace ImageViewer;
using ImageReader::Vector;

namespace {

const ViewAxes k3D{0, 1, 2, 2}; // x, y, XZ = YZ = z
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Vector vec(std::initializer_list<int> values)
{
    Vector v;
    for (int x : values)
        v.push_back(x);
    return v;
}

std::vector<int> elems(const Vector& v)
{
    std::vector<int> r;
    for (unsigned int i = 0; i < v.size(); ++i)
        r.push_back(v[static_cast<int>(i)]);
    return r;
}

TEST(ViewMasks, DependencyRule)
{
    struct Case { const char* what; int d; ViewAxes axes; bool collapsed; int cd; int mask; } cases[] = {
        // The 3-D and 4-D slider cases run through the window in its own tests.
        {"t with a different channel dimension", 3, k3D, false, 2, 7},
        {"XZ and YZ on different dimensions: z", 2, ViewAxes{0, 1, 2, 3}, false, -1, 1 | 4},
        {"XZ and YZ on different dimensions: t", 3, ViewAxes{0, 1, 2, 3}, false, -1, 1 | 2},
        {"a projected z changes nothing", 2, k3D, true, -1, 0},
        {"no dimension", -1, k3D, false, -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CursorMoveMask(c.d, c.axes, c.collapsed, c.cd), c.mask) << c.what;
        // Switching projection on a dimension touches the same views as moving along it.
        if (c.d >= 0 && !c.collapsed && c.d != c.cd) {
            EXPECT_EQ(ProjectionChangeMask(c.d, c.axes), c.mask) << c.what;
        }
    }
}

TEST(Truncation, TowardZeroAndSaturating)
{
    struct Case { double m, delta, zoom; int pixel; } cases[] = {
        {21, 0, 2, 10},    // 10.5
        {100, 0, 1.5, 66}, // 66.67
        {-3, 0, 1, -3},
        {10, 0, 0, kPixelLimit},    {-10, 0, 0, -kPixelLimit}, {0, 0, 0, -kPixelLimit}, // +inf, -inf, NaN
        {10, 0, 1e-300, kPixelLimit}, {10, 0, kInf, 0},        {10, -2147483647.0, 1e-9, kPixelLimit},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MouseToPixel(c.m, c.delta, c.zoom), c.pixel) << c.m << " " << c.delta << " " << c.zoom;
    // Differences of two saturated coordinates stay representable.
    EXPECT_LE(static_cast<long long>(kPixelLimit) * 2, INT_MAX);
    EXPECT_EQ(SaturatingTruncate(kNaN, 5), 5);
    EXPECT_EQ(SaturatingTruncate(-37.9, 0), -37);
    EXPECT_EQ(SaturatingTruncate(2147483647.5, 0), INT_MAX);
    EXPECT_EQ(SaturatingSubtract(10, INT_MIN), INT_MAX);
}

TEST(Wheel, StepsFactorAndZoomAboutTheMouse)
{
    EXPECT_EQ(WheelSteps(120, 3), 3);
    EXPECT_EQ(WheelSteps(-120, 3), -3);
    EXPECT_EQ(WheelSteps(40, 3), 1);
    EXPECT_EQ(WheelSteps(39, 3), 0);
    EXPECT_EQ(WheelSteps(INT_MAX, INT_MAX), INT_MAX);
    EXPECT_EQ(WheelZoomFactor(-3), 0.7711054127039704);
    EXPECT_EQ(WheelZoomFactor(0), 1.0);
    // Pan that shows image point p at view coordinate m: m - p * zoom, rounded.
    EXPECT_EQ(PanForPoint(100, 50, 1.2968395546510099), 35);  // 100 - 64.84 = 35.16
    EXPECT_EQ(PanForPoint(100, 50, 1.25), 38);                // 100 - 62.5 = 37.5 rounds away from zero
    EXPECT_EQ(PanForPoint(-5, 2, 0.5), -6);
    EXPECT_EQ(PanForPoint(0, 3e9, 2.0), INT_MIN); // saturates
    // Centring: half the spare room, rounded down; a picture larger than its cell starts left of it.
    EXPECT_EQ(CentredOffset(100, 50), 25);
    EXPECT_EQ(CentredOffset(100, 51), 24);
    EXPECT_EQ(CentredOffset(10, 30), -10);
}

TEST(Layout, SideViewAndTrackSizes)
{
    // (31 and 400 planes at zoom 1 on the design table: the window's layout test.)
    EXPECT_FLOAT_EQ(SideViewSize(48, 3.0, 480), 144.0f);
    EXPECT_FLOAT_EQ(SideViewSize(80, 3.0, 481), 160.0f); // a third of the table, in integers

    EXPECT_EQ(ComputeTrackSizes({{false, 18.05556f}, {false, 81.94444f}}, 480), (std::vector<int>{86, 394}));
    EXPECT_EQ(ComputeTrackSizes({{true, 40.2f}, {false, 100}}, 520), (std::vector<int>{40, 480}));
    EXPECT_EQ(ComputeTrackSizes({{true, 600}, {false, 100}}, 520), (std::vector<int>{600, 0}));
    EXPECT_EQ(ComputeTrackSizes({{true, static_cast<float>(kInf)}, {false, 100}}, 520), (std::vector<int>{0, 520}));
}

TEST(Layout, Anchoring)
{
    const PixelSize design{758, 549}, bigger{900, 700};
    const int all = AnchorTop | AnchorBottom | AnchorLeft | AnchorRight;
    // The split panel grows in height, bottom lists move down (the view table: widget tests).
    EXPECT_EQ(AnchoredRect((PixelRect{536, 56, 216, 424}), design, bigger, AnchorTop | AnchorBottom | AnchorRight),
              (PixelRect{678, 56, 216, 575}));
    EXPECT_EQ(AnchoredRect((PixelRect{8, 520, 88, 21}), design, bigger, AnchorBottom | AnchorLeft), (PixelRect{8, 671, 88, 21}));
    EXPECT_EQ(AnchoredRect((PixelRect{536, 32, 88, 21}), design, bigger, AnchorTop | AnchorRight), (PixelRect{678, 32, 88, 21}));
    // Shrinking below the design never gives a negative size.
    EXPECT_EQ(AnchoredRect((PixelRect{8, 32, 520, 480}), design, PixelSize{0, 0}, all), (PixelRect{8, 32, 0, 0}));
}

// The panel on the "Channels" page is 176 x 32 with a sunken frame: 171 columns, baseline 27.
const HistogramPanel panel(176, 32);

TEST(HistogramPanelMath, BinsAndBars)
{
    // 50 pixels of value 100 against a channel range 0..65535.
    const std::vector<unsigned short> constant(50, 100);
    const PanelBins bins = panel.Count(constant.data(), constant.size());
    ASSERT_EQ(bins.counts.size(), 171u);
    EXPECT_EQ(bins.counts[0], 9); // ln 51 / ln 1.5 = 9.70
    EXPECT_EQ(bins.counts[1], 0);
    EXPECT_EQ(bins.hrange, 10);
    const PanelAxis full = HistogramPanel::MakeAxis(bins.lo, bins.hi, 0, 65535);
    EXPECT_EQ(full.A, 65536);
    EXPECT_EQ(panel.MarkerX(full, 65535), 170);
    EXPECT_EQ(panel.BarX(bins, full, 0), 0); // 171 * 100 / 65536 rounds down to 0
    EXPECT_EQ(panel.BarTop(bins, 0), 27 - 24);
    EXPECT_EQ(panel.BarTop(bins, 1), 27);

    // Three zeros and seven full-scale values: the extremes land in the first and last bin.
    std::vector<unsigned short> ends(3, 0);
    ends.insert(ends.end(), 7, 65535);
    const PanelBins two = panel.Count(ends.data(), ends.size());
    EXPECT_EQ(two.counts[0], 3);   // ln 4 / ln 1.5 = 3.42
    EXPECT_EQ(two.counts[170], 5); // ln 8 / ln 1.5 = 5.13
    EXPECT_FALSE(HistogramPanel(5, 32).IsDrawable());
    // (Bars sharing the markers' origin: the panel's widget test.)
}

TEST(HistogramPanelMath, MarkersHitZoneAndDrag)
{
    struct Ends { int lo, hi, xmax; } ends[] = {{1000, 2000, 170}, {0, 100, 169}, {5, 5, 0}}; // 171 * 100 / 101
    for (const Ends& c : ends) {
        const PanelAxis axis = HistogramPanel::MakeAxis(c.lo, c.hi, c.lo, c.hi);
        EXPECT_EQ(panel.MarkerX(axis, c.lo), 0) << c.lo;
        EXPECT_EQ(panel.MarkerX(axis, c.hi), c.xmax) << c.hi;
    }
    // The 3/4-pixel zone and the lower marker first: the panel's widget test.
    EXPECT_EQ(HistogramPanel::HitTest(0, INT_MIN, INT_MAX), -1);
    struct DragCase { int a0, a1, x, histstart, delta; } drags[] = {
        {0, 65535, 0, 171, -65535}, {0, 65535, 40, 50, -3832}, // -655350 / 171 truncates toward zero
        {998, 3945, 11, 10, 17},    {100, 100, 500, 0, 0},     {INT_MIN, INT_MAX, 171, 0, INT_MAX},
    };
    for (const DragCase& c : drags) {
        const PanelAxis axis = HistogramPanel::MakeAxis(c.a0, c.a1, c.a0, c.a1);
        EXPECT_EQ(panel.DragDelta(axis, c.x, c.histstart), c.delta) << c.a0 << ".." << c.a1 << " x " << c.x;
    }
    const PanelAxis wide = HistogramPanel::MakeAxis(0, 0, INT_MIN, INT_MAX);
    EXPECT_EQ(panel.MarkerX(wide, INT_MIN), 0);
    EXPECT_EQ(panel.MarkerX(wide, INT_MAX), 170);
    EXPECT_EQ(HistogramPanel::MoveMarker(INT_MAX - 5, 10), INT_MAX);
    EXPECT_EQ(HistogramPanel::MoveMarker(INT_MIN + 5, -10), INT_MIN);
    EXPECT_EQ(HistogramPanel::MoveMarker(998, 65535), 66533);
}

TEST(MeasurementMath, RegionIsClampedAndMustRunRightAndDown)
{
    const Measurement m(vec({64, 48, 5}), 0, 1, -1, false);
    const Vector cursor = vec({32, 24, 2});
    struct Case { Vector s, e; bool ok; std::vector<int> start, end; } cases[] = {
        {vec({10, 10, 0}), vec({19, 14, 0}), true, {10, 10, 2}, {20, 15, 3}}, // both corners included
        {vec({-5, 40, 0}), vec({70, 60, 0}), true, {0, 40, 2}, {64, 48, 3}},
        {vec({70, 50, 0}), vec({80, 60, 0}), true, {63, 47, 2}, {64, 48, 3}},     // wholly right of and below
        {vec({-20, -20, 0}), vec({-10, -10, 0}), true, {0, 0, 2}, {1, 1, 3}},     // wholly left of and above
        {vec({INT_MIN, INT_MIN, 0}), vec({INT_MAX, INT_MAX, 0}), true, {0, 0, 2}, {64, 48, 3}},
        {vec({19, 10, 0}), vec({10, 14, 0}), false, {-7}, {-7}}, // leftwards
        {vec({10, 14, 0}), vec({19, 10, 0}), false, {-7}, {-7}}, // upwards
        {vec({10, 10, 0}), vec({10, 14, 0}), false, {-7}, {-7}}, // no width
    };
    for (const Case& c : cases) {
        Vector start = vec({-7}), end = vec({-7});
        EXPECT_EQ(m.RegionBlock(c.s, c.e, cursor, start, end), c.ok) << c.s[0] << "," << c.s[1];
        EXPECT_EQ(elems(start), c.start) << c.s[0] << "," << c.s[1];
        EXPECT_EQ(elems(end), c.end) << c.s[0] << "," << c.s[1];
    }
    Vector start, end;
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 1, 1, -1, false)
                     .RegionBlock(vec({1, 1, 1}), vec({5, 5, 1}), vec({0, 0, 0}), start, end));
}

TEST(MeasurementMath, ChannelsSpanTheirDimensionOnlyInListMode)
{
    const Vector size = vec({64, 48, 3, 7});
    const Vector cursor = vec({1, 2, 1, 4});
    Vector start, end;
    const Vector s = vec({0, 0, 0, 0}), e = vec({3, 3, 0, 0});
    ASSERT_TRUE(Measurement(size, 0, 1, 2, true).RegionBlock(s, e, cursor, start, end));
    EXPECT_EQ(elems(start), (std::vector<int>{0, 0, 0, 4}));
    EXPECT_EQ(elems(end), (std::vector<int>{4, 4, 3, 5}));
    ASSERT_TRUE(Measurement(size, 0, 1, 2, false).RegionBlock(s, e, cursor, start, end));
    EXPECT_EQ(elems(start), (std::vector<int>{0, 0, 1, 4}));
    EXPECT_EQ(elems(end), (std::vector<int>{4, 4, 2, 5}));
    Measurement(size, 3, 0, -1, false).PlaneBlock(cursor, start, end);
    EXPECT_EQ(elems(start), (std::vector<int>{0, 2, 1, 0}));
    EXPECT_EQ(elems(end), (std::vector<int>{64, 3, 2, 7}));
}

TEST(MeasurementMath, OrderPutsTheViewPlaneFirst)
{
    struct Case { int n, dx, dy, cd; std::vector<int> order; int chdim; } cases[] = {
        {4, 0, 1, 3, {0, 1, 2, 3}, 3},
        {4, 2, 0, 1, {2, 0, 1, 3}, 2},
        {4, 3, 2, 0, {3, 2, 0, 1}, 2},
        // The channel dimension on a view axis takes the entry appended last before it.
        {3, 1, 0, 0, {1, 0, 2}, 1},
        {3, 2, 0, 2, {2, 0, 1}, 2},
    };
    for (const Case& c : cases) {
        Vector size;
        for (int i = 0; i < c.n; ++i)
            size.push_back(5);
        const Measurement m(size, c.dx, c.dy, c.cd, c.cd >= 0);
        EXPECT_EQ(elems(m.Order()), c.order) << c.dx << " " << c.dy << " " << c.cd;
        EXPECT_EQ(m.ChannelDim(), c.chdim) << c.dx << " " << c.dy << " " << c.cd;
    }
}

TEST(MeasurementMath, RegionBitmapIsCapped)
{
    struct Case { int w, h; double zx, zy; int bw, bh; } cases[] = {
        {10, 5, 1.5, 0.5, 15, 2},        {4096, 4097, 1.0, 1.0, 4096, 4096},
        {100000, 1, 1e300, 1.0, 4096, 1}, {3, 3, 0.25, 0.25, 0, 0},     {10, 5, kNaN, -2.0, 0, 0},
        {10, 5, kInf, 1.0, 0, 5},
    };
    for (const Case& c : cases) {
        const BitmapSize b = Measurement::RegionBitmapSize(c.w, c.h, c.zx, c.zy);
        EXPECT_EQ(b.width, c.bw) << c.w << " x " << c.zx;
        EXPECT_EQ(b.height, c.bh) << c.h << " x " << c.zy;
    }
}

TEST(MeasurementMath, LineNeedsBothEndsInsideAndApart)
{
    const Measurement m(vec({64, 48, 3}), 0, 1, -1, false);
    struct Case { Vector s, e; bool ok; } cases[] = {
        {vec({0, 0, 1}), vec({63, 47, 1}), true},   {vec({5, 7, 1}), vec({64, 7, 1}), false},
        {vec({5, 7, 1}), vec({5, 48, 1}), false},   {vec({-1, 7, 1}), vec({25, 7, 1}), false},
        {vec({5, 7, 1}), vec({5, 7, 2}), false}, // the same point of the view
    };
    for (const Case& c : cases)
        EXPECT_EQ(m.LineAccepted(c.s, c.e), c.ok) << c.s[0] << "," << c.s[1] << " " << c.e[0] << "," << c.e[1];
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 0, -1, -1, false).LineAccepted(vec({5, 7, 1}), vec({25, 7, 1})));
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 0, 0, -1, false).LineAccepted(vec({5, 7, 1}), vec({25, 7, 1})));
}

TEST(MeasurementMath, PhysicalLengthOfALine)
{
    const Measurement xy(vec({64, 48}), 0, 1, -1, false);
    struct Case { Vector s, e; std::vector<double> ps; int length; } cases[] = {
        {vec({0, 0}), vec({3, 4}), {0, 2}, 8},    // x has no size
        {vec({0, 0}), vec({3, 4}), {kNaN, 2}, 8}, // nor does a size that is not a number
        {vec({3, 4}), vec({0, 0}), {10, 10}, 50},
        {vec({0, 0}), vec({1, 1}), {1, 1}, 1}, // sqrt 2 truncates
        {vec({0, 0}), vec({3, 4}), {1e9, 1e9}, INT_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xy.LineLength(c.s, c.e, c.ps), c.length) << c.ps[0] << " " << c.ps[1];
    // With the axes exchanged, the view's horizontal dimension 1 brings its own size.
    EXPECT_EQ(Measurement(vec({64, 48}), 1, 0, -1, false).LineLength(vec({2, 10}), vec({2, 20}), {100, 300}), 3000);
}

} // namespace

TEST(FitMath, ZoomAndWindowSize)
{
    struct Fit { double extent, depth; int table; double zoom; } fits[] = {
        {256, 0, 515, 2.0},     // (515 - 3) / 256
        {100, 50, 403, 400.0 / 150},  // the side track 133.3 within a third of the table (134)
        {100, 100, 403, 2.66},  // 400 / 200 = 2 gives a 200-pixel side track: capped at 134
        {0, 10, 400, 1.0},      // nothing to fit
    };
    for (const Fit& f : fits)
        EXPECT_NEAR(FitZoom(f.extent, f.depth, f.table), f.zoom, 1e-12) << f.extent << " " << f.depth;
    EXPECT_GT(FitZoom(100, 0, 2), 0.0); // a table smaller than the gap still gives a zoom

    struct Size { PixelSize screen, window; } sizes[] = {
        {{1920, 1080}, {1536, 864}}, {{1280, 800}, {1024, 720}}, {{800, 600}, {800, 600}}, {{3840, 2160}, {3072, 1728}}};
    for (const Size& s : sizes)
        EXPECT_EQ(DefaultWindowSize(s.screen), s.window) << s.screen.width;
}

TEST(MatchingLevel, FinestLevelWhosePixelsCoverAScreenPixel)
{
    const std::vector<std::pair<double, double>> xy = {{1, 1}, {2, 2}, {4, 4}};
    EXPECT_EQ(MatchingLevel(xy, 1.0, 1.0), 0);
    EXPECT_EQ(MatchingLevel(xy, 3.0, 3.0), 0);
    EXPECT_EQ(MatchingLevel(xy, 0.6, 0.6), 1);   // level 0 would be finer than the screen
    EXPECT_EQ(MatchingLevel(xy, 0.4999, 0.4999), 1); // a fit zoom a hair under 1/2
    EXPECT_EQ(MatchingLevel(xy, 0.3, 0.3), 2);
    EXPECT_EQ(MatchingLevel(xy, 0.01, 0.01), 2); // nothing coarser exists
    EXPECT_EQ(MatchingLevel(xy, 0.3, 1.0), 2);   // both axes must be covered
    // A side view whose depth the pyramid never coarsens follows its other axis alone.
    const std::vector<std::pair<double, double>> xz = {{1, 1}, {2, 1}, {4, 1}};
    EXPECT_EQ(MatchingLevel(xz, 0.5, 0.1), 1);
    EXPECT_EQ(MatchingLevel({}, 1.0, 1.0), 0);
    EXPECT_EQ(MatchingLevel(xy, std::nan(""), 1.0), 2);
}

TEST(ScaleBarMath, RoundLengths)
{
    struct Case { double nmPerPixel; int max; double nm; int pixels; const char* label; } cases[] = {
        {100, 200, 20000, 200, "20 \u00b5m"},  // exactly 20 um fits
        {50, 120, 5000, 100, "5 \u00b5m"},     // 6 um: 5 um is the roundest below
        {7, 100, 500, 71, "500 nm"},
        {1e6 / 3, 300, 1e8, 300, "100 mm"},
        {0, 100, 0, 0, ""},                     // unknown pixel size
        {0.001, 100, 0, 0, ""},                 // not even 1 nm fits
    };
    for (const Case& c : cases) {
        const ScaleBar bar = ChooseScaleBar(c.nmPerPixel, c.max);
        EXPECT_DOUBLE_EQ(bar.nm, c.nm) << c.nmPerPixel;
        EXPECT_EQ(bar.pixels, c.pixels) << c.nmPerPixel;
        EXPECT_EQ(bar.label, std::string(c.label)) << c.nmPerPixel;
    }
}

TEST(HistogramRange, PercentileRange)
{
    struct Case
    {
        std::vector<unsigned short> values;
        double low, high;
        int lo, hi;
    } cases[] = {
        {{}, 0.001, 0.999, 0, 65535},
        {{7}, 0.001, 0.999, 7, 8},              // one value: widened so it still maps
        {{65535, 65535}, 0.001, 0.999, 65534, 65535},
        {{5, 1, 9, 3}, 0.0, 1.0, 1, 9},
        {{5, 1, 9, 3}, 0.4, 0.6, 3, 5},         // ranks floor(1.2) = 1 and ceil(1.8) = 2
    };
    for (const Case& c : cases) {
        const auto [lo, hi] = HistogramPanel::PercentileRange(c.values.data(), c.values.size(), c.low, c.high);
        EXPECT_EQ(lo, c.lo) << c.values.size();
        EXPECT_EQ(hi, c.hi) << c.values.size();
    }
}
