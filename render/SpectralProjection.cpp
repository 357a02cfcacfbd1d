#include "SpectralProjection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "ChannelRenderer.h"
#include "SpectralColour.h"

namespace ImageViewer {

using ImageReader::ImageBase;
using ImageReader::ImageSlice;
using ImageReader::Vector;

namespace {

// Colour weights of one spectral index in 1/256 units, in the order of the output values.
struct Weights
{
    std::uint32_t c[4] = {0, 0, 0, 0}; // blue, green, red, 0

    bool Visible() const { return c[0] + c[1] + c[2] != 0; }
};

std::uint32_t ToTable(double x)
{
    return x > 0 ? static_cast<std::uint32_t>(x * 256) : 0;
}

// Adds the weighted excess over m0 of n contiguous samples to the planar accumulators of
// n pixels, and widens lo/hi. The hot loop of the projection. m0 is at most 65535 here
// (a larger offset leaves every excess 0, as 65535 does).
void AccumulatePlane(const unsigned short* in, size_t n, unsigned short m0, const Weights& w, std::uint32_t* accB,
                     std::uint32_t* accG, std::uint32_t* accR, unsigned short& lo, unsigned short& hi)
{
    size_t i = 0;
    unsigned short l = lo, u = hi;
#ifdef __SSE2__
    // Eight samples at a time in 16-bit lanes: the excess is a saturating subtraction, and
    // each product d * weight (below 2^26) is put together from its low and high 16 bits.
    const __m128i offset = _mm_set1_epi16(static_cast<short>(m0));
    const __m128i wb = _mm_set1_epi16(static_cast<short>(w.c[0]));
    const __m128i wg = _mm_set1_epi16(static_cast<short>(w.c[1]));
    const __m128i wr = _mm_set1_epi16(static_cast<short>(w.c[2]));
    // Unsigned 16-bit minimum and maximum through the signed instructions, on values
    // shifted by 0x8000.
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    __m128i vmin = _mm_set1_epi16(0x7FFF), vmax = _mm_set1_epi16(static_cast<short>(0x8000));
    const auto add = [](std::uint32_t* acc, __m128i d, __m128i weight) {
        const __m128i low = _mm_mullo_epi16(d, weight), high = _mm_mulhi_epu16(d, weight);
        const __m128i p0 = _mm_srli_epi32(_mm_unpacklo_epi16(low, high), 8);
        const __m128i p1 = _mm_srli_epi32(_mm_unpackhi_epi16(low, high), 8);
        __m128i* a = reinterpret_cast<__m128i*>(acc);
        _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), p0));
        _mm_storeu_si128(a + 1, _mm_add_epi32(_mm_loadu_si128(a + 1), p1));
    };
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i d = _mm_subs_epu16(v, offset);
        add(accB + i, d, wb);
        add(accG + i, d, wg);
        add(accR + i, d, wr);
        const __m128i s = _mm_xor_si128(v, flip);
        vmin = _mm_min_epi16(vmin, s);
        vmax = _mm_max_epi16(vmax, s);
    }
    alignas(16) unsigned short mins[8], maxs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(mins), _mm_xor_si128(vmin, flip));
    _mm_store_si128(reinterpret_cast<__m128i*>(maxs), _mm_xor_si128(vmax, flip));
    for (int k = 0; k < 8; ++k) {
        l = std::min(l, mins[k]);
        u = std::max(u, maxs[k]);
    }
#endif
    for (; i < n; ++i) {
        const std::uint32_t d = in[i] > m0 ? in[i] - m0 : 0u;
        accB[i] += (d * w.c[0]) >> 8;
        accG[i] += (d * w.c[1]) >> 8;
        accR[i] += (d * w.c[2]) >> 8;
        l = std::min(l, in[i]);
        u = std::max(u, in[i]);
    }
    lo = l;
    hi = u;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define LUMORA_HAVE_AVX2_KERNEL 1
