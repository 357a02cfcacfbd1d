// Navigation: axis lists, projection, sliders, position boxes, the mouse in the three
// views, panning, zooming about the mouse, and the cursor readout.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QWheelEvent>
#include <algorithm>

#include "PictureBox.h"
#include "PictureView.h"
#include "TablePanel.h"
#include "PlayerPanel.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

int tagOf(const QObject* sender)
{
    return sender->property("tag").toInt();
}

Qt::KeyboardModifiers heldModifiers(const QInputEvent* e)
{
    return e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

QPoint mousePoint(const QSinglePointEvent* e)
{
    return e->position().toPoint();
}

bool inside(int v, int extent)
{
    return v >= 0 && v < extent;
}

// Shows in the status bar the image position under view coordinates (mx, my) of a view
// whose axes are dimensions dx and dy, panned by (deltax, deltay); nothing off the image.
// `view` (0 XY, 1 XZ, 2 YZ) gives the zooms: a side view's depth has its own.
void ShowMouseAt(formImageViewer& w, int dx, int mx, int deltax, int dy, int my, int deltay, int view = 0)
{
    const auto [zx, zy] = w.tools->ViewZooms(view);
    const ImageReader::Vector size = w.image->GetSize();
    const int px = MouseToPixel(mx, deltax, zx);
    const int py = MouseToPixel(my, deltay, zy);
    // Truncation maps the half pixel left of the picture to 0 as well; that is off the image.
    const bool on = mx >= deltax && my >= deltay && inside(px, size[dx]) && inside(py, size[dy]);
    ImageReader::Vector p;
    if (on) {
        p = w.curslice;
        p[dx] = px;
        p[dy] = py;
    }
    w.SetMousePosition(p, dx, dy);
}

} // namespace

void formImageViewer::AxisChanged(int panAxis, int mask)
{
    if (!image)
        return;
    UpdateLayout();
    // A new dimension on a main axis starts at its edge, and the measurement is gone.
    if (panAxis >= 0) {
        imagedelta[panAxis] = 0;
        meastype = 0;
    }
    if (fitted)
        FitToWindow();
    RefreshPictures(mask);
}

void formImageViewer::comboDimX_SelectedIndexChanged() { AxisChanged(0, ViewXY | ViewXZ); }
void formImageViewer::comboDimY_SelectedIndexChanged() { AxisChanged(1, ViewXY | ViewYZ); }
void formImageViewer::comboDimXZ_SelectedIndexChanged() { AxisChanged(-1, ViewXZ); }
void formImageViewer::comboDimYZ_SelectedIndexChanged() { AxisChanged(-1, ViewYZ); }

void formImageViewer::comboDimP_SelectedIndexChanged()
{
    if (!image)
        return;
    RefreshPictures(0);
}

void formImageViewer::comboProj_SelectedIndexChanged()
{
    if (!image)
        return;
    const bool max = comboProj->currentIndex() == 1;
    for (QCheckBox* box : checkDimProj)
        box->setVisible(max);
    RefreshPictures(ViewAll);
}

// The position and projection controls edit the model's state; the views, the position rows
// and the readouts follow its notification (FollowModel).
void formImageViewer::checkDimProj_CheckChanged(QCheckBox* sender)
{
    if (!image)
        return;
    const bool on = sender->isChecked();
    EditModel([d = tagOf(sender), on](Viewer& m) { return m.SetProjected(d, on); });
}

void formImageViewer::trackDim_Scroll(QSlider* sender)
{
    if (!image)
        return;
    const int d = tagOf(sender);
    if (player)
        player->DimUsed(d);
    EditModel([d, v = sender->value()](Viewer& m) { return m.SetCursor(d, v); });
}

void formImageViewer::textDimNum_KeyPress(QLineEdit* sender)
{
    if (!image)
        return;
    bool ok = false;
    const int v = sender->text().trimmed().toInt(&ok, 10);
    if (!ok)
        return;
    // A typed position redraws every view; one outside the image shows the cursor again.
    const int d = tagOf(sender);
    EditModel([d, v](Viewer& m) { return m.SetCursor(d, v); }, ViewAll);
}

