#include "PictureView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "PictureOverlays.h"
#include "PlayerPanel.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

// Beyond this many pixels off the box a coordinate is handed to Qt only after clipping;
// the unbounded zoom and pan can otherwise reach values Qt cannot convert to int.
constexpr double kSafeCoordinate = 1e7;

// Draws `image` scaled into `target`, handing Qt only the part inside `visible`.
void drawScaled(QPainter& g, const QImage& image, const QRectF& target, const QRect& visible)
{
    const double coords[] = {target.left(), target.top(), target.right(), target.bottom()};
    bool safe = true;
    for (const double c : coords) {
        if (!std::isfinite(c))
            return;
        safe = safe && std::fabs(c) < kSafeCoordinate;
    }
    if (target.width() <= 0 || target.height() <= 0)
        return;
    if (safe) {
        g.drawImage(target, image, QRectF(image.rect()));
        return;
    }
    const QRectF shown = target.intersected(QRectF(visible));
    if (shown.isEmpty())
        return;
    const double sx = image.width() / target.width();
    const double sy = image.height() / target.height();
    const QRectF source((shown.left() - target.left()) * sx, (shown.top() - target.top()) * sy, shown.width() * sx,
                        shown.height() * sy);
    g.drawImage(shown, image, source);
}

// Clamps a cursor line to a little beyond the box, so that far-off ends stay convertible.
void drawLine(QPainter& g, QPointF a, QPointF b, const QRect& visible)
{
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    const double x0 = visible.left() - 2.0, x1 = visible.right() + 2.0;
    const double y0 = visible.top() - 2.0, y1 = visible.bottom() + 2.0;
    const auto clampPoint = [&](QPointF p) {
        return QPointF(std::fmin(std::fmax(p.x(), x0), x1), std::fmin(std::fmax(p.y(), y0), y1));
    };
    g.drawLine(QLineF(clampPoint(a), clampPoint(b)));
}

} // namespace

PictureView::PictureView(formImageViewer& window, int view) : m_window(window), m_view(view)
{
    setBackground(Qt::black);
    // The status bar follows the mouse over the views, buttons held or not.
    setMouseTracking(true);
    paintHandler = [this](QPainter& g) { Paint(g); };
    mouseMoveHandler = [this](QMouseEvent* e) { m_window.ViewMouseMove(m_view, e); };
    leaveHandler = [this] { m_window.SetMousePosition(ImageReader::Vector()); };
    if (view == 0) {
        mouseDownHandler = [this](QMouseEvent* e) { m_window.pictureXY_MouseDown(e); };
        enterHandler = [this] { setFocus(); };
        wheelHandler = [this](QWheelEvent* e) { m_window.pictureXY_MouseWheel(e); };
        return;
    }
    // A press in a side view moves the cursor as a drag does. The side views grow with the
    // zoom and may slide under a mouse that stands still: the wheel zooms there too, about
    // the same point as over the XY view.
    mouseDownHandler = mouseMoveHandler;
    wheelHandler = [this](QWheelEvent* e) {
        QWidget* xy = m_window.pictureXY;
        const QPointF at = xy->mapFromGlobal(mapToGlobal(e->position()));
        QWheelEvent mapped(at, e->globalPosition(), e->pixelDelta(), e->angleDelta(), e->buttons(), e->modifiers(),
                           e->phase(), e->inverted());
        m_window.pictureXY_MouseWheel(&mapped);
        e->accept();
    };
}

std::pair<int, int> PictureView::Dims() const
{
    const ViewAxes a = m_window.CurrentAxes();
    return m_view == 1 ? std::pair(a.x, a.xz) : m_view == 2 ? std::pair(a.yz, a.y) : std::pair(a.x, a.y);
}

std::pair<int, int> PictureView::Pan() const
{
    const ImageReader::Vector& delta = m_window.imagedelta;
    if (delta.size() != 2)
        return {0, 0};
    return {m_view == 2 ? 0 : delta[0], m_view == 1 ? 0 : delta[1]};
}

