#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "ChannelRenderer.h"
#include "ImageChannel.h"
#include "MemoryImage.h"

using namespace ImageViewer;

namespace {

using Px = std::array<int, 4>; // blue, green, red, 0

constexpr Px Grey(int x)
{
    return {x, x, x, 0};
}

// One output byte written out step by step from the mapping's definition, in 64 bits.
int Component(long long v, long long mn, long long mx, long long colour)
{
    const long long range = mx == mn ? 1 : mx - mn;
    return static_cast<int>(std::clamp(colour * ((v - mn + 1) * 256 / range) / 256, 0ll, 255ll));
}

Px Expected(long long v, const ImageChannel& ch)
{
    return {Component(v, ch.m_min, ch.m_max, ch.m_b), Component(v, ch.m_min, ch.m_max, ch.m_g),
            Component(v, ch.m_min, ch.m_max, ch.m_r), 0};
}

Px PixelAt(const unsigned char* buf, size_t i)
{
    return {buf[4 * i], buf[4 * i + 1], buf[4 * i + 2], buf[4 * i + 3]};
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

TEST(ImageChannel, HandWorkedBytes)
{
    struct Case
    {
        ImageChannel ch;
        std::vector<unsigned short> values;
        std::vector<Px> want;
    };
    const Case cases[] = {
        // The worked example: red over 0..255.
        {{0, 255, 0, 255, 0, 0}, {0, 127, 254, 255}, {{0, 0, 0, 0}, {0, 0, 127, 0}, {0, 0, 255, 0}, {0, 0, 255, 0}}},
        // A forced range of 1: t = 0, 256 (the colour itself), 512 (doubled, red saturated).
        {{100, 100, 0, 200, 100, 40}, {99, 100, 101}, {Grey(0), {40, 100, 200, 0}, {80, 200, 255, 0}}},
        // m_max below m_min runs downhill: t = (v - 199) * 256 / -100 = 256, 253, 125, 0, -130.
        {{200, 100, 0, 255, 255, 255}, {99, 100, 150, 199, 250}, {Grey(255), Grey(252), Grey(124), Grey(0), Grey(0)}},
        // Far below m_min - 1 stays black instead of wrapping to a bright byte.
        {{30000, 30100}, {0, 29998}, {Grey(0), Grey(0)}},
        // (65535 - 100 + 1) * 256 * 255 passes 2^31: the brightest pixels must stay white.
        {{100, 101, 0, 255, 255, 255}, {65535, 40000, 101}, {Grey(255), Grey(255), Grey(255)}},
    };
    for (Case c : cases) {
        const auto buf = c.ch.RenderToRGBA(MakeSlice(static_cast<int>(c.values.size()), 1, c.values));
        ASSERT_TRUE(buf);
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(PixelAt(buf.get(), i), c.want[i]) << c.ch.m_min << ".." << c.ch.m_max << " value " << c.values[i];
    }
    ImageChannel ch(0, 10);
    EXPECT_FALSE(ch.RenderToRGBA(ImageReader::ImageSlice<unsigned short>()));
    EXPECT_TRUE(ch.PrepareRender(ImageReader::ImageSlice<unsigned short>()).empty());
}

TEST(ImageChannel, GammaZeroMatchesTheFormulaForEveryValue)
{
    const ImageChannel settings[] = {
        {0, 255, 0, 255, 0, 0},        {100, 100, 0, 255, 128, 7},       {100, 101, 0, 255, 255, 255},
        {5000, 1000, 0, 10, 200, 255}, {0, 65535, 0, 255, 255, 255},     {-300, 70000, 0, 3, 77, 255},
        {65535, 0, 0, 255, 255, 255},  {INT_MIN, INT_MAX, 0, 255, 1, 0}, {40000, 39999, 0, 255, 255, 255},
        {1000, 3000, 0, 255, 128, 30}, {3000, 1000, 0, 255, 128, 30},
    };
    const auto slice = EveryValue();
    for (ImageChannel ch : settings) {
        const auto buf = ch.RenderToRGBA(slice);
        ASSERT_TRUE(buf);
        for (size_t i = 0; i < 65536; ++i)
            ASSERT_EQ(PixelAt(buf.get(), i), Expected(slice.GetData()[i], ch))
                << ch.m_min << ".." << ch.m_max << " value " << slice.GetData()[i];
    }
}

TEST(ImageChannel, AutoscalingOnlyWidens)
{
    ImageChannel ch(65535, 0, 0, 255, 255, 255, true);
    const auto first = ch.RenderToRGBA(MakeSlice(3, 1, {10, 500, 200}));
    EXPECT_EQ(std::pair(ch.m_min, ch.m_max), std::pair(10, 500));
    EXPECT_EQ(PixelAt(first.get(), 2), Grey(98)); // t = 191 * 256 / 490 = 99
    // The minimum widens, the maximum stays; the picture already uses the widened range.
    const auto second = ch.RenderToRGBA(MakeSlice(2, 1, {5, 300}));
    EXPECT_EQ(std::pair(ch.m_min, ch.m_max), std::pair(5, 500));
    EXPECT_EQ(PixelAt(second.get(), 1), Grey(152)); // t = 296 * 256 / 495 = 153

    // A plane of zeros is black under autoscaling, and does not hold back later data.
    ImageChannel zeros(65535, 0, 0, 255, 255, 255, true);
    EXPECT_EQ(PixelAt(zeros.RenderToRGBA(MakeSlice(2, 1, {0, 0})).get(), 0), Grey(0));
    const auto later = zeros.RenderToRGBA(MakeSlice(2, 1, {0, 400}));
    EXPECT_EQ(std::pair(zeros.m_min, zeros.m_max), std::pair(0, 400));
    EXPECT_EQ(PixelAt(later.get(), 0), Grey(0));
}

TEST(ImageChannel, GammaBendsTheRampMonotonicallyBetweenFixedEnds)
{
    const auto slice = EveryValue();
    for (const auto& [mn, mx] : {std::pair{1000, 3000}, std::pair{3000, 1000}, std::pair{0, 65535}}) {
        const int lo = std::min(mn, mx) - 1, hi = std::max(mn, mx) - 1; // the ramp's ends
        const ImageChannel plain(mn, mx, 0, 255, 128, 30);
        for (int gamma : {-10, -3, 4, 10}) {
            ImageChannel ch(mn, mx, gamma, 255, 128, 30);
            const auto buf = ch.RenderToRGBA(slice);
            std::vector<Px> bent(65536);
            for (size_t i = 0; i < 65536; ++i)
                bent[slice.GetData()[i]] = PixelAt(buf.get(), i);
            for (int v = 1; v < 65536; ++v)
                for (int j : {1, 2})
                    ASSERT_TRUE(mx > mn ? bent[v][j] >= bent[v - 1][j] : bent[v][j] <= bent[v - 1][j])
                        << "gamma " << gamma << " value " << v;
            // The ends of the ramp and everything outside it map as without gamma.
            for (int v : {0, lo, hi, std::min(hi + 1, 65535), 65535})
                if (lo >= 0 || v >= hi) {
                    EXPECT_EQ(bent[v], Expected(v, plain)) << "gamma " << gamma << " value " << v;
                }
            const int mid = (lo + hi) / 2, straight = Expected(mid, plain)[2];
            if (gamma > 0)
                EXPECT_GT(bent[mid][2], straight + 20) << gamma;
            else
                EXPECT_LT(bent[mid][2] + 20, straight) << gamma;
        }
    }
    // A ramp of 256 values: gamma 5 is a square root, gamma -5 a square.
    EXPECT_EQ(ImageChannel(1, 257, 5).RenderToRGBA(MakeSlice(1, 1, {64}))[2], 127); // 255 * sqrt(64 / 256)
    EXPECT_EQ(ImageChannel(1, 257, -5).RenderToRGBA(MakeSlice(1, 1, {64}))[2], 15); // 255 * (64 / 256)^2
}

TEST(Compositing, AddsBytesWithSaturation)
{
    std::vector<unsigned char> a(1001), b(1001);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<unsigned char>(i * 7);
        b[i] = static_cast<unsigned char>(i * 13);
    }
    std::vector<unsigned char> sum = a;
    CompositeAdd(sum.data(), b.data(), sum.size());
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(sum[i], std::min(255, a[i] + b[i])) << i;
}

namespace {

// A 5 x 4 x 3 image with value 100 c + 13 x + 41 y (channel c along dimension 2).
struct ThreeChannels
{
    MemoryImage image{{5, 4, 3}};
    ChannelListPtr channels = std::make_shared<ChannelList>(ChannelList{
        std::make_shared<ImageChannel>(0, 200, 0, 255, 0, 0), std::make_shared<ImageChannel>(100, 300, 0, 255, 255, 0),
        std::make_shared<ImageChannel>(150, 400, 0, 0, 90, 255)});

