#include "BmpBuilder.h"

using namespace korveltest;

namespace {

// Entry 0 is not black, so that pixels set to entry 0 differ from a zeroed block.
const std::vector<Rgb> kPalette = [] {
    std::vector<Rgb> p;
    for (int i = 0; i < 16; ++i)
        p.push_back({static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(100 + i), static_cast<std::uint8_t>(200 - i)});
    return p;
}();

// Expected RGB bytes for rows of palette indices given top row first.
Bytes Expand(const std::vector<std::vector<int>>& rows)
{
    Bytes out;
    for (const auto& row : rows)
        for (int i : row)
            out.insert(out.end(), kPalette[static_cast<size_t>(i)].begin(), kPalette[static_cast<size_t>(i)].end());
    return out;
}

// A picture with as many palette entries as its depth allows, up to 16.
BmpLayout Layout(std::uint32_t w, std::uint32_t h, std::uint16_t bpp, Bytes pixels, std::uint32_t compression = 0)
{
    BmpLayout s;
    s.width = w;
    s.height = h;
    s.bpp = bpp;
    s.compression = compression;
    s.pixels = std::move(pixels);
    if (bpp <= 8)
        s.palette.assign(kPalette.begin(), kPalette.begin() + (1 << std::min<int>(bpp, 4)));
    return s;
}

template <class Change>
BmpLayout With(BmpLayout s, Change change)
{
    change(s);
    return s;
}

struct BmpCase {
    const char* name;
    BmpLayout layout;
    int32_t result;
    Bytes rgb;
};

void ExpectBmpReads(const std::vector<BmpCase>& cases)
{
    std::vector<FileCase> files;
    for (const BmpCase& c : cases)
        files.push_back({c.name, MakeBmp(c.layout), c.result, c.rgb});
    ExpectReads(BMPReadImage, files);
}

} // namespace

TEST(BMP, UncompressedDepthsAndHeaderForms)
{
    const BmpLayout two = Layout(2, 1, 8, {3, 1, 0, 0});
    const Bytes twoRgb = Expand({{3, 1}});
    ExpectBmpReads({
        // Bits of the last byte past the width are ignored; each row carries 3 padding bytes.
        {"1 bit, 3 wide", Layout(3, 2, 1, {0xA7, 0, 0, 0, 0x5F, 0, 0, 0}), 0, Expand({{0, 1, 0}, {1, 0, 1}})},
        {"4 bits, odd width", Layout(3, 1, 4, {0x12, 0x3F, 0, 0}), 0, Expand({{1, 2, 3}})},
        {"8 bits, 5 wide", Layout(5, 2, 8, {1, 2, 3, 4, 5, 9, 9, 9, 6, 7, 8, 9, 10, 9, 9, 9}), 0,
         Expand({{6, 7, 8, 9, 10}, {1, 2, 3, 4, 5}})},
        {"8 bits, last row's padding missing", Layout(5, 2, 8, {1, 2, 3, 4, 5, 9, 9, 9, 6, 7, 8, 9, 10}), 0,
         Expand({{6, 7, 8, 9, 10}, {1, 2, 3, 4, 5}})},
        {"24 bits, bottom-up BGR rows with padding", Layout(2, 2, 24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 255, 0}),
         0, {0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0}},
        {"32 bits, fourth byte ignored", Layout(2, 1, 32, {1, 2, 3, 99, 4, 5, 6, 98}), 0, {3, 2, 1, 6, 5, 4}},
        {"big-endian header", With(two, [](BmpLayout& s) { s.bigEndian = true; }), 0, twoRgb},
        {"OS/2 header with 3-byte palette", With(two, [](BmpLayout& s) { s.headerSize = 12; }), 0, twoRgb},
        {"entries past 256 are skipped", With(two, [](BmpLayout& s) { s.palette.resize(300, Rgb{1, 1, 1}); }), 0, twoRgb},
        {"data offset after the palette", With(two, [](BmpLayout& s) { s.offset = 14 + 40 + 64 + 10; }), 0, twoRgb},
        {"colours used 0: two entries for 1 bit",
         With(Layout(2, 1, 1, {0x40, 0, 0, 0}), [](BmpLayout& s) { s.palette = {kPalette[4], kPalette[5]}; s.coloursUsed = 0; }),
         0, Expand({{4, 5}})},
        {"an index past the palette is black", With(two, [](BmpLayout& s) { s.palette.resize(2); s.pixels = {1, 7, 0, 0}; }), 0,
         {kPalette[1][0], kPalette[1][1], kPalette[1][2], 0, 0, 0}},
    });
}

