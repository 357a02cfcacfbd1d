#include "PngFramesWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

namespace Core {

namespace {

void Put32(unsigned char* out, unsigned long v)
{
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

// Completes the chunk whose data (`size` bytes) follows the length and type at `chunk`:
// writes the length and the CRC of type and data; returns the chunk's end.
unsigned char* EndChunk(unsigned char* chunk, size_t size)
{
    Put32(chunk, static_cast<unsigned long>(size));
    Put32(chunk + 8 + size, crc32_z(0L, chunk + 4, size + 4));
    return chunk + 12 + size;
}

} // namespace

void FilterPngRows(const RgbaFrame& frame, std::vector<unsigned char>& raw)
{
    const size_t row = static_cast<size_t>(frame.width) * 3 + 1;
    raw.resize(row * static_cast<size_t>(frame.height));
    // Filter "Sub" on every row: the difference to the left neighbour is small in pictures and
    // costs one pass, unlike trying all five filters per row. A row the same as the one above
    // (a picture enlarged) is "Up": all zeros, which the run-length mode all but removes.
    const size_t rowBytes = 4 * static_cast<size_t>(frame.width);
    for (int y = 0; y < frame.height; ++y) {
        unsigned char* r = raw.data() + row * static_cast<size_t>(y);
        const unsigned char* in = frame.bytes + static_cast<size_t>(y) * frame.stride;
        if (y > 0 && std::memcmp(in, in - frame.stride, rowBytes) == 0) {
            r[0] = 2;
            std::memset(r + 1, 0, row - 1);
            continue;
        }
        r[0] = 1;
        FrameRowToRgb(frame, y, r + 1);
        for (size_t i = row - 1; i > 3; --i)
            r[i] = static_cast<unsigned char>(r[i] - r[i - 3]);
    }
}

size_t DeflatePng(const std::vector<unsigned char>& raw, int width, int height, std::vector<unsigned char>& png,
                  PngEffort effort)
{
    z_stream z{};
    // Frames: run-length matching only, at twice the speed of the default, and still good at
    // the flat dark background of fluorescence images.
    const bool still = effort == PngEffort::Still;
    if (deflateInit2(&z, still ? 2 : 1, Z_DEFLATED, 15, 8, still ? Z_DEFAULT_STRATEGY : Z_RLE) != Z_OK)
        return 0;
    const size_t bound = deflateBound(&z, static_cast<uLong>(raw.size()));
    constexpr size_t kIdat = 8 + 25; // signature and IHDR chunk before it
    // Grown, never shrunk: a buffer reused frame after frame is not cleared or faulted in again.
    if (png.size() < kIdat + 12 + bound + 12)
        png.resize(kIdat + 12 + bound + 12);
    z.next_in = const_cast<unsigned char*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = png.data() + kIdat + 8;
    z.avail_out = static_cast<uInt>(bound);
    const int status = deflate(&z, Z_FINISH);
    const size_t deflated = z.total_out;
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        return 0;

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char* at = png.data();
    std::memcpy(at, signature, 8);
    at += 8;
    std::memcpy(at + 4, "IHDR", 4);
    Put32(at + 8, static_cast<unsigned long>(width));
    Put32(at + 12, static_cast<unsigned long>(height));
    const unsigned char rest[5] = {8, 2, 0, 0, 0}; // 8 bits, RGB, deflate, adaptive filters, no interlace
    std::memcpy(at + 16, rest, 5);
    at = EndChunk(at, 13);
    std::memcpy(at + 4, "IDAT", 4);
    at = EndChunk(at, deflated);
    std::memcpy(at + 4, "IEND", 4);
    at = EndChunk(at, 0);
    return static_cast<size_t>(at - png.data());
}

std::string WritePngFile(const std::vector<unsigned char>& raw, int width, int height, std::vector<unsigned char>& png,
                         const std::string& file, PngEffort effort)
{
    const size_t size = DeflatePng(raw, width, height, png, effort);
    if (size == 0)
        return "the PNG picture could not be compressed";
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file.c_str(), "wb"), &std::fclose);
    if (!f)
        return "cannot write " + file;
    if (std::fwrite(png.data(), 1, size, f.get()) != size || std::fclose(f.release()) != 0)
        return "cannot write " + file + " (disk full?)";
    return std::string();
}

std::string WritePng(const RgbaFrame& frame, const std::string& file, PngEffort effort)
{
    std::vector<unsigned char> raw, png;
    FilterPngRows(frame, raw);
    return WritePngFile(raw, frame.width, frame.height, png, file, effort);
}

bool PngFramesWriter::Begin(const std::string& path, int width, int height, const MovieOptions&)
{
    // PNG allows 2^31-1; the raw buffer must also fit zlib's 32-bit input count.
    if (!CheckSize(width, height, 1 << 30, "PNG"))
        return false;
    m_folder = path;
    m_width = width;
    m_height = height;
    // A frame per core, up to four: more would only hold more buffers while the disk writes.
    m_parallel = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    m_scratch.assign(m_parallel, Scratch());
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
        m_madeFolder = std::filesystem::create_directories(path, ec);
        if (ec || !std::filesystem::is_directory(path, ec))
            return Fail("cannot make the folder " + path);
    }
    return true;
}

bool PngFramesWriter::Add(const RgbaFrame& frame)
{
    if (!CheckFrame(true, frame, m_width, m_height) || !Wait(m_parallel - 1))
        return false;
    // The job that last used this slot's buffers was frame n - m_parallel, finished by Wait.
    Scratch& scratch = m_scratch[m_written.size() % m_parallel];
    FilterPngRows(frame, scratch.raw);
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06zu.png", m_written.size());
    const std::string file = (std::filesystem::path(m_folder) / name).string();
    m_written.push_back(file);
    const int width = m_width, height = m_height;
    m_jobs.push_back(std::async(std::launch::async, [&scratch, file, width, height] {
        return WritePngFile(scratch.raw, width, height, scratch.png, file, PngEffort::Frame);
    }));
    return true;
}

bool PngFramesWriter::Wait(size_t pending)
{
    bool ok = true;
    while (m_jobs.size() > pending) {
        const std::string error = m_jobs.front().get();
        m_jobs.pop_front();
        if (!error.empty() && ok) {
            Fail(error);
            ok = false;
        }
    }
    return ok;
}

bool PngFramesWriter::Finish()
{
    return Wait(0);
}

void PngFramesWriter::Abandon()
{
    Wait(0);
    for (const std::string& file : m_written)
        RemoveOutput(file);
    m_written.clear();
    std::error_code ec;
    if (m_madeFolder)
        std::filesystem::remove(m_folder, ec); // only when empty
}

} // namespace Core
