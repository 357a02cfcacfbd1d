// Navigation in the real window: which views a cursor move recomputes, the position boxes,
// the mouse in the three views, pan, the wheel zoom, the layout sizes and the cursor lines.
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <climits>

#include "TablePanel.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageViewer::formImageViewer;

namespace {

QSlider* Track(formImageViewer& w, int d)
{
    return w.findChild<QSlider*>(QStringLiteral("trackDim") + QString::number(d));
}

QLineEdit* Box(formImageViewer& w, int d)
{
    return w.findChild<QLineEdit*>(QStringLiteral("textDimNum") + QString::number(d));
}

QCheckBox* ProjBox(formImageViewer& w, int d)
{
    return w.findChild<QCheckBox*>(QStringLiteral("checkDimProj") + QString::number(d));
}

int SliderMask(formImageViewer& w, int d, int value)
{
    const auto before = Counts(w);
    Track(w, d)->setValue(value);
    return RecomputedMask(before, Counts(w));
}

TEST(Slider, RecomputesOnlyTheViewsThatDependOnIt3D)
{
    auto w = MakeWindow();
    Load(*w, {32, 32, 31}, {"x", "y", "z"});
    EXPECT_EQ(SliderMask(*w, 2, 3), 1);
    EXPECT_EQ(w->curslice[2], 3);
    EXPECT_EQ(Box(*w, 2)->text(), QStringLiteral("3"));
    EXPECT_EQ(SliderMask(*w, 0, 5), 4);
    EXPECT_EQ(SliderMask(*w, 1, 5), 2);
    w->comboProj->setCurrentIndex(1);
    ProjBox(*w, 0)->setChecked(true);
    EXPECT_EQ(SliderMask(*w, 0, 9), 0);
    EXPECT_EQ(w->curslice[0], 9);
    // A checked box without the "max" mode projects nothing, so the picture must follow.
    w->comboProj->setCurrentIndex(0);
    EXPECT_EQ(SliderMask(*w, 0, 10), 4);
}

TEST(Slider, ViewsNotRecomputedAreRepaintedWithNewCursorLines)
{
    auto w = MakeWindow();
    Load(*w, {32, 32, 31}, {"x", "y", "z"});
    QApplication::processEvents();
    const int xz = w->pictureXZ->paintCount, yz = w->pictureYZ->paintCount, xy = w->pictureXY->paintCount;
    EXPECT_EQ(SliderMask(*w, 2, 3), 1);
    QApplication::processEvents();
    EXPECT_GT(w->pictureXZ->paintCount, xz);
    EXPECT_GT(w->pictureYZ->paintCount, yz);
    EXPECT_GT(w->pictureXY->paintCount, xy);
    // A pan repaints all three and recomputes none.
    const auto before = Counts(*w);
    const int xz2 = w->pictureXZ->paintCount;
    Press(w->pictureXY, QPoint(5, 5), Qt::MiddleButton);
    Drag(w->pictureXY, QPoint(9, 5), Qt::MiddleButton);
    QApplication::processEvents();
    EXPECT_GT(w->pictureXZ->paintCount, xz2);
    EXPECT_EQ(Counts(*w), before);
}

TEST(Slider, FourthDimensionRecomputesAllUnlessItIsTheChannel)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 4, 5}, {"x", "y", "z", "t"});
    EXPECT_EQ(SliderMask(*w, 3, 1), 7);
    w->comboDimC->setCurrentIndex(4);
    EXPECT_EQ(SliderMask(*w, 3, 2), 0);
    EXPECT_EQ(SliderMask(*w, 2, 1), 1);
}

TEST(Slider, ProgrammaticUpdatesAreNoScroll)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 8}, {"x", "y", "z"});
    const auto before = Counts(*w);
    w->curslice[2] = 6;
    w->UpdateLocation();
    EXPECT_EQ(Track(*w, 2)->value(), 6);
    EXPECT_EQ(Counts(*w), before);
}