TEST(BMP, Refusals)
{
    const BmpLayout ok = Layout(2, 2, 24, Bytes(16, 7));
    auto with = [&](auto change) { return With(ok, change); };
    ExpectBmpReads({
        {"header size 108", with([](BmpLayout& s) { s.headerSize = 108; }), -1, {}},
        {"header size 64", with([](BmpLayout& s) { s.headerSize = 64; }), -1, {}},
        {"16 bits per pixel", with([](BmpLayout& s) { s.bpp = 16; }), -1, {}},
        {"2 bits per pixel", with([](BmpLayout& s) { s.bpp = 2; }), -1, {}},
        {"bit fields", with([](BmpLayout& s) { s.bpp = 32; s.compression = 3; }), -1, {}},
        {"RLE8 on a 24-bit picture", with([](BmpLayout& s) { s.compression = 1; }), -1, {}},
        {"RLE4 on an 8-bit picture", with([](BmpLayout& s) { s.bpp = 8; s.compression = 2; }), -1, {}},
        {"top-down", with([](BmpLayout& s) { s.height = static_cast<std::uint32_t>(-2); }), -1, {}},
        {"negative width", with([](BmpLayout& s) { s.width = 0x80000001u; }), -1, {}},
        {"zero width", with([](BmpLayout& s) { s.width = 0; }), -1, {}},
        {"data offset inside the header", with([](BmpLayout& s) { s.offset = 20; }), -1, {}},
        {"pixel data short", with([](BmpLayout& s) { s.pixels.resize(13); }), -2, {}},
        {"no pixel data", with([](BmpLayout& s) { s.pixels.clear(); }), -2, {}},
        {"block too large to allocate", with([](BmpLayout& s) { s.width = 3000000; s.height = 2000000; }), -3, {}},
        {"block overflows", with([](BmpLayout& s) { s.width = 0x7FFFFFFF; s.height = 0x7FFFFFFF; }), -3, {}},
    });
    ExpectReads(BMPReadImage, {{"header cut short", {'B', 'M', 1, 2, 3}, -1, {}},
                               {"bitmap array", {'B', 'A', 0, 0}, -4, {}},
                               {"empty file", {}, -4, {}}});
}

TEST(BMP, RunLength)
{
    auto rle8 = [](std::uint32_t w, std::uint32_t h, Bytes stream) { return Layout(w, h, 8, std::move(stream), 1); };
    auto rle4 = [](std::uint32_t w, std::uint32_t h, Bytes stream) { return Layout(w, h, 4, std::move(stream), 2); };
    ExpectBmpReads({
        {"encoded run then end of bitmap", rle8(4, 2, {3, 7, 0, 0, 0, 1}), 0, Expand({{0, 0, 0, 0}, {7, 7, 7, 0}})},
        {"rows filled exactly, each followed by end of line", rle8(4, 3, {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 1}), 0,
         Expand({{3, 3, 3, 3}, {2, 2, 2, 2}, {1, 1, 1, 1}})},
        {"a run past the row end wraps to the next row", rle8(4, 2, {6, 5, 0, 1}), 0, Expand({{5, 5, 0, 0}, {5, 5, 5, 5}})},
        {"absolute run of 3 with a padding byte", rle8(4, 1, {0, 3, 1, 2, 3, 0, 1, 9, 0, 1}), 0, Expand({{1, 2, 3, 9}})},
        {"absolute run of 4 without padding", rle8(4, 2, {0, 4, 1, 2, 3, 4, 0, 0, 2, 9, 0, 1}), 0,
         Expand({{9, 9, 0, 0}, {1, 2, 3, 4}})},
        {"delta along the row", rle8(6, 1, {0, 2, 4, 0, 1, 5, 0, 1}), 0, Expand({{0, 0, 0, 0, 5, 0}})},
        {"delta up a row", rle8(4, 2, {2, 1, 0, 2, 1, 1, 1, 5, 0, 1}), 0, Expand({{0, 0, 0, 5}, {1, 1, 0, 0}})},
        {"delta to the top row", rle8(2, 3, {0, 2, 1, 2, 1, 6}), 0, Expand({{0, 6}, {0, 0}, {0, 0}})},
        {"delta above the top row", rle8(2, 3, {0, 2, 0, 3, 1, 6, 0, 1}), -2, {}},
        {"data end before the end-of-bitmap marker", rle8(4, 2, {2, 4}), 0, Expand({{0, 0, 0, 0}, {4, 4, 0, 0}})},
        {"data end inside an absolute run", rle8(4, 1, {0, 4, 1, 2}), 0, Expand({{1, 2, 0, 0}})},
        {"data end inside a pair", rle8(4, 1, {2, 4, 0}), 0, Expand({{4, 4, 0, 0}})},
        {"pixels past the top are dropped", rle8(2, 2, {255, 3, 0, 0, 0, 0, 0, 0, 4, 4, 0, 1}), 0, Expand({{3, 3}, {3, 3}})},
        {"end of line past the last row", rle8(2, 1, {0, 0, 0, 0, 2, 5, 0, 1}), 0, Expand({{0, 0}})},
        {"4 bits: encoded run alternates high and low nibble", rle4(5, 1, {5, 0x3A, 0, 1}), 0, Expand({{3, 10, 3, 10, 3}})},
        {"4 bits: absolute runs of 5 (padded) and 3 nibbles",
         rle4(8, 1, {0, 5, 0x12, 0x34, 0x50, 0xFF, 0, 3, 0x67, 0x80, 0, 1}), 0, Expand({{1, 2, 3, 4, 5, 6, 7, 8}})},
        {"4 bits: end of line and delta", rle4(3, 2, {2, 0x12, 0, 0, 0, 2, 2, 0, 1, 0x90, 0, 1}), 0,
         Expand({{0, 0, 9}, {1, 2, 0}})},
        {"4 bits: data end early", rle4(3, 1, {1, 0xF0}), 0, Expand({{15, 0, 0}})},
    });
}
