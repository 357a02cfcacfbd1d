// The histogram panel recounts the current plane at every paint, so dragging a marker
// costs one count per redraw. Baseline: a plain read pass over the same plane.
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "HistogramPanel.h"

namespace {

std::vector<unsigned short> plane(int side)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(1500.0, 300.0);
    std::vector<unsigned short> v(static_cast<size_t>(side) * static_cast<size_t>(side));
    for (auto& x : v)
        x = static_cast<unsigned short>(std::clamp(noise(rng), 0.0, 65535.0));
    return v;
}

void BM_PanelCount(benchmark::State& state)
{
    const auto values = plane(static_cast<int>(state.range(0)));
    const ImageViewer::HistogramPanel panel(176, 32);
    for (auto _ : state) {
        ImageViewer::PanelBins bins = panel.Count(values.data(), values.size());
        benchmark::DoNotOptimize(bins.counts.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(values.size() * 2));
}

void BM_PlaneReadBaseline(benchmark::State& state)
{
    const auto values = plane(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        unsigned long long sum = 0;
        for (unsigned short v : values)
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(values.size() * 2));
}

void BM_PlaneMemcpyBaseline(benchmark::State& state)
{
    const auto values = plane(static_cast<int>(state.range(0)));
    std::vector<unsigned short> copy(values.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), values.data(), values.size() * 2);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(values.size() * 2));
}

} // namespace

BENCHMARK(BM_PanelCount)->Arg(512)->Arg(1024);
BENCHMARK(BM_PlaneReadBaseline)->Arg(512)->Arg(1024);
BENCHMARK(BM_PlaneMemcpyBaseline)->Arg(512)->Arg(1024);
BENCHMARK_MAIN();