    ThreeChannels()
    {
        image.Fill([](const std::vector<int>& c) { return 100 * c[2] + 13 * c[0] + 41 * c[1]; });
    }

    // The picture against the saturating sum of the enabled channels' pixels.
    void Check(const unsigned char* buf) const
    {
        ASSERT_TRUE(buf);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                Px want = Grey(0);
                for (int c = 0; c < 3; ++c)
                    for (int j = 0; (*channels)[c]->m_enabled && j < 3; ++j)
                        want[j] = std::min(255, want[j] + Expected(100 * c + 13 * x + 41 * y, *(*channels)[c])[j]);
                EXPECT_EQ(PixelAt(buf, y * 5 + x), want) << x << "," << y;
            }
    }
};

} // namespace

TEST(ChannelRenderer, CompositesEnabledChannels)
{
    ThreeChannels t;
    ChannelRenderer renderer(2, t.channels);
    // All three, then without channel 1, without 0 and 1, and none at all (black).
    for (int off : {-1, 1, 0, 2}) {
        if (off >= 0)
            (*t.channels)[off]->m_enabled = false;
        t.Check(renderer.RenderToRGBA(t.image).get());
    }
}

TEST(ChannelRenderer, ReusedPictureIsWrittenWhole)
{
    // A picture written over must come out as a new one would, whatever it held, also when
    // no channel contributes (black).
    ThreeChannels t;
    std::vector<ChannelRenderer::Layer> layers;
    for (int c = 0; c < 3; ++c)
        layers.emplace_back((*t.channels)[static_cast<size_t>(c)].get(), t.image.GetSlice(V({c})));
    RGBABuffer old = AllocateRGBA(20);
    std::memset(old.get(), 0xA5, 80);
    const RGBABuffer reused = ChannelRenderer::Composite(layers, 5, 4, std::move(old));
    t.Check(reused.get());
    RGBABuffer again = AllocateRGBA(20);
    std::memset(again.get(), 0xA5, 80);
    const RGBABuffer black = ChannelRenderer::Composite({}, 5, 4, std::move(again));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(PixelAt(black.get(), i), Grey(0)) << i;
}

