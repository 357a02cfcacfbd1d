// Hot paths of the data model: projections over cached planes and ICS plane reads,
// each next to a same-run baseline over the same bytes. Compressed ICS planes read
// backwards, against one forward inflate of the whole stream.
#include <benchmark/benchmark.h>

#include <libics.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include <chrono>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "ICSImageReader.h"
#include "SliceCache.h"

using ImageReader::ImageSlice;
using ImageReader::SliceCache;
using ImageReader::Vector;

namespace {

constexpr int kW = 1024, kH = 1024, kD = 100;

// Planes of random values held in memory; the cache in front of it is warmed once.
class MemoryVolume : public ImageReader::ImageBase<unsigned short>
{
public:
    MemoryVolume()
    {
        std::mt19937 rng(7);
        for (int z = 0; z < kD; ++z) {
            auto* p = static_cast<unsigned short*>(std::malloc(sizeof(unsigned short) * kW * kH));
            for (int i = 0; i < kW * kH; ++i)
                p[i] = static_cast<unsigned short>(rng());
            planes.emplace_back(Vector(kW, kH), p);
        }
    }
    ImageSlice<unsigned short> GetSlice(const Vector& pos) override { return planes[static_cast<size_t>(pos[0])]; }
    Vector GetSize() override
    {
        Vector v(kW, kH);
        v.push_back(kD);
        return v;
    }
    std::vector<ImageSlice<unsigned short>> planes;
};

struct Fixture
{
    MemoryVolume volume;
    SliceCache<unsigned short> cache{&volume};
    Fixture()
    {
        for (int z = 0; z < kD; ++z) {
            Vector p;
            p.push_back(z);
            cache.GetSlice(p);
        }
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

Vector fixed(int a, int b, int c)
{
    Vector v(a, b);
    v.push_back(c);
    return v;
}

const int64_t kVolumeBytes = int64_t(kW) * kH * kD * 2;

void BM_ProjectXY(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto s = f.cache.GetMaximumProjection(0, 1, fixed(-1, -1, -1));
        benchmark::DoNotOptimize(s.GetData());
    }
    state.SetBytesProcessed(state.iterations() * kVolumeBytes);
}

// Baseline: one plain pass reading the same 200 MB (a running OR per output pixel,
// the cheapest reduction that must touch every byte).
void BM_BaselineReadPassXY(benchmark::State& state)
{
    auto& f = fixture();
    std::vector<unsigned short> out(size_t(kW) * kH);
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), 0);
        for (int z = 0; z < kD; ++z) {
            const unsigned short* p = f.volume.planes[size_t(z)].GetData();
            for (size_t i = 0; i < out.size(); ++i)
                out[i] |= p[i];
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kVolumeBytes);
}

void BM_BaselineMemcpyXY(benchmark::State& state)
{
    auto& f = fixture();
    std::vector<unsigned short> out(size_t(kW) * kH);
    for (auto _ : state) {
        for (int z = 0; z < kD; ++z)
            std::memcpy(out.data(), f.volume.planes[size_t(z)].GetData(), out.size() * 2);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kVolumeBytes);
}

void BM_ProjectXZThroughPosition(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto s = f.cache.GetMaximumProjection(0, 2, fixed(-1, kH / 2, -1));
        benchmark::DoNotOptimize(s.GetData());
    }
}

