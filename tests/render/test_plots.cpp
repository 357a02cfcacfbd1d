#include <cmath>
#include <vector>

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "HistogramRenderer.h"
#include "MemoryImage.h"
#include "ProfileRenderer.h"

using namespace ImageViewer;

static ::testing::Environment* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

namespace {

ChannelListPtr OneChannel(int r, int g, int b)
{
    auto list = std::make_shared<ChannelList>();
    list->push_back(std::make_shared<ImageChannel>(0, 65535, 0, r, g, b));
    return list;
}

MemoryImage Plane(int w, int h, const std::vector<unsigned short>& values)
{
    MemoryImage image({w, h});
    image.voxels = values;
    return image;
}

bool Transparent(const QImage& img, int x, int y)
{
    return qAlpha(img.pixel(x, y)) == 0;
}

bool Opaque(const QImage& img, int x, int y, int r, int g, int b)
{
    return img.pixel(x, y) == qRgba(r, g, b, 255);
}

// The row of the opaque top pixel in column x, -1 when the column has none.
int TopRow(const QImage& img, int x)
{
    for (int y = 0; y < img.height(); ++y)
        if (qAlpha(img.pixel(x, y)) == 255)
            return y;
    return -1;
}

bool ColumnEmpty(const QImage& img, int x)
{
    for (int y = 0; y < img.height(); ++y)
        if (!Transparent(img, x, y))
            return false;
    return true;
}

} // namespace

TEST(HistogramRenderer, EqualValuesFillBinZeroToTheTop)
{
    MemoryImage image = Plane(10, 10, std::vector<unsigned short>(100, 1000));
    HistogramRenderer hist(-1, OneChannel(255, 0, 0));
    hist.Calculate(image, 256, 50);
    ASSERT_FALSE(hist.m_bitmap.isNull());
    EXPECT_EQ(hist.m_bitmap.size(), QSize(256, 50));
    EXPECT_EQ(hist.m_valmin, 1000);
    EXPECT_EQ(hist.m_valmax, 1000);
    EXPECT_EQ(hist.m_binmax, static_cast<int>(std::ceil(std::log(101.0) / std::log(1.5))));
    EXPECT_TRUE(Opaque(hist.m_bitmap, 0, 0, 255, 0, 0));
    EXPECT_EQ(qAlpha(hist.m_bitmap.pixel(0, 49)), 128);
    for (int x = 1; x < 256; ++x)
        ASSERT_TRUE(ColumnEmpty(hist.m_bitmap, x)) << x;
}

TEST(HistogramRenderer, OneValuePerBinFillsEveryColumn)
{
    std::vector<unsigned short> values(256);
    for (int v = 0; v < 256; ++v)
        values[v] = static_cast<unsigned short>(v);
    MemoryImage image = Plane(16, 16, values);
    HistogramRenderer hist(-1, OneChannel(0, 255, 0));
    hist.Calculate(image, 256, 40);
    EXPECT_EQ(hist.m_binmax, 2);
    for (int x = 0; x < 256; ++x)
        ASSERT_TRUE(Opaque(hist.m_bitmap, x, 0, 0, 255, 0)) << x;
}

TEST(HistogramRenderer, BarTopsFollowTheLogScale)
{
    // Values 0..3 in 4 bins: bin b counts how often b occurs.
    const int counts[4] = {1, 3, 7, 20};
    std::vector<unsigned short> values;
    for (int b = 0; b < 4; ++b)
        values.insert(values.end(), counts[b], static_cast<unsigned short>(b));
    MemoryImage image = Plane(static_cast<int>(values.size()), 1, values);
    HistogramRenderer hist(-1, OneChannel(10, 20, 30));
    const int height = 60;
    hist.Calculate(image, 4, height);
    const double peak = std::log(21.0) / std::log(1.5);
    for (int b = 0; b < 4; ++b) {
        const double h = std::log(counts[b] + 1.0) / std::log(1.5);
        const int y = static_cast<int>(height - h * height / peak);
        EXPECT_EQ(TopRow(hist.m_bitmap, b), y) << b;
        EXPECT_TRUE(Opaque(hist.m_bitmap, b, y, 10, 20, 30));
        if (y > 0) {
            EXPECT_TRUE(Transparent(hist.m_bitmap, b, y - 1));
        }
        for (int row = y + 1; row < height; ++row)
            ASSERT_EQ(qAlpha(hist.m_bitmap.pixel(b, row)), 128) << b << "," << row;
    }
}

