// Movie export and playback read-ahead, each next to a baseline measured in the same run:
// - CopyFrames: memcpy of 200 frames of 1024 x 1024 RGBA, the floor any export stands on;
// - Export/<format>: the same 200 frames written as a movie in /tmp/lumora-bench-movie
//   (deleted after each run); the fps counter is frames written per second;
// - PreadFrames: reading 48 frames of 1024 x 1024 x 3 channels of uint16 (6 MiB each) in order
//   with pread, from a 288 MiB file written once to /tmp/lumora-bench;
// - PlayEveryFrame: the player in every-frame mode over the same file, a worker reading the
//   planned frames ahead into a 64 MiB budget (10 frames); fps counter is frames shown per
//   second. The file is in the page cache after its first run, so this measures the
//   mechanism, not the disk. Delete /tmp/lumora-bench afterwards.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "MovieWriter.h"
#include "Player.h"

namespace {

namespace fs = std::filesystem;
constexpr int W = 1024;
constexpr int H = 1024;
constexpr int kFrames = 200;

// A picture twice as wide as a frame; frame i is a window moved 3 pixels a frame, so frames
// differ as in a slow pan, and making one costs nothing. Smooth blobs under a little noise,
// as a fluorescence picture is.
struct Film
{
    size_t stride = size_t(2 * W) * 4;
    std::vector<unsigned char> pixels;

    Film() : pixels(stride * H)
    {
        unsigned state = 12345;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < 2 * W; ++x) {
                unsigned char* p = &pixels[y * stride + size_t(x) * 4];
                state = state * 1664525u + 1013904223u;
                const int noise = static_cast<int>(state >> 28) - 8;
                const double cells = std::max(0.0, std::sin(x / 23.0) * std::sin(y / 31.0));
                const double membrane = std::exp(-std::pow(std::sin(x / 57.0 + y / 91.0), 2) * 40);
                p[0] = static_cast<unsigned char>(std::clamp(static_cast<int>(220 * cells) + noise, 0, 255));
                p[1] = static_cast<unsigned char>(std::clamp(static_cast<int>(200 * membrane) + noise, 0, 255));
                p[2] = static_cast<unsigned char>(std::clamp(20 + noise, 0, 255));
                p[3] = 255;
            }
    }
    Core::RgbaFrame Frame(int i) const
    {
        return {W, H, stride, pixels.data() + size_t((3 * i) % W) * 4, Core::PixelOrder::RGBA};
    }
};

const Film& TheFilm()
{
    static const Film film;
    return film;
}

void BM_CopyFrames(benchmark::State& state)
{
    const Film& film = TheFilm();
    std::vector<unsigned char> out(size_t(W) * H * 4);
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i) {
            const Core::RgbaFrame f = film.Frame(i);
            for (int y = 0; y < H; ++y)
                std::memcpy(&out[size_t(y) * W * 4], f.bytes + y * f.stride, size_t(W) * 4);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["fps"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CopyFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Export(benchmark::State& state, const char* name)
{
    const Film& film = TheFilm();
    const fs::path dir = "/tmp/lumora-bench-movie";
    const std::string out = (dir / name).string();
    if (!Core::MovieFormatAvailable(Core::MovieFormatFor(out))) {
        state.SkipWithError("this build cannot write the format");
        return;
    }
    Core::MovieOptions options;
    options.fps = 25;
    for (auto _ : state) {
        fs::create_directories(dir);
        const Core::MovieResult r = Core::WriteMovie(out, kFrames, [&](int i, Core::RgbaFrame& f, std::string&) {
            f = film.Frame(i);
            return true;
        }, options);
        state.PauseTiming();
        if (!r.ok)
            state.SkipWithError(r.error.c_str());
        fs::remove_all(dir);
        state.ResumeTiming();
    }
    state.counters["fps"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_CAPTURE(BM_Export, PngFrames, "frames/")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Export, MjpegAvi, "movie.avi")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Export, Mp4, "movie.mp4")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Export, WebP, "movie.webp")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Export, Gif, "movie.gif")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

// Playback: frames of three uint16 channel planes, one after another in a raw file.
constexpr int kPlayFrames = 48;
constexpr size_t kPlane = size_t(W) * H * 2;
constexpr size_t kFrameBytes = 3 * kPlane;
constexpr size_t kBudget = size_t(64) << 20;

