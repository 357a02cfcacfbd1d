#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "HistogramRenderer.h"
#include "MemoryImage.h"
#include "OffscreenGui.h"
#include "ProfileRenderer.h"
#include "SpectrumPlot.h"

using namespace ImageViewer;

namespace {

::testing::Environment* const gui = ::testing::AddGlobalTestEnvironment(new OffscreenGui);

ChannelListPtr OneChannel(int r, int g, int b)
{
    return std::make_shared<ChannelList>(ChannelList{std::make_shared<ImageChannel>(0, 65535, 0, r, g, b)});
}

ChannelListPtr BlueAndDisabledRed()
{
    auto list = std::make_shared<ChannelList>(ChannelList{std::make_shared<ImageChannel>(0, 1, 0, 0, 0, 255),
                                                          std::make_shared<ImageChannel>(0, 1, 0, 255, 0, 0)});
    (*list)[1]->m_enabled = false;
    return list;
}

// 20 x 10 with value 100 + 10 x + y: every sampled point can be told from its neighbours.
MemoryImage Ramp()
{
    MemoryImage image({20, 10});
    image.Fill([](const std::vector<int>& c) { return 100 + 10 * c[0] + c[1]; });
    return image;
}

// The row of the bar in column x: transparent above, its opaque `top` pixel, half-transparent
// below. -1 for an empty column, -2 for a column of any other shape.
int BarTop(const QImage& img, int x, QRgb top)
{
    int y = 0;
    while (y < img.height() && qAlpha(img.pixel(x, y)) == 0)
        ++y;
    if (y == img.height())
        return -1;
    if (img.pixel(x, y) != top)
        return -2;
    for (int row = y + 1; row < img.height(); ++row)
        if (qAlpha(img.pixel(x, row)) != 128)
            return -2;
    return y;
}

bool AllTransparent(const QImage& img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0)
                return false;
    return true;
}

QImage Paint(int w, int h, const std::function<void(QPainter&)>& draw)
{
    QImage canvas(w, h, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    draw(painter);
    painter.end();
    return canvas;
}

} // namespace

TEST(HistogramRenderer, BinsAndLogScaleBarTops)
{
    std::vector<unsigned short> ramp(256), counted;
    for (int v = 0; v < 256; ++v)
        ramp[v] = static_cast<unsigned short>(v);
    for (int b = 0; b < 4; ++b)
        counted.insert(counted.end(), std::vector<size_t>{1, 3, 7, 20}[b], static_cast<unsigned short>(b));
    struct Case
    {
        std::vector<unsigned short> values;
        int width, height, binmax, lo, hi;
        std::function<int(int)> top; // bar top row of a bin
    };
    const Case cases[] = {
        // Equal values all land in bin 0, which reaches the top; binmax = ceil(log 101 / log 1.5).
        {std::vector<unsigned short>(100, 1000), 256, 50, 12, 1000, 1000, [](int b) { return b ? -1 : 0; }},
        // One value per bin: every column reaches the top; binmax = ceil(log 2 / log 1.5).
        {ramp, 256, 40, 2, 0, 255, [](int) { return 0; }},
        // Counts k = 1, 3, 7, 20 reach row 60 - 60 log(k + 1) / log 21.
        {counted, 4, 60, 8, 0, 3, [](int b) { return std::vector<int>{46, 32, 19, 0}[b]; }},
        // (65535 - 0) * 40000 passes 2^31: the largest value must still land in the last bin.
        {{0, 65535}, 40000, 1, 2, 0, 65535, [](int b) { return b == 0 || b == 39999 ? 0 : -1; }},
    };
    for (const Case& c : cases) {
        MemoryImage image({static_cast<int>(c.values.size()), 1}, c.values);
        HistogramRenderer hist(-1, OneChannel(10, 20, 30));
        hist.Calculate(image, c.width, c.height);
        ASSERT_EQ(hist.m_bitmap.size(), QSize(c.width, c.height));
        EXPECT_EQ(hist.m_binmax, c.binmax);
        EXPECT_EQ(std::pair(hist.m_valmin, hist.m_valmax), std::pair(c.lo, c.hi));
        for (int b = 0; b < c.width; ++b)
            ASSERT_EQ(BarTop(hist.m_bitmap, b, qRgb(10, 20, 30)), c.top(b)) << c.width << " bins, bin " << b;
    }
}

