#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "ChannelRenderer.h"
#include "ImageChannel.h"
#include "MemoryImage.h"

using namespace ImageViewer;

namespace {

struct Bgr
{
    int b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};

std::ostream& operator<<(std::ostream& os, const Bgr& p)
{
    return os << "(b " << p.b << ", g " << p.g << ", r " << p.r << ")";
}

// The mapping written out step by step from its definition, in 64 bits.
int Component(long long v, long long mn, long long mx, long long colour)
{
    long long range = mx - mn;
    if (range == 0)
        range = 1;
    const long long t = ((v - mn + 1) * 256) / range;
    const long long c = (colour * t) / 256;
    return static_cast<int>(c < 0 ? 0 : c > 255 ? 255 : c);
}

Bgr Expected(long long v, const ImageChannel& ch)
{
    return {Component(v, ch.m_min, ch.m_max, ch.m_b), Component(v, ch.m_min, ch.m_max, ch.m_g),
            Component(v, ch.m_min, ch.m_max, ch.m_r)};
}

Bgr PixelAt(const unsigned char* buf, size_t i)
{
    return {buf[4 * i], buf[4 * i + 1], buf[4 * i + 2]};
}

// A 256 x 256 slice holding every 16-bit value once, in a scrambled order.
ImageReader::ImageSlice<unsigned short> EveryValue()
{
    std::vector<unsigned short> values(65536);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<unsigned short>((i * 40503u) & 0xFFFF); // odd factor: a permutation
    return MakeSlice(256, 256, values);
}

} // namespace

TEST(ImageChannel, WorkedExampleBytes)
{
    ImageChannel red(0, 255, 0, 255, 0, 0);
    const auto buf = red.RenderToRGBA(MakeSlice(4, 1, {0, 127, 254, 255}));
    ASSERT_TRUE(buf);
    const unsigned char expected[16] = {0, 0, 0, 0, 0, 0, 127, 0, 0, 0, 255, 0, 0, 0, 255, 0};
    EXPECT_EQ(std::memcmp(buf.get(), expected, 16), 0);
}

TEST(ImageChannel, ForcedRangeOfOne)
{
    ImageChannel ch(100, 100, 0, 200, 100, 40);
    const auto buf = ch.RenderToRGBA(MakeSlice(3, 1, {99, 100, 101}));
    ASSERT_TRUE(buf);
    EXPECT_EQ(PixelAt(buf.get(), 0), (Bgr{0, 0, 0}));       // t = 0
    EXPECT_EQ(PixelAt(buf.get(), 1), (Bgr{40, 100, 200}));  // t = 256: the colour itself
    EXPECT_EQ(PixelAt(buf.get(), 2), (Bgr{80, 200, 255}));  // t = 512: doubled, red saturated
}

TEST(ImageChannel, EmptySliceRendersNothing)
{
    ImageChannel ch(0, 10);
    EXPECT_FALSE(ch.RenderToRGBA(ImageReader::ImageSlice<unsigned short>()));
    EXPECT_TRUE(ch.PrepareRender(ImageReader::ImageSlice<unsigned short>()).empty());
}

