#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "MemoryImage.h"
#include "SpectralProjection.h"

using namespace ImageViewer;

namespace {

// Colour table entries (blue, green, red) worked out by hand from the bands.
const std::map<int, std::vector<unsigned>> kWeights = {
    {700, {0, 0, 256}}, {545, {0, 392, 128}}, {600, {0, 272, 256}}, {450, {546, 78, 0}},
    {500, {273, 392, 0}}, {400, {354, 0, 110}}, {300, {0, 0, 0}},   {200, {0, 0, 0}},   {100, {0, 0, 0}},
    {-100, {0, 0, 0}},   {-300, {0, 0, 0}},
};

// Adds one sample to an expected sum pixel.
void AddSample(std::vector<unsigned>& px, unsigned v, unsigned m0, int wl)
{
    const unsigned d = v > m0 ? v - m0 : 0;
    const std::vector<unsigned>& c = kWeights.at(wl);
    for (int j = 0; j < 3; ++j)
        px[j] += (d * c[j]) >> 8;
}

std::vector<unsigned> SumsAt(const ImageReader::ImageSlice<unsigned int>& sums, int x, int y)
{
    const int w = sums.GetSize()[0];
    const unsigned* p = sums.GetData() + 4 * (y * w + x);
    return {p[0], p[1], p[2], p[3]};
}

// 4 x 3 x 6 with the spectrum along dimension 2; index 2 lies outside the visible range and
// holds extreme values that must not reach the minimum and maximum.
struct Spectrum
{
    MemoryImage image{{4, 3, 6}};
    ImageReader::Vector wl = V({700, 545, 300, 600, 450, 500});

    Spectrum()
    {
        image.Fill([](const std::vector<int>& c) -> unsigned short {
            if (c[2] == 2)
                return (c[0] + c[1]) % 2 ? 65535 : 0;
            return static_cast<unsigned short>(100 + 10 * c[0] + 7 * c[1] + 50 * c[2]);
        });
    }
    unsigned At(int x, int y, int s) { return image.at({x, y, s}); }
};

} // namespace

TEST(SpectralProjection, SingleSampleAt545)
{
    MemoryImage image({1, 1, 1});
    image.voxels[0] = 1000;
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), V({545}), mi, ma);
    ASSERT_FALSE(sums.IsEmpty());
    EXPECT_EQ(SumsAt(sums, 0, 0), (std::vector<unsigned>{0, 1531, 500, 0}));
    EXPECT_EQ(ma, 1000u);
}

TEST(SpectralProjection, ProjectedSpectrumSumsEveryVisibleIndex)
{
    Spectrum s;
    for (unsigned incomingMin : {60000u, 50u}) {
        unsigned mi = incomingMin, ma = 0;
        const unsigned m0 = incomingMin == 50u ? 50u : 60000u;
        const auto sums = GetSpectralProjection(s.image, 0, 1, 2, V({7, 7, 3}), s.wl, mi, ma);
        ASSERT_FALSE(sums.IsEmpty());
        EXPECT_EQ(sums.GetSize(), V({4, 3}));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                std::vector<unsigned> want(4, 0);
                for (int k = 0; k < 6; ++k)
                    AddSample(want, s.At(x, y, k), m0, s.wl[k]);
                EXPECT_EQ(SumsAt(sums, x, y), want) << x << "," << y << " m0 " << m0;
            }
        EXPECT_EQ(mi, std::min(incomingMin, 100u));
        EXPECT_EQ(ma, 100u + 30 + 14 + 250);
    }
}

