#include "TiffFile.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "Diagnostics.h"

namespace ImageReader {

namespace {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Small enough that a made-up header cannot slow the fuzzer down to a crawl.
constexpr size_t kMaxPageBytes = size_t(4) << 20;
constexpr size_t kMaxPages = 1024;
#else
// The views address a plane with 32-bit sizes; a page of several channels may be larger.
constexpr size_t kMaxPageBytes = size_t(16) << 30;
constexpr size_t kMaxPages = size_t(1) << 24;
#endif

// libtiff warnings about tags that do not change what is read; they would only fill the
// message boxes.
bool isCosmetic(const char* text)
{
    static const char* const kinds[] = {"undefined fillorder", "nknown field with tag", "ASCII value for tag",
                                        "tags are not sorted", "wrong data type", "Incorrect count for field",
                                        "Photometric type-related color channels"};
    for (const char* kind : kinds)
        if (std::strstr(text, kind))
            return true;
    return false;
}

bool sampleType(std::uint16_t format, std::uint16_t bits, SampleType& type)
{
    const bool isInt = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_VOID;
    const bool isSigned = format == SAMPLEFORMAT_INT;
    if (format == SAMPLEFORMAT_IEEEFP) {
        if (bits != 32 && bits != 64)
            return false;
        type = bits == 32 ? SampleType::Float32 : SampleType::Float64;
        return true;
    }
    if (!isInt)
        return false;
    switch (bits) {
    case 8: type = isSigned ? SampleType::Int8 : SampleType::UInt8; return true;
    case 16: type = isSigned ? SampleType::Int16 : SampleType::UInt16; return true;
    case 32: type = isSigned ? SampleType::Int32 : SampleType::UInt32; return true;
    case 64: type = isSigned ? SampleType::Int64 : SampleType::UInt64; return true;
    default: return false;
    }
}

// Copies `count` pixels of `samples` interleaved samples each into the planar output, one
// sample plane `planeBytes` apart, starting at pixel offset `at`.
template <size_t B>
void deinterleave(const unsigned char* in, unsigned char* out, size_t at, size_t count, size_t samples,
                  size_t planeBytes)
{
    for (size_t k = 0; k < samples; ++k) {
        unsigned char* o = out + k * planeBytes + at * B;
        const unsigned char* s = in + k * B;
        for (size_t i = 0; i < count; ++i)
            std::memcpy(o + i * B, s + i * samples * B, B);
    }
}

void scatter(const unsigned char* in, unsigned char* out, size_t at, size_t count, size_t samples, size_t bytes,
             size_t planeBytes)
{
    if (samples == 1) {
        std::memcpy(out + at * bytes, in, count * bytes);
        return;
    }
    switch (bytes) {
    case 1: deinterleave<1>(in, out, at, count, samples, planeBytes); break;
    case 2: deinterleave<2>(in, out, at, count, samples, planeBytes); break;
    case 4: deinterleave<4>(in, out, at, count, samples, planeBytes); break;
    default: deinterleave<8>(in, out, at, count, samples, planeBytes); break;
    }
}

// A tag libtiff does not know, read as the counted array it keeps it as; null when absent.
const void* unknownTag(TIFF* tif, std::uint32_t tag, std::initializer_list<TIFFDataType> types, std::uint32_t& count)
{
    count = 0;
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || std::find(types.begin(), types.end(), TIFFFieldDataType(field)) == types.end() ||
        !TIFFFieldPassCount(field))
        return nullptr;
    void* data = nullptr;
    if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
        if (!TIFFGetField(tif, tag, &count, &data))
            return nullptr;
    } else {
        std::uint16_t small = 0;
        if (!TIFFGetField(tif, tag, &small, &data))
            return nullptr;
        count = small;
    }
    return data;
}

// ImageJ's metadata block (tag 50839) with the byte counts of its parts (tag 50838).
ImageJMetadata readImageJMetadata(TIFF* tif)
{
    ImageJMetadata out;
    std::uint32_t bytes = 0, parts = 0;
    const void* data = unknownTag(tif, 50839, {TIFF_BYTE, TIFF_UNDEFINED}, bytes);
    const void* counts = unknownTag(tif, 50838, {TIFF_LONG}, parts);
    if (data && counts)
        ParseImageJMetadata(static_cast<const unsigned char*>(data), bytes, static_cast<const std::uint32_t*>(counts),
                            parts, out);
    return out;
}

} // namespace

