// What the three views show: channel compositing, equal axes, projection, the pixel
// readout and the spectral path with its calibration boxes.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xffffff;
}

TEST(Views, ChannelsAddUpAndDisabledOnesDropOut)
{
    auto w = MakeWindow();
    // Every channel ramps from 0 at x = 0 to its maximum at x = 7.
    Load(*w, {8, 8, 3}, {"x", "y", "ch"}, [](const std::vector<int>& p) { return p[0] * 100; });
    ASSERT_FALSE(w->GDIImageXY.isNull());
    EXPECT_EQ(At(w->GDIImageXY, 7, 3), 0xffffffu); // red + green + blue
    EXPECT_EQ(At(w->GDIImageXY, 0, 3), 0x000000u);
    (*w->channels)[1]->m_enabled = false;
    w->RefreshPictures(7);
    EXPECT_EQ(At(w->GDIImageXY, 7, 3), 0xff00ffu); // red + blue
    for (auto& ch : *w->channels)
        ch->m_enabled = false;
    w->RefreshPictures(7);
    EXPECT_EQ(At(w->GDIImageXY, 7, 3), 0x000000u);
}

TEST(Views, EqualAxesLeaveThatViewBlack)
{
    auto w = Open({8, 8, 4}, {"x", "y", "z"}, [](const std::vector<int>& p) { return p[0] + p[1]; });
    w->comboDimY->setCurrentIndex(0);
    EXPECT_TRUE(w->GDIImageXY.isNull());
    EXPECT_FALSE(w->GDIImageXZ.isNull());
    EXPECT_FALSE(w->GDIImageYZ.isNull());
    EXPECT_EQ(w->GDIImageYZ.size(), QSize(4, 8)); // YZ: z across, the (new) Y dimension x down
    const QImage shot = w->pictureXY->grab().toImage();
    EXPECT_EQ(At(shot, 10, 10), 0x000000u);
}

TEST(Views, ProjectionOnlyInMaxMode)
{
    auto w = Open({8, 8, 5}, {"x", "y", "z"}, [](const std::vector<int>& p) { return 10 * p[2] + p[0]; });
    ASSERT_EQ(w->curslice[2], 2);
    // The side views widen the range to all planes (0 .. 47); draw plane 2 again with it.
    w->RefreshPictures(1);
    const int plane2 = qRed(w->GDIImageXY.pixel(0, 0));
    auto* box = w->findChild<QCheckBox*>(QStringLiteral("checkDimProj2"));
    w->comboProj->setCurrentIndex(1);
    box->setChecked(true);
    // The maximum over z is plane 4 (40 at x = 0): brighter than plane 2 (20 there).
    EXPECT_GT(qRed(w->GDIImageXY.pixel(0, 0)), plane2 + 50);
    w->comboProj->setCurrentIndex(0);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(qRed(w->GDIImageXY.pixel(0, 0)), plane2);
}

TEST(Views, PixelValueReadsImageDimensionsZeroAndOne)
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

TEST(Views, SpectralPathFollowsTheCalibrationBoxes)
{
    // Twelve spectral samples calibrated from 500 to 600 nm before the load: the very first
    // picture has colour.
    auto w = MakeWindow();
    const auto calibrate = [&](const char* pos1) {
        w->textSpectrumPos1->setText(QString::fromLatin1(pos1));
        w->textSpectrumWavelength1->setText(QStringLiteral("500"));
        w->textSpectrumPos2->setText(QStringLiteral("11"));
        w->textSpectrumWavelength2->setText(QStringLiteral("600"));
    };
    calibrate("0");
    Load(*w, {8, 8, 12}, {"x", "y", "w"}, [](const std::vector<int>& p) { return 100 + 50 * p[2] + p[0]; });
    ASSERT_TRUE(w->IsSpectral());
    EXPECT_NE(At(w->GDIImageXY, 3, 3), 0x000000u);

    for (const char* bad : {"abc", "11"}) { // not a number; equal reference positions
        calibrate(bad);
        w->RefreshPictures(7);
        ASSERT_FALSE(w->GDIImageXY.isNull()) << bad;
        EXPECT_EQ(At(w->GDIImageXY, 3, 3), 0x000000u) << bad;
    }
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
