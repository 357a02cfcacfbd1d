#include "PictureOverlay.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace ImageViewer {

QImage WrapPicture(const ViewPicture& picture)
{
    // The pictures' bytes are blue, green, red, unused: a 32-bit 0xffRRGGBB in memory.
    return QImage(picture.pixels.get(), picture.width, picture.height, 4 * static_cast<qsizetype>(picture.width),
                  QImage::Format_RGB32);
}

PictureArea XYArea(const ImageReader::Vector& size, const std::vector<double>& pixelSizes, const ViewState& state,
                   int views, int w, int h)
{
    PictureArea area;
    std::vector<double> sizes = pixelSizes;
    sizes.resize(size.size(), 0.0);
    const std::vector<double> zooms = PixelZooms(sizes, 1.0);
    const auto length = [&](int d) { return static_cast<int>(std::lround(size[d] * zooms[static_cast<size_t>(d)])); };
    // RenderPicture's layout: YZ left of XY and XZ above it, 6 pixels apart.
    const int index = views == ViewXZ ? kViewXZ : views == ViewYZ ? kViewYZ : kViewXY;
    if (!state.Drawable(index, size))
        return area;
    const auto [xd, yd] = state.ViewDims(index);
    int left = 0, top = 0;
    if (views == ViewAll) {
        left = state.Drawable(kViewYZ, size) ? length(state.ViewDims(kViewYZ).first) + 6 : 0;
        top = state.Drawable(kViewXZ, size) ? length(state.ViewDims(kViewXZ).second) + 6 : 0;
    }
    area = PictureArea{left, top, length(xd), length(yd), 0};
    const double known = sizes[static_cast<size_t>(xd)];
    if (std::isfinite(known) && known > 0)
        area.nmPerPixel = known / zooms[static_cast<size_t>(xd)];
    if (w <= 0 || h <= 0)
        return area;
    const int W = left + area.width, H = top + area.height;
    const double k = std::min(static_cast<double>(w) / W, static_cast<double>(h) / H);
    const int ox = (w - std::min(w, std::max(1, static_cast<int>(std::lround(W * k))))) / 2;
    const int oy = (h - std::min(h, std::max(1, static_cast<int>(std::lround(H * k))))) / 2;
    const auto s = [k](int v) { return static_cast<int>(std::lround(v * k)); };
    return PictureArea{ox + s(left), oy + s(top), s(area.width), s(area.height), area.nmPerPixel / k};
}

namespace {

// White text and marks on a translucent dark plate read on bright and dark pictures alike.
void drawPlate(QPainter& painter, const QRect& box)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(box, 4, 4);
}

// Antialiased, and only within the area.
void paintWithin(QPainter& painter, const PictureArea& area)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipRect(QRect(area.x, area.y, area.width, area.height));
}

// A plate within the area's width and a third of its height.
bool fits(const QRect& box, const PictureArea& area)
{
    return box.left() >= area.x && box.right() < area.x + area.width && 3 * box.height() <= area.height;
}

} // namespace

void DrawOverlays(ViewPicture& picture, const PictureArea& area, const std::string& stamp, bool scaleBar)
{
    if (picture.IsNull() || area.width < 16 || area.height < 16)
        return;
    const ScaleBar bar = scaleBar && area.nmPerPixel > 0 ? ChooseScaleBar(area.nmPerPixel, area.width / 4) : ScaleBar();
    const bool drawBar = bar.pixels >= 8;
    if (stamp.empty() && !drawBar)
        return;
    QImage image = WrapPicture(picture);
    QPainter painter(&image);
    paintWithin(painter, area);
    QFont font = painter.font();
    font.setBold(true);
    // Readable at the picture's own size: a movie frame is shown scaled, not at 100 %.
    font.setPixelSize(std::clamp(area.height / 36, 10, 64));
    painter.setFont(font);
    const QFontMetrics fm(font);
    const int margin = std::max(4, area.height / 60), pad = std::max(3, fm.height() / 4);
    if (!stamp.empty()) {
        const QString text = QString::fromUtf8(stamp.c_str());
        const QRect box(area.x + margin, area.y + margin, fm.horizontalAdvance(text) + 2 * pad, fm.height() + 2 * pad);
        // A stamp that would cover much of a small picture is left out.
        if (fits(box, area)) {
            drawPlate(painter, box);
            painter.setPen(Qt::white);
            painter.drawText(box, Qt::AlignCenter, text);
        }
    }
    if (drawBar) {
        const QString label = QString::fromUtf8(bar.label.c_str());
        const int thickness = std::max(3, fm.height() / 4);
        const int boxW = std::max(bar.pixels, fm.horizontalAdvance(label)) + 2 * pad;
        const int boxH = fm.height() + thickness + 3 * pad;
        const QRect box(area.x + area.width - margin - boxW, area.y + area.height - margin - boxH, boxW, boxH);
        if (!fits(box, area))
            return;
        drawPlate(painter, box);
        painter.setBrush(Qt::white);
        painter.drawRect(QRect(box.right() + 1 - pad - bar.pixels, box.bottom() + 1 - pad - thickness, bar.pixels,
                               thickness));
        painter.setPen(Qt::white);
        painter.drawText(QRect(box.left(), box.top() + pad, box.width(), fm.height()), Qt::AlignCenter, label);
    }
}

void DrawRegions(ViewPicture& picture, const PictureArea& area, const std::vector<Measure::Region>& regions,
                 const ImageReader::Vector& size, const ViewState& state)
{
    if (picture.IsNull() || regions.empty() || state.axes.x != 0 || state.axes.y != 1 || size.size() < 2 ||
        size[0] < 1 || size[1] < 1)
        return;
    QImage image = WrapPicture(picture);
    QPainter painter(&image);
    paintWithin(painter, area);
    const double sx = static_cast<double>(area.width) / size[0], sy = static_cast<double>(area.height) / size[1];
    const auto at = [&](const Measure::PointF& p) { return QPointF(area.x + p.x * sx, area.y + p.y * sy); };
    for (const Measure::Region& r : regions) {
        bool here = r.IsValid();
        for (int d = 2; here && d < static_cast<int>(size.size()); ++d)
            here = r.PositionOf(d) == Measure::Region::All || d == state.channelDim || state.IsProjected(d) ||
                   r.PositionOf(d) == state.cursor[d];
        if (!here)
            continue;
        painter.setPen(QPen(QColor::fromRgba(r.color | 0xff000000u), 1.5));
        painter.setBrush(Qt::NoBrush);
        QPolygonF outline;
        for (const Measure::PointF& p : r.points)
            outline << at(p);
        switch (r.kind) {
        case Measure::RegionKind::Point:
            for (const QPointF& p : outline) {
                painter.drawLine(p - QPointF(4, 0), p + QPointF(4, 0));
                painter.drawLine(p - QPointF(0, 4), p + QPointF(0, 4));
            }
            break;
        case Measure::RegionKind::Line:
        case Measure::RegionKind::Polyline:
            painter.drawPolyline(outline);
            break;
        case Measure::RegionKind::Rectangle:
        case Measure::RegionKind::Ellipse: {
            double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            r.Bounds(x0, y0, x1, y1);
            const QRectF box(at({x0, y0}), at({x1, y1}));
            if (r.kind == Measure::RegionKind::Rectangle)
                painter.drawRect(box);
            else
                painter.drawEllipse(box);
            break;
        }
        case Measure::RegionKind::Polygon:
        case Measure::RegionKind::Freehand:
            painter.drawPolygon(outline);
            break;
        }
    }
}

} // namespace ImageViewer
