#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "Measurement.h"

using ImageReader::Vector;
using ImageViewer::BitmapSize;
using ImageViewer::Measurement;

namespace {

Vector vec(std::initializer_list<int> values)
{
    Vector v;
    for (int x : values)
        v.push_back(x);
    return v;
}

std::vector<int> elems(const Vector& v)
{
    std::vector<int> r;
    for (unsigned int i = 0; i < v.size(); ++i)
        r.push_back(v[static_cast<int>(i)]);
    return r;
}

} // namespace

TEST(PanelsMeasurement, RegionIncludesBothCorners)
{
    // 64 x 48 x 5, XY view on dimensions 0 and 1, cursor in plane 2.
    const Measurement m(vec({64, 48, 5}), 0, 1, -1, false);
    Vector start, end;
    ASSERT_TRUE(m.RegionBlock(vec({10, 10, 0}), vec({19, 14, 0}), vec({32, 24, 2}), start, end));
    EXPECT_EQ(elems(start), (std::vector<int>{10, 10, 2}));
    EXPECT_EQ(elems(end), (std::vector<int>{20, 15, 3}));
    const Vector block = end - start;
    EXPECT_EQ(block[0], 10);
    EXPECT_EQ(block[1], 5);
    const BitmapSize bitmap = Measurement::RegionBitmapSize(block[0], block[1], 2.0, 2.0);
    EXPECT_EQ(bitmap.width, 20);
    EXPECT_EQ(bitmap.height, 10);
}

TEST(PanelsMeasurement, RegionMustRunRightAndDown)
{
    const Measurement m(vec({64, 48}), 0, 1, -1, false);
    const Vector cursor = vec({1, 1});
    struct Case { Vector s, e; };
    const Case rejected[] = {
        {vec({19, 10}), vec({10, 14})}, // leftwards
        {vec({10, 14}), vec({19, 10})}, // upwards
        {vec({10, 10}), vec({10, 14})}, // no width
        {vec({10, 10}), vec({19, 10})}, // no height
    };
    for (const Case& c : rejected) {
        Vector start = vec({-7}), end = vec({-7});
        EXPECT_FALSE(m.RegionBlock(c.s, c.e, cursor, start, end));
        EXPECT_EQ(elems(start), std::vector<int>{-7}); // untouched
    }
}

TEST(PanelsMeasurement, RegionIsClampedToTheImage)
{
    const Measurement m(vec({64, 48}), 0, 1, -1, false);
    const Vector cursor = vec({0, 0});
    struct Case { Vector s, e; std::vector<int> start, end; };
    const Case cases[] = {
        {vec({-5, 40}), vec({70, 60}), {0, 40}, {64, 48}},
        {vec({70, 50}), vec({80, 60}), {63, 47}, {64, 48}}, // wholly right of and below the image
        {vec({-20, -20}), vec({-10, -10}), {0, 0}, {1, 1}}, // wholly left of and above it
        {vec({0, 0}), vec({63, 47}), {0, 0}, {64, 48}},
        {vec({INT_MIN, INT_MIN}), vec({INT_MAX - 1, INT_MAX - 1}), {0, 0}, {64, 48}},
        {vec({60, 40}), vec({INT_MAX, INT_MAX}), {60, 40}, {64, 48}},
    };
    for (const Case& c : cases) {
        Vector start, end;
        ASSERT_TRUE(m.RegionBlock(c.s, c.e, cursor, start, end));
        EXPECT_EQ(elems(start), c.start);
        EXPECT_EQ(elems(end), c.end);
    }
}

TEST(PanelsMeasurement, ChannelsSpanTheirDimensionOnlyInListMode)
{
    const Vector size = vec({64, 48, 3, 7});
    const Vector cursor = vec({1, 2, 1, 4});
    Vector start, end;
    ASSERT_TRUE(Measurement(size, 0, 1, 2, true).RegionBlock(vec({0, 0, 0, 0}), vec({3, 3, 0, 0}), cursor, start, end));
    EXPECT_EQ(elems(start), (std::vector<int>{0, 0, 0, 4}));
    EXPECT_EQ(elems(end), (std::vector<int>{4, 4, 3, 5}));
    ASSERT_TRUE(Measurement(size, 0, 1, 2, false).RegionBlock(vec({0, 0, 0, 0}), vec({3, 3, 0, 0}), cursor, start, end));
    EXPECT_EQ(elems(start), (std::vector<int>{0, 0, 1, 4}));
    EXPECT_EQ(elems(end), (std::vector<int>{4, 4, 2, 5}));

    Measurement(size, 0, 1, 2, true).PlaneBlock(cursor, start, end);
    EXPECT_EQ(elems(start), (std::vector<int>{0, 0, 0, 4}));
    EXPECT_EQ(elems(end), (std::vector<int>{64, 48, 3, 5}));
    Measurement(size, 3, 0, -1, false).PlaneBlock(cursor, start, end);
    EXPECT_EQ(elems(start), (std::vector<int>{0, 2, 1, 0}));
    EXPECT_EQ(elems(end), (std::vector<int>{64, 3, 2, 7}));
}

