#include <gtest/gtest.h>

#include <cstring>

#include "TiffTestUtil.h"

using namespace korveltest;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

struct Output {
    int32_t result;
    std::string out, err;
};

// Runs a reader with both streams captured.
Output Read(int32_t (*reader)(const char*, IMAGE*), const std::string& path, IMAGE* image)
{
    CaptureStdout();
    CaptureStderr();
    const int32_t result = reader(path.c_str(), image);
    return {result, GetCapturedStdout(), GetCapturedStderr()};
}

const char* const kNoFillOrder = "Image has an undefined fillorder\n";

} // namespace

TEST(TiffWrite, RoundTripKeepsSizeDepthAndSamples)
{
    TempDir dir;
    for (int bits : {8, 16, 32}) {
        Image image;
        ASSERT_EQ(NewImage(3, 2, bits, &image), 0);
        const std::uint32_t values[6] = {0, 1, 4660, 255, 65535, 70000};
        for (int i = 0; i < 6; ++i) {
            if (bits == 8)
                static_cast<std::uint8_t*>(image.data)[i] = static_cast<std::uint8_t>(values[i]);
            else if (bits == 16)
                static_cast<std::uint16_t*>(image.data)[i] = static_cast<std::uint16_t>(values[i]);
            else
                static_cast<std::uint32_t*>(image.data)[i] = values[i];
        }
        const std::string path = dir.File("w" + std::to_string(bits) + ".tif");
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
        EXPECT_EQ(spp, 1);
        EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
        EXPECT_EQ(fill, FILLORDER_MSB2LSB);
        EXPECT_EQ(compression, COMPRESSION_NONE);
        EXPECT_EQ(rps, 2u);
        EXPECT_EQ(TIFFNumberOfStrips(tif), 1u);
        TIFFClose(tif);

        Image back;
        const Output o = Read(SimpleTIFFReadImage, path, &back);
        ASSERT_EQ(o.result, 0) << bits;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "") << "the writer sets every tag the reader asks for";
        EXPECT_EQ(back.width, 3);
        EXPECT_EQ(back.height, 2);
        EXPECT_EQ(back.bits, bits);
        EXPECT_EQ(back.channels, 1);
        EXPECT_EQ(std::memcmp(back.data, image.data, static_cast<size_t>(6 * bits / 8)), 0) << bits;
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

TEST(TiffRead, MinIsWhiteIsInverted)
{
    TempDir dir;
    TiffLayout s;
    s.width = 3;
    s.photometric = PHOTOMETRIC_MINISWHITE;
    WriteTiff(dir.File("w8.tif"), s, {0, 10, 255});
    Image g8;
    Output o = Read(SimpleTIFFReadImage, dir.File("w8.tif"), &g8);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.out, "Fixing the photometric interpretation\n");
    EXPECT_EQ(o.err, kNoFillOrder);
    EXPECT_EQ(g8.Head(3), Bytes({255, 245, 0}));

    s.bits = 16;
    WriteTiff(dir.File("w16.tif"), s, AsBytes(std::vector<std::uint16_t>{0, 1000, 65535}));
    Image g16;
    ASSERT_EQ(Read(SimpleTIFFReadImage, dir.File("w16.tif"), &g16).result, 0);
    EXPECT_EQ(g16.Samples16()[0], 65535);
    EXPECT_EQ(g16.Samples16()[1], 64535);
    EXPECT_EQ(g16.Samples16()[2], 0);
}

TEST(TiffRead, OnlyWhiteIsZeroIsInvertedByTheGreyReader)
{
    TempDir dir;
    TiffLayout s;
    s.width = 2;
    s.photometric = PHOTOMETRIC_SEPARATED; // neither black- nor white-is-zero
    WriteTiff(dir.File("s.tif"), s, {3, 200});
    Image image;
    const Output o = Read(SimpleTIFFReadImage, dir.File("s.tif"), &image);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(image.Head(2), Bytes({3, 200}));
}

TEST(TiffRead, PaletteImagesAreRefused)
{
    TempDir dir;
    TiffLayout s;
    s.width = 2;
    s.photometric = PHOTOMETRIC_PALETTE;
    WriteTiff(dir.File("p.tif"), s, {3, 200});
    IMAGE image = {11, 12, 13, 14, nullptr};
    const Output o = Read(SimpleTIFFReadImage, dir.File("p.tif"), &image);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "Image is a palette-colour image\n");
    EXPECT_EQ(image.width, 11) << "a failure leaves the record alone";
    EXPECT_EQ(image.data, nullptr);
}

