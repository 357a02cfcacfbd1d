#include "VolumeRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Parallel.h"
#include "StopToken.h"

namespace ImageViewer {

constexpr int ProjectedBox::edges[12][2];

namespace {

using ImageReader::ImageSlice;
using ImageReader::Vector;

// Kept out of line with clones for wider vector units: plain x86-64 has no unsigned 16-bit
// maximum, and the 32-bit products of the blends vectorise only with AVX2.
__attribute__((target_clones("avx2", "sse4.1", "default"))) void MaxInto(std::uint16_t* __restrict out,
                                                                        const std::uint16_t* __restrict in, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = out[i] < in[i] ? in[i] : out[i];
}

__attribute__((target_clones("avx2", "sse4.1", "default"))) void MinInto(std::uint16_t* __restrict out,
                                                                        const std::uint16_t* __restrict in, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = out[i] > in[i] ? in[i] : out[i];
}

inline std::uint16_t HighHalf(std::uint16_t a, std::uint16_t b)
{
    return static_cast<std::uint16_t>((std::uint32_t(a) * std::uint32_t(b)) >> 16);
}

// out[i] = a[i] + (b[i] - a[i]) * w / 65536 for w in [1, 65535], less than 2 below the exact
// value: two high halves of 16-bit products, which vectorise to one instruction each.
// The weights come as 16-bit arguments: derived from one 32-bit weight in here, one of the
// two products is no longer recognised as a high half.
__attribute__((target_clones("avx2", "default"))) void Blend16(std::uint16_t* __restrict out, const std::uint16_t* a,
                                                              const std::uint16_t* b, std::uint16_t v, std::uint16_t u,
                                                              size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint16_t>(HighHalf(a[i], v) + HighHalf(b[i], u));
}

// Blend and MaxInto in one pass.
__attribute__((target_clones("avx2", "sse4.1", "default"))) void
BlendMaxInto16(std::uint16_t* __restrict out, const std::uint16_t* a, const std::uint16_t* b, std::uint16_t v,
               std::uint16_t u, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const std::uint16_t x = static_cast<std::uint16_t>(HighHalf(a[i], v) + HighHalf(b[i], u));
        out[i] = out[i] < x ? x : out[i];
    }
}

void Blend(std::uint16_t* out, const std::uint16_t* a, const std::uint16_t* b, std::uint32_t w, size_t n)
{
    Blend16(out, a, b, static_cast<std::uint16_t>(65536 - w), static_cast<std::uint16_t>(w), n);
}

void BlendMaxInto(std::uint16_t* out, const std::uint16_t* a, const std::uint16_t* b, std::uint32_t w, size_t n)
{
    BlendMaxInto16(out, a, b, static_cast<std::uint16_t>(65536 - w), static_cast<std::uint16_t>(w), n);
}

std::uint32_t Weight(double f)
{
    return static_cast<std::uint32_t>(std::clamp(std::lround(f * 65536), 0L, 65536L));
}

// An axis-aligned view has shears of rounding size (cos 90 degrees is not 0): they must not
// shift slices by a whole voxel or blend neighbours.
double Snapped(double o)
{
    const double r = std::round(o);
    return std::fabs(o - r) < 1e-9 ? r : o;
}

// The geometry of one frame for one volume: which axis the slices cross, where slice k lands
// in the intermediate picture, and the affine map from output pixels to that picture.
struct Setup
{
    int m = 2, e1 = 0, e2 = 1;       // slice axis, intermediate columns, intermediate rows
    const std::uint16_t* data = nullptr;
    size_t sliceStride = 0, rowStride = 0;
    double g1 = 0, g2 = 0, off1 = 0, off2 = 0; // slice k's origin: off - k * g
    int W = 0, H = 0;                          // intermediate size
    int k0 = 0, k1 = 0, c0 = 0, c1 = 0, r0 = 0, r1 = 0; // clipped ranges
    bool ascending = true;                              // front to back
    // Intermediate coordinates of output pixel (x, y): A = ax*x + ay*y + a0, B likewise.
    double ax = 0, ay = 0, a0 = 0, bx = 0, by = 0, b0 = 0;