TEST(HistogramRenderer, WideBitmapsCountIn64Bits)
{
    // (65535 - 0) * 40000 passes 2^31: the largest value must still land in the last bin.
    MemoryImage image = Plane(2, 1, {0, 65535});
    HistogramRenderer hist(-1, OneChannel(255, 255, 255));
    hist.Calculate(image, 40000, 1);
    EXPECT_TRUE(Opaque(hist.m_bitmap, 0, 0, 255, 255, 255));
    EXPECT_TRUE(Opaque(hist.m_bitmap, 39999, 0, 255, 255, 255));
    EXPECT_TRUE(Transparent(hist.m_bitmap, 20000, 0));
}

TEST(HistogramRenderer, OnlyListedEnabledChannelsCount)
{
    // Channel dimension 2 with 3 entries, a list of 2 whose second channel is disabled.
    MemoryImage image({4, 1, 3});
    image.voxels = {10, 11, 12, 13, 60000, 60000, 60000, 60000, 5, 5, 5, 5};
    auto list = std::make_shared<ChannelList>();
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 0, 0, 255));
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 255, 0, 0));
    (*list)[1]->m_enabled = false;
    HistogramRenderer hist(2, list);
    hist.Calculate(image, 4, 10);
    EXPECT_EQ(hist.m_valmin, 10);
    EXPECT_EQ(hist.m_valmax, 13);
    EXPECT_EQ(image.reads, 1);
    for (int x = 0; x < 4; ++x)
        EXPECT_TRUE(Opaque(hist.m_bitmap, x, 0, 0, 0, 255)) << x;

    // No enabled channel: transparent, no grid, the untouched range.
    (*list)[0]->m_enabled = false;
    hist.Calculate(image, 4, 10);
    ASSERT_FALSE(hist.m_bitmap.isNull());
    for (int x = 0; x < 4; ++x)
        EXPECT_TRUE(ColumnEmpty(hist.m_bitmap, x));
    EXPECT_EQ(hist.m_binmax, 0);
    EXPECT_EQ(hist.m_valmin, 999999999);
    EXPECT_EQ(hist.m_valmax, 0);
}