// The same with sixteen samples at a time, for processors that have the wider instructions.
__attribute__((target("avx2"))) void AccumulatePlaneAVX2(const unsigned short* in, size_t n, unsigned short m0,
                                                         const Weights& w, std::uint32_t* accB, std::uint32_t* accG,
                                                         std::uint32_t* accR, unsigned short& lo, unsigned short& hi)
{
    size_t i = 0;
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(m0));
    const __m256i weight[3] = {_mm256_set1_epi32(static_cast<int>(w.c[0])),
                               _mm256_set1_epi32(static_cast<int>(w.c[1])),
                               _mm256_set1_epi32(static_cast<int>(w.c[2]))};
    std::uint32_t* const acc[3] = {accB, accG, accR};
    __m256i vmin = _mm256_set1_epi16(-1), vmax = _mm256_setzero_si256();
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i d = _mm256_subs_epu16(v, offset);
        const __m256i d0 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(d));
        const __m256i d1 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(d, 1));
        for (int k = 0; k < 3; ++k) {
            __m256i* a = reinterpret_cast<__m256i*>(acc[k] + i);
            const __m256i p0 = _mm256_srli_epi32(_mm256_mullo_epi32(d0, weight[k]), 8);
            const __m256i p1 = _mm256_srli_epi32(_mm256_mullo_epi32(d1, weight[k]), 8);
            _mm256_storeu_si256(a, _mm256_add_epi32(_mm256_loadu_si256(a), p0));
            _mm256_storeu_si256(a + 1, _mm256_add_epi32(_mm256_loadu_si256(a + 1), p1));
        }
        vmin = _mm256_min_epu16(vmin, v);
        vmax = _mm256_max_epu16(vmax, v);
    }
    alignas(32) unsigned short mins[16], maxs[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(mins), vmin);
    _mm256_store_si256(reinterpret_cast<__m256i*>(maxs), vmax);
    unsigned short l = lo, u = hi;
    for (int k = 0; k < 16 && i > 0; ++k) {
        l = std::min(l, mins[k]);
        u = std::max(u, maxs[k]);
    }
    lo = l;
    hi = u;
    if (i < n)
        AccumulatePlane(in + i, n - i, m0, w, accB + i, accG + i, accR + i, lo, hi);
}
#endif

using PlaneKernel = void (*)(const unsigned short*, size_t, unsigned short, const Weights&, std::uint32_t*,
                             std::uint32_t*, std::uint32_t*, unsigned short&, unsigned short&);

PlaneKernel ChoosePlaneKernel()
{
#ifdef LUMORA_HAVE_AVX2_KERNEL
    if (__builtin_cpu_supports("avx2"))
        return AccumulatePlaneAVX2;
#endif
    return AccumulatePlane;
}

// Walks the iterated entries of pos (element i belongs to dimension i + 2); false when
// every position has been visited.
bool NextPosition(Vector& pos, const Vector& size, const Vector& pv)
{
    for (int i = static_cast<int>(pos.size()) - 1; i >= 0; --i) {
        if (pv[i + 2] >= 0)
            continue;
        if (++pos[i] < size[i + 2])
            return true;
        pos[i] = 0;
    }
    return false;
}

