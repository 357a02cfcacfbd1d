#include "RegionMask.h"

#include <algorithm>
#include <cmath>

namespace Measure {

namespace {

// The first pixel index whose centre lies right of x (centres at i + 0.5), clamped to
// [0, limit] so that far-away coordinates cannot overflow an int. A run between crossings a
// and b is the centres in (a, b]: a centre on an outline belongs to the area on its left.
int FirstCentreAfter(double x, int limit)
{
    const double i = std::floor(x + 0.5);
    return static_cast<int>(std::clamp(i, 0.0, static_cast<double>(limit)));
}

} // namespace

void RegionMask::addRow(int y, std::vector<double>& crossings, int width)
{
    std::sort(crossings.begin(), crossings.end());
    for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
        const int x0 = FirstCentreAfter(crossings[i], width);
        const int x1 = FirstCentreAfter(crossings[i + 1], width);
        if (x1 <= x0)
            continue;
        // Runs of one row that touch (a self-crossing outline) merge into one.
        if (!m_spans.empty() && m_spans.back().y == y && m_spans.back().x1 >= x0) {
            m_count += static_cast<size_t>(std::max(0, x1 - m_spans.back().x1));
            m_spans.back().x1 = std::max(m_spans.back().x1, x1);
            continue;
        }
        m_spans.push_back({y, x0, x1});
        m_count += static_cast<size_t>(x1 - x0);
    }
    crossings.clear();
}

RegionMask::RegionMask(const Region& region, int width, int height)
{
    if (width <= 0 || height <= 0 || !region.IsValid())
        return;
    double bx0, by0, bx1, by1;
    region.Bounds(bx0, by0, bx1, by1);
    const int row0 = FirstCentreAfter(by0, height);
    const int row1 = FirstCentreAfter(by1, height);

    switch (region.kind) {
    case RegionKind::Point: {
        std::vector<std::pair<int, int>> pixels;
        for (const PointF& p : region.points)
            if (p.x >= 0 && p.y >= 0 && p.x < width && p.y < height)
                pixels.emplace_back(static_cast<int>(p.y), static_cast<int>(p.x));
        std::sort(pixels.begin(), pixels.end());
        pixels.erase(std::unique(pixels.begin(), pixels.end()), pixels.end());
        for (const auto& [y, x] : pixels)
            m_spans.push_back({y, x, x + 1});
        m_count = pixels.size();
        return;
    }
    case RegionKind::Line:
    case RegionKind::Polyline:
        return;
    case RegionKind::Rectangle: {
        const int x0 = FirstCentreAfter(bx0, width), x1 = FirstCentreAfter(bx1, width);
        if (x1 > x0)
            for (int y = row0; y < row1; ++y)
                m_spans.push_back({y, x0, x1});
        m_count = static_cast<size_t>(std::max(0, x1 - x0)) * static_cast<size_t>(std::max(0, row1 - row0));
        return;
    }
    case RegionKind::Ellipse: {
        const double cx = (bx0 + bx1) / 2, cy = (by0 + by1) / 2, rx = (bx1 - bx0) / 2, ry = (by1 - by0) / 2;
        if (rx <= 0 || ry <= 0)
            return;
        std::vector<double> crossings;
        for (int y = row0; y < row1; ++y) {
            const double dy = (y + 0.5 - cy) / ry;
            if (dy * dy >= 1)
                continue;
            const double half = rx * std::sqrt(1 - dy * dy);
            crossings = {cx - half, cx + half};
            addRow(y, crossings, width);
        }
        return;
    }
    case RegionKind::Polygon:
    case RegionKind::Freehand:
        break;
    }

    // Polygon: every edge adds its crossing with the centre line of each row it spans to that
    // row's list, so the work grows with the crossings rather than rows x edges.
    if (row1 <= row0)
        return;
    std::vector<std::vector<double>> rows(static_cast<size_t>(row1 - row0));
    const std::vector<PointF>& p = region.points;
    for (size_t i = 0; i < p.size(); ++i) {
        const PointF& a = p[i];
        const PointF& b = p[(i + 1) % p.size()];
        if (a.y == b.y)
            continue;
        // Rows whose centre y + 0.5 lies in [min y, max y): half-open, so a vertex shared
        // by two edges counts once.
        const double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
        const int r0 = std::max(row0, FirstCentreAfter(lo, height));
        const int r1 = std::min(row1, FirstCentreAfter(hi, height));
        const double slope = (b.x - a.x) / (b.y - a.y);
        for (int y = r0; y < r1; ++y)
            rows[static_cast<size_t>(y - row0)].push_back(a.x + (y + 0.5 - a.y) * slope);
    }
    for (int y = row0; y < row1; ++y)
        addRow(y, rows[static_cast<size_t>(y - row0)], width);
}

bool RegionMask::Contains(int x, int y) const
{
    const auto it = std::upper_bound(m_spans.begin(), m_spans.end(), Span{y, x, x},
                                     [](const Span& a, const Span& b) { return a.y != b.y ? a.y < b.y : a.x0 < b.x0; });
    if (it == m_spans.begin())
        return false;
    const Span& s = *(it - 1);
    return s.y == y && x >= s.x0 && x < s.x1;
}

} // namespace Measure