TEST(SpectralProjection, LargePlanesInSeveralTilesAndBatches)
{
    // 1500 pixels span two tiles of the plane loop, 70 planes more than one batch of slices.
    MemoryImage image({50, 30, 70});
    image.Fill([](const std::vector<int>& c) {
        return static_cast<unsigned short>((c[0] * 977 + c[1] * 131 + c[2] * 4099) % 60000);
    });
    const int cycle[6] = {700, 545, 300, 600, 450, 500};
    ImageReader::Vector wl;
    for (int k = 0; k < 70; ++k)
        wl.push_back(cycle[k % 6]);
    unsigned mi = 65535, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), wl, mi, ma);
    ASSERT_EQ(sums.GetSize(), V({50, 30}));
    unsigned lo = 65535, hi = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x) {
            std::vector<unsigned> want(4, 0);
            for (int k = 0; k < 70; ++k) {
                const unsigned v = image.at({x, y, k});
                AddSample(want, v, 65535, wl[k]);
                if (wl[k] != 300) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
            ASSERT_EQ(SumsAt(sums, x, y), want) << x << "," << y;
        }
    EXPECT_EQ(mi, lo);
    EXPECT_EQ(ma, hi);

    // Again with an offset that leaves most of every sample.
    mi = 1000;
    const auto offset = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), wl, mi, ma);
    for (int y = 0; y < 30; y += 7)
        for (int x = 0; x < 50; x += 3) {
            std::vector<unsigned> want(4, 0);
            for (int k = 0; k < 70; ++k)
                AddSample(want, image.at({x, y, k}), 1000, wl[k]);
            ASSERT_EQ(SumsAt(offset, x, y), want) << x << "," << y;
        }
}

TEST(SpectralProjection, SpectrumAlongAViewAxis)
{
    Spectrum s;
    // Horizontal x, vertical spectrum, row fixed by the position: (x, k) shows sample (x, 1, k).
    unsigned mi = 0, ma = 0;
    auto sums = GetSpectralProjection(s.image, 0, 2, 2, V({0, 1, 0}), s.wl, mi, ma);
    ASSERT_EQ(sums.GetSize(), V({4, 6}));
    for (int k = 0; k < 6; ++k)
        for (int x = 0; x < 4; ++x) {
            std::vector<unsigned> want(4, 0);
            AddSample(want, s.At(x, 1, k), 0, s.wl[k]);
            EXPECT_EQ(SumsAt(sums, x, k), want) << x << "," << k;
        }
    EXPECT_EQ(ma, 100u + 30 + 7 + 250);

    // Horizontal spectrum, vertical y, column fixed: (k, y) shows sample (3, y, k).
    sums = GetSpectralProjection(s.image, 2, 1, 2, V({3, 0, 0}), s.wl, mi, ma);
    ASSERT_EQ(sums.GetSize(), V({6, 3}));
    for (int y = 0; y < 3; ++y)
        for (int k = 0; k < 6; ++k) {
            std::vector<unsigned> want(4, 0);
            AddSample(want, s.At(3, y, k), 0, s.wl[k]);
            EXPECT_EQ(SumsAt(sums, k, y), want) << k << "," << y;
        }
}

TEST(SpectralProjection, SpectrumAlongDimensionZeroColoursEachColumn)
{
    MemoryImage image({6, 2});
    image.Fill([](const std::vector<int>& c) {
        return static_cast<unsigned short>(c[0] == 2 ? 5 : 1000 + 100 * c[0] + 9 * c[1]);
    });
    const auto wl = V({700, 545, 300, 600, 450, 500});
    unsigned mi = 1050, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 0, V({-1, -1}), wl, mi, ma);
    ASSERT_EQ(sums.GetSize(), V({6, 2}));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x) {
            std::vector<unsigned> want(4, 0);
            AddSample(want, image.at({x, y}), 1050, wl[x]);
            EXPECT_EQ(SumsAt(sums, x, y), want);
        }
    // No row is skipped when the spectrum runs along the row: the invisible column counts.
    EXPECT_EQ(mi, 5u);
    EXPECT_EQ(ma, 1000u + 500 + 9);
    EXPECT_EQ(image.reads, 1);
}