TEST(PositionBox, RejectsOutOfRangeAndShowsTheCursorAgain)
{
    auto w = MakeWindow();
    Load(*w, {32, 32, 31}, {"x", "y", "z"});
    QLineEdit* box = Box(*w, 2);
    auto before = Counts(*w);
    box->setText(QStringLiteral("999"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(w->curslice[2], 15);
    EXPECT_EQ(box->text(), QStringLiteral("15"));
    EXPECT_EQ(RecomputedMask(before, Counts(*w)), 7);

    box->setText(QStringLiteral("12"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(w->curslice[2], 12);
    EXPECT_EQ(Track(*w, 2)->value(), 12);

    before = Counts(*w);
    box->setText(QStringLiteral("twelve"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(w->curslice[2], 12);
    EXPECT_EQ(box->text(), QStringLiteral("twelve"));
    EXPECT_EQ(Counts(*w), before);

    box->setText(QStringLiteral("-1"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(w->curslice[2], 12);
    EXPECT_EQ(box->text(), QStringLiteral("12"));
}

TEST(MouseXY, ClicksMapByTruncation)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    w->properties.m_zoom = 2;
    w->imagedelta = ImageReader::Vector(10, 0);
    Press(w->pictureXY, QPoint(9, 5)); // (9 - 10) / 2 = -0.5 -> 0
    Release(w->pictureXY, QPoint(9, 5));
    EXPECT_EQ(w->curslice[0], 0);
    EXPECT_EQ(w->curslice[1], 2);
    w->curslice[0] = 5;
    Press(w->pictureXY, QPoint(7, 9)); // (7 - 10) / 2 = -1.5 -> -1: outside, x keeps 5
    EXPECT_EQ(w->curslice[0], 5);
    EXPECT_EQ(w->curslice[1], 4);
}

TEST(MouseXY, ClickMovesCursorAndRecomputesTheSideViews)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    const auto before = Counts(*w);
    Press(w->pictureXY, QPoint(30, 40));
    EXPECT_EQ(w->curslice[0], 30);
    EXPECT_EQ(w->curslice[1], 40);
    EXPECT_EQ(RecomputedMask(before, Counts(*w)), 6);
    EXPECT_EQ(w->meastype, 0);
    EXPECT_EQ(Box(*w, 0)->text(), QStringLiteral("30"));
}

TEST(MouseXY, DraggingPastTheEdgeKeepsTheLastInsideCoordinate)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    Press(w->pictureXY, QPoint(10, 10));
    Drag(w->pictureXY, QPoint(63, 12));
    Drag(w->pictureXY, QPoint(200, 20));
    EXPECT_EQ(w->curslice[0], 63);
    EXPECT_EQ(w->curslice[1], 20);
    EXPECT_EQ(w->measend[0], 200); // the measurement end is not clamped
}

TEST(MouseXY, ModifiersChooseTheMeasurement)
{
    struct Case
    {
        Qt::KeyboardModifiers mods;
        int meastype;
    } cases[] = {{Qt::ShiftModifier, 1}, {Qt::ControlModifier, 2}, {Qt::ShiftModifier | Qt::ControlModifier, 0},
                 {Qt::AltModifier, 0}};
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    for (const Case& c : cases) {
        w->curslice[0] = 30;
        w->curslice[1] = 40;
        Press(w->pictureXY, QPoint(5, 6), Qt::LeftButton, c.mods);
        Drag(w->pictureXY, QPoint(9, 11), Qt::LeftButton, c.mods);
        EXPECT_EQ(w->meastype, c.meastype) << c.mods;
        EXPECT_EQ(w->curslice[0], 30) << c.mods;
        EXPECT_EQ(w->curslice[1], 40) << c.mods;
        EXPECT_EQ(w->measstart[0], 5);
        EXPECT_EQ(w->measstart[1], 6);
        EXPECT_EQ(w->measend[0], 9);
        EXPECT_EQ(w->measend[1], 11);
        EXPECT_EQ(w->measstart[2], w->curslice[2]);
        Release(w->pictureXY, QPoint(9, 11));
    }
}

TEST(MouseXY, MiddleButtonPansWithoutRecomputing)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    const auto before = Counts(*w);
    Press(w->pictureXY, QPoint(50, 50), Qt::MiddleButton);
    Drag(w->pictureXY, QPoint(70, 45), Qt::MiddleButton);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(20, -5));
    Release(w->pictureXY, QPoint(70, 45), Qt::MiddleButton);
    Press(w->pictureXY, QPoint(10, 10), Qt::MiddleButton);
    Drag(w->pictureXY, QPoint(0, 0), Qt::MiddleButton);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(10, -15));
    EXPECT_EQ(Counts(*w), before);
    EXPECT_EQ(w->curslice[0], 32);

    // Offsets saturate instead of wrapping.
    w->imagedelta = ImageReader::Vector(INT_MAX - 1, INT_MIN + 1);
    Press(w->pictureXY, QPoint(0, 0), Qt::MiddleButton);
    Drag(w->pictureXY, QPoint(100, -100), Qt::MiddleButton);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(INT_MAX, INT_MIN));
    EXPECT_FALSE(w->pictureXY->grab().isNull());
}

TEST(MouseSideViews, PressMovesTheCursorThere)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    auto before = Counts(*w);
    Press(w->pictureXZ, QPoint(20, 3));
    EXPECT_EQ(w->curslice[0], 20);
    EXPECT_EQ(w->curslice[2], 3);
    EXPECT_EQ(RecomputedMask(before, Counts(*w)), 5);
    before = Counts(*w);
    Press(w->pictureYZ, QPoint(4, 25));
    EXPECT_EQ(w->curslice[2], 4);
    EXPECT_EQ(w->curslice[1], 25);
    EXPECT_EQ(RecomputedMask(before, Counts(*w)), 3);
    // The side views ignore a press without the left button and any vertical / horizontal pan.
    w->imagedelta = ImageReader::Vector(0, 30);
    Press(w->pictureXZ, QPoint(5, 5), Qt::MiddleButton);
    EXPECT_EQ(w->curslice[0], 20);
    Press(w->pictureXZ, QPoint(5, 5));
    EXPECT_EQ(w->curslice[2], 5); // XZ has no vertical pan
}

