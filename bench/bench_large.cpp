// Large 1024 x 1024 x Z uint16 ICS stacks (sparse files in /tmp/lumora-bench, a few planes
// with content) opened through OpenImage, each case next to a baseline measured in the same
// run on the same bytes:
// - ThreeViews: load to all three pictures vs. mapping the data file and copying the same
//   plane, row of every plane and column of every plane;
// - DisplayStep: a gamma step with the z projection on vs. copying the three pictures;
// - MaxProjection: projecting every plane vs. reading the data file with pread, and the
//   same projection over planes borrowed from a mapping;
// - RssAfterClose, SweepWithinBudget: memory counters, one run each;
// - HugeSweep: a 30 GB stack, larger than this machine's memory. Not run by default (it reads
//   the whole file and takes minutes); run it with
//     LUMORA_BENCH_HUGE=1 build/bench/bench_large --benchmark_filter=HugeSweep
//   It writes its own sparse file (under 1 GB of real disk) and deletes it afterwards.
// Delete /tmp/lumora-bench afterwards.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "CacheBudget.h"
#include "Diagnostics.h"
#include "ImageReaderBase.h"
#include "OpenImage.h"
#include "SliceCache.h"
#include "formImageViewer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int W = 1024;
constexpr int H = 1024;
constexpr size_t kPlane = size_t(W) * H * 2;

// The header of an uncompressed 16-bit x, y, z ICS image whose data is in `stem`.ids.
void writeIcsHeader(const fs::path& header, const std::string& stem, int width, int height, int depth)
{
    std::ofstream h(header, std::ios::binary);
    h << "\t\n"
      << "ics_version\t1.0\n"
      << "filename\t" << stem << "\n"
      << "layout\tparameters\t4\n"
      << "layout\torder\tbits\tx\ty\tz\n"
      << "layout\tsizes\t16\t" << width << "\t" << height << "\t" << depth << "\n"
      << "layout\tcoordinates\tvideo\n"
      << "layout\tsignificant_bits\t16\n"
      << "representation\tformat\tinteger\n"
      << "representation\tsign\tunsigned\n"
      << "representation\tcompression\tuncompressed\n"
      << "representation\tbyte_order\t1\t2\n"
      << "end\n";
    h.close();
}

// A version 1 ICS pair: header text and a sparse .ids data file in which every 64th plane
// holds a ramp, so the pictures are not black. Reused between runs.
fs::path stack(int width, int height, int depth)
{
    const fs::path dir = "/tmp/lumora-bench";
    const std::string stem = "stack_" + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    const fs::path header = dir / (stem + ".ics");
    const fs::path data = dir / (stem + ".ids");
    const size_t plane = size_t(width) * size_t(height) * 2;
    if (fs::exists(header) && fs::exists(data) && fs::file_size(data) == plane * size_t(depth))
        return header;
    fs::create_directories(dir);
    writeIcsHeader(header, stem, width, height, depth);
    const int fd = ::open(data.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(plane * size_t(depth))) != 0)
        std::abort();
    std::vector<uint16_t> ramp(plane / 2);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint16_t>((i % size_t(width)) * 40 + (i / size_t(width)) * 3);
    for (int z = 0; z < depth; z += 64)
        if (::pwrite(fd, ramp.data(), plane, static_cast<off_t>(plane * size_t(z))) != static_cast<ssize_t>(plane))
            std::abort();
    ::close(fd);
    return header;
}

fs::path dataOf(const fs::path& header)
{
    fs::path d = header;
    return d.replace_extension(".ids");
}