// The projection with one weight entry per spectral index (at least size[dims] of them).
template <class T>
ImageSlice<unsigned int> ProjectWeighted(ImageBase<T>& image, const int dim0, const int dim1, const int dims, Vector pv,
                                         const std::vector<Weights>& table, unsigned int& mi, unsigned int& ma)
{
    const Vector size = image.GetSize();
    const int nd = static_cast<int>(size.size());
    const auto isDim = [nd](int d) { return d >= 0 && d < nd; };
    if (nd < 2 || !isDim(dim0) || !isDim(dim1) || !isDim(dims) || static_cast<int>(pv.size()) < nd)
        return {};
    for (int k = 0; k < nd; ++k)
        if (size[k] <= 0)
            return {};
    if (table.size() < static_cast<size_t>(size[dims]))
        return {};
    const size_t W = static_cast<size_t>(size[dim0]);
    const size_t H = static_cast<size_t>(size[dim1]);
    const std::uint32_t m0 = mi;

    pv[dim0] = -1;
    pv[dim1] = -1;
    pv[dims] = -1;
    for (int k = 0; k < nd; ++k)
        if (pv[k] >= size[k])
            return {};

    std::vector<size_t> xs(static_cast<size_t>(nd), 0), ss(static_cast<size_t>(nd), 0);
    xs[dim0] = 1;
    if (dim1 != dim0)
        xs[dim1] = W;
    ss[dims] = 1;
    Vector pos;
    for (int k = 2; k < nd; ++k)
        pos.push_back(pv[k] < 0 ? 0 : pv[k]);

    if (W * H > std::numeric_limits<size_t>::max() / 16)
        return {};
    auto* out = static_cast<std::uint32_t*>(std::calloc(4 * W * H, sizeof(std::uint32_t)));
    if (!out)
        return {};

    const size_t w0 = static_cast<size_t>(size[0]), h0 = static_cast<size_t>(size[1]);
    const auto usable = [&](const ImageSlice<T>& slice) {
        const Vector s = slice.GetSize();
        return !slice.IsEmpty() && s.size() >= 2 && s[0] == size[0] && s[1] == size[1];
    };
    unsigned short lo = 65535, hi = 0;
    bool sampled = false;

    if constexpr (std::is_same_v<T, unsigned short>) {
        if (dim0 == 0 && dim1 == 1 && dims >= 2) {
            // The plain view of a projected spectrum: every slice adds its whole plane,
            // coloured by one wavelength, to the whole output. A batch of slices is added
            // tile by tile into accumulators that stay in the first-level cache, and only
            // then into the output, instead of streaming the whole output through memory
            // once per slice. Unsigned sums wrap the same in any order.
            constexpr size_t batch = 64;
            constexpr size_t tile = 1024;
            const size_t n = w0 * h0;
            const unsigned short offset = static_cast<unsigned short>(std::min<std::uint32_t>(m0, 65535));
            std::vector<std::pair<ImageSlice<T>, const Weights*>> layers;
            std::vector<std::uint32_t> acc(3 * tile);
            static const PlaneKernel accumulate = ChoosePlaneKernel();
            const auto flush = [&]() {
                if (layers.empty())
                    return;
                std::uint32_t *accB = acc.data(), *accG = accB + tile, *accR = accG + tile;
                for (size_t i = 0; i < n; i += tile) {
                    const size_t m = std::min(tile, n - i);
                    std::fill(acc.begin(), acc.end(), 0u);
                    for (const auto& layer : layers)
                        accumulate(layer.first.GetData() + i, m, offset, *layer.second, accB, accG, accR, lo, hi);
                    std::uint32_t* o = out + 4 * i;
                    for (size_t j = 0; j < m; ++j) {
                        o[4 * j] += accB[j];
                        o[4 * j + 1] += accG[j];
                        o[4 * j + 2] += accR[j];
                    }
                }
                sampled = true;
                layers.clear();
            };
            do {
                const Weights& wt = table[static_cast<size_t>(pos[dims - 2])];
                // A wavelength without colour adds nothing and, like a skipped row, takes
                // no part in the minimum and maximum: its plane need not even be read.
                if (!wt.Visible())
                    continue;
                ImageSlice<T> slice = image.GetSlice(pos);
                if (!usable(slice))
                    continue;
                layers.emplace_back(std::move(slice), &wt);
                if (layers.size() == batch)
                    flush();
            } while (NextPosition(pos, size, pv));
            flush();
            if (sampled) {
                mi = std::min<std::uint32_t>(mi, lo);
                ma = std::max<std::uint32_t>(ma, hi);
            }
            return ImageSlice<unsigned int>(Vector(static_cast<int>(W), static_cast<int>(H)), out);
        }
    }

    std::uint32_t mn = mi, mx = ma;
    do {
        size_t xbase = 0, sbase = 0;
        for (int k = 2; k < nd; ++k) {
            xbase += static_cast<size_t>(pos[k - 2]) * xs[k];
            sbase += static_cast<size_t>(pos[k - 2]) * ss[k];
        }
        if (ss[0] == 0 && ss[1] == 0 && !table[sbase].Visible())
            continue;
        const ImageSlice<T> slice = image.GetSlice(pos);
        if (!usable(slice))
            continue;
        const T* data = slice.GetData();
        const size_t x0 = pv[0] >= 0 ? static_cast<size_t>(pv[0]) : 0;
        const size_t x1 = pv[0] >= 0 ? x0 + 1 : w0;
        const size_t y0 = pv[1] >= 0 ? static_cast<size_t>(pv[1]) : 0;
        const size_t y1 = pv[1] >= 0 ? y0 + 1 : h0;
        for (size_t y = y0; y < y1; ++y) {
            const size_t srow = sbase + y * ss[1];
            if (ss[0] == 0 && !table[srow].Visible())
                continue;
            const size_t orow = xbase + y * xs[1];
            const T* row = data + y * w0;
            for (size_t x = x0; x < x1; ++x) {
                const std::uint32_t v = static_cast<std::uint32_t>(row[x]);
                const std::uint32_t d = std::max(v, m0) - m0;
                const Weights& wt = table[srow + x * ss[0]];
                std::uint32_t* o = out + 4 * (orow + x * xs[0]);
                o[0] += (d * wt.c[0]) >> 8;
                o[1] += (d * wt.c[1]) >> 8;
                o[2] += (d * wt.c[2]) >> 8;
                mn = std::min(mn, v);
                mx = std::max(mx, v);
            }
        }
    } while (NextPosition(pos, size, pv));
    mi = mn;
    ma = mx;
    return ImageSlice<unsigned int>(Vector(static_cast<int>(W), static_cast<int>(H)), out);
}

} // namespace