TEST(PlotRenderers, DisabledAndUnlistedChannelsNeitherDrawNorRange)
{
    // Channel dimension 2 with 3 planes; of the list of 2 only the first is enabled.
    MemoryImage image({6, 1, 3}, {0, 10, 20, 30, 40, 50, 60000, 60000, 60000, 60000, 60000, 60000, 5, 5, 5, 5, 5, 5});
    const ChannelListPtr list = BlueAndDisabledRed();
    HistogramRenderer hist(2, list);
    hist.Calculate(image, 6, 10);
    EXPECT_EQ(image.reads, 1);
    EXPECT_EQ(std::pair(hist.m_valmin, hist.m_valmax), std::pair(0, 50));
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(BarTop(hist.m_bitmap, x, qRgb(0, 0, 255)), 0) << x;

    ProfileRenderer profile(2, list, 50);
    profile.Calculate(image, V({0, 0}), V({5, 0}), 0);
    EXPECT_EQ(std::pair(profile.m_valmin, profile.m_valmax), std::pair(10, 50));
    EXPECT_EQ(BarTop(profile.m_bitmap, 4, qRgb(0, 0, 255)), 14); // 40: height 30 * 50 / 41 = 36

    // No enabled channel: a transparent histogram without grid, the untouched range.
    (*list)[0]->m_enabled = false;
    hist.Calculate(image, 6, 10);
    EXPECT_EQ(hist.m_bitmap.size(), QSize(6, 10));
    EXPECT_TRUE(AllTransparent(hist.m_bitmap));
    EXPECT_EQ(hist.m_binmax, 0);
    EXPECT_EQ(std::pair(hist.m_valmin, hist.m_valmax), std::pair(999999999, 0));
}

TEST(HistogramRenderer, NothingToDrawGivesNoBitmapAndPaintsNothing)
{
    MemoryImage image({2, 1}, {1, 2});
    HistogramRenderer empty(-1), hist(-1, OneChannel(1, 2, 3)), wrongDim(5, OneChannel(1, 2, 3));
    empty.Calculate(image, 10, 10);
    wrongDim.Calculate(image, 10, 10);
    EXPECT_TRUE(empty.m_bitmap.isNull());
    EXPECT_TRUE(wrongDim.m_bitmap.isNull());
    for (const auto& [w, h] : {std::pair{0, 10}, std::pair{10, 0}, std::pair{-3, 5}}) {
        hist.Calculate(image, w, h);
        EXPECT_TRUE(hist.m_bitmap.isNull()) << w << " x " << h;
    }
    EXPECT_TRUE(AllTransparent(Paint(50, 50, [&](QPainter& p) { hist.Render(p, 10, 10); })));
}

TEST(HistogramRenderer, RenderPaintsBackdropAndBars)
{
    MemoryImage image({4, 1}, {0, 7, 7, 7});
    HistogramRenderer hist(-1, OneChannel(255, 0, 0));
    hist.Calculate(image, 8, 30);
    const QImage canvas = Paint(120, 100, [&](QPainter& p) { hist.Render(p, 40, 20); });
    // Bin 7 (count 3) is the tallest: its top pixel sits at the bitmap's top row.
    EXPECT_EQ(canvas.pixel(47, 20), qRgb(255, 0, 0));
    // Away from bars, grid lines (rows 29 and 50) and the outline the backdrop shows; far
    // from plot and labels nothing is drawn.
    EXPECT_EQ(qAlpha(canvas.pixel(43, 25)), 128);
    EXPECT_EQ(qAlpha(canvas.pixel(110, 5)), 0);
}

