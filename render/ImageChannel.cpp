#include "ImageChannel.h"

#include "Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;

ImageChannel::ImageChannel(int mi, int ma, int gamma, int r, int g, int b, bool autoscaling)
    : m_min(mi), m_max(ma), m_gamma(gamma), m_r(r), m_g(g), m_b(b), m_autoscaling(autoscaling)
{
}

ImageChannel::ImageChannel(int mi, int ma, int gamma, int r, int g, int b)
    : ImageChannel(mi, ma, gamma, r, g, b, false)
{
}

ImageChannel::ImageChannel(int mi, int ma, int gamma) : ImageChannel(mi, ma, gamma, 255, 255, 255, false) {}

ImageChannel::ImageChannel(int mi, int ma) : ImageChannel(mi, ma, 0) {}

namespace {

// Pixel count of a slice; a one-element size is a single row. False for an empty or
// negative size.
bool SlicePixels(const ImageSlice<unsigned short>& slice, size_t& w, size_t& h)
{
    const Vector size = slice.GetSize();
    if (size.size() == 0 || !slice.GetData())
        return false;
    const int sw = size[0];
    const int sh = size.size() > 1 ? size[1] : 1;
    if (sw < 0 || sh < 0)
        return false;
    w = static_cast<size_t>(sw);
    h = static_cast<size_t>(sh);
    return true;
}

inline unsigned char ClampByte(long long x)
{
    return static_cast<unsigned char>(x < 0 ? 0 : x > 255 ? 255 : x);
}

} // namespace

ValueSpan ScanValues(const ImageSlice<unsigned short>& slice)
{
    size_t w = 0, h = 0;
    ValueSpan span;
    if (!SlicePixels(slice, w, h) || w * h == 0)
        return span;
    const size_t n = w * h;
    const unsigned short* in = slice.GetData();
    unsigned short l = 65535, u = 0;
    for (size_t i = 0; i < n; ++i) {
        l = std::min(l, in[i]);
        u = std::max(u, in[i]);
    }
    span.lo = l;
    span.hi = u;
    return span;
}

namespace {

// Entries in memory order blue, green, red, 0, as the pictures hold them.
inline std::uint32_t Pack(unsigned char r, unsigned char g, unsigned char b)
{
    const unsigned char px[4] = {b, g, r, 0};
    std::uint32_t v;
    std::memcpy(&v, px, 4);
    return v;
}

inline unsigned char Blue(std::uint32_t v)
{
    unsigned char px[4];
    std::memcpy(px, &v, 4);
    return px[0];
}

// The fire table: straight lines between these entries.
const std::vector<std::uint8_t>& FireColours()
{
    static const std::vector<std::uint8_t> table = [] {
        const int stops[][4] = {{0, 0, 0, 0},       {48, 40, 0, 120},   {96, 150, 0, 150}, {140, 230, 40, 50},
                                {180, 255, 120, 0}, {220, 255, 210, 0}, {255, 255, 255, 255}};
        std::vector<std::uint8_t> t(768);
        for (size_t k = 0; k + 1 < std::size(stops); ++k)
            for (int i = stops[k][0]; i <= stops[k + 1][0]; ++i) {
                const double f = static_cast<double>(i - stops[k][0]) / (stops[k + 1][0] - stops[k][0]);
                for (int c = 0; c < 3; ++c)
                    t[static_cast<size_t>(3 * i + c)] =
                        static_cast<std::uint8_t>(std::lround(stops[k][c + 1] + f * (stops[k + 1][c + 1] - stops[k][c + 1])));
            }
        return t;
    }();
    return table;
}

} // namespace

const std::vector<std::string>& LookupTableNames()
{
    static const std::vector<std::string> names = {"Colour", "Grey", "Fire", "HiLo", "Inverted", "File's table"};
    return names;
}

LookupTable LookupTableFromName(const std::string& name)
{
    const std::vector<std::string>& names = LookupTableNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<LookupTable>(i);
    return LookupTable::Colour;
}

