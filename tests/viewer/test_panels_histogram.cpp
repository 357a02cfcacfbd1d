// The histogram panel in the real window: bars, markers and their labels, the marker hit
// zone and the drags that move a channel's display range.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>

#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

// Global mode on a 64 x 48 plane (by default 1000 + x + 64 y, 1000 .. 4071) with the
// channel range frozen at chmin .. chmax and the "Channels" page in front.
std::unique_ptr<formImageViewer> rampWindow(int chmin, int chmax, Voxel voxel = [](const std::vector<int>& c) {
    return 1000 + c[0] + 64 * c[1];
})
{
    auto w = MakeWindow();
    w->checkAutoExpand->setChecked(false);
    Load(*w, {64, 48}, {"x", "y"}, std::move(voxel));
    w->globalchannel->m_min = chmin;
    w->globalchannel->m_max = chmax;
    w->tabControl1->setCurrentIndex(1);
    w->pctHistogram->repaint();
    return w;
}

// Pixels of `colour` in panel column x (inside the frame).
int countColour(formImageViewer& w, int x, QColor colour)
{
    const QImage img = w.pctHistogram->grab().toImage();
    const int o = w.pctHistogram->contentsRect().left();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        n += img.pixelColor(o + x, y) == colour;
    return n;
}

QPoint at(formImageViewer& w, int x)
{
    return QPoint(w.pctHistogram->contentsRect().left() + x, 10);
}

TEST(HistogramPanel, ConstantPlaneOnTheFullRange)
{
    auto w = rampWindow(0, 65535, [](const std::vector<int>&) { return 100; });
    EXPECT_EQ(w->lblMin->text(), "0");
    EXPECT_EQ(w->lblMax->text(), "65535");
    // Markers at both ends of the 171-pixel axis, from the top to the baseline (27).
    EXPECT_GE(countColour(*w, 0, Qt::red), 27);
    EXPECT_GE(countColour(*w, 170, Qt::red), 27);
    EXPECT_EQ(countColour(*w, 100, Qt::red), 0);
}

TEST(HistogramPanel, BarsStartAtThePlaneMinimum)
{
    // Axis 0 .. 4071: the bars start at 171 * 1000 / 4072 = 41, nothing stands left of it.
    auto w = rampWindow(0, 4071);
    EXPECT_EQ(w->lblMax->text(), "4071");
    for (int x = 5; x < 41; ++x)
        ASSERT_EQ(countColour(*w, x, Qt::black), 0) << x;
    EXPECT_GT(countColour(*w, 41, Qt::black), 0);
    EXPECT_GT(countColour(*w, 120, Qt::black), 0);
    // The blue ramp falls from the upper marker's top to the lower marker's foot.
    EXPECT_GT(countColour(*w, 20, Qt::blue), 0);
}

TEST(HistogramPanel, MarkerHitZone)
{
    // Range 1000 .. 4000 on the axis 1000 .. 4071 (A = 3072): markers at 0 and 166.
    auto w = rampWindow(1000, 4000);
    ASSERT_EQ(w->lblMin->text(), "1000");
    struct Case
    {
        int x, histdim;
    } cases[] = {{3, 0}, {4, -1}, {-3, 0}, {-4, -1}, {163, 1}, {162, -1}, {169, 1}, {170, -1}};
    for (const Case& c : cases) {
        Press(w->pctHistogram, at(*w, c.x));
        EXPECT_EQ(w->histdim, c.histdim) << c.x;
        Release(w->pctHistogram, at(*w, c.x));
        EXPECT_EQ(w->histdim, -1);
    }
    Press(w->pctHistogram, at(*w, 2));
    EXPECT_EQ(w->histdimstart, 1000);
    Move(w->pctHistogram, at(*w, 2), Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::SizeHorCursor);
    Move(w->pctHistogram, at(*w, 80), Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::ArrowCursor);

    // Both markers in reach (1000 .. 1010 puts the upper one at 0 too): the lower wins.
    w->globalchannel->m_max = 1010;
    w->pctHistogram->repaint();
    Press(w->pctHistogram, at(*w, 1));
    EXPECT_EQ(w->histdim, 0);
}

TEST(HistogramPanel, DragsMoveByTheAxisSpanAndOnlyWithTheLeftButton)
{
    auto w = rampWindow(1000, 4000);
    Press(w->pctHistogram, at(*w, 0), Qt::RightButton);
    Move(w->pctHistogram, at(*w, 60), Qt::RightButton);
    EXPECT_EQ(w->globalchannel->m_min, 1000);
    EXPECT_EQ(w->globalchannel->m_max, 4000);
    Release(w->pctHistogram, at(*w, 60), Qt::RightButton);
    EXPECT_EQ(w->histdim, -1);

    const int before = w->recomputeCount[0];
    Press(w->pctHistogram, at(*w, 0));
    ASSERT_EQ(w->histdim, 0);
    Move(w->pctHistogram, at(*w, 171));
    EXPECT_EQ(w->globalchannel->m_min, 1000 + (4071 - 1000));
    EXPECT_GT(w->recomputeCount[0], before);
    // The upper marker from the labels of the redrawn axis, and no clamping below 0.
    Release(w->pctHistogram, at(*w, 171));
    w->globalchannel->m_min = 1000;
    w->pctHistogram->repaint();
    Press(w->pctHistogram, at(*w, 166));
    ASSERT_EQ(w->histdim, 1);
    Move(w->pctHistogram, at(*w, 166 - 342));
    EXPECT_EQ(w->globalchannel->m_max, 4000 - 2 * 3071);
}

TEST(HistogramPanel, BlankWithoutAChannelOrWithEqualAxes)
{
    auto w = Open({16, 12, 2, 3}, {"x", "y", "z", "c"},
                  [](const std::vector<int>& c) { return 500 + c[0] + 100 * c[3]; });
    w->tabControl1->setCurrentIndex(1);
    // Nothing selected in the list: blank, and the mouse moves no range.
    EXPECT_EQ(countColour(*w, 0, Qt::red), 0);
    std::vector<std::pair<int, int>> ranges;
    for (const auto& ch : *w->channels)
        ranges.emplace_back(ch->m_min, ch->m_max);
    Press(w->pctHistogram, at(*w, 0));
    Move(w->pctHistogram, at(*w, 100));
    for (size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(std::make_pair((*w->channels)[i]->m_min, (*w->channels)[i]->m_max), ranges[i]);

    // With a channel selected the panel shows its range over the plane of that channel.
    w->listChannels->setCurrentRow(2);
    EXPECT_GT(countColour(*w, 0, Qt::red), 0);
    EXPECT_EQ(w->lblMin->text(), "700");
    EXPECT_EQ(w->lblMax->text(), "715");

    w->comboDimY->setCurrentIndex(0); // X = Y
    EXPECT_EQ(countColour(*w, 0, Qt::red), 0);
    EXPECT_EQ(w->lblMax->text(), "715"); // the labels keep their last values
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
