#pragma once

// Writes the TIFF files the reader tests open, with plain libtiff calls; and the small
// helpers both TIFF test programs share.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdlib.h>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "Vector.h"

namespace tifftest {

inline ImageReader::Vector V(std::initializer_list<int> values)
{
    ImageReader::Vector v;
    for (int x : values)
        v.push_back(x);
    return v;
}

// Collects the readers' diagnostics while it lives.
struct Messages
{
    std::vector<std::string> list;
    ImageReader::DiagnosticHandler previous;
    Messages() { previous = ImageReader::SetDiagnosticHandler([this](const std::string& m) { list.push_back(m); }); }
    ~Messages() { ImageReader::SetDiagnosticHandler(previous); }
};

// A fresh folder per test, removed afterwards.
class Folder
{
public:
    Folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumora-tiff-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

struct Page
{
    std::uint32_t width = 3, height = 2;
    std::uint16_t bits = 16;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t samples = 1;
    bool planar = false;
    std::uint32_t tile = 0; // edge of square tiles (a multiple of 16); 0: strips
    std::uint32_t rowsPerStrip = 1;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = 0; // 0: grey for one sample, RGB for three
    std::string description;       // first page only
    float xres = 0, yres = 0;
    std::uint16_t resolutionUnit = 0; // 0: no tag
};

// The value of sample s at (x, y) of page p.
using Formula = std::function<double(int p, int s, int x, int y)>;

namespace detail {
inline void store(unsigned char* at, const Page& g, double v)
{
    const auto put = [at](auto value) { std::memcpy(at, &value, sizeof value); };
    if (g.format == SAMPLEFORMAT_IEEEFP) {
        if (g.bits == 32)
            put(static_cast<float>(v));
        else
            put(v);
        return;
    }
    const bool s = g.format == SAMPLEFORMAT_INT;
    switch (g.bits) {
    case 8: s ? put(static_cast<std::int8_t>(v)) : put(static_cast<std::uint8_t>(v)); break;
    case 16: s ? put(static_cast<std::int16_t>(v)) : put(static_cast<std::uint16_t>(v)); break;
    case 32: s ? put(static_cast<std::int32_t>(v)) : put(static_cast<std::uint32_t>(v)); break;
    default: s ? put(static_cast<std::int64_t>(v)) : put(static_cast<std::uint64_t>(v)); break;
    }
}
} // namespace detail

inline void Write(const std::string& path, const Page& g, int pages, const Formula& value)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr) << path;
    const size_t b = g.bits / 8;
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, g.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, g.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, g.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, g.format);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, g.samples);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, g.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     g.photometric ? g.photometric : g.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, g.compression);
        if (g.tile) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, g.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, g.tile);
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, g.rowsPerStrip);
        }
        if (!g.description.empty() && p == 0)
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, g.description.c_str());
        if (g.xres > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, g.xres);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, g.yres);
        }
        if (g.resolutionUnit)
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, g.resolutionUnit);
        if (pages > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_PAGENUMBER, p, pages);
        }
        // Whole page in the file's own arrangement, then cut into strips or tiles.
        const size_t W = g.width, H = g.height, S = g.samples;
        const size_t rowBytes = W * (g.planar ? 1 : S) * b;
        const size_t passes = g.planar ? S : 1;
        std::vector<unsigned char> page(rowBytes * H * passes);
        for (size_t s = 0; s < S; ++s)
            for (size_t y = 0; y < H; ++y)
                for (size_t x = 0; x < W; ++x) {
                    const size_t at = g.planar ? (s * H + y) * rowBytes + x * b : y * rowBytes + (x * S + s) * b;
                    detail::store(&page[at], g, value(p, static_cast<int>(s), static_cast<int>(x), static_cast<int>(y)));
                }
        for (size_t s = 0; s < passes; ++s) {
            const unsigned char* plane = page.data() + s * rowBytes * H;
            if (g.tile) {
                const size_t T = g.tile, tileRow = T * (g.planar ? 1 : S) * b;
                std::vector<unsigned char> tile(tileRow * T);
                for (size_t ty = 0; ty < H; ty += T)
                    for (size_t tx = 0; tx < W; tx += T) {
                        std::fill(tile.begin(), tile.end(), 0);
                        for (size_t r = 0; r < T && ty + r < H; ++r)
                            std::memcpy(&tile[r * tileRow], plane + (ty + r) * rowBytes + tx * (tileRow / T),
                                        std::min(T, W - tx) * (tileRow / T));
                        TIFFWriteEncodedTile(tif,
                                             TIFFComputeTile(tif, static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty), 0,
                                                             static_cast<std::uint16_t>(s)),
                                             tile.data(), static_cast<tmsize_t>(tile.size()));
                    }
            } else {
                for (size_t y = 0; y < H; y += g.rowsPerStrip) {
                    const size_t rows = std::min<size_t>(g.rowsPerStrip, H - y);
                    TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, static_cast<std::uint32_t>(y), static_cast<std::uint16_t>(s)),
                                          const_cast<unsigned char*>(plane + y * rowBytes), static_cast<tmsize_t>(rows * rowBytes));
                }
            }
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif)) << path;
    }
    TIFFClose(tif);
}

// One single-page grey 16-bit file of w x h samples all equal to `value`.
inline void WriteFlat(const std::string& path, double value, std::uint32_t w = 3, std::uint32_t h = 2, std::uint16_t bits = 16)
{
    Page g;
    g.width = w;
    g.height = h;
    g.bits = bits;
    Write(path, g, 1, [value](int, int, int, int) { return value; });
}

} // namespace tifftest
