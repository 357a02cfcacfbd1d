// Export and copy of the views at the picture's own resolution.
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMessageBox>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ViewExport.h"
#include "PlayerPanel.h"
#include "VolumePanel.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

int scaled(int pixels, double zoom)
{
    return static_cast<int>(std::lround(pixels * zoom));
}

} // namespace

QImage formImageViewer::ViewImage(bool allViews) const
{
    if (!allViews && volume3D && volume3D->Showing())
        return volume3D->Image();
    const ViewAxes a = CurrentAxes();
    const int n = DimensionCount();
    if (!image || a.x < 0 || a.y < 0 || a.x >= n || a.y >= n || GDIImageXY.isNull())
        return QImage();
    // Zoom 1: one output pixel per image pixel of the smallest pixel size, so the physical
    // aspect is kept as on the screen.
    ImageProperties unit = properties;
    unit.m_zoom = 1.0;
    const std::vector<double> k = unit.GetPixelZooms();
    const auto z = [&](int d) { return k[static_cast<size_t>(d)]; };
    // Sizes follow the full-resolution extents: a view of a coarser level is stretched as on
    // the screen.
    const ImageReader::Vector size = image->GetSize();
    const auto extent = [&](int d) { return size[d]; };
    QImage xy = ScalePicture(GDIImageXY, scaled(extent(a.x), z(a.x)), scaled(extent(a.y), z(a.y)));
    // The marks shown over the picture on the screen go with it.
    if (tools && !xy.isNull() && a.x < static_cast<int>(properties.m_pixelsize.size())) {
        QPainter painter(&xy);
        PaintOverlays(painter, xy.rect(), tools->Overlays(properties.m_pixelsize[static_cast<size_t>(a.x)] / z(a.x)));
    }
    if (!allViews) {
        QImage stamped = xy;
        if (player)
            player->StampExport(stamped, xy.width(), xy.height());
        return stamped;
    }
    // A side view's depth squeezed as on the screen, where its own zoom fits it in its track.
    const std::vector<double> shown = properties.GetPixelZooms();
    const auto squeeze = [&](int index, int d) {
        const auto [across, down] = tools->ViewZooms(index);
        const double f = (index == 1 ? down : across) / shown[static_cast<size_t>(d)];
        return std::isfinite(f) && f > 0 && f < 1 ? f : 1.0;
    };
    const QImage xz = a.xz >= 0 && a.xz < n
                          ? ScalePicture(GDIImageXZ, xy.width(), std::max(1, scaled(extent(a.xz), z(a.xz) * squeeze(1, a.xz))))
                          : QImage();
    const QImage yz = a.yz >= 0 && a.yz < n
                          ? ScalePicture(GDIImageYZ, std::max(1, scaled(extent(a.yz), z(a.yz) * squeeze(2, a.yz))), xy.height())
                          : QImage();
    QImage composed = ComposeViews(xy, xz, yz, 6);
    if (player)
        player->StampExport(composed, xy.width(), xy.height());
    return composed;
}

bool formImageViewer::ExportView(const QString& path, bool allViews) const
{
    const QImage picture = ViewImage(allViews);
    if (picture.isNull())
        return false;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray format = suffix == QLatin1String("tif") || suffix == QLatin1String("tiff") ? "tiff" : "png";
    QImageWriter writer(path, format);
    return writer.write(picture);
}

namespace {

void exportWithDialog(formImageViewer& w, bool allViews)
{
    if (!w.image || w.GDIImageXY.isNull())
        return;
    QString filter;
    const QString base = QFileInfo(formImageViewer::OpenFolder(), QStringLiteral("view.png")).absoluteFilePath();
    const QString path = QFileDialog::getSaveFileName(
        &w, allViews ? QStringLiteral("Export all views") : QStringLiteral("Export view"), base,
        QStringLiteral("PNG image (*.png);;TIFF image (*.tif *.tiff)"), &filter);
    if (path.isEmpty())
        return;
    QString target = path;
    if (QFileInfo(target).suffix().isEmpty())
        target += filter.startsWith(QLatin1String("TIFF")) ? QStringLiteral(".tif") : QStringLiteral(".png");
    if (!w.ExportView(target, allViews))
        QMessageBox::warning(&w, QStringLiteral("Export view"),
                             QStringLiteral("Cannot write %1.").arg(QDir::toNativeSeparators(target)));
}

} // namespace

void formImageViewer::exportViewToolStripMenuItem_Click()
{
    exportWithDialog(*this, false);
}

void formImageViewer::exportViewsToolStripMenuItem_Click()
{
    exportWithDialog(*this, true);
}

void formImageViewer::copyViewToolStripMenuItem_Click()
{
    const QImage picture = ViewImage(false);
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

} // namespace ImageViewer