const std::string& FramesFile()
{
    static const std::string path = [] {
        const fs::path p = "/tmp/lumora-bench/movie_frames_1024x1024x3x48.raw";
        if (!fs::exists(p) || fs::file_size(p) != kFrameBytes * kPlayFrames) {
            fs::create_directories(p.parent_path());
            std::ofstream f(p, std::ios::binary);
            std::vector<unsigned short> plane(kPlane / 2);
            for (int k = 0; k < 3 * kPlayFrames; ++k) {
                for (size_t i = 0; i < plane.size(); ++i)
                    plane[i] = static_cast<unsigned short>(i * 7 + size_t(k) * 1000);
                f.write(reinterpret_cast<const char*>(plane.data()), static_cast<std::streamsize>(kPlane));
            }
        }
        return p.string();
    }();
    return path;
}

bool ReadFrame(int fd, int index, unsigned char* out)
{
    // Plane by plane, as a reader serves a frame's channels.
    for (int c = 0; c < 3; ++c) {
        const off_t at = static_cast<off_t>((size_t(index) * 3 + size_t(c)) * kPlane);
        if (pread(fd, out + size_t(c) * kPlane, kPlane, at) != static_cast<ssize_t>(kPlane))
            return false;
    }
    return true;
}

void BM_PreadFrames(benchmark::State& state)
{
    const int fd = open(FramesFile().c_str(), O_RDONLY);
    std::vector<unsigned char> frame(kFrameBytes);
    for (auto _ : state)
        for (int i = 0; i < kPlayFrames; ++i)
            if (!ReadFrame(fd, i, frame.data()))
                state.SkipWithError("cannot read the frames file");
    close(fd);
    state.counters["fps"] = benchmark::Counter(kPlayFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PreadFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

struct SteadyClock : Core::PlayClock
{
    double Now() override { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
};

// A worker that reads the frames the player asks for into a bounded set, as the model's
// worker and slice cache do.
class FileSource : public Core::FrameSource
{
public:
    explicit FileSource(int fd) : m_fd(fd), m_worker([this] { Work(); }) {}
    ~FileSource() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_worker.join();
    }
    bool IsFrameReady(int index) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_ready.count(index) > 0;
    }
    void RequestFrames(const std::vector<int>& indices) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_want.assign(indices.begin(), indices.end());
        }
        m_wake.notify_all();
    }
    void ShowFrame(int index) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_ready.find(index);
        if (it != m_ready.end())
            benchmark::DoNotOptimize(it->second[kFrameBytes / 2]);
        // Frames behind the one shown are not wanted again by a single pass.
        m_ready.erase(m_ready.begin(), m_ready.lower_bound(index));
        m_wake.notify_all();
    }
    // Waits until `deadline` (clock seconds) or until a frame arrives.
    void WaitUntil(double deadline, SteadyClock& clock)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto wait = std::chrono::duration<double>(std::max(0.0, deadline - clock.Now()));
        m_arrived.wait_for(lock, wait, [this] { return m_newFrame; });
        m_newFrame = false;
    }

private:
    void Work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] {
                return m_stop || (!m_want.empty() && m_ready.size() * kFrameBytes < kBudget);
            });
            if (m_stop)
                return;
            const int index = m_want.front();
            m_want.pop_front();
            if (m_ready.count(index))
                continue;
            lock.unlock();
            std::vector<unsigned char> frame(kFrameBytes);
            const bool ok = ReadFrame(m_fd, index, frame.data());
            lock.lock();
            if (ok)
                m_ready[index] = std::move(frame);
            m_newFrame = true;
            m_arrived.notify_all();
        }
    }

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_arrived;
    std::deque<int> m_want;
    std::map<int, std::vector<unsigned char>> m_ready;
    bool m_newFrame = false;
    bool m_stop = false;
    std::thread m_worker;
};

void BM_PlayEveryFrame(benchmark::State& state)
{
    const int fd = open(FramesFile().c_str(), O_RDONLY);
    SteadyClock clock;
    long long shown = 0;
    for (auto _ : state) {
        FileSource source(fd);
        Core::Player player(source, clock);
        Core::PlaySettings s;
        s.first = 0;
        s.last = kPlayFrames - 1;
        s.fps = 1000; // as fast as frames come: the rate is the read path's
        s.repeat = Core::PlayRepeat::Once;
        s.mode = Core::PlayMode::EveryFrame;
        player.SetSettings(s);
        player.SetReadAheadBudget(kFrameBytes, kBudget);
        player.Play(-1); // outside the range: starts at the first frame
        for (;;) {
            const double next = player.Tick();
            if (next < 0)
                break;
            source.WaitUntil(next, clock);
        }
        shown += player.ShownCount();
    }
    close(fd);
    if (shown != static_cast<long long>(state.iterations()) * kPlayFrames)
        state.SkipWithError("not every frame was shown");
    state.counters["fps"] = benchmark::Counter(kPlayFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PlayEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