// Planes borrowed from a read-only mapping of the data file, as a mapping reader serves them.
class MappedStack : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    MappedStack(const fs::path& data, int depth) : m_depth(depth)
    {
        const int fd = ::open(data.c_str(), O_RDONLY);
        const size_t bytes = kPlane * size_t(depth);
        void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        m_map = std::shared_ptr<void>(map, [bytes](void* p) { ::munmap(p, bytes); });
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& p) override
    {
        const auto* base = static_cast<const unsigned short*>(m_map.get());
        return ImageReader::ImageSlice<unsigned short>::Borrow(ImageReader::Vector(W, H),
                                                               base + size_t(p[0]) * W * H, m_map);
    }
    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v(W, H);
        v.push_back(m_depth);
        return v;
    }

    void Open(const fs::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int d) override { return d == 0 ? "x" : d == 1 ? "y" : "z"; }
    double GetDimPixelSize(unsigned int) override { return 100; }

private:
    int m_depth;
    std::shared_ptr<void> m_map;
};

// A field of /proc/self/status in MiB.
double statusMB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::stod(line.substr(n + 1)) / 1024.0;
    return 0;
}

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

std::unique_ptr<ImageViewer::formImageViewer> window()
{
    auto w = std::make_unique<ImageViewer::formImageViewer>();
    ImageReader::SetDiagnosticHandler([](const std::string&) {});
    w->model->Diagnostics()->Set([](const std::string&) {});
    w->resize(1200, 900);
    w->show();
    QApplication::processEvents();
    return w;
}

void open(ImageViewer::formImageViewer& w, const fs::path& file)
{
    w.LoadImageW(QString::fromStdString(file.string()));
    w.WaitForViews();
    if (!w.image || w.GDIImageXY.isNull() || w.GDIImageXZ.isNull() || w.GDIImageYZ.isNull())
        std::fprintf(stderr, "views missing for %s\n", file.c_str());
}

void projectZ(ImageViewer::formImageViewer& w)
{
    w.comboProj->setCurrentIndex(1);
    w.checkDimProj[2]->setChecked(true);
    w.WaitForViews();
}

// The baseline of the three views: the same plane, row and column bytes from a mapping.
double mappedThreeViews(const fs::path& data, int depth)
{
    const auto t0 = Clock::now();
    const int fd = ::open(data.c_str(), O_RDONLY);
    const size_t bytes = kPlane * size_t(depth);
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    const auto* px = static_cast<const uint16_t*>(map);
    std::vector<uint16_t> xy(size_t(W) * H), xz(size_t(W) * depth), yz(size_t(H) * depth);
    std::memcpy(xy.data(), px + size_t(depth / 2) * W * H, kPlane);
    for (int z = 0; z < depth; ++z) {
        const uint16_t* plane = px + size_t(z) * W * H;
        std::memcpy(&xz[size_t(z) * W], plane + size_t(H / 2) * W, size_t(W) * 2);
        for (int y = 0; y < H; ++y)
            yz[size_t(y) * depth + size_t(z)] = plane[size_t(y) * W + W / 2];
    }
    benchmark::DoNotOptimize(xy.data());
    benchmark::DoNotOptimize(xz.data());
    benchmark::DoNotOptimize(yz.data());
    ::munmap(map, bytes);
    ::close(fd);
    return seconds(t0, Clock::now());
}

double preadAll(const fs::path& data);

