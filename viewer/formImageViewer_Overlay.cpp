// What the XY view draws over the picture: the scale bar.
#include <QAction>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "PictureBox.h"
#include "ViewMathQt.h"
#include "formImageViewer.h"

namespace ImageViewer {

void formImageViewer::PaintScaleBar(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    const int n = static_cast<int>(properties.m_pixelsize.size());
    if (!scaleBarToolStripMenuItem->isChecked() || a.x < 0 || a.x >= n || GDIImageXY.isNull())
        return;
    const double size = properties.m_pixelsize[static_cast<size_t>(a.x)];
    const std::vector<double> zooms = properties.GetPixelZooms();
    const double zoom = zooms[static_cast<size_t>(a.x)];
    // At most a quarter of the view wide.
    const ScaleBar bar = ChooseScaleBar(size / zoom, pictureXY->width() / 4);
    if (bar.pixels < 8)
        return;

    e.save();
    e.setRenderHint(QPainter::Antialiasing, true);
    QFont font = e.font();
    font.setBold(true);
    e.setFont(font);
    const QFontMetrics fm(font);
    const int margin = 10, pad = 5, thickness = 4;
    const QString label = ToQString(bar.label);
    const int textW = fm.horizontalAdvance(label);
    const int boxW = std::max(bar.pixels, textW) + 2 * pad;
    const int boxH = fm.height() + thickness + 3 * pad;
    const QRect box(pictureXY->width() - margin - boxW, pictureXY->height() - margin - boxH, boxW, boxH);
    // A dark plate behind white marks reads on bright and dark pictures alike.
    e.setPen(Qt::NoPen);
    e.setBrush(QColor(0, 0, 0, 150));
    e.drawRoundedRect(box, 4, 4);
    e.setBrush(Qt::white);
    const int barX = box.right() + 1 - pad - bar.pixels;
    e.drawRect(QRect(barX, box.bottom() + 1 - pad - thickness, bar.pixels, thickness));
    e.setPen(Qt::white);
    e.drawText(QRect(box.left(), box.top() + pad, box.width(), fm.height()), Qt::AlignHCenter | Qt::AlignVCenter, label);
    e.restore();
}

} // namespace ImageViewer
