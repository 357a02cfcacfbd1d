#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace Core {

// Byte order of a frame's pixels: RGBA, or BGRA as a 32-bit little-endian 0xAARRGGBB picture
// lies in memory (the views' pictures). Alpha is ignored: movies are opaque.
enum class PixelOrder { RGBA, BGRA };

// One picture of a movie, owned by whoever rendered it.
struct RgbaFrame
{
    int width = 0;
    int height = 0;
    size_t stride = 0; // bytes from one row to the next, at least 4 * width
    const unsigned char* bytes = nullptr;
    PixelOrder order = PixelOrder::RGBA;
};

struct MovieOptions
{
    double fps = 10.0;  // frames per second of the movie (not of writing it)
    int quality = 90;   // 1..100 for the lossy formats (JPEG, WebP, H.264)
};

enum class MovieFormat { Unknown, PngFrames, AviMjpeg, Gif, WebP, Mp4 };

// From where the movie goes: a name ending in '/' (or an existing folder) is a folder of
// PNG frames, else the extension in any case: .avi, .gif, .webp, .mp4.
MovieFormat MovieFormatFor(const std::string& out);
const char* MovieFormatName(MovieFormat format);
// MP4 is there only where the build found libavcodec and libavformat.
bool MovieFormatAvailable(MovieFormat format);

// Writes one movie: Begin, Add for every frame (each of Begin's size), then Finish. After a
// failure (Error says why) or when the caller gives up, Abandon removes what was written.
class MovieWriter
{
public:
    virtual ~MovieWriter() = default;
    virtual bool Begin(const std::string& path, int width, int height, const MovieOptions& options) = 0;
    virtual bool Add(const RgbaFrame& frame) = 0;
    virtual bool Finish() = 0;
    virtual void Abandon() = 0;
    const std::string& Error() const { return m_error; }

protected:
    bool Fail(const std::string& error)
    {
        m_error = error;
        return false;
    }
    // The movie is open and the frame has the size Begin was given and bytes for it.
    bool CheckFrame(bool open, const RgbaFrame& frame, int width, int height);
    // Frames of width x height fit the format: each side from 1 to `maxSide`, and the
    // packed RGB picture below 2 GB (the 32-bit sizes codecs keep).
    bool CheckSize(int width, int height, int maxSide, const char* format);
    // Fails with the reason a write to `path` usually fails for.
    bool FailWrite(const std::string& path) { return Fail("cannot write " + path + " (disk full?)"); }
    // Removes a file this writer made (nothing for an empty path), whatever it holds.
    static void RemoveOutput(const std::string& path);

    std::string m_error;
};

// Null for Unknown and for formats this build cannot write.
std::unique_ptr<MovieWriter> CreateMovieWriter(MovieFormat format);

// Renders frame `index` (0-based) of the movie into `frame`, whose bytes must stay valid until
// the next call; false (with `error` set) when it cannot.
using FrameRenderer = std::function<bool(int index, RgbaFrame& frame, std::string& error)>;
// Called after each written frame; returning false cancels.
using MovieProgress = std::function<bool(int done, int total)>;

struct MovieResult
{
    bool ok = false;
    bool cancelled = false;
    int frames = 0;
    std::string error;
};

// Writes `frameCount` rendered frames to `out` in the format its name asks for. Cancelled by
// `progress` or by the thread's stop token (ImageReader::StopRequested); a cancelled or failed
// movie leaves no partial file behind.
MovieResult WriteMovie(const std::string& out, int frameCount, const FrameRenderer& render,
                       const MovieOptions& options, const MovieProgress& progress = MovieProgress());

// Rows of a frame as packed RGB (3 bytes a pixel): `rgb` holds width * 3 bytes.
void FrameRowToRgb(const RgbaFrame& frame, int y, unsigned char* rgb);

} // namespace Core
