#include <gtest/gtest.h>

#include "BmpBuilder.h"

using namespace korveltest;

namespace {

// Entry 0 is not black, so that pixels set to entry 0 differ from a zeroed block.
std::vector<Rgb> Palette16()
{
    std::vector<Rgb> p;
    for (int i = 0; i < 16; ++i)
        p.push_back({static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(100 + i), static_cast<std::uint8_t>(200 - i)});
    return p;
}

// Expected RGB bytes for rows of palette indices given top row first.
Bytes Expand(const std::vector<std::vector<int>>& rows, const std::vector<Rgb>& palette)
{
    Bytes out;
    for (const auto& row : rows)
        for (int i : row)
            out.insert(out.end(), palette[static_cast<size_t>(i)].begin(), palette[static_cast<size_t>(i)].end());
    return out;
}

struct Decoded {
    int32_t result;
    int32_t width, height;
    Bytes rgb;
};

Decoded Decode(const Bytes& file)
{
    TempDir dir;
    WriteFile(dir.File("t.bmp"), file);
    Image image;
    Decoded d{BMPReadImage(dir.File("t.bmp").c_str(), &image), image.width, image.height, {}};
    EXPECT_EQ(image.bits, 8);
    EXPECT_EQ(image.channels, 3);
    if (d.result == 0)
        d.rgb = image.Head(static_cast<size_t>(image.width) * image.height * 3);
    else
        EXPECT_EQ(image.data, nullptr);
    return d;
}

} // namespace

TEST(BMP, TwentyFourBitRowsAreBottomUpBgrWithPadding)
{
    BmpLayout s;
    s.width = 2;
    s.height = 2;
    s.bpp = 24;
    s.pixels = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 255, 0};
    const Decoded d = Decode(MakeBmp(s));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.rgb, Bytes({0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0}));
}

TEST(BMP, UncompressedDepths)
{
    const std::vector<Rgb> pal = Palette16();
    struct Case {
        const char* name;
        std::uint32_t w, h;
        std::uint16_t bpp;
        Bytes pixels;
        Bytes expected;
    };
    const Case cases[] = {
        // Bits of the last byte past the width are ignored; each row carries 3 padding bytes.
        {"1 bit, 3 wide", 3, 2, 1, {0xA7, 0, 0, 0, 0x5F, 0, 0, 0}, Expand({{0, 1, 0}, {1, 0, 1}}, pal)},
        {"4 bits, odd width", 3, 1, 4, {0x12, 0x3F, 0, 0}, Expand({{1, 2, 3}}, pal)},
        {"8 bits, 5 wide", 5, 2, 8, {1, 2, 3, 4, 5, 9, 9, 9, 6, 7, 8, 9, 10, 9, 9, 9},
         Expand({{6, 7, 8, 9, 10}, {1, 2, 3, 4, 5}}, pal)},
        {"8 bits, last row's padding missing", 5, 2, 8, {1, 2, 3, 4, 5, 9, 9, 9, 6, 7, 8, 9, 10},
         Expand({{6, 7, 8, 9, 10}, {1, 2, 3, 4, 5}}, pal)},
        {"32 bits, fourth byte ignored", 2, 1, 32, {1, 2, 3, 99, 4, 5, 6, 98}, {3, 2, 1, 6, 5, 4}},
    };
    for (const Case& c : cases) {
        BmpLayout s;
        s.width = c.w;
        s.height = c.h;
        s.bpp = c.bpp;
        s.palette = c.bpp <= 8 ? std::vector<Rgb>(pal.begin(), pal.begin() + (1 << std::min<int>(c.bpp, 4))) : std::vector<Rgb>();
        s.pixels = c.pixels;
        const Decoded d = Decode(MakeBmp(s));
        EXPECT_EQ(d.result, 0) << c.name;
        EXPECT_EQ(d.rgb, c.expected) << c.name;
    }
}