TEST(HistogramRenderer, NothingToDrawGivesNoBitmap)
{
    MemoryImage image = Plane(2, 1, {1, 2});
    HistogramRenderer empty(-1);
    empty.Calculate(image, 10, 10);
    EXPECT_TRUE(empty.m_bitmap.isNull());
    HistogramRenderer hist(-1, OneChannel(1, 2, 3));
    for (const auto& [w, h] : {std::pair{0, 10}, std::pair{10, 0}, std::pair{-3, 5}}) {
        hist.Calculate(image, w, h);
        EXPECT_TRUE(hist.m_bitmap.isNull());
    }
    HistogramRenderer wrongDim(5, OneChannel(1, 2, 3));
    wrongDim.Calculate(image, 10, 10);
    EXPECT_TRUE(wrongDim.m_bitmap.isNull());

    // Render without a bitmap paints nothing.
    QImage canvas(50, 50, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    hist.Render(painter, 10, 10);
    painter.end();
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_TRUE(Transparent(canvas, x, y));
}

TEST(HistogramRenderer, RenderPaintsBackdropAndBars)
{
    MemoryImage image = Plane(4, 1, {0, 7, 7, 7});
    HistogramRenderer hist(-1, OneChannel(255, 0, 0));
    hist.Calculate(image, 8, 30);
    QImage canvas(120, 100, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    hist.Render(painter, 40, 20);
    painter.end();
    // Bin 7 (count 3) is the tallest: its top pixel sits at the bitmap's top row.
    EXPECT_EQ(canvas.pixel(47, 20), qRgba(255, 0, 0, 255));
    // Inside the plot, away from bars, grid lines (rows 29 and 50) and the outline, the
    // half-transparent backdrop shows.
    EXPECT_EQ(qAlpha(canvas.pixel(43, 25)), 128);
    // Far from plot and labels nothing is drawn.
    EXPECT_TRUE(Transparent(canvas, 110, 5));
}

namespace {

// 20 x 10 with value 100 + 10 x + y: every sampled point can be told from its neighbours.
MemoryImage Ramp()
{
    MemoryImage image({20, 10});
    image.Fill([](const std::vector<int>& c) { return static_cast<unsigned short>(100 + 10 * c[0] + c[1]); });
    return image;
}

int RowOf(long long v, long long lo, long long hi, int height)
{
    const long long h = (v - lo) * height / (hi - lo + 1);
    return h == 0 ? height - 1 : static_cast<int>(height - h);
}

struct LineCase
{
    int x0, y0, x1, y1;
    int width;                                  // bitmap width: the truncated length
    std::vector<std::pair<int, int>> columns;   // column, value sampled there
    std::vector<std::pair<int, int>> fillers;   // column, row of the filler's top
    int lo, hi;
};

} // namespace

TEST(ProfileRenderer, LineWalkColumnsAndFillers)
{
    const LineCase cases[] = {
        // Horizontal: (11,5)..(14,5) at columns 1..4; column 4 is clipped, column 0 stays empty.
        {10, 5, 14, 5, 4, {{1, 215}, {2, 225}, {3, 235}}, {}, 215, 245},
        // Diagonal: (1,1), (2,2), (3,3) at columns 1, 2, 4, with a filler at 3.
        {0, 0, 3, 3, 4, {{1, 111}, {2, 122}}, {{3, 100 - (47 + 95) / 2}}, 111, 133},
        // Shallow: (1,0), (2,1), (3,1), (4,2), (5,2).
        {0, 0, 5, 2, 5, {{1, 110}, {2, 121}, {3, 131}, {4, 142}}, {}, 110, 152},
        // Partly outside: only x = 0..4 are sampled, at columns 3..7; the bitmap keeps the full
        // length. The first sample is 3 columns from the start column, so a filler of height
        // (0 + 0) / 2 marks column 1.
        {-3, 5, 4, 5, 7, {{3, 105}, {4, 115}, {5, 125}, {6, 135}}, {{1, 99}}, 105, 145},
    };
    for (const LineCase& c : cases) {
        MemoryImage image = Ramp();
        ProfileRenderer profile(-1, OneChannel(0, 200, 100));
        profile.Calculate(image, V({c.x0, c.y0}), V({c.x1, c.y1}), 1234);
        ASSERT_FALSE(profile.m_bitmap.isNull());
        const QImage& bmp = profile.m_bitmap;
        EXPECT_EQ(bmp.size(), QSize(c.width, 100));
        EXPECT_EQ(profile.m_valmin, c.lo);
        EXPECT_EQ(profile.m_valmax, c.hi);
        EXPECT_EQ(profile.m_dist, 1234);
        std::vector<bool> marked(c.width, false);
        for (const auto& [column, value] : c.columns) {
            EXPECT_EQ(TopRow(bmp, column), RowOf(value, c.lo, c.hi, 100)) << c.x1 << ": column " << column;
            EXPECT_TRUE(Opaque(bmp, column, TopRow(bmp, column), 0, 200, 100));
            marked[column] = true;
        }
        for (const auto& [column, row] : c.fillers) {
            EXPECT_EQ(TopRow(bmp, column), row) << "filler " << column;
            marked[column] = true;
        }
        for (int x = 0; x < c.width; ++x)
            if (!marked[x]) {
                EXPECT_TRUE(ColumnEmpty(bmp, x)) << c.x1 << ": column " << x;
            }
    }
}

TEST(ProfileRenderer, BarOfHeightZeroKeepsItsTopPixel)
{
    MemoryImage image = Plane(4, 1, {0, 100, 199, 150});
    ProfileRenderer profile(-1, OneChannel(255, 255, 0));
    profile.Calculate(image, V({0, 0}), V({3, 0}), 0);
    ASSERT_FALSE(profile.m_bitmap.isNull());
    EXPECT_EQ(profile.m_valmin, 100);
    EXPECT_EQ(profile.m_valmax, 199);
    EXPECT_EQ(TopRow(profile.m_bitmap, 1), 99); // value 100: height 0, marked in the bottom row
    EXPECT_EQ(TopRow(profile.m_bitmap, 2), 1);  // value 199: height 99
    EXPECT_EQ(qAlpha(profile.m_bitmap.pixel(2, 99)), 128);
}

TEST(ProfileRenderer, NothingSampledKeepsTheLabels)
{
    MemoryImage image = Ramp();
    ProfileRenderer profile(-1, OneChannel(255, 255, 255));
    profile.Calculate(image, V({0, 0}), V({5, 0}), 700);
    MemoryImage zeros = Plane(20, 10, std::vector<unsigned short>(200, 0));
    profile.Calculate(zeros, V({0, 0}), V({9, 0}), 42);
    ASSERT_FALSE(profile.m_bitmap.isNull());
    EXPECT_EQ(profile.m_bitmap.width(), 9);
    for (int x = 0; x < 9; ++x)
        EXPECT_TRUE(ColumnEmpty(profile.m_bitmap, x));
    EXPECT_EQ(profile.m_valmin, 110);
    EXPECT_EQ(profile.m_valmax, 150);
    EXPECT_EQ(profile.m_dist, 700);

    // A line of length 0 and an empty channel list give no bitmap.
    profile.Calculate(image, V({3, 3}), V({3, 3}), 0);
    EXPECT_TRUE(profile.m_bitmap.isNull());
    ProfileRenderer none(-1);
    none.Calculate(image, V({0, 0}), V({5, 0}), 0);
    EXPECT_TRUE(none.m_bitmap.isNull());
}

TEST(ProfileRenderer, DisabledChannelsNeitherDrawNorRange)
{
    MemoryImage image({6, 1, 2});
    image.voxels = {0, 10, 20, 30, 40, 50, 9000, 9000, 9000, 9000, 9000, 9000};
    auto list = std::make_shared<ChannelList>();
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 0, 0, 255));
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 255, 0, 0));
    (*list)[1]->m_enabled = false;
    ProfileRenderer profile(2, list, 50);
    profile.Calculate(image, V({0, 0}), V({5, 0}), 0);
    EXPECT_EQ(profile.m_valmax, 50);
    EXPECT_EQ(profile.m_valmin, 10);
    EXPECT_TRUE(Opaque(profile.m_bitmap, 4, RowOf(40, 10, 50, 50), 0, 0, 255));
}

