#include "ViewMath.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

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

int PanForPoint(double m, double p, double zoom)
{
    return SaturatingTruncate(std::round(m - p * zoom), 0);
}

namespace {

// The most a side view's track takes of the table: a deep stack's side views would
// otherwise crowd out the XY view, which is what the user came for.
int sideViewCap(int table)
{
    return table / 3;
}

} // namespace

double FitZoom(double extent, double depth, int table)
{
    if (!(extent > 0) || !std::isfinite(extent))
        return 1.0;
    const double side = std::isfinite(depth) && depth > 0 ? depth : 0.0;
    const double room = table - 3.0;
    const double cap = sideViewCap(table);
    double zoom = room / (extent + side);
    // Past its cap the side track stops growing and the picture gets the rest.
    if (side * zoom > cap)
        zoom = (room - cap) / extent;
    return zoom > 1e-6 && std::isfinite(zoom) ? zoom : 1e-6;
}

int CentredOffset(int cell, double length)
{
    return SaturatingTruncate(std::floor((cell - length) / 2), 0);
}

PixelSize DefaultWindowSize(const PixelSize& available)
{
    const int w = std::max(available.width * 4 / 5, std::min(1024, available.width));
    const int h = std::max(available.height * 4 / 5, std::min(720, available.height));
    return PixelSize{w, h};
}

std::string FormatLength(double nm)
{
    if (!std::isfinite(nm))
        return std::string();
    const double a = std::fabs(nm);
    const char* unit = "nm";
    double v = nm;
    if (a >= 1e6) {
        unit = "mm";
        v = nm / 1e6;
    } else if (a >= 1e3) {
        unit = "\u00b5m";
        v = nm / 1e3;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g ", v);
    return text + std::string(unit);
}

SpectrumCalibration DefaultSpectrumCalibration(int count)
{
    const SpectrumCalibration builtIn;
    // The position of 700 nm under the built-in calibration (about 715).
    const double last = builtIn.p1 + (700 - builtIn.w1) * (builtIn.p2 - builtIn.p1) / (builtIn.w2 - builtIn.w1);
    if (count - 1 >= last || count < 2)
        return builtIn;
    return SpectrumCalibration{0, 400, static_cast<double>(count - 1), 700};
}

bool UsesFileWavelengths(const SpectrumCalibration& cal, int count)
{
    const std::vector<double>& nm = cal.fileWavelengths;
    if (count < 2 || nm.size() != static_cast<size_t>(count))
        return false;
    for (double w : nm)
        if (!std::isfinite(w))
            return false;
    const auto same = [](double a, double b) { return std::fabs(a - b) <= 5e-6 * std::max(std::fabs(a), std::fabs(b)); };
    return cal.p1 == 0 && cal.p2 == count - 1 && same(cal.w1, nm.front()) && same(cal.w2, nm.back());
}

ScaleBar ChooseScaleBar(double nmPerPixel, int maxPixels)
{
    ScaleBar bar;
    if (!(nmPerPixel > 0) || !std::isfinite(nmPerPixel) || maxPixels <= 0)
        return bar;
    const double longest = nmPerPixel * maxPixels;
    double decade = std::pow(10.0, std::floor(std::log10(longest)));
    double nm = 0;
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * decade <= longest * (1 + 1e-12)) {
            nm = step * decade;
            break;
        }
    }
    if (nm < 1)
        return bar;
    bar.nm = nm;
    bar.pixels = static_cast<int>(std::lround(nm / nmPerPixel));
    bar.label = FormatLength(nm);
    return bar;
}

float SideViewSize(int extent, double zoom, int tableSize)
{
    const double depth = extent * zoom;
    const int cap = sideViewCap(tableSize);
    if (depth < cap)
        return static_cast<float>(depth);
    return static_cast<float>(cap);
}

TableFit FitTable(double lengthX, double lengthY, double depthYZ, double depthXZ, int width, int height,
                  double shareColumn, double shareRow)
{
    const auto clean = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    lengthX = clean(lengthX);
    lengthY = clean(lengthY);
    depthYZ = clean(depthYZ);
    depthXZ = clean(depthXZ);
    const auto given = [](double share) { return std::isfinite(share) && share > 0 && share < 1; };
    TableFit fit;
    // The picture's zoom in the room a track of `track` pixels leaves.
    const auto within = [](double length, int table, double track) {
        const double room = table - 3.0 - track;
        return length > 0 ? room / length : std::numeric_limits<double>::infinity();
    };
    const bool column = depthYZ > 0, row = depthXZ > 0;
    if (given(shareColumn) || given(shareRow)) {
        // The automatic tracks first, then those the user gave: the zoom follows the room left.
        const double automatic =
            std::min(FitZoom(lengthX, depthYZ, width), FitZoom(lengthY, depthXZ, height));
        const auto track = [&](bool shown, double share, double depth, int table) {
            if (!shown)
                return 0.0;
            return given(share) ? share * table : std::min(depth * automatic, static_cast<double>(sideViewCap(table)));
        };
        fit.column = static_cast<float>(track(column, shareColumn, depthYZ, width));
        fit.row = static_cast<float>(track(row, shareRow, depthXZ, height));
        const double zoom = std::min(within(lengthX, width, fit.column), within(lengthY, height, fit.row));
        fit.zoom = std::isfinite(zoom) && zoom > 1e-6 ? zoom : 1e-6;
        return fit;
    }
    fit.zoom = std::min(FitZoom(lengthX, depthYZ, width), FitZoom(lengthY, depthXZ, height));
    fit.column = column ? SideViewSize(1, depthYZ * fit.zoom, width) : 0.0f;
    fit.row = row ? SideViewSize(1, depthXZ * fit.zoom, height) : 0.0f;
    return fit;
}

double SideDepthZoom(double zoom, int extent, double room)
{
    if (extent <= 0 || !(room > 0) || !std::isfinite(room))
        return zoom;
    return std::min(zoom, room / extent);
}

double SideShare(double position, int table)
{
    if (!std::isfinite(position) || table <= 0)
        return 0;
    return std::clamp(position / table, 0.05, 0.5);
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

PixelRect AnchoredRect(const PixelRect& design, const PixelSize& designSize, const PixelSize& size, int anchors)
{
    const int dw = size.width - designSize.width;
    const int dh = size.height - designSize.height;
    int x = design.x, y = design.y, w = design.width, h = design.height;
    if ((anchors & AnchorLeft) && (anchors & AnchorRight))
        w += dw;
    else if (anchors & AnchorRight)
        x += dw;
    if ((anchors & AnchorTop) && (anchors & AnchorBottom))
        h += dh;
    else if (anchors & AnchorBottom)
        y += dh;
    return PixelRect{x, y, w < 0 ? 0 : w, h < 0 ? 0 : h};
}

int MatchingLevel(const std::vector<std::pair<double, double>>& factors, double zoomX, double zoomY)
{
    if (factors.empty())
        return 0;
    // A little slack, so that a fit zoom a hair under 1/2 still takes the 2x level.
    constexpr double kCover = 0.999;
    const auto& coarsest = factors.back();
    for (size_t level = 0; level + 1 < factors.size(); ++level) {
        const auto& f = factors[level];
        const bool xOk = f.first * zoomX >= kCover || f.first >= coarsest.first;
        const bool yOk = f.second * zoomY >= kCover || f.second >= coarsest.second;
        if (xOk && yOk)
            return static_cast<int>(level);
    }
    return static_cast<int>(factors.size()) - 1;
}

} // namespace ImageViewer
