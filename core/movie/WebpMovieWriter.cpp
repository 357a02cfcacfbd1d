#include "WebpMovieWriter.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace Core {

WebpMovieWriter::~WebpMovieWriter()
{
    if (m_encoder)
        WebPAnimEncoderDelete(m_encoder);
}

int WebpMovieWriter::TimestampMs(long long frame) const
{
    return static_cast<int>(std::min<double>(std::llround(static_cast<double>(frame) * 1000.0 / m_fps), 2147483647.0));
}

bool WebpMovieWriter::Begin(const std::string& path, int width, int height, const MovieOptions& options)
{
    if (!CheckSize(width, height, WEBP_MAX_DIMENSION, "WebP"))
        return false;
    m_path = path;
    m_width = width;
    m_height = height;
    m_fps = options.fps;
    m_quality = std::clamp(options.quality, 1, 100);
    WebPAnimEncoderOptions encoderOptions;
    if (!WebPAnimEncoderOptionsInit(&encoderOptions))
        return Fail("this libwebp does not match its header");
    encoderOptions.anim_params.loop_count = 0;
    m_encoder = WebPAnimEncoderNew(width, height, &encoderOptions);
    if (!m_encoder)
        return Fail("out of memory");
    return true;
}

bool WebpMovieWriter::Add(const RgbaFrame& frame)
{
    if (!CheckFrame(m_encoder != nullptr, frame, m_width, m_height))
        return false;
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return Fail("this libwebp does not match its header");
    config.quality = static_cast<float>(m_quality);
    config.method = 0; // a movie of many frames: twice as fast as 2 for a file 1 % larger
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return Fail("this libwebp does not match its header");
    picture.width = m_width;
    picture.height = m_height;
    picture.use_argb = 1;
    const int stride = static_cast<int>(std::min<size_t>(frame.stride, 2147483647u));
    const int imported = frame.order == PixelOrder::RGBA ? WebPPictureImportRGBX(&picture, frame.bytes, stride)
                                                         : WebPPictureImportBGRX(&picture, frame.bytes, stride);
    bool ok = imported && WebPAnimEncoderAdd(m_encoder, &picture, TimestampMs(m_frames), &config);
    WebPPictureFree(&picture);
    if (!ok)
        return Fail(std::string("WebP: ") + (imported ? WebPAnimEncoderGetError(m_encoder) : "out of memory"));
    ++m_frames;
    return true;
}

bool WebpMovieWriter::Finish()
{
    if (!m_encoder)
        return Fail("the movie is not open");
    // The end time gives the last frame its duration.
    WebPData data;
    WebPDataInit(&data);
    bool ok = WebPAnimEncoderAdd(m_encoder, nullptr, TimestampMs(m_frames), nullptr) &&
              WebPAnimEncoderAssemble(m_encoder, &data);
    if (!ok) {
        Fail(std::string("WebP: ") + WebPAnimEncoderGetError(m_encoder));
        WebPDataClear(&data);
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(m_path.c_str(), "wb"), &std::fclose);
    m_written = f != nullptr;
    ok = f && std::fwrite(data.bytes, 1, data.size, f.get()) == data.size && std::fclose(f.release()) == 0;
    WebPDataClear(&data);
    if (!ok) {
        Abandon();
        return FailWrite(m_path);
    }
    return true;
}

void WebpMovieWriter::Abandon()
{
    if (m_encoder)
        WebPAnimEncoderDelete(m_encoder);
    m_encoder = nullptr;
    if (m_written)
        RemoveOutput(m_path);
}

} // namespace Core
