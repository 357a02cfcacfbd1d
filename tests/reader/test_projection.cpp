#include <gtest/gtest.h>

#include <algorithm>

#include "ImagePermutation.h"
#include "SliceCache.h"
#include "ViewBuffers.h"
#include "FormulaImage.h"

using ImageReader::ImagePermutation;
using ImageReader::Vector;
using Slice = ImageReader::ImageSlice<unsigned short>;

namespace {
// Distinct, irregular values so a wrong index cannot go unnoticed.
unsigned short value4x3x5(const std::vector<int>& c)
{
    return static_cast<unsigned short>((c[0] * 37 + c[1] * 101 + c[2] * 59 + (c[0] * c[2]) % 7 * 1000) % 4093);
}

unsigned short pixel(const Slice& s, int x, int y) { return s.GetData()[x + y * s.GetSize()[0]]; }
} // namespace

TEST(MaximumProjection, CollapsesTheThirdDimension)
{
    FormulaImage img({4, 3, 5}, value4x3x5);
    const Slice out = img.GetMaximumProjection(0, 1, V({-1, -1, -1}));
    ASSERT_EQ(out.GetSize(), Vector(4, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            unsigned short m = 0;
            for (int z = 0; z < 5; ++z)
                m = std::max(m, img.at({x, y, z}));
            EXPECT_EQ(pixel(out, x, y), m) << x << "," << y;
        }
    EXPECT_EQ(img.reads, 5);

    const Slice same = img.GetMaximumProjection(0, 1);
    EXPECT_TRUE(std::equal(out.GetData(), out.GetData() + 12, same.GetData())) << "the short form frees every dimension";
}

TEST(MaximumProjection, SideViewsAndPinnedPlanes)
{
    FormulaImage img({4, 3, 5}, value4x3x5);

    const Slice xz = img.GetMaximumProjection(0, 2, V({-1, -1, -1}));
    ASSERT_EQ(xz.GetSize(), Vector(4, 5));
    for (int z = 0; z < 5; ++z)
        for (int x = 0; x < 4; ++x) {
            unsigned short m = 0;
            for (int y = 0; y < 3; ++y)
                m = std::max(m, img.at({x, y, z}));
            EXPECT_EQ(pixel(xz, x, z), m);
        }

    const Slice xzAtRow = img.GetMaximumProjection(0, 2, V({-1, 2, -1}));
    for (int z = 0; z < 5; ++z)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(xzAtRow, x, z), img.at({x, 2, z}));

    const Slice zy = img.GetMaximumProjection(2, 1, V({3, -1, -1}));
    ASSERT_EQ(zy.GetSize(), Vector(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int z = 0; z < 5; ++z)
            EXPECT_EQ(pixel(zy, z, y), img.at({3, y, z})) << "YZ view through x = 3";

    const Slice plane3 = img.GetMaximumProjection(0, 1, V({-1, -1, 3}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(plane3, x, y), img.at({x, y, 3}));
}

TEST(MaximumProjection, LineProfileAndEmptyPlanes)
{
    FormulaImage img({4, 3, 5}, value4x3x5);
    img.failing.insert({2});

    const Slice line = img.GetMaximumProjection(2, -1, V({1, 2, -1}));
    ASSERT_EQ(line.GetSize(), Vector(5, 1));
    for (int z = 0; z < 5; ++z)
        EXPECT_EQ(line.GetData()[z], z == 2 ? 0 : img.at({1, 2, z})) << z;

    const Slice proj = img.GetMaximumProjection(0, 1, V({-1, -1, -1}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            unsigned short m = 0;
            for (int z : {0, 1, 3, 4})
                m = std::max(m, img.at({x, y, z}));
            EXPECT_EQ(pixel(proj, x, y), m) << "the empty plane at z = 2 is skipped";
        }

    EXPECT_TRUE(img.GetMaximumProjection(0, 1, V({-1, -1, 2})).IsEmpty()) << "only missing planes: nothing";
    EXPECT_TRUE(img.GetMaximumProjection(0, -1, V({-1, 1, 2})).IsEmpty());
}

TEST(MaximumProjection, TwoDimensionalTransposeAndCollapsedRows)
{
    FormulaImage img({4, 3}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0] * 10 + c[1]); });
    const Slice t = img.GetMaximumProjection(1, 0);
    ASSERT_EQ(t.GetSize(), Vector(3, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(pixel(t, x, y), y * 10 + x);
    EXPECT_EQ(img.reads, 1);

    // Dimension 0 collapsed: the row maximum, i.e. the value at x = 3.
    FormulaImage cube({4, 3, 2}, value4x3x5);
    const Slice yz = cube.GetMaximumProjection(1, 2, V({-1, -1, -1}));
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 3; ++y) {
            unsigned short m = 0;
            for (int x = 0; x < 4; ++x)
                m = std::max(m, cube.at({x, y, z}));
            EXPECT_EQ(pixel(yz, y, z), m);
        }
}

TEST(MaximumProjection, FourDimensionsWithOnePinned)
{
    FormulaImage img({3, 2, 4, 3}, [](const std::vector<int>& c) {
        return static_cast<unsigned short>((c[0] * 7 + c[1] * 13 + c[2] * 29 + c[3] * 31 + c[2] * c[3] * 17) % 97);
    });
    const Slice out = img.GetMaximumProjection(0, 3, V({-1, 1, -1, -1}));
    ASSERT_EQ(out.GetSize(), Vector(3, 3));
    for (int t = 0; t < 3; ++t)
        for (int x = 0; x < 3; ++x) {
            unsigned short m = 0;
            for (int z = 0; z < 4; ++z)
                m = std::max(m, img.at({x, 1, z, t}));
            EXPECT_EQ(pixel(out, x, t), m);
        }
    EXPECT_EQ(img.reads, 12);
}

TEST(ImagePermutation, OrdersOfThreeDimensions)
{
    FormulaImage img({4, 3, 5}, value4x3x5);
    ImageReader::SliceCache<unsigned short> cache(&img);

    ImagePermutation<unsigned short> identity(&cache, V({0, 1, 2}));
    EXPECT_EQ(identity.GetSize(), V({4, 3, 5}));
    const Slice id = identity.GetSlice(V({2}));
    EXPECT_NE(id.GetData(), cache.GetSlice(V({2})).GetData()) << "always a new buffer";
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(id, x, y), img.at({x, y, 2}));

    ImagePermutation<unsigned short> transpose(&cache, V({1, 0, 2}));
    EXPECT_EQ(transpose.GetSize(), V({3, 4, 5}));
    const Slice tr = transpose.GetSlice(V({4}));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(pixel(tr, x, y), img.at({y, x, 4}));

    ImagePermutation<unsigned short> xz(&img, V({0, 2, 1}));
    EXPECT_EQ(xz.GetSize(), V({4, 5, 3}));
    img.reads = 0;
    const Slice xzs = xz.GetSlice(V({1}));
    EXPECT_EQ(img.reads, 1 + 5) << "one read at the start, one per output row";
    for (int z = 0; z < 5; ++z)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(xzs, x, z), img.at({x, 1, z}));

    ImagePermutation<unsigned short> zx(&img, V({2, 0, 1}));
    EXPECT_EQ(zx.GetSize(), V({5, 4, 3}));
    img.reads = 0;
    const Slice zxs = zx.GetSlice(V({2}));
    EXPECT_EQ(img.reads, 1 + 5) << "one read at the start, one per output column";
    for (int x = 0; x < 4; ++x)
        for (int z = 0; z < 5; ++z)
            EXPECT_EQ(pixel(zxs, z, x), img.at({x, 2, z}));
}

