#pragma once

#include <string>
#include <vector>

#include "MovieWriter.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace Core {

// MP4 through libavformat: H.264 (libx264 where libavcodec has it, else any H.264 encoder,
// else MPEG-4 part 2), 4:2:0, at the options' frame rate. Odd sizes are padded by one
// repeated row or column, as 4:2:0 needs even ones.
class Mp4Writer : public MovieWriter
{
public:
    ~Mp4Writer() override;
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override;
    void Abandon() override;
    // The encoder Begin chose ("libx264", "mpeg4", ...).
    const std::string& EncoderName() const { return m_encoderName; }

private:
    struct AvLibrary; // the libraries' functions, loaded with the first movie
    bool Drain(bool flush);
    bool AvFailed(const std::string& what, int code);
    void Release();

    const AvLibrary* m_av = nullptr;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVStream* m_stream = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scale = nullptr;
    int m_swsOrder = -1; // the pixel order m_scale converts from
    std::string m_path;
    std::string m_encoderName;
    int m_width = 0, m_height = 0;
    long long m_frames = 0;
    bool m_opened = false;
    std::vector<unsigned char> m_padded;
};

} // namespace Core