TEST(ImageChannel, FallingRampAndValuesBelowTheRange)
{
    // m_max below m_min: the same formula runs downhill.
    ImageChannel falling(200, 100, 0, 255, 255, 255);
    const auto buf = falling.RenderToRGBA(MakeSlice(5, 1, {99, 100, 150, 199, 250}));
    ASSERT_TRUE(buf);
    // t = ((v - 199) * 256) / -100: 99 -> 256, 100 -> 253, 150 -> 125, 199 -> 0, 250 -> -130
    const int expected[5] = {255, 252, 124, 0, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(buf[4 * i + 1], expected[i]) << i;

    // A value far below m_min - 1 stays black instead of wrapping to a bright byte.
    ImageChannel rising(30000, 30100);
    const auto low = rising.RenderToRGBA(MakeSlice(2, 1, {0, 29998}));
    ASSERT_TRUE(low);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(low[i], 0);
}

TEST(ImageChannel, NarrowRangeSaturatesInsteadOfOverflowing)
{
    // (65535 - 100 + 1) * 256 * 255 passes 2^31: the brightest pixels must stay white.
    ImageChannel ch(100, 101, 0, 255, 255, 255);
    const auto buf = ch.RenderToRGBA(MakeSlice(3, 1, {65535, 40000, 101}));
    ASSERT_TRUE(buf);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(PixelAt(buf.get(), i), (Bgr{255, 255, 255})) << i;
}

// Every 16-bit value, for a set of channel settings, against the written-out formula.
TEST(ImageChannel, EveryValueMatchesTheFormula)
{
    const ImageChannel settings[] = {
        {0, 255, 0, 255, 0, 0},           {100, 100, 0, 255, 128, 7},     {100, 101, 0, 255, 255, 255},
        {5000, 1000, 0, 10, 200, 255},    {0, 65535, 0, 255, 255, 255},   {-300, 70000, 0, 3, 77, 255},
        {65535, 0, 0, 255, 255, 255},     {INT_MIN, INT_MAX, 0, 255, 1, 0}, {40000, 39999, 0, 255, 255, 255},
    };
    const auto slice = EveryValue();
    const unsigned short* values = slice.GetData();
    for (ImageChannel ch : settings) {
        const auto buf = ch.RenderToRGBA(slice);
        ASSERT_TRUE(buf);
        int mismatches = 0;
        for (size_t i = 0; i < 65536 && mismatches < 5; ++i) {
            const Bgr want = Expected(values[i], ch);
            if (!(PixelAt(buf.get(), i) == want) || buf[4 * i + 3] != 0) {
                ++mismatches;
                ADD_FAILURE() << "range " << ch.m_min << ".." << ch.m_max << " value " << values[i] << ": got "
                              << PixelAt(buf.get(), i) << ", want " << want;
            }
        }
    }
}

TEST(ImageChannel, SmallSlicesMatchTheFormulaToo)
{
    // Below 65536 pixels only the values present are tabulated.
    ImageChannel ch(1000, 1200, 0, 90, 180, 255);
    std::vector<unsigned short> values;
    for (int v = 900; v < 1400; v += 3)
        values.push_back(static_cast<unsigned short>(v));
    values.push_back(0);
    values.push_back(65535);
    const auto buf = ch.RenderToRGBA(MakeSlice(static_cast<int>(values.size()), 1, values));
    ASSERT_TRUE(buf);
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(PixelAt(buf.get(), i), Expected(values[i], ch)) << values[i];
}

TEST(ImageChannel, AutoscalingOnlyWidens)
{
    ImageChannel ch(65535, 0, 0, 255, 255, 255, true);
    std::vector<unsigned short> first, second;
    for (int v = 10; v <= 500; v += 7)
        first.push_back(static_cast<unsigned short>(v));
    first.push_back(500);
    for (int v = 20; v <= 300; v += 11)
        second.push_back(static_cast<unsigned short>(v));
    second.push_back(300);
    ASSERT_TRUE(ch.RenderToRGBA(MakeSlice(static_cast<int>(first.size()), 1, first)));
    EXPECT_EQ(ch.m_min, 10);
    EXPECT_EQ(ch.m_max, 500);
    const auto buf = ch.RenderToRGBA(MakeSlice(static_cast<int>(second.size()), 1, second));
    ASSERT_TRUE(buf);
    EXPECT_EQ(ch.m_min, 10);
    EXPECT_EQ(ch.m_max, 500);
    // The picture uses the widened range of this very render.
    EXPECT_EQ(PixelAt(buf.get(), 0), Expected(20, ImageChannel(10, 500)));

    // A large slice takes the other path through the scan.
    ImageChannel big(65535, 0, 0, 255, 255, 255, true);
    ASSERT_TRUE(big.RenderToRGBA(EveryValue()));
    EXPECT_EQ(big.m_min, 0);
    EXPECT_EQ(big.m_max, 65535);
}

TEST(ImageChannel, GammaZeroIsTheFormulaAndOtherGammasBendTheRamp)
{
    const auto slice = EveryValue();
    const unsigned short* values = slice.GetData();
    // Order the output of each setting by value.
    const auto byValue = [&](ImageChannel ch) {
        std::vector<Bgr> out(65536);
        const auto buf = ch.RenderToRGBA(slice);
        for (size_t i = 0; i < 65536; ++i)
            out[values[i]] = PixelAt(buf.get(), i);
        return out;
    };
    for (const auto& [mn, mx] : {std::pair{1000, 3000}, std::pair{3000, 1000}, std::pair{0, 65535}}) {
        const std::vector<Bgr> plain = byValue(ImageChannel(mn, mx, 0, 255, 128, 30));
        for (int v = 0; v < 65536; ++v)
            ASSERT_EQ(plain[v], Expected(v, ImageChannel(mn, mx, 0, 255, 128, 30))) << v;
        const int lo = std::min(mn, mx) - 1, hi = std::max(mn, mx) - 1; // the ramp's ends
        const int mid = (lo + hi) / 2;
        std::vector<int> fixed = {hi, std::min(hi + 1, 65535), 65535};
        if (lo >= 0)
            fixed.insert(fixed.end(), {0, lo});
        for (int gamma : {-10, -3, 4, 10}) {
            const std::vector<Bgr> bent = byValue(ImageChannel(mn, mx, gamma, 255, 128, 30));
            const bool rising = mx > mn;
            for (int v = 1; v < 65536; ++v) {
                const int step = bent[v].r - bent[v - 1].r;
                ASSERT_TRUE(rising ? step >= 0 : step <= 0) << "gamma " << gamma << " value " << v;
                ASSERT_TRUE(rising ? bent[v].g >= bent[v - 1].g : bent[v].g <= bent[v - 1].g);
            }
            // The ends of the ramp and everything outside it stay put.
            for (int v : fixed)
                EXPECT_EQ(bent[v], plain[v]) << "gamma " << gamma << " value " << v;
            if (gamma > 0)
                EXPECT_GT(bent[mid].r, plain[mid].r + 20) << gamma;
            else
                EXPECT_LT(bent[mid].r + 20, plain[mid].r) << gamma;
        }
    }
    // Hand-worked: a ramp of 256 values, gamma 5 is a square root and gamma -5 a square.
    ImageChannel brighter(1, 257, 5, 255, 255, 255), darker(1, 257, -5, 255, 255, 255);
    const auto b = brighter.RenderToRGBA(MakeSlice(1, 1, {64}));
    const auto d = darker.RenderToRGBA(MakeSlice(1, 1, {64}));
    EXPECT_EQ(b[2], 127); // 255 * sqrt(64 / 256)
    EXPECT_EQ(d[2], 15);  // 255 * (64 / 256)^2
}

TEST(Compositing, AddsBytesWithSaturation)
{
    unsigned char dst[4] = {0, 0, 200, 0};
    const unsigned char yellow[4] = {0, 100, 100, 0};
    CompositeAdd(dst, yellow, 4);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 100);
    EXPECT_EQ(dst[2], 255);
    EXPECT_EQ(dst[3], 0);

    std::vector<unsigned char> a(1000), b(1000);
    for (int i = 0; i < 1000; ++i) {
        a[i] = static_cast<unsigned char>(i * 7);
        b[i] = static_cast<unsigned char>(i * 13);
    }
    std::vector<unsigned char> sum = a;
    CompositeAdd(sum.data(), b.data(), sum.size());
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(sum[i], std::min(255, a[i] + b[i])) << i;
}