TEST(Wheel, ZoomsAboutTheMouse)
{
    auto w = MakeWindow();
    QApplication::setWheelScrollLines(3);
    Load(*w, {512, 512, 31}, {"x", "y", "z"});
    ASSERT_EQ(w->layoutImage->columnWidths()[0], 31);
    const auto before = Counts(*w);
    Wheel(w->pictureXY, QPoint(100, 100), 120);
    EXPECT_EQ(w->properties.m_zoom, 1.2968395546510099);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(-38, -38));
    EXPECT_EQ(Counts(*w), before);
    EXPECT_EQ(w->layoutImage->columnWidths()[0], 40); // 31 * 1.2968 = 40.2
    Wheel(w->pictureXY, QPoint(100, 100), 10); // less than a step: nothing
    EXPECT_EQ(w->properties.m_zoom, 1.2968395546510099);
}

TEST(Layout, SideViewsFollowTheDepth)
{
    struct Case
    {
        int depth, column, row;
    } cases[] = {{31, 31, 31}, {400, 260, 240}};
    auto w = MakeWindow();
    ASSERT_EQ(w->layoutImage->size(), QSize(520, 480));
    for (const Case& c : cases) {
        Load(*w, {512, 512, c.depth}, {"x", "y", "z"});
        EXPECT_EQ(w->layoutImage->columnWidths()[0], c.column);
        EXPECT_EQ(w->layoutImage->rowHeights()[0], c.row);
        // The pictures fill their cells less the 3-pixel margins.
        EXPECT_EQ(w->pictureYZ->width(), c.column - 3);
        EXPECT_EQ(w->pictureXZ->height(), c.row - 3);
    }
    w->resize(900, 700);
    EXPECT_EQ(w->layoutImage->size(), QSize(662, 631));
    w->resize(100, 100);
    EXPECT_EQ(w->size(), QSize(405, 421));
}

