// Region statistics cost about what reading their pixels costs: a polygon spanning 1000 x 1000
// pixels measured on the three channel planes of a 1024 x 1024 image (sum, squares, extremes,
// mapped to real values) against a plain sum of the same pixels, in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Measurements.h"
#include "RegionStatistics.h"

namespace {

constexpr int kW = 1024, kH = 1024, kChannels = 3;

// A 96-vertex outline with a wavy edge inside the box (12, 12) .. (1012, 1012).
Measure::Region Blob()
{
    Measure::Region r;
    r.kind = Measure::RegionKind::Polygon;
    for (int i = 0; i < 96; ++i) {
        const double a = 2 * M_PI * i / 96, radius = 500 * (i % 2 ? 1.0 : 0.9);
        r.points.push_back({512 + radius * std::cos(a), 512 + radius * std::sin(a)});
    }
    return r;
}

struct Planes
{
    std::vector<std::vector<std::uint16_t>> channel;
    Planes()
    {
        std::mt19937 rng(11);
        for (int c = 0; c < kChannels; ++c) {
            channel.emplace_back(static_cast<size_t>(kW) * kH);
            for (auto& v : channel.back())
                v = static_cast<std::uint16_t>(rng());
        }
    }
};

const Planes& planes()
{
    static const Planes p;
    return p;
}

// Serves the planes above without copying, as a cache hit does.
class PlaneSource : public ImageReader::ImageBase<unsigned short>
{
public:
    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v(kW, kH);
        v.push_back(kChannels);
        return v;
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        static const std::shared_ptr<const void> keep = std::make_shared<int>(0);
        return ImageReader::ImageSlice<unsigned short>::Borrow(ImageReader::Vector(kW, kH),
                                                               planes().channel[static_cast<size_t>(position[0])].data(), keep);
    }
};

void BM_SumSamePixels(benchmark::State& state)
{
    const Measure::RegionMask mask(Blob(), kW, kH);
    for (auto _ : state) {
        for (const auto& plane : planes().channel) {
            std::uint64_t sum = 0;
            for (const Measure::Span& s : mask.Spans()) {
                const std::uint16_t* row = plane.data() + static_cast<size_t>(s.y) * kW;
                for (int x = s.x0; x < s.x1; ++x)
                    sum += row[x];
            }
            benchmark::DoNotOptimize(sum);
        }
    }
    state.SetBytesProcessed(state.iterations() * kChannels * static_cast<int64_t>(mask.PixelCount()) * 2);
    state.counters["pixels"] = static_cast<double>(mask.PixelCount());
}
BENCHMARK(BM_SumSamePixels)->Unit(benchmark::kMillisecond);

void BM_PolygonStatistics(benchmark::State& state)
{
    const Measure::RegionMeasurer measurer(Blob(), kW, kH, Measure::Calibration::FromNanometres(100, 100));
    const ImageReader::ValueMap map{-3.5, 0.25};
    for (auto _ : state)
        for (const auto& plane : planes().channel)
            benchmark::DoNotOptimize(measurer.Measure(plane.data(), map));
    state.SetBytesProcessed(state.iterations() * kChannels * static_cast<int64_t>(measurer.Mask().PixelCount()) * 2);
}
BENCHMARK(BM_PolygonStatistics)->Unit(benchmark::kMillisecond);

// Everything a measurement does: rasterising the outline, reading three planes, one row each.
void BM_MeasureImageThreeChannels(benchmark::State& state)
{
    PlaneSource source;
    Measure::ImageDescription d;
    d.dimNames = {"x", "y", "c"};
    d.pixelSizes = {100, 100, 0};
    d.channelDim = 2;
    const std::vector<Measure::Region> regions = {Blob()};
    for (auto _ : state)
        benchmark::DoNotOptimize(Measure::MeasureImage(source, d, regions, {}));
}
BENCHMARK(BM_MeasureImageThreeChannels)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
