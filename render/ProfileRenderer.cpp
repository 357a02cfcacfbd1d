#include "ProfileRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <QPainter>
#include <QPolygonF>
#include <QTransform>

#include "ChannelRenderer.h"
#include "PlotDrawing.h"

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;
using namespace PlotDrawing;

namespace {

// Largest bitmap a profile may allocate; the line's ends may lie anywhere, and a line far
// outside the plane must not turn into gigabytes of transparent pixels.
constexpr long long maxBitmapBytes = 1ll << 30;

// A transparent bitmap; null for a size that is empty, past maxBitmapBytes or cannot be allocated.
QImage TransparentBitmap(long long width, int height)
{
    // Divided rather than multiplied: a line between far-apart ends times a large height
    // would pass 2^63.
    if (width <= 0 || height <= 0 || width > maxBitmapBytes / 4 / height)
        return QImage();
    QImage bitmap(static_cast<int>(width), height, QImage::Format_ARGB32);
    if (!bitmap.isNull())
        bitmap.fill(Qt::transparent);
    return bitmap;
}

// Visits the points of the line from (x0, y0) to (x1, y1) after the start, as
// visit(x, y, x - x0, y - y0). 64-bit, so ends far outside the plane cannot overflow.
template <class Visit>
void WalkLine(long long x0, long long y0, long long x1, long long y1, Visit visit)
{
    const long long dx = x1 - x0, dy = y1 - y0;
    const long long ax = std::llabs(dx), ay = std::llabs(dy);
    const long long sx = (dx > 0) - (dx < 0), sy = (dy > 0) - (dy < 0);
    // Every point steps along the major axis, and along the minor one whenever the error
    // term passes the major length.
    const bool xMajor = ax >= ay;
    const long long major = xMajor ? ax : ay, minor = xMajor ? ay : ax;
    long long x = x0, y = y0, e = major >> 1;
    for (long long i = 0; i < major; ++i) {
        e += minor;
        const bool side = e >= major;
        if (side)
            e -= major;
        x += xMajor || side ? sx : 0;
        y += !xMajor || side ? sy : 0;
        visit(x, y, x - x0, y - y0);
    }
}

// Calls sample(value, ox, oy) for every visited point inside the slice.
template <class Sample>
void SampleLine(const ImageSlice<unsigned short>& slice, const Vector& start, const Vector& end, Sample sample)
{
    if (slice.IsEmpty())
        return;
    const Vector size = slice.GetSize();
    const long long w = size[0], h = size.size() > 1 ? size[1] : 1;
    const unsigned short* data = slice.GetData();
    WalkLine(start[0], start[1], end[0], end[1], [&](long long x, long long y, long long ox, long long oy) {
        if (x >= 0 && x < w && y >= 0 && y < h)
            sample(data[x + y * w], ox, oy);
    });
}

} // namespace

ProfileRenderer::ProfileRenderer(int dim, ChannelListPtr channels, int height)
    : m_channels(channels ? std::move(channels) : std::make_shared<ChannelList>()), m_channeldim(dim), m_height(height)
{
}

ProfileRenderer::ProfileRenderer(int dim, ChannelListPtr channels) : ProfileRenderer(dim, std::move(channels), 100) {}

ProfileRenderer::ProfileRenderer(int dim) : ProfileRenderer(dim, nullptr, 100) {}

void ProfileRenderer::AddChannel(ChannelPtr channel)
{
    m_channels->push_back(std::move(channel));
}

