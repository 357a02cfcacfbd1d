#pragma once

// What the measure tests share: building regions, and pixel membership worked out apart
// from the rasteriser.
#include <string>
#include <vector>

#include "Region.h"

namespace measuretest {

inline Measure::Region Make(Measure::RegionKind kind, std::vector<Measure::PointF> points, std::string name = {},
                            std::uint32_t color = 0xffffff00)
{
    Measure::Region r;
    r.kind = kind;
    r.points = std::move(points);
    r.name = std::move(name);
    r.color = color;
    return r;
}

// The even-odd crossing test; a centre on an outline counts where the outline is the
// region's right side.
inline bool InsidePolygon(const std::vector<Measure::PointF>& p, double x, double y)
{
    bool in = false;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        if ((p[i].y > y) != (p[j].y > y) && x <= (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
            in = !in;
    return in;
}

} // namespace measuretest