TEST(ProfileRenderer, LineWalkColumnsAndFillers)
{
    MemoryImage ramp = Ramp(), low({4, 1}, {0, 100, 199, 150});
    // Top rows: 100 - (v - lo) * 100 / (hi - lo + 1), and 99 for a bar of height 0.
    struct Case
    {
        MemoryImage* image;
        int x0, y0, x1, y1, width, lo, hi; // width: the truncated length
        std::map<int, int> tops;            // column, top row; other columns stay empty
    };
    const Case cases[] = {
        // Horizontal: (11,5)..(14,5) at columns 1..4; column 4 is clipped.
        {&ramp, 10, 5, 14, 5, 4, 215, 245, {{1, 99}, {2, 68}, {3, 36}}},
        // Diagonal: (1,1), (2,2), (3,3) at columns 1, 2, 4, with a filler of height (47 + 95) / 2 at 3.
        {&ramp, 0, 0, 3, 3, 4, 111, 133, {{1, 99}, {2, 53}, {3, 29}}},
        // Shallow: (1,0), (2,1), (3,1), (4,2), (5,2).
        {&ramp, 0, 0, 5, 2, 5, 110, 152, {{1, 99}, {2, 75}, {3, 52}, {4, 26}}},
        // Partly outside: x = 0..4 at columns 3..7, the bitmap keeps the full length. The first
        // sample lies 3 columns from the start column, so a filler of height (0 + 0) / 2 marks column 1.
        {&ramp, -3, 5, 4, 5, 7, 105, 145, {{1, 99}, {3, 99}, {4, 76}, {5, 52}, {6, 27}}},
        // A sample at the minimum keeps its top pixel in the bottom row.
        {&low, 0, 0, 3, 0, 3, 100, 199, {{1, 99}, {2, 1}}},
    };
    for (const Case& c : cases) {
        ProfileRenderer profile(-1, OneChannel(0, 200, 100));
        profile.Calculate(*c.image, V({c.x0, c.y0}), V({c.x1, c.y1}), 1234);
        ASSERT_EQ(profile.m_bitmap.size(), QSize(c.width, 100));
        EXPECT_EQ(std::pair(profile.m_valmin, profile.m_valmax), std::pair(c.lo, c.hi));
        EXPECT_EQ(profile.m_dist, 1234);
        for (int x = 0; x < c.width; ++x)
            EXPECT_EQ(BarTop(profile.m_bitmap, x, qRgb(0, 200, 100)), c.tops.count(x) ? c.tops.at(x) : -1)
                << "line to " << c.x1 << "," << c.y1 << ": column " << x;
    }
}

TEST(ProfileRenderer, NothingSampledKeepsTheLabels)
{
    MemoryImage ramp = Ramp(), zeros({20, 10});
    ProfileRenderer profile(-1, OneChannel(255, 255, 255));
    profile.Calculate(ramp, V({0, 0}), V({5, 0}), 700);
    profile.Calculate(zeros, V({0, 0}), V({9, 0}), 42);
    EXPECT_EQ(profile.m_bitmap.size(), QSize(9, 100));
    EXPECT_TRUE(AllTransparent(profile.m_bitmap));
    EXPECT_EQ(std::tuple(profile.m_valmin, profile.m_valmax, profile.m_dist), std::tuple(110, 150, 700));

    // A line of length 0 and an empty channel list give no bitmap.
    profile.Calculate(ramp, V({3, 3}), V({3, 3}), 0);
    EXPECT_TRUE(profile.m_bitmap.isNull());
    ProfileRenderer none(-1);
    none.Calculate(ramp, V({0, 0}), V({5, 0}), 0);
    EXPECT_TRUE(none.m_bitmap.isNull());
}

