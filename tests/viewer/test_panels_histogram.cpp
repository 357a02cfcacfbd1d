// The histogram panel in the real window: bars, markers and their labels, the marker hit
// zone and the drags that move a channel's display range.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <algorithm>

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

// Drawable width of the panel's axis: the widget less its 5-pixel frame allowance.
int axisWidth(const formImageViewer& w)
{
    return w.pctHistogram->width() - 5;
}

TEST(HistogramPanel, ConstantPlaneOnTheFullRange)
{
    auto w = rampWindow(0, 65535, [](const std::vector<int>&) { return 100; });
    EXPECT_EQ(w->lblMin->text(), "0");
    EXPECT_EQ(w->lblMax->text(), "65535");
    // Markers at both ends of the axis, from the top to the baseline.
    const int W = axisWidth(*w), baseline = w->pctHistogram->height() - 5;
    EXPECT_GE(countColour(*w, 0, Qt::red), baseline);
    EXPECT_GE(countColour(*w, W - 1, Qt::red), baseline);
    EXPECT_EQ(countColour(*w, W / 2, Qt::red), 0);
}

TEST(HistogramPanel, BarsStartAtThePlaneMinimum)
{
    // Axis 0 .. 4071: the bars start at W * 1000 / 4072, nothing stands left of it.
    auto w = rampWindow(0, 4071);
    EXPECT_EQ(w->lblMax->text(), "4071");
    const int W = axisWidth(*w), first = W * 1000 / 4072;
    for (int x = 5; x < first; ++x)
        ASSERT_EQ(countColour(*w, x, Qt::black), 0) << x;
    EXPECT_GT(countColour(*w, first, Qt::black), 0);
    EXPECT_GT(countColour(*w, (first + W) / 2, Qt::black), 0);
    // The blue ramp falls from the upper marker's top to the lower marker's foot.
    EXPECT_GT(countColour(*w, first / 2, Qt::blue), 0);
}

// A press within 3 pixels of a marker grabs it and the cursor says so; a left drag moves it
// (the arithmetic of both is tested headless).
TEST(HistogramPanel, MarkersAreGrabbedInTheirHitZoneAndDraggedWithTheLeftButton)
{
    // Range 1000 .. 4000 on the axis 1000 .. 4071 (A = 3072): markers at 0 and W * 3000 / 3072.
    auto w = rampWindow(1000, 4000);
    ASSERT_EQ(w->lblMin->text(), "1000");
    const int upper = axisWidth(*w) * 3000 / 3072;
    struct Case
    {
        int x, histdim;
    } cases[] = {{3, 0}, {4, -1}, {-3, 0}, {-4, -1}, {upper - 3, 1}, {upper - 4, -1}, {upper + 3, 1}, {upper + 4, -1}};
    for (const Case& c : cases) {
        Press(w->pctHistogram, at(*w, c.x));
        EXPECT_EQ(w->Internals().histdim, c.histdim) << c.x;
        Release(w->pctHistogram, at(*w, c.x));
        EXPECT_EQ(w->Internals().histdim, -1);
    }
    Press(w->pctHistogram, at(*w, 2));
    EXPECT_EQ(w->Internals().histdimstart, 1000);
    Move(w->pctHistogram, at(*w, 2), Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::SizeHorCursor);
    Move(w->pctHistogram, at(*w, upper / 2), Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::ArrowCursor);

    // Both markers in reach (1000 .. 1010 puts the upper one within 3 pixels): the lower wins.
    w->globalchannel->m_max = 1010;
    w->pctHistogram->repaint();
    Press(w->pctHistogram, at(*w, 1));
    EXPECT_EQ(w->Internals().histdim, 0);
    Release(w->pctHistogram, at(*w, 1));

    // Drags move a marker by the axis span per panel width, only with the left button.
    w->globalchannel->m_max = 4000;
    w->pctHistogram->repaint();
    const int W = axisWidth(*w);
    Press(w->pctHistogram, at(*w, 0), Qt::RightButton);
    Move(w->pctHistogram, at(*w, 60), Qt::RightButton);
    EXPECT_EQ(w->globalchannel->m_min, 1000);
    EXPECT_EQ(w->globalchannel->m_max, 4000);
    Release(w->pctHistogram, at(*w, 60), Qt::RightButton);
    EXPECT_EQ(w->Internals().histdim, -1);

    const int before = w->recomputeCount[0];
    Press(w->pctHistogram, at(*w, 0));
    ASSERT_EQ(w->Internals().histdim, 0);
    Move(w->pctHistogram, at(*w, W));
    EXPECT_EQ(w->globalchannel->m_min, 1000 + (4071 - 1000));
    EXPECT_GT(w->recomputeCount[0], before);
    // The upper marker on the redrawn axis, and no clamping below 0.
    Release(w->pctHistogram, at(*w, W));
    w->globalchannel->m_min = 1000;
    w->pctHistogram->repaint();
    Press(w->pctHistogram, at(*w, upper));
    ASSERT_EQ(w->Internals().histdim, 1);
    Move(w->pctHistogram, at(*w, upper - 2 * W));
    EXPECT_EQ(w->globalchannel->m_max, 4000 - 2 * 3071);
}

