// The window's numeric rules, checked against hand-worked values.
#include <climits>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "ViewMath.h"

using namespace ImageViewer;

namespace {

const ViewAxes k3D{0, 1, 2, 2}; // x, y, XZ = YZ = z

TEST(CursorMoveMask, DependencyRule)
{
    struct Case
    {
        const char* what;
        int d;
        ViewAxes axes;
        bool collapsed;
        int cd;
        int mask;
    } cases[] = {
        {"z moves only the XY plane", 2, k3D, false, -1, 1},
        {"x moves only the YZ plane", 0, k3D, false, -1, 4},
        {"y moves only the XZ plane", 1, k3D, false, -1, 2},
        {"a projected x changes nothing", 0, k3D, true, -1, 0},
        {"t in x,y,z,t moves all three", 3, k3D, false, -1, 7},
        {"t as channel dimension moves none", 3, k3D, false, 3, 0},
        {"t with a different channel dimension", 3, k3D, false, 2, 7},
        {"XZ and YZ on different dimensions: z", 2, ViewAxes{0, 1, 2, 3}, false, -1, 1 | 4},
        {"XZ and YZ on different dimensions: t", 3, ViewAxes{0, 1, 2, 3}, false, -1, 1 | 2},
        {"no dimension", -1, k3D, false, -1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CursorMoveMask(c.d, c.axes, c.collapsed, c.cd), c.mask) << c.what;
}

TEST(ProjectionChangeMask, ViewsWithoutTheDimensionAsAxis)
{
    EXPECT_EQ(ProjectionChangeMask(2, k3D), 1);
    EXPECT_EQ(ProjectionChangeMask(0, k3D), 4);
    EXPECT_EQ(ProjectionChangeMask(1, k3D), 2);
    EXPECT_EQ(ProjectionChangeMask(3, k3D), 7);
}

TEST(MouseToPixel, TruncatesTowardZero)
{
    struct Case
    {
        double m, delta, zoom;
        int pixel;
    } cases[] = {
        {9, 10, 2, 0},    // -0.5 truncates to 0: less than a pixel left of the picture still hits column 0
        {7, 10, 2, -1},   // -1.5
        {21, 0, 2, 10},   // 10.5
        {100, 0, 1.5, 66}, // 66.67
        {-3, 0, 1, -3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MouseToPixel(c.m, c.delta, c.zoom), c.pixel) << c.m << " " << c.delta << " " << c.zoom;
}

TEST(MouseToPixel, UnrepresentableCoordinatesLieOutside)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(MouseToPixel(10, 0, 0), kPixelLimit);         // +inf
    EXPECT_EQ(MouseToPixel(-10, 0, 0), -kPixelLimit);       // -inf
    EXPECT_EQ(MouseToPixel(0, 0, 0), -kPixelLimit);         // 0/0 = NaN
    EXPECT_EQ(MouseToPixel(10, 0, 1e-300), kPixelLimit);    // far beyond int
    EXPECT_EQ(MouseToPixel(10, 0, inf), 0);                 // infinite zoom: everything at 0
    EXPECT_EQ(MouseToPixel(10, -2147483647.0, 1e-9), kPixelLimit);
    // Differences of two saturated coordinates stay representable.
    EXPECT_LE(static_cast<long long>(kPixelLimit) * 2, INT_MAX);
}

TEST(SaturatingArithmetic, ClampsToIntRange)
{
    EXPECT_EQ(SaturatingTruncate(1e300, 5), INT_MAX);
    EXPECT_EQ(SaturatingTruncate(-1e300, 5), INT_MIN);
    EXPECT_EQ(SaturatingTruncate(std::nan(""), 5), 5);
    EXPECT_EQ(SaturatingTruncate(-37.9, 0), -37);
    EXPECT_EQ(SaturatingTruncate(2147483647.5, 0), INT_MAX);
    EXPECT_EQ(SaturatingSubtract(INT_MIN, 1), INT_MIN);
    EXPECT_EQ(SaturatingSubtract(10, INT_MIN), INT_MAX);
    EXPECT_EQ(SaturatingSubtract(50, 20), 30);
}

TEST(Wheel, StepsAndFactor)
{
    EXPECT_EQ(WheelSteps(120, 3), 3);
    EXPECT_EQ(WheelSteps(-120, 3), -3);
    EXPECT_EQ(WheelSteps(40, 3), 1);
    EXPECT_EQ(WheelSteps(39, 3), 0);
    EXPECT_EQ(WheelSteps(-40, 3), -1);
    EXPECT_EQ(WheelSteps(INT_MAX, INT_MAX), INT_MAX);
    EXPECT_EQ(WheelZoomFactor(3), 1.2968395546510099);
    EXPECT_EQ(WheelZoomFactor(-3), 0.7711054127039704);
    EXPECT_NEAR(WheelZoomFactor(8), 2.0, 1e-15);
    EXPECT_EQ(WheelZoomFactor(0), 1.0);
}

TEST(Wheel, ZoomAboutTheMouse)
{
    // 100 - 100 * 1.29684 - 0.29684 * 31 = -38.88 -> -38
    EXPECT_EQ(ZoomAboutMouse(100, 0, 1.2968395546510099, 31), -38);
    // Zooming back out at the same place returns to the start (up to the truncations):
    // 100 - (100 + 38) * 0.7711054127 - (0.7711054127 - 1) * 31 = 100 - 106.4125 + 7.0957 = 0.683 -> 0
    EXPECT_EQ(ZoomAboutMouse(100, -38, 0.7711054127039704, 31), 0);
    EXPECT_EQ(ZoomAboutMouse(0, INT_MIN, 2.0, 0), INT_MIN); // 0 - 2^31 * 2 saturates
}

TEST(Layout, SideViewSizes)
{
    EXPECT_FLOAT_EQ(SideViewSize(31, 1.0, 520), 31.0f);
    EXPECT_FLOAT_EQ(SideViewSize(400, 1.0, 520), 260.0f);
    EXPECT_FLOAT_EQ(SideViewSize(400, 1.0, 480), 240.0f);
    EXPECT_FLOAT_EQ(SideViewSize(48, 3.0, 480), 144.0f);
    EXPECT_FLOAT_EQ(SideViewSize(31, 1.2968395546510099, 520), 40.202026f);
    EXPECT_FLOAT_EQ(SideViewSize(80, 3.0, 481), 240.0f); // half of an odd size in integers
}

TEST(Layout, TrackSizes)
{
    // The design percentages on the design table.
    EXPECT_EQ(ComputeTrackSizes({{false, 23.28431f}, {false, 76.71568f}}, 520), (std::vector<int>{121, 399}));
    EXPECT_EQ(ComputeTrackSizes({{false, 18.05556f}, {false, 81.94444f}}, 480), (std::vector<int>{86, 394}));
    EXPECT_EQ(ComputeTrackSizes({{true, 31}, {false, 100}}, 520), (std::vector<int>{31, 489}));
    EXPECT_EQ(ComputeTrackSizes({{true, 40.2f}, {false, 100}}, 520), (std::vector<int>{40, 480}));
    EXPECT_EQ(ComputeTrackSizes({{true, 600}, {false, 100}}, 520), (std::vector<int>{600, 0}));
    EXPECT_EQ(ComputeTrackSizes({{true, std::numeric_limits<float>::infinity()}, {false, 100}}, 520),
              (std::vector<int>{0, 520}));
}

TEST(Layout, Anchoring)
{
    const QSize design(758, 549), bigger(900, 700);
    // The view table grows both ways, the split panel in height, bottom lists move down.
    EXPECT_EQ(AnchoredRect(QRect(8, 32, 520, 480), design, bigger, AnchorTop | AnchorBottom | AnchorLeft | AnchorRight),
              QRect(8, 32, 662, 631));
    EXPECT_EQ(AnchoredRect(QRect(536, 56, 216, 424), design, bigger, AnchorTop | AnchorBottom | AnchorRight),
              QRect(678, 56, 216, 575));
    EXPECT_EQ(AnchoredRect(QRect(8, 520, 88, 21), design, bigger, AnchorBottom | AnchorLeft), QRect(8, 671, 88, 21));
    EXPECT_EQ(AnchoredRect(QRect(440, 520, 88, 21), design, bigger, AnchorBottom | AnchorRight),
              QRect(582, 671, 88, 21));
    EXPECT_EQ(AnchoredRect(QRect(536, 32, 88, 21), design, bigger, AnchorTop | AnchorRight), QRect(678, 32, 88, 21));
    // Shrinking below the design never gives a negative size.
    EXPECT_EQ(AnchoredRect(QRect(8, 32, 520, 480), design, QSize(0, 0), AnchorTop | AnchorBottom | AnchorLeft | AnchorRight),
              QRect(8, 32, 0, 0));
}

} // namespace