TEST(ProfileRenderer, LengthLabels)
{
    const std::pair<int, const char*> cases[] = {
        {0, ""},          {850, "850 nm"},       {1, "1 nm"},         {999, "999 nm"},
        {-5, "-5 nm"},    {1000, "1.0 \u00b5m"},      {12345, "12.3 \u00b5m"},  {1250, "1.3 \u00b5m"},
        {2000, "2.0 \u00b5m"}, {999999, "1000.0 \u00b5m"}, {2500000, "2.5 mm"}, {999999999, "1000.0 mm"},
        {1000000000, ""},
    };
    for (const auto& [dist, label] : cases)
        EXPECT_EQ(FormatLength(dist).toStdString(), label) << dist;
}

TEST(ProfileRenderer, RenderStandsTheBarsOnTheLine)
{
    MemoryImage image({70, 1});
    image.Fill([](const std::vector<int>& c) { return 500 + 10 * c[0]; });
    ProfileRenderer profile(-1, OneChannel(0, 0, 255));
    profile.Calculate(image, V({0, 0}), V({60, 0}), 0);
    ASSERT_EQ(profile.m_bitmap.width(), 60);
    // The bars' opaque pixels on the given side of the line, and off it.
    const auto count = [&](const ImageReader::Vector& s, const ImageReader::Vector& e, auto onSide) {
        const QImage canvas = Paint(200, 200, [&](QPainter& p) { profile.Render(p, s, e, false); });
        std::pair<int, int> n{0, 0};
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
                if (canvas.pixel(x, y) == qRgb(0, 0, 255))
                    ++(onSide(x, y) ? n.first : n.second);
        return n;
    };
    // Left to right the bars (all at the top row here) stand above the line; downwards, to
    // its right on screen (the line x = 20 is the left edge of pixel column 20).
    const auto above = count(V({20, 150}), V({80, 150}), [](int, int y) { return y < 150; });
    const auto right = count(V({20, 20}), V({20, 80}), [](int x, int) { return x >= 20; });
    EXPECT_GT(above.first, 50);
    EXPECT_EQ(above.second, 0);
    EXPECT_GT(right.first, 50);
    EXPECT_EQ(right.second, 0);
}

TEST(FlatProfileRenderer, RowsPerChannelMarkerAndStretching)
{
    FlatProfileRenderer flat(BlueAndDisabledRed(), 50);
    flat.Calculate(MakeSlice(5, 2, {100, 150, 200, 0, 50, 60000, 60000, 60000, 60000, 60000}), 3);
    ASSERT_EQ(flat.m_bitmap.size(), QSize(5, 50));
    // lo 0, hi 200, r 201: heights 24, 37, 49, 0 (under the marker), 12.
    const int rows[5] = {26, 13, 1, -1, 38};
    for (int x : {0, 1, 2, 4})
        EXPECT_EQ(BarTop(flat.m_bitmap, x, qRgb(0, 0, 255)), rows[x]) << x;
    // The marker runs down column 3 in the grid colour.
    EXPECT_EQ(flat.m_bitmap.pixel(3, 0), qRgba(255, 255, 255, 64));
    EXPECT_EQ(flat.m_bitmap.pixel(3, 20), qRgba(255, 255, 255, 64));

    // Only zeros: a transparent bitmap without marker.
    flat.Calculate(MakeSlice(5, 1, {0, 0, 0, 0, 0}), 2);
    EXPECT_EQ(flat.m_bitmap.size(), QSize(5, 50));
    EXPECT_TRUE(AllTransparent(flat.m_bitmap));

    // Painted stretched into the rectangle: bitmap column 1 (value 10, top row 5 of 50)
    // covers canvas columns 2..3, rows 10..11.
    flat.Calculate(MakeSlice(2, 1, {0, 10}), -1);
    const QImage canvas = Paint(20, 200, [&](QPainter& p) { flat.Render(p, V({0, 0}), V({4, 100})); });
    EXPECT_EQ(canvas.pixel(3, 11), qRgb(0, 0, 255));
    EXPECT_EQ(qAlpha(canvas.pixel(3, 8)), 0);
    EXPECT_EQ(qAlpha(canvas.pixel(10, 50)), 0);
}

