// The model's 3-D view on a 1024 x 1024 x 1600 uint16 ICS stack (a 3.2 GB sparse file in
// /tmp/lumora-bench, every 64th plane written): the time from showing the view to its first
// picture with a 1 GiB budget, the level and step it settled for, and private memory then.
// The floor reads the same file's planes once with pread; the ratio of the two times says
// what the volume costs beyond reading.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "OpenImage.h"
#include "Viewer.h"
#include "VolumeView.h"

namespace fs = std::filesystem;

namespace {

constexpr int W = 1024, H = 1024, D = 1600;
constexpr size_t kPlane = size_t(W) * H * 2;
constexpr size_t kBudget = size_t(1) << 30;

fs::path sparseStack()
{
    const fs::path dir = "/tmp/lumora-bench";
    const fs::path header = dir / "volume_1024x1024x1600.ics";
    fs::path data = header;
    data.replace_extension(".ids");
    if (fs::exists(header) && fs::exists(data) && fs::file_size(data) == kPlane * D)
        return header;
    fs::create_directories(dir);
    std::ofstream h(header, std::ios::binary);
    h << "\t\n"
      << "ics_version\t1.0\nfilename\tvolume_1024x1024x1600\nlayout\tparameters\t4\n"
      << "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t" << W << "\t" << H << "\t" << D << "\n"
      << "layout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
      << "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
      << "representation\tbyte_order\t1\t2\nend\n";
    h.close();
    const int fd = ::open(data.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kPlane * D)) != 0)
        std::abort();
    std::vector<uint16_t> ramp(kPlane / 2);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint16_t>((i % W) * 40 + (i / W) * 3);
    for (int z = 0; z < D; z += 64)
        if (::pwrite(fd, ramp.data(), kPlane, static_cast<off_t>(kPlane * size_t(z))) != static_cast<ssize_t>(kPlane))
            std::abort();
    ::close(fd);
    return header;
}

double privateDirtyMB()
{
    std::ifstream in("/proc/self/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Private_Dirty:", 0) == 0)
            return std::stod(line.substr(14)) / 1024.0;
    return 0;
}

// Every plane of the data file read once, one buffer reused: the floor.
void BM_Floor_ReadEveryPlane(benchmark::State& state)
{
    fs::path data = sparseStack();
    data.replace_extension(".ids");
    std::vector<char> buffer(kPlane);
    for (auto _ : state) {
        const int fd = ::open(data.c_str(), O_RDONLY);
        for (int z = 0; z < D; ++z)
            if (::pread(fd, buffer.data(), kPlane, static_cast<off_t>(kPlane * size_t(z))) != static_cast<ssize_t>(kPlane))
                state.SkipWithError("short read");
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_Floor_ReadEveryPlane)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FirstPicture(benchmark::State& state)
{
    const fs::path header = sparseStack();
    for (auto _ : state) {
        state.PauseTiming();
        auto poster = std::make_shared<ImageViewer::QueuePoster>();
        ImageViewer::Viewer viewer(poster);
        ImageReader::OpenedImage opened = ImageReader::OpenImage(header);
        if (!opened.reader || !viewer.Open(std::move(opened.reader), kBudget).empty()) {
            state.SkipWithError("cannot open the stack");
            return;
        }
        viewer.Wait();
        ImageViewer::VolumeView volume(viewer, poster);
        volume.SetSize(512, 512);
        state.ResumeTiming();
        volume.SetShown(true);
        volume.Wait();
        state.PauseTiming();
        const ImageViewer::VolumeFrame& frame = volume.Frame();
        state.counters["level"] = frame.level;
        state.counters["step"] = frame.step;
        state.counters["voxels_z"] = frame.voxels[2];
        state.counters["private_dirty_MB"] = privateDirtyMB();
        state.counters["budget_MB"] = static_cast<double>(kBudget >> 20);
        if (frame.IsNull())
            state.SkipWithError("no picture");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstPicture)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