    bool Init(const VolumeRenderParams& p, const Volume& v)
    {
        const auto& n = v.Size();
        const auto& s = v.Spacing();
        const auto& R = p.rotation.m;
        // The axis the ray crosses most voxels of: then each slice step shifts the sample by at
        // most one voxel, and the intermediate picture has no gaps.
        m = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(R[2][a] / s[a]) > std::fabs(R[2][m] / s[m]))
                m = a;
        if (!(std::fabs(R[2][m]) > 0))
            return false;
        if (m == 2) {
            e1 = 0, e2 = 1, data = v.Data();
            sliceStride = size_t(n[0]) * size_t(n[1]), rowStride = size_t(n[0]);
        } else if (m == 1) {
            e1 = 0, e2 = 2, data = v.Data();
            sliceStride = size_t(n[0]), rowStride = size_t(n[0]) * size_t(n[1]);
        } else {
            e1 = 1, e2 = 2, data = v.XMajor();
            sliceStride = size_t(n[1]) * size_t(n[2]), rowStride = size_t(n[1]);
        }
        if (!data)
            return false;
        std::array<int, 3> lo{}, hi{};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::clamp(p.clipMin[a], 0, n[a]);
            hi[a] = std::clamp(p.clipMax[a], lo[a], n[a]);
            if (lo[a] == hi[a])
                return false;
        }
        k0 = lo[m], k1 = hi[m], c0 = lo[e1], c1 = hi[e1], r0 = lo[e2], r1 = hi[e2];
        ascending = R[2][m] > 0;

        // Along a ray, one slice step moves the sample by g voxels across the slice.
        const double q1 = R[2][e1] / R[2][m], q2 = R[2][e2] / R[2][m];
        g1 = s[m] / s[e1] * q1;
        g2 = s[m] / s[e2] * q2;
        const double span1 = std::fabs(g1) * (n[m] - 1), span2 = std::fabs(g2) * (n[m] - 1);
        off1 = g1 > 0 ? span1 : 0;
        off2 = g2 > 0 ? span2 : 0;
        W = n[e1] + static_cast<int>(std::ceil(span1)) + 1;
        H = n[e2] + static_cast<int>(std::ceil(span2)) + 1;

        // Output pixel centre -> screen (u, v) in physical units -> the ray's crossing with
        // slice 0 -> voxel coordinates across it -> intermediate coordinates.
        const double cm = n[m] * s[m] / 2, Pm0 = 0.5 * s[m] - cm;
        const double su = 1 / p.scale;
        const double u0 = (0.5 - p.width / 2.0 - p.panX) * su, v0 = (0.5 - p.height / 2.0 - p.panY) * su;
        const auto affine = [&](int e, double q, double off, double& cx, double& cy, double& c) {
            const double du = (R[0][e] - R[0][m] * q) / s[e], dv = (R[1][e] - R[1][m] * q) / s[e];
            const double base = (Pm0 * q + n[e] * s[e] / 2) / s[e] - 0.5 + off;
            cx = du * su;
            cy = dv * su;
            c = du * u0 + dv * v0 + base;
        };
        affine(e1, q1, off1, ax, ay, a0);
        affine(e2, q2, off2, bx, by, b0);
        return true;
    }
};

// A band's running sums for the modes that need more than the output value.
struct Accumulators
{
    std::vector<std::uint32_t> count;
    std::vector<std::uint64_t> sum;
    std::vector<float> colour, transmit;
};