void ProfileRenderer::Calculate(ImageReader::ImageBase<unsigned short>& image, const Vector& start, const Vector& end,
                                int dist)
{
    const ChannelList& channels = *m_channels;
    const Vector size = image.GetSize();
    if (channels.empty() || start.size() < 2 || end.size() < 2 || size.size() < 2 ||
        (m_channeldim >= 0 && static_cast<unsigned>(m_channeldim) >= size.size())) {
        m_bitmap = QImage();
        return;
    }
    // Slices are kept from the range pass for the drawing pass, so both see the same values.
    const std::vector<ImageSlice<unsigned short>> slices = ReadChannelPlanes(image, size, m_channeldim, channels);
    const size_t n = slices.size();
    const auto enabled = [&](size_t c) { return channels[c] && channels[c]->m_enabled; };
    int lo = 999999999, hi = 0;
    for (const ImageSlice<unsigned short>& slice : slices)
        SampleLine(slice, start, end, [&](int v, long long, long long) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        });

    const double dx = static_cast<double>(end[0]) - start[0], dy = static_cast<double>(end[1]) - start[1];
    const long long length = static_cast<long long>(std::sqrt(dx * dx + dy * dy));
    QImage bitmap = TransparentBitmap(length, m_height);
    if (bitmap.isNull() || hi == 0) {
        m_bitmap = bitmap;
        return;
    }

    const long long r = static_cast<long long>(hi) - lo + 1;
    {
        QPainter painter(&bitmap);
        for (size_t c = 0; c < n; ++c) {
            if (!enabled(c))
                continue;
            const QColor bar = ChannelColour(*channels[c], 128), top = ChannelColour(*channels[c], 255);
            long long prevD = 0, prevH = 0;
            SampleLine(slices[c], start, end, [&](int v, long long ox, long long oy) {
                const long long d =
                    static_cast<long long>(std::sqrt(static_cast<double>(ox) * ox + static_cast<double>(oy) * oy));
                const long long h = (v - lo) * static_cast<long long>(m_height) / r;
                if (d != prevD) {
                    // Columns past the bitmap's width are left to the painter's clipping.
                    if (d < length)
                        DrawProfileBar(painter, static_cast<int>(d), m_height, h, bar, top);
                    // A step of two columns (along a diagonal) gets a filler bar between them.
                    if (std::llabs(d - prevD) > 1 && (d + prevD) / 2 < length)
                        DrawProfileBar(painter, static_cast<int>((d + prevD) / 2), m_height, (h + prevH) / 2, bar, top);
                }
                prevD = d;
                prevH = h;
            });
        }
    }
    m_bitmap = bitmap;
    m_valmin = lo;
    m_valmax = hi;
    m_dist = dist;
}

void ProfileRenderer::Render(QPainter& graphics, const Vector& start, const Vector& end, bool renderText)
{
    if (m_bitmap.isNull() || start.size() < 2 || end.size() < 2)
        return;
    const double theta = std::atan2(static_cast<double>(end[1]) - start[1], static_cast<double>(end[0]) - start[0]);
    const double a = 1.57079635 - theta;
    const int B = m_bitmap.height();
    const float ox = static_cast<float>(B * std::sin(a));
    const float oy = static_cast<float>(B * std::cos(a));
    const QPointF S(start[0], start[1]), E(end[0], end[1]);
    const QPointF P0(start[0] + oy, start[1] - ox), P1(end[0] + oy, end[1] - ox);

    graphics.save();
    graphics.setPen(QPen(GridColour(), 1));
    graphics.setBrush(Qt::NoBrush);
    graphics.drawLine(S, E);
    const QPolygonF quad({P0, P1, E, S});
    graphics.drawPolygon(quad);
    graphics.setPen(Qt::NoPen);
    graphics.setBrush(BackdropColour());
    graphics.drawPolygon(quad);

    // The bitmap's rectangle mapped onto the parallelogram P0 (top left), P1 (top right),
    // S (bottom left): the bars stand on the line.
    graphics.save();
    const double bw = m_bitmap.width(), bh = B;
    graphics.setTransform(QTransform((P1.x() - P0.x()) / bw, (P1.y() - P0.y()) / bw, (S.x() - P0.x()) / bh,
                                     (S.y() - P0.y()) / bh, P0.x(), P0.y()),
                          true);
    graphics.drawImage(QPointF(0, 0), m_bitmap);
    graphics.restore();

    if (renderText) {
        graphics.setFont(LabelFont());
        graphics.setPen(Qt::white);
        DrawAnchoredText(graphics, S.x(), S.y(), Qt::AlignRight | Qt::AlignVCenter, ValueLabel(m_valmin, m_valuemap, m_sampletype));
        DrawAnchoredText(graphics, P0.x(), P0.y(), Qt::AlignRight | Qt::AlignVCenter, ValueLabel(m_valmax, m_valuemap, m_sampletype));
        DrawAnchoredText(graphics, E.x(), E.y(), Qt::AlignHCenter | Qt::AlignTop, FormatLength(m_dist));
        // The axes: ticks with numbers at the start and half way along the line (distance),
        // and half way up (value).
        const QPointF along = (E - S) / 2.0, up = (P0 - S) / 2.0;
        const double unitLen = std::hypot(along.x(), along.y());
        if (unitLen > 0) {
            const QPointF tick = (S - P0) * (4.0 / std::max(1.0, double(B))); // away from the plot
            graphics.setPen(QPen(GridColour(), 1));
            for (const QPointF& at : {S, S + along, E})
                graphics.drawLine(at, at + tick);
            graphics.setPen(Qt::white);
            DrawAnchoredText(graphics, S.x() + tick.x(), S.y() + tick.y(), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("0"));
            if (m_dist > 1)
                DrawAnchoredText(graphics, S.x() + along.x() + tick.x(), S.y() + along.y() + tick.y(),
                                 Qt::AlignHCenter | Qt::AlignTop, FormatLength(m_dist / 2));
            if (m_valmax - m_valmin > 1)
                DrawAnchoredText(graphics, S.x() + up.x(), S.y() + up.y(), Qt::AlignRight | Qt::AlignVCenter,
                                 ValueLabel((m_valmin + m_valmax) / 2, m_valuemap, m_sampletype));
        }
    }
    graphics.restore();
}

