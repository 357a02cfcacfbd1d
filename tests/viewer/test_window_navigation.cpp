// Navigation in the real window: which views a cursor move recomputes, the position boxes,
// the mouse in the three views, pan, the wheel zoom, the layout sizes and the cursor lines.
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <climits>

#include "TablePanel.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

int SliderMask(formImageViewer& w, int d, int value)
{
    return RecomputedBy(w, [&] { w.trackDim[static_cast<size_t>(d)]->setValue(value); });
}

TEST(Slider, ViewsNotRecomputedAreRepaintedWithNewCursorLines)
{
    auto w = Open({32, 32, 31}, {"x", "y", "z"});
    QApplication::processEvents();
    const auto paints = [&] {
        return std::array<int, 3>{w->pictureXY->paintCount, w->pictureXZ->paintCount, w->pictureYZ->paintCount};
    };
    auto before = paints();
    EXPECT_EQ(SliderMask(*w, 2, 3), 1);
    QApplication::processEvents();
    for (int v = 0; v < 3; ++v)
        EXPECT_GT(paints()[v], before[v]) << v;
    // A programmatic cursor update moves the slider without a recompute.
    w->curslice[2] = 6;
    EXPECT_EQ(RecomputedBy(*w, [&] { w->UpdateLocation(); }), 0);
    EXPECT_EQ(w->trackDim[2]->value(), 6);
}

TEST(PositionBox, RejectsOutOfRangeAndShowsTheCursorAgain)
{
    auto w = Open({32, 32, 31}, {"x", "y", "z"});
    QLineEdit* box = w->textDimNum[2];
    struct Case { const char* typed; int cursor; const char* shown; int mask; } cases[] = {
        {"999", 15, "15", 7},     // out of range: the cursor is shown back and everything redrawn
        {"12", 12, "12", 7},      // (the slider follows)
        {"twelve", 12, "twelve", 0}, // not a number: ignored
        {"-1", 12, "12", 7},
    };
    for (const Case& c : cases) {
        box->setText(QString::fromLatin1(c.typed));
        EXPECT_EQ(RecomputedBy(*w, [&] { QTest::keyClick(box, Qt::Key_Return); }), c.mask) << c.typed;
        EXPECT_EQ(w->curslice[2], c.cursor) << c.typed;
        EXPECT_EQ(w->trackDim[2]->value(), c.cursor) << c.typed;
        EXPECT_EQ(box->text(), QString::fromLatin1(c.shown)) << c.typed;
    }
}

TEST(MouseXY, ClicksAndDragsMoveTheCursorByTruncationInsideThePicture)
{
    auto w = Open({64, 64, 8}, {"x", "y", "z"});
    EXPECT_EQ(RecomputedBy(*w, [&] { Press(w->pictureXY, QPoint(30, 40)); }), 6);
    EXPECT_EQ(w->curslice, V({30, 40, 4}));
    EXPECT_EQ(w->meastype, 0);
    EXPECT_EQ(w->textDimNum[0]->text(), QStringLiteral("30"));
    Release(w->pictureXY, QPoint(30, 40));

    w->properties.m_zoom = 2;
    w->imagedelta = ImageReader::Vector(10, 0);
    Press(w->pictureXY, QPoint(9, 5)); // (9 - 10) / 2 = -0.5 -> 0
    Release(w->pictureXY, QPoint(9, 5));
    EXPECT_EQ(w->curslice, V({0, 2, 4}));
    w->curslice[0] = 5;
    Press(w->pictureXY, QPoint(7, 9)); // (7 - 10) / 2 = -1.5 -> -1: outside, x keeps 5
    EXPECT_EQ(w->curslice, V({5, 4, 4}));
    Release(w->pictureXY, QPoint(7, 9));

    // Dragged past the edge, the cursor keeps the last coordinate inside.
    w->properties.m_zoom = 1;
    w->imagedelta = ImageReader::Vector(0, 0);
    Press(w->pictureXY, QPoint(10, 10));
    Move(w->pictureXY, QPoint(63, 12));
    Move(w->pictureXY, QPoint(200, 20));
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
    auto w = Open({64, 64, 8}, {"x", "y", "z"});
    for (const Case& c : cases) {
        w->curslice = V({30, 40, 4});
        Press(w->pictureXY, QPoint(5, 6), Qt::LeftButton, c.mods);
        Move(w->pictureXY, QPoint(9, 11), Qt::LeftButton, c.mods);
        EXPECT_EQ(w->meastype, c.meastype) << c.mods;
        EXPECT_EQ(w->curslice, V({30, 40, 4})) << c.mods;
        EXPECT_EQ(w->measstart, V({5, 6, 4})) << c.mods;
        EXPECT_EQ(w->measend, V({9, 11, 4})) << c.mods;
        Release(w->pictureXY, QPoint(9, 11));
    }
}