void ImageChannel::FillLookupTable(std::uint32_t* table, int lo, int hi) const
{
    const auto byte = [](long long c) { return static_cast<unsigned char>(std::clamp<long long>(c, 0, 255)); };
    if (m_lut == LookupTable::Colour) {
        FillRamp(table, lo, hi, m_r, m_g, m_b);
        return;
    }
    if (m_lut == LookupTable::Inverted) {
        // The ramp subtracted from the colour: full colour at the bottom, black at the top.
        const unsigned char r = byte(m_r), g = byte(m_g), b = byte(m_b);
        FillRamp(table, lo, hi, r, g, b);
        for (int v = lo; v <= hi; ++v) {
            unsigned char px[4];
            std::memcpy(px, &table[v], 4);
            table[v] = Pack(static_cast<unsigned char>(r - px[2]), static_cast<unsigned char>(g - px[1]),
                            static_cast<unsigned char>(b - px[0]));
        }
        return;
    }
    // The other tables index 256 entries by the grey ramp's level.
    FillRamp(table, lo, hi, 255, 255, 255);
    const std::vector<std::uint8_t>* colours = m_lut == LookupTable::Fire ? &FireColours()
                                             : m_lut == LookupTable::Own && m_lutColours.size() == 768 ? &m_lutColours
                                                                                                   : nullptr;
    if (colours) {
        const std::uint8_t* c = colours->data();
        for (int v = lo; v <= hi; ++v) {
            const size_t i = 3 * static_cast<size_t>(Blue(table[v]));
            table[v] = Pack(c[i], c[i + 1], c[i + 2]);
        }
    } else if (m_lut == LookupTable::HiLo && m_min < m_max) {
        for (int v = lo; v <= std::min(hi, m_min); ++v)
            table[v] = Pack(0, 0, 255);
        for (int v = std::max(lo, m_max); v <= hi; ++v)
            table[v] = Pack(255, 0, 0);
    }
}

void ImageChannel::MapValue(int value, unsigned char& r, unsigned char& g, unsigned char& b) const
{
    std::vector<std::uint32_t> table(65536);
    const int v = std::clamp(value, 0, 65535);
    FillLookupTable(table.data(), v, v);
    unsigned char px[4];
    std::memcpy(px, &table[static_cast<size_t>(v)], 4);
    b = px[0];
    g = px[1];
    r = px[2];
}

void ImageChannel::FillRamp(std::uint32_t* table, int lo, int hi, long long red, long long green, long long blue) const
{
    // 64-bit throughout: with a narrow range (v - m_min + 1) * 256 and the colour products
    // pass 2^31, and bright pixels must saturate rather than wrap to black.
    const long long mn = m_min;
    long long range = static_cast<long long>(m_max) - mn;
    if (range == 0)
        range = 1;
    // Beyond 2^16 in size every nonzero colour saturates whatever t is; capping keeps
    // the products exact in doubles and in range in integers.
    const auto capColour = [](long long c) { return std::clamp<long long>(c, -65536, 65536); };
    const long long colour[3] = {capColour(blue), capColour(green), capColour(red)};
    const double drange = static_cast<double>(range);
    const auto linear = [&](long long a, unsigned char* px) {
        // The numerator stays below 2^53, so the correctly rounded quotient never crosses
        // an integer and truncating it gives the integer quotient: no 64-bit division per
        // entry, which would cost more than the rest of the table together.
        const long long t = static_cast<long long>(static_cast<double>(a * 256) / drange);
        // Past 2^24 every nonzero colour saturates anyway.
        const long long tc = std::clamp<long long>(t, -(1ll << 24), 1ll << 24);
        for (int j = 0; j < 3; ++j)
            px[j] = ClampByte((colour[j] * tc) / 256);
    };
    if (m_gamma == 0) {
        // The same arithmetic in doubles, where every step is exact (see above; the
        // products stay below 2^41), written without branches so that it vectorises.
        const double cb = static_cast<double>(colour[0]), cg = static_cast<double>(colour[1]),
                     cr = static_cast<double>(colour[2]);
        const auto byte = [](double y) { return static_cast<std::uint32_t>(std::clamp(y, 0.0, 255.0)); };
        for (long long v = lo; v <= hi; ++v) {
            const double q = std::clamp(static_cast<double>(v - mn + 1) * 256.0 / drange, -16777216.0, 16777216.0);
            const double t = static_cast<double>(static_cast<int>(q));
            const std::uint32_t px = byte(cb * t / 256.0) | byte(cg * t / 256.0) << 8 | byte(cr * t / 256.0) << 16;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            table[v] = __builtin_bswap32(px);
#else
            table[v] = px;
#endif
        }
        return;
    }
    // Gamma bends the ramp between m_min - 1 and m_max - 1 (normalised to 0..1) into
    // u^(2^(-gamma/5)); both ends and everything outside the ramp map as without gamma.
    const double exponent = std::exp2(-static_cast<double>(m_gamma) / 5.0);
    for (long long v = lo; v <= hi; ++v) {
        const long long a = v - mn + 1;
        unsigned char px[4] = {0, 0, 0, 0};
        const bool inside = range > 0 ? (a > 0 && a < range) : (a < 0 && a > range);
        if (inside) {
            const double k = std::pow(static_cast<double>(a) / drange, exponent);
            for (int j = 0; j < 3; ++j)
                px[j] = ClampByte(static_cast<long long>(std::floor(static_cast<double>(colour[j]) * k)));
        } else {
            linear(a, px);
        }
        std::memcpy(&table[v], px, 4);
    }
}

