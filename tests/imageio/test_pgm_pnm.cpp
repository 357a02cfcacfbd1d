#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "KorvelTestUtil.h"

using namespace korveltest;

namespace {

Bytes Concat(const std::string& text, const Bytes& tail)
{
    Bytes out(text.begin(), text.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

} // namespace

TEST(PGM, SixteenBitRoundTripStoresLeastSignificantByteFirst)
{
    TempDir dir;
    Image image;
    ASSERT_EQ(NewImage(3, 2, 16, &image), 0);
    const std::uint16_t samples[6] = {4660, 0, 65535, 1, 256, 40000};
    std::memcpy(image.data, samples, sizeof samples);
    ASSERT_EQ(PGMWriteImage(&image, dir.File("a.pgm").c_str()), 0);

    const Bytes expected = Concat("P5\n3 2\n65535\n", {0x34, 0x12, 0, 0, 0xFF, 0xFF, 1, 0, 0, 1, 0x40, 0x9C});
    EXPECT_EQ(ReadFile(dir.File("a.pgm")), expected);

    Image back;
    ASSERT_EQ(PGMReadImage(dir.File("a.pgm").c_str(), &back), 0);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.bits, 16);
    EXPECT_EQ(back.channels, 1);
    EXPECT_EQ(std::memcmp(back.data, samples, sizeof samples), 0);
}

TEST(PGM, EightBitRoundTrip)
{
    TempDir dir;
    Image image;
    ASSERT_EQ(NewImage(2, 2, 8, &image), 0);
    const std::uint8_t samples[4] = {0, 7, 128, 255};
    std::memcpy(image.data, samples, 4);
    ASSERT_EQ(PGMWriteImage(&image, dir.File("b.pgm").c_str()), 0);
    EXPECT_EQ(ReadFile(dir.File("b.pgm")), Concat("P5\n2 2\n255\n", {0, 7, 128, 255}));

    Image back;
    ASSERT_EQ(PGMReadImage(dir.File("b.pgm").c_str(), &back), 0);
    EXPECT_EQ(back.bits, 8);
    EXPECT_EQ(back.Head(4), Bytes(samples, samples + 4));
}

TEST(PGM, HeaderForms)
{
    struct Case {
        const char* name;
        Bytes file;
        int32_t result;
    };
    const Case cases[] = {
        {"comment between magic and size", Concat("P5\n# made by hand\n2 1\n255\n", {9, 8}), 0},
        {"comments before the magic and before maxval", Concat("#a\nP5\n2 1\n#b\n255\n", {9, 8}), 0},
        {"everything on the first line", Concat("P5 2 1 255\n", {9, 8}), -EINVAL},
        {"carriage return after the magic", Concat("P5\r\n2 1\n255\n", {9, 8}), -EINVAL},
        {"ASCII magic", Concat("P2\n2 1\n255\n", {9, 8}), -EINVAL},
        {"one number on the size line", Concat("P5\n2\n255\n", {9, 8}), -EINVAL},
        {"maxval 4095", Concat("P5\n2 1\n4095\n", {9, 8, 7, 6}), -ERANGE},
        {"maxval 256", Concat("P5\n2 1\n256\n", {9, 8, 7, 6}), -ERANGE},
        {"negative width", Concat("P5\n-2 1\n255\n", {9, 8}), -EINVAL},
        {"width beyond int", Concat("P5\n99999999999 1\n255\n", {9, 8}), -EINVAL},
        {"header ends after the size", Concat("P5\n2 1\n", {}), -EINVAL},
        {"empty file", Bytes(), -EINVAL},
        {"block too large to allocate", Concat("P5\n2147483647 2147483647\n65535\n", {1, 2}), -ENOMEM},
        {"data shorter than announced", Concat("P5\n2 2\n255\n", {1, 2, 3}), -EIO},
        {"16-bit data one byte short", Concat("P5\n1 1\n65535\n", {1}), -EIO},
    };
    TempDir dir;
    const size_t open = OpenFileCount();
    for (const Case& c : cases) {
        WriteFile(dir.File("h.pgm"), c.file);
        Image image;
        EXPECT_EQ(PGMReadImage(dir.File("h.pgm").c_str(), &image), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(image.width, 2) << c.name;
            EXPECT_EQ(image.Head(2), Bytes({9, 8})) << c.name;
        } else {
            EXPECT_EQ(image.data, nullptr) << c.name;
        }
    }
    EXPECT_EQ(OpenFileCount(), open) << "every path closes its file";
}

TEST(PGM, MissingFileGivesNegatedErrno)
{
    Image image;
    EXPECT_EQ(PGMReadImage("/nonexistent-folder/x.pgm", &image), -ENOENT);
    EXPECT_EQ(PGMWriteImage(&image, "/nonexistent-folder/x.pgm"), -EINVAL) << "record without a block";
    ASSERT_EQ(NewImage(1, 1, 8, &image), 0);
    EXPECT_EQ(PGMWriteImage(&image, "/nonexistent-folder/x.pgm"), -ENOENT);
}

TEST(PGM, RefusesToWriteDepthsItCannotDescribe)
{
    TempDir dir;
    Image image;
    ASSERT_EQ(NewImage(1, 1, 32, &image), 0);
    EXPECT_EQ(PGMWriteImage(&image, dir.File("c.pgm").c_str()), -EINVAL);
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.pgm")));
}

TEST(PGM, ReadsTheSharedGreyTwin)
{
    Image image;
    ASSERT_EQ(PGMReadImage(TestData("tiff/minisblack-1c-8b.pgm").c_str(), &image), 0);
    EXPECT_EQ(image.width, 157);
    EXPECT_EQ(image.height, 151);
    EXPECT_EQ(image.bits, 8);
}

// Portable anymaps read through BMPReadImage become 8-bit RGB.
struct PnmCase {
    const char* name;
    Bytes file;
    int32_t result;
    Bytes rgb; // expected pixels, top row first
};

TEST(PNM, FormsAndMaxvalScaling)
{
    const PnmCase cases[] = {
        {"P5 maxval 255 grey expands to (v, v, v)", Concat("P5\n2 1\n255\n", {0, 200}), 0, {0, 0, 0, 200, 200, 200}},
        {"P6 maxval 65535: 0xFFFF, 0x0000, 0x0100",
         Concat("P6\n1 1\n65535\n", {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}), 0, {255, 0, 0}},
        // ((v + 1) * 256) / 16 - 1: 15 -> 255, 7 -> 127, 0 -> 15.
        {"P2 maxval 15", Bytes({'P', '2', '\n', '3', ' ', '1', '\n', '1', '5', '\n', '1', '5', ' ', '7', ' ', '0', '\n'}),
         0, {255, 255, 255, 127, 127, 127, 15, 15, 15}},
        {"P3 with comments in the header", Concat("P3 # rgb\n# size next\n2 1 # w h\n255\n1 2 3\n4 5 6\n", {}), 0,
         {1, 2, 3, 4, 5, 6}},
        // maxval 1: 0 -> 127, 1 -> 255.
        {"P5 maxval 1", Concat("P5\n2 1\n1\n", {0, 1}), 0, {127, 127, 127, 255, 255, 255}},
        // maxval 65536 is allowed: 65535 -> (65536 * 256) / 65537 - 1 = 254.
        {"P5 maxval 65536", Concat("P5\n1 1\n65536\n", {0xFF, 0xFF}), 0, {254, 254, 254}},
        // maxval 1000, two-byte samples: 999 -> (1000 * 256) / 1001 - 1 = 254; 1 -> 0.
        {"P6 maxval 1000", Concat("P6\n1 1\n1000\n", {0x03, 0xE7, 0x00, 0x01, 0x03, 0xE8}), 0, {254, 0, 255}},
        {"P3 value above maxval", Concat("P3\n1 1\n255\n1 256 3\n", {}), -2, {}},
        {"P2 negative value", Concat("P2\n1 1\n255\n-1\n", {}), -2, {}},
        {"P2 letters instead of a value", Concat("P2\n1 1\n255\nxyz\n", {}), -2, {}},
        {"P2 too few values", Concat("P2\n2 1\n255\n7\n", {}), -2, {}},
        {"P5 short data", Concat("P5\n2 2\n255\n", {1, 2, 3}), -2, {}},
        {"P6 two-byte data short", Concat("P6\n1 1\n300\n", {0, 1, 0, 2, 0}), -2, {}},
        {"P5 binary value above maxval", Concat("P5\n1 1\n15\n", {16}), -2, {}},
        {"zero width", Concat("P5\n0 1\n255\n", {1}), -1, {}},
        {"maxval 0", Concat("P5\n1 1\n0\n", {1}), -1, {}},
        {"maxval 65537", Concat("P5\n1 1\n65537\n", {1, 1}), -1, {}},
        {"no whitespace after maxval", Concat("P5\n1 1\n255x", {1}), -1, {}},
        {"header cut short", Concat("P6\n1 1", {}), -1, {}},
        {"width beyond the record", Concat("P5\n4294967296 1\n255\n", {1}), -3, {}},
        {"block too large", Concat("P6\n2147483647 2147483647\n255\n", {1}), -3, {}},
        {"neither BMP nor PNM", Concat("GIF89a", {}), -4, {}},
        {"P4 bitmaps are not read", Concat("P4\n1 1\n", {0}), -4, {}},
        {"one byte", Concat("P", {}), -4, {}},
    };
    TempDir dir;
    const size_t open = OpenFileCount();
    for (const PnmCase& c : cases) {
        WriteFile(dir.File("p.pnm"), c.file);
        Image image;
        image.data = nullptr;
        EXPECT_EQ(BMPReadImage(dir.File("p.pnm").c_str(), &image), c.result) << c.name;
        EXPECT_EQ(image.bits, 8) << c.name;
        EXPECT_EQ(image.channels, 3) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(static_cast<size_t>(image.width) * image.height * 3, c.rgb.size()) << c.name;
            EXPECT_EQ(image.Head(c.rgb.size()), c.rgb) << c.name;
        } else {
            EXPECT_EQ(image.data, nullptr) << c.name;
        }
    }
    EXPECT_EQ(OpenFileCount(), open) << "every path closes its file";
}

