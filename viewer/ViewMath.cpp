#include "ViewMath.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace ImageViewer {

int CursorMoveMask(int d, const ViewAxes& axes, bool collapsed, int cd)
{
    if (d < 0 || collapsed || d == cd)
        return 0;
    return ProjectionChangeMask(d, axes);
}

int ProjectionChangeMask(int d, const ViewAxes& axes)
{
    int mask = 0;
    if (d != axes.x && d != axes.y)
        mask |= ViewXY;
    if (d != axes.x && d != axes.xz)
        mask |= ViewXZ;
    if (d != axes.y && d != axes.yz)
        mask |= ViewYZ;
    return mask;
}

int MouseToPixel(double m, double delta, double zoom)
{
    const double v = (m - delta) / zoom;
    if (std::isnan(v))
        return -kPixelLimit;
    if (v >= kPixelLimit)
        return kPixelLimit;
    if (v <= -kPixelLimit)
        return -kPixelLimit;
    return static_cast<int>(v);
}

int SaturatingTruncate(double v, int fallback)
{
    if (std::isnan(v))
        return fallback;
    // INT_MAX + 1 is exact in double; anything at or above it saturates.
    if (v >= 2147483648.0)
        return INT_MAX;
    if (v <= -2147483649.0)
        return INT_MIN;
    return static_cast<int>(v);
}

int SaturatingSubtract(int a, int b)
{
    const int64_t r = static_cast<int64_t>(a) - static_cast<int64_t>(b);
    if (r > INT_MAX)
        return INT_MAX;
    if (r < INT_MIN)
        return INT_MIN;
    return static_cast<int>(r);
}

int WheelSteps(int delta, int scrollLines)
{
    const int64_t steps = static_cast<int64_t>(delta) * scrollLines / 120;
    if (steps > INT_MAX)
        return INT_MAX;
    if (steps < INT_MIN)
        return INT_MIN;
    return static_cast<int>(steps);
}

double WheelZoomFactor(int steps)
{
    return std::pow(std::pow(2.0, 0.125), static_cast<double>(steps));
}

int ZoomAboutMouse(int m, int delta, double f, double side)
{
    return SaturatingTruncate(m - (m - static_cast<double>(delta)) * f - (f - 1) * side, delta);
}

float SideViewSize(int extent, double zoom, int tableSize)
{
    const double depth = extent * zoom;
    const int half = tableSize / 2;
    if (depth < half)
        return static_cast<float>(depth);
    return static_cast<float>(half);
}

std::vector<int> ComputeTrackSizes(const std::vector<TrackStyle>& tracks, int total)
{
    std::vector<int> sizes(tracks.size(), 0);
    double percentSum = 0;
    int used = 0;
    int lastPercent = -1;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].absolute) {
            const double v = tracks[i].value;
            sizes[i] = std::isfinite(v) && v > 0 ? static_cast<int>(std::fmin(v, 1e9)) : 0;
            used += sizes[i];
        } else if (tracks[i].value > 0 && std::isfinite(tracks[i].value)) {
            percentSum += tracks[i].value;
            lastPercent = static_cast<int>(i);
        }
    }
    const int rest = total > used ? total - used : 0;
    if (lastPercent < 0 || percentSum <= 0)
        return sizes;
    int given = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].absolute || !(tracks[i].value > 0) || !std::isfinite(tracks[i].value))
            continue;
        if (static_cast<int>(i) == lastPercent) {
            sizes[i] = rest - given;
        } else {
            sizes[i] = static_cast<int>(rest * (tracks[i].value / percentSum));
            given += sizes[i];
        }
    }
    return sizes;
}

QRect AnchoredRect(const QRect& design, const QSize& designSize, const QSize& size, int anchors)
{
    const int dw = size.width() - designSize.width();
    const int dh = size.height() - designSize.height();
    int x = design.x(), y = design.y(), w = design.width(), h = design.height();
    if ((anchors & AnchorLeft) && (anchors & AnchorRight))
        w += dw;
    else if (anchors & AnchorRight)
        x += dw;
    if ((anchors & AnchorTop) && (anchors & AnchorBottom))
        h += dh;
    else if (anchors & AnchorBottom)
        y += dh;
    return QRect(x, y, w < 0 ? 0 : w, h < 0 ? 0 : h);
}

} // namespace ImageViewer