template <class T>
ImageSlice<unsigned int> GetSpectralProjection(ImageBase<T>& image, const int dim0, const int dim1, const int dims,
                                               Vector pv, Vector wl, unsigned int& mi, unsigned int& ma)
{
    const Vector size = image.GetSize();
    if (dims < 0 || dims >= static_cast<int>(size.size()) || size[dims] <= 0 || static_cast<int>(wl.size()) < size[dims])
        return {};
    std::vector<Weights> table(static_cast<size_t>(size[dims]));
    for (size_t i = 0; i < table.size(); ++i) {
        double r, g, b;
        WavelengthToRGB(wl[static_cast<int>(i)], r, g, b);
        table[i].c[0] = ToTable(b);
        table[i].c[1] = ToTable(g);
        table[i].c[2] = ToTable(r);
    }
    return ProjectWeighted(image, dim0, dim1, dims, std::move(pv), table, mi, ma);
}

template <class T>
ImageSlice<unsigned int> GetSpectralProjection(ImageBase<T>& image, const int dim0, const int dim1, const int dims,
                                               Vector pv, const std::vector<SpectralWeight>& weights, unsigned int& mi,
                                               unsigned int& ma)
{
    std::vector<Weights> table(weights.size());
    for (size_t i = 0; i < weights.size(); ++i)
        for (int c = 0; c < 3; ++c)
            table[i].c[c] = std::min<std::uint32_t>(weights[i][static_cast<size_t>(2 - c)], kMaxSpectralWeight);
    return ProjectWeighted(image, dim0, dim1, dims, std::move(pv), table, mi, ma);
}

template ImageSlice<unsigned int> GetSpectralProjection<unsigned short>(ImageBase<unsigned short>&, const int,
                                                                        const int, const int, Vector, Vector,
                                                                        unsigned int&, unsigned int&);
template ImageSlice<unsigned int> GetSpectralProjection<unsigned short>(ImageBase<unsigned short>&, const int,
                                                                        const int, const int, Vector,
                                                                        const std::vector<SpectralWeight>&,
                                                                        unsigned int&, unsigned int&);

Vector CalibrateWavelengths(double p1, double w1, double p2, double w2, int count)
{
    const double a = (w2 - w1) / (p2 - p1);
    const double b = w1 - a * p1;
    Vector wl;
    if (!std::isfinite(a) || !std::isfinite(b))
        return wl;
    for (int i = 0; i < count; ++i) {
        const double x = i * a + b;
        // Far outside the visible range every wavelength is equally black; the clamp only
        // keeps the conversion to int defined.
        wl.push_back(static_cast<int>(std::clamp(x, -1e9, 1e9)));
    }
    return wl;
}

