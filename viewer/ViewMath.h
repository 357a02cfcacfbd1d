#pragma once

#include <QRect>
#include <QSize>
#include <vector>

// The window's numeric rules, kept free of widgets so that tests call them directly.
namespace ImageViewer {

// View mask bits.
enum ViewBit : int { ViewXY = 1, ViewXZ = 2, ViewYZ = 4, ViewAll = 7 };

// Image dimensions on the view axes; -1 when a list has no selection.
struct ViewAxes
{
    int x = -1;
    int y = -1;
    int xz = -1;
    int yz = -1;
};

// Views whose picture changes when cursor coordinate d moves: a view needs a new picture
// when d is none of its axes, is not collapsed by projection and is not the channel
// dimension cd. Everything else only needs its cursor lines repainted.
int CursorMoveMask(int d, const ViewAxes& axes, bool collapsed, int cd);

// Views that change when the projection box of dimension d is toggled.
int ProjectionChangeMask(int d, const ViewAxes& axes);

// Mouse-to-pixel bounds: coordinates are saturated to +-kPixelLimit so that differences of
// two of them still fit in an int; such a coordinate is always outside any image.
constexpr int kPixelLimit = 1000000000;

// truncate((m - delta) / zoom) toward zero. Non-finite results map to -kPixelLimit and
// out-of-range ones saturate, both of which lie outside the image.
int MouseToPixel(double m, double delta, double zoom);

// Truncation toward zero into the int range; NaN gives `fallback`.
int SaturatingTruncate(double v, int fallback);
// a - b computed without overflow, saturated at the int range.
int SaturatingSubtract(int a, int b);

// Wheel steps for a wheel delta (120 per notch) and the system's scroll lines, truncated.
int WheelSteps(int delta, int scrollLines);
// The zoom factor (2^0.125)^steps.
double WheelZoomFactor(int steps);
// New pan offset along one axis when zooming by f about mouse coordinate m; `side` is the
// current size value of the side column or row, which grows with the zoom as well.
int ZoomAboutMouse(int m, int delta, double f, double side);

// Size of a side view's track: its whole depth at the current zoom, at most half the table.
float SideViewSize(int extent, double zoom, int tableSize);

// One column or row of a table: an absolute size in pixels or a percentage of the rest.
struct TrackStyle
{
    bool absolute = false;
    float value = 0;
};

// Pixel sizes of the tracks for a total size: absolute tracks first, the remainder split
// in proportion to the percentages; the last percent track takes the rounding remainder.
std::vector<int> ComputeTrackSizes(const std::vector<TrackStyle>& tracks, int total);

// Which container edges a control keeps its distance to.
enum Anchor : int { AnchorTop = 1, AnchorBottom = 2, AnchorLeft = 4, AnchorRight = 8 };

// Geometry of an anchored control after its container changed from designSize to size.
QRect AnchoredRect(const QRect& design, const QSize& designSize, const QSize& size, int anchors);

} // namespace ImageViewer