TEST(SpectralProjection, OtherFreeDimensionsAreSummedAndFixedOnesSelect)
{
    // 3 x 2 x 2 x 4: depth z (dimension 2), spectrum (dimension 3).
    MemoryImage image({3, 2, 2, 4});
    image.Fill([](const std::vector<int>& c) {
        return static_cast<unsigned short>(200 + 3 * c[0] + 5 * c[1] + 40 * c[2] + 70 * c[3]);
    });
    const auto wl = V({450, 200, 600, 400});
    for (int z : {-1, 0, 1}) {
        unsigned mi = 0, ma = 0;
        const auto sums = GetSpectralProjection(image, 0, 1, 3, V({-1, -1, z, 0}), wl, mi, ma);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                std::vector<unsigned> want(4, 0);
                for (int zz = 0; zz < 2; ++zz)
                    if (z < 0 || zz == z)
                        for (int k = 0; k < 4; ++k)
                            AddSample(want, image.at({x, y, zz, k}), 0, wl[k]);
                EXPECT_EQ(SumsAt(sums, x, y), want) << "z " << z;
            }
    }
    // The same through a view whose vertical axis is the depth: (x, z) summed over the spectrum.
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 2, 3, V({-1, 1, -1, -1}), wl, mi, ma);
    ASSERT_EQ(sums.GetSize(), V({3, 2}));
    for (int zz = 0; zz < 2; ++zz)
        for (int x = 0; x < 3; ++x) {
            std::vector<unsigned> want(4, 0);
            for (int k = 0; k < 4; ++k)
                AddSample(want, image.at({x, 1, zz, k}), 0, wl[k]);
            EXPECT_EQ(SumsAt(sums, x, zz), want);
        }
}

TEST(SpectralProjection, MissingPlanesAndBadArguments)
{
    Spectrum s;
    s.image.failing.insert(3);
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(s.image, 0, 1, 2, V({-1, -1, -1}), s.wl, mi, ma);
    ASSERT_FALSE(sums.IsEmpty());
    std::vector<unsigned> want(4, 0);
    for (int k : {0, 1, 4, 5})
        AddSample(want, s.At(2, 1, k), 0, s.wl[k]);
    EXPECT_EQ(SumsAt(sums, 2, 1), want);

    EXPECT_TRUE(GetSpectralProjection(s.image, 0, 1, 2, V({-1, -1, -1}), V({700, 545}), mi, ma).IsEmpty());
    EXPECT_TRUE(GetSpectralProjection(s.image, 0, 3, 2, V({-1, -1, -1}), s.wl, mi, ma).IsEmpty());
    EXPECT_TRUE(GetSpectralProjection(s.image, 0, 2, 2, V({-1, 9, -1}), s.wl, mi, ma).IsEmpty());
}

TEST(SpectralProjection, DefaultCalibrationBoundaries)
{
    const ImageReader::Vector wl = CalibrateWavelengths(367, 488, 646, 658, 1000);
    ASSERT_EQ(wl.size(), 1000u);
    const std::pair<int, int> expected[] = {{0, 264}, {189, 379}, {190, 380}, {367, 488},
                                            {646, 658}, {847, 780}, {848, 781}};
    for (const auto& [index, nm] : expected)
        EXPECT_EQ(wl[index], nm) << index;

    // Index 0 (264 nm) and 848 contribute nothing; 190 and 847 do.
    MemoryImage image({1, 1, 1000});
    image.Fill([](const std::vector<int>& c) {
        return static_cast<unsigned short>(c[2] == 0 || c[2] == 190 || c[2] == 847 || c[2] == 848 ? 4000 : 0);
    });
    unsigned mi = 0, ma = 0;
    const auto sums = GetSpectralProjection(image, 0, 1, 2, V({-1, -1, -1}), wl, mi, ma);
    // 380 nm: r 0.3, b 0.63993 -> (163, 0, 76); 780 nm: r 0.3 -> (0, 0, 76), each times 4000 / 256.
    EXPECT_EQ(SumsAt(sums, 0, 0), (std::vector<unsigned>{(4000 * 163) >> 8, 0, 2 * ((4000 * 76) >> 8), 0}));

    EXPECT_EQ(CalibrateWavelengths(5, 400, 5, 500, 10).size(), 0u); // two points at one index
}