TEST(ImagePermutation, EmptySourcePlanesGiveZeros)
{
    FormulaImage img({4, 3, 5}, [](const std::vector<int>&) { return static_cast<unsigned short>(500); });
    img.failing.insert({3});
    ImagePermutation<unsigned short> xz(&img, V({0, 2, 1}));
    const Slice s = xz.GetSlice(V({0}));
    for (int z = 0; z < 5; ++z)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(s, x, z), z == 3 ? 0 : 500);

    ImagePermutation<unsigned short> bad(&img, V({0, 1, 7}));
    EXPECT_EQ(bad.GetSlice(V({0})).GetData(), nullptr) << "an order that is no permutation gives nothing";
}

TEST(ImagePermutation, BothPlaneAxesFromHigherDimensions)
{
    FormulaImage img({2, 2, 3, 4}, [](const std::vector<int>& c) {
        return static_cast<unsigned short>(c[0] + 2 * c[1] + 4 * c[2] + 12 * c[3]);
    });
    ImagePermutation<unsigned short> p(&img, V({3, 2, 1, 0}));
    EXPECT_EQ(p.GetSize(), V({4, 3, 2, 2}));
    const Slice s = p.GetSlice(Vector(1, 0)); // source y = 1, x = 0
    for (int z = 0; z < 3; ++z)
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(pixel(s, t, z), img.at({0, 1, z, t}));
}