TEST(TiffRead, FillOrderTwoReadsTheTrueSamples)
{
    TempDir dir;
    TiffLayout s;
    s.width = 4;
    WriteTiff(dir.File("msb.tif"), s, {0x01, 0x06, 0x80, 0xF0});
    const std::string lsb = dir.File("lsb.tif");
    const std::string command = "tiffcp -f lsb2msb " + dir.File("msb.tif") + " " + lsb + " 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";

    // On disk the bytes really are reversed: 0x01 -> 0x80, 0x06 -> 0x60.
    TIFF* tif = TIFFOpen(lsb.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint16_t fill = 0;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_FILLORDER, &fill));
    EXPECT_EQ(fill, FILLORDER_LSB2MSB);
    std::uint8_t raw[4] = {};
    ASSERT_EQ(TIFFReadRawStrip(tif, 0, raw, 4), 4);
    TIFFClose(tif);
    EXPECT_EQ(Bytes(raw, raw + 4), Bytes({0x80, 0x60, 0x01, 0x0F}));

    Image image;
    const Output o = Read(SimpleTIFFReadImage, lsb, &image);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.out, "Fixing the fillorder\n");
    EXPECT_EQ(image.Head(4), Bytes({0x01, 0x06, 0x80, 0xF0}));
}

TEST(TiffRead, StripsThatDoNotCoverTheImageFail)
{
    TempDir dir;
    TiffLayout s;
    s.width = 4;
    s.height = 4;
    s.rowsPerStrip = 2;
    s.stripsWritten = 1; // the second strip is never written
    WriteTiff(dir.File("half.tif"), s, Bytes(16, 9));
    IMAGE image = {0, 0, 0, 0, nullptr};
    const Output o = Read(SimpleTIFFReadImage, dir.File("half.tif"), &image);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err.rfind("Read error on input strip number ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1);
    EXPECT_EQ(image.data, nullptr);
}

TEST(TiffRead, TiledFilesFail)
{
    TempDir dir;
    TiffLayout s;
    s.width = 32;
    s.height = 32;
    s.tile = 16;
    WriteTiff(dir.File("tiled.tif"), s, {});
    IMAGE image = {0, 0, 0, 0, nullptr};
    const Output o = Read(SimpleTIFFReadImage, dir.File("tiled.tif"), &image);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "Read error on input strip number 0\n");
    EXPECT_EQ(image.data, nullptr);
}

TEST(TiffRead, MissingFile)
{
    IMAGE image = {1, 2, 3, 4, nullptr};
    const Output o = Read(SimpleTIFFReadImage, "/nonexistent-folder/x.tif", &image);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "Could not open incoming image\n");
    EXPECT_EQ(image.width, 1);
    const Output c = Read(SimpleTIFFReadColorImage, "/nonexistent-folder/x.tif", &image);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.err, "Could not open incoming image\n");
}

// The libtiff sample images: what each reader makes of each file.
TEST(TiffRead, SharedSamples)
{
    const std::string bits = "Either undefined or unsupported number of bits per sample\n";
    const std::string samples = "Either undefined or unsupported number of samples per pixel\n";
    struct Case {
        const char* file;
        int32_t grey, colour;         // results of the two readers
        std::string greyErr, colourErr; // their error streams
        int32_t w, h, depth;          // of whichever reader succeeds
    };
    const Case cases[] = {
        {"minisblack-1c-8b.tiff", 0, 1, kNoFillOrder, samples, 157, 151, 8},
        {"minisblack-1c-16b.tiff", 0, 1, kNoFillOrder, samples, 157, 151, 16},
        {"miniswhite-1c-1b.tiff", 1, 1, bits, bits, 0, 0, 0},
        {"lzw-single-strip.tiff", 1, 1, bits, bits, 0, 0, 0},
        {"palette-1c-8b.tiff", 1, 1, "Image is a palette-colour image\n", samples, 0, 0, 0},
        {"rgb-3c-8b.tiff", 1, 0, samples, kNoFillOrder, 157, 151, 8},
        {"rgb-3c-16b.tiff", 1, 0, samples, kNoFillOrder, 157, 151, 16},
        {"quad-tile.jpg.tiff", 1, 1, samples, "Read error on input strip number 0\n", 0, 0, 0},
        {"32bpp-None.tiff", 1, 1, samples, samples, 0, 0, 0},
        {"deflate-last-strip-extra-data.tiff", 0, 1, kNoFillOrder, samples, 500, 500, 8},
    };
    const size_t files = OpenFileCount();
    for (const Case& c : cases) {
        const std::string path = TestData(std::string("tiff/") + c.file);
        Image grey;
        const Output g = Read(SimpleTIFFReadImage, path, &grey);
        EXPECT_EQ(g.result, c.grey) << c.file;
        EXPECT_EQ(g.err, c.greyErr) << c.file;
        Image colour;
        const Output k = Read(SimpleTIFFReadColorImage, path, &colour);
        EXPECT_EQ(k.result, c.colour) << c.file;
        EXPECT_EQ(k.err, c.colourErr) << c.file;
        const Image& ok = c.grey == 0 ? grey : colour;
        if (c.grey == 0 || c.colour == 0) {
            EXPECT_EQ(ok.width, c.w) << c.file;
            EXPECT_EQ(ok.height, c.h) << c.file;
            EXPECT_EQ(ok.bits, c.depth) << c.file;
            EXPECT_EQ(ok.channels, c.grey == 0 ? 1 : 3) << c.file;
        }
        if (c.grey != 0) {
            EXPECT_EQ(grey.data, nullptr) << c.file;
        }
        if (c.colour != 0) {
            EXPECT_EQ(colour.data, nullptr) << c.file;
        }
    }
    EXPECT_EQ(OpenFileCount(), files) << "every path closes its file";
}

