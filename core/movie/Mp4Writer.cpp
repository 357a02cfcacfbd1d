#include "Mp4Writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <dlfcn.h>
#include <map>
#include <utility>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace Core {

namespace {

// libavcodec and its companions pull in well over a hundred libraries (every codec's own):
// loading them at start would cost every run of the viewer and the tools a good part of
// their start-up. They are loaded with the first MP4 movie instead.
#define LUMORA_AV_FUNCTIONS(X) \
    X(avformat, avio_closep) \
    X(avformat, avformat_free_context) \
    X(avcodec, avcodec_free_context) \
    X(avutil, av_frame_free) \
    X(avcodec, av_packet_free) \
    X(swscale, sws_freeContext) \
    X(avutil, av_strerror) \
    X(avutil, av_log_set_level) \
    X(avformat, avformat_alloc_output_context2) \
    X(avcodec, avcodec_find_encoder_by_name) \
    X(avcodec, avcodec_find_encoder) \
    X(avformat, avformat_new_stream) \
    X(avcodec, avcodec_alloc_context3) \
    X(avutil, av_frame_alloc) \
    X(avcodec, av_packet_alloc) \
    X(avutil, av_d2q) \
    X(avutil, av_opt_set) \
    X(avutil, av_opt_set_int) \
    X(avcodec, avcodec_open2) \
    X(avcodec, avcodec_parameters_from_context) \
    X(avutil, av_frame_get_buffer) \
    X(avformat, avio_open) \
    X(avformat, avformat_write_header) \
    X(avcodec, avcodec_receive_packet) \
    X(avcodec, av_packet_rescale_ts) \
    X(avformat, av_interleaved_write_frame) \
    X(swscale, sws_getContext) \
    X(avutil, av_frame_make_writable) \
    X(swscale, sws_scale) \
    X(avcodec, avcodec_send_frame) \
    X(avformat, av_write_trailer) \

std::string soname(const char* name, int major)
{
    return "lib" + std::string(name) + ".so." + std::to_string(major);
}

} // namespace

struct Mp4Writer::AvLibrary
{
#define LUMORA_AV_POINTER(lib, name) decltype(&::name) name = nullptr;
    LUMORA_AV_FUNCTIONS(LUMORA_AV_POINTER)
#undef LUMORA_AV_POINTER
    std::string error; // why it could not be loaded; empty when it was

