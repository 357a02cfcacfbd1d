#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MovieWriter.h"

namespace Core {

// Motion-JPEG in an AVI (RIFF) file with an idx1 index: every frame a baseline JPEG
// (libjpeg), the frame rate as an exact ratio. Plain AVI stays below 4 GiB; a longer movie is
// refused with a reason rather than written unreadable.
class AviMjpegWriter : public MovieWriter
{
public:
    ~AviMjpegWriter() override;
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override;
    void Abandon() override;

private:
    bool WriteHeaders(std::uint32_t frames, std::uint32_t moviBytes, std::uint32_t fileBytes);
    void Close();

    std::FILE* m_file = nullptr;
    std::string m_path;
    int m_width = 0, m_height = 0;
    std::uint32_t m_rate = 10, m_scale = 1;
    int m_quality = 90;
    std::uint64_t m_moviBytes = 4; // from the 'movi' tag on
    std::uint32_t m_largest = 0;
    struct Entry { std::uint32_t offset, size; };
    std::vector<Entry> m_index;
    std::vector<unsigned char> m_jpeg;
};

// The frame as a baseline JPEG of `quality` (libjpeg), replacing `jpeg`; false with a reason.
bool EncodeJpeg(const RgbaFrame& frame, int quality, std::vector<unsigned char>& jpeg, std::string& error);

} // namespace Core
