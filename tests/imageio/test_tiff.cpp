#include <tiffio.h>

#include "KorvelTestUtil.h"

using namespace korveltest;
using namespace testing::internal;

namespace {

// libtiff's own warnings would mix with the lines the tests compare.
[[maybe_unused]] const bool kLibtiffQuiet = (TIFFSetErrorHandler(nullptr), TIFFSetWarningHandler(nullptr), true);

const std::string kNoFillOrder = "Image has an undefined fillorder\n";
const std::string kBits = "Either undefined or unsupported number of bits per sample\n";
const std::string kSamples = "Either undefined or unsupported number of samples per pixel\n";
const std::string kStrip0 = "Read error on input strip number 0\n";

struct Output {
    int32_t result;
    std::string out, err;
};

// Runs a reader with both streams captured.
Output Read(ReadFn reader, const std::string& path, IMAGE* image)
{
    CaptureStdout();
    CaptureStderr();
    const int32_t result = reader(path.c_str(), image);
    return {result, GetCapturedStdout(), GetCapturedStderr()};
}

std::string Shared(const std::string& file)
{
    return TestData("tiff/" + file);
}

struct TiffLayout
{
    std::uint32_t width, height;
    std::uint16_t bits;
    int photometric;
    std::uint32_t rowsPerStrip = 0; // 0: one strip
    int stripsWritten = -1;         // -1: all strips
    std::uint32_t tile = 0;         // non-zero: tiled with this edge
};

// Writes a one-sample-per-pixel TIFF with plain libtiff calls, independently of the library under test.
void WriteTiff(const std::string& path, const TiffLayout& s, const Bytes& pixels)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> map(std::size_t{1} << s.bits, 0);
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    const std::size_t row = std::size_t{s.width} * s.bits / 8;
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        Bytes tile(std::size_t{s.tile} * s.tile * s.bits / 8, 0);
        for (std::uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t)
            TIFFWriteEncodedTile(tif, t, tile.data(), static_cast<tmsize_t>(tile.size()));
    } else {
        const std::uint32_t rps = s.rowsPerStrip ? s.rowsPerStrip : s.height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
        const std::uint32_t strips = s.stripsWritten >= 0 ? static_cast<std::uint32_t>(s.stripsWritten) : (s.height + rps - 1) / rps;
        for (std::uint32_t i = 0; i < strips; ++i)
            TIFFWriteEncodedStrip(tif, i, const_cast<std::uint8_t*>(pixels.data()) + i * rps * row,
                                  static_cast<tmsize_t>(std::min(rps, s.height - i * rps) * row));
    }
    TIFFClose(tif);
}

Bytes AsBytes(const std::vector<std::uint16_t>& samples)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(samples.data());
    return Bytes(p, p + samples.size() * 2);
}

// Reads every sample through plain libtiff scanlines, as an independent reference.
Bytes ScanlinePixels(const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    Bytes out;
    std::uint32_t h = 0;
    if (!tif || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
        return out;
    Bytes line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (std::uint32_t y = 0; y < h && TIFFReadScanline(tif, line.data(), y, 0) >= 0; ++y)
        out.insert(out.end(), line.begin(), line.end());
    TIFFClose(tif);
    return out;
}

} // namespace

TEST(TiffWrite, RoundTripKeepsSizeDepthAndSamples)
{
    TempDir dir;
    for (int bits : {8, 16, 32}) {
        Image image;
        ASSERT_EQ(NewImage(3, 2, bits, &image), 0);
        const std::uint32_t values[6] = {0, 1, 4660, 255, 65535, 70000};
        for (int i = 0; i < 6; ++i)
            image.Set(i, values[i]);
        const std::string path = dir.File("w.tif");
        ASSERT_EQ(SimpleTIFFWriteImage(&image, path.c_str()), 0);

        // The tags as libtiff sees them.
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint16_t spp = 0, photometric = 9, fill = 0, compression = 0;
        std::uint32_t rps = 0;
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tif, TIFFTAG_FILLORDER, &fill);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        EXPECT_EQ(std::make_tuple(spp, photometric, fill, compression, rps, TIFFNumberOfStrips(tif)),
                  std::make_tuple(1, PHOTOMETRIC_MINISBLACK, FILLORDER_MSB2LSB, COMPRESSION_NONE, 2u, 1u));
        TIFFClose(tif);

        Image back;
        const Output o = Read(SimpleTIFFReadImage, path, &back);
        ASSERT_EQ(o.result, 0) << bits;
        EXPECT_EQ(o.out + o.err, "") << "the writer sets every tag the reader asks for";
        EXPECT_EQ(std::make_tuple(back.width, back.height, back.bits, back.channels), std::make_tuple(3, 2, bits, 1));
        EXPECT_EQ(back.Head(back.Size()), image.Head(image.Size())) << bits;
    }
}