TEST(ProfileRenderer, LengthLabels)
{
    const std::pair<int, const char*> cases[] = {
        {0, ""},          {850, "850 nm"},        {1, "1 nm"},           {999, "999 nm"},
        {-5, "-5 nm"},    {1000, "1.0 um"},       {12345, "12.3 um"},    {1250, "1.3 um"},
        {2000, "2.0 um"}, {999999, "1000.0 um"},  {2500000, "2.5 mm"},   {999999999, "1000.0 mm"},
        {1000000000, ""},
    };
    for (const auto& [dist, label] : cases)
        EXPECT_EQ(FormatLength(dist).toStdString(), label) << dist;
}

TEST(ProfileRenderer, RenderStandsTheBarsOnTheLine)
{
    MemoryImage image({70, 1});
    image.Fill([](const std::vector<int>& c) { return static_cast<unsigned short>(500 + 10 * c[0]); });
    ProfileRenderer profile(-1, OneChannel(0, 0, 255));
    profile.Calculate(image, V({0, 0}), V({60, 0}), 0);
    ASSERT_EQ(profile.m_bitmap.width(), 60);

    const auto drawn = [&](const ImageReader::Vector& s, const ImageReader::Vector& e) {
        QImage canvas(200, 200, QImage::Format_ARGB32);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        profile.Render(painter, s, e, false);
        painter.end();
        return canvas;
    };
    // Left to right: the bars (all at the top row here) stand above the line.
    QImage canvas = drawn(V({20, 150}), V({80, 150}));
    int above = 0, below = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            if (canvas.pixel(x, y) == qRgba(0, 0, 255, 255))
                (y < 150 ? above : below)++;
    EXPECT_GT(above, 50);
    EXPECT_EQ(below, 0);
    // Downwards: they stand to the right of the line on screen (the line x = 20 is the left
    // edge of pixel column 20).
    canvas = drawn(V({20, 20}), V({20, 80}));
    int right = 0, left = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            if (canvas.pixel(x, y) == qRgba(0, 0, 255, 255))
                (x >= 20 ? right : left)++;
    EXPECT_GT(right, 50);
    EXPECT_EQ(left, 0);
}