TEST(ChannelRenderer, ThreadedColouringMatchesOneThread)
{
    // An odd-sized picture past the threading threshold, nine channels (two table groups, so
    // the second adds over the first), gamma, autoscaling and a layer of another size: split
    // into two or three parts, every pixel comes out as on one thread, also over a used buffer.
    const int w = 613, h = 457;
    ASSERT_GE(size_t(w) * h, ChannelRenderer::ParallelPixels);
    std::vector<ImageReader::ImageSlice<unsigned short>> planes;
    for (int c = 0; c < 9; ++c) {
        std::vector<unsigned short> values(size_t(w) * h);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<unsigned short>((i * (2 * c + 7) + i / w * 131) % (4000 + 3000 * c));
        planes.push_back(MakeSlice(w, h, values));
    }
    const auto render = [&](unsigned threads, RGBABuffer reuse) {
        std::vector<ChannelPtr> channels;
        std::vector<ChannelRenderer::Layer> layers;
        for (int c = 0; c < 9; ++c) {
            channels.push_back(std::make_shared<ImageChannel>(100 * c, 3000 + 2000 * c, c % 5 - 2, 40 + 20 * c,
                                                              255 - 25 * c, 30 * c % 256, c % 3 == 0));
            layers.emplace_back(channels.back().get(), planes[static_cast<size_t>(c)]);
        }
        layers.emplace_back(channels[0].get(), MakeSlice(w - 1, h, std::vector<unsigned short>(size_t(w - 1) * h, 9)));
        return ChannelRenderer::Composite(layers, w, h, std::move(reuse), threads);
    };
    const RGBABuffer one = render(1, nullptr);
    ASSERT_TRUE(one);
    for (unsigned threads : {2u, 3u}) {
        RGBABuffer used = AllocateRGBA(size_t(w) * h);
        std::memset(used.get(), 0x5A, 4 * size_t(w) * h);
        const RGBABuffer split = render(threads, std::move(used));
        ASSERT_TRUE(split);
        size_t differing = 0;
        for (size_t i = 0; i < size_t(w) * h; ++i)
            differing += PixelAt(split.get(), i) != PixelAt(one.get(), i);
        EXPECT_EQ(differing, 0u) << threads << " threads";
    }
}

TEST(ChannelRenderer, MissingPlanesShortListsAndBadDimensions)
{
    ThreeChannels t;
    t.image.failing.insert(1);
    const auto buf = ChannelRenderer(2, t.channels).RenderToRGBA(t.image);
    (*t.channels)[1]->m_enabled = false; // the expectation without plane 1
    t.Check(buf.get());

    // A list shorter than the dimension visits only the listed (and enabled) channels.
    t.channels->pop_back();
    t.image.reads = 0;
    EXPECT_TRUE(ChannelRenderer(2, t.channels).RenderToRGBA(t.image));
    EXPECT_EQ(t.image.reads, 1);
    EXPECT_FALSE(ChannelRenderer(7, t.channels).RenderToRGBA(t.image));
}