    AvLibrary()
    {
        // Each library before those that need it; the handles stay open for the process.
        const std::pair<const char*, int> libraries[] = {{"avutil", LIBAVUTIL_VERSION_MAJOR},
                                                         {"swscale", LIBSWSCALE_VERSION_MAJOR},
                                                         {"avcodec", LIBAVCODEC_VERSION_MAJOR},
                                                         {"avformat", LIBAVFORMAT_VERSION_MAJOR}};
        std::map<std::string, void*> handles;
        for (const auto& l : libraries) {
            const std::string file = soname(l.first, l.second);
            void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                error = "MP4 needs " + file + ", which cannot be loaded";
                return;
            }
            handles[l.first] = handle;
        }
#define LUMORA_AV_LOOKUP(lib, name) \
        name = reinterpret_cast<decltype(name)>(dlsym(handles[#lib], #name)); \
        if (!name) { \
            error = "MP4: lib" #lib " has no " #name; \
            return; \
        }
        LUMORA_AV_FUNCTIONS(LUMORA_AV_LOOKUP)
#undef LUMORA_AV_LOOKUP
    }

    static const AvLibrary& Get()
    {
        static const AvLibrary library;
        return library;
    }
};


Mp4Writer::~Mp4Writer()
{
    Release();
}

void Mp4Writer::Release()
{
    if (!m_av)
        return; // nothing was made
    if (m_format && m_format->pb)
        m_av->avio_closep(&m_format->pb);
    m_av->avformat_free_context(m_format);
    m_format = nullptr;
    m_stream = nullptr;
    m_av->avcodec_free_context(&m_codec);
    m_av->av_frame_free(&m_frame);
    m_av->av_packet_free(&m_packet);
    m_av->sws_freeContext(m_scale);
    m_scale = nullptr;
}

bool Mp4Writer::AvFailed(const std::string& what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    m_av->av_strerror(code, text, sizeof text);
    Fail("MP4: " + what + " (" + text + ")");
    Abandon();
    return false;
}

bool Mp4Writer::Begin(const std::string& path, int width, int height, const MovieOptions& options)
{
    if (!CheckSize(width, height, 16384, "MP4"))
        return false;
    const AvLibrary& av = AvLibrary::Get();
    if (!av.error.empty())
        return Fail(av.error);
    m_av = &av;
    m_path = path;
    m_width = width;
    m_height = height;
    const int codedWidth = (width + 1) & ~1, codedHeight = (height + 1) & ~1;

    // The encoders report their settings on stderr at every movie; only errors matter here.
    m_av->av_log_set_level(AV_LOG_ERROR);
    int code = m_av->avformat_alloc_output_context2(&m_format, nullptr, "mp4", path.c_str());
    if (code < 0 || !m_format)
        return AvFailed("no MP4 muxer", code);
    const AVCodec* codec = m_av->avcodec_find_encoder_by_name("libx264");
    if (!codec)
        codec = m_av->avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec)
        codec = m_av->avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return AvFailed("libavcodec has neither an H.264 nor an MPEG-4 encoder", AVERROR_ENCODER_NOT_FOUND);
    m_encoderName = codec->name;
    m_stream = m_av->avformat_new_stream(m_format, nullptr);
    m_codec = m_av->avcodec_alloc_context3(codec);
    m_frame = m_av->av_frame_alloc();
    m_packet = m_av->av_packet_alloc();
    if (!m_stream || !m_codec || !m_frame || !m_packet)
        return AvFailed("out of memory", AVERROR(ENOMEM));

    const AVRational rate = m_av->av_d2q(options.fps, 1000000);
    m_codec->width = codedWidth;
    m_codec->height = codedHeight;
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->time_base = av_inv_q(rate);
    m_codec->framerate = rate;
    m_codec->gop_size = std::max(1, static_cast<int>(options.fps * 2));
    m_codec->thread_count = 0;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int quality = std::clamp(options.quality, 1, 100);
    if (m_encoderName == "libx264") {
        // crf 51..0 over quality 1..100: 90 gives 18, visually clean for figures.
        const int crf = std::clamp(51 - (quality * 33) / 90, 0, 51);
        m_av->av_opt_set(m_codec->priv_data, "preset", "veryfast", 0);
        m_av->av_opt_set_int(m_codec->priv_data, "crf", crf, 0);
    } else {
        m_codec->flags |= AV_CODEC_FLAG_QSCALE;
        m_codec->global_quality = FF_QP2LAMBDA * std::clamp(31 - (quality * 29) / 100, 2, 31);
    }
    code = m_av->avcodec_open2(m_codec, codec, nullptr);
    if (code < 0)
        return AvFailed("cannot open the " + m_encoderName + " encoder", code);
    code = m_av->avcodec_parameters_from_context(m_stream->codecpar, m_codec);
    if (code < 0)
        return AvFailed("cannot set the stream up", code);
    m_stream->time_base = m_codec->time_base;
    m_stream->avg_frame_rate = rate;

    m_frame->format = m_codec->pix_fmt;
    m_frame->width = codedWidth;
    m_frame->height = codedHeight;
    code = m_av->av_frame_get_buffer(m_frame, 0);
    if (code < 0)
        return AvFailed("out of memory", code);
    code = m_av->avio_open(&m_format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) {
        Release();
        return Fail("cannot write " + path);
    }
    m_opened = true;
    code = m_av->avformat_write_header(m_format, nullptr);
    if (code < 0)
        return AvFailed("cannot write the header", code);
    return true;
}

bool Mp4Writer::Drain(bool flush)
{
    for (;;) {
        int code = m_av->avcodec_receive_packet(m_codec, m_packet);
        if (code == AVERROR(EAGAIN) || (flush && code == AVERROR_EOF))
            return true;
        if (code < 0)
            return AvFailed("the encoder failed", code);
        m_av->av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        code = m_av->av_interleaved_write_frame(m_format, m_packet);
        if (code < 0)
            return AvFailed("cannot write " + m_path, code);
    }
}

bool Mp4Writer::Add(const RgbaFrame& input)
{
    if (!CheckFrame(m_format && m_codec, input, m_width, m_height))
        return false;
    RgbaFrame frame = input;
    const int codedWidth = m_codec->width, codedHeight = m_codec->height;
    if (codedWidth != m_width || codedHeight != m_height) {
        // Repeat the last column and row into the padding, so the edge does not bleed black.
        const size_t stride = static_cast<size_t>(codedWidth) * 4;
        m_padded.resize(stride * static_cast<size_t>(codedHeight));
        for (int y = 0; y < codedHeight; ++y) {
            unsigned char* out = m_padded.data() + stride * static_cast<size_t>(y);
            std::memcpy(out, input.bytes + input.stride * static_cast<size_t>(std::min(y, m_height - 1)),
                        static_cast<size_t>(m_width) * 4);
            if (codedWidth != m_width)
                std::memcpy(out + 4 * static_cast<size_t>(m_width), out + 4 * static_cast<size_t>(m_width - 1), 4);
        }
        frame.width = codedWidth;
        frame.height = codedHeight;
        frame.stride = stride;
        frame.bytes = m_padded.data();
    }
    const int order = static_cast<int>(frame.order);
    if (!m_scale || m_swsOrder != order) {
        m_av->sws_freeContext(m_scale);
        const AVPixelFormat source = frame.order == PixelOrder::RGBA ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_BGR0;
        m_scale = m_av->sws_getContext(codedWidth, codedHeight, source, codedWidth, codedHeight, AV_PIX_FMT_YUV420P,
                                 SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        m_swsOrder = order;
        if (!m_scale)
            return AvFailed("no colour conversion", AVERROR(ENOSYS));
    }
    int code = m_av->av_frame_make_writable(m_frame);
    if (code < 0)
        return AvFailed("out of memory", code);
    const uint8_t* planes[1] = {frame.bytes};
    const int strides[1] = {static_cast<int>(frame.stride)};
    m_av->sws_scale(m_scale, planes, strides, 0, codedHeight, m_frame->data, m_frame->linesize);
    m_frame->pts = m_frames++;
    code = m_av->avcodec_send_frame(m_codec, m_frame);
    if (code < 0)
        return AvFailed("the encoder refused a frame", code);
    return Drain(false);
}

bool Mp4Writer::Finish()
{
    if (!m_format || !m_codec)
        return Fail("the movie is not open");
    const int code = m_av->avcodec_send_frame(m_codec, nullptr);
    if (code < 0)
        return AvFailed("the encoder cannot finish", code);
    if (!Drain(true))
        return false;
    const int trailer = m_av->av_write_trailer(m_format);
    if (trailer < 0)
        return AvFailed("cannot finish " + m_path, trailer);
    const int closed = m_av->avio_closep(&m_format->pb);
    Release();
    if (closed < 0) {
        Abandon();
        return FailWrite(m_path);
    }
    return true;
}

void Mp4Writer::Abandon()
{
    Release();
    if (m_opened)
        RemoveOutput(m_path);
    m_opened = false;
}

} // namespace Core