TEST(SpectrumPlot, RoundTicks)
{
    EXPECT_EQ(RoundTicks(400, 700, 6), (std::vector<double>{400, 450, 500, 550, 600, 650, 700}));
    EXPECT_EQ(RoundTicks(0, 1234, 4), (std::vector<double>{0, 500, 1000}));
    EXPECT_EQ(RoundTicks(-3, 3, 3), (std::vector<double>{-2, 0, 2}));
    EXPECT_EQ(RoundTicks(0.12, 0.5, 2), (std::vector<double>{0.2, 0.4}));
    EXPECT_TRUE(RoundTicks(5, 5, 3).empty());
    EXPECT_TRUE(RoundTicks(0, std::nan(""), 3).empty());
}

// Two bands, a low one at 450 nm and a high one at 650 nm, with the marker at 500 nm: the
// curve's peaks sit left and right in that order, the higher one higher; the area under
// each is its wavelength's colour.
TEST(SpectrumPlot, PeaksAxesColoursAndMarker)
{
    std::vector<double> values(301, 0.0), nm;
    for (int i = 0; i <= 300; ++i) {
        nm.push_back(400 + i);
        values[static_cast<size_t>(i)] = 400 * std::exp(-std::pow((i - 50) / 8.0, 2)) + 1000 * std::exp(-std::pow((i - 250) / 8.0, 2));
    }
    const QImage plot = RenderSpectrumPlot(values, nm, 480, 200, 100);
    ASSERT_FALSE(plot.isNull());
    EXPECT_EQ(plot.size(), QSize(480, 200));
    // The topmost white pixel of each half.
    const auto peak = [&](int from, int to) {
        QPoint best(-1, 1 << 20);
        for (int x = from; x < to; ++x)
            for (int y = 0; y < plot.height(); ++y) {
                const QRgb c = plot.pixel(x, y);
                if (qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230 && y < best.y())
                    best = QPoint(x, y);
            }
        return best;
    };
    const QPoint low = peak(0, 240), high = peak(240, 480);
    ASSERT_GE(low.x(), 0);
    ASSERT_GE(high.x(), 0);
    EXPECT_LT(high.y(), low.y());
    EXPECT_GT(high.x() - low.x(), 200);
    // Under the peaks: blue below 450 nm, red below 650 nm.
    const QRgb under450 = plot.pixel(low.x(), low.y() + 20), under650 = plot.pixel(high.x(), high.y() + 40);
    EXPECT_GT(qBlue(under450), qRed(under450));
    EXPECT_GT(qRed(under650), qBlue(under650));
    EXPECT_GT(qRed(under650), qGreen(under650));
    // The marker is a yellow column between the peaks.
    int yellow = 0;
    for (int x = low.x(); x < high.x(); ++x) {
        const QRgb c = plot.pixel(x, (low.y() + 3 * plot.height()) / 4);
        yellow += qRed(c) > 200 && qGreen(c) > 180 && qBlue(c) < 60;
    }
    EXPECT_GE(yellow, 1);
    // Labels under the axis: some light pixels in the bottom rows.
    int text = 0;
    for (int y = plot.height() - 12; y < plot.height(); ++y)
        for (int x = 0; x < plot.width(); ++x)
            text += qGreen(plot.pixel(x, y)) > 150;
    EXPECT_GT(text, 20);

    // Falling wavelengths fall back to index numbers; nothing to plot or no room: null.
    std::vector<double> falling(nm.rbegin(), nm.rend());
    EXPECT_FALSE(RenderSpectrumPlot(values, falling, 480, 200).isNull());
    values[7] = std::nan("");
    EXPECT_FALSE(RenderSpectrumPlot(values, {}, 480, 200).isNull());
    EXPECT_TRUE(RenderSpectrumPlot({1.0}, {}, 480, 200).isNull());
    EXPECT_TRUE(RenderSpectrumPlot(values, nm, 40, 200).isNull());
}