// mapped: the window reads through MappedStack instead of the file's reader, as a reader
// serving borrowed planes will.
void threeViews(benchmark::State& state, bool mapped)
{
    const int depth = static_cast<int>(state.range(0));
    const fs::path file = stack(W, H, depth);
    preadAll(dataOf(file)); // warm page cache for both sides
    ImageViewer::SetCacheBudgetOverrideMB(1024);
    auto w = window();
    double subject = 0, baseline = 0;
    for (auto _ : state) {
        state.PauseTiming();
        baseline += mappedThreeViews(dataOf(file), depth);
        state.ResumeTiming();
        const auto t0 = Clock::now();
        if (mapped) {
            w->LoadReader(std::make_unique<MappedStack>(dataOf(file), depth), QStringLiteral("mapped"));
            w->WaitForViews();
        } else {
            open(*w, file);
        }
        subject += seconds(t0, Clock::now());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ms"] = 1000 * subject / n;
    state.counters["baseline_ms"] = 1000 * baseline / n;
    state.counters["x_baseline"] = subject / baseline;
    state.counters["anon_MB"] = statusMB("RssAnon");
    state.counters["cached_MB"] = static_cast<double>(w->image->GetPeakBytes()) / 1048576.0;
    ImageViewer::SetCacheBudgetOverrideMB(0);
}

void BM_ThreeViews(benchmark::State& state)
{
    threeViews(state, false);
}

void BM_ThreeViewsBorrowed(benchmark::State& state)
{
    threeViews(state, true);
}

// One display-only step: what a histogram-marker drag or a gamma step costs with the
// z projection on. The baseline copies the three pictures' bytes once.
void displayStep(benchmark::State& state, bool mapped)
{
    const int depth = static_cast<int>(state.range(0));
    ImageViewer::SetCacheBudgetOverrideMB(1024);
    auto w = window();
    const fs::path file = stack(W, H, depth);
    if (mapped)
        w->LoadReader(std::make_unique<MappedStack>(dataOf(file), depth), QStringLiteral("mapped"));
    else
        open(*w, file);
    projectZ(*w);
    const size_t pictureBytes = 4 * (size_t(W) * H + size_t(W) * depth + size_t(H) * depth);
    std::vector<char> src(pictureBytes, 1), dst(pictureBytes);
    double baseline = 0, subject = 0;
    int step = 0;
    const int completed = w->model->Work().CompletedCount();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (++step % 2)
            w->trackGamma->setValue(step % 10);
        else
        {
            // What a histogram-marker drag does to the range.
            w->globalchannel->m_max = 20000 + step % 1000;
            w->RefreshPictures(ImageViewer::ViewAll);
        }
        w->WaitForViews();
        const auto t1 = Clock::now();
        std::memcpy(dst.data(), src.data(), pictureBytes);
        benchmark::DoNotOptimize(dst.data());
        baseline += seconds(t1, Clock::now());
        subject += seconds(t0, t1);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ms_per_event"] = 1000 * subject / n;
    state.counters["x_baseline"] = subject / baseline;
    state.counters["worker_jobs"] = w->model->Work().CompletedCount() - completed;
    ImageViewer::SetCacheBudgetOverrideMB(0);
}

void BM_DisplayStep(benchmark::State& state)
{
    displayStep(state, false);
}

void BM_DisplayStepBorrowed(benchmark::State& state)
{
    displayStep(state, true);
}

double preadAll(const fs::path& data)
{
    const auto t0 = Clock::now();
    const int fd = ::open(data.c_str(), O_RDONLY);
    std::vector<char> buffer(kPlane);
    off_t at = 0;
    ssize_t got;
    while ((got = ::pread(fd, buffer.data(), buffer.size(), at)) > 0)
        at += got;
    benchmark::DoNotOptimize(buffer.data());
    ::close(fd);
    return seconds(t0, Clock::now());
}

void projection(benchmark::State& state, bool mapped)
{
    const int depth = static_cast<int>(state.range(0));
    const fs::path file = stack(W, H, depth);
    double subject = 0, baseline = 0;
    for (auto _ : state) {
        state.PauseTiming();
        baseline += preadAll(dataOf(file));
        state.ResumeTiming();
        const auto t0 = Clock::now();
        ImageReader::Vector all(-1, -1);
        all.push_back(-1);
        if (mapped) {
            MappedStack source(dataOf(file), depth);
            ImageReader::SliceCache<unsigned short> cache(&source, size_t(1024) << 20);
            benchmark::DoNotOptimize(cache.GetMaximumProjection(0, 1, all).GetData());
        } else {
            ImageReader::OpenedImage opened = ImageReader::OpenImage(file);
            ImageReader::SliceCache<unsigned short> cache(opened.reader.get(), size_t(1024) << 20);
            benchmark::DoNotOptimize(cache.GetMaximumProjection(0, 1, all).GetData());
        }
        subject += seconds(t0, Clock::now());
    }
    state.counters["GB_per_s"] = static_cast<double>(kPlane) * depth * static_cast<double>(state.iterations()) / subject / 1e9;
    state.counters["of_pread_bandwidth"] = baseline / subject;
}

void BM_MaxProjection(benchmark::State& state)
{
    projection(state, false);
}

void BM_MaxProjectionBorrowed(benchmark::State& state)
{
    projection(state, true);
}

// A 3.4 GB image with every plane read into the default-budget cache, then a small image:
// the memory of the first goes back to the system.
void BM_RssAfterClose(benchmark::State& state)
{
    auto w = window();
    const fs::path big = stack(W, H, 1600);
    const fs::path small = stack(256, 256, 16);
    for (auto _ : state) {
        open(*w, big);
        projectZ(*w);
        state.counters["cached_MB"] = static_cast<double>(w->image->GetBytes()) / 1048576.0;
        state.counters["anon_MB_big"] = statusMB("RssAnon");
        open(*w, small);
        state.counters["rss_MB_after"] = statusMB("VmRSS");
        state.counters["anon_MB_after"] = statusMB("RssAnon");
    }
}

// The z slider swept end to end over a 3.4 GB image with a 256 MiB budget: the cache never
// holds more than the budget, whatever the file size.
void BM_SweepWithinBudget(benchmark::State& state)
{
    const int budgetMB = 256;
    ImageViewer::SetCacheBudgetOverrideMB(budgetMB);
    auto w = window();
    const int depth = 1600;
    open(*w, stack(W, H, depth));
    QSlider* z = w->trackDim[2];
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < depth; ++i) {
            z->setValue(i);
            QApplication::processEvents();
        }
        w->WaitForViews();
        state.counters["ms_per_step"] = 1000 * seconds(t0, Clock::now()) / depth;
    }
    state.counters["budget_MB"] = budgetMB;
    state.counters["cache_peak_MB"] = static_cast<double>(w->image->GetPeakBytes()) / 1048576.0;
    state.counters["anon_MB"] = statusMB("RssAnon");
    state.counters["hwm_MB"] = statusMB("VmHWM");
    ImageViewer::SetCacheBudgetOverrideMB(0);
}