// Adds slices k0..k1 into intermediate rows [b0, b1) of `out` (W wide, rows from b0).
void CompositeBand(const Setup& S, const VolumeRenderParams& p, int rampLo, int rampHi, int b0, int b1,
                   std::uint16_t* out)
{
    const size_t W = static_cast<size_t>(S.W);
    const size_t cells = W * static_cast<size_t>(b1 - b0);
    const VolumeMode mode = p.mode;
    Accumulators acc;
    if (mode == VolumeMode::Maximum)
        std::fill(out, out + cells, std::uint16_t(0));
    else if (mode == VolumeMode::Minimum)
        std::fill(out, out + cells, std::uint16_t(65535));
    if (mode == VolumeMode::Minimum || mode == VolumeMode::Average)
        acc.count.assign(cells, 0);
    if (mode == VolumeMode::Average)
        acc.sum.assign(cells, 0);
    if (mode == VolumeMode::Alpha) {
        acc.colour.assign(cells, 0.f);
        acc.transmit.assign(cells, 1.f);
    }
    const float rampScale = static_cast<float>(p.opacity / std::max(1, rampHi - rampLo));
    const float opacity = static_cast<float>(p.opacity);

    const bool bilinear = p.sampling == VolumeSampling::Bilinear;
    std::vector<std::uint16_t> rowBuffers[3] = {std::vector<std::uint16_t>(W), std::vector<std::uint16_t>(W),
                                                 std::vector<std::uint16_t>(W)};
    const auto add = [&](const std::uint16_t* v, size_t at, size_t len) {
        switch (mode) {
        case VolumeMode::Maximum:
            MaxInto(out + at, v, len);
            break;
        case VolumeMode::Minimum:
            MinInto(out + at, v, len);
            for (size_t i = 0; i < len; ++i)
                ++acc.count[at + i];
            break;
        case VolumeMode::Average:
            for (size_t i = 0; i < len; ++i) {
                acc.sum[at + i] += v[i];
                ++acc.count[at + i];
            }
            break;
        case VolumeMode::Alpha:
            for (size_t i = 0; i < len; ++i) {
                const float a = std::clamp(static_cast<float>(v[i] - rampLo) * rampScale, 0.f, opacity);
                acc.colour[at + i] += acc.transmit[at + i] * a * static_cast<float>(v[i]);
                acc.transmit[at + i] *= 1 - a;
            }
            break;
        }
    };

    const int count = S.k1 - S.k0;
    for (int step = 0; step < count; ++step) {
        const int k = S.ascending ? S.k0 + step : S.k1 - 1 - step;
        const double o1 = Snapped(S.off1 - k * S.g1), o2 = Snapped(S.off2 - k * S.g2);
        const std::uint16_t* slice = S.data + static_cast<size_t>(k) * S.sliceStride;
        // Integer origin of the slice in the intermediate picture and, bilinear, the
        // fraction of a voxel every sample of this slice lies past its grid point.
        const long I1 = bilinear ? static_cast<long>(std::ceil(o1)) : std::lround(o1);
        const long I2 = bilinear ? static_cast<long>(std::ceil(o2)) : std::lround(o2);
        const std::uint32_t w1 = bilinear ? Weight(I1 - o1) : 0, w2 = bilinear ? Weight(I2 - o2) : 0;
        const long cFirst = std::max<long>(S.c0, -I1), cEnd = std::min<long>(S.c1, S.W - I1);
        const long rFirst = std::max<long>(S.r0, b0 - I2), rEnd = std::min<long>(S.r1, b1 - I2);
        if (cFirst >= cEnd)
            continue;
        const size_t len = static_cast<size_t>(cEnd - cFirst);
        const auto row = [&](long r) { return slice + static_cast<size_t>(r) * S.rowStride + cFirst; };
        if (!bilinear || (w1 == 0 && w2 == 0)) {
            for (long r = rFirst; r < rEnd; ++r)
                add(row(r), static_cast<size_t>(r + I2 - b0) * W + static_cast<size_t>(cFirst + I1), len);
            continue;
        }
        // Row r blended across (its columns past the clipped range repeat the last one), in
        // one of two buffers taking turns: row r + 1 of one intermediate row is row r of the next.
        long heldRow = -1;
        const std::uint16_t* held = nullptr;
        int turn = 0;
        const auto across = [&](long r) -> const std::uint16_t* {
            if (r == heldRow)
                return held;
            const std::uint16_t* src = row(r);
            if (w1 != 0) {
                std::uint16_t* dst = rowBuffers[turn].data();
                turn ^= 1;
                const bool last = cEnd == S.c1;
                if (w1 == 65536)
                    std::memcpy(dst, src + 1, (len - last) * sizeof(std::uint16_t));
                else
                    Blend(dst, src, src + 1, w1, len - last);
                if (last)
                    dst[len - 1] = src[len - 1];
                src = dst;
            }
            heldRow = r;
            held = src;
            return src;
        };
        for (long r = rFirst; r < rEnd; ++r) {
            const size_t at = static_cast<size_t>(r + I2 - b0) * W + static_cast<size_t>(cFirst + I1);
            const std::uint16_t* top = across(r);
            if (w2 == 0) {
                add(top, at, len);
                continue;
            }
            // Rows past the clipped range repeat its last one.
            const std::uint16_t* bottom = across(std::min<long>(r + 1, S.r1 - 1));
            if (w2 == 65536) {
                add(bottom, at, len);
            } else if (mode == VolumeMode::Maximum) {
                BlendMaxInto(out + at, top, bottom, w2, len);
            } else {
                Blend(rowBuffers[2].data(), top, bottom, w2, len);
                add(rowBuffers[2].data(), at, len);
            }
        }
    }

    switch (mode) {
    case VolumeMode::Maximum:
        break;
    case VolumeMode::Minimum:
        for (size_t i = 0; i < cells; ++i)
            if (acc.count[i] == 0)
                out[i] = 0;
        break;
    case VolumeMode::Average:
        for (size_t i = 0; i < cells; ++i)
            out[i] = acc.count[i] ? static_cast<std::uint16_t>((acc.sum[i] + acc.count[i] / 2) / acc.count[i]) : 0;
        break;
    case VolumeMode::Alpha:
        for (size_t i = 0; i < cells; ++i)
            out[i] = static_cast<std::uint16_t>(std::min(65535.f, acc.colour[i] + 0.5f));
        break;
    }
}

