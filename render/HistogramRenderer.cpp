#include "HistogramRenderer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QPainter>

#include "ChannelRenderer.h"
#include "PlotDrawing.h"

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;
using namespace PlotDrawing;

HistogramRenderer::HistogramRenderer(int dim, ChannelListPtr channels)
    : m_channels(channels ? std::move(channels) : std::make_shared<ChannelList>()), m_channeldim(dim)
{
}

HistogramRenderer::HistogramRenderer(int dim) : m_channels(std::make_shared<ChannelList>()), m_channeldim(dim) {}

void HistogramRenderer::AddChannel(ChannelPtr channel)
{
    m_channels->push_back(std::move(channel));
}

void HistogramRenderer::Calculate(ImageReader::ImageBase<unsigned short>& image, int width, int height)
{
    const ChannelList& channels = *m_channels;
    const Vector size = image.GetSize();
    if (channels.empty() || width <= 0 || height <= 0 || size.size() < 2 ||
        (m_channeldim >= 0 && static_cast<unsigned>(m_channeldim) >= size.size())) {
        m_bitmap = QImage();
        return;
    }
    // The bitmap first: a size it cannot hold fails before anything is counted.
    QImage bitmap(width, height, QImage::Format_ARGB32);
    if (bitmap.isNull()) {
        m_bitmap = QImage();
        return;
    }
    bitmap.fill(Qt::transparent);

    // The slices are kept from the range pass for the counting pass, so both passes see
    // the same values.
    const std::vector<ImageSlice<unsigned short>> slices = ReadChannelPlanes(image, size, m_channeldim, channels);
    const size_t n = slices.size();
    const auto enabled = [&](size_t c) { return channels[c] && channels[c]->m_enabled; };
    int lo = 999999999, hi = 0;
    for (const ImageSlice<unsigned short>& slice : slices) {
        const size_t count = slice.IsEmpty() ? 0 : static_cast<size_t>(std::max(slice.GetSize().prod(), 0));
        const unsigned short* data = slice.GetData();
        for (size_t i = 0; i < count; ++i) {
            lo = std::min(lo, static_cast<int>(data[i]));
            hi = std::max(hi, static_cast<int>(data[i]));
        }
    }

    std::vector<std::vector<unsigned long long>> counts(n, std::vector<unsigned long long>(static_cast<size_t>(width), 0));
    if (lo <= hi) {
        // The bin of every value that can occur, so counting costs no division. 64-bit
        // products: a wide bitmap times a wide value range passes 2^31.
        const long long r = static_cast<long long>(hi) - lo + 1;
        std::vector<int> binOf(static_cast<size_t>(r));
        for (long long d = 0; d < r; ++d)
            binOf[static_cast<size_t>(d)] = static_cast<int>(d * width / r);
        for (size_t c = 0; c < n; ++c) {
            if (slices[c].IsEmpty())
                continue;
            const size_t count = static_cast<size_t>(std::max(slices[c].GetSize().prod(), 0));
            const unsigned short* data = slices[c].GetData();
            unsigned long long* bins = counts[c].data();
            for (size_t i = 0; i < count; ++i)
                ++bins[binOf[data[i] - lo]];
        }
    }

    const double ln15 = std::log(1.5);
    std::vector<std::vector<double>> heights(n, std::vector<double>(static_cast<size_t>(width)));
    double peak = 0;
    for (size_t c = 0; c < n; ++c)
        for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
            heights[c][x] = std::log(static_cast<double>(counts[c][x]) + 1) / ln15;
            peak = std::max(peak, heights[c][x]);
        }

    if (peak != 0) {
        QPainter painter(&bitmap);
        for (size_t c = 0; c < n; ++c) {
            if (!enabled(c))
                continue;
            const QColor bar = ChannelColour(*channels[c], 128), top = ChannelColour(*channels[c], 255);
            for (int x = 0; x < width; ++x) {
                const double h = heights[c][static_cast<size_t>(x)];
                // An empty bin lands on row `height`, outside the bitmap: it stays unmarked.
                const int y = static_cast<int>(height - h * height / peak);
                DrawBar(painter, x, height, y, bar, top);
            }
        }
    }
    m_bitmap = bitmap;
    m_binmax = static_cast<int>(std::ceil(peak));
    m_valmin = lo;
    m_valmax = hi;
}

void HistogramRenderer::Render(QPainter& graphics, int left, int top)
{
    if (m_bitmap.isNull())
        return;
    const int W = m_bitmap.width(), H = m_bitmap.height();
    graphics.save();
    graphics.setPen(QPen(GridColour(), 1));
    graphics.setBrush(Qt::NoBrush);
    graphics.drawRect(left, top, W, H);
    graphics.fillRect(QRect(left, top, W, H), BackdropColour());
    graphics.setFont(LabelFont());

    const double ln15 = std::log(1.5);
    int last = 0;
    for (int i = 0; i < m_binmax; ++i) {
        const int k = static_cast<int>(std::exp(i * ln15)) - 1;
        const int y = static_cast<int>(top + H - H * (std::log(k + 1.0) / ln15) / m_binmax);
        if (std::abs(last - y) > 20) {
            graphics.setPen(Qt::white);
            DrawAnchoredText(graphics, left, y, Qt::AlignRight | Qt::AlignVCenter, QString::number(k));
            graphics.setPen(QPen(GridColour(), 1));
            graphics.drawLine(left, y, left + W, y);
            last = y;
        }
    }
    graphics.drawImage(left, top, m_bitmap);
    graphics.setPen(Qt::white);
    DrawAnchoredText(graphics, left, top + H, Qt::AlignHCenter | Qt::AlignTop, ValueLabel(m_valmin, m_valuemap, m_sampletype));
    DrawAnchoredText(graphics, left + W, top + H, Qt::AlignHCenter | Qt::AlignTop, ValueLabel(m_valmax, m_valuemap, m_sampletype));
    graphics.restore();
}

} // namespace ImageViewer
