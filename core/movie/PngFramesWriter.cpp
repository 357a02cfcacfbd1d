#include "PngFramesWriter.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace Core {

namespace {

void Put32(std::vector<unsigned char>& out, unsigned long v)
{
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

// Appends a chunk: length, type, data, CRC of type and data.
void PutChunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data, size_t size)
{
    Put32(out, static_cast<unsigned long>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, out.data() + start, 4);
    if (size > 0)
        crc = crc32_z(crc, data, size);
    Put32(out, crc);
}

} // namespace

bool EncodePngRgb(const RgbaFrame& frame, std::vector<unsigned char>& raw, std::vector<unsigned char>& png)
{
    const size_t row = static_cast<size_t>(frame.width) * 3 + 1;
    raw.resize(row * static_cast<size_t>(frame.height));
    // Filter "Sub" on every row: the difference to the left neighbour is small in pictures and
    // costs one pass, unlike trying all five filters per row.
    for (int y = 0; y < frame.height; ++y) {
        unsigned char* r = raw.data() + row * static_cast<size_t>(y);
        r[0] = 1;
        FrameRowToRgb(frame, y, r + 1);
        for (size_t i = row - 1; i > 3; --i)
            r[i] = static_cast<unsigned char>(r[i] - r[i - 3]);
    }
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    std::vector<unsigned char> deflated(deflateBound(&z, static_cast<uLong>(raw.size())));
    z.next_in = raw.data();
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = deflated.data();
    z.avail_out = static_cast<uInt>(deflated.size());
    const int status = deflate(&z, Z_FINISH);
    deflated.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        return false;

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    png.assign(signature, signature + 8);
    std::vector<unsigned char> header;
    Put32(header, static_cast<unsigned long>(frame.width));
    Put32(header, static_cast<unsigned long>(frame.height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, adaptive filters, no interlace
    PutChunk(png, "IHDR", header.data(), header.size());
    PutChunk(png, "IDAT", deflated.data(), deflated.size());
    PutChunk(png, "IEND", nullptr, 0);
    return true;
}

bool PngFramesWriter::Begin(const std::string& path, int width, int height, const MovieOptions&)
{
    // PNG allows 2^31-1; the raw buffer must also fit zlib's 32-bit input count.
    if (width <= 0 || height <= 0 || static_cast<double>(width) * 3 * height > 2e9)
        return Fail("frames of " + std::to_string(width) + " x " + std::to_string(height) + " cannot be written as PNG");
    m_folder = path;
    m_width = width;
    m_height = height;
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
    if (!CheckFrame(frame, m_width, m_height))
        return false;
    std::vector<unsigned char> png;
    if (!EncodePngRgb(frame, m_raw, png))
        return Fail("the PNG frame could not be compressed");
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06zu.png", m_written.size());
    const std::string file = (std::filesystem::path(m_folder) / name).string();
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file.c_str(), "wb"), &std::fclose);
    if (!f)
        return Fail("cannot write " + file);
    m_written.push_back(file);
    if (std::fwrite(png.data(), 1, png.size(), f.get()) != png.size() || std::fclose(f.release()) != 0)
        return Fail("cannot write " + file + " (disk full?)");
    return true;
}

void PngFramesWriter::Abandon()
{
    std::error_code ec;
    for (const std::string& file : m_written)
        std::filesystem::remove(file, ec);
    m_written.clear();
    if (m_madeFolder)
        std::filesystem::remove(m_folder, ec); // only when empty
}

} // namespace Core
