// Fit to window, the View menu's zoom steps and the wheel zoom about the mouse.
#include <QAction>
#include <QLineEdit>
#include <cmath>

#include "TablePanel.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageViewer::ViewAll;

namespace {

// Bounding box of the bright pixels of a view.
QRect brightBox(QWidget* view)
{
    const QImage shot = view->grab().toImage();
    QRect box;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (qGray(shot.pixel(x, y)) > 200)
                box |= QRect(x, y, 1, 1);
    return box;
}

// A white 2-D picture of w x h pixels of the given sizes, fitted into a window of `window`.
std::unique_ptr<formImageViewer> whitePicture(QSize window, int w, int h, std::vector<double> pixelsize)
{
    auto v = MakeWindow(true);
    v->scaleBarToolStripMenuItem->setChecked(false);
    v->resize(window);
    Load(*v, {w, h}, {"x", "y"}, [](const std::vector<int>&) { return 1; }, std::move(pixelsize));
    v->globalchannel->m_min = 0;
    v->globalchannel->m_max = 1;
    v->globalchannel->m_autoscaling = false;
    v->RefreshPictures(ViewAll);
    return v;
}

TEST(Fit, ResizingKeepsItFittedUntilTheUserZooms)
{
    auto v = whitePicture({758, 549}, 64, 48, {});
    const QRect small = brightBox(v->pictureXY);
    v->resize(1100, 800);
    const QRect large = brightBox(v->pictureXY);
    EXPECT_GT(large.width(), small.width() + 100);
    EXPECT_NEAR(large.width() * 48.0, large.height() * 64.0, 64.0);

    Wheel(v->pictureXY, QPoint(50, 50), 120);
    EXPECT_FALSE(v->fitted);
    const double zoom = v->properties.m_zoom;
    v->resize(800, 600);
    EXPECT_EQ(v->properties.m_zoom, zoom);
    // F fits again.
    v->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(v.get()));
    QTest::keyClick(v.get(), Qt::Key_F);
    EXPECT_TRUE(v->fitted);
    EXPECT_NEAR(brightBox(v->pictureXY).width(), std::min((v->layoutImage->width() - 3) / 64.0,
                                                          (v->layoutImage->height() - 3) / 48.0) * 64, 1.0);
}

// Screen position (global) of image point (px, py) in the XY view.
QPointF screenOf(formImageViewer& w, double px, double py)
{
    const std::vector<double> k = w.properties.GetPixelZooms();
    return QPointF(w.pictureXY->mapToGlobal(QPointF(w.imagedelta[0] + px * k[0], w.imagedelta[1] + py * k[1])));
}

TEST(Wheel, ThePointUnderTheMouseStaysThereAndXYKeepsItsSize)
{
    QApplication::setWheelScrollLines(3);
    auto w = Open({200, 150, 20}, {"x", "y", "z"}, Zero, {100, 100, 300});
    w->imagedelta = ImageReader::Vector(-13, 7);
    const QPoint mouse = w->pictureXY->mapToGlobal(QPoint(120, 90));
    const std::vector<double> k = w->properties.GetPixelZooms();
    const double px = (120.0 + 13) / k[0], py = (90.0 - 7) / k[1];
    const int column = w->layoutImage->columnWidths()[0];
    for (const int notches : {1, 1, 2, 1, -1, -3, 1}) {
        const QPoint local = w->pictureXY->mapFromGlobal(mouse);
        EXPECT_EQ(RecomputedBy(*w, [&] { Wheel(w->pictureXY, local, 120 * notches); }), 0);
        const QPointF at = screenOf(*w, px, py);
        EXPECT_NEAR(at.x(), mouse.x(), 1.0) << notches;
        EXPECT_NEAR(at.y(), mouse.y(), 1.0) << notches;
    }
    EXPECT_NEAR(w->properties.m_zoom, std::pow(2.0, 0.125 * 3 * 2), 1e-9);
    EXPECT_EQ(w->layoutImage->columnWidths()[0], column); // the side views keep their tracks
    Wheel(w->pictureXY, QPoint(100, 100), 10);            // less than a step: nothing
    EXPECT_NEAR(w->properties.m_zoom, std::pow(2.0, 0.75), 1e-9);
}

TEST(Wheel, NearTheEdgeTheSideViewStaysPut)
{
    // The mouse 4 pixels into the XY view: the YZ view's track does not follow the zoom, so
    // every notch lands on XY and zooms about the same image point.
    QApplication::setWheelScrollLines(3);
    auto w = Open({200, 150, 20}, {"x", "y", "z"});
    const QPoint mouse = w->pictureXY->mapToGlobal(QPoint(4, 60));
    const double px = 4.0, py = 60.0;
    for (int notch = 0; notch < 4; ++notch) {
        QWidget* under = w->pictureXY;
        for (QWidget* view : {static_cast<QWidget*>(w->pictureXY), static_cast<QWidget*>(w->pictureYZ)})
            if (view->rect().contains(view->mapFromGlobal(mouse)))
                under = view;
        Wheel(under, under->mapFromGlobal(mouse), 120);
        const QPointF at = screenOf(*w, px, py);
        EXPECT_NEAR(at.x(), mouse.x(), 1.0) << notch;
        EXPECT_NEAR(at.y(), mouse.y(), 1.0) << notch;
    }
    EXPECT_NEAR(w->properties.m_zoom, std::pow(2.0, 0.125 * 3 * 4), 1e-9);
    EXPECT_TRUE(w->pictureXY->rect().contains(w->pictureXY->mapFromGlobal(mouse))) << "the YZ view grew under the mouse";
}

TEST(ViewMenu, StepsAndActualPixelsKeepTheCentre)
{
    auto w = Open({300, 200, 10}, {"x", "y", "z"});
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    struct Step { Qt::Key key; double zoom; } steps[] = {
        {Qt::Key_Plus, std::sqrt(2.0)}, {Qt::Key_Plus, 2.0}, {Qt::Key_Minus, std::sqrt(2.0)}, {Qt::Key_1, 1.0}};
    for (const Step& s : steps) {
        // The image point at the view's centre before the step stays where it was on the screen.
        const QPoint centre = w->pictureXY->mapToGlobal(QPoint(w->pictureXY->width() / 2, w->pictureXY->height() / 2));
        const double z = w->properties.m_zoom;
        const double px = (w->pictureXY->width() / 2 - w->imagedelta[0]) / z;
        const double py = (w->pictureXY->height() / 2 - w->imagedelta[1]) / z;
        QTest::keyClick(w.get(), s.key);
        EXPECT_NEAR(w->properties.m_zoom, s.zoom, 1e-9) << s.key;
        const QPointF at = screenOf(*w, px, py);
        EXPECT_NEAR(at.x(), centre.x(), 1.0) << s.key;
        EXPECT_NEAR(at.y(), centre.y(), 1.0) << s.key;
    }
    // Typing into a position box is text, not a zoom.
    QLineEdit* box = w->textDimNum[2];
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Plus);
    EXPECT_EQ(w->properties.m_zoom, 1.0);
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