TEST(PanelsMeasurement, OrderPutsTheViewPlaneFirst)
{
    struct Case { int n, dx, dy, cd; std::vector<int> order; int chdim; };
    const Case cases[] = {
        {4, 0, 1, 3, {0, 1, 2, 3}, 3},
        {4, 0, 1, -1, {0, 1, 2, 3}, -1},
        {4, 2, 0, 1, {2, 0, 1, 3}, 2},
        {4, 3, 2, 0, {3, 2, 0, 1}, 2},
        {3, 1, 0, 2, {1, 0, 2}, 2},
        // The channel dimension on a view axis takes the entry appended last before it.
        {3, 1, 0, 0, {1, 0, 2}, 1},
        {3, 2, 0, 2, {2, 0, 1}, 2},
    };
    for (const Case& c : cases) {
        Vector size;
        for (int i = 0; i < c.n; ++i)
            size.push_back(5);
        const Measurement m(size, c.dx, c.dy, c.cd, c.cd >= 0);
        EXPECT_EQ(elems(m.Order()), c.order) << c.dx << " " << c.dy << " " << c.cd;
        EXPECT_EQ(m.ChannelDim(), c.chdim) << c.dx << " " << c.dy << " " << c.cd;
    }
}

TEST(PanelsMeasurement, RegionBitmapIsCapped)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { int w, h; double zx, zy; int bw, bh; };
    const Case cases[] = {
        {10, 5, 2.0, 2.0, 20, 10},
        {10, 5, 1.5, 0.5, 15, 2},
        {10, 5, 1e6, 1e6, 4096, 4096},
        {4096, 4097, 1.0, 1.0, 4096, 4096},
        {100000, 1, 1e300, 1.0, 4096, 1},
        {3, 3, 0.25, 0.25, 0, 0},
        {10, 5, nan, -2.0, 0, 0},
        {10, 5, inf, 1.0, 0, 5},
    };
    for (const Case& c : cases) {
        const BitmapSize b = Measurement::RegionBitmapSize(c.w, c.h, c.zx, c.zy);
        EXPECT_EQ(b.width, c.bw) << c.w << " x " << c.zx;
        EXPECT_EQ(b.height, c.bh) << c.h << " x " << c.zy;
    }
}

TEST(PanelsMeasurement, LineNeedsBothEndsInsideAndApart)
{
    const Measurement m(vec({64, 48, 3}), 0, 1, -1, false);
    struct Case { Vector s, e; bool ok; };
    const Case cases[] = {
        {vec({5, 7, 1}), vec({25, 7, 1}), true},
        {vec({0, 0, 1}), vec({63, 47, 1}), true},
        {vec({5, 7, 1}), vec({64, 7, 1}), false},
        {vec({5, 7, 1}), vec({5, 48, 1}), false},
        {vec({-1, 7, 1}), vec({25, 7, 1}), false},
        {vec({5, 7, 1}), vec({5, 7, 2}), false}, // the same point of the view
    };
    for (const Case& c : cases)
        EXPECT_EQ(m.LineAccepted(c.s, c.e), c.ok);
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 0, -1, -1, false).LineAccepted(vec({5, 7, 1}), vec({25, 7, 1})));
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 0, 0, -1, false).LineAccepted(vec({5, 7, 1}), vec({25, 7, 1})));
    Vector start, end;
    EXPECT_FALSE(Measurement(vec({64, 48, 3}), 1, 1, -1, false).RegionBlock(vec({1, 1, 1}), vec({5, 5, 1}), vec({0, 0, 0}), start, end));
}

TEST(PanelsMeasurement, PhysicalLengthOfALine)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Measurement xy(vec({64, 48}), 0, 1, -1, false);
    struct Case { Vector s, e; std::vector<double> ps; int length; };
    const Case cases[] = {
        {vec({5, 7}), vec({25, 7}), {100, 300}, 2000},
        {vec({5, 7}), vec({25, 7}), {0, 0}, 0},
        {vec({0, 0}), vec({3, 4}), {1, 1}, 5},
        {vec({0, 0}), vec({3, 4}), {0, 2}, 8},     // x has no size
        {vec({0, 0}), vec({3, 4}), {nan, 2}, 8},   // nor does a size that is not a number
        {vec({3, 4}), vec({0, 0}), {10, 10}, 50},
        {vec({0, 0}), vec({1, 1}), {1, 1}, 1},     // sqrt 2 truncates
        {vec({0, 0}), vec({3, 4}), {1e9, 1e9}, INT_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xy.LineLength(c.s, c.e, c.ps), c.length);

    // With the axes exchanged, the view's horizontal dimension 1 brings its own size.
    const Measurement yx(vec({64, 48}), 1, 0, -1, false);
    EXPECT_EQ(yx.LineLength(vec({2, 10}), vec({2, 20}), {100, 300}), 3000);
}
