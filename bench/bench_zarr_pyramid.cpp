// A 2048 x 2048 x 512 uint16 OME-Zarr pyramid (levels 2048, 1024, 512 in x and y; z stays
// 512 at every level, as for anisotropic stacks), blosc/lz4 with byte shuffle, chunks of
// 1 x 512 x 512 in "/"-nested keys. The benchmark writes it itself (libblosc, JSON by hand)
// into a scratch folder: $LUMORA_BENCH_ZARR_DIR, where it is kept for later runs, or the
// temporary folder, where it is removed at exit.
//
// Read from that folder and from a loopback HTTP server in this process (4 connections), each
// case opens the image anew and times
//   - the first picture: the middle plane at the coarsest level (one chunk), and
//   - the full-resolution plane: the middle plane at level 0 (16 chunks),
// against same-run baselines that fetch the same chunk files without decoding: plain file
// reads, and plain GETs through libcurl with the same concurrency over kept-open connections.
// "x_baseline" is the reader's time over its baseline's. BM_NextPlane steps through z in an
// image already open (new full-resolution planes, connections already open).
//
// BM_WindowViews opens the image in the window, fitted, and times its first picture (the
// coarsest level), its three views at the level that matches, and after View > Actual pixels
// the full-resolution XY view and then the side views; minor_faults counts the pages first
// touched from opening to the side views (fresh memory costs one fault per 4 KiB page). The
// window's main sets the allocator's thresholds; to run as it does, start this program with
// GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=67108864.
//
// BM_PeakMemory reads 64 (or 256) full-resolution planes from the server through the viewer's plane
// cache with a 256 MiB budget and reports the peak resident memory (VmHWM, reset first)
// above the resident memory at its start. Arg 1 gives the reader the budget (its chunk cache
// takes a share of it); arg 0 leaves the chunk cache at its fixed default, as before. Run
// each on its own (--benchmark_filter=PeakMemory/budget:1/planes:64) for a clean peak.
#include <benchmark/benchmark.h>

#include <blosc.h>
#include <curl/curl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "PlainGets.h"
#include "ProcessStatus.h"
#include "SliceCache.h"
#include "ZarrReader.h"
#include "ZarrV3Writer.h"
#ifdef LUMORA_BENCH_WINDOW
#include <QApplication>

#include "Diagnostics.h"
#include "formImageViewer.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kSize = 2048, kDepth = 512, kLevels = 3, kChunk = 512, kZ = kDepth / 2;
constexpr size_t kBudget = size_t(256) << 20;

// Smooth structure plus camera-like noise: compresses about as well as real data.
void fillChunk(std::vector<std::uint16_t>& chunk, int level, int z, int cy, int cx)
{
    std::uint32_t state = 0x9e3779b9u ^ static_cast<std::uint32_t>((level * 1315423911) ^ (z * 2654435761u) ^ (cy * 97 + cx * 7919));
    size_t i = 0;
    for (int y = 0; y < kChunk; ++y)
        for (int x = 0; x < kChunk; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int X = (cx * kChunk + x) << level, Y = (cy * kChunk + y) << level;
            chunk[i++] = static_cast<std::uint16_t>(1000 + (X ^ Y) / 4 + z * 10 + (state & 63));
        }
}

class Pyramid
{
public:
    Pyramid()
    {
        const char* keep = std::getenv("LUMORA_BENCH_ZARR_DIR");
        m_keep = keep && *keep;
        m_folder = m_keep ? fs::path(keep) : fs::temp_directory_path() / ("lumora_bench_pyramid_" + std::to_string(::getpid()));
        m_image = m_folder / "img.zarr";
        if (!fs::exists(m_image / "complete"))
            Write();
    }
    ~Pyramid()
    {
        if (!m_keep)
            fs::remove_all(m_folder);
    }

