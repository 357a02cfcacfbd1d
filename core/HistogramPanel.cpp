#include "HistogramPanel.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace ImageViewer {

namespace {

// The channel range is dragged without limits, so products of a panel width and a value
// distance can pass 2^31; they are formed in 64 bits and the results, which are screen
// positions or values, pinned to the int range.
int toInt(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

} // namespace

HistogramPanel::HistogramPanel(int panelWidth, int panelHeight) : m_width(panelWidth - 5), m_height(panelHeight) {}

PanelBins HistogramPanel::Count(const unsigned short* values, size_t count) const
{
    PanelBins bins;
    if (!IsDrawable())
        return bins;
    // One pass tallies every 16-bit value; range and bins then come from the 65536 tallies,
    // so the per-pixel work is a single increment instead of a division.
    std::vector<unsigned long long> tally(65536, 0);
    for (size_t i = 0; i < count; ++i)
        ++tally[values[i]];
    int lo = 0;
    while (lo < 65536 && tally[static_cast<size_t>(lo)] == 0)
        ++lo;
    int hi = 65535;
    while (hi >= 0 && tally[static_cast<size_t>(hi)] == 0)
        --hi;
    if (lo <= hi) {
        bins.lo = lo;
        bins.hi = hi;
    }
    // An empty plane leaves lo above hi; keep R positive so that nothing divides by zero.
    bins.R = std::max(bins.hi - bins.lo + 1, 1);

    std::vector<unsigned long long> counters(static_cast<size_t>(m_width), 0);
    const long long w = m_width;
    for (int v = lo; v <= hi; ++v) {
        const long long b = (static_cast<long long>(v - bins.lo) * w) / bins.R;
        counters[static_cast<size_t>(b)] += tally[static_cast<size_t>(v)];
    }

    const double ln15 = std::log(1.5);
    bins.counts.resize(counters.size());
    for (size_t j = 0; j < counters.size(); ++j)
        bins.counts[j] = static_cast<int>(std::log(static_cast<double>(counters[j]) + 1.0) / ln15);
    const auto [mn, mx] = std::minmax_element(bins.counts.begin(), bins.counts.end());
    bins.bmin = *mn;
    bins.bmax = *mx;
    bins.hrange = bins.bmax - bins.bmin + 1;
    return bins;
}

PanelAxis HistogramPanel::MakeAxis(int lo, int hi, int chmin, int chmax)
{
    PanelAxis axis;
    axis.a0 = std::min(lo, chmin);
    axis.a1 = std::max(hi, chmax);
    axis.A = std::max<long long>(static_cast<long long>(axis.a1) - axis.a0 + 1, 1);
    return axis;
}

int HistogramPanel::MarkerX(const PanelAxis& axis, int value) const
{
    const long long A = std::max(axis.A, 1LL);
    return toInt((static_cast<long long>(m_width) * (static_cast<long long>(value) - axis.a0)) / A);
}

int HistogramPanel::BarX(const PanelBins& bins, const PanelAxis& axis, int j) const
{
    const long long W = m_width;
    const long long A = std::max(axis.A, 1LL);
    const long long start = (static_cast<long long>(j) * bins.R) / W;
    return toInt((W * start) / A + MarkerX(axis, bins.lo));
}

int HistogramPanel::BarTop(const PanelBins& bins, int j) const
{
    const long long base = Baseline();
    const long long b = bins.counts.at(static_cast<size_t>(j));
    return toInt(base - (base * b) / std::max(bins.hrange, 1));
}

int HistogramPanel::HitTest(int x, int xmin, int xmax)
{
    if (std::llabs(static_cast<long long>(x) - xmin) < 4)
        return 0;
    if (std::llabs(static_cast<long long>(x) - xmax) < 4)
        return 1;
    return -1;
}

int HistogramPanel::DragDelta(const PanelAxis& axis, int x, int histstart) const
{
    if (m_width <= 0)
        return 0;
    const long long span = static_cast<long long>(axis.a1) - axis.a0;
    // Both factors reach 2^32 at worst; bounding the distance keeps the product in 64 bits.
    const long long dist = std::clamp<long long>(static_cast<long long>(x) - histstart, -(1LL << 30), 1LL << 30);
    return toInt((dist * span) / m_width);
}

int HistogramPanel::MoveMarker(int start, int delta)
{
    return toInt(static_cast<long long>(start) + delta);
}

std::pair<int, int> HistogramPanel::PercentileRange(const unsigned short* values, size_t n, double low, double high)
{
    if (n == 0 || !values)
        return {0, 65535};
    std::vector<size_t> tally(65536, 0);
    for (size_t i = 0; i < n; ++i)
        ++tally[values[i]];
    const auto clampFraction = [](double f) { return std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0; };
    const double last = static_cast<double>(n - 1);
    const auto rankLo = static_cast<size_t>(std::floor(clampFraction(low) * last));
    const auto rankHi = static_cast<size_t>(std::ceil(clampFraction(high) * last));
    // The value at a rank: the first whose running count passes it.
    const auto valueAt = [&](size_t rank) {
        size_t seen = 0;
        for (int v = 0; v < 65536; ++v) {
            seen += tally[static_cast<size_t>(v)];
            if (seen > rank)
                return v;
        }
        return 65535;
    };
    int lo = valueAt(rankLo);
    int hi = valueAt(rankHi);
    if (hi <= lo) {
        if (lo < 65535)
            hi = lo + 1;
        else
            lo = hi - 1;
    }
    return {lo, hi};
}

} // namespace ImageViewer
