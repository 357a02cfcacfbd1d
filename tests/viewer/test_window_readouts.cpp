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

TEST(Readouts, CursorMouseAndEveryChannelUnderTheMouseUntilTheNextLoad)
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

    // Cleared at every load, and read again from the new image.
    w->pctHistogram->repaint();
    Load(*w, {4, 4}, {"x", "y"}, [](const std::vector<int>&) { return 7; });
    EXPECT_TRUE(w->statusMouse->text().isEmpty());
    EXPECT_TRUE(w->statusValues->text().isEmpty());
    EXPECT_EQ(w->statusCursor->text(), QStringLiteral("Cursor: x 2 y 2"));
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("7"));
    Move(w->pictureXY, QPoint(1, 1), Qt::NoButton);
    EXPECT_EQ(w->statusValues->text(), QStringLiteral("Value: 7"));
}

// The pixel readout follows the cursor along any of the image's dimensions.
TEST(Readouts, PixelValueReadsImageDimensionsZeroAndOne)
{
    auto w = Open({8, 8, 5}, {"x", "y", "z"}, [](const std::vector<int>& p) { return p[1] * 8 + p[0] + 100 * p[2]; });
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("236")); // (4, 4, 2)
    w->comboDimX->setCurrentIndex(2);
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("236"));
    w->findChild<QSlider*>(QStringLiteral("trackDim0"))->setValue(5);
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("237"));
    w->findChild<QSlider*>(QStringLiteral("trackDim2"))->setValue(0);
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("37"));
}

// The red of the XY picture's centre less its blue: positive for a red spectrum.
int RedOverBlue(const formImageViewer& w)
{
    const QRgb c = w.GDIImageXY.pixel(w.GDIImageXY.width() / 2, w.GDIImageXY.height() / 2);
    return qRed(c) - qBlue(c);
}

// The calibration boxes drive the spectral picture (its colours are tested headless): set
// before a load, edited, refused, and kept for the next spectral image.
TEST(Spectrum, BoxesCalibrateThePictureAndATypedCalibrationStays)
{
    auto w = MakeWindow();
    const auto calibrate = [&](const char* pos1, const char* w1, const char* pos2, const char* w2) {
        w->textSpectrumPos1->setText(QString::fromLatin1(pos1));
        w->textSpectrumWavelength1->setText(QString::fromLatin1(w1));
        w->textSpectrumPos2->setText(QString::fromLatin1(pos2));
        w->textSpectrumWavelength2->setText(QString::fromLatin1(w2));
    };
    // Twelve samples calibrated from 500 to 600 nm before the load: the first picture has colour.
    calibrate("0", "500", "11", "600");
    Load(*w, {8, 8, 12}, {"x", "y", "w"}, [](const std::vector<int>& p) { return 100 + 50 * p[2] + p[0]; });
    ASSERT_TRUE(w->IsSpectral());
    EXPECT_NE(w->GDIImageXY.pixel(3, 3) & 0xffffff, 0u);
    for (const char* bad : {"abc", "11"}) { // not a number; equal reference positions
        calibrate(bad, "500", "11", "600");
        w->RefreshPictures(7);
        ASSERT_FALSE(w->GDIImageXY.isNull()) << bad;
        EXPECT_EQ(w->GDIImageXY.pixel(3, 3) & 0xffffff, 0u) << bad;
    }

    // Samples 14-17 of 32: an edit that calls them about 660 nm repaints at once, in red.
    Load(*w, {6, 6, 32}, {"x", "y", "lambda"},
         [](const std::vector<int>& p) { return p[2] >= 14 && p[2] <= 17 ? 3000 : 10; });
    const int before = w->recomputeCount[0];
    calibrate("0", "650", "31", "680");
    EXPECT_GT(w->recomputeCount[0], before);
    EXPECT_GT(RedOverBlue(*w), 50);
    // About 450 nm: blue, hue 220-260 degrees, also where every sample lies in a narrow band
    // (whose sums are not levelled as white light's are).
    calibrate("0", "430", "31", "470");
    const QColor centre = QColor::fromRgb(w->GDIImageXY.pixel(3, 3));
    EXPECT_GE(centre.hsvHue(), 220) << centre.red() << " " << centre.green() << " " << centre.blue();
    EXPECT_LE(centre.hsvHue(), 260) << centre.red() << " " << centre.green() << " " << centre.blue();
    // What the user typed outlives the next load of a spectral image.
    Load(*w, {6, 6, 20}, {"x", "y", "lambda"}, [](const std::vector<int>&) { return 5; });
    EXPECT_EQ(w->textSpectrumWavelength1->text(), QStringLiteral("430"));
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
