#pragma once

#include <cstddef>
#include <vector>

#include "Region.h"

namespace Measure {

// A run of pixels [x0, x1) on row y.
struct Span
{
    int y;
    int x0;
    int x1;
};

// The pixels of an area region that lie inside a width x height plane, as runs in row order.
// A pixel belongs to the region when its centre lies inside the outline (even-odd rule for
// self-crossing polygons); a centre exactly on the outline counts where the outline is the
// region's right side, not its left, which gives ImageJ's pixel counts.
// Parts outside the plane are cut off, so a region wholly outside has no runs.
class RegionMask
{
public:
    RegionMask() = default;
    // Point regions give the pixels their points fall in, lines and polylines no pixels.
    RegionMask(const Region& region, int width, int height);

    const std::vector<Span>& Spans() const { return m_spans; }
    size_t PixelCount() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }
    // Membership of one pixel (a binary search over the runs).
    bool Contains(int x, int y) const;

private:
    void addRow(int y, std::vector<double>& crossings, int width);

    std::vector<Span> m_spans;
    size_t m_count = 0;
};

} // namespace Measure