    fs::path Folder() const { return m_folder; }
    std::string Path() const { return m_image.string(); }
    // The files of plane z of a level.
    std::vector<std::string> PlaneKeys(int level, int z) const
    {
        std::vector<std::string> keys;
        const int n = (kSize >> level) / kChunk;
        for (int cy = 0; cy < n; ++cy)
            for (int cx = 0; cx < n; ++cx)
                keys.push_back(std::to_string(level) + "/" + std::to_string(z) + "/" + std::to_string(cy) + "/" + std::to_string(cx));
        return keys;
    }
    std::uintmax_t StoredBytes(int level) const
    {
        std::uintmax_t total = 0;
        for (const auto& e : fs::recursive_directory_iterator(m_image / std::to_string(level)))
            if (e.is_regular_file())
                total += e.file_size();
        return total;
    }

private:
    void Write()
    {
        fs::remove_all(m_image);
        fs::create_directories(m_image);
        std::ofstream(m_image / ".zgroup") << R"({"zarr_format":2})";
        std::ofstream attrs(m_image / ".zattrs");
        attrs << R"({"multiscales":[{"version":"0.4","name":"bench","axes":[)"
              << R"({"name":"z","type":"space","unit":"micrometer"},{"name":"y","type":"space","unit":"micrometer"},)"
              << R"({"name":"x","type":"space","unit":"micrometer"}],"datasets":[)";
        for (int level = 0; level < kLevels; ++level)
            attrs << (level ? "," : "") << R"({"path":")" << level << R"(","coordinateTransformations":[{"type":"scale","scale":[1.0,)"
                  << 0.1 * (1 << level) << "," << 0.1 * (1 << level) << "]}]}";
        attrs << "]}]}";
        attrs.close();
        blosc_init();
        for (int level = 0; level < kLevels; ++level) {
            const int size = kSize >> level, n = size / kChunk;
            const fs::path root = m_image / std::to_string(level);
            fs::create_directories(root);
            std::ofstream(root / ".zarray") << R"({"zarr_format":2,"shape":[)" << kDepth << "," << size << "," << size
                                            << R"(],"chunks":[1,)" << kChunk << "," << kChunk
                                            << R"(],"dtype":"<u2","compressor":{"id":"blosc","cname":"lz4","clevel":5,"shuffle":1,"blocksize":0},)"
                                            << R"("fill_value":0,"order":"C","filters":null,"dimension_separator":"/"})";
            for (int z = 0; z < kDepth; ++z)
                for (int cy = 0; cy < n; ++cy)
                    fs::create_directories(root / std::to_string(z) / std::to_string(cy));
            // Both cores: the whole image is about 5.6 GB before compression.
            std::atomic<int> next{0};
            auto work = [&] {
                std::vector<std::uint16_t> chunk(size_t(kChunk) * kChunk);
                std::vector<char> stored(chunk.size() * 2 + BLOSC_MAX_OVERHEAD);
                for (int z = next++; z < kDepth; z = next++)
                    for (int cy = 0; cy < n; ++cy)
                        for (int cx = 0; cx < n; ++cx) {
                            fillChunk(chunk, level, z, cy, cx);
                            const int bytes = blosc_compress_ctx(5, BLOSC_SHUFFLE, 2, chunk.size() * 2, chunk.data(), stored.data(),
                                                                 stored.size(), "lz4", 0, 1);
                            const fs::path file = root / std::to_string(z) / std::to_string(cy) / std::to_string(cx);
                            std::ofstream(file, std::ios::binary).write(stored.data(), std::max(bytes, 0));
                        }
            };
            std::thread helper(work);
            work();
            helper.join();
        }
        std::ofstream(m_image / "complete") << "1";
    }

    bool m_keep = false;
    fs::path m_folder, m_image;
};

Pyramid& pyramid()
{
    static Pyramid p;
    return p;
}

LoopbackServer& server()
{
    static LoopbackServer s(pyramid().Folder());
    return s;
}

std::string location(bool http)
{
    return http ? server().Url("img.zarr") : pyramid().Path();
}

// Mean wall time per iteration of the last baseline run, by (http, level).
std::map<std::pair<bool, int>, double>& baselines()
{
    static std::map<std::pair<bool, int>, double> b;
    return b;
}

// Times the loop body itself, for ratios between cases.
class Timer
{
public:
    double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(); }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

