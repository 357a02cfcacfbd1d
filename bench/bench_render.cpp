// Channel mapping, compositing and spectral projection, each beside a same-run baseline
// that moves the same bytes (memcpy into a new output, or a plain read of the input).
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "ChannelRenderer.h"
#include "ImageChannel.h"
#include "SpectralProjection.h"

using namespace ImageViewer;
using ImageReader::ImageSlice;
using ImageReader::Vector;

namespace {

Vector Pos(int p)
{
    Vector v;
    v.push_back(p);
    return v;
}

Vector Pos3()
{
    Vector v(-1, -1);
    v.push_back(-1);
    return v;
}

// Planes kept in memory and handed out shared, so the benchmarks time the renderers, not a reader.
class PlaneStack : public ImageReader::ImageBase<unsigned short>
{
public:
    PlaneStack(int w, int h, int planes) : m_w(w), m_h(h)
    {
        unsigned state = 12345;
        const size_t n = static_cast<size_t>(w) * h;
        for (int p = 0; p < planes; ++p) {
            auto* buf = static_cast<unsigned short*>(std::malloc(n * sizeof(unsigned short)));
            for (size_t i = 0; i < n; ++i) {
                state = state * 1664525u + 1013904223u;
                // 12-bit camera data with some structure and noise.
                buf[i] = static_cast<unsigned short>(((i % w) + (i / w) + 7 * p + (state >> 24)) & 0xFFF);
            }
            m_planes.emplace_back(Vector(w, h), buf);
        }
    }
    Vector GetSize() override
    {
        Vector v(m_w, m_h);
        v.push_back(static_cast<int>(m_planes.size()));
        return v;
    }
    ImageSlice<unsigned short> GetSlice(const Vector& pos) override { return m_planes[static_cast<size_t>(pos[0])]; }

private:
    int m_w, m_h;
    std::vector<ImageSlice<unsigned short>> m_planes;
};

PlaneStack& Stack2048x3()
{
    static PlaneStack stack(2048, 2048, 3);
    return stack;
}

PlaneStack& Spectral(int planes)
{
    static std::unique_ptr<PlaneStack> big, small;
    std::unique_ptr<PlaneStack>& s = planes == 1024 ? big : small;
    if (!s)
        s = std::make_unique<PlaneStack>(512, 512, planes);
    return *s;
}

// Allocating and filling an output of `pixels` pixels of `pixelBytes` bytes each by memcpy:
// what any renderer of that output costs at least.
void CopyBaseline(benchmark::State& state, size_t pixels, size_t pixelBytes)
{
    const size_t bytes = pixels * pixelBytes;
    std::vector<unsigned char> src(bytes, 7);
    for (auto _ : state) {
        auto* dst = static_cast<unsigned char*>(std::malloc(bytes));
        std::memcpy(dst, src.data(), bytes);
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
        std::free(dst);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
}

} // namespace

// The colour picture of 2048 x 2048 pixels, and the sums blocks (16 bytes a pixel) of a
// 512 x 512 and a 512 x 1024 view.
BENCHMARK_CAPTURE(CopyBaseline, 2048x2048_RGBA, 2048 * 2048, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyBaseline, 512x512_Sums, 512 * 512, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyBaseline, 512x1024_Sums, 512 * 1024, 16)->Unit(benchmark::kMillisecond);

// Arguments: autoscaling off (0) or on (1), gamma.
static void BM_RenderToRGBA_2048x2048(benchmark::State& state)
{
    const ImageSlice<unsigned short> slice = Stack2048x3().GetSlice(Pos(0));
    ImageChannel channel(100, 3000, static_cast<int>(state.range(1)), 255, 200, 40, state.range(0) != 0);
    for (auto _ : state) {
        RGBABuffer out = channel.RenderToRGBA(slice);
        benchmark::DoNotOptimize(out.get());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}
BENCHMARK(BM_RenderToRGBA_2048x2048)->Args({0, 0})->Args({1, 0})->Args({0, 4})->Unit(benchmark::kMillisecond);

static void BM_Composite3_2048x2048(benchmark::State& state)
{
    auto channels = std::make_shared<ChannelList>();
    channels->push_back(std::make_shared<ImageChannel>(100, 3000, 0, 255, 0, 0));
    channels->push_back(std::make_shared<ImageChannel>(0, 4095, 0, 0, 255, 0));
    channels->push_back(std::make_shared<ImageChannel>(500, 2500, 0, 0, 80, 255));
    ChannelRenderer renderer(2, channels);
    for (auto _ : state) {
        RGBABuffer out = renderer.RenderToRGBA(Stack2048x3());
        benchmark::DoNotOptimize(out.get());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}
BENCHMARK(BM_Composite3_2048x2048)->Unit(benchmark::kMillisecond);

// Every sample of the volume read once and summed: the floor for anything that visits them all.
static void BM_ReadPass_512x512xN(benchmark::State& state)
{
    PlaneStack& stack = Spectral(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        unsigned long long sum = 0;
        for (int p = 0; p < state.range(0); ++p) {
            const ImageSlice<unsigned short> s = stack.GetSlice(Pos(p));
            const unsigned short* d = s.GetData();
            for (size_t i = 0; i < 512 * 512; ++i)
                sum += d[i];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512 * state.range(0));
}
BENCHMARK(BM_ReadPass_512x512xN)->Arg(32)->Arg(1024)->Unit(benchmark::kMillisecond);

// Argument: number of spectral samples. The spectrum is projected onto the XY view. With
// the default calibration (index 367 at 488 nm, 646 at 658 nm) indices 190..847 are visible.
static void BM_SpectralProjection_512x512xN(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    PlaneStack& stack = Spectral(n);
    // 32 samples: spread over the visible range, as a 32-channel detector would be.
    const Vector wl = n == 1024 ? CalibrateWavelengths(367, 488, 646, 658, n) : CalibrateWavelengths(0, 400, 31, 710, n);
    for (auto _ : state) {
        unsigned mi = 0, ma = 0;
        ImageSlice<unsigned int> sums = GetSpectralProjection(stack, 0, 1, 2, Pos3(), wl, mi, ma);
        benchmark::DoNotOptimize(sums.GetData());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512 * n);
}
BENCHMARK(BM_SpectralProjection_512x512xN)->Arg(32)->Arg(1024)->Unit(benchmark::kMillisecond);

// The spectrum as the vertical axis of a view (XZ: 512 x 1024 pixels, row 256 of every
// plane) and as the horizontal one (YZ: 1024 x 512, column 256 of every plane).
static void BM_SpectralViewAxis_512x512x1024(benchmark::State& state)
{
    PlaneStack& stack = Spectral(1024);
    const Vector wl = CalibrateWavelengths(367, 488, 646, 658, 1024);
    const bool xz = state.range(0) == 0;
    Vector pv(256, 256);
    pv.push_back(0);
    for (auto _ : state) {
        unsigned mi = 0, ma = 0;
        ImageSlice<unsigned int> sums =
            xz ? GetSpectralProjection(stack, 0, 2, 2, pv, wl, mi, ma) : GetSpectralProjection(stack, 2, 1, 2, pv, wl, mi, ma);
        benchmark::DoNotOptimize(sums.GetData());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 1024);
}
BENCHMARK(BM_SpectralViewAxis_512x512x1024)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

static void BM_SpectralSumsToRGBA_512x512(benchmark::State& state)
{
    auto* block = static_cast<unsigned*>(std::malloc(512 * 512 * 16));
    for (size_t i = 0; i < 512 * 512 * 4; ++i)
        block[i] = static_cast<unsigned>((i * 2654435761u) % 5000000u);
    const ImageSlice<unsigned> sums(Vector(512, 512), block);
    for (auto _ : state) {
        RGBABuffer out = SpectralSumsToRGBA(sums, 4095ll * 1024);
        benchmark::DoNotOptimize(out.get());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(BM_SpectralSumsToRGBA_512x512)->Unit(benchmark::kMillisecond);

// The whole spectral view picture from per-index wavelengths: argument 0 the CIE true
// colour (weights built, projected, converted through the sRGB curve), 1 the classic bands.
// Compare with BM_ReadPass_512x512xN/1024.
static void BM_SpectralView_512x512x1024(benchmark::State& state)
{
    PlaneStack& stack = Spectral(1024);
    const Vector wl = CalibrateWavelengths(367, 488, 646, 658, 1024);
    std::vector<double> nm;
    for (int i = 0; i < 1024; ++i)
        nm.push_back(wl[i]);
    const SpectralMapping mapping = state.range(0) == 0 ? SpectralMapping::TrueColour : SpectralMapping::Classic;
    for (auto _ : state) {
        ImageChannel global(0, 4095);
        RGBABuffer out = RenderSpectralView(stack, 0, 1, 2, Pos3(), nm, global, mapping);
        benchmark::DoNotOptimize(out.get());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512 * 1024);
}
BENCHMARK(BM_SpectralView_512x512x1024)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
