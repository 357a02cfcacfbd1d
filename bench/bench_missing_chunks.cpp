// A server that has none of an image's chunks: a 4096 x 4096 x 2 uint16 Zarr v2 array in
// 16 x 16 chunks (65 536 per plane) whose metadata alone is on a loopback server, every chunk
// request answered 404. Reading a plane asks for each chunk once and draws the fill value.
// Counted: requests of a first read, of a second read of the same plane and of another plane,
// their times, and the growth of peak resident memory over the read; against plain GETs of
// the same 65 536 addresses, four at a time over kept-open connections.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "PlainGets.h"
#include "ProcessStatus.h"
#include "ZarrReader.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSide = 4096, kChunk = 16;
constexpr int kChunksPerPlane = (kSide / kChunk) * (kSide / kChunk);

// The array's folder (metadata only) and the server over it, made once.
struct MissingImage
{
    MissingImage()
    {
        std::string pattern = (fs::temp_directory_path() / "lumora-bench-missing-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        fs::create_directories(folder / "missing.zarr");
        std::ofstream(folder / "missing.zarr" / ".zarray")
            << R"({"zarr_format": 2, "shape": [2, )" << kSide << ", " << kSide << R"(], "chunks": [1, )" << kChunk
            << ", " << kChunk << R"(], "dtype": "<u2", "compressor": null, "fill_value": 7, "filters": null, "order": "C"})";
        server = std::make_unique<LoopbackServer>(folder);
    }
    ~MissingImage()
    {
        server.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::string Url() const { return server->Url("missing.zarr"); }
    fs::path folder;
    std::unique_ptr<LoopbackServer> server;
};

MissingImage& image()
{
    static MissingImage m;
    return m;
}

ImageReader::Vector plane(int z)
{
    ImageReader::Vector p;
    p.push_back(z);
    return p;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double& baselineSeconds()
{
    static double seconds = 0;
    return seconds;
}

// GETs of every chunk address of plane 0, four in flight, connections kept open: what the
// requests themselves cost.
void BM_PlainGetsBaseline(benchmark::State& state)
{
    MissingImage& m = image();
    std::vector<std::string> urls;
    for (int y = 0; y < kSide / kChunk; ++y)
        for (int x = 0; x < kSide / kChunk; ++x)
            urls.push_back(m.Url() + "/0." + std::to_string(y) + "." + std::to_string(x));
    CURLM* multi = newMulti();
    std::vector<std::vector<char>> bodies;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (!getAll(multi, urls, bodies, 404))
            state.SkipWithError("a chunk was not answered 404");
    baselineSeconds() = secondsSince(start) / static_cast<double>(state.iterations());
    curl_multi_cleanup(multi);
    state.counters["requests"] = static_cast<double>(urls.size());
}
BENCHMARK(BM_PlainGetsBaseline)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads plane 0 of a fresh reader, then plane 0 again and plane 1.
void BM_AllChunksMissing(benchmark::State& state)
{
    MissingImage& m = image();
    for (auto _ : state) {
        const bool reset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
        const double rssStart = statusMiB("VmRSS:");
        const int requestsBefore = m.server->Requests();
        ImageReader::ZarrReader<unsigned short> reader(m.Url());
        if (reader.GetSize().size() != 3) {
            state.SkipWithError(reader.GetError().c_str());
            break;
        }
        const int opened = m.server->Requests();
        const auto start = std::chrono::steady_clock::now();
        const ImageReader::ImageSlice<unsigned short> got = reader.GetSlice(plane(0));
        const double first = secondsSince(start);
        const int afterFirst = m.server->Requests();
        if (got.IsEmpty() || got.GetData()[kSide * kSide - 1] != 7)
            state.SkipWithError("the plane is not the fill value");
        auto lap = std::chrono::steady_clock::now();
        reader.GetSlice(plane(0));
        const double again = secondsSince(lap);
        const int afterAgain = m.server->Requests();
        lap = std::chrono::steady_clock::now();
        reader.GetSlice(plane(1));
        const double second = secondsSince(lap);
        state.counters["open_requests"] = opened - requestsBefore;
        state.counters["plane0_requests"] = afterFirst - opened;
        state.counters["plane0_s"] = first;
        state.counters["plane0_again_requests"] = afterAgain - afterFirst;
        state.counters["plane0_again_s"] = again;
        state.counters["plane1_requests"] = m.server->Requests() - afterAgain;
        state.counters["plane1_s"] = second;
        state.counters["peak_growth_MiB"] = statusMiB("VmHWM:") - rssStart;
        if (baselineSeconds() > 0)
            state.counters["x_baseline"] = first / baselineSeconds();
        if (!reset)
            state.counters["peak_not_reset"] = 1;
    }
}
BENCHMARK(BM_AllChunksMissing)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