TEST(MouseXY, MiddleButtonPansWithoutRecomputing)
{
    auto w = Open({64, 64, 8}, {"x", "y", "z"});
    QApplication::processEvents();
    const int xz = w->pictureXZ->paintCount;
    const int mask = RecomputedBy(*w, [&] {
        Press(w->pictureXY, QPoint(50, 50), Qt::MiddleButton);
        Move(w->pictureXY, QPoint(70, 45), Qt::MiddleButton);
        EXPECT_EQ(w->imagedelta, ImageReader::Vector(20, -5));
        Release(w->pictureXY, QPoint(70, 45), Qt::MiddleButton);
        Press(w->pictureXY, QPoint(10, 10), Qt::MiddleButton);
        Move(w->pictureXY, QPoint(0, 0), Qt::MiddleButton);
    });
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(10, -15));
    EXPECT_EQ(mask, 0);
    EXPECT_EQ(w->curslice[0], 32);
    QApplication::processEvents();
    EXPECT_GT(w->pictureXZ->paintCount, xz); // the side views follow the pan

    // Offsets saturate instead of wrapping.
    w->imagedelta = ImageReader::Vector(INT_MAX - 1, INT_MIN + 1);
    Press(w->pictureXY, QPoint(0, 0), Qt::MiddleButton);
    Move(w->pictureXY, QPoint(100, -100), Qt::MiddleButton);
    EXPECT_EQ(w->imagedelta, ImageReader::Vector(INT_MAX, INT_MIN));
    EXPECT_FALSE(w->pictureXY->grab().isNull());
}

TEST(MouseSideViews, PressMovesTheCursorThere)
{
    auto w = Open({64, 64, 8}, {"x", "y", "z"});
    EXPECT_EQ(RecomputedBy(*w, [&] { Press(w->pictureXZ, QPoint(20, 3)); }), 5);
    EXPECT_EQ(w->curslice, V({20, 32, 3}));
    EXPECT_EQ(RecomputedBy(*w, [&] { Press(w->pictureYZ, QPoint(4, 25)); }), 3);
    EXPECT_EQ(w->curslice, V({20, 25, 4}));
    // The side views ignore a press without the left button and any vertical / horizontal pan.
    w->imagedelta = ImageReader::Vector(0, 30);
    Press(w->pictureXZ, QPoint(5, 5), Qt::MiddleButton);
    EXPECT_EQ(w->curslice[0], 20);
    Press(w->pictureXZ, QPoint(5, 5));
    EXPECT_EQ(w->curslice[2], 5); // XZ has no vertical pan
}

