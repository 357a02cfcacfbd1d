#include "AviMjpegWriter.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <system_error>

namespace Core {

namespace {

// The header's layout: RIFF(12) LIST hdrl(12) avih(8+56) LIST strl(12) strh(8+56) strf(8+40)
// LIST movi(12), then the frame chunks.
constexpr std::uint32_t kHeaderBytes = 12 + 12 + 64 + 12 + 64 + 48 + 12;
constexpr std::uint64_t kMaxRiffBytes = 0xFFFFFFFFull;

void Put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void Put16(std::vector<unsigned char>& out, std::uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void PutTag(std::vector<unsigned char>& out, const char tag[4])
{
    out.insert(out.end(), tag, tag + 4);
}

struct JpegError
{
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo)
{
    JpegError* e = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

} // namespace

bool EncodeJpeg(const RgbaFrame& frame, int quality, std::vector<unsigned char>& jpeg, std::string& error)
{
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        error = std::string("JPEG: ") + err.message;
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(frame.width);
    cinfo.image_height = static_cast<JDIMENSION>(frame.height);
    // The 4-byte pixels go in as they are: no copy to RGB first.
    cinfo.input_components = 4;
    cinfo.in_color_space = frame.order == PixelOrder::RGBA ? JCS_EXT_RGBX : JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(frame.bytes + static_cast<size_t>(cinfo.next_scanline) * frame.stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg.assign(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return true;
}

AviMjpegWriter::~AviMjpegWriter()
{
    Close();
}

void AviMjpegWriter::Close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool AviMjpegWriter::Begin(const std::string& path, int width, int height, const MovieOptions& options)
{
    if (!CheckSize(width, height, 65500, "JPEG"))
        return false;
    m_path = path;
    m_width = width;
    m_height = height;
    m_quality = options.quality;
    // The rate as rate/scale in thousandths, reduced: 10 fps is 10/1, 29.97 is 2997/100.
    const std::uint32_t milli = static_cast<std::uint32_t>(std::llround(options.fps * 1000.0));
    const std::uint32_t g = std::gcd(milli, 1000u);
    m_rate = milli / g;
    m_scale = 1000u / g;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return Fail("cannot write " + path);
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
    return WriteHeaders(0, 4, kHeaderBytes - 8) || (Abandon(), false);
}

bool AviMjpegWriter::WriteHeaders(std::uint32_t frames, std::uint32_t moviBytes, std::uint32_t fileBytes)
{
    const std::uint32_t w = static_cast<std::uint32_t>(m_width), h = static_cast<std::uint32_t>(m_height);
    const std::uint32_t usPerFrame = static_cast<std::uint32_t>(std::llround(1e6 * m_scale / m_rate));
    std::vector<unsigned char> out;
    PutTag(out, "RIFF");
    Put32(out, fileBytes);
    PutTag(out, "AVI ");
    PutTag(out, "LIST");
    Put32(out, 4 + 64 + 12 + 64 + 48);
    PutTag(out, "hdrl");
    PutTag(out, "avih");
    Put32(out, 56);
    Put32(out, usPerFrame);
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(0xFFFFFFFFu, std::uint64_t(m_largest) * m_rate / m_scale)));
    Put32(out, 0);          // padding granularity
    Put32(out, 0x10);       // has an index
    Put32(out, frames);
    Put32(out, 0);          // initial frames
    Put32(out, 1);          // streams
    Put32(out, m_largest);  // suggested buffer size
    Put32(out, w);
    Put32(out, h);
    for (int i = 0; i < 4; ++i)
        Put32(out, 0);
    PutTag(out, "LIST");
    Put32(out, 4 + 64 + 48);
    PutTag(out, "strl");
    PutTag(out, "strh");
    Put32(out, 56);
    PutTag(out, "vids");
    PutTag(out, "MJPG");
    Put32(out, 0);          // flags
    Put16(out, 0);          // priority
    Put16(out, 0);          // language
    Put32(out, 0);          // initial frames
    Put32(out, m_scale);
    Put32(out, m_rate);
    Put32(out, 0);          // start
    Put32(out, frames);     // length
    Put32(out, m_largest);
    Put32(out, 0xFFFFFFFFu); // quality: default
    Put32(out, 0);          // sample size: varies
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(w));
    Put16(out, static_cast<std::uint16_t>(h));
    PutTag(out, "strf");
    Put32(out, 40);
    Put32(out, 40);
    Put32(out, w);
    Put32(out, h);
    Put16(out, 1);          // planes
    Put16(out, 24);         // bits per pixel once decoded
    PutTag(out, "MJPG");
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(0xFFFFFFFFu, std::uint64_t(w) * h * 3)));
    for (int i = 0; i < 4; ++i)
        Put32(out, 0);
    PutTag(out, "LIST");
    Put32(out, moviBytes);
    PutTag(out, "movi");
    if (std::fseek(m_file, 0, SEEK_SET) != 0 || std::fwrite(out.data(), 1, out.size(), m_file) != out.size())
        return Fail("cannot write " + m_path);
    return true;
}

bool AviMjpegWriter::Add(const RgbaFrame& frame)
{
    if (!CheckFrame(m_file != nullptr, frame, m_width, m_height))
        return false;
    std::string error;
    if (!EncodeJpeg(frame, m_quality, m_jpeg, error))
        return Fail(error);
    const std::uint32_t size = static_cast<std::uint32_t>(m_jpeg.size());
    const std::uint64_t padded = size + (size & 1u);
    // Room for this chunk, the index with its entry and the headers before 'movi'.
    const std::uint64_t after = kHeaderBytes + m_moviBytes - 4 + 8 + padded + 8 + 16 * (m_index.size() + 1);
    if (after > kMaxRiffBytes)
        return Fail("the AVI would pass 4 GiB; write MP4 or PNG frames for a movie this long");
    std::vector<unsigned char> head;
    PutTag(head, "00dc");
    Put32(head, size);
    if (std::fseek(m_file, 0, SEEK_END) != 0 || std::fwrite(head.data(), 1, 8, m_file) != 8 ||
        std::fwrite(m_jpeg.data(), 1, size, m_file) != size || (padded != size && std::fputc(0, m_file) == EOF))
        return FailWrite(m_path);
    m_index.push_back({static_cast<std::uint32_t>(m_moviBytes), size});
    m_moviBytes += 8 + padded;
    m_largest = std::max(m_largest, size);
    return true;
}

bool AviMjpegWriter::Finish()
{
    if (!m_file)
        return Fail("the movie is not open");
    std::vector<unsigned char> index;
    PutTag(index, "idx1");
    Put32(index, static_cast<std::uint32_t>(16 * m_index.size()));
    for (const Entry& e : m_index) {
        PutTag(index, "00dc");
        Put32(index, 0x10); // key frame
        Put32(index, e.offset);
        Put32(index, e.size);
    }
    const std::uint64_t fileBytes = kHeaderBytes + m_moviBytes - 4 + index.size() - 8;
    if (std::fseek(m_file, 0, SEEK_END) != 0 || std::fwrite(index.data(), 1, index.size(), m_file) != index.size() ||
        !WriteHeaders(static_cast<std::uint32_t>(m_index.size()), static_cast<std::uint32_t>(m_moviBytes),
                      static_cast<std::uint32_t>(fileBytes))) {
        Abandon();
        return FailWrite(m_path);
    }
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed) {
        Abandon();
        return FailWrite(m_path);
    }
    return true;
}

void AviMjpegWriter::Abandon()
{
    Close();
    RemoveOutput(m_path);
}

} // namespace Core
