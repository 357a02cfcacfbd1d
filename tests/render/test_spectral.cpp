#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <limits>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryImage.h"
#include "SpectralColour.h"
#include "SpectralProjection.h"

using namespace ImageViewer;
using Sums = std::vector<unsigned>;

namespace {

// Colour table entries (blue, green, red) worked out by hand from the bands.
const std::map<int, Sums> kWeights = {
    {700, {0, 0, 256}},  {545, {0, 392, 128}}, {600, {0, 272, 256}}, {450, {546, 78, 0}},
    {500, {273, 392, 0}}, {400, {354, 0, 110}}, {300, {0, 0, 0}},   {200, {0, 0, 0}},   {100, {0, 0, 0}},
    {-100, {0, 0, 0}},   {-300, {0, 0, 0}},
};

// Brute force over every voxel: the view shows voxel c at (c[dim0], c[dim1]) when every other
// dimension is summed (pv < 0) or fixed at c's coordinate; the spectrum is always summed.
// Planes that cannot be read add nothing.
Sums Reference(MemoryImage& image, int dim0, int dim1, int dims, const ImageReader::Vector& pv,
               const ImageReader::Vector& wl, unsigned m0)
{
    const int w = image.extent[dim0];
    Sums sums(static_cast<size_t>(4 * w * image.extent[dim1]), 0);
    image.Each([&](const std::vector<int>& c, unsigned short& v, size_t plane) {
        for (int k = 0; k < static_cast<int>(c.size()); ++k)
            if (k != dim0 && k != dim1 && k != dims && pv[k] >= 0 && c[k] != pv[k])
                return;
        const unsigned d = v > m0 && !image.failing.count(plane) ? v - m0 : 0;
        for (int j = 0; j < 3; ++j)
            sums[static_cast<size_t>(4 * (c[dim1] * w + c[dim0]) + j)] += (d * kWeights.at(wl[c[dims]])[j]) >> 8;
    });
    return sums;
}

Sums Values(const ImageReader::ImageSlice<unsigned>& sums)
{
    return Sums(sums.GetData(), sums.GetData() + 4 * sums.GetSize().prod());
}

// 4 x 3 x 6 with the spectrum along dimension 2; index 2 lies outside the visible range and
// holds extreme values that must not reach the minimum and maximum.
MemoryImage Spectrum()
{
    MemoryImage image({4, 3, 6});
    image.Fill([](const std::vector<int>& c) {
        return c[2] == 2 ? ((c[0] + c[1]) % 2 ? 65535 : 0) : 100 + 10 * c[0] + 7 * c[1] + 50 * c[2];
    });
    return image;
}

const ImageReader::Vector kWl6 = V({700, 545, 300, 600, 450, 500});

} // namespace

TEST(SpectralProjection, SingleSampleAt545)
{
    MemoryImage image({1, 1, 1}, {1000});
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), V({545}), mi, ma);
    EXPECT_EQ(Values(sums), (Sums{0, 1531, 500, 0}));
    EXPECT_EQ(ma, 1000u);
}

