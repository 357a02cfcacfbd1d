#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>

#include "PanelsFixture.h"

using ImageViewer::formImageViewer;

namespace {

// Global mode on a 64 x 48 plane holding 1000 + x + 64 y (1000 .. 4071), ranges frozen,
// the "Channels" page in front.
std::unique_ptr<formImageViewer> rampWindow(int chmin, int chmax)
{
    auto w = std::make_unique<formImageViewer>();
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->checkAutoExpand->setChecked(false);
    w->LoadReader(std::make_unique<PanelsTest::MemoryReader>(
                      std::vector<int>{64, 48}, std::vector<std::string>{"x", "y"}, std::vector<double>{},
                      [](const std::vector<int>& c) { return static_cast<unsigned short>(1000 + c[0] + 64 * c[1]); }),
                  "Lumora - memory");
    w->globalchannel->m_min = chmin;
    w->globalchannel->m_max = chmax;
    w->tabControl1->setCurrentIndex(1);
    w->pctHistogram->repaint();
    return w;
}

QImage panelPicture(formImageViewer& w)
{
    return w.pctHistogram->grab().toImage();
}

// Panel x of the drawing origin inside the frame.
int origin(const formImageViewer& w)
{
    return w.pctHistogram->contentsRect().left();
}

int countColour(const QImage& img, int x, QColor colour)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        n += img.pixelColor(x, y) == colour;
    return n;
}

void press(formImageViewer& w, int x, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(w.pctHistogram, button, {}, QPoint(origin(w) + x, 10));
}

void moveHeld(formImageViewer& w, int x, Qt::MouseButtons held)
{
    const QPointF p(origin(w) + x, 10);
    QMouseEvent move(QEvent::MouseMove, p, w.pctHistogram->mapToGlobal(p), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(w.pctHistogram, &move);
}

} // namespace

TEST(PanelsHistogramPanel, ConstantPlaneOnTheFullRange)
{
    auto w = std::make_unique<formImageViewer>();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->checkAutoExpand->setChecked(false);
    w->LoadReader(std::make_unique<PanelsTest::MemoryReader>(std::vector<int>{20, 10}, std::vector<std::string>{"x", "y"},
                                                             std::vector<double>{},
                                                             [](const std::vector<int>&) { return 100; }),
                  "Lumora - memory");
    w->globalchannel->m_min = 0;
    w->globalchannel->m_max = 65535;
    w->tabControl1->setCurrentIndex(1);
    const QImage img = panelPicture(*w);
    EXPECT_EQ(w->lblMin->text(), "0");
    EXPECT_EQ(w->lblMax->text(), "65535");
    // Markers at both ends of the 171-pixel axis, from the top to the baseline (27).
    const int o = origin(*w);
    EXPECT_EQ(img.pixelColor(o + 0, o + 5), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(o + 170, o + 5), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(o + 170, o + 27), QColor(Qt::red));
    EXPECT_EQ(countColour(img, o + 100, Qt::red), 0);
}

TEST(PanelsHistogramPanel, BarsStartAtThePlaneMinimum)
{
    // Axis 0 .. 4071: the bars start at 171 * 1000 / 4072 = 41, nothing stands left of it.
    auto w = rampWindow(0, 4071);
    EXPECT_EQ(w->lblMin->text(), "0");
    EXPECT_EQ(w->lblMax->text(), "4071");
    const QImage img = panelPicture(*w);
    const int o = origin(*w);
    for (int x = 5; x < 41; ++x)
        ASSERT_EQ(countColour(img, o + x, Qt::black), 0) << x;
    EXPECT_GT(countColour(img, o + 41, Qt::black), 0);
    EXPECT_GT(countColour(img, o + 120, Qt::black), 0);
    // The blue ramp falls from the upper marker's top to the lower marker's foot.
    EXPECT_GT(countColour(img, o + 20, Qt::blue), 0);
}