void PictureView::Paint(QPainter& e)
{
    const auto [dh, dv] = Dims();
    if (!m_window.image || dh < 0 || dv < 0)
        return;
    paintPicture(e, dh, dv);
    if (m_view != 0)
        return;
    // The scale bar and the colour bar stand inside the part of the view the picture covers.
    formImageViewer& w = m_window;
    const int n = static_cast<int>(w.properties.m_pixelsize.size());
    if (w.tools && dh < n && !w.GDIImageXY.isNull()) {
        const double size = w.properties.m_pixelsize[static_cast<size_t>(dh)];
        const double zoom = w.properties.GetPixelZooms()[static_cast<size_t>(dh)];
        PaintOverlays(e, w.tools->PictureArea(), w.tools->Overlays(size / zoom));
    }
    if (w.player)
        w.player->PaintViewStamp(e);
}

void PictureView::paintPicture(QPainter& e, int dh, int dv)
{
    const formImageViewer& w = m_window;
    const QImage* const bitmaps[] = {&w.GDIImageXY, &w.GDIImageXZ, &w.GDIImageYZ};
    const QImage& bmp = *bitmaps[m_view];
    const int n = static_cast<int>(w.properties.m_pixelsize.size());
    if (bmp.isNull() || dh >= n || dv >= n) {
        e.fillRect(rect(), Qt::black);
        return;
    }
    // A side view's depth has its own zoom (WindowTools::ViewZooms).
    const auto [zoomX, zoomY] = w.tools->ViewZooms(m_view);
    const auto [panX, panY] = Pan();
    const float zx = static_cast<float>(zoomX);
    const float zy = static_cast<float>(zoomY);
    const float left = static_cast<float>(panX);
    const float top = static_cast<float>(panY);
    // A picture of a coarser level covers the same place as the full-resolution one.
    const ImageReader::Vector size = w.image->GetSize();
    const float width = static_cast<float>(size[dh]) * zx;
    const float height = static_cast<float>(size[dv]) * zy;

    e.setRenderHint(QPainter::SmoothPixmapTransform, false);
    e.setRenderHint(QPainter::Antialiasing, false);
    drawScaled(e, bmp, QRectF(left, top, width, height), rect());

    e.setPen(QPen(QColor(255, 255, 255, 64), 1));
    const float cy = top + static_cast<float>(w.curslice[dv]) * zy;
    const float cx = left + static_cast<float>(w.curslice[dh]) * zx;
    drawLine(e, QPointF(left, cy), QPointF(left + width, cy), rect());
    drawLine(e, QPointF(cx, top), QPointF(cx, top + height), rect());
    if (m_view == 0)
        paintMeasurement(e, dh, dv);
}

void PictureView::paintMeasurement(QPainter& e, int dh, int dv)
{
    const formImageViewer& w = m_window;
    const auto [zx, zy] = w.tools->ViewZooms(m_view);
    const auto [panX, panY] = Pan();
    // C++17 lets a lambda copy structured bindings but not capture them (clang holds to that).
    const auto screen = [zx = zx, zy = zy, panX = panX, panY = panY, dh, dv](const ImageReader::Vector& p) {
        return ImageReader::Vector(
            SaturatingTruncate(static_cast<float>(panX) + static_cast<float>(p[dh]) * static_cast<float>(zx), 0),
            SaturatingTruncate(static_cast<float>(panY) + static_cast<float>(p[dv]) * static_cast<float>(zy), 0));
    };
    const ImageReader::Vector &start = w.measstart, &end = w.measend;
    if (w.meastype == 2 && w.profile && (start[dh] != end[dh] || start[dv] != end[dv])) {
        w.profile->Render(e, screen(start), screen(end), true);
    } else if (w.meastype == 1 && w.histogram && start[dh] < end[dh] && start[dv] < end[dv]) {
        const ImageReader::Vector corner = screen(start);
        w.histogram->Render(e, corner[0], corner[1]);
    }
}

} // namespace ImageViewer
