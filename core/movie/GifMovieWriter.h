#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MovieWriter.h"

struct GifFileType;

namespace Core {

// An animated GIF (libgif) that loops forever: every frame with its own 256-colour palette
// from a median cut of its colours, and delays in hundredths of a second that add up to the
// frame rate over the whole movie.
class GifMovieWriter : public MovieWriter
{
public:
    ~GifMovieWriter() override;
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override;
    void Abandon() override;

private:
    bool GifFailed(const char* what);
    void Close();

    GifFileType* m_gif = nullptr;
    std::string m_path;
    int m_width = 0, m_height = 0;
    double m_fps = 10.0;
    long long m_frames = 0;
    std::vector<std::uint8_t> m_indices;
};

// A palette of at most 256 colours (r, g, b each) for the frame and each pixel's entry in it
// (`indices`, width * height); returns the number of colours.
int QuantizeFrame(const RgbaFrame& frame, std::vector<std::uint8_t>& palette, std::vector<std::uint8_t>& indices);

} // namespace Core