TEST(TiffWrite, FailureNamesOutputTifWhateverTheName)
{
    Image image;
    ASSERT_EQ(NewImage(2, 2, 8, &image), 0);
    CaptureStdout();
    EXPECT_EQ(SimpleTIFFWriteImage(&image, "/nonexistent-folder/other.tif"), 1);
    EXPECT_EQ(GetCapturedStdout(), "Could not open output.tif for writing\n");

    TempDir dir;
    Image empty;
    CaptureStdout();
    EXPECT_EQ(SimpleTIFFWriteImage(&empty, dir.File("e.tif").c_str()), 1) << "record without a block";
    EXPECT_NE(GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.tif")));
}

// Files written with plain libtiff calls through the grey reader.
TEST(TiffRead, HandMadeFiles)
{
    const std::string fixing = "Fixing the photometric interpretation\n";
    struct Case {
        const char* name;
        TiffLayout layout;
        Bytes pixels;
        int32_t result;
        std::string out, err;
        Bytes samples;
    };
    const Case cases[] = {
        {"white is zero, 8 bits", {3, 1, 8, PHOTOMETRIC_MINISWHITE}, {0, 10, 255}, 0, fixing, kNoFillOrder, {255, 245, 0}},
        {"white is zero, 16 bits", {3, 1, 16, PHOTOMETRIC_MINISWHITE}, AsBytes({0, 1000, 65535}), 0, fixing, kNoFillOrder,
         AsBytes({65535, 64535, 0})},
        // Only white-is-zero is inverted.
        {"separated", {2, 1, 8, PHOTOMETRIC_SEPARATED}, {3, 200}, 0, "", kNoFillOrder, {3, 200}},
        {"palette colour", {2, 1, 8, PHOTOMETRIC_PALETTE}, {3, 200}, 1, "", "Image is a palette-colour image\n", {}},
        {"strips that do not cover the image", {4, 4, 8, PHOTOMETRIC_MINISBLACK, 2, 1}, Bytes(16, 9), 1, "",
         "Read error on input strip number 1\n", {}},
        {"tiled", {32, 32, 8, PHOTOMETRIC_MINISBLACK, 0, -1, 16}, {}, 1, "", kStrip0, {}},
    };
    TempDir dir;
    const NoFileLeftOpen guard;
    for (const Case& c : cases) {
        WriteTiff(dir.File("t.tif"), c.layout, c.pixels);
        Image image;
        image.width = 11;
        const Output o = Read(SimpleTIFFReadImage, dir.File("t.tif"), &image);
        EXPECT_EQ(o.result, c.result) << c.name;
        EXPECT_EQ(o.out, c.out) << c.name;
        EXPECT_EQ(o.err, c.err) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(image.Head(image.Size()), c.samples) << c.name;
        } else {
            EXPECT_TRUE(image.width == 11 && image.data == nullptr) << c.name << ": a failure leaves the record alone";
        }
    }
}