namespace {

// A picture for the sums' pixels, with their count; null for sums without pixels or
// when memory runs out.
RGBABuffer PictureFor(const ImageSlice<unsigned int>& sums, size_t& n)
{
    const Vector size = sums.GetSize();
    if (size.size() == 0 || sums.IsEmpty() || size[0] < 0 || (size.size() > 1 && size[1] < 0))
        return nullptr;
    n = static_cast<size_t>(size[0]) * static_cast<size_t>(size.size() > 1 ? size[1] : 1);
    return AllocateRGBA(n);
}

} // namespace

RGBABuffer SpectralSumsToRGBA(const ImageSlice<unsigned int>& sums, long long scale)
{
    size_t n = 0;
    RGBABuffer out = PictureFor(sums, n);
    if (!out)
        return nullptr;
    unsigned char* o = out.get();
    const unsigned int* s = sums.GetData();
    if (scale <= 0) {
        std::memset(o, 0, n ? 4 * n : 1);
    } else if (scale < (1ll << 45)) {
        // s * 255 / scale in 64 bits, truncated. Both operands are exact doubles and the
        // division is correctly rounded; below 2^45 a rounding can never reach the next
        // integer, so the floor is the integer quotient.
        const double ds = static_cast<double>(scale);
        for (size_t i = 0; i < 4 * n; ++i) {
            const double q = static_cast<double>(s[i]) * 255.0 / ds;
            // Non-negative, so the conversion's truncation is the floor.
            o[i] = static_cast<unsigned char>(q >= 255.0 ? 255u : static_cast<unsigned>(q));
        }
    } else {
        for (size_t i = 0; i < 4 * n; ++i) {
            const unsigned long long q = static_cast<unsigned long long>(s[i]) * 255ull / static_cast<unsigned long long>(scale);
            o[i] = static_cast<unsigned char>(std::min(q, 255ull));
        }
    }
    return out;
}

std::vector<SpectralWeight> TrueColourTable(const std::vector<double>& nm)
{
    std::vector<SpectralWeight> table;
    table.reserve(nm.size());
    for (const std::array<double, 3>& w : TrueColourWeights(nm)) {
        SpectralWeight entry;
        for (size_t c = 0; c < 3; ++c)
            entry[c] = static_cast<std::uint32_t>(std::lround(std::clamp(w[c], 0.0, 1.0) * kMaxSpectralWeight));
        table.push_back(entry);
    }
    return table;
}

RGBABuffer SpectralSumsToSrgb(const ImageSlice<unsigned int>& sums, const std::array<double, 3>& scale)
{
    size_t n = 0;
    RGBABuffer out = PictureFor(sums, n);
    if (!out)
        return nullptr;
    // The transfer curve tabulated over 65536 steps of linear light: finer than a byte
    // anywhere on the curve.
    static const std::vector<unsigned char> encode = [] {
        std::vector<unsigned char> t(65536);
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = static_cast<unsigned char>(std::lround(255 * EncodeSrgb(static_cast<double>(i) / 65535)));
        return t;
    }();
    // Sums are blue, green, red; scale is red, green, blue.
    double step[3];
    for (int c = 0; c < 3; ++c) {
        const double k = scale[static_cast<size_t>(2 - c)];
        step[c] = k > 0 && std::isfinite(k) ? 65535.0 / k : 0.0;
    }
    const unsigned int* s = sums.GetData();
    unsigned char* o = out.get();
    for (size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) {
            const double q = static_cast<double>(s[4 * i + static_cast<size_t>(c)]) * step[c];
            o[4 * i + static_cast<size_t>(c)] = encode[static_cast<size_t>(std::min(q, 65535.0))];
        }
        o[4 * i + 3] = 0;
    }
    return out;
}