TEST(FlatProfileRenderer, RowsPerChannelAndMarker)
{
    auto list = std::make_shared<ChannelList>();
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 255, 128, 0));
    list->push_back(std::make_shared<ImageChannel>(0, 1, 0, 0, 0, 255));
    (*list)[1]->m_enabled = false;
    FlatProfileRenderer flat(list, 50);
    flat.Calculate(MakeSlice(5, 2, {100, 150, 200, 0, 50, 60000, 60000, 60000, 60000, 60000}), 3);
    ASSERT_EQ(flat.m_bitmap.size(), QSize(5, 50));
    // lo 0, hi 200, r 201: heights 24, 37, 49, 0, 12.
    const int rows[5] = {26, 13, 1, 49, 38};
    for (int x : {0, 1, 2, 4}) {
        EXPECT_EQ(TopRow(flat.m_bitmap, x), rows[x]) << x;
        EXPECT_TRUE(Opaque(flat.m_bitmap, x, rows[x], 255, 128, 0));
    }
    // The marker runs down column 3 in the grid colour, over the bar's bottom pixel.
    const QColor marker = flat.m_bitmap.pixelColor(3, 0);
    EXPECT_EQ(marker.alpha(), 64);
    EXPECT_EQ(marker.red(), 255);
    EXPECT_EQ(qAlpha(flat.m_bitmap.pixel(3, 20)), 64);
    for (int x : {0, 1, 2, 4})
        EXPECT_TRUE(Transparent(flat.m_bitmap, x, 0));

    // Only zeros: a transparent bitmap without marker.
    flat.Calculate(MakeSlice(5, 1, {0, 0, 0, 0, 0}), 2);
    ASSERT_FALSE(flat.m_bitmap.isNull());
    for (int x = 0; x < 5; ++x)
        EXPECT_TRUE(ColumnEmpty(flat.m_bitmap, x));

    // Painted stretched into the rectangle.
    flat.Calculate(MakeSlice(2, 1, {0, 10}), -1);
    QImage canvas(20, 200, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    flat.Render(painter, V({0, 0}), V({4, 100}));
    painter.end();
    // Column 1 of the bitmap (value 10, the top row 5 of 50) covers canvas columns 2..3, rows 10..11.
    EXPECT_EQ(canvas.pixel(3, 11), qRgba(255, 128, 0, 255));
    EXPECT_TRUE(Transparent(canvas, 3, 8));
    EXPECT_TRUE(Transparent(canvas, 10, 50));
}
