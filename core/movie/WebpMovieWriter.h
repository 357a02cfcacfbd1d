#pragma once

#include <string>

#include "MovieWriter.h"

struct WebPAnimEncoder;

namespace Core {

// An animated WebP (libwebp's animation encoder, lossy at the options' quality) that loops
// forever. The encoder assembles the file in memory; it is written at Finish.
class WebpMovieWriter : public MovieWriter
{
public:
    ~WebpMovieWriter() override;
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override;
    void Abandon() override;

private:
    int TimestampMs(long long frame) const;

    WebPAnimEncoder* m_encoder = nullptr;
    std::string m_path;
    int m_width = 0, m_height = 0;
    double m_fps = 10.0;
    int m_quality = 90;
    long long m_frames = 0;
    bool m_written = false;
};

} // namespace Core