TEST(TiffRead, ColourReaderAnnouncesItsBlockSize)
{
    // strips x rows per strip x 157 pixels x 3 samples x bytes per sample
    const std::pair<const char*, const char*> cases[] = {
        {"rgb-3c-8b.tiff", "bufferSize = 72063\n"},   // 9 x 17 x 157 x 3
        {"rgb-3c-16b.tiff", "bufferSize = 143184\n"}, // 19 x 8 x 157 x 3 x 2
    };
    for (const auto& [file, line] : cases) {
        Image image;
        const Output o = Read(SimpleTIFFReadColorImage, TestData(std::string("tiff/") + file), &image);
        EXPECT_EQ(o.result, 0) << file;
        EXPECT_EQ(o.out, line) << file;
    }
}

namespace {

// Pixels of a binary PGM/PPM with maxval 255, as netpbm wrote them.
Bytes NetpbmPixels(const std::string& path, size_t count)
{
    const Bytes file = ReadFile(path);
    // Header: magic, width, height, maxval, each followed by one whitespace character.
    size_t pos = 0;
    for (int field = 0; field < 4; ++field) {
        while (pos < file.size() && std::isspace(file[pos]))
            ++pos;
        while (pos < file.size() && !std::isspace(file[pos]))
            ++pos;
    }
    ++pos;
    return pos + count <= file.size() ? Bytes(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + count))
                                      : Bytes();
}

// Reads every sample through plain libtiff scanlines, as an independent reference.
Bytes ScanlinePixels(const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    Bytes out;
    if (!tif)
        return out;
    std::uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    Bytes line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (std::uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) < 0)
            break;
        out.insert(out.end(), line.begin(), line.end());
    }
    TIFFClose(tif);
    return out;
}

} // namespace

TEST(TiffRead, PixelsMatchTheNetpbmTwins)
{
    Image grey;
    ASSERT_EQ(Read(SimpleTIFFReadImage, TestData("tiff/minisblack-1c-8b.tiff"), &grey).result, 0);
    const Bytes pgm = NetpbmPixels(TestData("tiff/minisblack-1c-8b.pgm"), 157 * 151);
    ASSERT_FALSE(pgm.empty());
    EXPECT_EQ(grey.Head(pgm.size()), pgm);

    Image rgb;
    ASSERT_EQ(Read(SimpleTIFFReadColorImage, TestData("tiff/rgb-3c-8b.tiff"), &rgb).result, 0);
    const Bytes ppm = NetpbmPixels(TestData("tiff/rgb-3c-8b.ppm"), 157 * 151 * 3);
    ASSERT_FALSE(ppm.empty());
    EXPECT_EQ(rgb.Head(ppm.size()), ppm);
}

TEST(TiffRead, PixelsMatchLibtiffScanlines)
{
    // Big-endian 16-bit files come back as numbers; the short last deflate strip is whole.
    for (const char* file : {"minisblack-1c-16b.tiff", "deflate-last-strip-extra-data.tiff"}) {
        const std::string path = TestData(std::string("tiff/") + file);
        Image image;
        ASSERT_EQ(Read(SimpleTIFFReadImage, path, &image).result, 0) << file;
        const Bytes expected = ScanlinePixels(path);
        ASSERT_EQ(expected.size(), static_cast<size_t>(image.width) * image.height * image.bits / 8) << file;
        EXPECT_EQ(image.Head(expected.size()), expected) << file;
    }
    const std::string path = TestData("tiff/rgb-3c-16b.tiff");
    Image rgb;
    ASSERT_EQ(Read(SimpleTIFFReadColorImage, path, &rgb).result, 0);
    const Bytes expected = ScanlinePixels(path);
    ASSERT_EQ(expected.size(), 157u * 151 * 3 * 2);
    EXPECT_EQ(rgb.Head(expected.size()), expected);
}
