// Movie export and playback read-ahead, each next to a baseline measured in the same run:
// - CopyFrames: memcpy of 200 frames of 1024 x 1024 RGBA, the floor any export stands on;
// - Export/<format>: the same 200 frames written as a movie in /tmp/lumora-bench-movie
//   (deleted after each run); the fps counter is frames written per second;
// - PreadFrames/ics, /tiff: reading 48 frames of 1024 x 1024 x 3 channels of uint16 (6 MiB
//   each) in order with pread from the data of an ICS image and of a multi-page TIFF (288 MiB
//   each, written once to /tmp/lumora-bench);
// - PlayEveryFrame/ics, /tiff: the player in every-frame mode over the same images opened with
//   OpenImage (the ICS memory-mapped), a worker reading the planned frames ahead within a
//   64 MiB budget (10 frames); the fps counter is frames shown per second. The files are in
//   the page cache after their first run, so this measures the read path, not the disk.
//   Delete /tmp/lumora-bench afterwards.
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

#include <tiffio.h>

#include "ImageSlice.h"
#include "MovieWriter.h"
#include "OpenImage.h"
#include "Player.h"
#include "PlaybackFiles.h"

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

// The same planes as an uncompressed multi-page TIFF with an ImageJ description (c, t).
const fs::path& TiffFile()
{
    static const fs::path path = [] {
        const fs::path p = kPlayDir / "movie_frames.tif";
        if (fs::exists(p) && fs::file_size(p) > kFrameBytes * kPlayFrames)
            return p;
        fs::create_directories(kPlayDir);
        TIFF* tif = TIFFOpen(p.c_str(), "w");
        std::vector<unsigned short> plane(kPlane / 2);
        const std::string description = "ImageJ=1.54f\nimages=" + std::to_string(3 * kPlayFrames) +
                                        "\nchannels=3\nframes=" + std::to_string(kPlayFrames) + "\nhyperstack=true\n";
        for (int k = 0; tif && k < 3 * kPlayFrames; ++k) {
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, W);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, H);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
            if (k == 0)
                TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
            FillPlane(plane, k);
            for (int y = 0; y < H; ++y)
                TIFFWriteScanline(tif, &plane[size_t(y) * W], static_cast<uint32_t>(y), 0);
            TIFFWriteDirectory(tif);
        }
        if (tif)
            TIFFClose(tif);
        return p;
    }();
    return path;
}

// Baseline: every frame's bytes in order with pread, plane by plane (for the TIFF, as many
// bytes from its first page's data on: the pages lie one after another).
void BM_PreadFrames(benchmark::State& state, bool tiff)
{
    const int fd = open((tiff ? TiffFile() : fs::path(IcsFile()).replace_extension(".ids")).c_str(), O_RDONLY);
    std::vector<unsigned char> frame(kFrameBytes);
    for (auto _ : state)
        for (int i = 0; i < kPlayFrames; ++i)
            if (!PreadFrame(fd, tiff ? 8 : 0, i, frame.data()))
                state.SkipWithError("cannot read the frames file");
    close(fd);
    state.counters["fps"] = benchmark::Counter(kPlayFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_CAPTURE(BM_PreadFrames, ics, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PreadFrames, tiff, true)->Unit(benchmark::kMillisecond)->UseRealTime();

struct SteadyClock : Core::PlayClock
{
    double Now() override { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
};

// A frame's three planes through the reader, each page of them touched once, as drawing would.
using Frame = std::vector<ImageReader::ImageSlice<unsigned short>>;

std::shared_ptr<const Frame> ReadFrame(ImageReader::ImageReaderBase<unsigned short>& reader, int t)
{
    auto frame = std::make_shared<Frame>();
    for (int c = 0; c < 3; ++c) {
        ImageReader::Vector at;
        at.push_back(c);
        at.push_back(t);
        frame->push_back(reader.GetSlice(at));
        const unsigned short* data = frame->back().GetData();
        if (!data)
            return nullptr;
        unsigned sum = 0;
        for (size_t i = 0; i < kPlane / 2; i += 2048)
            sum += data[i];
        benchmark::DoNotOptimize(sum);
    }
    return frame;
}

// A worker that reads the frames the player asks for into the budget, as the model's worker
// and slice cache do.
class ReaderSource : public Core::FrameSource
{
public:
    explicit ReaderSource(ImageReader::ImageReaderBase<unsigned short>& reader) : m_reader(reader), m_worker([this] { Work(); }) {}
    ~ReaderSource() override
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
            std::shared_ptr<const Frame> frame = ReadFrame(m_reader, index);
            lock.lock();
            if (frame)
                m_ready[index] = std::move(frame);
            m_newFrame = true;
            m_arrived.notify_all();
        }
    }

    ImageReader::ImageReaderBase<unsigned short>& m_reader;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_arrived;
    std::deque<int> m_want;
    std::map<int, std::shared_ptr<const Frame>> m_ready;
    bool m_newFrame = false;
    bool m_stop = false;
    std::thread m_worker;
};

void BM_PlayEveryFrame(benchmark::State& state, bool tiff)
{
    ImageReader::OpenedImage image = ImageReader::OpenImage(tiff ? TiffFile() : IcsFile());
    if (!image.reader || image.reader->GetSize().size() != 4) {
        state.SkipWithError(("cannot open the frames: " + image.error).c_str());
        return;
    }
    SteadyClock clock;
    long long shown = 0;
    for (auto _ : state) {
        ReaderSource source(*image.reader);
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
        image.reader->ReleaseMappedPages();
    }
    if (shown != static_cast<long long>(state.iterations()) * kPlayFrames)
        state.SkipWithError("not every frame was shown");
    state.counters["fps"] = benchmark::Counter(kPlayFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_CAPTURE(BM_PlayEveryFrame, ics, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlayEveryFrame, tiff, true)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