// Output rows [y0, y1) from the intermediate picture; outside it is 0.
void Warp(const Setup& S, bool bilinear, const std::uint16_t* inter, int width, int y0, int y1, std::uint16_t* out)
{
    const long W = S.W, H = S.H;
    const auto at = [&](long a, long b) -> std::uint32_t {
        return (a >= 0 && a < W && b >= 0 && b < H) ? inter[b * W + a] : 0;
    };
    for (int y = y0; y < y1; ++y) {
        std::uint16_t* o = out + static_cast<size_t>(y) * static_cast<size_t>(width);
        double A = S.a0 + S.ay * y, B = S.b0 + S.by * y;
        for (int x = 0; x < width; ++x, A += S.ax, B += S.bx) {
            if (!(A > -1 && A < W && B > -1 && B < H)) {
                o[x] = 0;
                continue;
            }
            // A, B > -1: truncating after adding 1 is the floor, without a library call.
            if (!bilinear) {
                o[x] = static_cast<std::uint16_t>(at(static_cast<long>(A + 1.5) - 1, static_cast<long>(B + 1.5) - 1));
                continue;
            }
            const long ia = static_cast<long>(A + 1) - 1, ib = static_cast<long>(B + 1) - 1;
            const std::uint32_t wa = static_cast<std::uint32_t>((A - ia) * 65536 + 0.5);
            const std::uint32_t wb = static_cast<std::uint32_t>((B - ib) * 65536 + 0.5);
            const std::uint32_t top = (at(ia, ib) * (65536 - wa) + at(ia + 1, ib) * wa + 32768u) >> 16;
            const std::uint32_t bottom = (at(ia, ib + 1) * (65536 - wa) + at(ia + 1, ib + 1) * wa + 32768u) >> 16;
            o[x] = static_cast<std::uint16_t>((top * (65536 - wb) + bottom * wb + 32768u) >> 16);
        }
    }
}

ImageSlice<unsigned short> RenderOne(const VolumeRenderParams& p, const Volume& v, int rampLo, int rampHi,
                                     unsigned threads)
{
    const size_t pixels = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
    auto* out = static_cast<std::uint16_t*>(std::malloc(pixels * sizeof(std::uint16_t)));
    if (!out)
        return {};
    ImageSlice<unsigned short> plane(Vector(p.width, p.height), out);
    Setup S;
    if (!S.Init(p, v)) {
        std::memset(out, 0, pixels * sizeof(std::uint16_t));
        return plane;
    }
    std::vector<std::uint16_t> inter(static_cast<size_t>(S.W) * static_cast<size_t>(S.H));
    // Bands of rows small enough that a band's accumulators stay in cache across slices.
    // Across y, a band's rows lie in as many z planes, each read as a stream of its own: few
    // enough for the prefetchers to follow.
    const int band = S.m == 1 ? 4 : 64;
    const size_t bands = static_cast<size_t>((S.H + band - 1) / band);
    ParallelFor(bands, 1, threads, [&](size_t begin, size_t end) {
        for (size_t b = begin; b < end; ++b) {
            if (p.cancel && p.cancel->load(std::memory_order_relaxed))
                return;
            const int y0 = static_cast<int>(b) * band, y1 = std::min(S.H, y0 + band);
            CompositeBand(S, p, rampLo, rampHi, y0, y1, inter.data() + static_cast<size_t>(y0) * S.W);
        }
    });
    if (p.cancel && p.cancel->load(std::memory_order_relaxed))
        return {};
    const bool bilinear = p.sampling == VolumeSampling::Bilinear;
    constexpr int rows = 32;
    ParallelFor(static_cast<size_t>((p.height + rows - 1) / rows), 1, threads, [&](size_t begin, size_t end) {
        for (size_t b = begin; b < end; ++b) {
            const int y0 = static_cast<int>(b) * rows;
            Warp(S, bilinear, inter.data(), p.width, y0, std::min(p.height, y0 + rows), out);
        }
    });
    return plane;
}

} // namespace