// The window's answer time while the z projection of a 6.7 GB stack runs on the worker:
// a timer due every 10 ms records how late each tick is handled.
void BM_UiLatencyDuringProjection(benchmark::State& state)
{
    ImageViewer::SetCacheBudgetOverrideMB(1024);
    auto w = window();
    open(*w, stack(W, H, 3200));
    for (auto _ : state) {
        w->comboProj->setCurrentIndex(1);
        w->checkDimProj[2]->setChecked(!w->checkDimProj[2]->isChecked());
        const auto t0 = Clock::now();
        auto last = t0;
        double worst = 0;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            worst = std::max(worst, seconds(last, now));
            last = now;
            ++ticks;
        });
        timer.start();
        while (w->model->Work().IsBusy())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        timer.stop();
        w->WaitForViews();
        state.counters["projection_ms"] = 1000 * seconds(t0, Clock::now());
        state.counters["worst_tick_gap_ms"] = 1000 * worst;
        state.counters["ticks"] = ticks;
    }
    ImageViewer::SetCacheBudgetOverrideMB(0);
}

// A 1024 x 1024 x 14336 uint16 stack (30 GB) with the budget at 512 MiB: every 64th plane
// and the last hold huge(x, y, z), the others are holes, so the file costs under 1 GB of disk
// yet the views read all of it. Times the three views and a z sweep end to end, each against
// the same bytes copied from a mapping, and checks that the views show the written values at
// their z and zeros elsewhere.
constexpr int kHugeDepth = 14336;
constexpr int kHugeEvery = 64;

uint16_t huge(int x, int y, int z)
{
    return static_cast<uint16_t>(1 + (x * 5 + y * 3 + z * 11) % 60000);
}

bool hugeWritten(int z)
{
    return z % kHugeEvery == 0 || z == kHugeDepth - 1;
}

