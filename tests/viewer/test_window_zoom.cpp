// Fit to window, the View menu's zoom steps and the wheel zoom about the mouse.
#include <QAction>
#include <QLineEdit>
#include <cmath>

#include "TablePanel.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageViewer::ViewAll;

namespace {

TEST(FitMath, ZoomAndWindowSize)
{
    struct Fit { double extent, depth; int table; double zoom; } fits[] = {
        {256, 0, 515, 2.0},     // (515 - 3) / 256
        {100, 50, 403, 400.0 / 150},  // the side track 133.3 within a third of the table (134)
        {100, 100, 403, 2.66},  // 400 / 200 = 2 gives a 200-pixel side track: capped at 134
        {0, 10, 400, 1.0},      // nothing to fit
    };
    for (const Fit& f : fits)
        EXPECT_NEAR(ImageViewer::FitZoom(f.extent, f.depth, f.table), f.zoom, 1e-12) << f.extent << " " << f.depth;
    EXPECT_GT(ImageViewer::FitZoom(100, 0, 2), 0.0); // a table smaller than the gap still gives a zoom

    struct Size { ImageViewer::PixelSize screen, window; } sizes[] = {
        {{1920, 1080}, {1536, 864}}, {{1280, 800}, {1024, 720}}, {{800, 600}, {800, 600}}, {{3840, 2160}, {3072, 1728}}};
    for (const Size& s : sizes)
        EXPECT_EQ(ImageViewer::DefaultWindowSize(s.screen), s.window) << s.screen.width;
}

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

TEST(Fit, PictureFillsTheViewKeepingThePhysicalAspect)
{
    struct Case { QSize window; int w, h; double px, py; } cases[] = {
        {{758, 549}, 64, 64, 100, 100},  {{1000, 600}, 64, 64, 100, 100}, {{758, 549}, 128, 32, 100, 100},
        {{758, 700}, 32, 100, 100, 100}, {{900, 600}, 40, 20, 100, 200},  // physically square
    };
    for (const Case& c : cases) {
        auto v = whitePicture(c.window, c.w, c.h, {c.px, c.py});
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " in " +
                                 std::to_string(c.window.width()) + "x" + std::to_string(c.window.height());
        // Without side views the picture may use the table less the 3-pixel gap.
        const QSize table = v->layoutImage->size();
        const double sx = c.w * c.px / std::min(c.px, c.py), sy = c.h * c.py / std::min(c.px, c.py);
        const double zoom = std::min((table.width() - 3) / sx, (table.height() - 3) / sy);
        const QRect box = brightBox(v->pictureXY);
        EXPECT_NEAR(box.width(), sx * zoom, 1.0) << what;
        EXPECT_NEAR(box.height(), sy * zoom, 1.0) << what;
        // Centred in the view (a fractional picture size may round either way at both ends).
        EXPECT_NEAR(box.left(), v->pictureXY->width() - 1 - box.right(), 2.0) << what;
        EXPECT_NEAR(box.top(), v->pictureXY->height() - 1 - box.bottom(), 2.0) << what;
        EXPECT_TRUE(v->fitted);
    }
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

TEST(Fit, SideViewsFitBesideThePicture)
{
    auto v = MakeWindow(true);
    Load(*v, {200, 150, 40}, {"x", "y", "z"}, Zero, {100, 100, 300});
    // The picture and the side views are wholly inside the table, one of the two directions
    // filled to within a pixel.
    const double z = v->properties.m_zoom;
    const int table = v->layoutImage->width(), tableH = v->layoutImage->height();
    const double wide = 200 * z + v->layoutImage->columnWidths()[0] + 3;
    const double high = 150 * z + v->layoutImage->rowHeights()[0] + 3;
    EXPECT_LE(wide, table + 1);
    EXPECT_LE(high, tableH + 1);
    EXPECT_TRUE(std::fabs(wide - table) <= 1 || std::fabs(high - tableH) <= 1) << wide << " " << high;
    EXPECT_NEAR(v->layoutImage->columnWidths()[0], std::min(40 * 3 * z, table / 3.0), 1.0);
    EXPECT_EQ(v->imagedelta, ImageReader::Vector(0, 0)); // against the side views
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
