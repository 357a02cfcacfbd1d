// The three views of a 1024 x 1024 x Z uint16 ICS stack fitted into 1200 x 900 as
// lumora-render draws them: coloured only where shown (RenderFittedPicture) against coloured
// at full size, stretched and composed (RenderPicture), with a same-run baseline that copies
// the XY plane, the XZ row and the YZ column out of a fresh mapping of the file (what a
// memory-mapped array's views cost). Minor faults per picture count the file's pages mapped
// and the fresh memory touched. The stack is sparse (every 8th plane a ramp), in /tmp.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FittedPicture.h"
#include "OpenImage.h"
#include "Viewer.h"

namespace fs = std::filesystem;
using namespace ImageViewer;

namespace {

constexpr int W = 1024, H = 1024, OutW = 1200, OutH = 900;
constexpr size_t kPlane = size_t(W) * H;

struct Stack
{
    fs::path header, data;
    explicit Stack(int depth)
    {
        const std::string stem = "lumora_fitted_" + std::to_string(depth) + "_" + std::to_string(::getpid());
        header = fs::temp_directory_path() / (stem + ".ics");
        data = fs::temp_directory_path() / (stem + ".ids");
        std::ofstream h(header, std::ios::binary);
        h << "\t\nics_version\t1.0\nfilename\t" << stem << "\nlayout\tparameters\t4\n"
          << "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t" << W << "\t" << H << "\t" << depth << "\n"
          << "layout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
          << "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
          << "representation\tbyte_order\t1\t2\nend\n";
        h.close();
        std::vector<uint16_t> ramp(kPlane);
        for (size_t i = 0; i < kPlane; ++i)
            ramp[i] = static_cast<uint16_t>((i % W) * 40 + (i / W) * 3);
        const int fd = ::open(data.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        bool ok = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(kPlane * 2 * size_t(depth))) == 0;
        for (int z = 0; ok && z < depth; z += 8)
            ok = ::pwrite(fd, ramp.data(), kPlane * 2, static_cast<off_t>(kPlane * 2 * size_t(z))) ==
                 static_cast<ssize_t>(kPlane * 2);
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            std::abort();
    }
    ~Stack()
    {
        fs::remove(header);
        fs::remove(data);
    }
};

long minorFaults()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

// The views through the middle of the stack copied out of a fresh mapping, as numpy's memmap
// gives them: the plane, the row of every plane, the column of every plane.
void copyViews(int fd, int depth, std::vector<uint16_t>& xy, std::vector<uint16_t>& xz, std::vector<uint16_t>& yz)
{
    const size_t bytes = kPlane * 2 * size_t(depth);
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED)
        std::abort();
    const auto* px = static_cast<const uint16_t*>(map);
    std::memcpy(xy.data(), px + size_t(depth / 2) * kPlane, kPlane * 2);
    for (int z = 0; z < depth; ++z) {
        const uint16_t* p = px + size_t(z) * kPlane;
        std::memcpy(&xz[size_t(z) * W], p + size_t(H / 2) * W, size_t(W) * 2);
        for (int y = 0; y < H; ++y)
            yz[size_t(y) * size_t(depth) + size_t(z)] = p[size_t(y) * W + W / 2];
    }
    benchmark::DoNotOptimize(xy.data());
    benchmark::DoNotOptimize(xz.data());
    benchmark::DoNotOptimize(yz.data());
    ::munmap(map, bytes);
}

// Arg: the depth. Each iteration draws the picture both ways and copies the baseline.
void BM_FittedThreeViews(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    const Stack stack(depth);
    ImageReader::OpenedImage opened = ImageReader::OpenImage(stack.header.string());
    Viewer viewer;
    viewer.autoRefresh = false;
    const int fd = ::open(stack.data.c_str(), O_RDONLY);
    if (!opened.reader || !viewer.Open(std::move(opened.reader)).empty() || fd < 0) {
        state.SkipWithError("stack not readable");
        return;
    }
    ViewState views = viewer.State();
    views.cursor[2] = depth / 2 / 8 * 8; // a plane that holds the ramp
    std::vector<uint16_t> xy(kPlane), xz(size_t(W) * size_t(depth)), yz(size_t(H) * size_t(depth));
    using Clock = std::chrono::steady_clock;
    double fitted = 0, full = 0, baseline = 0;
    long fittedFaults = 0, fullFaults = 0;
    for (auto _ : state) {
        DisplayState a = viewer.Display(), b = viewer.Display();
        const long f0 = minorFaults();
        const auto t0 = Clock::now();
        {
            const ViewPicture p = RenderFittedPicture(viewer.Session(), views, a, viewer.PixelSizes(), ViewAll, OutW, OutH);
            benchmark::DoNotOptimize(p.pixels.get());
        }
        const auto t1 = Clock::now();
        const long f1 = minorFaults();
        {
            const ViewPicture p = RenderPicture(viewer.Session(), views, b, viewer.PixelSizes(), ViewAll, OutW, OutH);
            benchmark::DoNotOptimize(p.pixels.get());
        }
        const auto t2 = Clock::now();
        const long f2 = minorFaults();
        copyViews(fd, depth, xy, xz, yz);
        const auto t3 = Clock::now();
        fitted += std::chrono::duration<double>(t1 - t0).count();
        full += std::chrono::duration<double>(t2 - t1).count();
        baseline += std::chrono::duration<double>(t3 - t2).count();
        fittedFaults += f1 - f0;
        fullFaults += f2 - f1;
    }
    ::close(fd);
    const double n = static_cast<double>(state.iterations());
    state.counters["fitted_ms"] = 1e3 * fitted / n;
    state.counters["full_ms"] = 1e3 * full / n;
    state.counters["baseline_ms"] = 1e3 * baseline / n;
    state.counters["fitted_x_baseline"] = fitted / baseline;
    state.counters["full_x_baseline"] = full / baseline;
    state.counters["fitted_faults"] = static_cast<double>(fittedFaults) / n;
    state.counters["full_faults"] = static_cast<double>(fullFaults) / n;
}

} // namespace

BENCHMARK(BM_FittedThreeViews)->Arg(100)->Arg(800)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