// Baseline: copying the same 100 rows out of the planes.
void BM_BaselineCopyXZ(benchmark::State& state)
{
    auto& f = fixture();
    std::vector<unsigned short> out(size_t(kW) * kD);
    for (auto _ : state) {
        for (int z = 0; z < kD; ++z)
            std::memcpy(out.data() + size_t(z) * kW, f.volume.planes[size_t(z)].GetData() + size_t(kH / 2) * kW, kW * 2);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ProjectYZThroughPosition(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto s = f.cache.GetMaximumProjection(2, 1, fixed(kW / 2, -1, -1));
        benchmark::DoNotOptimize(s.GetData());
    }
}

// Baseline: the plain gather of the same column out of every plane.
void BM_BaselineGatherYZ(benchmark::State& state)
{
    auto& f = fixture();
    std::vector<unsigned short> out(size_t(kH) * kD);
    for (auto _ : state) {
        for (int z = 0; z < kD; ++z) {
            const unsigned short* p = f.volume.planes[size_t(z)].GetData() + kW / 2;
            for (int y = 0; y < kH; ++y)
                out[size_t(z) + size_t(y) * kD] = p[size_t(y) * kW];
        }
        benchmark::DoNotOptimize(out.data());
    }
}

// An ICS file of 16 planes of 1024 x 1024, read plane by plane from the page cache.
struct IcsFile
{
    std::filesystem::path path;
    IcsFile()
    {
        path = std::filesystem::temp_directory_path() / "lumora_bench_planes.ics";
        std::vector<unsigned short> data(size_t(kW) * kH * 16);
        std::mt19937 rng(3);
        for (auto& v : data)
            v = static_cast<unsigned short>(rng());
        ICS* ics = nullptr;
        size_t dims[3] = {kW, kH, 16};
        IcsOpen(&ics, path.c_str(), "w2");
        IcsSetLayout(ics, Ics_uint16, 3, dims);
        IcsSetData(ics, data.data(), data.size() * 2);
        IcsClose(ics);
    }
    ~IcsFile() { std::filesystem::remove(path); }
};

unsigned sumOf(const unsigned short* p, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum;
}

IcsFile& icsFile()
{
    static IcsFile f;
    return f;
}

void BM_IcsReadPlane(benchmark::State& state)
{
    ImageReader::ICSImageReader<unsigned short> reader(icsFile().path);
    int z = 0;
    for (auto _ : state) {
        Vector p;
        p.push_back(z);
        z = (z + 1) % 16;
        // Planes of native 16-bit files are borrowed from a mapping: the read happens when
        // the pixels are touched, so the sum is part of the read.
        auto s = reader.GetSlice(p);
        benchmark::DoNotOptimize(sumOf(s.GetData(), size_t(kW) * kH));
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * 2);
}

// Baseline: fread of the same number of bytes from the same file.
void BM_BaselineFreadPlane(benchmark::State& state)
{
    FILE* f = std::fopen(icsFile().path.c_str(), "rb");
    const size_t bytes = size_t(kW) * kH * 2;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    const long dataStart = size - long(bytes) * 16;
    int z = 0;
    for (auto _ : state) {
        auto* buf = static_cast<unsigned short*>(std::malloc(bytes));
        std::fseek(f, dataStart + long(bytes) * z, SEEK_SET);
        z = (z + 1) % 16;
        benchmark::DoNotOptimize(std::fread(buf, 1, bytes, f));
        benchmark::DoNotOptimize(sumOf(buf, size_t(kW) * kH));
        std::free(buf);
    }
    std::fclose(f);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// A gzip ICS file of 48 planes of 1024 x 1024 (96 MiB of samples): smooth values with some
// noise in the low bits, which compress about as well as a microscope's do.
constexpr int kGzPlanes = 48;

struct GzipIcsFile
{
    std::filesystem::path path;
    size_t dataStart = 0; // where the gzip stream starts in the file
    GzipIcsFile()
    {
        path = std::filesystem::temp_directory_path() / "lumora_bench_gzip.ics";
        std::vector<unsigned short> data(size_t(kW) * kH * kGzPlanes);
        std::mt19937 rng(11);
        for (size_t i = 0; i < data.size(); ++i) {
            const size_t x = i % kW, y = (i / kW) % kH, z = i / (size_t(kW) * kH);
            data[i] = static_cast<unsigned short>(((x + 2 * y + 64 * z) & 0xFFF) * 8 + (rng() & 7));
        }
        ICS* ics = nullptr;
        size_t dims[3] = {kW, kH, kGzPlanes};
        IcsOpen(&ics, path.c_str(), "w2");
        IcsSetLayout(ics, Ics_uint16, 3, dims);
        IcsSetData(ics, data.data(), data.size() * 2);
        IcsSetCompression(ics, IcsCompr_gzip, 6);
        IcsClose(ics);
        IcsOpen(&ics, path.c_str(), "r");
        dataStart = ics->srcOffset;
        IcsClose(ics);
    }
    ~GzipIcsFile() { std::filesystem::remove(path); }
};

GzipIcsFile& gzipIcsFile()
{
    static GzipIcsFile f;
    return f;
}

Vector planeAt(int z)
{
    Vector p;
    p.push_back(z);
    return p;
}

// Every plane, last first. Arg 0: a fresh reader per pass (the index is built as the first
// request decompresses up to the last plane); arg 1: one reader whose index already exists.
void BM_IcsGzipReverse(benchmark::State& state)
{
    const std::filesystem::path& path = gzipIcsFile().path; // written before the clock runs
    std::unique_ptr<ImageReader::ICSImageReader<unsigned short>> reader;
    const bool warm = state.range(0) == 1;
    if (warm) {
        reader = std::make_unique<ImageReader::ICSImageReader<unsigned short>>(path);
        benchmark::DoNotOptimize(reader->GetSlice(planeAt(kGzPlanes - 1)).GetData());
    }
    for (auto _ : state) {
        if (!warm)
            reader = std::make_unique<ImageReader::ICSImageReader<unsigned short>>(path);
        for (int z = kGzPlanes - 1; z >= 0; --z) {
            auto s = reader->GetSlice(planeAt(z));
            if (s.IsEmpty()) {
                state.SkipWithError("plane missing");
                return;
            }
            benchmark::DoNotOptimize(sumOf(s.GetData(), size_t(kW) * kH));
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * 2 * kGzPlanes);
}

// What a reader without access points does: every step back reopens libics's stream and
// decompresses from the start.
void BM_IcsGzipReverseFromStart(benchmark::State& state)
{
    const size_t bytes = size_t(kW) * kH * 2;
    std::vector<unsigned char> buffer(bytes);
    for (auto _ : state)
        for (int z = kGzPlanes - 1; z >= 0; --z) {
            ICS* ics = nullptr;
            IcsOpen(&ics, gzipIcsFile().path.c_str(), "r");
            if (z > 0)
                IcsSkipDataBlock(ics, bytes * size_t(z));
            IcsGetDataBlock(ics, buffer.data(), bytes);
            IcsClose(ics);
            benchmark::DoNotOptimize(buffer.data());
        }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes) * kGzPlanes);
}

// Baseline: one forward inflate of the same stream, plane by plane, from a buffer in memory.
void BM_BaselineGzipForward(benchmark::State& state)
{
    std::ifstream in(gzipIcsFile().path, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t bytes = size_t(kW) * kH * 2;
    std::vector<unsigned char> plane(bytes);
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, 15 + 16);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + gzipIcsFile().dataStart));
        z.avail_in = static_cast<uInt>(file.size() - gzipIcsFile().dataStart);
        for (int p = 0; p < kGzPlanes; ++p) {
            z.next_out = plane.data();
            z.avail_out = static_cast<uInt>(bytes);
            const int ret = inflate(&z, Z_NO_FLUSH);
            if (ret != Z_OK && ret != Z_STREAM_END)
                state.SkipWithError("inflate failed");
            benchmark::DoNotOptimize(sumOf(reinterpret_cast<unsigned short*>(plane.data()), size_t(kW) * kH));
        }
        inflateEnd(&z);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes) * kGzPlanes);
}

