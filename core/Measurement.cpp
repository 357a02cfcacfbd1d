#include "Measurement.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace ImageViewer {

using ImageReader::Vector;

namespace {

int bitmapSide(int extent, double zoom)
{
    const double side = static_cast<double>(extent) * zoom;
    if (!std::isfinite(side) || side < 1.0)
        return 0;
    return side >= Measurement::MaxBitmapSide ? Measurement::MaxBitmapSide : static_cast<int>(side);
}

// A pixel size the length cannot use counts as not given.
double usableSize(const std::vector<double>& pixelsize, int d)
{
    if (d < 0 || static_cast<size_t>(d) >= pixelsize.size())
        return 0.0;
    const double p = pixelsize[static_cast<size_t>(d)];
    return std::isfinite(p) ? p : 0.0;
}

} // namespace

Measurement::Measurement(const Vector& size, int dx, int dy, int cd, bool listMode)
    : m_size(size), m_dx(dx), m_dy(dy), m_cd(cd), m_listMode(listMode)
{
}

bool Measurement::HasAxes() const
{
    const int n = static_cast<int>(m_size.size());
    return m_dx >= 0 && m_dy >= 0 && m_dx < n && m_dy < n && m_dx != m_dy;
}

bool Measurement::inside(const Vector& p) const
{
    if (p.size() != m_size.size())
        return false;
    return p[m_dx] >= 0 && p[m_dx] < m_size[m_dx] && p[m_dy] >= 0 && p[m_dy] < m_size[m_dy];
}

bool Measurement::RegionBlock(const Vector& measstart, const Vector& measend, const Vector& curslice, Vector& start,
                              Vector& end) const
{
    if (!HasAxes() || measstart.size() != m_size.size() || measend.size() != m_size.size() ||
        curslice.size() != m_size.size())
        return false;
    if (!(measstart[m_dx] < measend[m_dx] && measstart[m_dy] < measend[m_dy]))
        return false;
    if (m_size[m_dx] < 1 || m_size[m_dy] < 1)
        return false;

    Vector s = curslice;
    Vector e = curslice + 1;
    for (const int d : {m_dx, m_dy}) {
        // The mouse is not clamped, so the corners may lie anywhere in the int range.
        const long long lo = measstart[d];
        const long long hi = static_cast<long long>(measend[d]) + 1;
        s[d] = static_cast<int>(std::clamp<long long>(lo, 0, m_size[d] - 1));
        e[d] = static_cast<int>(std::clamp<long long>(hi, 1, m_size[d]));
    }
    if (m_listMode && m_cd >= 0 && m_cd < static_cast<int>(m_size.size())) {
        s[m_cd] = 0;
        e[m_cd] = m_size[m_cd];
    }
    start = s;
    end = e;
    return true;
}

bool Measurement::LineAccepted(const Vector& measstart, const Vector& measend) const
{
    if (!HasAxes() || !inside(measstart) || !inside(measend))
        return false;
    return measstart[m_dx] != measend[m_dx] || measstart[m_dy] != measend[m_dy];
}

void Measurement::PlaneBlock(const Vector& curslice, Vector& start, Vector& end) const
{
    start = curslice;
    end = curslice + 1;
    if (m_listMode && m_cd >= 0 && m_cd < static_cast<int>(m_size.size())) {
        start[m_cd] = 0;
        end[m_cd] = m_size[m_cd];
    }
    if (!HasAxes())
        return;
    start[m_dx] = 0;
    start[m_dy] = 0;
    end[m_dx] = m_size[m_dx];
    end[m_dy] = m_size[m_dy];
}

Vector Measurement::Order() const
{
    int chdim = -1;
    return orderAndChannel(chdim);
}

int Measurement::ChannelDim() const
{
    int chdim = -1;
    orderAndChannel(chdim);
    return chdim;
}

// chdim is taken when the walk passes cd, as the last entry appended so far, also when cd
// is a view axis and so was not appended itself.
Vector Measurement::orderAndChannel(int& chdim) const
{
    Vector order;
    order.push_back(m_dx);
    order.push_back(m_dy);
    chdim = -1;
    for (int d = 0; d < static_cast<int>(m_size.size()); ++d) {
        if (d != m_dx && d != m_dy)
            order.push_back(d);
        if (d == m_cd)
            chdim = static_cast<int>(order.size()) - 1;
    }
    return order;
}

BitmapSize Measurement::RegionBitmapSize(int w, int h, double zx, double zy)
{
    return {bitmapSide(w, zx), bitmapSide(h, zy)};
}

int Measurement::LineLength(const Vector& measstart, const Vector& measend, const std::vector<double>& pixelsize) const
{
    if (!HasAxes() || measstart.size() != m_size.size() || measend.size() != m_size.size())
        return 0;
    const double ly = usableSize(pixelsize, m_dy) * (static_cast<double>(measend[m_dy]) - measstart[m_dy]);
    const double lx = usableSize(pixelsize, m_dx) * (static_cast<double>(measend[m_dx]) - measstart[m_dx]);
    const double len = std::sqrt(ly * ly + lx * lx);
    if (!std::isfinite(len) || len >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(len);
}

} // namespace ImageViewer