TEST(SpectralDisplay, SumsToBytesIn64Bits)
{
    auto* block = static_cast<unsigned*>(std::malloc(8 * sizeof(unsigned)));
    const unsigned values[8] = {20000000, 67107840, 70000000, 0, 1000, 0, 4294967295u, 0};
    std::copy(values, values + 8, block);
    const ImageReader::ImageSlice<unsigned> sums(V({2, 1}), block);

    const auto bytes = SpectralSumsToRGBA(sums, 65535ll * 1024);
    ASSERT_TRUE(bytes);
    // 20000000 * 255 passes 2^32; in 64 bits it is 75.99... of 255.
    const int want[8] = {75, 255, 255, 0, 0, 0, 255, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bytes[i], want[i]) << i;

    const auto small = SpectralSumsToRGBA(sums, 1000000000);
    EXPECT_EQ(small[0], 5);   // 20000000 * 255 / 1e9 = 5.1
    EXPECT_EQ(small[4], 0);
    EXPECT_EQ(small[6], 255);
    const auto huge = SpectralSumsToRGBA(sums, 1ll << 50);
    EXPECT_EQ(huge[6], 0);
    for (long long scale : {0ll, -5ll}) {
        const auto black = SpectralSumsToRGBA(sums, scale);
        ASSERT_TRUE(black);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(black[i], 0);
    }
    EXPECT_FALSE(SpectralSumsToRGBA(ImageReader::ImageSlice<unsigned>(), 10));
}

TEST(SpectralDisplay, RenderSpectralViewWidensAndScales)
{
    Spectrum s;
    // Index i at 700 - 200 i nm: only indices 0 and 1 are visible.
    ImageChannel global(0, 150, 0, 255, 255, 255, true);
    const auto buf = RenderSpectralView(s.image, 0, 1, 2, V({0, 0, 0}), 0, 700, 2, 300, global);
    ASSERT_TRUE(buf);
    EXPECT_EQ(global.m_min, 0);
    EXPECT_EQ(global.m_max, 194); // widened by the largest visible sample
    const int wls[6] = {700, 500, 300, 100, -100, -300};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            std::vector<unsigned> sum(4, 0);
            for (int k = 0; k < 6; ++k)
                AddSample(sum, s.At(x, y, k), 0, wls[k]);
            for (int j = 0; j < 4; ++j) {
                const unsigned long long b = std::min<unsigned long long>(sum[j] * 255ull / (194 * 6), 255);
                EXPECT_EQ(buf[4 * (y * 4 + x) + j], b) << x << "," << y << "," << j;
            }
        }

    // A range end dragged below 0 offsets by 0 and is left alone.
    ImageChannel negative(-50, 1000, 0, 255, 255, 255, true);
    const auto withNegative = RenderSpectralView(s.image, 0, 1, 2, V({0, 0, 0}), 0, 700, 2, 300, negative);
    EXPECT_EQ(negative.m_min, -50);
    EXPECT_EQ(negative.m_max, 1000);
    std::vector<unsigned> sum(4, 0);
    for (int k = 0; k < 6; ++k)
        AddSample(sum, s.At(0, 0, k), 0, wls[k]);
    EXPECT_EQ(withNegative[2], sum[2] * 255ull / 6000);
    EXPECT_GT(withNegative[2], 0);

    // Calibrations that give no wavelengths show black.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 0.0}) {
        ImageChannel g(0, 300);
        const auto black = RenderSpectralView(s.image, 0, 1, 2, V({0, 0, 0}), 0, 700, bad, 600, g);
        ASSERT_TRUE(black) << bad;
        for (int i = 0; i < 4 * 12; ++i)
            ASSERT_EQ(black[i], 0) << bad;
    }
}
