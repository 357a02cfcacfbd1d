// Measurements in the XY view (region histogram, line profile), the cursor profile and the
// properties dialog opened from the menu.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "TablePanel.h"
#include "ViewerTestUtil.h"
#include "WindowTools.h"
#include "formImageProperties.h"

using namespace ViewerTest;

namespace {

const Voxel gradient = [](const std::vector<int>& c) { return 100 + 3 * c[0] + 5 * c[1]; };

bool allBlack(const QImage& img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xffffff) != 0)
                return false;
    return true;
}

// Answers the next modal properties dialog: types `size` into row `row`, then OK or Cancel.
void answerPropertiesDialog(int row, const QString& size, bool ok)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = dynamic_cast<ImageViewer::formImageProperties*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>(QString("textPixelSize%1").arg(row))->setText(size);
        QTest::mouseClick(dialog->findChild<QPushButton*>(ok ? "cmdOK" : "cmdCancel"), Qt::LeftButton);
    });
}

TEST(Measure, RegionHistogramFollowsTheRectangleOnScreen)
{
    auto w = Open({64, 48}, {"x", "y"}, gradient);
    w->properties.m_zoom = 2.0;
    const QImage before = w->pictureXY->grab().toImage();
    // (20, 20) and (38, 28) at zoom 2 are the pixels (10, 10) and (19, 14).
    Drag(w->pictureXY, {20, 20}, {38, 28}, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w->meastype, 1);
    ASSERT_TRUE(w->histogram);
    EXPECT_EQ(w->histogram->m_bitmap.size(), QSize(20, 10));
    // 10 x 5 pixels of 100 + 3x + 5y.
    EXPECT_EQ(w->histogram->m_valmin, 100 + 30 + 50);
    EXPECT_EQ(w->histogram->m_valmax, 100 + 57 + 70);
    EXPECT_EQ(w->curslice[0], 32); // a Shift-drag leaves the cursor

    // Drawn over the rectangle: inside it the picture changes, far from it nothing does.
    const QImage after = w->pictureXY->grab().toImage();
    EXPECT_NE(after.pixel(25, 25), before.pixel(25, 25));
    EXPECT_EQ(after.pixel(110, 90), before.pixel(110, 90));
}

TEST(Measure, LineLengthInPhysicalUnitsAndOnlyInside)
{
    struct Case { std::vector<double> sizes; QPoint from, to; int dist; QString label; } cases[] = {
        // 100 x 300 nm draw y three times as tall: (5, 7) is at (5, 21) on screen.
        {{100, 300}, {5, 21}, {25, 21}, 2000, "2.0 \u00b5m"},
        {{0, 0}, {5, 7}, {25, 7}, 0, ""},
        {{1, 1}, {1, 1}, {4, 5}, 5, "5 nm"},
    };
    for (const Case& c : cases) {
        auto w = Open({64, 48}, {"x", "y"}, gradient, c.sizes);
        Drag(w->pictureXY, c.from, c.to, Qt::LeftButton, Qt::ControlModifier);
        EXPECT_EQ(w->meastype, 2);
        ASSERT_TRUE(w->profile);
        EXPECT_EQ(w->profile->m_dist, c.dist);
        EXPECT_EQ(ImageViewer::FormatLength(w->profile->m_dist), c.label);
        if (c.dist == 2000) { // the line runs through 100 + 3x + 35 for x = 6 .. 25
            EXPECT_EQ(w->profile->m_valmin, 100 + 18 + 35);
            EXPECT_EQ(w->profile->m_valmax, 100 + 75 + 35);
        }
        if (c.dist != 5)
            continue;
        // A line leaving the image keeps the profile before; back inside it is measured again.
        const ImageViewer::ProfileRenderer* first = w->profile.get();
        Drag(w->pictureXY, {10, 10}, {80, 10}, Qt::LeftButton, Qt::ControlModifier);
        EXPECT_EQ(w->profile.get(), first);
        EXPECT_EQ(w->profile->m_dist, 5);
        Press(w->pictureXY, {10, 10}, Qt::LeftButton, Qt::ControlModifier);
        Move(w->pictureXY, {40, 10}, Qt::LeftButton, Qt::ControlModifier);
        EXPECT_NE(w->profile.get(), first);
        EXPECT_EQ(w->profile->m_dist, 30);
    }
}

TEST(Measure, CursorProfileFollowsChannelsAndNone)
{
    // z along the profile; three channels with the values rising along z.
    auto w = Open({16, 12, 5, 3}, {"x", "y", "z", "ch"},
                  [](const std::vector<int>& c) { return 200 + 50 * c[2] + 10 * c[3]; });
    EXPECT_FALSE(w->cursorprofile);
    EXPECT_TRUE(allBlack(w->pictureProfile->grab().toImage()));

    w->comboDimP->setCurrentIndex(3); // z
    ASSERT_TRUE(w->cursorprofile);
    EXPECT_EQ(w->cursorprofile->m_bitmap.size(), QSize(5, w->pictureProfile->height()));
    EXPECT_FALSE(allBlack(w->pictureProfile->grab().toImage()));

    // Only the green channel left: the curve has no red or blue.
    w->listChannels->item(0)->setCheckState(Qt::Unchecked);
    w->listChannels->item(2)->setCheckState(Qt::Unchecked);
    const QImage bars = w->cursorprofile->m_bitmap;
    int green = 0;
    for (int y = 0; y < bars.height(); ++y)
        for (int x = 0; x < bars.width(); ++x) {
            const QColor p = bars.pixelColor(x, y);
            if (p.alpha() == 0 || x == w->curslice[2])
                continue; // transparent, or the column of the position marker
            EXPECT_EQ(p.red() + p.blue(), 0);
            green += p.green() > 0;
        }
    EXPECT_GT(green, 0);

    // A cursor move along z moves the position marker.
    const QImage old = w->cursorprofile->m_bitmap.copy();
    w->trackDim[2]->setValue(1);
    ASSERT_TRUE(w->cursorprofile);
    EXPECT_NE(w->cursorprofile->m_bitmap, old);

    w->comboDimP->setCurrentIndex(0); // "(none)"
    EXPECT_FALSE(w->cursorprofile);
    EXPECT_TRUE(allBlack(w->pictureProfile->grab().toImage()));
}

TEST(Measure, PropertiesDialogAppliesOnOkOnly)
{
    auto w = Open({64, 48, 20}, {"x", "y", "z"}, gradient, {100, 100, 100});
    emit w->fileToolStripMenuItem->aboutToShow();
    ASSERT_TRUE(w->propertiesToolStripMenuItem->isEnabled());
    const std::vector<int> columns = w->layoutImage->columnWidths();
    EXPECT_DOUBLE_EQ(w->tools->ViewZooms(2).first, 1.0);

    answerPropertiesDialog(2, "0.5", false);
    w->propertiesToolStripMenuItem->trigger();
    EXPECT_EQ(w->properties.m_pixelsize[2], 100);
    EXPECT_EQ(w->layoutImage->columnWidths(), columns);

    // 300 nm in z: at zoom 1 the side views show 20 planes three pixels each, in wider tracks.
    answerPropertiesDialog(2, "0.3", true);
    w->propertiesToolStripMenuItem->trigger();
    EXPECT_EQ(w->properties.m_pixelsize[2], 300);
    EXPECT_DOUBLE_EQ(w->tools->ViewZooms(2).first, 3.0);
    EXPECT_DOUBLE_EQ(w->tools->ViewZooms(1).second, 3.0);
    EXPECT_GT(w->layoutImage->columnWidths()[0], columns[0]);
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