void BM_PlainFileRead(benchmark::State& state)
{
    const int level = static_cast<int>(state.range(0));
    std::vector<std::string> files;
    for (const std::string& key : pyramid().PlaneKeys(level, kZ))
        files.push_back((fs::path(pyramid().Path()) / key).string());
    std::vector<char> buffer;
    size_t total = 0;
    const Timer timer;
    for (auto _ : state) {
        total = 0;
        for (const std::string& f : files) {
            std::ifstream in(f, std::ios::binary | std::ios::ate);
            buffer.resize(static_cast<size_t>(in.tellg()));
            in.seekg(0);
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            total += buffer.size();
        }
        benchmark::DoNotOptimize(total);
    }
    baselines()[{false, level}] = timer.Seconds() / static_cast<double>(state.iterations());
    state.counters["stored_KiB"] = static_cast<double>(total) / 1024.0;
}
BENCHMARK(BM_PlainFileRead)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainHttpGet(benchmark::State& state)
{
    const int level = static_cast<int>(state.range(0));
    std::vector<std::string> urls;
    for (const std::string& key : pyramid().PlaneKeys(level, kZ))
        urls.push_back(location(true) + "/" + key);
    std::vector<std::vector<char>> bodies;
    size_t total = 0;
    CURLM* multi = newMulti();
    const Timer timer;
    for (auto _ : state) {
        if (!getAll(multi, urls, bodies))
            state.SkipWithError("a chunk could not be fetched");
        total = 0;
        for (const auto& b : bodies)
            total += b.size();
        benchmark::DoNotOptimize(total);
    }
    baselines()[{true, level}] = timer.Seconds() / static_cast<double>(state.iterations());
    curl_multi_cleanup(multi);
    state.counters["stored_KiB"] = static_cast<double>(total) / 1024.0;
}
BENCHMARK(BM_PlainHttpGet)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opens the image and reads the middle plane of `level`. Arg 0: folder; 1: HTTP.
void readPlane(benchmark::State& state, int level)
{
    const bool http = state.range(0) != 0;
    const std::string where = location(http);
    ImageReader::Vector z;
    z.push_back(kZ);
    const Timer timer;
    for (auto _ : state) {
        ImageReader::ZarrReader<unsigned short> reader(where);
        if (!reader.SetLevel(level)) {
            state.SkipWithError(("the image could not be opened: " + reader.GetError()).c_str());
            break;
        }
        const auto slice = reader.GetSlice(z);
        if (slice.IsEmpty() || slice.GetSize()[0] != kSize >> level) {
            state.SkipWithError("the plane could not be read");
            break;
        }
        benchmark::DoNotOptimize(slice.GetData()[0]);
    }
    const double mean = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    const auto base = baselines().find({http, level});
    if (base != baselines().end() && base->second > 0)
        state.counters["x_baseline"] = mean / base->second;
    const int side = kSize >> level;
    state.SetBytesProcessed(state.iterations() * int64_t(side) * side * 2);
}

