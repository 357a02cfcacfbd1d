// The status bar readouts, the spectrum calibration boxes and the scale bar.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>

#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

// 16 x 12 x 3 planes of two channels: 100 c + x + 10 y + 1000 z.
unsigned short twoChannels(const std::vector<int>& p)
{
    return static_cast<unsigned short>(100 * p[3] + p[0] + 10 * p[1] + 1000 * p[2]);
}

TEST(Readouts, CursorMouseAndEveryChannelUnderTheMouse)
{
    auto w = Open({16, 12, 3, 2}, {"x", "y", "z", "ch"}, twoChannels, {200, 200, 500, 0});
    EXPECT_EQ(w->statusCursor->text(), QStringLiteral("Cursor: x 8 y 6 z 1 ch 1 (1.6 \u00b5m, 1.2 \u00b5m, 500 nm)"));
    EXPECT_TRUE(w->statusMouse->text().isEmpty());

    // Zoom 1 without pan: view pixel (5, 6) is image pixel (5, 6), z and ch from the cursor.
    Move(w->pictureXY, QPoint(5, 6), Qt::NoButton);
    EXPECT_EQ(w->statusMouse->text(), QStringLiteral("Mouse: x 5 y 6 z 1 ch 1 (1 \u00b5m, 1.2 \u00b5m, 500 nm)"));
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("0: 1065   1: 1165"));
    EXPECT_EQ(w->curslice, V({8, 6, 1, 1})); // a move without a button moves no cursor

    // The XZ view reads x and z (2.5 screen pixels per z plane); a y step under a still
    // mouse updates the values.
    Move(w->pictureXZ, QPoint(3, 6), Qt::NoButton);
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("0: 2063   1: 2163"));
    w->trackDim[1]->setValue(0);
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("0: 2003   1: 2103"));

    // Off the picture nothing is read; a channel name shows in the values.
    Move(w->pictureXY, QPoint(40, 30), Qt::NoButton);
    EXPECT_TRUE(w->statusMouse->text().isEmpty());
    EXPECT_TRUE(w->statusValues->text().isEmpty());
    w->listChannels->item(1)->setText(QStringLiteral("GFP"));
    Move(w->pictureXY, QPoint(0, 0), Qt::NoButton);
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("0: 1000   GFP: 1100"));
}

TEST(Readouts, ClearedAtEveryLoad)
{
    auto w = Open({16, 12, 3, 2}, {"x", "y", "z", "ch"}, twoChannels, {200, 200, 500, 0});
    Move(w->pictureXY, QPoint(5, 6), Qt::NoButton);
    w->pctHistogram->repaint();
    ASSERT_FALSE(w->statusValues->text().isEmpty());
    Load(*w, {4, 4}, {"x", "y"}, [](const std::vector<int>&) { return 7; });
    EXPECT_TRUE(w->statusMouse->text().isEmpty());
    EXPECT_TRUE(w->statusValues->text().isEmpty());
    EXPECT_EQ(w->statusCursor->text(), QStringLiteral("Cursor: x 2 y 2"));
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("7"));
    Move(w->pictureXY, QPoint(1, 1), Qt::NoButton);
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("Value: 7"));
}

// The colour component that dominates the XY picture's centre: 'r', 'g', 'b' or 0 for none.
char Dominant(const formImageViewer& w)
{
    const QRgb c = w.GDIImageXY.pixel(w.GDIImageXY.width() / 2, w.GDIImageXY.height() / 2);
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    if (r > 2 * g && r > 2 * b)
        return 'r';
    if (g > r && g > b)
        return 'g';
    if (b > r && b > g)
        return 'b';
    return 0;
}

TEST(Spectrum, AnEditRepaintsAtOnceAndATypedCalibrationStays)
{
    auto w = MakeWindow();
    Load(*w, {6, 6, 32}, {"x", "y", "lambda"},
         [](const std::vector<int>& p) { return p[2] >= 14 && p[2] <= 17 ? 3000 : 10; });
    // Samples 14-17 of 0 (400 nm) .. 31 (700 nm) are about 540 nm: green.
    EXPECT_EQ(Dominant(*w), 'g');
    const int before = w->recomputeCount[0];
    // Calling sample 0 650 nm puts them far into the red: one edit, a new picture.
    w->textSpectrumWavelength1->setText(QStringLiteral("650"));
    w->textSpectrumWavelength2->setText(QStringLiteral("680"));
    EXPECT_GT(w->recomputeCount[0], before);
    EXPECT_EQ(Dominant(*w), 'r');
    // About 458 nm: blue (true colour shows 400 nm barely at all).
    w->textSpectrumWavelength1->setText(QStringLiteral("438"));
    w->textSpectrumWavelength2->setText(QStringLiteral("478"));
    EXPECT_EQ(Dominant(*w), 'b');
    w->textSpectrumPos2->setText(QStringLiteral("abc"));
    EXPECT_EQ(w->GDIImageXY.pixel(3, 3) & 0xffffff, 0u);

    // What the user typed outlives the next load of a spectral image.
    w->textSpectrumPos2->setText(QStringLiteral("31"));
    Load(*w, {6, 6, 20}, {"x", "y", "lambda"}, [](const std::vector<int>&) { return 5; });
    EXPECT_EQ(w->textSpectrumWavelength1->text(), QStringLiteral("438"));
}

// Longest run of white pixels in a row of the view.
int LongestWhiteRun(QWidget* view)
{
    const QImage shot = view->grab().toImage();
    int best = 0;
    for (int y = 0; y < shot.height(); ++y) {
        int run = 0;
        for (int x = 0; x < shot.width(); ++x) {
            run = (shot.pixel(x, y) & 0xffffff) == 0xffffff ? run + 1 : 0;
            best = std::max(best, run);
        }
    }
    return best;
}

TEST(ScaleBar, DrawnWhenPixelSizesAreKnown)
{
    auto w = Open({300, 200}, {"x", "y"}, Zero, {250, 250});
    w->scaleBarToolStripMenuItem->setChecked(true);
    // At zoom 1 one screen pixel is 250 nm; the bar may take a quarter of the picture (300
    // pixels wide at zoom 1, smaller than the view).
    ASSERT_GT(w->pictureXY->width(), 300);
    const double longest = 250.0 * (300 / 4);
    double round = 1;
    while (round * 10 <= longest)
        round *= 10;
    for (const double step : {5.0, 2.0})
        if (round * step <= longest) {
            round *= step;
            break;
        }
    EXPECT_EQ(LongestWhiteRun(w->pictureXY), static_cast<int>(round / 250));
    w->scaleBarToolStripMenuItem->setChecked(false);
    EXPECT_EQ(LongestWhiteRun(w->pictureXY), 0);
    w->scaleBarToolStripMenuItem->setChecked(true);
    Load(*w, {300, 200}, {"x", "y"}, Zero); // no pixel sizes: no bar
    EXPECT_EQ(LongestWhiteRun(w->pictureXY), 0);
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