// Header and sparse data file for the huge stack in `dir`; the data file is created at full
// length by ftruncate and only the written planes get blocks.
fs::path writeHuge(const fs::path& dir)
{
    fs::create_directories(dir);
    const fs::path header = dir / "huge.ics";
    writeIcsHeader(header, "huge", W, H, kHugeDepth);
    const fs::path data = dataOf(header);
    const int fd = ::open(data.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kPlane * size_t(kHugeDepth))) != 0)
        std::abort();
    std::vector<uint16_t> plane(size_t(W) * H);
    for (int z = 0; z < kHugeDepth; ++z) {
        if (!hugeWritten(z))
            continue;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                plane[size_t(y) * W + size_t(x)] = huge(x, y, z);
        if (::pwrite(fd, plane.data(), kPlane, static_cast<off_t>(kPlane * size_t(z))) != static_cast<ssize_t>(kPlane))
            std::abort();
    }
    ::close(fd);
    return header;
}

// Private memory now in MiB, from /proc/self/smaps_rollup: Private_Dirty is what this
// process alone holds and cannot drop (heap, written pages); Private_Clean also counts pages
// of the file mapping no other process maps, which the kernel reclaims at will.
void privateMB(double& dirty, double& clean)
{
    std::ifstream in("/proc/self/smaps_rollup");
    std::string line;
    dirty = clean = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Private_Dirty:", 0) == 0)
            dirty = std::stod(line.substr(14)) / 1024.0;
        else if (line.rfind("Private_Clean:", 0) == 0)
            clean = std::stod(line.substr(14)) / 1024.0;
    }
}

// The value of kept view plane `view` (XY, XZ, YZ) at picture pixel (px, py).
int keptValue(ImageViewer::formImageViewer& w, int view, int px, int py)
{
    const ImageViewer::ViewData& vd = w.model->Record(view).data;
    if (vd.planes.empty() || vd.planes[0].IsEmpty())
        return -1;
    const ImageReader::Vector size = vd.planes[0].GetSize();
    if (px < 0 || py < 0 || px >= size[0] || py >= size[1])
        return -1;
    return vd.planes[0].GetData()[size_t(py) * size_t(size[0]) + size_t(px)];
}

