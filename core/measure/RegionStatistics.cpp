#include "RegionStatistics.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace Measure {

using ImageReader::ValueMap;

namespace {

// Integer sums over display values: exact whatever the region's size, so the variance does
// not lose digits to cancellation.
struct Sums
{
    std::uint64_t n = 0;
    std::uint64_t sum = 0;
    unsigned __int128 squares = 0;
    unsigned min = 65535;
    unsigned max = 0;
};

// Adds values to the block sums in plain C++: the tail of a run, and whole runs where SSE2
// is missing.
void AddScalar(const std::uint16_t* v, size_t n, std::int64_t& sum, std::uint64_t& squares, unsigned& lo, unsigned& hi)
{
    for (size_t i = 0; i < n; ++i) {
        const std::uint32_t x = v[i];
        sum += x;
        squares += std::uint64_t(x) * x;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
}

// One run of a row. The squares are what costs: 64-bit products would halve the vector
// width, so values are shifted to signed (x - 32768) and squared in pairs by pmaddwd, whose
// 32-bit lanes hold the pair sum (at most 2^31) exactly as unsigned; sums, squares and
// extremes of the shifted values are then moved back by the shift.
void AddRun(const std::uint16_t* values, size_t n, Sums& s)
{
    std::int64_t sum = 0;
    std::uint64_t squares = 0;
    unsigned lo = s.min, hi = s.max;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    constexpr size_t block = 1 << 15; // shifted sums per 32-bit lane stay below 2^31
    while (n - i >= 8) {
        const size_t begin = i, stop = i + std::min(block, (n - i) & ~size_t(7));
        __m128i vsum = zero, vsq = zero, vmin = _mm_set1_epi16(32767), vmax = _mm_set1_epi16(-32768);
        for (; i < stop; i += 8) {
            const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i)), flip);
            const __m128i sq = _mm_madd_epi16(x, x);
            vsq = _mm_add_epi64(vsq, _mm_add_epi64(_mm_unpacklo_epi32(sq, zero), _mm_unpackhi_epi32(sq, zero)));
            vsum = _mm_add_epi32(vsum, _mm_madd_epi16(x, ones));
            vmin = _mm_min_epi16(vmin, x);
            vmax = _mm_max_epi16(vmax, x);
        }
        alignas(16) std::int32_t sums[4];
        alignas(16) std::uint64_t sqs[2];
        alignas(16) std::int16_t mins[8], maxs[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), vsum);
        _mm_store_si128(reinterpret_cast<__m128i*>(sqs), vsq);
        _mm_store_si128(reinterpret_cast<__m128i*>(mins), vmin);
        _mm_store_si128(reinterpret_cast<__m128i*>(maxs), vmax);
        // x = xs + 32768: sum x = sum xs + 32768 m, sum x^2 = sum xs^2 + 65536 sum xs + 2^30 m.
        const std::int64_t m = static_cast<std::int64_t>(stop - begin);
        const std::int64_t shifted = std::int64_t(sums[0]) + sums[1] + sums[2] + sums[3];
        sum += shifted + 32768 * m;
        squares += static_cast<std::uint64_t>(static_cast<std::int64_t>(sqs[0] + sqs[1]) + 65536 * shifted +
                                              (std::int64_t(1) << 30) * m);
        for (int k = 0; k < 8; ++k) {
            lo = std::min(lo, static_cast<unsigned>(mins[k] + 32768));
            hi = std::max(hi, static_cast<unsigned>(maxs[k] + 32768));
        }
    }
#endif
    AddScalar(values + i, n - i, sum, squares, lo, hi);
    s.sum += static_cast<std::uint64_t>(sum);
    s.squares += squares;
    s.min = lo;
    s.max = hi;
    s.n += n;
}

// Mean, standard deviation, extremes and sum of display-value sums, as real values.
void Finish(const Sums& s, const ValueMap& map, Statistics& st)
{
    st.count = static_cast<size_t>(s.n);
    if (s.n == 0)
        return;
    const double n = static_cast<double>(s.n);
    const double mean = static_cast<double>(s.sum) / n;
    double variance = 0.0;
    if (s.n > 1) {
        // n * sum(x^2) - sum(x)^2 exactly in 128 bits, then one rounding.
        const unsigned __int128 sum = s.sum;
        const unsigned __int128 num = s.squares * s.n - sum * sum;
        variance = static_cast<double>(num) / (n * (n - 1));
    }
    st.mean = map.ToReal(mean);
    st.stdDev = std::abs(map.scale) * std::sqrt(variance);
    const double a = map.ToReal(s.min), b = map.ToReal(s.max);
    st.min = std::min(a, b);
    st.max = std::max(a, b);
    st.rawIntDen = map.offset * n + map.scale * static_cast<double>(s.sum);
}

