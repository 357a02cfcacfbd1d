#include "MovieWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "AviMjpegWriter.h"
#include "GifMovieWriter.h"
#include "PngFramesWriter.h"
#include "StopToken.h"
#include "WebpMovieWriter.h"
#ifdef LUMORA_HAVE_MP4
#include "Mp4Writer.h"
#endif

namespace Core {

MovieFormat MovieFormatFor(const std::string& out)
{
    if (out.empty())
        return MovieFormat::Unknown;
    std::error_code ec;
    if (out.back() == '/' || std::filesystem::is_directory(out, ec))
        return MovieFormat::PngFrames;
    std::string ext = std::filesystem::path(out).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".avi")
        return MovieFormat::AviMjpeg;
    if (ext == ".gif")
        return MovieFormat::Gif;
    if (ext == ".webp")
        return MovieFormat::WebP;
    if (ext == ".mp4")
        return MovieFormat::Mp4;
    return MovieFormat::Unknown;
}

const char* MovieFormatName(MovieFormat format)
{
    switch (format) {
    case MovieFormat::PngFrames: return "PNG frames";
    case MovieFormat::AviMjpeg: return "MJPEG AVI";
    case MovieFormat::Gif: return "animated GIF";
    case MovieFormat::WebP: return "animated WebP";
    case MovieFormat::Mp4: return "MP4";
    case MovieFormat::Unknown: break;
    }
    return "unknown";
}

bool MovieFormatAvailable(MovieFormat format)
{
#ifndef LUMORA_HAVE_MP4
    if (format == MovieFormat::Mp4)
        return false;
#endif
    return format != MovieFormat::Unknown;
}

std::unique_ptr<MovieWriter> CreateMovieWriter(MovieFormat format)
{
    switch (format) {
    case MovieFormat::PngFrames: return std::make_unique<PngFramesWriter>();
    case MovieFormat::AviMjpeg: return std::make_unique<AviMjpegWriter>();
    case MovieFormat::Gif: return std::make_unique<GifMovieWriter>();
    case MovieFormat::WebP: return std::make_unique<WebpMovieWriter>();
#ifdef LUMORA_HAVE_MP4
    case MovieFormat::Mp4: return std::make_unique<Mp4Writer>();
#else
    case MovieFormat::Mp4: break;
#endif
    case MovieFormat::Unknown: break;
    }
    return nullptr;
}

bool MovieWriter::CheckFrame(bool open, const RgbaFrame& frame, int width, int height)
{
    if (!open)
        return Fail("the movie is not open");
    if (frame.width != width || frame.height != height)
        return Fail("a frame of " + std::to_string(frame.width) + " x " + std::to_string(frame.height) +
                    " does not match the movie's " + std::to_string(width) + " x " + std::to_string(height));
    if (!frame.bytes || frame.stride < static_cast<size_t>(width) * 4)
        return Fail("a frame has no pixels");
    return true;
}

bool MovieWriter::CheckSize(int width, int height, int maxSide, const char* format)
{
    if (width > 0 && height > 0 && width <= maxSide && height <= maxSide && static_cast<double>(width) * 3 * height < 2e9)
        return true;
    return Fail("frames of " + std::to_string(width) + " x " + std::to_string(height) + " cannot be written as " + format);
}

void MovieWriter::RemoveOutput(const std::string& path)
{
    std::error_code ec;
    if (!path.empty())
        std::filesystem::remove(path, ec);
}

void FrameRowToRgb(const RgbaFrame& frame, int y, unsigned char* rgb)
{
    const unsigned char* in = frame.bytes + static_cast<size_t>(y) * frame.stride;
    const int r = frame.order == PixelOrder::RGBA ? 0 : 2;
    const int b = 2 - r;
    for (int x = 0; x < frame.width; ++x, in += 4, rgb += 3) {
        rgb[0] = in[r];
        rgb[1] = in[1];
        rgb[2] = in[b];
    }
}

MovieResult WriteMovie(const std::string& out, int frameCount, const FrameRenderer& render,
                       const MovieOptions& options, const MovieProgress& progress)
{
    MovieResult result;
    const MovieFormat format = MovieFormatFor(out);
    if (format == MovieFormat::Unknown) {
        result.error = "the movie's name must end in .mp4, .avi, .gif, .webp or / (a folder of PNG frames)";
        return result;
    }
    std::unique_ptr<MovieWriter> writer = CreateMovieWriter(format);
    if (!writer) {
        result.error = std::string("this build cannot write ") + MovieFormatName(format);
        return result;
    }
    if (frameCount <= 0) {
        result.error = "the movie has no frames";
        return result;
    }
    if (!(options.fps > 0.0) || options.fps > 1000.0) {
        result.error = "the frame rate must be above 0 and at most 1000";
        return result;
    }
    bool begun = false;
    for (int i = 0; i < frameCount; ++i) {
        if (ImageReader::StopRequested()) {
            result.cancelled = true;
            break;
        }
        RgbaFrame frame;
        std::string error;
        if (!render(i, frame, error)) {
            result.error = error.empty() ? "frame " + std::to_string(i) + " could not be rendered" : error;
            break;
        }
        if (!begun) {
            if (!writer->Begin(out, frame.width, frame.height, options)) {
                result.error = writer->Error();
                break;
            }
            begun = true;
        }
        if (!writer->Add(frame)) {
            result.error = writer->Error();
            break;
        }
        result.frames = i + 1;
        if (progress && !progress(i + 1, frameCount)) {
            result.cancelled = i + 1 < frameCount;
            if (result.cancelled)
                break;
        }
    }
    const bool complete = result.frames == frameCount && !result.cancelled && result.error.empty();
    if (complete && writer->Finish()) {
        result.ok = true;
        return result;
    }
    if (complete)
        result.error = writer->Error();
    if (begun)
        writer->Abandon();
    return result;
}

} // namespace Core