// A 1024 x 1024 x 100 uint16 ICS stack (sparse: every 8th plane written) for the three views
// inside the process, against copying the same plane, row of every plane and column of every
// plane from a mapping of the data.
struct ViewsIcsFile
{
    std::filesystem::path header, data;
    ViewsIcsFile()
    {
        const auto dir = std::filesystem::temp_directory_path();
        header = dir / ("lumora_bench_views_" + std::to_string(::getpid()) + ".ics");
        data = header;
        data.replace_extension(".ids");
        std::ofstream(header) << "\t\nics_version\t1.0\nfilename\t" << data.stem().string()
                              << "\nlayout\tparameters\t4\nlayout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t" << kW << "\t" << kH
                              << "\t" << kD
                              << "\nlayout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
                                 "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
                                 "representation\tbyte_order\t1\t2\nend\n";
        std::vector<unsigned short> ramp(size_t(kW) * kH);
        for (size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = static_cast<unsigned short>((i % kW) * 40 + (i / kW) * 3);
        const int fd = ::open(data.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        const size_t plane = ramp.size() * 2;
        bool ok = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(plane * kD)) == 0;
        for (int z = 0; ok && z < kD; z += 8)
            ok = ::pwrite(fd, ramp.data(), plane, static_cast<off_t>(plane * size_t(z))) == static_cast<ssize_t>(plane);
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            std::abort();
    }
    ~ViewsIcsFile()
    {
        std::filesystem::remove(header);
        std::filesystem::remove(data);
    }
};

void BM_IcsThreeViews(benchmark::State& state)
{
    static ViewsIcsFile file;
    ImageReader::ICSImageReader<unsigned short> reader(file.header);
    SliceCache<unsigned short> cache(&reader, size_t(1) << 30);
    const size_t plane = size_t(kW) * kH;
    const int fd = ::open(file.data.c_str(), O_RDONLY);
    if (reader.GetSize().size() != 3 || fd < 0) {
        state.SkipWithError("stack not readable");
        return;
    }
    std::vector<unsigned short> xy(plane), xz(size_t(kW) * kD), yz(size_t(kH) * kD);
    using Clock = std::chrono::steady_clock;
    double subject = 0, baseline = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(cache.GetMaximumProjection(0, 1, fixed(-1, -1, kD / 2)).GetData());
        benchmark::DoNotOptimize(cache.GetMaximumProjection(0, 2, fixed(-1, kH / 2, -1)).GetData());
        benchmark::DoNotOptimize(cache.GetMaximumProjection(2, 1, fixed(kW / 2, -1, -1)).GetData());
        const auto t1 = Clock::now();
        // A mapping of its own each time: its pages are touched afresh, as the reader's are
        // after it gives them back (every quarter budget of lent planes).
        void* map = ::mmap(nullptr, plane * 2 * kD, PROT_READ, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            state.SkipWithError("cannot map the stack");
            break;
        }
        const auto* px = static_cast<const unsigned short*>(map);
        std::memcpy(xy.data(), px + size_t(kD / 2) * plane, plane * 2);
        for (int z = 0; z < kD; ++z) {
            const unsigned short* p = px + size_t(z) * plane;
            std::memcpy(&xz[size_t(z) * kW], p + size_t(kH / 2) * kW, size_t(kW) * 2);
            for (int y = 0; y < kH; ++y)
                yz[size_t(y) * kD + size_t(z)] = p[size_t(y) * kW + kW / 2];
        }
        benchmark::DoNotOptimize(xy.data());
        benchmark::DoNotOptimize(xz.data());
        benchmark::DoNotOptimize(yz.data());
        ::munmap(map, plane * 2 * kD);
        const auto t2 = Clock::now();
        subject += std::chrono::duration<double>(t1 - t0).count();
        baseline += std::chrono::duration<double>(t2 - t1).count();
    }
    ::close(fd);
    state.counters["views_us"] = 1e6 * subject / static_cast<double>(state.iterations());
    state.counters["baseline_us"] = 1e6 * baseline / static_cast<double>(state.iterations());
    state.counters["x_baseline"] = subject / baseline;
}

} // namespace

BENCHMARK(BM_IcsThreeViews)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IcsGzipReverse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IcsGzipReverseFromStart)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BaselineGzipForward)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectXY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadPassXY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineMemcpyXY)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectXZThroughPosition)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineCopyXZ)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProjectYZThroughPosition)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineGatherYZ)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IcsReadPlane)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineFreadPlane)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