TEST(PNM, MissingFileIsMinusOne)
{
    Image image;
    EXPECT_EQ(BMPReadImage("/nonexistent-folder/x.ppm", &image), -1);
    EXPECT_EQ(image.data, nullptr);
}

TEST(PNM, SharedTwinsMatchBetweenGreyAndColourReaders)
{
    // The netpbm renderings of the libtiff samples: the grey file through the PGM reader
    // and through the anymap reader must agree sample for sample.
    Image grey;
    ASSERT_EQ(PGMReadImage(TestData("tiff/minisblack-1c-8b.pgm").c_str(), &grey), 0);
    Image rgb;
    ASSERT_EQ(BMPReadImage(TestData("tiff/minisblack-1c-8b.pgm").c_str(), &rgb), 0);
    ASSERT_EQ(rgb.width, grey.width);
    ASSERT_EQ(rgb.height, grey.height);
    for (int i = 0; i < grey.width * grey.height; ++i) {
        ASSERT_EQ(rgb.Bytes8()[3 * i], grey.Bytes8()[i]) << i;
        ASSERT_EQ(rgb.Bytes8()[3 * i + 2], grey.Bytes8()[i]) << i;
    }
    Image colour;
    ASSERT_EQ(BMPReadImage(TestData("tiff/rgb-3c-8b.ppm").c_str(), &colour), 0);
    EXPECT_EQ(colour.width, 157);
    EXPECT_EQ(colour.height, 151);
}