TEST(BMP, HeaderVariants)
{
    const std::vector<Rgb> pal = Palette16();
    BmpLayout base;
    base.width = 2;
    base.height = 1;
    base.bpp = 8;
    base.palette = pal;
    base.pixels = {3, 1, 0, 0};
    const Bytes expected = Expand({{3, 1}}, pal);

    BmpLayout big = base;
    big.bigEndian = true;
    EXPECT_EQ(Decode(MakeBmp(big)).rgb, expected) << "big-endian header";

    BmpLayout os2 = base;
    os2.headerSize = 12;
    EXPECT_EQ(Decode(MakeBmp(os2)).rgb, expected) << "OS/2 header with 3-byte palette";

    BmpLayout zeroUsed = base;
    zeroUsed.bpp = 1;
    zeroUsed.palette = {pal[4], pal[5]};
    zeroUsed.coloursUsed = 0; // two entries for one bit per pixel
    zeroUsed.pixels = {0x40, 0, 0, 0};
    EXPECT_EQ(Decode(MakeBmp(zeroUsed)).rgb, Expand({{4, 5}}, pal)) << "colours used 0";

    BmpLayout oversize = base;
    oversize.palette.resize(300, Rgb{1, 1, 1});
    EXPECT_EQ(Decode(MakeBmp(oversize)).rgb, expected) << "entries past 256 are skipped";

    BmpLayout gap = base;
    gap.offset = 14 + 40 + 64 + 10; // pixel data some way after the palette
    EXPECT_EQ(Decode(MakeBmp(gap)).rgb, expected) << "data offset after the palette";

    BmpLayout shortPalette = base;
    shortPalette.palette = {pal[0], pal[1]};
    shortPalette.pixels = {1, 7, 0, 0};
    EXPECT_EQ(Decode(MakeBmp(shortPalette)).rgb, Bytes({pal[1][0], pal[1][1], pal[1][2], 0, 0, 0}))
        << "an index past the palette is black";
}

TEST(BMP, Refusals)
{
    struct Case {
        const char* name;
        BmpLayout layout;
        int32_t result;
    };
    BmpLayout ok;
    ok.width = 2;
    ok.height = 2;
    ok.bpp = 24;
    ok.pixels = Bytes(16, 7);
    auto with = [&](auto change) {
        BmpLayout s = ok;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"header size 108", with([](BmpLayout& s) { s.headerSize = 108; }), -1},
        {"header size 64", with([](BmpLayout& s) { s.headerSize = 64; }), -1},
        {"16 bits per pixel", with([](BmpLayout& s) { s.bpp = 16; }), -1},
        {"2 bits per pixel", with([](BmpLayout& s) { s.bpp = 2; }), -1},
        {"bit fields", with([](BmpLayout& s) { s.bpp = 32; s.compression = 3; }), -1},
        {"RLE8 on a 24-bit picture", with([](BmpLayout& s) { s.compression = 1; }), -1},
        {"RLE4 on an 8-bit picture", with([](BmpLayout& s) { s.bpp = 8; s.compression = 2; }), -1},
        {"top-down", with([](BmpLayout& s) { s.height = static_cast<std::uint32_t>(-2); }), -1},
        {"negative width", with([](BmpLayout& s) { s.width = 0x80000001u; }), -1},
        {"zero width", with([](BmpLayout& s) { s.width = 0; }), -1},
        {"data offset inside the header", with([](BmpLayout& s) { s.offset = 20; }), -1},
        {"pixel data short", with([](BmpLayout& s) { s.pixels.resize(13); }), -2},
        {"no pixel data", with([](BmpLayout& s) { s.pixels.clear(); }), -2},
        {"block too large to allocate", with([](BmpLayout& s) { s.width = 3000000; s.height = 2000000; }), -3},
        {"block overflows", with([](BmpLayout& s) { s.width = 0x7FFFFFFF; s.height = 0x7FFFFFFF; }), -3},
    };
    const size_t open = OpenFileCount();
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(MakeBmp(c.layout)).result, c.result) << c.name;
    }
    EXPECT_EQ(OpenFileCount(), open) << "every path closes its file";
    EXPECT_EQ(Decode(Bytes({'B', 'M', 1, 2, 3})).result, -1) << "header cut short";
    EXPECT_EQ(Decode(Bytes({'B', 'A', 0, 0})).result, -4) << "bitmap array";
    EXPECT_EQ(Decode(Bytes()).result, -4) << "empty file";
}

