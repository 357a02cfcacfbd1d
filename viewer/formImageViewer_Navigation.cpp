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

#include "PictureBox.h"
#include "TablePanel.h"
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

// A cursor coordinate that is collapsed by maximum does not change any picture; the
// spectral colouring ignores projection, so there it still does.
bool collapsedForCursor(const formImageViewer& w, int d)
{
    return w.IsProjected(d) && !w.IsSpectral();
}

} // namespace

void formImageViewer::comboDimX_SelectedIndexChanged()
{
    if (!image)
        return;
    UpdateLayout();
    imagedelta[0] = 0;
    meastype = 0;
    RefreshPictures(ViewXY | ViewXZ);
}

void formImageViewer::comboDimY_SelectedIndexChanged()
{
    if (!image)
        return;
    UpdateLayout();
    imagedelta[1] = 0;
    meastype = 0;
    RefreshPictures(ViewXY | ViewYZ);
}

void formImageViewer::comboDimXZ_SelectedIndexChanged()
{
    if (!image)
        return;
    UpdateLayout();
    RefreshPictures(ViewXZ);
}

void formImageViewer::comboDimYZ_SelectedIndexChanged()
{
    if (!image)
        return;
    UpdateLayout();
    RefreshPictures(ViewYZ);
}

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

void formImageViewer::checkDimProj_CheckChanged(QCheckBox* sender)
{
    if (!image)
        return;
    RefreshPictures(ProjectionChangeMask(tagOf(sender), CurrentAxes()));
}

void formImageViewer::trackDim_Scroll(QSlider* sender)
{
    if (!image)
        return;
    const int d = tagOf(sender);
    curslice[d] = sender->value();
    const int mask = CursorMoveMask(d, CurrentAxes(), collapsedForCursor(*this, d), ChannelDimension());
    RefreshPictures(mask);
    RepaintOthers(mask);
    UpdateLocation();
}

void formImageViewer::textDimNum_KeyPress(QLineEdit* sender)
{
    if (!image)
        return;
    const int d = tagOf(sender);
    bool ok = false;
    const int v = sender->text().trimmed().toInt(&ok, 10);
    if (!ok)
        return;
    if (inside(v, image->GetSize()[d]))
        curslice[d] = v;
    RefreshPictures(ViewAll);
    UpdateLocation();
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
    pictureXY_MouseMove(e);
}

void formImageViewer::pictureXY_MouseMove(QMouseEvent* e)
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !inside(a.x, n) || !inside(a.y, n))
        return;
    const QPoint m = mousePoint(e);
    if (e->buttons() & Qt::LeftButton) {
        const std::vector<double> zooms = properties.GetPixelZooms();
        const int px = MouseToPixel(m.x(), imagedelta[0], zooms[static_cast<size_t>(a.x)]);
        const int py = MouseToPixel(m.y(), imagedelta[1], zooms[static_cast<size_t>(a.y)]);
        histogram.reset();
        measend = curslice;
        measend[a.x] = px;
        measend[a.y] = py;
        const Qt::KeyboardModifiers mods = heldModifiers(e);
        if (mods == Qt::NoModifier) {
            const ImageReader::Vector size = image->GetSize();
            if (inside(px, size[a.x]))
                curslice[a.x] = px;
            if (inside(py, size[a.y]))
                curslice[a.y] = py;
            const int cd = ChannelDimension();
            const int mask = CursorMoveMask(a.x, a, collapsedForCursor(*this, a.x), cd) |
                             CursorMoveMask(a.y, a, collapsedForCursor(*this, a.y), cd);
            RefreshPictures(mask);
            RepaintOthers(mask | ViewXY);
            UpdateLocation();
        } else if (mods == Qt::ShiftModifier) {
            UpdateHistogram();
        } else if (mods == Qt::ControlModifier) {
            UpdateProfile();
        }
        pictureXY->update();
    } else if (e->buttons() & Qt::MiddleButton) {
        imagedelta[0] = SaturatingSubtract(m.x(), imagedeltastart[0]);
        imagedelta[1] = SaturatingSubtract(m.y(), imagedeltastart[1]);
        pictureXY->update();
        pictureXZ->update();
        pictureYZ->update();
    }
}

void formImageViewer::pictureXY_MouseEnter()
{
    pictureXY->setFocus();
}

void formImageViewer::pictureXY_MouseWheel(QWheelEvent* e)
{
    e->accept();
    if (!image)
        return;
    const int steps = WheelSteps(e->angleDelta().y(), QApplication::wheelScrollLines());
    if (steps == 0)
        return;
    const double f = WheelZoomFactor(steps);
    properties.m_zoom *= f;
    const QPoint m = mousePoint(e);
    imagedelta[0] = ZoomAboutMouse(m.x(), imagedelta[0], f, layoutImage->columnStyle(0).value);
    imagedelta[1] = ZoomAboutMouse(m.y(), imagedelta[1], f, layoutImage->rowStyle(0).value);

    setUpdatesEnabled(false);
    if (meastype == 1)
        UpdateHistogram();
    else if (meastype == 2)
        UpdateProfile();
    UpdateLayout();
    setUpdatesEnabled(true);
    layoutImage->update();
    pictureXY->update();
    pictureXZ->update();
    pictureYZ->update();
    pictureProfile->update();
}

void formImageViewer::pictureXZ_MouseMove(QMouseEvent* e)
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !(e->buttons() & Qt::LeftButton) || !inside(a.x, n) || !inside(a.xz, n))
        return;
    const QPoint m = mousePoint(e);
    const std::vector<double> zooms = properties.GetPixelZooms();
    const int px = MouseToPixel(m.x(), imagedelta[0], zooms[static_cast<size_t>(a.x)]);
    const int pz = MouseToPixel(m.y(), 0, zooms[static_cast<size_t>(a.xz)]);
    const ImageReader::Vector size = image->GetSize();
    if (inside(px, size[a.x]))
        curslice[a.x] = px;
    if (inside(pz, size[a.xz]))
        curslice[a.xz] = pz;
    const int cd = ChannelDimension();
    const int mask = CursorMoveMask(a.x, a, collapsedForCursor(*this, a.x), cd) |
                     CursorMoveMask(a.xz, a, collapsedForCursor(*this, a.xz), cd);
    RefreshPictures(mask);
    RepaintOthers(mask);
    UpdateLocation();
}

void formImageViewer::pictureYZ_MouseMove(QMouseEvent* e)
{
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || !(e->buttons() & Qt::LeftButton) || !inside(a.y, n) || !inside(a.yz, n))
        return;
    const QPoint m = mousePoint(e);
    const std::vector<double> zooms = properties.GetPixelZooms();
    const int pz = MouseToPixel(m.x(), 0, zooms[static_cast<size_t>(a.yz)]);
    const int py = MouseToPixel(m.y(), imagedelta[1], zooms[static_cast<size_t>(a.y)]);
    const ImageReader::Vector size = image->GetSize();
    if (inside(pz, size[a.yz]))
        curslice[a.yz] = pz;
    if (inside(py, size[a.y]))
        curslice[a.y] = py;
    const int cd = ChannelDimension();
    const int mask = CursorMoveMask(a.y, a, collapsedForCursor(*this, a.y), cd) |
                     CursorMoveMask(a.yz, a, collapsedForCursor(*this, a.yz), cd);
    RefreshPictures(mask);
    RepaintOthers(mask);
    UpdateLocation();
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
}

} // namespace ImageViewer
