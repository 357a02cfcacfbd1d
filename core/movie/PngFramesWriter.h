#pragma once

#include <deque>
#include <future>
#include <string>
#include <vector>

#include "MovieWriter.h"

namespace Core {

// A folder of numbered PNG frames (frame_000000.png, ...), RGB, 8 bits, written with zlib's
// fast run-length mode: frames are meant for another program to encode. Compressing and
// writing run on worker threads, a frame per core, so Add returns once the frame is copied.
class PngFramesWriter : public MovieWriter
{
public:
    bool Begin(const std::string& path, int width, int height, const MovieOptions& options) override;
    bool Add(const RgbaFrame& frame) override;
    bool Finish() override;
    void Abandon() override;
    ~PngFramesWriter() override { Wait(0); }

private:
    // Waits until at most `pending` frames are still being written; false when one failed.
    bool Wait(size_t pending);

    std::string m_folder;
    int m_width = 0, m_height = 0;
    bool m_madeFolder = false;
    std::vector<std::string> m_written;
    std::deque<std::future<std::string>> m_jobs; // each gives its error, empty on success
    size_t m_parallel = 1;
    struct Scratch
    {
        std::vector<unsigned char> raw; // filtered rows
        std::vector<unsigned char> png; // the file, at the front
    };
    std::vector<Scratch> m_scratch;     // one per job in flight
};

// The frame's rows as PNG wants them before compression: RGB, each row led by its filter byte.
void FilterPngRows(const RgbaFrame& frame, std::vector<unsigned char>& raw);
// How hard zlib works: a movie's frames take its run-length mode; a still picture its full
// matching at level 2, which on noisy pictures is 25-45 % smaller in about the same time.
enum class PngEffort { Frame, Still };
// A whole PNG file of `raw` (FilterPngRows of a width x height frame) at the front of `png`;
// returns its size, 0 when zlib fails.
size_t DeflatePng(const std::vector<unsigned char>& raw, int width, int height, std::vector<unsigned char>& png,
                  PngEffort effort = PngEffort::Frame);
// DeflatePng's file written to `file`; the error, or empty on success.
std::string WritePngFile(const std::vector<unsigned char>& raw, int width, int height, std::vector<unsigned char>& png,
                         const std::string& file, PngEffort effort);
// A whole frame as one PNG file; the error, or empty on success.
std::string WritePng(const RgbaFrame& frame, const std::string& file, PngEffort effort);

} // namespace Core
