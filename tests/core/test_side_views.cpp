// The view table's side tracks and the side views' own depth zoom, and the wavelengths a
// spectral dimension takes from its file, against hand-worked values.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "OpenDefaults.h"
#include "ViewMath.h"

using namespace ImageViewer;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The demo image (256 x 256 x 48 at 100 x 100 x 300 nm): at zoom 1 its picture is 256 pixels
// each way and its side views 144 deep. In a 1000 x 800 table a third is 333 x 266.
TEST(SideViews, TracksAreCappedAndFollowTheTableNotTheZoom)
{
    // Height decides: (797 - 266) / 256; the column is the depth at that zoom.
    const TableFit fit = FitTable(256, 256, 144, 144, 1000, 800);
    EXPECT_DOUBLE_EQ(fit.zoom, 531.0 / 256);
    EXPECT_FLOAT_EQ(fit.row, 266.0f);
    EXPECT_NEAR(fit.column, 144 * 531.0 / 256, 1e-3);
    // A deep stack (1024 x 1024 x 2000 at 162.5 / 500 nm): each side track a third, so XY
    // keeps more than half of the table both ways.
    const double depth = 2000 * 500 / 162.5;
    for (const auto& [width, height] : {std::pair(1600, 1000), std::pair(1024, 720)}) {
        const TableFit deep = FitTable(1024, 1024, depth, depth, width, height);
        EXPECT_FLOAT_EQ(deep.column, static_cast<float>(width / 3)) << width;
        EXPECT_FLOAT_EQ(deep.row, static_cast<float>(height / 3)) << width;
        EXPECT_GE(2 * (height - deep.row), height);
    }
    // Without side views the picture has the table less the gap.
    const TableFit flat = FitTable(256, 256, 0, 0, 1000, 800);
    EXPECT_DOUBLE_EQ(flat.zoom, 797.0 / 256);
    EXPECT_EQ(flat.column, 0.0f);
    EXPECT_EQ(flat.row, 0.0f);
    // Nonsense lengths count as absent, and the zoom stays positive.
    const TableFit odd = FitTable(kNaN, -5, kNaN, 1e300, 10, 10);
    EXPECT_GT(odd.zoom, 0);
    EXPECT_TRUE(std::isfinite(odd.zoom));
}

// A splitter's share replaces the automatic track; the zoom fits what is left.
TEST(SideViews, SplitterSharesGiveTheTracks)
{
    const TableFit column = FitTable(256, 256, 144, 144, 1000, 800, 0.4, 0);
    EXPECT_FLOAT_EQ(column.column, 400.0f);
    EXPECT_FLOAT_EQ(column.row, 266.0f); // still automatic
    EXPECT_DOUBLE_EQ(column.zoom, std::min(597.0, 531.0) / 256);
    const TableFit half = FitTable(256, 256, 144, 144, 1000, 800, 0.5, 0.5);
    EXPECT_FLOAT_EQ(half.column, 500.0f);
    EXPECT_FLOAT_EQ(half.row, 400.0f);
    EXPECT_DOUBLE_EQ(half.zoom, 397.0 / 256);
    // A share without a side view to take it gives no track.
    EXPECT_EQ(FitTable(256, 256, 0, 144, 1000, 800, 0.4, 0).column, 0.0f);

    EXPECT_DOUBLE_EQ(SideShare(400, 1000), 0.4);
    EXPECT_DOUBLE_EQ(SideShare(900, 1000), 0.5);  // XY keeps half
    EXPECT_DOUBLE_EQ(SideShare(-20, 1000), 0.05); // the side view stays in reach
    EXPECT_DOUBLE_EQ(SideShare(kNaN, 1000), 0.0);
    EXPECT_DOUBLE_EQ(SideShare(400, 0), 0.0);
}

// The whole depth fits the track: physical where it fits, squeezed where it does not.
TEST(SideViews, DepthZoomFitsTheWholeDepth)
{
    // The demo's XZ view in the 263 pixels its 266-pixel row leaves: 48 planes at a fitted
    // zoom of 3 * 531 / 256 would need 298.7, so each plane gets 263 / 48.
    const double physical = 3 * 531.0 / 256;
    EXPECT_DOUBLE_EQ(SideDepthZoom(physical, 48, 263), 263.0 / 48);
    EXPECT_LE(48 * SideDepthZoom(physical * 8, 48, 263), 263.0);
    EXPECT_DOUBLE_EQ(SideDepthZoom(2.0, 48, 263), 2.0); // zoomed out: physical aspect
    EXPECT_DOUBLE_EQ(SideDepthZoom(2.0, 0, 263), 2.0);
    EXPECT_DOUBLE_EQ(SideDepthZoom(2.0, 48, 0), 2.0);
    EXPECT_DOUBLE_EQ(SideDepthZoom(2.0, 48, kNaN), 2.0);
}

// The file's wavelengths are used as they are while the calibration is the file's; a typed
// one wins.
TEST(SpectrumWavelengthsFromTheFile, UsedAsGivenUntilTypedOver)
{
    std::vector<double> file;
    for (int i = 0; i < 20; ++i)
        file.push_back(500 + 10 * i + (i % 3) * 1.5); // not a straight line
    const SpectrumCalibration cal = InitialSpectrumCalibration(20, file);
    EXPECT_DOUBLE_EQ(cal.p1, 0);
    EXPECT_DOUBLE_EQ(cal.w1, 500);
    EXPECT_DOUBLE_EQ(cal.p2, 19);
    EXPECT_DOUBLE_EQ(cal.w2, 690 + 1.5);
    EXPECT_TRUE(UsesFileWavelengths(cal, 20));
    EXPECT_EQ(SpectrumWavelengths(cal, 20), file);
    EXPECT_FALSE(UsesFileWavelengths(cal, 21));

    // The boxes show six digits: 488.123456 reads back as 488.123 and is still the file's.
    std::vector<double> fine = {488.123456, 500, 612.987654};
    SpectrumCalibration shown{0, 488.123, 2, 612.988, fine};
    EXPECT_TRUE(UsesFileWavelengths(shown, 3));

    SpectrumCalibration typed = cal;
    typed.w1 = 400;
    typed.w2 = 590;
    EXPECT_FALSE(UsesFileWavelengths(typed, 20));
    const std::vector<double> line = SpectrumWavelengths(typed, 20);
    ASSERT_EQ(line.size(), 20u);
    EXPECT_DOUBLE_EQ(line[0], 400);
    EXPECT_DOUBLE_EQ(line[10], 500);
    EXPECT_DOUBLE_EQ(line[19], 590);

    std::vector<double> broken = file;
    broken[7] = kNaN;
    SpectrumCalibration withGap = cal;
    withGap.fileWavelengths = broken;
    EXPECT_FALSE(UsesFileWavelengths(withGap, 20));
    EXPECT_TRUE(SpectrumWavelengths(SpectrumCalibration{3, 500, 3, 600, {}}, 20).empty());
}

} // namespace
