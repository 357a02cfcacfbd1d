// What the views' controls show: the pixel readout and the spectral calibration boxes.
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