void BM_FirstPicture(benchmark::State& state)
{
    readPlane(state, kLevels - 1);
}
BENCHMARK(BM_FirstPicture)->ArgName("http")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullResolutionPlane(benchmark::State& state)
{
    readPlane(state, 0);
}
BENCHMARK(BM_FullResolutionPlane)->ArgName("http")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stepping through z at full resolution in an image already open: each step reads a new
// plane (16 chunks) over the connections the previous steps opened.
void BM_NextPlane(benchmark::State& state)
{
    const bool http = state.range(0) != 0;
    ImageReader::ZarrReader<unsigned short> reader(location(http));
    int z = 0;
    const Timer timer;
    for (auto _ : state) {
        ImageReader::Vector p;
        p.push_back(z);
        z = (z + 1) % kDepth;
        const auto slice = reader.GetSlice(p);
        if (slice.IsEmpty()) {
            state.SkipWithError("the plane could not be read");
            break;
        }
        benchmark::DoNotOptimize(slice.GetData()[0]);
    }
    const double mean = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    const auto base = baselines().find({http, 0});
    if (base != baselines().end() && base->second > 0)
        state.counters["x_baseline"] = mean / base->second;
    state.SetBytesProcessed(state.iterations() * int64_t(kSize) * kSize * 2);
}
BENCHMARK(BM_NextPlane)->ArgName("http")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Full-resolution side views through the middle of the image, as the window computes them
// (a plane cache over the reader, a projection with x or y pinned): XZ takes row kSize / 2 of
// every plane, YZ column kSize / 2. Each reads 4 of a plane's 16 chunks (512 x 512 each) and
// of those only the rows (XZ, blosc blocks) or the whole chunk (YZ) it needs. The baseline
// fetches the same 4 x 512 chunk files without decoding: plain reads, or plain GETs.
std::vector<std::string> sideViewKeys()
{
    std::vector<std::string> keys;
    const int band = kSize / 2 / kChunk, n = kSize / kChunk;
    for (int z = 0; z < kDepth; ++z)
        for (int c = 0; c < n; ++c)
            keys.push_back("0/" + std::to_string(z) + "/" + std::to_string(band) + "/" + std::to_string(c));
    return keys;
}

double& sideViewBaseline(bool http)
{
    static double seconds[2] = {0, 0};
    return seconds[http ? 1 : 0];
}