namespace {

// A 3-channel image (channel dimension 2) and its expected composite.
struct ThreeChannels
{
    MemoryImage image{{5, 4, 3}};
    ChannelListPtr channels = std::make_shared<ChannelList>();

    ThreeChannels()
    {
        image.Fill([](const std::vector<int>& c) { return static_cast<unsigned short>(100 * c[2] + 13 * c[0] + 41 * c[1]); });
        channels->push_back(std::make_shared<ImageChannel>(0, 200, 0, 255, 0, 0));
        channels->push_back(std::make_shared<ImageChannel>(100, 300, 0, 255, 255, 0));
        channels->push_back(std::make_shared<ImageChannel>(150, 400, 0, 0, 90, 255));
    }

    std::vector<int> Expect(int x, int y) const
    {
        std::vector<int> sum(3, 0);
        for (int c = 0; c < 3; ++c) {
            const ImageChannel& ch = *(*channels)[c];
            if (!ch.m_enabled)
                continue;
            const Bgr p = Expected(100 * c + 13 * x + 41 * y, ch);
            sum[0] = std::min(255, sum[0] + p.b);
            sum[1] = std::min(255, sum[1] + p.g);
            sum[2] = std::min(255, sum[2] + p.r);
        }
        return sum;
    }

    void Check(const unsigned char* buf) const
    {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                const std::vector<int> want = Expect(x, y);
                const size_t i = 4 * static_cast<size_t>(y * 5 + x);
                EXPECT_EQ((std::vector<int>{buf[i], buf[i + 1], buf[i + 2], buf[i + 3]}),
                          (std::vector<int>{want[0], want[1], want[2], 0}))
                    << x << "," << y;
            }
    }
};

} // namespace

TEST(ChannelRenderer, CompositesEnabledChannels)
{
    ThreeChannels t;
    ChannelRenderer renderer(2, t.channels);
    t.Check(renderer.RenderToRGBA(t.image).get());
    (*t.channels)[1]->m_enabled = false;
    t.Check(renderer.RenderToRGBA(t.image).get());
}

