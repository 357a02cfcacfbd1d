#include "TiffFile.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Diagnostics.h"
#include "MemoryBudget.h"
#include "Progress.h"
#include "StopToken.h"

namespace ImageReader {

namespace {

// The views address a plane with 32-bit sizes; a page of several channels may be larger.
// Below these, the memory budget decides (MayAllocate).
constexpr size_t kMaxPageBytes = size_t(16) << 30;
constexpr size_t kMaxPages = size_t(1) << 24;
// Tiles may be larger than a small page, but not by more than this: one made-up tile must
// not make a tiny file cost gigabytes.
constexpr std::uint64_t kMaxSpareTileBytes = std::uint64_t(64) << 20;
// The page table is polled for a stop request and counted as progress in steps of this many pages.
constexpr size_t kPageStep = 1024;

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
    if (!field || !TIFFFieldPassCount(field))
        return nullptr;
    // The type of a tag libtiff does not know is the file's own number, which need not be
    // one of the enumeration's values: compared as a number.
    const int type = static_cast<int>(TIFFFieldDataType(field));
    if (std::none_of(types.begin(), types.end(), [type](TIFFDataType t) { return static_cast<int>(t) == type; }))
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

// libtiff's file access through a read buffer: walking a chain of 100 000 page directories
// costs a few large reads instead of a seek and two small reads per page. No mapping of
// the file (a file cut short would fault); large reads (strips, tiles) bypass the buffer.
struct TiffFile::Io
{
    static constexpr size_t kBuffer = size_t(256) << 10;
    static constexpr size_t kAhead = size_t(4) << 10;
    int fd = -1;
    size_t ahead = kAhead;
    std::uint64_t pos = 0;
    std::uint64_t bufferStart = 0;
    size_t bufferLength = 0;
    std::unique_ptr<unsigned char[]> buffer{new unsigned char[kBuffer]};

    ~Io()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Bytes [at, at + bytes) of the file; fewer where the file ends.
    size_t ReadAt(std::uint64_t at, void* out, size_t bytes)
    {
        if (at > static_cast<std::uint64_t>(INT64_MAX))
            return 0;
        if (bytes >= kBuffer) {
            const ssize_t got = ::pread(fd, out, bytes, static_cast<off_t>(at));
            return got > 0 ? static_cast<size_t>(got) : 0;
        }
        if (at < bufferStart || at + bytes > bufferStart + bufferLength) {
            // Reads that follow each other (a chain of adjacent directories) fetch more and
            // more ahead; a jump (over a page's samples) fetches little.
            const bool onward = at >= bufferStart && at <= bufferStart + bufferLength + kAhead;
            ahead = onward ? std::min(kBuffer, ahead * 2) : kAhead;
            const ssize_t got = ::pread(fd, buffer.get(), std::max(ahead, bytes), static_cast<off_t>(at));
            bufferStart = at;
            bufferLength = got > 0 ? static_cast<size_t>(got) : 0;
        }
        const size_t have = at >= bufferStart && at - bufferStart < bufferLength ? bufferLength - (at - bufferStart) : 0;
        const size_t n = std::min(bytes, have);
        if (n)
            std::memcpy(out, buffer.get() + (at - bufferStart), n);
        return n;
    }

