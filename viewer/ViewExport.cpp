#include "ViewExport.h"

#include <QPainter>

namespace ImageViewer {

QImage ScalePicture(const QImage& picture, int w, int h)
{
    if (picture.isNull() || w <= 0 || h <= 0)
        return QImage();
    if (picture.size() == QSize(w, h))
        return picture.convertToFormat(QImage::Format_RGB32);
    return picture.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation).convertToFormat(QImage::Format_RGB32);
}

QImage ComposeViews(const QImage& xy, const QImage& xz, const QImage& yz, int gap)
{
    if (xy.isNull())
        return QImage();
    const int left = yz.isNull() ? 0 : yz.width() + gap;
    const int top = xz.isNull() ? 0 : xz.height() + gap;
    QImage out(left + xy.width(), top + xy.height(), QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter g(&out);
    g.drawImage(left, top, xy);
    if (!xz.isNull())
        g.drawImage(left, 0, xz);
    if (!yz.isNull())
        g.drawImage(0, top, yz);
    return out;
}

} // namespace ImageViewer