TEST(ChannelRenderer, NoEnabledChannelGivesBlack)
{
    ThreeChannels t;
    for (auto& ch : *t.channels)
        ch->m_enabled = false;
    const auto buf = ChannelRenderer(2, t.channels).RenderToRGBA(t.image);
    ASSERT_TRUE(buf);
    EXPECT_TRUE(std::all_of(buf.get(), buf.get() + 4 * 5 * 4, [](unsigned char b) { return b == 0; }));
}

TEST(ChannelRenderer, WithoutChannelDimensionChannelZeroRendersEvenWhenDisabled)
{
    MemoryImage image({3, 2, 2});
    image.Fill([](const std::vector<int>& c) { return static_cast<unsigned short>(10 * c[0] + c[1] + 100 * c[2]); });
    ChannelRenderer renderer(-1);
    renderer.AddChannel(std::make_shared<ImageChannel>(0, 20, 0, 255, 255, 255));
    (*renderer.m_channels)[0]->m_enabled = false;
    const auto buf = renderer.RenderToRGBA(image);
    ASSERT_TRUE(buf);
    for (int i = 0; i < 6; ++i) // plane 0 only
        EXPECT_EQ(buf[4 * i], Component(10 * (i % 3) + i / 3, 0, 20, 255)) << i;
}

TEST(ChannelRenderer, MissingPlanesAndShortListsContributeNothing)
{
    ThreeChannels t;
    t.image.failing.insert(1);
    const auto buf = ChannelRenderer(2, t.channels).RenderToRGBA(t.image);
    (*t.channels)[1]->m_enabled = false; // the expectation without plane 1
    t.Check(buf.get());

    // A list shorter than the dimension visits only the listed channels.
    ThreeChannels s;
    s.channels->pop_back();
    s.image.reads = 0;
    const auto two = ChannelRenderer(2, s.channels).RenderToRGBA(s.image);
    ASSERT_TRUE(two);
    EXPECT_EQ(s.image.reads, 2);

    // A channel dimension the image does not have renders nothing.
    EXPECT_FALSE(ChannelRenderer(7, s.channels).RenderToRGBA(s.image));
}

TEST(ChannelRenderer, AutoscalingHappensPerChannelInListOrder)
{
    ThreeChannels t;
    // The same channel object twice: the second render sees the range widened by the first.
    auto shared = std::make_shared<ImageChannel>(65535, 0, 0, 255, 255, 255, true);
    (*t.channels)[0] = shared;
    (*t.channels)[2] = shared;
    const auto buf = ChannelRenderer(2, t.channels).RenderToRGBA(t.image);
    ASSERT_TRUE(buf);
    EXPECT_EQ(shared->m_min, 0);
    EXPECT_EQ(shared->m_max, 200 + 13 * 4 + 41 * 3);
    // Pixel (0, 0): channel 0 (value 0) rendered with range 0..175, channel 2 (value 200)
    // with range 0..375, channel 1 (value 100) with its own range.
    const Bgr c0 = Expected(0, ImageChannel(0, 175)), c2 = Expected(200, ImageChannel(0, 375));
    const Bgr c1 = Expected(100, ImageChannel(100, 300, 0, 255, 255, 0));
    EXPECT_EQ(buf[0], std::min(255, c0.b + c1.b + c2.b));
    EXPECT_EQ(buf[2], std::min(255, c0.r + c1.r + c2.r));
}

TEST(WavelengthToRGB, BandsAndSamples)
{
    struct Case
    {
        double wl, r, g, b;
    };
    const Case cases[] = {
        {380, 0.3, 0, 0.63993},      {420, 0.33333, 0, 2.13311}, {440, 0, 0, 2.13311},
        {500, 0, 1.53492, 1.06655},  {545, 0.5, 1.53492, 0},     {600, 1, 1.06264, 0},
        {700, 1, 0, 0},              {740, 0.65, 0, 0},          {780, 0.3, 0, 0},
        {379.9, 0, 0, 0},            {780.1, 0, 0, 0},           {490, 0, 1.53492, 2.13311},
        {510, 0, 1.53492, 0},        {580, 1, 1.53492, 0},       {645, 1, 0, 0},
    };
    for (const Case& c : cases) {
        double r = -1, g = -1, b = -1;
        WavelengthToRGB(c.wl, r, g, b);
        EXPECT_NEAR(r, c.r, 5e-5) << c.wl;
        EXPECT_NEAR(g, c.g, 5e-5) << c.wl;
        EXPECT_NEAR(b, c.b, 5e-5) << c.wl;
    }
}
