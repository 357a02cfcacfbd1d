#pragma once

#include <gtest/gtest.h>
#include <tiffio.h>

#include "KorvelTestUtil.h"

namespace korveltest {

// libtiff's own warnings would mix with the lines the tests compare.
inline const bool kLibtiffQuiet = (TIFFSetErrorHandler(nullptr), TIFFSetWarningHandler(nullptr), true);

struct TiffLayout
{
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint16_t bits = 8;
    std::uint16_t samples = 1;
    int photometric = PHOTOMETRIC_MINISBLACK; // -1: tag left out
    std::uint32_t rowsPerStrip = 0;           // 0: one strip
    int stripsWritten = -1;                   // -1: all strips
    std::uint32_t tile = 0;                   // non-zero: tiled with this edge
};

// Writes a TIFF with plain libtiff calls, independently of the library under test.
inline void WriteTiff(const std::string& path, const TiffLayout& s, const Bytes& pixels)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (s.photometric >= 0)
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> map(std::size_t{1} << s.bits, 0);
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    const std::size_t row = std::size_t{s.width} * s.samples * s.bits / 8;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        Bytes tile(std::size_t{s.tile} * s.tile * s.samples * s.bits / 8, 0);
        for (std::uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t)
            TIFFWriteEncodedTile(tif, t, tile.data(), static_cast<tmsize_t>(tile.size()));
    } else {
        const std::uint32_t rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
        const std::uint32_t strips = (s.height + rps - 1) / rps;
        const std::uint32_t written = s.stripsWritten >= 0 ? static_cast<std::uint32_t>(s.stripsWritten) : strips;
        for (std::uint32_t i = 0; i < written; ++i) {
            const std::uint32_t rows = std::min(rps, s.height - i * rps);
            TIFFWriteEncodedStrip(tif, i, const_cast<std::uint8_t*>(pixels.data()) + i * rps * row,
                                  static_cast<tmsize_t>(rows * row));
        }
    }
    TIFFClose(tif);
}

template <class T>
Bytes AsBytes(const std::vector<T>& samples)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(samples.data());
    return Bytes(p, p + samples.size() * sizeof(T));
}

} // namespace korveltest