struct RleCase {
    const char* name;
    std::uint32_t w, h;
    Bytes stream;
    int32_t result;
    std::vector<std::vector<int>> rows; // top row first
};

void CheckRle(const RleCase& c, std::uint16_t bpp)
{
    const std::vector<Rgb> pal = Palette16();
    BmpLayout s;
    s.width = c.w;
    s.height = c.h;
    s.bpp = bpp;
    s.compression = bpp == 8 ? 1 : 2;
    s.palette = pal;
    s.pixels = c.stream;
    const Decoded d = Decode(MakeBmp(s));
    EXPECT_EQ(d.result, c.result) << c.name;
    if (c.result == 0) {
        EXPECT_EQ(d.rgb, Expand(c.rows, pal)) << c.name;
    }
}

TEST(BMP, RunLength8)
{
    const RleCase cases[] = {
        {"encoded run then end of bitmap", 4, 2, {3, 7, 0, 0, 0, 1}, 0, {{0, 0, 0, 0}, {7, 7, 7, 0}}},
        {"rows filled exactly, each followed by end of line", 4, 3, {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 1}, 0,
         {{3, 3, 3, 3}, {2, 2, 2, 2}, {1, 1, 1, 1}}},
        {"a run past the row end wraps to the next row", 4, 2, {6, 5, 0, 1}, 0, {{5, 5, 0, 0}, {5, 5, 5, 5}}},
        {"absolute run of 3 with a padding byte", 4, 1, {0, 3, 1, 2, 3, 0, 1, 9, 0, 1}, 0, {{1, 2, 3, 9}}},
        {"absolute run of 4 without padding", 4, 2, {0, 4, 1, 2, 3, 4, 0, 0, 2, 9, 0, 1}, 0,
         {{9, 9, 0, 0}, {1, 2, 3, 4}}},
        {"delta along the row", 6, 1, {0, 2, 4, 0, 1, 5, 0, 1}, 0, {{0, 0, 0, 0, 5, 0}}},
        {"delta up a row", 4, 2, {2, 1, 0, 2, 1, 1, 1, 5, 0, 1}, 0, {{0, 0, 0, 5}, {1, 1, 0, 0}}},
        {"delta to the top row", 2, 3, {0, 2, 1, 2, 1, 6}, 0, {{0, 6}, {0, 0}, {0, 0}}},
        {"delta above the top row", 2, 3, {0, 2, 0, 3, 1, 6, 0, 1}, -2, {}},
        {"data end before the end-of-bitmap marker", 4, 2, {2, 4}, 0, {{0, 0, 0, 0}, {4, 4, 0, 0}}},
        {"data end inside an absolute run", 4, 1, {0, 4, 1, 2}, 0, {{1, 2, 0, 0}}},
        {"data end inside a pair", 4, 1, {2, 4, 0}, 0, {{4, 4, 0, 0}}},
        {"pixels past the top are dropped", 2, 2, {255, 3, 0, 0, 0, 0, 0, 0, 4, 4, 0, 1}, 0, {{3, 3}, {3, 3}}},
        {"end of line past the last row", 2, 1, {0, 0, 0, 0, 2, 5, 0, 1}, 0, {{0, 0}}},
    };
    for (const RleCase& c : cases)
        CheckRle(c, 8);
}

TEST(BMP, RunLength4)
{
    const RleCase cases[] = {
        {"encoded run alternates high and low nibble", 5, 1, {5, 0x3A, 0, 1}, 0, {{3, 10, 3, 10, 3}}},
        {"absolute runs of 5 (padded) and 3 nibbles", 8, 1, {0, 5, 0x12, 0x34, 0x50, 0xFF, 0, 3, 0x67, 0x80, 0, 1},
         0, {{1, 2, 3, 4, 5, 6, 7, 8}}},
        {"end of line and delta", 3, 2, {2, 0x12, 0, 0, 0, 2, 2, 0, 1, 0x90, 0, 1}, 0, {{0, 0, 9}, {1, 2, 0}}},
        {"data end early", 3, 1, {1, 0xF0}, 0, {{15, 0, 0}}},
    };
    for (const RleCase& c : cases)
        CheckRle(c, 4);
}
