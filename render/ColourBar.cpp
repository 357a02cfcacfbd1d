#include "ColourBar.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "PlotDrawing.h"

namespace ImageViewer {

QImage RenderColourBar(const ImageChannel& channel, int width, int barHeight, const ImageReader::ValueMap& map,
                       ImageReader::SampleType type, bool labels)
{
    if (width < 4 || barHeight < 3 || width > 8192 || barHeight > 8192)
        return QImage();
    const QFont font = PlotDrawing::LabelFont();
    const QFontMetrics metrics(font);
    const int textHeight = labels ? metrics.height() + 2 : 0;
    QImage image(width, barHeight + textHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(PlotDrawing::BackdropColour());

    // Each column inside the outline shows the value at its place in the range, coloured
    // exactly as a view colours it; the first is the minimum, the last the maximum.
    const int lo = std::clamp(channel.m_min, 0, 65535), hi = std::clamp(channel.m_max, 0, 65535);
    std::vector<std::uint32_t> table(65536);
    std::vector<int> values(static_cast<size_t>(width));
    for (int x = 1; x < width - 1; ++x) {
        const double f = static_cast<double>(x - 1) / (width - 3);
        values[static_cast<size_t>(x)] = static_cast<int>(std::lround(lo + f * (hi - lo)));
        const int v = values[static_cast<size_t>(x)];
        channel.FillLookupTable(table.data(), v, v);
    }
    for (int y = 1; y < barHeight - 1; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 1; x < width - 1; ++x) {
            unsigned char px[4];
            std::memcpy(px, &table[static_cast<size_t>(values[static_cast<size_t>(x)])], 4);
            row[x] = qRgb(px[2], px[1], px[0]);
        }
    }
    QPainter painter(&image);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(0, 0, width - 1, barHeight - 1);
    if (labels) {
        painter.setFont(font);
        painter.setPen(Qt::white);
        const double base = barHeight + 1;
        PlotDrawing::DrawAnchoredText(painter, 1, base, Qt::AlignLeft | Qt::AlignTop,
                                      PlotDrawing::ValueLabel(lo, map, type));
        PlotDrawing::DrawAnchoredText(painter, width - 1, base, Qt::AlignRight | Qt::AlignTop,
                                      PlotDrawing::ValueLabel(hi, map, type));
    }
    return image;
}

} // namespace ImageViewer