// Samples of one line at most: one per pixel along a line longer than any plane's diagonal.
constexpr double maxLineSamples = 1 << 20;

// Bilinear interpolation between pixel centres (i + 0.5); NaN off the plane.
double Interpolate(const std::uint16_t* plane, int w, int h, double x, double y)
{
    if (!(x >= 0 && y >= 0 && x < w && y < h))
        return NotApplicable;
    const double fx = std::clamp(x - 0.5, 0.0, w - 1.0), fy = std::clamp(y - 0.5, 0.0, h - 1.0);
    const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double ax = fx - x0, ay = fy - y0;
    const auto at = [&](int px, int py) { return static_cast<double>(plane[static_cast<size_t>(py) * w + px]); };
    const double top = at(x0, y0) * (1 - ax) + at(x1, y0) * ax;
    const double bottom = at(x0, y1) * (1 - ax) + at(x1, y1) * ax;
    return top * (1 - ay) + bottom * ay;
}

} // namespace

Calibration Calibration::FromNanometres(double width, double height)
{
    Calibration c;
    if (std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0) {
        c.pixelWidth = width / 1000.0;
        c.pixelHeight = height / 1000.0;
        c.unit = "\xc2\xb5m"; // µm
    }
    return c;
}

RegionMeasurer::RegionMeasurer(const Region& region, int width, int height, const Calibration& calibration)
    : m_region(region), m_width(std::max(0, width)), m_height(std::max(0, height)), m_cal(calibration),
      m_mask(region, m_width, m_height)
{
    Statistics& g = m_geometry;
    const double pw = m_cal.pixelWidth, ph = m_cal.pixelHeight;
    if (!region.IsValid())
        return;
    if (region.IsLine()) {
        double length = 0.0;
        const std::vector<PointF>& p = region.points;
        // One sample per pixel step, as ImageJ counts them: a straight line round(length) + 1
        // with both ends, a polyline each segment without its end. A line longer than any
        // plane (ends far outside, from a damaged file) gets longer steps instead of
        // unbounded memory.
        double pixels = 0.0;
        for (size_t i = 0; i + 1 < p.size(); ++i)
            pixels += std::hypot(p[i + 1].x - p[i].x, p[i + 1].y - p[i].y);
        const double stretch = pixels > maxLineSamples ? maxLineSamples / pixels : 1.0;
        m_samples.push_back(p[0]);
        m_distances.push_back(0.0);
        for (size_t i = 0; i + 1 < p.size(); ++i) {
            const double dx = p[i + 1].x - p[i].x, dy = p[i + 1].y - p[i].y;
            const double segment = std::hypot(dx * pw, dy * ph);
            const double steps = std::round(std::hypot(dx, dy) * stretch);
            const size_t n = std::max<size_t>(1, static_cast<size_t>(steps));
            for (size_t k = 1; k <= n; ++k) {
                if (k == n && region.kind == RegionKind::Polyline && i + 2 == p.size())
                    break;
                const double t = static_cast<double>(k) / static_cast<double>(n);
                m_samples.push_back({p[i].x + dx * t, p[i].y + dy * t});
                m_distances.push_back(length + segment * t);
            }
            length += segment;
        }
        g.length = length;
        if (region.kind == RegionKind::Line)
            g.angle = std::atan2((p[0].y - p[1].y) * ph, (p[1].x - p[0].x) * pw) * 180.0 / M_PI;
        double x0, y0, x1, y1;
        region.Bounds(x0, y0, x1, y1);
        g.bx = x0 * pw;
        g.by = y0 * ph;
        g.width = (x1 - x0) * pw;
        g.height = (y1 - y0) * ph;
        double sx = 0.0, sy = 0.0;
        for (const PointF& s : m_samples) {
            sx += s.x;
            sy += s.y;
        }
        g.x = sx / m_samples.size() * pw;
        g.y = sy / m_samples.size() * ph;
        return;
    }

    // Areas and points: what lies inside the plane.
    const size_t n = m_mask.PixelCount();
    g.count = n;
    g.area = region.kind == RegionKind::Point ? 0.0 : static_cast<double>(n) * pw * ph;
    if (n == 0)
        return;
    double sx = 0.0, sy = 0.0;
    for (const Span& s : m_mask.Spans()) {
        const double k = s.x1 - s.x0;
        // Sum of pixel centres x + 0.5 over [x0, x1) in closed form.
        sx += k * (s.x0 + s.x1) / 2.0;
        sy += k * (s.y + 0.5);
    }
    if (region.kind == RegionKind::Point && region.points.size() == 1) {
        // A point measures where it was put, not its pixel's centre.
        g.x = region.points[0].x * pw;
        g.y = region.points[0].y * ph;
    } else {
        g.x = sx / n * pw;
        g.y = sy / n * ph;
    }
    if (region.kind == RegionKind::Point) {
        // The box of the pixels the points fall in.
        const std::vector<Span>& spans = m_mask.Spans();
        int minX = m_width, maxX = 0;
        for (const Span& s : spans) {
            minX = std::min(minX, s.x0);
            maxX = std::max(maxX, s.x1);
        }
        g.bx = minX * pw;
        g.by = spans.front().y * ph;
        g.width = (maxX - minX) * pw;
        g.height = (spans.back().y + 1 - spans.front().y) * ph;
        return;
    }
    // The outline's own box, cut to the plane as ImageJ does.
    double x0, y0, x1, y1;
    region.Bounds(x0, y0, x1, y1);
    x0 = std::clamp(x0, 0.0, double(m_width));
    x1 = std::clamp(x1, 0.0, double(m_width));
    y0 = std::clamp(y0, 0.0, double(m_height));
    y1 = std::clamp(y1, 0.0, double(m_height));
    g.bx = x0 * pw;
    g.by = y0 * ph;
    g.width = (x1 - x0) * pw;
    g.height = (y1 - y0) * ph;
}