QString FormatLength(int dist)
{
    // One decimal, halves rounded up, from the integer itself so that no binary fraction
    // decides the last digit.
    const auto tenths = [](long long value, long long unit) {
        const long long t = (value * 10 + unit / 2) / unit;
        return QString("%1.%2").arg(t / 10).arg(t % 10);
    };
    if (dist == 0 || dist >= 1000000000)
        return QString();
    if (dist < 1000)
        return QString("%1 nm").arg(dist);
    if (dist < 1000000)
        return tenths(dist, 1000) + QStringLiteral(" \u00b5m");
    return tenths(dist, 1000000) + " mm";
}

FlatProfileRenderer::FlatProfileRenderer(ChannelListPtr channels, int height)
    : m_channels(channels ? std::move(channels) : std::make_shared<ChannelList>()), m_height(height)
{
}

FlatProfileRenderer::FlatProfileRenderer(ChannelListPtr channels) : FlatProfileRenderer(std::move(channels), 100) {}

void FlatProfileRenderer::AddChannel(ChannelPtr channel)
{
    m_channels->push_back(std::move(channel));
}

void FlatProfileRenderer::Calculate(const ImageSlice<unsigned short>& slice, int pos)
{
    const ChannelList& channels = *m_channels;
    const Vector size = slice.GetSize();
    if (channels.empty() || slice.IsEmpty() || size[0] < 0 || (size.size() > 1 && size[1] < 0)) {
        m_bitmap = QImage();
        return;
    }
    const long long n = size[0];
    // Rows without a channel in the list are a caller error; they are left out.
    const size_t rows = std::min(static_cast<size_t>(size.size() > 1 ? size[1] : 1), channels.size());
    const auto enabled = [&](size_t row) { return channels[row] && channels[row]->m_enabled; };
    const unsigned short* data = slice.GetData();

    int lo = 999999999, hi = 0;
    for (size_t row = 0; row < rows; ++row) {
        if (!enabled(row))
            continue;
        for (long long x = 0; x < n; ++x) {
            lo = std::min(lo, static_cast<int>(data[row * n + x]));
            hi = std::max(hi, static_cast<int>(data[row * n + x]));
        }
    }
    QImage bitmap = TransparentBitmap(n, m_height);
    if (!bitmap.isNull() && hi != 0) {
        const long long r = static_cast<long long>(hi) - lo + 1;
        QPainter painter(&bitmap);
        for (size_t row = 0; row < rows; ++row) {
            if (!enabled(row))
                continue;
            const QColor bar = ChannelColour(*channels[row], 128), top = ChannelColour(*channels[row], 255);
            for (long long x = 0; x < n; ++x) {
                const long long h = (data[row * n + x] - lo) * static_cast<long long>(m_height) / r;
                DrawProfileBar(painter, static_cast<int>(x), m_height, h, bar, top);
            }
        }
        painter.setPen(QPen(GridColour(), 1));
        painter.drawLine(QPoint(pos, 0), QPoint(pos, m_height));
    }
    m_bitmap = bitmap;
}

void FlatProfileRenderer::Render(QPainter& graphics, const Vector& start, const Vector& end)
{
    if (m_bitmap.isNull() || start.size() < 2 || end.size() < 2)
        return;
    graphics.drawImage(QRectF(start[0], start[1], static_cast<double>(end[0]) - start[0],
                              static_cast<double>(end[1]) - start[1]),
                       m_bitmap);
}

} // namespace ImageViewer