void formImageViewer::pictureXY_MouseDown(QMouseEvent* e)
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !inside(a.x, n) || !inside(a.y, n))
        return;
    const QPoint m = mousePoint(e);
    if (e->button() == Qt::MiddleButton)
        imagedeltastart = ImageReader::Vector(SaturatingSubtract(m.x(), imagedelta[0]),
                                              SaturatingSubtract(m.y(), imagedelta[1]));
    if (e->button() == Qt::LeftButton) {
        const std::vector<double> zooms = properties.GetPixelZooms();
        measstart = curslice;
        measstart[a.x] = MouseToPixel(m.x(), imagedelta[0], zooms[static_cast<size_t>(a.x)]);
        measstart[a.y] = MouseToPixel(m.y(), imagedelta[1], zooms[static_cast<size_t>(a.y)]);
        const Qt::KeyboardModifiers mods = heldModifiers(e);
        meastype = mods == Qt::ShiftModifier ? 1 : mods == Qt::ControlModifier ? 2 : 0;
    }
    ViewMouseMove(0, e);
}

void formImageViewer::ViewMouseMove(int view, QMouseEvent* e)
{
    const auto* picture = static_cast<const PictureView*>(view == 1 ? pictureXZ : view == 2 ? pictureYZ : pictureXY);
    const auto [dh, dv] = picture->Dims();
    const auto [panH, panV] = picture->Pan();
    const int n = DimensionCount();
    if (!image || !inside(dh, n) || !inside(dv, n))
        return;
    const QPoint m = mousePoint(e);
    ShowMouseAt(*this, dh, m.x(), panH, dv, m.y(), panV, view);
    if (e->buttons() & Qt::LeftButton) {
        const auto [zh, zv] = tools->ViewZooms(view);
        const int ph = MouseToPixel(m.x(), panH, zh);
        const int pv = MouseToPixel(m.y(), panV, zv);
        // A plain drag moves the cursor; on XY, Shift measures a region and Ctrl a line.
        const Qt::KeyboardModifiers mods = view == 0 ? heldModifiers(e) : Qt::NoModifier;
        if (view == 0) {
            histogram.reset();
            measend = curslice;
            measend[dh] = ph;
            measend[dv] = pv;
        }
        if (mods == Qt::NoModifier) {
            // A coordinate off the image keeps its value.
            const ImageReader::Vector size = image->GetSize();
            ImageReader::Vector to = curslice;
            if (inside(ph, size[dh]))
                to[dh] = ph;
            if (inside(pv, size[dv]))
                to[dv] = pv;
            EditModel([to](Viewer& m) { return m.SetCursor(to); });
        } else if (mods == Qt::ShiftModifier) {
            UpdateHistogram();
        } else if (mods == Qt::ControlModifier) {
            UpdateProfile();
        }
        if (view == 0)
            pictureXY->update();
    } else if (view == 0 && (e->buttons() & Qt::MiddleButton)) {
        imagedelta[0] = SaturatingSubtract(m.x(), imagedeltastart[0]);
        imagedelta[1] = SaturatingSubtract(m.y(), imagedeltastart[1]);
        fitted = false;
        pictureXY->update();
        pictureXZ->update();
        pictureYZ->update();
    }
}

void formImageViewer::pictureXY_MouseWheel(QWheelEvent* e)
{
    e->accept();
    if (!image)
        return;
    const int steps = WheelSteps(e->angleDelta().y(), QApplication::wheelScrollLines());
    if (steps == 0)
        return;
    // A run of steps with the mouse standing still zooms about the point the run began at.
    const QPointF global = e->globalPosition();
    const bool same = zoomAnchor.valid && zoomAnchor.global == global && zoomAnchor.delta == imagedelta &&
                      zoomAnchor.zoom == properties.m_zoom;
    if (!same)
        zoomAnchor.valid = false;
    ZoomAbout(WheelZoomFactor(steps), e->position());
    if (imagedelta.size() == 2)
        zoomAnchor.global = global;
}

