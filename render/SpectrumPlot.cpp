#include "SpectrumPlot.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "PlotDrawing.h"
#include "SpectralColour.h"

namespace ImageViewer {

std::vector<double> RoundTicks(double lo, double hi, int count)
{
    std::vector<double> ticks;
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || count < 1)
        return ticks;
    const double raw = (hi - lo) / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) {
            step = m * power;
            break;
        }
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step)
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    return ticks;
}

namespace {

QString tickLabel(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

QImage RenderSpectrumPlot(const std::vector<double>& values, const std::vector<double>& nm, int width, int height,
                          int marker)
{
    const size_t n = values.size();
    if (n < 2 || width < 80 || height < 60 || width > 8192 || height > 8192)
        return QImage();
    bool rising = nm.size() == n;
    for (size_t i = 0; rising && i < n; ++i)
        rising = std::isfinite(nm[i]) && (i == 0 || nm[i] > nm[i - 1]);
    const auto position = [&](size_t i) { return rising ? nm[i] : static_cast<double>(i); };

    double top = 0, bottom = 0;
    for (double v : values)
        if (std::isfinite(v)) {
            top = std::max(top, v);
            bottom = std::min(bottom, v);
        }
    if (top == bottom)
        top = bottom + 1;

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(PlotDrawing::BackdropColour());
    QPainter painter(&image);
    const QFont font = PlotDrawing::LabelFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);

    const std::vector<double> yTicks = RoundTicks(bottom, top, std::max(2, height / (3 * metrics.height())));
    int labelWidth = 0;
    for (double t : yTicks)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(tickLabel(t)));
    const QString unit = rising ? QStringLiteral("nm") : QStringLiteral("index");
    const double left = labelWidth + 8, right = width - 6 - metrics.horizontalAdvance(unit) / 2.0;
    const double upper = metrics.height() / 2.0 + 2, lower = height - metrics.height() - 6;
    const double x0 = position(0), x1 = position(n - 1);
    const auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * (right - left); };
    const auto py = [&](double v) { return lower - (v - bottom) / (top - bottom) * (lower - upper); };

    // The area under each step of the curve in its wavelength's colour.
    for (size_t i = 0; i + 1 < n; ++i) {
        const double a = values[i], b = values[i + 1];
        if (!std::isfinite(a) || !std::isfinite(b))
            continue;
        QColor fill(128, 128, 128, 110);
        if (rising) {
            const std::array<unsigned char, 3> c = WavelengthToSrgb((nm[i] + nm[i + 1]) / 2);
            if (c[0] || c[1] || c[2])
                fill = QColor(c[0], c[1], c[2], 110);
        }
        QPainterPath area;
        area.moveTo(px(position(i)), py(std::max(0.0, bottom)));
        area.lineTo(px(position(i)), py(a));
        area.lineTo(px(position(i + 1)), py(b));
        area.lineTo(px(position(i + 1)), py(std::max(0.0, bottom)));
        area.closeSubpath();
        painter.fillPath(area, fill);
    }

    // Grid and axes.
    painter.setPen(PlotDrawing::GridColour());
    for (double t : yTicks)
        painter.drawLine(QPointF(left, py(t)), QPointF(right, py(t)));
    painter.setPen(QColor(200, 200, 200));
    painter.drawLine(QPointF(left, upper), QPointF(left, lower));
    painter.drawLine(QPointF(left, lower), QPointF(right, lower));
    for (double t : yTicks)
        PlotDrawing::DrawAnchoredText(painter, left - 4, py(t), Qt::AlignRight | Qt::AlignVCenter, tickLabel(t));
    const int xCount = std::max(2, static_cast<int>((right - left) / (metrics.horizontalAdvance(QStringLiteral("0000")) * 2.5)));
    for (double t : RoundTicks(x0, x1, xCount)) {
        painter.drawLine(QPointF(px(t), lower), QPointF(px(t), lower + 3));
        PlotDrawing::DrawAnchoredText(painter, px(t), lower + 4, Qt::AlignHCenter | Qt::AlignTop, tickLabel(t));
    }
    PlotDrawing::DrawAnchoredText(painter, width - 2, lower - 2, Qt::AlignRight | Qt::AlignBottom, unit);

    // The curve, broken where a value is missing.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::white, 1.5));
    QPainterPath curve;
    bool drawing = false;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) {
            drawing = false;
            continue;
        }
        const QPointF p(px(position(i)), py(values[i]));
        drawing ? curve.lineTo(p) : curve.moveTo(p);
        drawing = true;
    }
    painter.drawPath(curve);
    if (marker >= 0 && static_cast<size_t>(marker) < n) {
        // On a whole pixel column, so that the line stays crisp.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(255, 220, 0), 1));
        const double x = std::floor(px(position(static_cast<size_t>(marker))));
        painter.drawLine(QPointF(x, upper), QPointF(x, lower));
    }
    return image;
}

} // namespace ImageViewer
