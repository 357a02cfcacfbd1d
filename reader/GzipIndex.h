#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ImageReader {

// Random access into a gzip (or zlib) stream that starts at a byte offset of a file. While
// the stream is decompressed forward, access points are recorded at deflate block
// boundaries at least `span` uncompressed bytes apart: the compressed position, down to
// the bit, and the 32 KiB window of output before it. A read then starts from the nearest
// point at or before it (or carries on from where the last read stopped, when that is
// closer), so reading backwards never goes back to the start once the stream has been
// read that far. Nothing is decompressed until the first read.
//
// Not thread-safe: the owner serialises reads.
class GzipIndex
{
public:
    // Null with `error` set when the file cannot be opened.
    static std::unique_ptr<GzipIndex> Open(const std::filesystem::path& path, std::uint64_t start, std::uint64_t span,
                                           std::string& error);
    ~GzipIndex();
    GzipIndex(const GzipIndex&) = delete;
    GzipIndex& operator=(const GzipIndex&) = delete;

    // Reads `bytes` uncompressed bytes from uncompressed offset `at`. False when the stream
    // ends or is damaged before they are all read.
    bool Read(std::uint64_t at, void* dest, size_t bytes);
    // Uncompressed bytes the stream is known to give: where decompression failed, or the
    // largest offset when it never has.
    std::uint64_t ReadableEnd() const { return m_failedAt; }
    size_t Points() const { return m_points.size(); }

private:
    struct Point
    {
        std::uint64_t out = 0;  // uncompressed offset
        std::uint64_t in = 0;   // offset (from the stream's start) of the first byte not wholly used
        int bits = 0;           // bits of the byte before `in` still to be used
        std::unique_ptr<unsigned char[]> window;
        unsigned windowBytes = 0;
    };

    GzipIndex() = default;
    // Puts the stream at `point`, or at the very start for null.
    bool Restart(const Point* point);
    // Decompresses `bytes` more bytes into `dest` (discarded when null), recording points.
    bool Advance(unsigned char* dest, size_t bytes);
    void Record();

    int m_fd = -1;
    std::uint64_t m_start = 0;
    std::uint64_t m_span = 0;
    z_stream m_z{};
    bool m_initialised = false;
    bool m_live = false;       // m_z is positioned at m_out
    std::uint64_t m_out = 0;   // uncompressed position of the stream
    std::uint64_t m_in = 0;    // next compressed byte to fetch, from the stream's start
    std::uint64_t m_failedAt = UINT64_MAX;
    std::vector<Point> m_points; // by increasing offset
    std::unique_ptr<unsigned char[]> m_input;
    std::unique_ptr<unsigned char[]> m_scratch;
};

} // namespace ImageReader