    static tmsize_t Read(thandle_t handle, void* out, tmsize_t bytes)
    {
        auto* io = static_cast<Io*>(handle);
        const size_t n = io->ReadAt(io->pos, out, static_cast<size_t>(bytes));
        io->pos += n;
        return static_cast<tmsize_t>(n);
    }
    static tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t Seek(thandle_t handle, toff_t offset, int whence)
    {
        auto* io = static_cast<Io*>(handle);
        if (whence == SEEK_SET)
            io->pos = offset;
        else if (whence == SEEK_CUR)
            io->pos += offset;
        else
            io->pos = Size(handle) + offset;
        return io->pos;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t handle)
    {
        struct stat st {};
        return ::fstat(static_cast<Io*>(handle)->fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
    }
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}
};

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
        const std::uint64_t pass = static_cast<std::uint64_t>(l.PlaneBytes()) * (l.planar ? 1 : l.samples);
        if (tw == 0 || th == 0)
            error = "the TIFF tiles have no size";
        else if (static_cast<std::uint64_t>(TIFFTileSize64(tif)) > std::max(pass, kMaxSpareTileBytes))
            error = "the TIFF tiles (" + std::to_string(tw) + " x " + std::to_string(th) + ") are far larger than the page (" +
                    std::to_string(l.width) + " x " + std::to_string(l.height) + ")";
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
    // Errors while opening become Open's reason; errors while reading a page are said once,
    // with the page that could not be read (ReportDamaged).
    if (file->m_opening || error) {
        if (error && file->m_lastError.empty())
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
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                        static_cast<tmsize_t>(std::min<size_t>({kMaxPageBytes, MemoryBudget(), PTRDIFF_MAX})));
    m_io = std::make_unique<Io>();
    m_io->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_io->fd >= 0)
        m_tif = TIFFClientOpenExt(path.c_str(), "rm", m_io.get(), &Io::Read, &Io::Write, &Io::Seek, &Io::Close, &Io::Size,
                                  &Io::Map, &Io::Unmap, options.get());
    if (m_tif)
        TIFFSetFileno(m_tif, m_io->fd);
    if (!m_tif) {
        if (m_lastError.empty() && m_io->fd < 0)
            m_lastError = std::strerror(errno);
        m_io.reset();
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
    // A page is decoded whole (all samples) next to its plane of display values.
    const size_t pageBytes = m_layout.PlaneBytes() * m_layout.samples;
    if (!MayAllocate(pageBytes + m_layout.PlaneSamples() * sizeof(std::uint16_t), "a page of this TIFF", &error)) {
        Close();
        return false;
    }
    m_offsets.push_back(TIFFCurrentDirOffset(m_tif));
    m_lastError.clear();
    std::string shortBy;
    if (allPages && !ReadPageTable(shortBy)) {
        error = "opening was cancelled";
        Close();
        return false;
    }
    m_current = m_offsets.size() == 1 ? 0 : SIZE_MAX;
    m_opening = false;
    // A broken link in the page chain ends the stack there; the user learns why it is short.
    if (!shortBy.empty() && m_reported->insert(shortBy).second)
        ReportDiagnostic(m_name + ": " + shortBy + "; only the first " + std::to_string(m_offsets.size()) +
                         " pages are shown");
    return true;
}

// The page table: offsets of the full-resolution pages, so that reading page k later costs
// one directory read, however far into the file it is. Reduced-resolution pages (previews)
// are left out. Only each directory's entry count, its subfile type and its link to the
// next are read (libtiff would read and check every tag of every page): a file of 100 000
// pages takes a fraction of a second, and a stop request ends the walk.
bool TiffFile::ReadPageTable(std::string& shortBy)
{
    const auto read = [this](std::uint64_t at, void* out, size_t bytes) { return m_io->ReadAt(at, out, bytes) == bytes; };
    unsigned char order[2] = {};
    if (!read(0, order, 2))
        return true;
    const bool bigEndian = order[0] == 'M';
    const auto number = [bigEndian](const unsigned char* at, size_t bytes) {
        std::uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(at[i]) << (8 * (bigEndian ? bytes - 1 - i : i));
        return v;
    };
    const bool big = TIFFIsBigTIFF(m_tif) != 0;
    const size_t countBytes = big ? 8 : 2, entryBytes = big ? 20 : 12, linkBytes = big ? 8 : 4;
    std::unordered_set<std::uint64_t> seen;
    std::vector<unsigned char> block;
    for (std::uint64_t at = m_offsets[0], visited = 0;; ++visited) {
        if (visited % kPageStep == kPageStep - 1) {
            if (StopRequested())
                return false;
            AddProgress(kPageStep);
        }
        unsigned char head[8];
        std::uint64_t entries = 0;
        if (!read(at, head, countBytes) || (entries = number(head, countBytes)) > 0xFFFF ||
            !(block.resize(entries * entryBytes + linkBytes), read(at + countBytes, block.data(), block.size()))) {
            shortBy = "a page directory is damaged or lies outside the file";
            return true;
        }
        if (visited > 0) {
            // New subfile type (tag 254, a LONG held in the entry) marks previews.
            bool preview = false;
            for (std::uint64_t e = 0; e < entries; ++e) {
                const unsigned char* entry = block.data() + e * entryBytes;
                const std::uint64_t tag = number(entry, 2);
                if (tag >= TIFFTAG_SUBFILETYPE) {
                    preview = tag == TIFFTAG_SUBFILETYPE && (number(entry + (big ? 12 : 8), 4) & FILETYPE_REDUCEDIMAGE);
                    break;
                }
            }
            if (!preview && m_offsets.size() >= kMaxPages) {
                shortBy = "the file has more pages than this viewer takes";
                return true;
            }
            if (!preview)
                m_offsets.push_back(at);
        }
        seen.insert(at);
        at = number(block.data() + entries * entryBytes, linkBytes);
        if (at == 0)
            return true;
        if (seen.count(at)) {
            shortBy = "the pages link back to an earlier page";
            return true;
        }
    }
}

TiffFile::TiffFile() = default;

TiffFile::~TiffFile()
{
    Close();
}

void TiffFile::Close()
{
    if (m_tif)
        TIFFClose(m_tif);
    m_tif = nullptr;
    m_io.reset();
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
    // Every page read starts from the file as it is now, not as the buffer last saw it.
    if (m_io)
        m_io->bufferLength = 0;
    if (!Select(page)) {
        ReportDamaged(page);
        return false;
    }
    if (page == 0)
        return true;
    std::string error;
    const TiffLayout here = ReadLayout(m_tif, error);
    return error.empty() && here.SameShape(m_layout) && here.planar == m_layout.planar && here.tiled == m_layout.tiled;
}

bool TiffFile::ReadPage(size_t page, unsigned char* out)
{
    std::memset(out, 0, m_layout.PlaneBytes() * m_layout.samples);
    if (!SelectLike(page))
        return false;
    if (Decode(out))
        return true;
    ReportDamaged(page);
    return false;
}

void TiffFile::ReportDamaged(size_t page)
{
    // One message per reader, whatever the number of pages, strips or tiles that fail.
    const std::string cause = m_lastError.empty() ? std::string() : " (" + m_lastError + ")";
    m_lastError.clear();
    if (m_reported->insert("\x01" "damaged page").second)
        ReportDiagnostic(m_name + ": page " + std::to_string(page) + " is damaged or cut short" + cause +
                         "; pages that cannot be read in full are shown black and read as missing.");
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
            if (!m_mapping->StillHolds(static_cast<size_t>(offset), bytes)) {
                ReportDamaged(page);
                return ImageSlice<std::uint16_t>();
            }
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
        ReportDamaged(page);
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
        if (!MayAllocate(static_cast<size_t>(blockSize), "a TIFF tile or strip", &m_lastError))
            return false;
        block.reset(new (std::nothrow) unsigned char[static_cast<size_t>(blockSize)]);
        if (!block)
            return false;
    }
    // A block that cannot be decoded in full (damaged, or cut off by the end of the file)
    // makes the page missing: zeros where its data is gone would read as real values.
    for (size_t s = 0; s < passes; ++s) {
        for (size_t y0 = 0; y0 < H; y0 += bh) {
            const size_t rows = std::min<size_t>(bh, H - y0);
            for (size_t x0 = 0; x0 < W; x0 += bw) {
                const size_t cols = std::min<size_t>(bw, W - x0);
                const auto x = static_cast<std::uint32_t>(x0), y = static_cast<std::uint32_t>(y0);
                const auto sample = static_cast<std::uint16_t>(s);
                tmsize_t got;
                size_t wanted = rows * rowBytes;
                if (direct) {
                    unsigned char* at = out + s * planeBytes + y0 * W * bytes;
                    got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, y, sample), at, static_cast<tmsize_t>(wanted));
                } else if (l.tiled) {
                    got = TIFFReadEncodedTile(m_tif, TIFFComputeTile(m_tif, x, y, 0, sample), block.get(), blockSize);
                    wanted = static_cast<size_t>(blockSize);
                } else {
                    got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, y, sample), block.get(), blockSize);
                }
                if (got <= 0 || static_cast<size_t>(got) < wanted)
                    return false;
                if (direct)
                    continue;
                for (size_t r = 0; r < rows; ++r)
                    scatter(block.get() + r * rowBytes, out + s * planeBytes, (y0 + r) * W + x0, cols, interleaved,
                            bytes, planeBytes);
            }
        }
    }
    // Korvel shows min-is-white files the right way round; so do these readers.
    if (l.photometric == PHOTOMETRIC_MINISWHITE && !IsSigned(l.type))
        for (size_t i = 0; i < planeBytes * l.samples; ++i)
            out[i] = static_cast<unsigned char>(~out[i]);
    return true;
}

} // namespace ImageReader