TiffLayout ReadLayout(TIFF* tif, std::string& error)
{
    TiffLayout l;
    error.clear();
    std::uint16_t bits = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    l.planar = planar == PLANARCONFIG_SEPARATE && l.samples > 1;
    l.tiled = TIFFIsTiled(tif) != 0;

    if (l.width == 0 || l.height == 0 || l.width > INT_MAX || l.height > INT_MAX)
        error = "the image has no pixels or an impossible size (" + std::to_string(l.width) + " x " + std::to_string(l.height) + ")";
    else if (l.photometric == PHOTOMETRIC_PALETTE)
        error = "palette-colour TIFF (indexed colours) is not supported";
    else if (bits == 1)
        error = "1-bit (black and white) TIFF is not supported";
    else if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        error = "complex-valued TIFF samples are not supported";
    else if (!sampleType(format, bits, l.type))
        error = std::to_string(bits) + "-bit " + (format == SAMPLEFORMAT_IEEEFP ? "floating-point" : "integer") +
                " TIFF samples are not supported (8, 16, 32 or 64 bits are)";
    else if (!TIFFIsCODECConfigured(compression))
        error = "the TIFF compression scheme " + std::to_string(compression) + " is not available in this build";
    else if (l.samples == 0 || l.samples > 64)
        error = std::to_string(l.samples) + " samples per pixel are not supported";
    else if (l.photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && l.type == SampleType::UInt8)
        l.photometric = PHOTOMETRIC_RGB; // libtiff converts these to RGB on reading (see ReadPage)
    else if (l.photometric != PHOTOMETRIC_MINISBLACK && l.photometric != PHOTOMETRIC_MINISWHITE &&
             l.photometric != PHOTOMETRIC_RGB)
        error = "TIFF colour space " + std::to_string(l.photometric) + " is not supported (grey or RGB are)";
    if (error.empty() && (l.PlaneSamples() > static_cast<size_t>(INT_MAX) ||
                          l.PlaneBytes() > kMaxPageBytes / l.samples))
        error = "the TIFF page is too large (" + std::to_string(l.width) + " x " + std::to_string(l.height) + ")";
    if (error.empty() && l.tiled) {
        std::uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0)
            error = "the TIFF tiles have no size";
    }

    float xr = 0.0f, yr = 0.0f;
    std::uint16_t unit = 0;
    const bool hasUnit = TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) != 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr) && xr > 0 && yr > 0) {
        if (hasUnit && unit == RESUNIT_CENTIMETER) {
            l.xPerCm = xr;
            l.yPerCm = yr;
        } else if (!hasUnit || unit == RESUNIT_NONE) {
            l.xPerUnit = xr;
            l.yPerUnit = yr;
        }
    }
    const char* description = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description)
        l.description = description;
    return l;
}

int TiffFile::OnMessage(TIFF*, void* self, const char* module, const char* fmt, va_list ap, bool error)
{
    auto* file = static_cast<TiffFile*>(self);
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    if (!error && isCosmetic(text))
        return 1;
    if (file->m_opening) {
        if (error)
            file->m_lastError = text;
        return 1;
    }
    // A damaged file can fail once per strip or tile, each with its own text: a few say
    // enough, and the rest must not cost a message each.
    constexpr size_t kMaxReported = 16;
    if (file->m_reported->size() >= kMaxReported)
        return 1;
    std::string message = std::string(module ? module : "TIFF") + ": " + text;
    if (file->m_reported->insert(message).second)
        ReportDiagnostic(file->m_name + ": " + message);
    return 1;
}

int TiffFile::OnError(TIFF* tif, void* self, const char* module, const char* fmt, va_list ap)
{
    return OnMessage(tif, self, module, fmt, ap, true);
}

int TiffFile::OnWarning(TIFF* tif, void* self, const char* module, const char* fmt, va_list ap)
{
    return OnMessage(tif, self, module, fmt, ap, false);
}

bool TiffFile::Open(const std::string& path, bool allPages, std::string& error)
{
    Close();
    m_name = path;
    m_lastError.clear();
    m_opening = true;
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!options) {
        error = "out of memory";
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &TiffFile::OnError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &TiffFile::OnWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(std::min<size_t>(kMaxPageBytes, PTRDIFF_MAX)));
    m_tif = TIFFOpenExt(path.c_str(), "r", options.get());
    if (!m_tif) {
        error = m_lastError.empty() ? "not a readable TIFF file" : "not a readable TIFF file: " + m_lastError;
        m_opening = false;
        return false;
    }
    m_layout = ReadLayout(m_tif, error);
    if (!error.empty()) {
        Close();
        return false;
    }
    m_layout.imagej = readImageJMetadata(m_tif);
    // The page table: offsets of the full-resolution pages, so that reading page k later
    // costs one directory read, however far into the file it is. Reduced-resolution pages
    // (previews) are left out.
    m_offsets.push_back(TIFFCurrentDirOffset(m_tif));
    m_lastError.clear();
    while (allPages && m_offsets.size() < kMaxPages && TIFFReadDirectory(m_tif)) {
        std::uint32_t kind = 0;
        if (TIFFGetField(m_tif, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE))
            continue;
        m_offsets.push_back(TIFFCurrentDirOffset(m_tif));
    }
    m_current = m_offsets.size() == 1 ? 0 : SIZE_MAX;
    m_opening = false;
    // A broken link in the page chain ends the stack there; the user learns why it is short.
    if (!m_lastError.empty() && m_reported->insert(m_lastError).second)
        ReportDiagnostic(m_name + ": " + m_lastError + "; only the first " + std::to_string(m_offsets.size()) +
                         " pages are shown");
    return true;
}