std::vector<std::uint32_t> ImageChannel::PrepareRender(const ImageSlice<unsigned short>& slice, const ValueSpan* known)
{
    size_t w = 0, h = 0;
    if (!SlicePixels(slice, w, h))
        return {};
    const size_t n = w * h;
    int lo = 0, hi = 65535;
    // A slice smaller than the table is scanned so that only the values it holds are
    // tabulated; autoscaling needs the scan anyway, and a known span narrows it for free.
    if (known || m_autoscaling || n < 65536) {
        const ValueSpan span = known ? *known : ScanValues(slice);
        lo = span.lo;
        hi = span.hi;
        if (m_autoscaling) {
            // A plane of zeros alone would make the range 0..0, under which 0 is full colour;
            // widening to 1 instead keeps zero black until real data widens the range.
            const int a = hi == 0 ? 1 : lo, b = hi == 0 ? 1 : hi;
            m_min = std::min(m_min, a);
            m_max = std::max(m_max, b);
        }
    }
    const std::array<int, 7> settings{m_min, m_max, m_gamma, m_r, m_g, m_b, static_cast<int>(m_lut)};
    const bool ownChanged = m_lut == LookupTable::Own && m_lutColours != m_tableColours;
    if (m_table.empty() || settings != m_tableSettings || ownChanged) {
        m_table.assign(65536, 0);
        m_tableSettings = settings;
        m_tableColours = m_lut == LookupTable::Own ? m_lutColours : std::vector<std::uint8_t>();
        m_tableLo = 1;
        m_tableHi = 0;
    }
    // Every entry stands alone; with gamma each costs a pow, worth sharing between cores
    // from a few thousand entries on.
    const auto fill = [this](int from, int to) {
        const size_t count = static_cast<size_t>(to - from + 1);
        const size_t parts = m_gamma != 0 ? std::min<size_t>(CoreCount(), count / 4096) : 1;
        ParallelFor(count, 1024, parts, [&](size_t b, size_t e) {
            FillLookupTable(m_table.data(), from + static_cast<int>(b), from + static_cast<int>(e) - 1);
        });
    };
    if (lo <= hi) {
        if (m_tableLo > m_tableHi) {
            fill(lo, hi);
            m_tableLo = lo;
            m_tableHi = hi;
        } else {
            // Extend the filled span to cover [lo, hi]; it stays one interval.
            if (lo < m_tableLo)
                fill(lo, m_tableLo - 1);
            if (hi > m_tableHi)
                fill(m_tableHi + 1, hi);
            m_tableLo = std::min(m_tableLo, lo);
            m_tableHi = std::max(m_tableHi, hi);
        }
    }
    return m_table;
}

RGBABuffer ImageChannel::RenderToRGBA(const ImageSlice<unsigned short>& slice)
{
    size_t w = 0, h = 0;
    if (!SlicePixels(slice, w, h))
        return nullptr;
    const std::vector<std::uint32_t> table = PrepareRender(slice);
    RGBABuffer out = AllocateRGBA(w * h);
    if (out)
        MapPixels(slice.GetData(), w * h, table.data(), out.get(), false);
    return out;
}

} // namespace ImageViewer