TEST(SpectralProjection, SumsAndRangeOfEveryViewMatchBruteForce)
{
    MemoryImage spectrum = Spectrum(), large({50, 30, 70}), row({6, 2}), column({2, 6}), deep({3, 2, 2, 4});
    large.Fill([](const std::vector<int>& c) { return (c[0] * 977 + c[1] * 131 + c[2] * 4099) % 60000; });
    row.Fill([](const std::vector<int>& c) { return c[0] == 2 ? 5 : 1000 + 100 * c[0] + 9 * c[1]; });
    column.Fill([](const std::vector<int>& c) { return c[1] == 2 ? 5 : 1000 + 100 * c[1] + 9 * c[0]; });
    deep.Fill([](const std::vector<int>& c) { return 200 + 3 * c[0] + 5 * c[1] + 40 * c[2] + 70 * c[3]; });
    ImageReader::Vector wl70;
    for (int k = 0; k < 70; ++k)
        wl70.push_back(kWl6[k % 6]);
    const ImageReader::Vector all3 = V({-1, -1, -1}), wl4 = V({450, 200, 600, 400});
    struct Case
    {
        MemoryImage* image;
        int dim0, dim1, dims;
        ImageReader::Vector pv, wl;
        unsigned mi, wantMi, wantMa;
        std::set<size_t> failing = {};
    };
    const Case cases[] = {
        // The projected spectrum: an incoming minimum is kept or lowered, never raised.
        {&spectrum, 0, 1, 2, V({7, 7, 3}), kWl6, 60000, 100, 394},
        {&spectrum, 0, 1, 2, all3, kWl6, 50, 50, 394},
        // 1500 pixels span two tiles of the plane loop, 70 planes more than one batch of slices.
        {&large, 0, 1, 2, all3, wl70, 65535, 0, 59997},
        {&large, 0, 1, 2, all3, wl70, 1000, 0, 59997},
        // The spectrum as a view axis, the third dimension fixed by the position.
        {&spectrum, 0, 2, 2, V({0, 1, 0}), kWl6, 0, 0, 387},
        {&spectrum, 2, 1, 2, V({3, 0, 0}), kWl6, 0, 0, 394},
        // Along dimension 1 the row of an invisible wavelength is skipped; along dimension 0
        // no row is: the invisible column counts.
        {&column, 0, 1, 1, V({-1, -1}), kWl6, 1050, 1000, 1509},
        {&row, 0, 1, 0, V({-1, -1}), kWl6, 1050, 5, 1509},
        // Other free dimensions are summed and fixed ones select.
        {&deep, 0, 1, 3, V({-1, -1, -1, 0}), wl4, 0, 0, 461},
        {&deep, 0, 1, 3, V({-1, -1, 0, 0}), wl4, 0, 0, 421},
        {&deep, 0, 1, 3, V({-1, -1, 1, 0}), wl4, 0, 0, 461},
        {&deep, 0, 2, 3, V({-1, 1, -1, -1}), wl4, 0, 0, 461},
        // A plane that cannot be read adds nothing.
        {&spectrum, 0, 1, 2, all3, kWl6, 0, 0, 394, {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        c.image->failing = c.failing;
        unsigned mi = c.mi, ma = 0;
        const auto sums = GetSpectralProjection(*c.image, c.dim0, c.dim1, c.dims, c.pv, c.wl, mi, ma);
        ASSERT_EQ(sums.GetSize(), V({c.image->extent[c.dim0], c.image->extent[c.dim1]}));
        EXPECT_EQ(Values(sums), Reference(*c.image, c.dim0, c.dim1, c.dims, c.pv, c.wl, c.mi));
        EXPECT_EQ(mi, c.wantMi);
        EXPECT_EQ(ma, c.wantMa);
    }
    unsigned mi = 0, ma = 0;
    EXPECT_TRUE(GetSpectralProjection(spectrum, 0, 1, 2, all3, V({700, 545}), mi, ma).IsEmpty());
    EXPECT_TRUE(GetSpectralProjection(spectrum, 0, 3, 2, all3, kWl6, mi, ma).IsEmpty());
    EXPECT_TRUE(GetSpectralProjection(spectrum, 0, 2, 2, V({-1, 9, -1}), kWl6, mi, ma).IsEmpty());
}

TEST(SpectralProjection, DefaultCalibrationBoundaries)
{
    const ImageReader::Vector wl = CalibrateWavelengths(367, 488, 646, 658, 1000);
    ASSERT_EQ(wl.size(), 1000u);
    const std::pair<int, int> expected[] = {{0, 264}, {189, 379}, {190, 380}, {367, 488}, {646, 658}, {847, 780}, {848, 781}};
    for (const auto& [index, nm] : expected)
        EXPECT_EQ(wl[index], nm) << index;

    // Index 0 (264 nm) and 848 contribute nothing; 190 and 847 do.
    MemoryImage image({1, 1, 1000});
    for (int k : {0, 190, 847, 848})
        image.voxels[static_cast<size_t>(k)] = 4000;
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), wl, mi, ma);
    // 380 nm: r 0.3, b 0.63993 -> (163, 0, 76); 780 nm: r 0.3 -> (0, 0, 76), each times 4000 / 256.
    EXPECT_EQ(Values(sums), (Sums{(4000 * 163) >> 8, 0, 2 * ((4000 * 76) >> 8), 0}));

    EXPECT_EQ(CalibrateWavelengths(5, 400, 5, 500, 10).size(), 0u); // two points at one index
}