TEST(Paint, CursorLinesAtTheCursorPixelsEdges)
{
    auto w = MakeWindow();
    // Black but for one bright corner pixel, which gives the display range.
    Load(*w, {64, 64, 8}, {"x", "y", "z"},
         [](const std::vector<int>& p) { return static_cast<unsigned short>(p[0] == 63 && p[1] == 63 ? 1000 : 0); });
    w->properties.m_zoom = 2;
    w->curslice[0] = 10;
    w->curslice[1] = 5;
    const QImage shot = w->pictureXY->grab().toImage();
    const auto lit = [&](int x, int y) { return qGray(shot.pixel(x, y)) > 0; };
    EXPECT_TRUE(lit(20, 60));
    EXPECT_FALSE(lit(19, 60));
    EXPECT_FALSE(lit(21, 60));
    EXPECT_TRUE(lit(60, 10));
    EXPECT_FALSE(lit(60, 9));
    EXPECT_FALSE(lit(60, 11));
    EXPECT_FALSE(lit(20, 130)); // the lines end with the picture (64 * 2 pixels)
}

TEST(Projection, ModeHidesAndShowsTheBoxesKeepingTheirState)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 4}, {"x", "y", "z"});
    w->comboProj->setCurrentIndex(1);
    EXPECT_TRUE(ProjBox(*w, 2)->isVisibleTo(w.get()));
    const auto before = Counts(*w);
    ProjBox(*w, 2)->setChecked(true);
    EXPECT_EQ(RecomputedMask(before, Counts(*w)), 1);
    w->comboProj->setCurrentIndex(0);
    EXPECT_FALSE(ProjBox(*w, 2)->isVisibleTo(w.get()));
    EXPECT_TRUE(ProjBox(*w, 2)->isChecked());
    w->comboProj->setCurrentIndex(1);
    EXPECT_TRUE(ProjBox(*w, 2)->isVisibleTo(w.get()));
    EXPECT_TRUE(ProjBox(*w, 2)->isChecked());
}

TEST(Axes, XChangeResetsPanAndMeasurementXZChangeKeepsThem)
{
    auto w = MakeWindow();
    Load(*w, {16, 16, 4, 4}, {"x", "y", "z", "t"});
    w->imagedelta = ImageReader::Vector(7, 9);
    w->meastype = 2;
    w->comboDimXZ->setCurrentIndex(3);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(7, 9));
    EXPECT_EQ(w->meastype, 2);
    w->comboDimX->setCurrentIndex(2);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(0, 9));
    EXPECT_EQ(w->meastype, 0);
    w->comboDimY->setCurrentIndex(3);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(0, 0));
}

TEST(Safety, ExtremeZoomsCountAsOutside)
{
    auto w = MakeWindow();
    Load(*w, {64, 64, 8}, {"x", "y", "z"});
    w->properties.m_zoom = 1e-300; // every mouse position maps far beyond the image
    Press(w->pictureXY, QPoint(5, 5));
    EXPECT_EQ(w->curslice[0], 32);
    EXPECT_EQ(w->curslice[1], 32);
    Press(w->pictureXZ, QPoint(5, 5));
    Press(w->pictureYZ, QPoint(5, 5));
    EXPECT_EQ(w->curslice[2], 4);
    Press(w->pictureXY, QPoint(5, 5), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w->measstart[0], ImageViewer::kPixelLimit);

    w->properties.m_zoom = 1.7e308;
    Wheel(w->pictureXY, QPoint(50, 50), 120); // the zoom overflows to infinity
    EXPECT_FALSE(w->pictureXY->grab().isNull());
    EXPECT_FALSE(w->pictureXZ->grab().isNull());
    Press(w->pictureXY, QPoint(5, 5));
    w->properties.m_zoom = 1e7; // far-off but finite pictures are clipped before drawing
    w->imagedelta = ImageReader::Vector(-300000000, 5);
    EXPECT_FALSE(w->pictureXY->grab().isNull());
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