TEST(HistogramPanel, FirstChannelAtLoadBlankWithoutAChannelOrWithEqualAxes)
{
    auto w = Open({16, 12, 2, 3}, {"x", "y", "z", "c"},
                  [](const std::vector<int>& c) { return 500 + c[0] + 100 * c[3]; });
    w->tabControl1->setCurrentIndex(1);
    // The first channel is selected at load, with this image's labels.
    EXPECT_EQ(w->listChannels->currentRow(), 0);
    w->pctHistogram->repaint();
    EXPECT_EQ(w->lblMin->text(), "500");
    EXPECT_EQ(w->lblMax->text(), "515");

    // Nothing selected in the list: blank, and the mouse moves no range.
    w->listChannels->setCurrentRow(-1);
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

    // Another image: no label of the previous one survives the load.
    Load(*w, {8, 8}, {"x", "y"}, [](const std::vector<int>& c) { return 40 + c[0]; });
    EXPECT_NE(w->lblMax->text(), "715");
    w->pctHistogram->repaint();
    EXPECT_EQ(w->lblMin->text(), "40");
    EXPECT_EQ(w->lblMax->text(), "47");
}

// Three channels on z planes (value 1000 c + x + y), autoscaling on as a user gets it.
std::unique_ptr<formImageViewer> autoWindow()
{
    auto w = Open({32, 24, 2, 3}, {"x", "y", "z", "ch"},
                  [](const std::vector<int>& c) { return 1000 * (c[3] + 1) + c[0] + c[1]; });
    w->tabControl1->setCurrentIndex(1);
    w->pctHistogram->repaint();
    return w;
}

TEST(HistogramRange, ADraggedMarkerStaysUnderAutoscaling)
{
    auto w = autoWindow();
    ASSERT_TRUE(w->checkAutoExpand->isChecked());
    ImageViewer::ImageChannel& red = *(*w->channels)[0];
    ASSERT_EQ(red.m_min, 1000);
    ASSERT_EQ(red.m_max, 1000 + 31 + 23);
    // Lower marker inward by a quarter of the axis.
    const int W = axisWidth(*w);
    const int x0 = w->Internals().histogramAxis.a0 == 1000 ? 0 : W * (1000 - w->Internals().histogramAxis.a0) / static_cast<int>(w->Internals().histogramAxis.A);
    Press(w->pctHistogram, at(*w, x0));
    ASSERT_EQ(w->Internals().histdim, 0);
    Move(w->pctHistogram, at(*w, x0 + W / 4));
    Release(w->pctHistogram, at(*w, x0 + W / 4));
    const int dragged = red.m_min;
    EXPECT_GT(dragged, 1000);
    EXPECT_FALSE(red.m_autoscaling);
    // Pictures recomputed after the drag leave it where it was put.
    w->RefreshPictures(ImageViewer::ViewAll);
    w->trackDim[2]->setValue(0);
    EXPECT_EQ(red.m_min, dragged);
    // The box says that some ranges are now fixed; ticking it again expands them all.
    EXPECT_EQ(w->checkAutoExpand->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE((*w->channels)[1]->m_autoscaling);
    w->checkAutoExpand->click();
    EXPECT_EQ(w->checkAutoExpand->checkState(), Qt::Checked);
    EXPECT_TRUE(red.m_autoscaling);
    EXPECT_EQ(red.m_min, 1000);
}

TEST(HistogramRange, AutoSetsPercentilesOfThePicture)
{
    // 2000 pixels per picture: the ranks 1.999 and 1997.001 leave out the extreme value at
    // each end.
    auto w = MakeWindow();
    Load(*w, {50, 40, 2}, {"x", "y", "ch"}, [](const std::vector<int>& c) {
        const int k = c[0] + 50 * c[1]; // 0 .. 1999
        return c[2] == 0 ? 3 * k : 60000 - 7 * (k % 1000) - (k / 1000);
    });
    w->tabControl1->setCurrentIndex(1);
    (*w->channels)[1]->m_min = 5;
    w->buttonAutoRange->click();
    struct Want { int lo, hi; } want[2];
    for (int c = 0; c < 2; ++c) {
        std::vector<int> values;
        for (int k = 0; k < 2000; ++k)
            values.push_back(c == 0 ? 3 * k : 60000 - 7 * (k % 1000) - (k / 1000));
        std::sort(values.begin(), values.end());
        want[c] = {values[1], values[1998]};
    }
    for (int c = 0; c < 2; ++c) {
        const auto& ch = *(*w->channels)[static_cast<size_t>(c)];
        EXPECT_EQ(ch.m_min, want[c].lo) << c;
        EXPECT_EQ(ch.m_max, want[c].hi) << c;
        EXPECT_FALSE(ch.m_autoscaling) << c;
    }
    EXPECT_EQ(w->checkAutoExpand->checkState(), Qt::Unchecked);

    // A hidden channel keeps its range; a double-click sets only the selected channel.
    (*w->channels)[0]->m_min = 77;
    (*w->channels)[1]->m_min = 88;
    w->listChannels->item(1)->setCheckState(Qt::Unchecked);
    QTest::keyClick(w.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ((*w->channels)[0]->m_min, want[0].lo);
    EXPECT_EQ((*w->channels)[1]->m_min, 88);
    w->listChannels->setCurrentRow(1);
    QTest::mouseDClick(w->pctHistogram, Qt::LeftButton, Qt::NoModifier, at(*w, 20));
    EXPECT_EQ((*w->channels)[1]->m_min, want[1].lo);
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