TEST(PanelsHistogramPanel, MarkerHitZone)
{
    // Range 1000 .. 4000 on the axis 1000 .. 4071 (A = 3072): markers at 0 and 166.
    auto w = rampWindow(1000, 4000);
    ASSERT_EQ(w->lblMin->text(), "1000");
    struct Case { int x, histdim; };
    const Case cases[] = {{3, 0}, {4, -1}, {-3, 0}, {-4, -1}, {163, 1}, {162, -1}, {169, 1}, {170, -1}};
    for (const Case& c : cases) {
        press(*w, c.x);
        EXPECT_EQ(w->histdim, c.histdim) << c.x;
        QTest::mouseRelease(w->pctHistogram, Qt::LeftButton, {}, QPoint(origin(*w) + c.x, 10));
        EXPECT_EQ(w->histdim, -1);
    }
    press(*w, 2);
    EXPECT_EQ(w->histdimstart, 1000);
    moveHeld(*w, 2, Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::SizeHorCursor);
    moveHeld(*w, 80, Qt::NoButton);
    EXPECT_EQ(w->pctHistogram->cursor().shape(), Qt::ArrowCursor);
}

TEST(PanelsHistogramPanel, LowerMarkerWinsWhenBothAreInReach)
{
    auto w = rampWindow(1000, 1010); // markers at 0 and 171 * 10 / 3072 = 0
    press(*w, 1);
    EXPECT_EQ(w->histdim, 0);
}

TEST(PanelsHistogramPanel, DragAcrossThePanelMovesByTheAxisSpan)
{
    auto w = rampWindow(1000, 4000);
    const int before = w->recomputeCount[0];
    press(*w, 0);
    ASSERT_EQ(w->histdim, 0);
    moveHeld(*w, 171, Qt::LeftButton);
    EXPECT_EQ(w->globalchannel->m_min, 1000 + (4071 - 1000));
    EXPECT_GT(w->recomputeCount[0], before);
    // The upper marker from the labels of the redrawn axis, and no clamping below 0.
    QTest::mouseRelease(w->pctHistogram, Qt::LeftButton, {}, QPoint(origin(*w) + 171, 10));
    w->globalchannel->m_min = 1000;
    w->pctHistogram->repaint();
    press(*w, 166);
    ASSERT_EQ(w->histdim, 1);
    moveHeld(*w, 166 - 342, Qt::LeftButton);
    EXPECT_EQ(w->globalchannel->m_max, 4000 - 2 * 3071);
}

TEST(PanelsHistogramPanel, RightButtonDragChangesNothing)
{
    auto w = rampWindow(1000, 4000);
    press(*w, 0, Qt::RightButton);
    EXPECT_EQ(w->histdim, 0);
    moveHeld(*w, 60, Qt::RightButton);
    EXPECT_EQ(w->globalchannel->m_min, 1000);
    EXPECT_EQ(w->globalchannel->m_max, 4000);
    QTest::mouseRelease(w->pctHistogram, Qt::RightButton, {}, QPoint(origin(*w) + 60, 10));
    EXPECT_EQ(w->histdim, -1);
}

TEST(PanelsHistogramPanel, BlankWithoutAChannelOrWithEqualAxes)
{
    auto w = PanelsTest::OpenWindow({16, 12, 2, 3}, {"x", "y", "z", "c"}, {}, [](const std::vector<int>& c) {
        return static_cast<unsigned short>(500 + c[0] + 100 * c[3]);
    });
    w->tabControl1->setCurrentIndex(1);
    const int o = origin(*w);
    // Nothing selected in the list: blank, and the mouse moves no range.
    QImage img = panelPicture(*w);
    EXPECT_EQ(countColour(img, o + 0, Qt::red), 0);
    std::vector<std::pair<int, int>> ranges;
    for (const auto& ch : *w->channels)
        ranges.emplace_back(ch->m_min, ch->m_max);
    press(*w, 0);
    moveHeld(*w, 100, Qt::LeftButton);
    for (size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(std::make_pair((*w->channels)[i]->m_min, (*w->channels)[i]->m_max), ranges[i]);

    // With a channel selected the panel shows its range over the plane of that channel.
    w->listChannels->setCurrentRow(2);
    img = panelPicture(*w);
    EXPECT_GT(countColour(img, o + 0, Qt::red), 0);
    EXPECT_EQ(w->lblMin->text(), "700");
    EXPECT_EQ(w->lblMax->text(), "715");

    w->comboDimY->setCurrentIndex(0); // X = Y
    img = panelPicture(*w);
    EXPECT_EQ(countColour(img, o + 0, Qt::red), 0);
    EXPECT_EQ(w->lblMax->text(), "715"); // the labels keep their last values
}

int main(int argc, char** argv)
{
    return PanelsTest::RunAll(argc, argv);
}
