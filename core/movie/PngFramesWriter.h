#pragma once

#include <string>
#include <vector>

#include "MovieWriter.h"

namespace Core {

// A folder of numbered PNG frames (frame_000000.png, ...), RGB, 8 bits, written with zlib
// at a fast level: frames are meant for another program to encode.
class PngFramesWriter : public MovieWriter
{
public:
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override { return true; }
    void Abandon() override;

private:
    std::string m_folder;
    int m_width = 0, m_height = 0;
    bool m_madeFolder = false;
    std::vector<std::string> m_written;
    std::vector<unsigned char> m_raw; // filtered rows, each led by its filter byte
};

// A whole PNG file of an RGB picture in `png`; false when zlib fails.
bool EncodePngRgb(const RgbaFrame& frame, std::vector<unsigned char>& raw, std::vector<unsigned char>& png);

} // namespace Core