std::vector<ImageSlice<unsigned short>> RenderVolume(const VolumeRenderParams& params,
                                                     const std::vector<std::shared_ptr<const Volume>>& volumes)
{
    std::vector<ImageSlice<unsigned short>> planes(volumes.size());
    if (params.width < 1 || params.height < 1 || !(params.scale > 0) || !std::isfinite(params.scale))
        return planes;
    const unsigned threads = params.threads ? params.threads : CoreCount();
    for (size_t c = 0; c < volumes.size(); ++c) {
        if (!volumes[c] || volumes[c]->IsEmpty())
            continue;
        std::pair<int, int> ramp{0, 65535};
        if (!params.ramps.empty())
            ramp = params.ramps[std::min(c, params.ramps.size() - 1)];
        planes[c] = RenderOne(params, *volumes[c], ramp.first, ramp.second, threads);
        if ((params.cancel && params.cancel->load(std::memory_order_relaxed)) || ImageReader::StopRequested())
            return std::vector<ImageSlice<unsigned short>>(volumes.size());
    }
    return planes;
}

double FitScale(const Volume& volume, const Rotation& rotation, int width, int height)
{
    if (volume.IsEmpty() || width < 1 || height < 1)
        return 1;
    double ext[2] = {0, 0};
    for (int i = 0; i < 8; ++i) {
        std::array<double, 3> p{};
        for (int a = 0; a < 3; ++a)
            p[a] = ((i >> a) & 1 ? 0.5 : -0.5) * volume.Size()[a] * volume.Spacing()[a];
        const auto q = rotation.Apply(p);
        ext[0] = std::max(ext[0], 2 * std::fabs(q[0]));
        ext[1] = std::max(ext[1], 2 * std::fabs(q[1]));
    }
    return std::min(width / std::max(ext[0], 1e-300), height / std::max(ext[1], 1e-300));
}

VolumeRenderParams CameraParams(const VolumeCamera& camera, const Volume& volume, int width, int height)
{
    VolumeRenderParams p;
    p.rotation = camera.rotation;
    p.scale = FitScale(volume, Rotation(), width, height) * camera.zoom;
    p.panX = camera.panX;
    p.panY = camera.panY;
    p.width = width;
    p.height = height;
    return p;
}

std::shared_ptr<Volume> HalveVolume(const Volume& v)
{
    if (v.IsEmpty())
        return std::make_shared<Volume>();
    const auto& n = v.Size();
    const auto& s = v.Spacing();
    auto half = std::make_shared<Volume>((n[0] + 1) / 2, (n[1] + 1) / 2, (n[2] + 1) / 2, 2 * s[0], 2 * s[1], 2 * s[2]);
    for (int z = 0; z < n[2]; ++z)
        for (int y = 0; y < n[1]; ++y) {
            std::uint16_t* o = &half->At(0, y / 2, z / 2);
            const std::uint16_t* row = v.Data() + v.Index(0, y, z);
            for (int x = 0; x < n[0]; ++x)
                o[x / 2] = std::max(o[x / 2], row[x]);
        }
    return half;
}

ProjectedBox ProjectVolumeBox(const VolumeRenderParams& params, const Volume& volume)
{
    ProjectedBox box;
    for (int i = 0; i < 8; ++i) {
        std::array<double, 3> p{};
        for (int a = 0; a < 3; ++a)
            p[a] = ((i >> a) & 1 ? 0.5 : -0.5) * volume.Size()[a] * volume.Spacing()[a];
        const auto q = params.rotation.Apply(p);
        box.corners[i] = {q[0] * params.scale + params.width / 2.0 + params.panX,
                          q[1] * params.scale + params.height / 2.0 + params.panY};
        box.depth[i] = q[2];
    }
    return box;
}

} // namespace ImageViewer