void TiffFile::Close()
{
    if (m_tif)
        TIFFClose(m_tif);
    m_tif = nullptr;
    m_offsets.clear();
    m_current = SIZE_MAX;
    m_mapping.reset();
    m_mappingFailed = false;
}

bool TiffFile::Select(size_t page)
{
    if (!m_tif || page >= m_offsets.size())
        return false;
    if (page == m_current)
        return true;
    m_current = SIZE_MAX;
    if (!TIFFSetSubDirectory(m_tif, m_offsets[page]))
        return false;
    m_current = page;
    return true;
}

bool TiffFile::SelectLike(size_t page)
{
    if (!Select(page))
        return false;
    if (page == 0)
        return true;
    std::string error;
    const TiffLayout here = ReadLayout(m_tif, error);
    return error.empty() && here.SameShape(m_layout) && here.planar == m_layout.planar && here.tiled == m_layout.tiled;
}

bool TiffFile::ReadPage(size_t page, unsigned char* out)
{
    std::memset(out, 0, m_layout.PlaneBytes() * m_layout.samples);
    return SelectLike(page) && Decode(out);
}

ImageSlice<std::uint16_t> TiffFile::ReadPlane16(size_t page)
{
    const TiffLayout& l = m_layout;
    if (l.type != SampleType::UInt16 || l.samples != 1 || !SelectLike(page))
        return ImageSlice<std::uint16_t>();
    const Vector size(static_cast<int>(l.width), static_cast<int>(l.height));
    const size_t bytes = l.PlaneBytes();

    // Decoding inverts min-is-white pages (as page 0 says), so those are never borrowed.
    if (l.photometric != PHOTOMETRIC_MINISWHITE && !m_mappingFailed) {
        if (!m_mapping) {
            // The descriptor libtiff reads, so that the mapping is of the same file.
            std::string why;
            m_mapping = MappedFile::Open(TIFFFileno(m_tif), why);
            m_mappingFailed = !m_mapping;
        }
        std::uint64_t offset = 0;
        if (m_mapping && PlainRun(m_mapping->Size(), offset) &&
            reinterpret_cast<std::uintptr_t>(m_mapping->Data() + offset) % alignof(std::uint16_t) == 0) {
            // A file cut short since it was opened: libtiff's own mapping could not be read
            // there either, so the plane is missing.
            if (!m_mapping->StillHolds(static_cast<size_t>(offset), bytes))
                return ImageSlice<std::uint16_t>();
            return ImageSlice<std::uint16_t>::Borrow(
                size, reinterpret_cast<const std::uint16_t*>(m_mapping->Data() + offset), m_mapping);
        }
    }
    auto* out = static_cast<std::uint16_t*>(std::malloc(bytes));
    if (!out)
        return ImageSlice<std::uint16_t>();
    std::memset(out, 0, bytes);
    if (!Decode(reinterpret_cast<unsigned char*>(out))) {
        std::free(out);
        return ImageSlice<std::uint16_t>();
    }
    return ImageSlice<std::uint16_t>(size, out);
}