void formImageViewer::ZoomAbout(double factor, QPointF at)
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !inside(a.x, n) || !inside(a.y, n) || imagedelta.size() != 2 || !(factor > 0))
        return;
    std::vector<double> zooms = properties.GetPixelZooms();
    if (!zoomAnchor.valid) {
        zoomAnchor.px = (at.x() - imagedelta[0]) / zooms[static_cast<size_t>(a.x)];
        zoomAnchor.py = (at.y() - imagedelta[1]) / zooms[static_cast<size_t>(a.y)];
    }
    const QPoint before = pictureXY->pos();
    properties.m_zoom *= factor;
    fitted = false;

    setUpdatesEnabled(false);
    UpdateMeasurement();
    UpdateLayout();
    setUpdatesEnabled(true);
    // The side views may have grown and pushed the XY view: the mouse now stands that much
    // further left and up in it.
    const QPoint shift = pictureXY->pos() - before;
    zooms = properties.GetPixelZooms();
    imagedelta[0] = PanForPoint(at.x() - shift.x(), zoomAnchor.px, zooms[static_cast<size_t>(a.x)]);
    imagedelta[1] = PanForPoint(at.y() - shift.y(), zoomAnchor.py, zooms[static_cast<size_t>(a.y)]);
    zoomAnchor.valid = true;
    zoomAnchor.delta = imagedelta;
    zoomAnchor.zoom = properties.m_zoom;
    zoomAnchor.global = QPointF(qQNaN(), qQNaN()); // set by the wheel handler only

    layoutImage->update();
    pictureXY->update();
    pictureXZ->update();
    pictureYZ->update();
    pictureProfile->update();
    UpdateStatus();
    RefreshLevels();
}

void formImageViewer::ZoomStep(int direction)
{
    zoomAnchor.valid = false;
    ZoomAbout(WheelZoomFactor(4 * direction), QPointF(pictureXY->width() / 2.0, pictureXY->height() / 2.0));
}

void formImageViewer::ActualPixels()
{
    if (!image || !(properties.m_zoom > 0))
        return;
    zoomAnchor.valid = false;
    ZoomAbout(1.0 / properties.m_zoom, QPointF(pictureXY->width() / 2.0, pictureXY->height() / 2.0));
}

void formImageViewer::FitToWindow()
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !inside(a.x, n) || !inside(a.y, n) || imagedelta.size() != 2)
        return;
    properties.m_zoom = 1.0;
    const std::vector<double> unit = properties.GetPixelZooms();
    const ImageReader::Vector size = image->GetSize();
    const auto length = [&](int d) { return inside(d, n) ? size[d] * unit[static_cast<size_t>(d)] : 0.0; };
    // Hidden side views (View > Side views) take no room.
    const bool sides = tools->SideViews();
    const auto side = [&](int d) { return sides && inside(d, n); };
    const double zoom = tools->Fit().zoom;
    properties.m_zoom = zoom;
    UpdateLayout();
    // The picture stays against its side views; without one it is centred.
    imagedelta[0] = side(a.yz) ? 0 : CentredOffset(pictureXY->width(), length(a.x) * zoom);
    imagedelta[1] = side(a.xz) ? 0 : CentredOffset(pictureXY->height(), length(a.y) * zoom);
    fitted = true;
    zoomAnchor.valid = false;
    UpdateMeasurement();
    for (PictureBox* view : {pictureXY, pictureXZ, pictureYZ, pictureProfile})
        view->update();
    RefreshLevels();
}

void formImageViewer::UpdateLocation()
{
    const int n = std::min(static_cast<int>(curslice.size()), static_cast<int>(trackDim.size()));
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<size_t>(i);
        textDimNum[k]->setText(QString::number(curslice[i]));
        const QSignalBlocker block(trackDim[k]);
        trackDim[k]->setValue(curslice[i]);
    }
    UpdateStatus();
}

} // namespace ImageViewer