RGBABuffer RenderSpectralView(ImageBase<unsigned short>& image, int xdim, int ydim, int cd, const Vector& cursor,
                              const std::vector<double>& wavelengths, ImageChannel& global, SpectralMapping mapping)
{
    const Vector size = image.GetSize();
    const int nd = static_cast<int>(size.size());
    if (xdim < 0 || xdim >= nd || ydim < 0 || ydim >= nd || cd < 0 || cd >= nd)
        return nullptr;
    RGBABuffer black = NewBlackRGBA(size[xdim], size[ydim]);
    if (static_cast<int>(wavelengths.size()) < size[cd] ||
        !std::all_of(wavelengths.begin(), wavelengths.end(), [](double w) { return std::isfinite(w); }))
        return black;
    std::vector<SpectralWeight> table;
    if (mapping == SpectralMapping::TrueColour) {
        table = TrueColourTable(wavelengths);
    } else {
        // The classic bands, at whole nanometres as the calibration gives them.
        for (double w : wavelengths) {
            double r, g, b;
            WavelengthToRGB(static_cast<int>(std::clamp(w, -1e9, 1e9)), r, g, b);
            table.push_back({ToTable(r), ToTable(g), ToTable(b)});
        }
    }
    // The display range is unsigned here; a range end dragged below 0 counts as 0 instead
    // of wrapping to a huge offset that would blacken every sample.
    unsigned int mi = static_cast<unsigned int>(std::max(global.m_min, 0));
    unsigned int ma = static_cast<unsigned int>(std::max(global.m_max, 0));
    const ImageSlice<unsigned int> sums = GetSpectralProjection(image, xdim, ydim, cd, cursor, table, mi, ma);
    if (sums.IsEmpty())
        return black;
    if (global.m_autoscaling) {
        if (static_cast<long long>(mi) < global.m_min)
            global.m_min = static_cast<int>(mi);
        if (static_cast<long long>(ma) > global.m_max)
            global.m_max = static_cast<int>(std::min<unsigned int>(ma, std::numeric_limits<int>::max()));
    }
    if (mapping == SpectralMapping::Classic) {
        long long scale = global.m_max;
        if (cd != xdim && cd != ydim)
            scale *= size[cd];
        return SpectralSumsToRGBA(sums, scale);
    }
    // Full white is a flat spectrum at the top of the range: every index at m_max, of which
    // the excess over the offset counts. A view along the spectrum shows one index per
    // pixel: its top is the strongest single weight.
    // Each channel over its own total makes that flat spectrum white; over the largest total
    // it keeps the spectrum's own hue. The first holds as far as the wavelengths span white
    // light (WhiteBalanceStrength): a narrow blue band stays blue.
    const double excess = std::max(static_cast<double>(global.m_max) - std::max(global.m_min, 0), 1.0);
    std::array<double, 3> total{0, 0, 0};
    const bool summed = cd != xdim && cd != ydim;
    for (size_t c = 0; c < 3; ++c)
        for (const SpectralWeight& w : table)
            total[c] = summed ? total[c] + w[c] : std::max(total[c], static_cast<double>(kMaxSpectralWeight));
    const double largest = std::max({total[0], total[1], total[2]});
    const double strength = mapping == SpectralMapping::TrueColour ? WhiteBalanceStrength(wavelengths) : 1.0;
    std::array<double, 3> scale{0, 0, 0};
    for (size_t c = 0; c < 3; ++c)
        scale[c] = total[c] > 0 ? excess * std::pow(total[c], strength) * std::pow(largest, 1 - strength) / 256 : 0.0;
    return SpectralSumsToSrgb(sums, scale);
}

RGBABuffer RenderSpectralView(ImageBase<unsigned short>& image, int xdim, int ydim, int cd, const Vector& cursor,
                              double p1, double w1, double p2, double w2, ImageChannel& global)
{
    const Vector size = image.GetSize();
    const int nd = static_cast<int>(size.size());
    std::vector<double> nm;
    if (cd >= 0 && cd < nd && std::isfinite(p1) && std::isfinite(w1) && std::isfinite(p2) && std::isfinite(w2)) {
        const Vector wl = CalibrateWavelengths(p1, w1, p2, w2, size[cd]);
        for (int i = 0; i < static_cast<int>(wl.size()); ++i)
            nm.push_back(wl[i]);
    }
    return RenderSpectralView(image, xdim, ydim, cd, cursor, nm, global, SpectralMapping::Classic);
}

} // namespace ImageViewer
