#include "AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace ImageViewer {

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 64.0;
        p.scale(s, s);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 22, 30));
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        // XZ strip on top, YZ strip on the left, XY plane in the corner: the window's views.
        p.setBrush(QColor(40, 200, 90));
        p.drawRect(QRectF(22, 8, 34, 10));
        p.setBrush(QColor(230, 60, 200));
        p.drawRect(QRectF(8, 22, 10, 34));
        QLinearGradient g(22, 22, 56, 56);
        g.setColorAt(0, QColor(255, 80, 60));
        g.setColorAt(1, QColor(60, 120, 255));
        p.setBrush(g);
        p.drawRect(QRectF(22, 22, 34, 34));
        p.setPen(QPen(QColor(255, 255, 255, 200), 2));
        p.drawLine(QPointF(36, 8), QPointF(36, 56));
        p.drawLine(QPointF(8, 40), QPointF(56, 40));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace ImageViewer
