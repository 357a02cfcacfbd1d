#include "PlotDrawing.h"

#include <algorithm>

namespace ImageViewer::PlotDrawing {

QString ValueLabel(int display, const ImageReader::ValueMap& map, ImageReader::SampleType type)
{
    return QString::fromStdString(ImageReader::FormatValue(map.ToReal(display), type));
}

QColor GridColour()
{
    return QColor(255, 255, 255, 64);
}

QColor BackdropColour()
{
    return QColor(0, 0, 0, 128);
}

QFont LabelFont()
{
    return QFont("Arial", 8);
}

QColor ChannelColour(const ImageChannel& channel, int alpha)
{
    const auto clamp = [](int c) { return std::clamp(c, 0, 255); };
    return QColor(clamp(channel.m_r), clamp(channel.m_g), clamp(channel.m_b), alpha);
}

void DrawAnchoredText(QPainter& painter, double x, double y, int flags, const QString& text)
{
    // A box far larger than any label, placed so that its aligned side passes through the anchor.
    constexpr double big = 10000;
    double left = x - big / 2, top = y - big / 2;
    if (flags & Qt::AlignRight)
        left = x - big;
    else if (flags & Qt::AlignLeft)
        left = x;
    if (flags & Qt::AlignBottom)
        top = y - big;
    else if (flags & Qt::AlignTop)
        top = y;
    painter.drawText(QRectF(left, top, big, big), flags, text);
}

void DrawBar(QPainter& painter, int x, int height, int y, const QColor& bar, const QColor& top)
{
    // Integer rectangles cover exactly the pixels meant, with none of a line's end rules.
    if (y < height)
        painter.fillRect(QRect(x, y, 1, height - y), bar);
    painter.fillRect(QRect(x, y, 1, 1), top);
}

void DrawProfileBar(QPainter& painter, int x, int height, long long h, const QColor& bar, const QColor& top)
{
    const long long y = std::clamp<long long>(height - h, 0, height);
    if (y == height)
        painter.fillRect(QRect(x, height - 1, 1, 1), top);
    else
        DrawBar(painter, x, height, static_cast<int>(y), bar, top);
}

} // namespace ImageViewer::PlotDrawing
