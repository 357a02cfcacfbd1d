#include <cerrno>

#include "KorvelTestUtil.h"

using namespace korveltest;

TEST(PGM, RoundTripStoresLeastSignificantByteFirst)
{
    struct Case { int32_t bits; std::vector<std::uint32_t> samples; Bytes file; };
    const Case cases[] = {
        {16, {4660, 0, 65535, 1, 256, 40000}, Text("P5\n3 2\n65535\n", {0x34, 0x12, 0, 0, 0xFF, 0xFF, 1, 0, 0, 1, 0x40, 0x9C})},
        {8, {0, 7, 128, 255, 1, 2}, Text("P5\n3 2\n255\n", {0, 7, 128, 255, 1, 2})},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Image image;
        ASSERT_EQ(NewImage(3, 2, c.bits, &image), 0);
        for (size_t i = 0; i < c.samples.size(); ++i)
            image.Set(i, c.samples[i]);
        ASSERT_EQ(PGMWriteImage(&image, dir.File("a.pgm").c_str()), 0);
        EXPECT_EQ(ReadFile(dir.File("a.pgm")), c.file) << c.bits;
        Image back;
        ASSERT_EQ(PGMReadImage(dir.File("a.pgm").c_str(), &back), 0);
        EXPECT_EQ(std::make_tuple(back.width, back.height, back.bits, back.channels), std::make_tuple(3, 2, c.bits, 1));
        EXPECT_EQ(back.Head(back.Size()), image.Head(image.Size())) << c.bits;
    }
}

TEST(PGM, HeaderForms)
{
    ExpectReads(PGMReadImage, {
        {"comment between magic and size", Text("P5\n# made by hand\n2 1\n255\n", {9, 8}), 0, {9, 8}},
        {"comments before the magic and before maxval", Text("#a\nP5\n2 1\n#b\n255\n", {9, 8}), 0, {9, 8}},
        {"everything on the first line", Text("P5 2 1 255\n", {9, 8}), -EINVAL, {}},
        {"carriage return after the magic", Text("P5\r\n2 1\n255\n", {9, 8}), -EINVAL, {}},
        {"ASCII magic", Text("P2\n2 1\n255\n", {9, 8}), -EINVAL, {}},
        {"one number on the size line", Text("P5\n2\n255\n", {9, 8}), -EINVAL, {}},
        {"maxval 4095", Text("P5\n2 1\n4095\n", {9, 8, 7, 6}), -ERANGE, {}},
        {"maxval 256", Text("P5\n2 1\n256\n", {9, 8, 7, 6}), -ERANGE, {}},
        {"negative width", Text("P5\n-2 1\n255\n", {9, 8}), -EINVAL, {}},
        {"width beyond int", Text("P5\n99999999999 1\n255\n", {9, 8}), -EINVAL, {}},
        {"header ends after the size", Text("P5\n2 1\n"), -EINVAL, {}},
        {"empty file", {}, -EINVAL, {}},
        {"block too large to allocate", Text("P5\n2147483647 2147483647\n65535\n", {1, 2}), -ENOMEM, {}},
        {"data shorter than announced", Text("P5\n2 2\n255\n", {1, 2, 3}), -EIO, {}},
        {"16-bit data one byte short", Text("P5\n1 1\n65535\n", {1}), -EIO, {}},
    });
}

TEST(PGM, MissingFilesAndUnwritableRecords)
{
    TempDir dir;
    Image image;
    EXPECT_EQ(PGMReadImage("/nonexistent-folder/x.pgm", &image), -ENOENT);
    EXPECT_EQ(PGMWriteImage(&image, dir.File("a.pgm").c_str()), -EINVAL) << "record without a block";
    ASSERT_EQ(NewImage(1, 1, 8, &image), 0);
    EXPECT_EQ(PGMWriteImage(&image, "/nonexistent-folder/x.pgm"), -ENOENT);
    Image wide;
    ASSERT_EQ(NewImage(1, 1, 32, &wide), 0);
    EXPECT_EQ(PGMWriteImage(&wide, dir.File("b.pgm").c_str()), -EINVAL) << "no maxval describes 32 bits";
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "a refused write leaves no file";
}