void BM_HugeSweep(benchmark::State& state)
{
    const int budgetMB = 512;
    const int steps = 2000;
    const fs::path dir = "/tmp/lumora-bench-huge-" + std::to_string(::getpid());
    // The file goes whatever happens below: it is 30 GB to anyone listing the folder.
    struct Remove
    {
        fs::path dir;
        ~Remove() { std::error_code ec; fs::remove_all(dir, ec); }
    } remove{dir};
    const fs::path file = writeHuge(dir);
    const fs::path data = dataOf(file);

    ImageViewer::SetCacheBudgetOverrideMB(budgetMB);
    int failed = 0;
    const auto expect = [&](bool ok, const char* what, int a, int b, int c) {
        if (!ok && ++failed <= 10)
            std::fprintf(stderr, "HugeSweep: %s at %d %d %d\n", what, a, b, c);
    };
    double peakDirty = 0, peakClean = 0, peakAnon = 0;
    const auto sample = [&] {
        double dirty, clean;
        privateMB(dirty, clean);
        peakDirty = std::max(peakDirty, dirty);
        peakClean = std::max(peakClean, clean);
        peakAnon = std::max(peakAnon, statusMB("RssAnon"));
    };
    for (auto _ : state) {
        const double viewsBaseline = mappedThreeViews(data, kHugeDepth);
        // The baseline's own mapping touched the whole file: the peak counts from here.
        std::ofstream("/proc/self/clear_refs") << "5";
        auto w = window();
        const auto t0 = Clock::now();
        open(*w, file);
        const double views = seconds(t0, Clock::now());
        sample();

        // The side views hold every plane's row and column through the cursor.
        const int cx = w->curslice[0], cy = w->curslice[1];
        for (int z = 0; z < kHugeDepth; z += 7) {
            for (int x : {0, 511, W - 1}) {
                const int want = hugeWritten(z) ? huge(x, cy, z) : 0;
                expect(keptValue(*w, 1, x, z) == want, "XZ view", x, cy, z);
            }
            for (int y : {0, 300, H - 1}) {
                const int want = hugeWritten(z) ? huge(cx, y, z) : 0;
                expect(keptValue(*w, 2, z, y) == want, "YZ view", cx, y, z);
            }
        }

        // The sweep: 2000 positions from the first plane to the last.
        QSlider* zs = w->trackDim[2];
        // Baseline: a plain read of the same plane (a mapping here would count in this
        // process's resident memory and hide the viewer's own).
        const int mapFd = ::open(data.c_str(), O_RDONLY);
        std::vector<char> copy(kPlane);
        double sweep = 0, baseline = 0;
        for (int i = 0; i < steps; ++i) {
            const int z = static_cast<int>(int64_t(i) * (kHugeDepth - 1) / (steps - 1));
            const auto s0 = Clock::now();
            if (::pread(mapFd, copy.data(), kPlane, static_cast<off_t>(kPlane * size_t(z))) != static_cast<ssize_t>(kPlane))
                expect(false, "baseline read", z, 0, 0);
            benchmark::DoNotOptimize(copy.data());
            const auto s1 = Clock::now();
            zs->setValue(z);
            QApplication::processEvents();
            w->WaitForViews();
            const auto s2 = Clock::now();
            baseline += seconds(s0, s1);
            sweep += seconds(s1, s2);
            if (i % 100 == 0)
                sample();
        }
        ::close(mapFd);
        sample();

        // Written planes show their values at their z, holes show zeros.
        for (int z : {0, kHugeEvery, 64 * kHugeEvery, kHugeDepth - kHugeEvery, kHugeDepth - 1, 1, kHugeDepth / 2 + 1}) {
            zs->setValue(z);
            QApplication::processEvents();
            w->WaitForViews();
            for (int y : {0, 17, 512, H - 1})
                for (int x : {0, 3, 700, W - 1}) {
                    const int want = hugeWritten(z) ? huge(x, y, z) : 0;
                    expect(keptValue(*w, 0, x, y) == want, "XY view", x, y, z);
                }
            expect(w->GDIImageXY.width() == W && w->GDIImageXY.height() == H, "XY picture", z, 0, 0);
        }

        state.counters["views_s"] = views;
        state.counters["views_baseline_s"] = viewsBaseline;
        state.counters["views_x_baseline"] = views / viewsBaseline;
        state.counters["ms_per_step"] = 1000 * sweep / steps;
        state.counters["step_baseline_ms"] = 1000 * baseline / steps;
        state.counters["step_x_baseline"] = sweep / baseline;
        state.counters["budget_MB"] = budgetMB;
        state.counters["cache_peak_MB"] = static_cast<double>(w->image->GetPeakBytes()) / 1048576.0;
        state.counters["hwm_MB"] = statusMB("VmHWM");
        state.counters["peak_anon_MB"] = peakAnon;
        state.counters["peak_private_dirty_MB"] = peakDirty;
        state.counters["peak_private_clean_MB"] = peakClean;
        state.counters["failed_checks"] = failed;
    }
    ImageViewer::SetCacheBudgetOverrideMB(0);
    if (failed)
        state.SkipWithError("the views do not show the written values");
}

} // namespace

BENCHMARK(BM_UiLatencyDuringProjection)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeViews)->Arg(100)->Arg(1600)->Arg(3200)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeViewsBorrowed)->Arg(100)->Arg(1600)->Arg(3200)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DisplayStep)->Arg(3200)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DisplayStepBorrowed)->Arg(3200)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaxProjection)->Arg(1600)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaxProjectionBorrowed)->Arg(1600)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RssAfterClose)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SweepWithinBudget)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Minutes and the whole of a 30 GB file: only on request.
    if (!qEnvironmentVariableIsEmpty("LUMORA_BENCH_HUGE"))
        benchmark::RegisterBenchmark("BM_HugeSweep", BM_HugeSweep)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
