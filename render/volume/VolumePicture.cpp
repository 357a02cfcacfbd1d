#include "VolumePicture.h"

#include <cmath>

#include <QPainter>
#include <QPen>

#include "ChannelRenderer.h"

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;

Vector VolumePlanes::GetSize()
{
    Vector size(m_width, m_height);
    size.push_back(static_cast<int>(m_planes.size()));
    return size;
}

ImageSlice<unsigned short> VolumePlanes::GetSlice(const Vector& position)
{
    if (position.size() < 1 || position[0] < 0 || static_cast<size_t>(position[0]) >= m_planes.size())
        return {};
    return m_planes[static_cast<size_t>(position[0])];
}

RGBABuffer ColourVolumePlanes(const std::vector<ImageSlice<unsigned short>>& planes,
                              const std::vector<ImageChannel*>& channels, int width, int height)
{
    std::vector<ChannelRenderer::Layer> layers;
    for (size_t i = 0; i < planes.size() && i < channels.size(); ++i)
        if (channels[i] && channels[i]->m_enabled)
            layers.emplace_back(channels[i], planes[i]);
    return ChannelRenderer::Composite(layers, width, height);
}

void DrawVolumeBox(QImage& picture, const ProjectedBox& box, const std::array<QString, 3>& axisNames,
                   const QColor& colour)
{
    if (picture.isNull())
        return;
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto point = [&](int i) { return QPointF(box.corners[i][0], box.corners[i][1]); };
    // An edge faces away when both its corners are behind the box's centre depth.
    double centre = 0;
    for (double d : box.depth)
        centre += d / 8;
    for (const auto& e : ProjectedBox::edges) {
        QPen pen(colour, 1);
        if (box.depth[e[0]] > centre + 1e-9 && box.depth[e[1]] > centre + 1e-9)
            pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(point(e[0]), point(e[1]));
    }
    painter.setPen(colour);
    const QFontMetricsF metrics(painter.font());
    for (int a = 0; a < 3; ++a) {
        const QPointF from = point(0), to = point(ProjectedBox::edges[a][1]);
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        // An axis seen end-on has no far end to label apart from its start.
        const QPointF dir = length > 1 ? d / length : QPointF(0.7, 0.7);
        const QSizeF size = metrics.size(0, axisNames[a]);
        const QPointF c = to + dir * (6 + 0.5 * std::max(size.width(), size.height()));
        painter.drawText(QRectF(c.x() - size.width() / 2, c.y() - size.height() / 2, size.width(), size.height()),
                         Qt::AlignCenter, axisNames[a]);
    }
}

} // namespace ImageViewer
