#include <tuple>

#include "KorvelTestUtil.h"

using namespace korveltest;

namespace {

auto Fields(const IMAGE& image)
{
    return std::make_tuple(image.width, image.height, image.bits, image.channels);
}

} // namespace

TEST(NewImage, AllocatesZeroedBlockThatDeleteImageReleases)
{
    Image image;
    ASSERT_EQ(NewImage(3, 2, 16, &image), 0);
    EXPECT_EQ(Fields(image), std::make_tuple(3, 2, 16, 1));
    // 3 x 2 samples of 2 bytes: all 12 must be addressable (the sanitizer build checks) and zero.
    EXPECT_EQ(image.Head(12), Bytes(12, 0));
    EXPECT_EQ(DeleteImage(&image), 0);
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(Fields(image), std::make_tuple(3, 2, 16, 1)) << "release keeps the other fields";
    EXPECT_EQ(DeleteImage(&image), 0) << "releasing an empty record is harmless";
}

TEST(NewImage, RefusesDepthsAndSizesButKeepsTheFields)
{
    struct Case { int32_t w, h, bits; };
    for (const Case& c : {Case{5, 4, 0}, Case{5, 4, 1}, Case{5, 4, 12}, Case{5, 4, 24}, Case{5, 4, 64}, Case{-1, 4, 8},
                          Case{4, -1, 16}, Case{INT32_MAX, INT32_MAX, 32}}) {
        IMAGE image = {0, 0, 0, 7, reinterpret_cast<void*>(0x1)};
        EXPECT_EQ(NewImage(c.w, c.h, c.bits, &image), -1) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_EQ(Fields(image), std::make_tuple(c.w, c.h, c.bits, 1));
        EXPECT_EQ(image.data, nullptr);
    }
}

TEST(ConvertImageInt16, WidensBytesAndKeepsTheLow16BitsOfWords)
{
    struct Case { int32_t bits, channels; std::vector<std::uint32_t> in; std::vector<std::uint16_t> out; };
    const Case cases[] = {
        {8, 2, {200, 0, 255, 1}, {200, 0, 255, 1}}, // every sample of every channel
        {32, 1, {74565, 65535, 0x12345678}, {9029, 65535, 0x5678}},
    };
    for (const Case& c : cases) {
        Image image;
        ASSERT_EQ(NewImage(static_cast<int32_t>(c.in.size()), 1, c.bits, &image), 0);
        for (size_t i = 0; i < c.in.size(); ++i)
            image.Set(i, c.in[i]);
        image.width /= c.channels;
        image.channels = c.channels;
        ASSERT_EQ(ConvertImageInt16(&image), 0);
        EXPECT_EQ(image.bits, 16);
        EXPECT_EQ(std::vector<std::uint16_t>(image.Samples16(), image.Samples16() + c.out.size()), c.out) << c.bits;
    }
    Image same;
    ASSERT_EQ(NewImage(2, 2, 16, &same), 0);
    const void* before = same.data;
    EXPECT_EQ(ConvertImageInt16(&same), 0);
    EXPECT_EQ(same.data, before) << "a 16-bit record is left alone";
}
