#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ImageSlice.h"
#include "MappedFile.h"
#include "SampleType.h"
#include "TiffDescription.h"

struct tiff;

namespace ImageReader {

// How one TIFF page stores its pixels, as far as the readers care.
struct TiffLayout
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 1; // samples per pixel; delivered as a channel dimension
    SampleType type = SampleType::UInt16;
    bool planar = false; // one plane per sample rather than interleaved samples
    bool tiled = false;
    std::uint16_t photometric = 0;
    // Resolution in pixels per centimetre (0 when absent or not in centimetres, e.g. inches).
    double xPerCm = 0.0, yPerCm = 0.0;
    // Resolution in pixels per "unit" for files without a resolution unit (ImageJ writes those).
    double xPerUnit = 0.0, yPerUnit = 0.0;
    std::string description;
    // ImageJ's private tags (ranges, lookup tables); read from the first page only.
    ImageJMetadata imagej;

    size_t PlaneSamples() const { return static_cast<size_t>(width) * height; }
    size_t PlaneBytes() const { return PlaneSamples() * SampleBytes(type); }
    bool SameShape(const TiffLayout& o) const
    {
        return width == o.width && height == o.height && samples == o.samples && type == o.type;
    }
};

// One open TIFF file: its page table, the layout of its pages and the reading of a page's
// samples. libtiff's messages are collected per file: errors while opening become the
// reason Open gives; everything else reaches ReportDiagnostic once per file and message.
class TiffFile
{
public:
    TiffFile() = default;
    ~TiffFile() { Close(); }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    // Messages already reported, shared by every file of a reader so that a series repeats
    // none of them; by default each file has its own.
    void ShareReported(std::shared_ptr<std::set<std::string>> reported) { m_reported = std::move(reported); }

    // Opens the file and records the offset of every full-resolution page, so that a page is
    // found later without walking the directory chain. `allPages` false stops after the first.
    bool Open(const std::string& path, bool allPages, std::string& error);
    void Close();
    bool IsOpen() const { return m_tif != nullptr; }

    size_t Pages() const { return m_offsets.size(); }
    // Layout of page 0, checked to be readable (Open fails otherwise).
    const TiffLayout& Layout() const { return m_layout; }

    // Reads every sample of page `page` into `out` (Layout().PlaneBytes() per sample, one
    // plane after another, native byte order). Parts that cannot be decoded stay zero.
    // False when the page differs from page 0 or nothing of it could be read.
    bool ReadPage(size_t page, unsigned char* out);
    // Page `page` as one plane of 16-bit display values, for files of single-sample 16-bit
    // unsigned pages (empty for others). The plane borrows the file's own bytes from a
    // memory mapping when they are exactly what decoding would give (uncompressed, native
    // byte order, one run of bytes at an even offset); otherwise it is decoded. Empty when
    // the page cannot be read.
    ImageSlice<std::uint16_t> ReadPlane16(size_t page);
    // Gives back the pages of the mapping planes are borrowed from (MappedFile::ReleasePages).
    void ReleaseMappedPages() const
    {
        if (m_mapping)
            m_mapping->ReleasePages();
    }

private:
    bool Select(size_t page);
    // Select, then check that the page can be read with page 0's layout.
    bool SelectLike(size_t page);
    // ReadPage on the selected page.
    bool Decode(unsigned char* out);
    // Offset of the selected page's samples when the file holds them as one run of bytes
    // inside its first `fileSize` bytes, stored exactly as decoding would deliver them.
    bool PlainRun(std::uint64_t fileSize, std::uint64_t& offset);
    static int OnMessage(struct tiff*, void* self, const char* module, const char* fmt, va_list ap, bool error);
    static int OnError(struct tiff*, void*, const char*, const char*, va_list);
    static int OnWarning(struct tiff*, void*, const char*, const char*, va_list);

    struct tiff* m_tif = nullptr;
    std::string m_name;
    std::vector<std::uint64_t> m_offsets;
    size_t m_current = SIZE_MAX; // page the handle's directory is on
    TiffLayout m_layout;
    std::shared_ptr<const MappedFile> m_mapping; // mapped at the first page that can borrow
    bool m_mappingFailed = false;
    bool m_opening = false;
    std::string m_lastError;
    std::shared_ptr<std::set<std::string>> m_reported = std::make_shared<std::set<std::string>>();
};

// The layout of the page `tif` is on; empty `error` when it can be read.
TiffLayout ReadLayout(struct tiff* tif, std::string& error);

} // namespace ImageReader