namespace {
unsigned short value5x4xZ(const std::vector<int>& c)
{
    return static_cast<unsigned short>(1 + (c[0] * 131 + c[1] * 17 + c[2] * 7 + (c[0] * c[2]) % 11 * 300) % 9000);
}

// Decodes bands alone, as a chunked reader does, and counts what it was asked for.
class BandImage : public FormulaImage
{
public:
    using FormulaImage::FormulaImage;
    bool ReadsBands() const override { return true; }
    Slice GetRows(const Vector& p, int y0, int y1) override
    {
        ++bandReads;
        return CutRows(makePlane(p), y0, y1);
    }
    Slice GetColumns(const Vector& p, int x0, int x1) override
    {
        ++bandReads;
        return CutColumns(makePlane(p), x0, x1);
    }
    int bandReads = 0;

private:
    Slice makePlane(const Vector& p)
    {
        const int before = reads;
        Slice s = GetSlice(p);
        reads = before; // not a plane read as far as the view is concerned
        return s;
    }
};
} // namespace

// More planes than one block of the gather, in every orientation a side view takes, with a
// plane that cannot be read (zeros, the others still there).
TEST(SideViews, EveryOrientationAcrossBlocksOfPlanes)
{
    constexpr int Z = 150;
    FormulaImage img({5, 4, Z}, value5x4xZ);
    img.failing.insert({70});
    ImageReader::SliceCache<unsigned short> cache(&img, size_t(64) << 20);

    const Slice yz = cache.GetMaximumProjection(2, 1, V({3, -1, -1}));
    ASSERT_EQ(yz.GetSize(), Vector(Z, 4));
    const Slice zy = cache.GetMaximumProjection(1, 2, V({3, -1, -1}));
    ASSERT_EQ(zy.GetSize(), Vector(4, Z));
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < 4; ++y) {
            const unsigned short want = z == 70 ? 0 : img.at({3, y, z});
            EXPECT_EQ(pixel(yz, z, y), want) << "YZ " << y << "," << z;
            EXPECT_EQ(pixel(zy, y, z), want) << "ZY " << y << "," << z;
        }

    const Slice xz = cache.GetMaximumProjection(0, 2, V({-1, 2, -1}));
    ASSERT_EQ(xz.GetSize(), Vector(5, Z));
    const Slice zx = cache.GetMaximumProjection(2, 0, V({-1, 2, -1}));
    ASSERT_EQ(zx.GetSize(), Vector(Z, 5));
    for (int z = 0; z < Z; ++z)
        for (int x = 0; x < 5; ++x) {
            const unsigned short want = z == 70 ? 0 : img.at({x, 2, z});
            EXPECT_EQ(pixel(xz, x, z), want) << "XZ " << x << "," << z;
            EXPECT_EQ(pixel(zx, z, x), want) << "ZX " << x << "," << z;
        }
    EXPECT_TRUE(cache.GetMaximumProjection(2, 1, V({0, -1, 70})).IsEmpty()) << "only the missing plane";

    ImageReader::ProjectionControl control;
    control.cancel = true;
    EXPECT_TRUE(cache.GetMaximumProjection(2, 1, V({3, -1, -1}), &control).IsEmpty());
}