Statistics RegionMeasurer::Measure(const std::uint16_t* plane, const ValueMap& map, Profile* profile) const
{
    if (profile)
        *profile = Profile();
    if (!plane)
        return m_geometry;
    return m_region.IsLine() ? measureLine(plane, map, profile) : measureArea(plane, map);
}

Statistics RegionMeasurer::measureArea(const std::uint16_t* plane, const ValueMap& map) const
{
    Statistics st = m_geometry;
    Sums sums;
    for (const Span& s : m_mask.Spans())
        AddRun(plane + static_cast<size_t>(s.y) * static_cast<size_t>(m_width) + static_cast<size_t>(s.x0),
               static_cast<size_t>(s.x1 - s.x0), sums);
    Finish(sums, map, st);
    // Points have no area, but ImageJ still weighs their mean by the pixels' area.
    if (sums.n > 0)
        st.intDen = static_cast<double>(sums.n) * m_cal.pixelWidth * m_cal.pixelHeight * st.mean;
    return st;
}

Statistics RegionMeasurer::measureLine(const std::uint16_t* plane, const ValueMap& map, Profile* profile) const
{
    Statistics st = m_geometry;
    // Welford's running mean and squared deviations: real values may carry a large offset.
    double sum = 0.0, mean = 0.0, m2 = 0.0, lo = 0.0, hi = 0.0;
    size_t n = 0;
    if (profile) {
        profile->distance = m_distances;
        profile->value.resize(m_samples.size());
    }
    for (size_t i = 0; i < m_samples.size(); ++i) {
        const double d = Interpolate(plane, m_width, m_height, m_samples[i].x, m_samples[i].y);
        const double v = std::isnan(d) ? d : map.ToReal(d);
        if (profile)
            profile->value[i] = v;
        if (std::isnan(v))
            continue;
        lo = n == 0 ? v : std::min(lo, v);
        hi = n == 0 ? v : std::max(hi, v);
        sum += v;
        ++n;
        const double delta = v - mean;
        mean += delta / static_cast<double>(n);
        m2 += delta * (v - mean);
    }
    st.count = n;
    if (n == 0)
        return st;
    // ImageJ gives a line the area of its samples.
    st.area = static_cast<double>(n) * m_cal.pixelWidth * m_cal.pixelHeight;
    st.intDen = st.area * mean;
    st.mean = mean;
    st.min = lo;
    st.max = hi;
    st.rawIntDen = sum;
    st.stdDev = n > 1 ? std::sqrt(m2 / static_cast<double>(n - 1)) : 0.0;
    return st;
}

} // namespace Measure