TEST(SpectralDisplay, SumsToBytesIn64Bits)
{
    auto* block = static_cast<unsigned*>(std::malloc(8 * sizeof(unsigned)));
    const unsigned values[8] = {20000000, 67107840, 70000000, 0, 1000, 0, 4294967295u, 0};
    std::copy(values, values + 8, block);
    const ImageReader::ImageSlice<unsigned> sums(V({2, 1}), block);
    const auto Bytes = [&](long long scale) {
        const auto out = SpectralSumsToRGBA(sums, scale);
        return out ? std::vector<int>(out.get(), out.get() + 8) : std::vector<int>();
    };
    // 20000000 * 255 passes 2^32; in 64 bits it is 75.99... of 255.
    EXPECT_EQ(Bytes(65535ll * 1024), (std::vector<int>{75, 255, 255, 0, 0, 0, 255, 0}));
    // 20000000 * 255 / 1e9 = 5.1, 67107840 * 255 / 1e9 = 17.1; below 1 of 255 for every sum over 2^50.
    EXPECT_EQ(Bytes(1000000000), (std::vector<int>{5, 17, 17, 0, 0, 0, 255, 0}));
    EXPECT_EQ(Bytes(1ll << 50), std::vector<int>(8, 0));
    EXPECT_EQ(Bytes(0), std::vector<int>(8, 0));
    EXPECT_EQ(Bytes(-5), std::vector<int>(8, 0));
    EXPECT_FALSE(SpectralSumsToRGBA(ImageReader::ImageSlice<unsigned>(), 10));
}

TEST(SpectralDisplay, RenderSpectralViewWidensAndScales)
{
    MemoryImage s = Spectrum();
    // Index i at 700 - 200 i nm: only indices 0 and 1 are visible.
    const Sums sums = Reference(s, 0, 1, 2, V({0, 0, 0}), V({700, 500, 300, 100, -100, -300}), 0);
    ImageChannel global(0, 150, 0, 255, 255, 255, true);
    const auto buf = RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), 0, 700, 2, 300, global);
    ASSERT_TRUE(buf);
    EXPECT_EQ(std::pair(global.m_min, global.m_max), std::pair(0, 194)); // widened by the largest visible sample
    for (size_t i = 0; i < sums.size(); ++i)
        ASSERT_EQ(buf[i], std::min(sums[i] * 255ull / (194 * 6), 255ull)) << i;

    // A range end dragged below 0 offsets by 0 and is left alone.
    ImageChannel negative(-50, 1000, 0, 255, 255, 255, true);
    const auto withNegative = RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), 0, 700, 2, 300, negative);
    EXPECT_EQ(std::pair(negative.m_min, negative.m_max), std::pair(-50, 1000));
    EXPECT_EQ(withNegative[2], sums[2] * 255ull / 6000);
    EXPECT_GT(withNegative[2], 0);

    // Calibrations that give no wavelengths show black.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 0.0}) {
        ImageChannel g(0, 300);
        const auto black = RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), 0, 700, bad, 600, g);
        ASSERT_TRUE(black) << bad;
        EXPECT_EQ(std::vector<int>(black.get(), black.get() + 4 * 12), std::vector<int>(4 * 12, 0)) << bad;
    }
}