TEST(Layout, SideViewsFollowTheDepth)
{
    auto w = MakeWindow();
    const int table = w->layoutImage->width(), tableH = w->layoutImage->height();
    // The side tracks are the depth at the zoom that fits picture, side view and gap into the
    // table (whatever the zoom is now), at most a third of the table.
    const double fit31 = (std::min(table, tableH) - 3) / (512.0 + 31);
    struct Case { int depth, column, row; } cases[] = {
        {31, static_cast<int>(31 * fit31), static_cast<int>(31 * fit31)}, {400, table / 3, tableH / 3}};
    for (const Case& c : cases) {
        Load(*w, {512, 512, c.depth}, {"x", "y", "z"});
        EXPECT_EQ(w->layoutImage->columnWidths()[0], c.column);
        EXPECT_EQ(w->layoutImage->rowHeights()[0], c.row);
        // The pictures fill their cells less the 3-pixel margins.
        EXPECT_EQ(w->pictureYZ->width(), c.column - 3);
        EXPECT_EQ(w->pictureXZ->height(), c.row - 3);
    }
    // A 2-D image has no side views: the XY view takes the whole table.
    Load(*w, {64, 64}, {"x", "y"});
    EXPECT_EQ(w->layoutImage->columnWidths()[0], 0);
    EXPECT_EQ(w->pictureXY->width(), table - 3);

    // The table takes whatever the window grows by, down to the minimum size.
    const QSize before = w->size(), tableBefore = w->layoutImage->size();
    w->resize(before + QSize(142, 151));
    EXPECT_EQ(w->layoutImage->size(), tableBefore + QSize(142, 151));
    w->resize(100, 100);
    EXPECT_EQ(w->size(), w->minimumSize());
}

TEST(Paint, CursorLinesAtTheCursorPixelsEdges)
{
    // Black but for one bright corner pixel, which gives the display range.
    auto w = Open({64, 64, 8}, {"x", "y", "z"},
                  [](const std::vector<int>& p) { return p[0] == 63 && p[1] == 63 ? 1000 : 0; });
    w->properties.m_zoom = 2;
    w->curslice[0] = 10;
    w->curslice[1] = 5;
    const QImage shot = w->pictureXY->grab().toImage();
    const auto lit = [&](int x, int y) { return qGray(shot.pixel(x, y)) > 0; };
    EXPECT_TRUE(lit(20, 60) && lit(60, 10));
    EXPECT_FALSE(lit(19, 60) || lit(21, 60) || lit(60, 9) || lit(60, 11));
    EXPECT_FALSE(lit(20, 130)); // the lines end with the picture (64 * 2 pixels)
}

TEST(Projection, ModeHidesAndShowsTheBoxesKeepingTheirState)
{
    auto w = Open({16, 16, 4}, {"x", "y", "z"});
    w->comboProj->setCurrentIndex(1);
    EXPECT_TRUE(w->checkDimProj[2]->isVisibleTo(w.get()));
    EXPECT_EQ(RecomputedBy(*w, [&] { w->checkDimProj[2]->setChecked(true); }), 1);
    w->checkDimProj[0]->setChecked(true);
    EXPECT_EQ(SliderMask(*w, 0, 9), 0); // a projected x moves no picture
    EXPECT_EQ(w->curslice[0], 9);
    w->comboProj->setCurrentIndex(0);
    EXPECT_FALSE(w->checkDimProj[2]->isVisibleTo(w.get()));
    EXPECT_TRUE(w->checkDimProj[2]->isChecked());
    // A checked box without the "max" mode projects nothing, so the picture must follow.
    EXPECT_EQ(SliderMask(*w, 0, 10), 4);
    w->comboProj->setCurrentIndex(1);
    EXPECT_TRUE(w->checkDimProj[2]->isVisibleTo(w.get()));
    EXPECT_TRUE(w->checkDimProj[2]->isChecked());
}

TEST(Axes, XChangeResetsPanAndMeasurementXZChangeKeepsThem)
{
    auto w = Open({16, 16, 4, 4}, {"x", "y", "z", "t"});
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
    auto w = Open({64, 64, 8}, {"x", "y", "z"});
    w->properties.m_zoom = 1e-300; // every mouse position maps far beyond the image
    Press(w->pictureXY, QPoint(5, 5));
    Press(w->pictureXZ, QPoint(5, 5));
    Press(w->pictureYZ, QPoint(5, 5));
    EXPECT_EQ(w->curslice, V({32, 32, 4}));
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