void BM_SideViewBaseline(benchmark::State& state)
{
    const bool http = state.range(0) != 0;
    const std::vector<std::string> keys = sideViewKeys();
    std::vector<std::string> urls;
    for (const std::string& key : keys)
        urls.push_back(http ? location(true) + "/" + key : (fs::path(pyramid().Path()) / key).string());
    CURLM* multi = http ? newMulti() : nullptr;
    std::vector<std::vector<char>> bodies;
    std::vector<char> buffer;
    const Timer timer;
    for (auto _ : state) {
        if (http) {
            if (!getAll(multi, urls, bodies))
                state.SkipWithError("a chunk could not be fetched");
            continue;
        }
        for (const std::string& f : urls) {
            std::ifstream in(f, std::ios::binary | std::ios::ate);
            buffer.resize(static_cast<size_t>(in.tellg()));
            in.seekg(0);
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    sideViewBaseline(http) = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    if (multi)
        curl_multi_cleanup(multi);
}
BENCHMARK(BM_SideViewBaseline)->ArgName("http")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg 0: folder or HTTP; arg 1: 0 for XZ, 1 for YZ.
void BM_FullResolutionSideView(benchmark::State& state)
{
    const bool http = state.range(0) != 0;
    const bool yz = state.range(1) != 0;
    ImageReader::ZarrReader<unsigned short> reader(location(http));
    const size_t share = reader.SetMemoryBudget(kBudget);
    ImageReader::SliceCache<unsigned short> cache(&reader, kBudget - share);
    ImageReader::Vector fixed;
    fixed.push_back(yz ? kSize / 2 : -1);
    fixed.push_back(yz ? -1 : kSize / 2);
    fixed.push_back(-1);
    const Timer timer;
    for (auto _ : state) {
        const auto view = cache.GetMaximumProjection(yz ? 1 : 0, 2, fixed);
        if (view.IsEmpty() || view.GetSize()[1] != kDepth) {
            state.SkipWithError("the side view could not be computed");
            break;
        }
        benchmark::DoNotOptimize(view.GetData()[0]);
    }
    const double mean = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    if (sideViewBaseline(http) > 0)
        state.counters["x_baseline"] = mean / sideViewBaseline(http);
    state.counters["requests"] = static_cast<double>(reader.GetRequestCount());
    state.counters["plane_cache_MiB"] = static_cast<double>(cache.GetPeakBytes()) / (1 << 20);
}
BENCHMARK(BM_FullResolutionSideView)
    ->ArgNames({"http", "yz"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A v3 pyramid, sharded (one shard per plane, 512 x 512 inner chunks, blosc), as current
// writers lay images out, served with 100 ms of latency per request. The first picture (the
// coarsest level's middle plane) must take at most 4 sequential round trips: the group, the
// levels' metadata (together), the shard's index and its inner chunk. The baseline GETs the
// same files one after another (group, array metadata, the shard whole).
constexpr int kV3Depth = 8, kLatencyMs = 100;

const fs::path& v3Pyramid()
{
    static const fs::path dir = [] {
        const fs::path d = pyramid().Folder() / "v3";
        if (fs::exists(d / "complete"))
            return d;
        zarrv3::WriteGroup(d / "img.zarr", R"({"version":"0.5","multiscales":[{"axes":[{"name":"z","type":"space"},)"
                                           R"({"name":"y","type":"space"},{"name":"x","type":"space"}],)"
                                           R"("datasets":[{"path":"0"},{"path":"1"},{"path":"2"}]}]})");
        for (int level = 0; level < kLevels; ++level) {
            zarrv3::ArrayLayout a;
            const std::uint64_t side = std::uint64_t(kSize >> level);
            a.shape = {kV3Depth, side, side};
            a.chunk = {1, side, side};
            a.inner = {1, std::min<std::uint64_t>(side, kChunk), std::min<std::uint64_t>(side, kChunk)};
            a.compressor = "blosc";
            a.value = [level](const zarrv3::Coords& c) {
                return static_cast<double>(1000 + ((c[2] << level) ^ (c[1] << level)) / 4 + c[0] * 10);
            };
            zarrv3::WriteArray(d / "img.zarr" / std::to_string(level), a);
        }
        std::ofstream(d / "complete") << "1";
        return d;
    }();
    return dir;
}

LoopbackServer& slowServer()
{
    static LoopbackServer s(v3Pyramid());
    s.SetLatency(kLatencyMs);
    return s;
}

double& v3Baseline()
{
    static double seconds = 0;
    return seconds;
}

void BM_V3FirstPictureBaseline(benchmark::State& state)
{
    const std::vector<std::string> keys = {"zarr.json", std::to_string(kLevels - 1) + "/zarr.json", std::to_string(kLevels - 1) + "/c/" + std::to_string(kV3Depth / 2) + "/0/0"};
    CURLM* multi = newMulti();
    std::vector<std::vector<char>> bodies;
    slowServer(); // writes the image on first use
    const Timer timer;
    for (auto _ : state)
        for (const std::string& key : keys)
            if (!getAll(multi, {slowServer().Url("img.zarr/" + key)}, bodies))
                state.SkipWithError("a file could not be fetched");
    v3Baseline() = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    curl_multi_cleanup(multi);
}
BENCHMARK(BM_V3FirstPictureBaseline)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_V3FirstPicture(benchmark::State& state)
{
    ImageReader::Vector z;
    z.push_back(kV3Depth / 2);
    size_t requests = 0;
    const Timer timer;
    for (auto _ : state) {
        const int before = slowServer().Requests();
        ImageReader::ZarrReader<unsigned short> reader(slowServer().Url("img.zarr"));
        if (!reader.SetLevel(kLevels - 1) || reader.GetSlice(z).IsEmpty()) {
            state.SkipWithError(("the first picture could not be read: " + reader.GetError()).c_str());
            break;
        }
        requests = static_cast<size_t>(slowServer().Requests() - before);
    }
    const double mean = timer.Seconds() / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["round_trips"] = mean * 1000 / kLatencyMs;
    state.counters["requests"] = static_cast<double>(requests);
    if (v3Baseline() > 0)
        state.counters["x_baseline"] = mean / v3Baseline();
}
BENCHMARK(BM_V3FirstPicture)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PeakMemory(benchmark::State& state)
{
    const bool followBudget = state.range(0) != 0;
    const int planes = static_cast<int>(state.range(1));
    const std::string where = location(true);
    for (auto _ : state) {
        // Image, server and allocator are warm; from here on only this read counts.
        const bool reset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
        const double start = statusMiB("VmRSS:");
        {
            ImageReader::ZarrReader<unsigned short> reader(where);
            const size_t chunkShare = followBudget ? reader.SetMemoryBudget(kBudget) : 0;
            ImageReader::SliceCache<unsigned short> cache(&reader, kBudget - chunkShare);
            for (int z = 0; z < planes; ++z) {
                ImageReader::Vector p;
                p.push_back(z * kDepth / planes);
                if (cache.GetSlice(p).IsEmpty()) {
                    state.SkipWithError("a plane could not be read");
                    break;
                }
            }
            state.counters["plane_cache_MiB"] = static_cast<double>(cache.GetPeakBytes()) / (1 << 20);
            state.counters["chunk_share_MiB"] = static_cast<double>(chunkShare) / (1 << 20);
        }
        const double peak = statusMiB("VmHWM:");
        state.counters["budget_MiB"] = static_cast<double>(kBudget >> 20);
        state.counters["rss_start_MiB"] = start;
        state.counters["peak_growth_MiB"] = peak - start;
        state.counters["over_budget_MiB"] = peak - start - static_cast<double>(kBudget >> 20);
        if (!reset)
            state.counters["peak_not_reset"] = 1;
    }
}
BENCHMARK(BM_PeakMemory)->ArgNames({"budget", "planes"})->Args({1, 64})->Args({1, 256})->Args({0, 64})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef LUMORA_BENCH_WINDOW
// The window itself, 1200 x 900 and fitted: from LoadImageW to the first picture in the XY
// view (the coarsest level), to all three views at the level the fit zoom matches, and, after
// View > Actual pixels, to the full-resolution XY view. Arg 0: folder; 1: HTTP.
void BM_WindowViews(benchmark::State& state)
{
    const bool http = state.range(0) != 0;
    const QString where = QString::fromStdString(location(http));
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
    double first = 0, views = 0, full = 0, sides = 0, faults = 0;
    int firstWidth = 0, fitWidth = 0;
    const auto minorFaults = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_minflt);
    };
    for (auto _ : state) {
        auto w = std::make_unique<ImageViewer::formImageViewer>();
        ImageReader::SetDiagnosticHandler([](const std::string&) {});
        w->model->Diagnostics()->Set([](const std::string&) {});
        w->resize(1200, 900);
        w->show();
        QApplication::processEvents();
        const double faults0 = minorFaults();
        const auto t0 = Clock::now();
        w->LoadImageW(where);
        // Polled as the event loop would deliver them: the first picture of any level.
        while (w->GDIImageXY.isNull() && ms(t0, Clock::now()) < 60000) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto t1 = Clock::now();
        firstWidth = w->GDIImageXY.width();
        w->WaitForOpen();
        w->WaitForViews();
        const auto t2 = Clock::now();
        fitWidth = w->GDIImageXY.width();
        w->ActualPixels();
        while (w->GDIImageXY.width() != kSize && ms(t2, Clock::now()) < 120000) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto t3 = Clock::now();
        if (w->GDIImageXY.width() != kSize) {
            state.SkipWithError("the full-resolution view did not come");
            break;
        }
        // The side views at full resolution read a row of every plane: 512 planes of 16 chunks.
        w->WaitForViews();
        const auto t4 = Clock::now();
        faults += minorFaults() - faults0;
        first += ms(t0, t1);
        views += ms(t0, t2);
        full += ms(t2, t3);
        sides += ms(t2, t4);
    }
    const double n = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["first_picture_ms"] = first / n;
    state.counters["first_picture_width"] = firstWidth;
    state.counters["three_views_ms"] = views / n;
    state.counters["fit_level_width"] = fitWidth;
    state.counters["full_xy_after_zoom_ms"] = full / n;
    state.counters["full_side_views_after_zoom_ms"] = sides / n;
    state.counters["minor_faults"] = faults / n;
}
BENCHMARK(BM_WindowViews)->ArgName("http")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// The stored size of each level, once, for the report.
void BM_StoredSize(benchmark::State& state)
{
    for (auto _ : state) {
    }
    for (int level = 0; level < kLevels; ++level)
        state.counters["level" + std::to_string(level) + "_MiB"] = static_cast<double>(pyramid().StoredBytes(level)) / (1 << 20);
}
BENCHMARK(BM_StoredSize)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
#ifdef LUMORA_BENCH_WINDOW
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
