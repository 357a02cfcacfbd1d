#include <gtest/gtest.h>

#include <cstring>

#include "KorvelTestUtil.h"

using namespace korveltest;

TEST(NewImage, AllocatesZeroedBlockOfWidthHeightBytesPerSample)
{
    Image image;
    ASSERT_EQ(NewImage(3, 2, 16, &image), 0);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.bits, 16);
    EXPECT_EQ(image.channels, 1);
    ASSERT_NE(image.data, nullptr);
    // 3 x 2 samples of 2 bytes: all 12 must be addressable (the sanitizer build checks) and zero.
    EXPECT_EQ(image.Head(12), Bytes(12, 0));
}

TEST(NewImage, UnsupportedDepthSetsSizeButAllocatesNothing)
{
    for (int bits : {0, 1, 12, 24, 64}) {
        IMAGE image = {0, 0, 0, 7, reinterpret_cast<void*>(0x1)};
        EXPECT_EQ(NewImage(5, 4, bits, &image), -1) << bits;
        EXPECT_EQ(image.width, 5);
        EXPECT_EQ(image.height, 4);
        EXPECT_EQ(image.bits, bits);
        EXPECT_EQ(image.channels, 1);
        EXPECT_EQ(image.data, nullptr);
    }
}

TEST(NewImage, RefusesSizesThatCannotBeAllocated)
{
    struct Case { int32_t w, h, bits; };
    for (const Case& c : {Case{-1, 4, 8}, Case{4, -1, 16}, Case{INT32_MAX, INT32_MAX, 32}}) {
        IMAGE image = {0, 0, 0, 0, nullptr};
        EXPECT_EQ(NewImage(c.w, c.h, c.bits, &image), -1) << c.w << "x" << c.h;
        EXPECT_EQ(image.data, nullptr);
    }
}

TEST(DeleteImage, ReleasesBlockAndKeepsTheOtherFields)
{
    IMAGE image = {0, 0, 0, 0, nullptr};
    ASSERT_EQ(NewImage(2, 2, 8, &image), 0);
    EXPECT_EQ(DeleteImage(&image), 0);
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.bits, 8);
    // A second release of the now empty record changes nothing.
    EXPECT_EQ(DeleteImage(&image), 0);
    EXPECT_EQ(image.data, nullptr);
}

TEST(ConvertImageInt16, KeepsValuesOf8BitSamples)
{
    // Two channels: every sample of every channel is converted.
    Image image;
    const std::uint8_t bytes[4] = {200, 0, 255, 1};
    image.width = 2;
    image.height = 1;
    image.bits = 8;
    image.channels = 2;
    image.data = std::malloc(4);
    std::memcpy(image.data, bytes, 4);
    ASSERT_EQ(ConvertImageInt16(&image), 0);
    EXPECT_EQ(image.bits, 16);
    const std::uint16_t expected[4] = {200, 0, 255, 1};
    EXPECT_EQ(std::memcmp(image.data, expected, sizeof expected), 0);
}

TEST(ConvertImageInt16, TruncatesThirtyTwoBitSamplesToTheirLow16Bits)
{
    Image image;
    ASSERT_EQ(NewImage(3, 1, 32, &image), 0);
    const std::uint32_t in[3] = {74565, 65535, 0x12345678};
    std::memcpy(image.data, in, sizeof in);
    ASSERT_EQ(ConvertImageInt16(&image), 0);
    EXPECT_EQ(image.bits, 16);
    EXPECT_EQ(image.Samples16()[0], 9029);
    EXPECT_EQ(image.Samples16()[1], 65535);
    EXPECT_EQ(image.Samples16()[2], 0x5678);
}

TEST(ConvertImageInt16, LeavesSixteenBitRecordsAlone)
{
    Image image;
    ASSERT_EQ(NewImage(2, 2, 16, &image), 0);
    void* before = image.data;
    EXPECT_EQ(ConvertImageInt16(&image), 0);
    EXPECT_EQ(image.data, before);
    EXPECT_EQ(image.bits, 16);
}