namespace {

// Hue in degrees (0 red, 60 yellow, 120 green, 240 blue) of sRGB bytes.
double Hue(int r, int g, int b)
{
    const int hi = std::max({r, g, b}), lo = std::min({r, g, b});
    if (hi == lo)
        return 0;
    const double d = hi - lo;
    double h = hi == r ? (g - b) / d : hi == g ? 2 + (b - r) / d : 4 + (r - g) / d;
    h *= 60;
    return h < 0 ? h + 360 : h;
}

// 2 x 1 x 301 with one wavelength per nm from 400 to 700; pixel 0 holds `left(nm)`, pixel 1 0.
MemoryImage Lambda(const std::function<unsigned short(int)>& left)
{
    MemoryImage image({2, 1, 301});
    image.Fill([&](const std::vector<int>& c) { return c[0] == 0 ? left(400 + c[2]) : 0; });
    return image;
}

std::vector<double> Nm400To700()
{
    std::vector<double> nm;
    for (int w = 400; w <= 700; ++w)
        nm.push_back(w);
    return nm;
}

} // namespace

// Tolerances, in sRGB bytes and hue degrees: a flat spectrum's channels within 3 of each
// other and at least 250; a 610 nm line red-orange to orange (hue 5..40, green clearly
// present, blue under 10 % of red); a 450 nm line blue (hue 220..260); a 530 nm line green
// (hue 90..150).
TEST(TrueColour, LinesAndAFlatSpectrumAgainstTheirCieColours)
{
    const auto line = [](double nm) {
        const std::array<unsigned char, 3> c = WavelengthToSrgb(nm);
        return std::array<int, 3>{c[0], c[1], c[2]};
    };
    const auto orange = line(610), blue = line(450), green = line(530);
    EXPECT_EQ(orange[0], 255);
    EXPECT_GE(Hue(orange[0], orange[1], orange[2]), 5);
    EXPECT_LE(Hue(orange[0], orange[1], orange[2]), 40);
    EXPECT_GT(orange[1], 25);
    EXPECT_LT(orange[2], 26);
    EXPECT_GE(Hue(blue[0], blue[1], blue[2]), 220);
    EXPECT_LE(Hue(blue[0], blue[1], blue[2]), 260);
    EXPECT_GE(Hue(green[0], green[1], green[2]), 90);
    EXPECT_LE(Hue(green[0], green[1], green[2]), 150);
    EXPECT_EQ(line(300), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(line(900), (std::array<int, 3>{0, 0, 0}));

    // A flat spectrum at the range's top is white; half of it a neutral grey (sRGB 188 is
    // half the light).
    for (const auto& [level, expected] : {std::pair(1000, 255), std::pair(500, 188)}) {
        MemoryImage flat = Lambda([level = level](int) { return static_cast<unsigned short>(level); });
        ImageChannel global(0, 1000);
        const RGBABuffer px = RenderSpectralView(flat, 0, 1, 2, V({-1, -1, -1}), Nm400To700(), global);
        ASSERT_TRUE(px);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(px[static_cast<size_t>(c)], expected, 3) << level << " " << c;
        EXPECT_EQ(px[4], 0); // the empty pixel is black
    }

    // Single lines in the stack take their line's hue; the range's offset is left out.
    for (const auto& [nm, lo, hi] : {std::tuple(610, 5.0, 40.0), std::tuple(450, 220.0, 260.0)}) {
        MemoryImage one = Lambda([nm = nm](int w) { return static_cast<unsigned short>(w == nm ? 5000 : 100); });
        ImageChannel global(100, 200);
        const RGBABuffer px = RenderSpectralView(one, 0, 1, 2, V({-1, -1, -1}), Nm400To700(), global);
        ASSERT_TRUE(px);
        const int b = px[0], g = px[1], r = px[2];
        EXPECT_GT(std::max({r, g, b}), 100) << nm;
        EXPECT_GE(Hue(r, g, b), lo) << nm;
        EXPECT_LE(Hue(r, g, b), hi) << nm;
    }
}

// Samples that span only part of what the channels respond to are not white light: their
// sums are not levelled, so a 450 nm line among samples of 430-470 nm stays blue (levelling
// doubled its red and halved its blue: purple), while 400-700 nm is still levelled.
TEST(TrueColour, ANarrowBandKeepsItsLinesHues)
{
    for (const auto& [lo, hi] : {std::pair(430.0, 470.0), std::pair(440.0, 460.0), std::pair(400.0, 500.0)}) {
        std::vector<double> nm;
        for (int i = 0; i <= 40; ++i)
            nm.push_back(lo + (hi - lo) * i / 40);
        const std::vector<std::array<double, 3>> weights = TrueColourWeights(nm);
        const std::array<double, 3>& line = weights[20]; // 450 nm
        const double top = std::max({line[0], line[1], line[2]});
        ASSERT_GT(top, 0) << lo;
        const auto byte = [&](int c) { return static_cast<int>(std::lround(255 * EncodeSrgb(line[static_cast<size_t>(c)] / top))); };
        EXPECT_GE(Hue(byte(0), byte(1), byte(2)), 220) << lo << "-" << hi;
        EXPECT_LE(Hue(byte(0), byte(1), byte(2)), 260) << lo << "-" << hi;
    }
    std::vector<double> visible;
    for (int w = 400; w <= 700; w += 10)
        visible.push_back(w);
    std::array<double, 3> flat{0, 0, 0};
    for (const auto& w : TrueColourWeights(visible))
        for (size_t c = 0; c < 3; ++c)
            flat[c] += w[c];
    EXPECT_NEAR(flat[0] / flat[1], 1.0, 0.02);
}

// Along the spectrum (a view of x against wavelength) each row shows its own wavelength's
// colour, at full brightness for the range's top; the classic mapping stays available and
// equals the calibrated view's.
TEST(TrueColour, ViewAlongTheSpectrumAndTheClassicMapping)
{
    MemoryImage flat = Lambda([](int) { return 1000; });
    ImageChannel global(0, 1000);
    const RGBABuffer px = RenderSpectralView(flat, 0, 2, 2, V({-1, 0, -1}), Nm400To700(), global);
    ASSERT_TRUE(px);
    const auto at = [&](int nm) {
        const size_t i = 4 * static_cast<size_t>(2 * (nm - 400));
        return std::array<int, 3>{px[i + 2], px[i + 1], px[i]};
    };
    EXPECT_GE(Hue(at(610)[0], at(610)[1], at(610)[2]), 5);
    EXPECT_LE(Hue(at(610)[0], at(610)[1], at(610)[2]), 40);
    EXPECT_GE(Hue(at(450)[0], at(450)[1], at(450)[2]), 220);
    EXPECT_GT(std::max({at(550)[0], at(550)[1], at(550)[2]}), 200);

    MemoryImage s = Spectrum();
    ImageChannel a(0, 150, 0, 255, 255, 255, true), b(0, 150, 0, 255, 255, 255, true);
    const RGBABuffer calibrated = RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), 0, 700, 2, 300, a);
    const RGBABuffer classic =
        RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), {700, 500, 300, 100, -100, -300}, b, SpectralMapping::Classic);
    ASSERT_TRUE(calibrated && classic);
    EXPECT_EQ(std::vector<int>(calibrated.get(), calibrated.get() + 48), std::vector<int>(classic.get(), classic.get() + 48));
    // Too few wavelengths, or one that is not a number: black.
    ImageChannel c(0, 150);
    const RGBABuffer none = RenderSpectralView(s, 0, 1, 2, V({0, 0, 0}), {500, 600}, c);
    ASSERT_TRUE(none);
    EXPECT_EQ(std::vector<int>(none.get(), none.get() + 48), std::vector<int>(48, 0));
}