TEST(ChannelRenderer, WithoutChannelDimensionChannelZeroRendersEvenWhenDisabled)
{
    MemoryImage image({3, 2, 2});
    image.Fill([](const std::vector<int>& c) { return 10 * c[0] + c[1] + 100 * c[2]; });
    ChannelRenderer renderer(-1);
    renderer.AddChannel(std::make_shared<ImageChannel>(0, 20));
    (*renderer.m_channels)[0]->m_enabled = false;
    const auto buf = renderer.RenderToRGBA(image);
    ASSERT_TRUE(buf);
    for (int i = 0; i < 6; ++i) // plane 0 only
        EXPECT_EQ(buf[4 * i], Component(10 * (i % 3) + i / 3, 0, 20, 255)) << i;
}

TEST(ChannelRenderer, AutoscalingHappensPerChannelInListOrder)
{
    ThreeChannels t;
    // The same channel object twice: the second render sees the range widened by the first.
    auto shared = std::make_shared<ImageChannel>(65535, 0, 0, 255, 255, 255, true);
    (*t.channels)[0] = (*t.channels)[2] = shared;
    const auto buf = ChannelRenderer(2, t.channels).RenderToRGBA(t.image);
    ASSERT_TRUE(buf);
    EXPECT_EQ(std::pair(shared->m_min, shared->m_max), std::pair(0, 200 + 13 * 4 + 41 * 3));
    // Pixel (0, 0): channel 0 (value 0) rendered with range 0..175, channel 2 (value 200)
    // with range 0..375, channel 1 (value 100) with its own range.
    const Px c0 = Expected(0, ImageChannel(0, 175)), c2 = Expected(200, ImageChannel(0, 375));
    const Px c1 = Expected(100, ImageChannel(100, 300, 0, 255, 255, 0));
    EXPECT_EQ(buf[0], std::min(255, c0[0] + c1[0] + c2[0]));
    EXPECT_EQ(buf[2], std::min(255, c0[2] + c1[2] + c2[2]));
}

TEST(WavelengthToRGB, BandsAndSamples)
{
    const double cases[][4] = { // nm, red, green, blue
        {380, 0.3, 0, 0.63993},     {420, 0.33333, 0, 2.13311}, {440, 0, 0, 2.13311},
        {500, 0, 1.53492, 1.06655}, {545, 0.5, 1.53492, 0},     {600, 1, 1.06264, 0},
        {700, 1, 0, 0},             {740, 0.65, 0, 0},          {780, 0.3, 0, 0},
        {379.9, 0, 0, 0},           {780.1, 0, 0, 0},           {490, 0, 1.53492, 2.13311},
        {510, 0, 1.53492, 0},       {580, 1, 1.53492, 0},       {645, 1, 0, 0},
    };
    for (const auto& c : cases) {
        double r = -1, g = -1, b = -1;
        WavelengthToRGB(c[0], r, g, b);
        EXPECT_NEAR(r, c[1], 5e-5) << c[0];
        EXPECT_NEAR(g, c[2], 5e-5) << c[0];
        EXPECT_NEAR(b, c[3], 5e-5) << c[0];
    }
}

namespace {

ImageReader::ImageSlice<unsigned short> Row(const std::vector<unsigned short>& values)
{
    auto* buf = static_cast<unsigned short*>(std::malloc(values.size() * sizeof(unsigned short)));
    std::copy(values.begin(), values.end(), buf);
    return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(static_cast<int>(values.size()), 1), buf);
}

} // namespace

// One channel renders many slices in a row (the three views, then the next refresh); what it
// reuses between renders must never show: each picture equals a fresh channel's.
TEST(ImageChannel, RenderSequencesMatchFreshChannels)
{
    struct Step
    {
        std::vector<unsigned short> values;
        int min, max, gamma, r;
    };
    const std::vector<Step> steps = {
        {{10, 20, 30}, 0, 100, 0, 255},
        {{5, 25, 90}, 0, 100, 0, 255},      // wider span, same settings
        {{200, 300}, 0, 100, 0, 255},       // disjoint span above
        {{1, 2}, 0, 100, 0, 255},           // and below
        {{10, 20, 30}, 0, 100, 4, 255},     // gamma changes every entry
        {{10, 20, 30}, 0, 50, 4, 255},      // so does the range
        {{10, 20, 30}, 0, 50, 4, 100},      // and the colour
        {{65535, 0, 40000}, 0, 50000, -3, 255},
    };
    ImageChannel reused(0, 0, 0, 255, 128, 64);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        reused.m_min = s.min;
        reused.m_max = s.max;
        reused.m_gamma = s.gamma;
        reused.m_r = s.r;
        ImageChannel fresh(s.min, s.max, s.gamma, s.r, 128, 64);
        const auto slice = Row(s.values);
        const RGBABuffer a = reused.RenderToRGBA(slice);
        const RGBABuffer b = fresh.RenderToRGBA(slice);
        ASSERT_TRUE(a && b);
        EXPECT_TRUE(std::equal(a.get(), a.get() + 4 * s.values.size(), b.get())) << "step " << i;
    }
}
