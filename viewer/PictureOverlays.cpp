#include "PictureOverlays.h"

#include <QPainter>
#include <algorithm>

#include "ColourBar.h"
#include "ViewMath.h"
#include "ViewMathQt.h"

namespace ImageViewer {

namespace {

constexpr int kMargin = 10;

// The scale bar's plate at the bottom right of `area`; its left edge, or the area's right
// edge when there is none.
int paintScaleBar(QPainter& e, const QRect& area, double nmPerPixel)
{
    if (nmPerPixel <= 0)
        return area.right();
    // At most a quarter of the picture wide.
    const ScaleBar bar = ChooseScaleBar(nmPerPixel, area.width() / 4);
    if (bar.pixels < 8)
        return area.right();
    e.save();
    e.setRenderHint(QPainter::Antialiasing, true);
    QFont font = e.font();
    font.setBold(true);
    e.setFont(font);
    const QFontMetrics fm(font);
    const int pad = 5, thickness = 4;
    const QString label = ToQString(bar.label);
    const int boxW = std::max(bar.pixels, fm.horizontalAdvance(label)) + 2 * pad;
    const int boxH = fm.height() + thickness + 3 * pad;
    const QRect box(area.right() + 1 - kMargin - boxW, area.bottom() + 1 - kMargin - boxH, boxW, boxH);
    if (!area.contains(box)) {
        e.restore();
        return area.right();
    }
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
    return box.left();
}

} // namespace

void PaintOverlays(QPainter& e, const QRect& area, const OverlayOptions& options)
{
    if (area.width() < 2 * kMargin || area.height() < 2 * kMargin)
        return;
    const int scaleLeft = paintScaleBar(e, area, options.nmPerPixel);
    if (!options.colourBar)
        return;
    // Left of the scale bar, at most a third of the picture and 256 pixels wide.
    const int room = scaleLeft - kMargin - (area.left() + kMargin);
    const int width = std::min({area.width() / 3, 256, room});
    const QImage bar = RenderColourBar(*options.colourBar, width, 12, options.map, options.type);
    if (bar.isNull())
        return;
    const QRect place(area.left() + kMargin, area.bottom() + 1 - kMargin - bar.height(), bar.width(), bar.height());
    if (area.contains(place))
        e.drawImage(place.topLeft(), bar);
}

} // namespace ImageViewer
