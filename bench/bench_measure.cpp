// Region statistics cost about what reading their pixels costs: a polygon spanning 1000 x 1000
// pixels measured on the three channel planes of a 1024 x 1024 image (sum, squares, extremes,
// mapped to real values) against a plain sum of the same pixels, in the same run. And the
// same polygon measured through every plane of a 3.4 GB 1024 x 1024 x 1600 uint16 ICS stack
// (a sparse file in /tmp/lumora-bench-measure, removed afterwards) against pread of the same
// planes, with the peak resident memory of each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "MeasureFile.h"
#include "Measurements.h"
#include "OpenImage.h"
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

constexpr int kDepth = 1600;

// The stack, written once per run: an ICS header and a sparse data file.
const std::filesystem::path& Stack()
{
    static const std::filesystem::path header = [] {
        const std::filesystem::path dir = "/tmp/lumora-bench-measure";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "stack.ics", std::ios::binary)
            << "\t\nics_version\t1.0\nfilename\tstack\nlayout\tparameters\t4\nlayout\torder\tbits\tx\ty\tz\n"
               "layout\tsizes\t16\t"
            << kW << "\t" << kH << "\t" << kDepth
            << "\nlayout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
               "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
               "representation\tbyte_order\t1\t2\nend\n";
        std::ofstream(dir / "stack.ids", std::ios::binary);
        std::filesystem::resize_file(dir / "stack.ids", size_t(kW) * kH * 2 * kDepth);
        return dir / "stack.ics";
    }();
    return header;
}

struct RemoveStack
{
    ~RemoveStack()
    {
        std::error_code ec;
        std::filesystem::remove_all("/tmp/lumora-bench-measure", ec);
    }
} removeStack;

// Peak resident memory since the last reset, in MiB.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
double PeakMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

void BM_PreadStack(benchmark::State& state)
{
    const std::filesystem::path data = std::filesystem::path(Stack()).replace_extension(".ids");
    std::vector<std::uint16_t> plane(size_t(kW) * kH);
    const size_t bytes = plane.size() * 2;
    ResetPeak();
    for (auto _ : state) {
        const int fd = open(data.c_str(), O_RDONLY);
        for (int z = 0; z < kDepth; ++z)
            benchmark::DoNotOptimize(pread(fd, plane.data(), bytes, static_cast<off_t>(bytes) * z));
        close(fd);
    }
    state.counters["peakMiB"] = PeakMiB();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes) * kDepth);
}
BENCHMARK(BM_PreadStack)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_MeasureThroughStack(benchmark::State& state)
{
    ImageReader::OpenedImage opened = ImageReader::OpenImage(Stack().string());
    if (!opened.reader) {
        state.SkipWithError(opened.error.c_str());
        return;
    }
    Measure::MeasureRequest request;
    request.through = {"z"};
    request.memoryBudget = size_t(64) << 20;
    ResetPeak();
    size_t rows = 0;
    for (auto _ : state)
        rows = Measure::MeasureFile(*opened.reader, {Blob()}, request).rows.size();
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peakMiB"] = PeakMiB();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kW) * kH * 2 * kDepth);
}
BENCHMARK(BM_MeasureThroughStack)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
