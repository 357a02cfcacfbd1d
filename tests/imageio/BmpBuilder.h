#pragma once

#include <array>

#include "KorvelTestUtil.h"

namespace korveltest {

using Rgb = std::array<std::uint8_t, 3>;

// Writes BMP files field by field, independently of the decoder.
struct BmpLayout
{
    std::uint32_t headerSize = 40;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bpp = 8;
    std::uint32_t compression = 0;
    std::vector<Rgb> palette;
    long coloursUsed = -1; // -1: the palette's length
    Bytes pixels;
    bool bigEndian = false;
    long offset = -1; // -1: right after the palette
};

inline Bytes MakeBmp(const BmpLayout& s)
{
    Bytes out;
    auto put = [&](std::uint32_t v, int size, bool big) {
        for (int i = 0; i < size; ++i) {
            const int shift = big ? 8 * (size - 1 - i) : 8 * i;
            out.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    };
    const bool os2 = s.headerSize == 12;
    const std::uint32_t entry = os2 ? 3 : 4;
    const std::uint32_t offset = s.offset >= 0 ? static_cast<std::uint32_t>(s.offset)
                                               : 14 + s.headerSize + entry * static_cast<std::uint32_t>(s.palette.size());
    out.push_back('B');
    out.push_back('M');
    put(0, 4, false); // file size, ignored
    put(0, 4, false);
    put(offset, 4, s.bigEndian);
    put(s.headerSize, 4, s.bigEndian);
    if (os2) {
        put(s.width, 2, s.bigEndian);
        put(s.height, 2, s.bigEndian);
        put(1, 2, s.bigEndian);
        put(s.bpp, 2, s.bigEndian);
    } else {
        put(s.width, 4, s.bigEndian);
        put(s.height, 4, s.bigEndian);
        put(1, 2, s.bigEndian);
        put(s.bpp, 2, s.bigEndian);
        put(s.compression, 4, s.bigEndian);
        put(static_cast<std::uint32_t>(s.pixels.size()), 4, s.bigEndian);
        put(2835, 4, s.bigEndian);
        put(2835, 4, s.bigEndian);
        put(s.coloursUsed >= 0 ? static_cast<std::uint32_t>(s.coloursUsed) : static_cast<std::uint32_t>(s.palette.size()),
            4, s.bigEndian);
        put(0, 4, s.bigEndian);
        // Later header forms carry more fields; zeros keep the layout honest.
        while (out.size() < 14 + s.headerSize)
            out.push_back(0);
    }
    for (const Rgb& c : s.palette) {
        out.push_back(c[2]);
        out.push_back(c[1]);
        out.push_back(c[0]);
        if (!os2)
            out.push_back(0);
    }
    while (out.size() < offset)
        out.push_back(0);
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

} // namespace korveltest