bool TiffFile::PlainRun(std::uint64_t fileSize, std::uint64_t& offset)
{
    std::uint16_t compression = 0, fill = 0;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_FILLORDER, &fill);
    if (compression != COMPRESSION_NONE || fill != FILLORDER_MSB2LSB || TIFFIsByteSwapped(m_tif))
        return false;
    // Blocks of `bh` full-width rows: strips, or tiles as wide as the page. libtiff reads a
    // strip's rows, or a whole tile; each block must hold that much inside the file, and
    // each block's rows must start where the previous block's rows end.
    const size_t W = m_layout.width, H = m_layout.height;
    const size_t rowBytes = W * SampleBytes(m_layout.type);
    std::uint32_t bw = m_layout.width, bh = 0;
    if (m_layout.tiled) {
        TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &bw);
        TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &bh);
        if (bw != W || bh == 0 || static_cast<std::uint64_t>(TIFFTileSize64(m_tif)) != bh * rowBytes)
            return false;
    } else {
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &bh);
        bh = std::min<std::uint32_t>(std::max<std::uint32_t>(bh, 1), m_layout.height);
        if (TIFFStripSize64(m_tif) != bh * rowBytes)
            return false;
    }
    const size_t blocks = (H + bh - 1) / bh;
    if (blocks > (m_layout.tiled ? TIFFNumberOfTiles(m_tif) : TIFFNumberOfStrips(m_tif)))
        return false;
    std::uint64_t next = 0;
    for (size_t b = 0; b < blocks; ++b) {
        const auto index = static_cast<std::uint32_t>(b);
        const std::uint64_t at = TIFFGetStrileOffset(m_tif, index);
        const std::uint64_t count = TIFFGetStrileByteCount(m_tif, index);
        const size_t rows = m_layout.tiled ? bh : std::min<size_t>(bh, H - b * bh);
        const std::uint64_t needed = rows * rowBytes;
        if (at == 0 || (b > 0 && at != next) || count < needed || count > fileSize || at > fileSize - count)
            return false;
        if (b == 0)
            offset = at;
        next = at + static_cast<std::uint64_t>(bh) * rowBytes;
    }
    return true;
}

bool TiffFile::Decode(unsigned char* out)
{
    const TiffLayout& l = m_layout;
    const size_t planeBytes = l.PlaneBytes();
    std::uint16_t compression = COMPRESSION_NONE, photometric = 0;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && TIFFGetField(m_tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
        photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(m_tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);

    const size_t bytes = SampleBytes(l.type);
    const size_t W = l.width, H = l.height;
    const size_t interleaved = l.planar ? 1 : l.samples; // samples per pixel in one block
    const size_t passes = l.planar ? l.samples : 1;
    bool any = false;
    constexpr size_t kMaxFailedBlocks = 256;
    size_t failed = 0;

    std::uint32_t bw = l.width, bh = 0; // block (tile or strip) size in pixels
    tmsize_t blockSize = 0;
    if (l.tiled) {
        TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &bw);
        TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &bh);
        blockSize = TIFFTileSize(m_tif);
    } else {
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &bh);
        bh = std::min<std::uint32_t>(std::max<std::uint32_t>(bh, 1), l.height);
        blockSize = TIFFStripSize(m_tif);
    }
    const size_t rowBytes = static_cast<size_t>(bw) * interleaved * bytes;
    if (blockSize <= 0 || rowBytes == 0 || static_cast<size_t>(blockSize) < rowBytes)
        return false;

    // Strips of one sample land in the output as they are; other blocks go through a buffer.
    const bool direct = !l.tiled && interleaved == 1;
    std::unique_ptr<unsigned char[]> block;
    if (!direct) {
        block.reset(new (std::nothrow) unsigned char[static_cast<size_t>(blockSize)]);
        if (!block)
            return false;
    }
    for (size_t s = 0; s < passes; ++s) {
        for (size_t y0 = 0; y0 < H; y0 += bh) {
            const size_t rows = std::min<size_t>(bh, H - y0);
            for (size_t x0 = 0; x0 < W; x0 += bw) {
                const size_t cols = std::min<size_t>(bw, W - x0);
                const auto x = static_cast<std::uint32_t>(x0), y = static_cast<std::uint32_t>(y0);
                const auto sample = static_cast<std::uint16_t>(s);
                tmsize_t got;
                if (direct) {
                    unsigned char* at = out + s * planeBytes + y0 * W * bytes;
                    got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, y, sample), at,
                                               static_cast<tmsize_t>(rows * rowBytes));
                } else if (l.tiled) {
                    got = TIFFReadEncodedTile(m_tif, TIFFComputeTile(m_tif, x, y, 0, sample), block.get(), blockSize);
                } else {
                    got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, y, sample), block.get(), blockSize);
                }
                if (got <= 0) {
                    // A page whose blocks keep failing is given up rather than tried block by
                    // block to the end (a tall page of one-row strips has tens of thousands).
                    if (++failed >= kMaxFailedBlocks && !any)
                        return false;
                    continue;
                }
                any = true;
                if (direct)
                    continue;
                // Only the rows the decoder delivered in full are used.
                const size_t full = std::min(rows, static_cast<size_t>(got) / rowBytes);
                for (size_t r = 0; r < full; ++r)
                    scatter(block.get() + r * rowBytes, out + s * planeBytes, (y0 + r) * W + x0, cols, interleaved,
                            bytes, planeBytes);
            }
        }
    }
    // Korvel shows min-is-white files the right way round; so do these readers.
    if (any && l.photometric == PHOTOMETRIC_MINISWHITE && !IsSigned(l.type))
        for (size_t i = 0; i < planeBytes * l.samples; ++i)
            out[i] = static_cast<unsigned char>(~out[i]);
    return any;
}

} // namespace ImageReader