// A side view of a 4-D image at a pinned t copies that t's samples; with t collapsed it is
// still the maximum over t.
TEST(SideViews, PinnedAndCollapsedFourthDimension)
{
    const auto f = [](const std::vector<int>& c) {
        return static_cast<unsigned short>((c[0] * 7 + c[1] * 13 + c[2] * 29 + c[3] * 31 + c[2] * c[3] * 17) % 97);
    };
    FormulaImage img({3, 6, 70, 3}, f);
    ImageReader::SliceCache<unsigned short> cache(&img, size_t(64) << 20);
    const Slice atT = cache.GetMaximumProjection(2, 1, V({1, -1, -1, 2}));
    const Slice overT = cache.GetMaximumProjection(2, 1, V({1, -1, -1, -1}));
    ASSERT_EQ(atT.GetSize(), Vector(70, 6));
    ASSERT_EQ(overT.GetSize(), Vector(70, 6));
    for (int z = 0; z < 70; ++z)
        for (int y = 0; y < 6; ++y) {
            EXPECT_EQ(pixel(atT, z, y), f({1, y, z, 2}));
            EXPECT_EQ(pixel(overT, z, y), std::max({f({1, y, z, 0}), f({1, y, z, 1}), f({1, y, z, 2})}));
        }
}

// A source that decodes bands is asked for bands, not planes, and a plane the cache already
// keeps serves its band without asking the source again.
TEST(SideViews, BandSourcesReadBandsAndKeptPlanesServeThem)
{
    BandImage img({5, 4, 90}, value5x4xZ);
    ImageReader::SliceCache<unsigned short> cache(&img, size_t(64) << 20);
    cache.GetSlice(V({10}));
    img.reads = 0;
    const Slice yz = cache.GetMaximumProjection(2, 1, V({4, -1, -1}));
    const Slice xz = cache.GetMaximumProjection(0, 2, V({-1, 1, -1}));
    ASSERT_EQ(yz.GetSize(), Vector(90, 4));
    ASSERT_EQ(xz.GetSize(), Vector(5, 90));
    for (int z = 0; z < 90; ++z) {
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(pixel(yz, z, y), img.at({4, y, z}));
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(pixel(xz, x, z), img.at({x, 1, z}));
    }
    EXPECT_EQ(img.reads, 0);
    EXPECT_EQ(img.bandReads, 2 * 89);
    EXPECT_EQ(cache.GetCount(), 1u) << "bands are not kept";
}

// The XY view of one plane is that plane, shared with the cache, not a copy of it.
TEST(SideViews, SinglePlaneIsSharedNotCopied)
{
    FormulaImage img({5, 4, 9}, value5x4xZ);
    img.failing.insert({3});
    ImageReader::SliceCache<unsigned short> cache(&img, size_t(64) << 20);
    const Slice xy = cache.GetMaximumProjection(0, 1, V({-1, -1, 7}));
    ASSERT_EQ(xy.GetSize(), Vector(5, 4));
    EXPECT_EQ(xy.GetData(), cache.GetSlice(V({7})).GetData());
    EXPECT_EQ(pixel(xy, 4, 3), img.at({4, 3, 7}));
    EXPECT_TRUE(cache.GetMaximumProjection(0, 1, V({-1, -1, 3})).IsEmpty());
}

// A view computed again takes the buffer the last one gave back, cleared: a plane missing
// this time reads zeros, not what the previous view left there.
TEST(SideViews, ViewBuffersAreReusedCleared)
{
    ImageReader::ViewBuffers::Drop();
    FormulaImage img({4, 512, 260}, value5x4xZ);
    const unsigned short* first = nullptr;
    {
        const Slice yz = img.GetMaximumProjection(2, 1, V({1, -1, -1}));
        ASSERT_EQ(yz.GetSize(), Vector(260, 512));
        EXPECT_EQ(pixel(yz, 100, 7), img.at({1, 7, 100}));
        first = yz.GetData();
    }
    EXPECT_GE(ImageReader::ViewBuffers::Waiting(), size_t(260) * 512 * 2);
    img.failing.insert({100});
    const Slice again = img.GetMaximumProjection(2, 1, V({1, -1, -1}));
    EXPECT_EQ(again.GetData(), first) << "the waiting buffer is taken";
    for (int y = 0; y < 512; ++y) {
        ASSERT_EQ(pixel(again, 100, y), 0) << y;
        ASSERT_EQ(pixel(again, 99, y), img.at({1, y, 99})) << y;
    }
    ImageReader::ViewBuffers::Drop();
    EXPECT_EQ(ImageReader::ViewBuffers::Waiting(), 0u);
}
