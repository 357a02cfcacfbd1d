// Frames of the 3-D view against a same-run floor that reads every voxel of the volume once
// on all cores: frames per second (items) of each case divided by the floor's give the ratio.
// Volumes are 512^3 uint16 (256 MiB a channel), the output 512 x 512.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "Parallel.h"
#include "Volume.h"
#include "VolumeCamera.h"
#include "VolumeRenderer.h"

using namespace ImageViewer;

namespace {

constexpr int N = 512;

// Camera-like data: a smooth pattern under noise, 12 bits, different per channel.
std::shared_ptr<const Volume> Channel(int c)
{
    static std::shared_ptr<const Volume> channels[3];
    if (!channels[c]) {
        auto v = std::make_shared<Volume>(N, N, N, 100, 100, 100);
        std::uint32_t state = 12345u + static_cast<std::uint32_t>(c);
        std::uint16_t* d = v->Data();
        for (int z = 0; z < N; ++z)
            for (int y = 0; y < N; ++y)
                for (int x = 0; x < N; ++x) {
                    state = state * 1664525u + 1013904223u;
                    *d++ = static_cast<std::uint16_t>((((x ^ y) + 3 * z + 40 * c) & 0x7FF) + (state >> 24));
                }
        channels[c] = v;
    }
    return channels[c];
}

std::shared_ptr<const Volume> HalfChannel()
{
    static std::shared_ptr<const Volume> half = HalveVolume(*Channel(0));
    return half;
}

// The largest voxel, each one read once, the volume split among the cores as the renderer
// splits it.
void BM_Floor_ReadEveryVoxel(benchmark::State& state)
{
    const Volume& v = *Channel(0);
    const size_t n = v.VoxelCount(), block = size_t(1) << 20;
    std::vector<std::uint16_t> best((n + block - 1) / block);
    for (auto _ : state) {
        ParallelFor(n, block, CoreCount(), [&](size_t b, size_t e) {
            std::uint16_t m = 0;
            for (size_t i = b; i < e; ++i)
                m = std::max(m, v.Data()[i]);
            best[b / block] = m;
        });
        benchmark::DoNotOptimize(best.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * v.Bytes()));
}
BENCHMARK(BM_Floor_ReadEveryVoxel)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arguments: azimuth, elevation (30,20 slices across z; 70,-35 across x; 10,75 across y),
// sampling (0 nearest, 1 bilinear), channels, half resolution (1: the 256^3 dragging copy
// into a 512 x 512 picture, 2: into a 256 x 256 one to be shown doubled), mode (VolumeMode).
void BM_RenderVolume(benchmark::State& state)
{
    std::vector<std::shared_ptr<const Volume>> volumes;
    const bool half = state.range(4) != 0;
    for (int c = 0; c < state.range(3); ++c)
        volumes.push_back(half ? HalfChannel() : Channel(c));
    VolumeRenderParams p;
    p.rotation = AzElRotation(static_cast<double>(state.range(0)), static_cast<double>(state.range(1)));
    p.sampling = state.range(2) ? VolumeSampling::Bilinear : VolumeSampling::Nearest;
    p.mode = static_cast<VolumeMode>(state.range(5));
    p.ramps = {{500, 2500}};
    if (state.range(4) == 2)
        p.width = p.height = 256;
    p.scale = 0.8 * FitScale(*volumes[0], Rotation(), p.width, p.height);
    // The first frame of a view across x builds the x-major copy; that is not a frame's cost.
    RenderVolume(p, volumes);
    for (auto _ : state) {
        auto planes = RenderVolume(p, volumes);
        benchmark::DoNotOptimize(planes.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderVolume)
    ->ArgNames({"az", "el", "bilinear", "channels", "half", "mode"})
    ->Args({30, 20, 0, 1, 0, 0})
    ->Args({30, 20, 1, 1, 0, 0})
    ->Args({70, -35, 1, 1, 0, 0})
    ->Args({10, 75, 1, 1, 0, 0})
    ->Args({0, 0, 1, 1, 0, 0})
    ->Args({30, 20, 1, 1, 1, 0})
    ->Args({30, 20, 0, 1, 1, 0})
    ->Args({30, 20, 1, 1, 2, 0})
    ->Args({30, 20, 0, 1, 2, 0})
    ->Args({30, 20, 1, 3, 0, 0})
    ->Args({30, 20, 1, 1, 0, 2})
    ->Args({30, 20, 1, 1, 0, 3})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The one-off cost of the first view across x: the x-major copy of a 512^3 channel.
void BM_XMajorCopy(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto v = std::make_shared<Volume>(N, N, N);
        std::copy(Channel(0)->Data(), Channel(0)->Data() + v->VoxelCount(), v->Data());
        state.ResumeTiming();
        benchmark::DoNotOptimize(v->XMajor());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Channel(0)->Bytes()));
}
BENCHMARK(BM_XMajorCopy)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