TEST(TiffRead, FillOrderTwoReadsTheTrueSamples)
{
    TempDir dir;
    WriteTiff(dir.File("msb.tif"), {4, 1, 8, PHOTOMETRIC_MINISBLACK}, {0x01, 0x06, 0x80, 0xF0});
    const std::string lsb = dir.File("lsb.tif");
    if (std::system(("tiffcp -f lsb2msb " + dir.File("msb.tif") + " " + lsb + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";

    // On disk the bytes really are reversed: 0x01 -> 0x80, 0x06 -> 0x60.
    TIFF* tif = TIFFOpen(lsb.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint16_t fill = 0;
    EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_FILLORDER, &fill) && fill == FILLORDER_LSB2MSB);
    Bytes raw(4);
    EXPECT_EQ(TIFFReadRawStrip(tif, 0, raw.data(), 4), 4);
    TIFFClose(tif);
    EXPECT_EQ(raw, Bytes({0x80, 0x60, 0x01, 0x0F}));

    Image image;
    const Output o = Read(SimpleTIFFReadImage, lsb, &image);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.out, "Fixing the fillorder\n");
    EXPECT_EQ(image.Head(4), Bytes({0x01, 0x06, 0x80, 0xF0}));
}

// The libtiff sample images: what each reader makes of each file.
TEST(TiffRead, SharedSamples)
{
    struct Case {
        const char* file;
        int32_t grey, colour;           // results of the two readers
        std::string greyErr, colourErr; // their error streams
        std::string colourOut;          // the colour reader's block-size note
        int32_t w, h, depth;            // of whichever reader succeeds
    };
    // The note: strips x rows per strip x 157 pixels x 3 samples x bytes per sample.
    const Case cases[] = {
        {"minisblack-1c-8b.tiff", 0, 1, kNoFillOrder, kSamples, "", 157, 151, 8},
        {"minisblack-1c-16b.tiff", 0, 1, kNoFillOrder, kSamples, "", 157, 151, 16},
        {"miniswhite-1c-1b.tiff", 1, 1, kBits, kBits, "", 0, 0, 0},
        {"lzw-single-strip.tiff", 1, 1, kBits, kBits, "", 0, 0, 0},
        {"palette-1c-8b.tiff", 1, 1, "Image is a palette-colour image\n", kSamples, "", 0, 0, 0},
        {"rgb-3c-8b.tiff", 1, 0, kSamples, kNoFillOrder, "bufferSize = 72063\n", 157, 151, 8},    // 9 x 17 x 157 x 3
        {"rgb-3c-16b.tiff", 1, 0, kSamples, kNoFillOrder, "bufferSize = 143184\n", 157, 151, 16}, // 19 x 8 x 157 x 3 x 2
        {"quad-tile.jpg.tiff", 1, 1, kSamples, kStrip0, "", 0, 0, 0},
        {"32bpp-None.tiff", 1, 1, kSamples, kSamples, "", 0, 0, 0},
        {"deflate-last-strip-extra-data.tiff", 0, 1, kNoFillOrder, kSamples, "", 500, 500, 8},
        {"no-such-file.tiff", 1, 1, "Could not open incoming image\n", "Could not open incoming image\n", "", 0, 0, 0},
    };
    const NoFileLeftOpen guard;
    for (const Case& c : cases) {
        Image grey, colour;
        const Output g = Read(SimpleTIFFReadImage, Shared(c.file), &grey);
        const Output k = Read(SimpleTIFFReadColorImage, Shared(c.file), &colour);
        EXPECT_EQ(std::make_tuple(g.result, g.err, k.result, k.err, k.out),
                  std::make_tuple(c.grey, c.greyErr, c.colour, c.colourErr, c.colourOut))
            << c.file;
        EXPECT_EQ(grey.data != nullptr, c.grey == 0) << c.file;
        EXPECT_EQ(colour.data != nullptr, c.colour == 0) << c.file;
        const Image& ok = c.grey == 0 ? grey : colour;
        if (ok.data) {
            EXPECT_EQ(std::make_tuple(ok.width, ok.height, ok.bits, ok.channels), std::make_tuple(c.w, c.h, c.depth, c.grey == 0 ? 1 : 3))
                << c.file;
        }
    }
}

// Every sample against an independent reading: the netpbm twins where present, else plain
// libtiff scanlines (big-endian 16-bit samples come back as numbers; the short last deflate
// strip is whole).
TEST(TiffRead, PixelsMatchIndependentReadings)
{
    struct Case { const char* file; ReadFn reader; const char* twin; };
    const Case cases[] = {
        {"minisblack-1c-8b.tiff", SimpleTIFFReadImage, "minisblack-1c-8b.pgm"},
        {"rgb-3c-8b.tiff", SimpleTIFFReadColorImage, "rgb-3c-8b.ppm"},
        {"minisblack-1c-16b.tiff", SimpleTIFFReadImage, nullptr},
        {"deflate-last-strip-extra-data.tiff", SimpleTIFFReadImage, nullptr},
        {"rgb-3c-16b.tiff", SimpleTIFFReadColorImage, nullptr},
    };
    for (const Case& c : cases) {
        Image image;
        ASSERT_EQ(Read(c.reader, Shared(c.file), &image).result, 0) << c.file;
        const Bytes expected = c.twin ? NetpbmPixels(Shared(c.twin), image.Size()) : ScanlinePixels(Shared(c.file));
        ASSERT_EQ(expected.size(), image.Size()) << c.file;
        EXPECT_TRUE(image.Head(image.Size()) == expected) << c.file;
    }
}
