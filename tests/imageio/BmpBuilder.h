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
    Bytes out = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}; // file size and reserved fields, ignored
    auto put = [&](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (s.bigEndian ? 8 * (size - 1 - i) : 8 * i)));
    };
    const bool os2 = s.headerSize == 12;
    const std::uint32_t entry = os2 ? 3 : 4;
    const auto offset = static_cast<std::uint32_t>(s.offset >= 0 ? s.offset : 14 + s.headerSize + entry * s.palette.size());
    put(offset, 4);
    put(s.headerSize, 4);
    put(s.width, os2 ? 2 : 4);
    put(s.height, os2 ? 2 : 4);
    put(1, 2);
    put(s.bpp, 2);
    if (!os2) {
        put(s.compression, 4);
        put(static_cast<std::uint32_t>(s.pixels.size()), 4);
        put(2835, 4);
        put(2835, 4);
        put(static_cast<std::uint32_t>(s.coloursUsed >= 0 ? s.coloursUsed : static_cast<long>(s.palette.size())), 4);
        // Later header forms carry more fields; zeros keep the layout honest.
        out.resize(14 + s.headerSize, 0);
    }
    for (const Rgb& c : s.palette) {
        out.insert(out.end(), {c[2], c[1], c[0]});
        if (!os2)
            out.push_back(0);
    }
    out.resize(std::max<size_t>(out.size(), offset), 0);
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

} // namespace korveltest