// Portable anymaps read through BMPReadImage become 8-bit RGB.
TEST(PNM, FormsAndMaxvalScaling)
{
    ExpectReads(BMPReadImage, {
        {"P5 maxval 255 grey expands to (v, v, v)", Text("P5\n2 1\n255\n", {0, 200}), 0, {0, 0, 0, 200, 200, 200}},
        {"P6 maxval 65535: 0xFFFF, 0x0000, 0x0100", Text("P6\n1 1\n65535\n", {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}), 0, {255, 0, 0}},
        // ((v + 1) * 256) / 16 - 1: 15 -> 255, 7 -> 127, 0 -> 15.
        {"P2 maxval 15", Text("P2\n3 1\n15\n15 7 0\n"), 0, {255, 255, 255, 127, 127, 127, 15, 15, 15}},
        {"P3 with comments in the header", Text("P3 # rgb\n# size next\n2 1 # w h\n255\n1 2 3\n4 5 6\n"), 0, {1, 2, 3, 4, 5, 6}},
        // maxval 1: 0 -> 127, 1 -> 255.
        {"P5 maxval 1", Text("P5\n2 1\n1\n", {0, 1}), 0, {127, 127, 127, 255, 255, 255}},
        // maxval 65536 is allowed: 65535 -> (65536 * 256) / 65537 - 1 = 254.
        {"P5 maxval 65536", Text("P5\n1 1\n65536\n", {0xFF, 0xFF}), 0, {254, 254, 254}},
        // maxval 1000, two-byte samples: 999 -> (1000 * 256) / 1001 - 1 = 254; 1 -> 0.
        {"P6 maxval 1000", Text("P6\n1 1\n1000\n", {0x03, 0xE7, 0x00, 0x01, 0x03, 0xE8}), 0, {254, 0, 255}},
        {"P3 value above maxval", Text("P3\n1 1\n255\n1 256 3\n"), -2, {}},
        {"P2 negative value", Text("P2\n1 1\n255\n-1\n"), -2, {}},
        {"P2 letters instead of a value", Text("P2\n1 1\n255\nxyz\n"), -2, {}},
        {"P2 too few values", Text("P2\n2 1\n255\n7\n"), -2, {}},
        {"P5 short data", Text("P5\n2 2\n255\n", {1, 2, 3}), -2, {}},
        {"P6 two-byte data short", Text("P6\n1 1\n300\n", {0, 1, 0, 2, 0}), -2, {}},
        {"P5 binary value above maxval", Text("P5\n1 1\n15\n", {16}), -2, {}},
        {"zero width", Text("P5\n0 1\n255\n", {1}), -1, {}},
        {"maxval 0", Text("P5\n1 1\n0\n", {1}), -1, {}},
        {"maxval 65537", Text("P5\n1 1\n65537\n", {1, 1}), -1, {}},
        {"no whitespace after maxval", Text("P5\n1 1\n255x", {1}), -1, {}},
        {"header cut short", Text("P6\n1 1"), -1, {}},
        {"width beyond the record", Text("P5\n4294967296 1\n255\n", {1}), -3, {}},
        {"block too large", Text("P6\n2147483647 2147483647\n255\n", {1}), -3, {}},
        {"neither BMP nor PNM", Text("GIF89a"), -4, {}},
        {"P4 bitmaps are not read", Text("P4\n1 1\n", {0}), -4, {}},
        {"one byte", Text("P"), -4, {}},
    });
    Image image;
    EXPECT_EQ(BMPReadImage("/nonexistent-folder/x.ppm", &image), -1);
    EXPECT_EQ(image.data, nullptr);
}

// The netpbm renderings of the libtiff samples, through the grey and the anymap readers.
TEST(PNM, SharedTwinsReadAsNetpbmWroteThem)
{
    const Bytes grey = NetpbmPixels(TestData("tiff/minisblack-1c-8b.pgm"), 157 * 151);
    const Bytes rgb = NetpbmPixels(TestData("tiff/rgb-3c-8b.ppm"), 157 * 151 * 3);
    ASSERT_FALSE(grey.empty() || rgb.empty());
    Bytes greyRgb;
    for (std::uint8_t v : grey)
        greyRgb.insert(greyRgb.end(), {v, v, v});
    struct Case { ReadFn reader; const char* file; const Bytes& expected; };
    for (const Case& c : {Case{PGMReadImage, "minisblack-1c-8b.pgm", grey}, Case{BMPReadImage, "minisblack-1c-8b.pgm", greyRgb},
                          Case{BMPReadImage, "rgb-3c-8b.ppm", rgb}}) {
        Image image;
        ASSERT_EQ(c.reader(TestData(std::string("tiff/") + c.file).c_str(), &image), 0) << c.file;
        ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(157, 151)) << c.file;
        EXPECT_TRUE(image.Head(image.Size()) == c.expected) << c.file;
    }
}
