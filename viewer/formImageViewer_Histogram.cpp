// The histogram panel beside the channel list (distribution of the current plane and the
// draggable display range) and the region histogram measured by a Shift-drag.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <optional>
#include <utility>

#include "ChannelChoice.h"
#include "HistogramPanel.h"
#include "ImagePermutation.h"
#include "Measurement.h"
#include "PictureBox.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

using ImageReader::Vector;

namespace {

HistogramPanel panelOf(const PictureBox* box)
{
    return HistogramPanel(box->width(), box->height());
}

// Panel coordinates start inside the frame, as the drawing does.
int panelX(const PictureBox* box, const QMouseEvent* e)
{
    return static_cast<int>(e->position().x()) - box->contentsRect().left();
}

// A display value as the user reads it: the real value it stands for.
QString realText(formImageViewer& w, int display)
{
    const auto& reader = w.model->Session().reader;
    if (!reader)
        return QString::number(display);
    return QString::fromStdString(
        ImageReader::FormatValue(reader->GetValueMap().ToReal(display), reader->GetSampleType()));
}

// The plane the view shows for channel entry `c` of the channel dimension (ignored
// outside list mode): the current picture's data before colouring.
ImageReader::ImageSlice<unsigned short> viewPlane(formImageViewer& w, int c)
{
    const int dx = w.comboDimX->currentIndex();
    const int dy = w.comboDimY->currentIndex();
    // The XY view keeps its projected planes: a repaint of the panel (every range or gamma
    // step) must not project again.
    // Of a multiscale image it shows the level on the screen, while the wanted one comes.
    const ViewKey current = w.CurrentViewKey(dx, dy);
    const int entry = w.ChannelDimension() < 0 ? 0 : c;
    for (const ViewData* kept : {&w.model->Record(kViewXY).data, &w.model->Record(kViewXY).preview})
        if (entry >= 0 && static_cast<size_t>(entry) < kept->have.size() && kept->have[static_cast<size_t>(entry)] &&
            kept->key.SameView(current))
            return kept->planes[static_cast<size_t>(entry)];
    // Large or remote data is never read here, on the window's thread: the panel follows
    // when the view's data arrives.
    if (w.ReadsMayWait() || current.ReadBytes(w.image->GetSize()) > w.model->inlineLimitBytes)
        return {};
    Vector pos = w.curslice;
    for (int i = 0; i < static_cast<int>(pos.size()); ++i)
        if (w.IsProjected(i) && i != w.ChannelDimension())
            pos[i] = -1;
    if (ChannelChoice(w).IsListMode())
        pos[w.ChannelDimension()] = c;
    pos[dx] = -1;
    pos[dy] = -1;
    return w.image->GetMaximumProjection(dx, dy, pos);
}

size_t planeCount(const ImageReader::ImageSlice<unsigned short>& plane)
{
    const Vector size = plane.GetSize();
    return plane.IsEmpty() || size.size() < 2 ? 0 : static_cast<size_t>(size[0]) * static_cast<size_t>(size[1]);
}

// Where a press or move on the panel stands against the current channel's markers. None
// without an image, and none (with the arrow cursor) without a current channel.
struct MarkerPlace
{
    ChannelPtr channel;
    HistogramPanel panel;
    PanelAxis axis;
    int x;
    int xmin;
    int xmax;
};

std::optional<MarkerPlace> markerPlace(formImageViewer& w, const QMouseEvent* e)
{
    if (!w.image)
        return std::nullopt;
    ChannelPtr channel = ChannelChoice(w).Current();
    if (!channel) {
        w.pctHistogram->setCursor(Qt::ArrowCursor);
        return std::nullopt;
    }
    const HistogramPanel panel = panelOf(w.pctHistogram);
    const PanelAxis axis = w.Internals().histogramAxis;
    const int xmin = panel.MarkerX(axis, channel->m_min);
    const int xmax = panel.MarkerX(axis, channel->m_max);
    return MarkerPlace{std::move(channel), panel, axis, panelX(w.pctHistogram, e), xmin, xmax};
}

} // namespace

void formImageViewer::UpdateHistogram()
{
    if (!image)
        return;
    const Measurement m = XYMeasurement();
    Vector start, end;
    if (!m.RegionBlock(measstart, measend, curslice, start, end) || !BlockAtHand(start, end))
        return;

    ImageReader::ImageVolume<unsigned short> block = image->GetVolume(start, end);
    ImageReader::ImagePermutation<unsigned short> plane(&block, m.Order());
    const Vector extent = plane.GetSize();
    const std::vector<double> zooms = properties.GetPixelZooms();
    if (zooms.size() != image->GetSize().size())
        return;
    const auto zoom = [&](const QComboBox* axis) { return zooms[static_cast<size_t>(axis->currentIndex())]; };
    const BitmapSize bitmap = Measurement::RegionBitmapSize(extent[0], extent[1], zoom(comboDimX), zoom(comboDimY));
    histogram = std::make_unique<HistogramRenderer>(m.ChannelDim(), ChannelChoice(*this).ForMeasurement());
    histogram->m_valuemap = reader->GetValueMap();
    histogram->m_sampletype = reader->GetSampleType();
    histogram->Calculate(plane, bitmap.width, bitmap.height);
}

void formImageViewer::pctHistogram_Paint(QPainter& e)
{
    if (tools)
        tools->ShowRange();
    const auto clear = [&] { e.fillRect(pctHistogram->rect(), pctHistogram->background()); };
    const int dx = comboDimX->currentIndex();
    const int dy = comboDimY->currentIndex();
    if (!image || dx < 0 || dy < 0 || dx == dy || comboDimC->currentIndex() < 0) {
        clear();
        return;
    }
    const Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    if (dx >= n || dy >= n || curslice.size() != size.size()) {
        clear();
        return;
    }

    const ChannelChoice choice(*this);
    const ChannelPtr channel = choice.Current();
    if (!channel) {
        clear();
        return;
    }
    // The plane of the picture, with the channel dimension at the selected entry.
    const ImageReader::ImageSlice<unsigned short> plane = viewPlane(*this, listChannels->currentRow());
    const size_t count = planeCount(plane);

    const HistogramPanel panel = panelOf(pctHistogram);
    if (!panel.IsDrawable() || count == 0) {
        clear();
        return;
    }
    HistogramCount& kept = histogramCount;
    if (kept.plane.GetData() != plane.GetData() || planeCount(kept.plane) != count || kept.width != panel.Width() ||
        kept.height != panel.Height()) {
        kept.bins = panel.Count(plane.GetData(), count);
        kept.plane = plane;
        kept.width = panel.Width();
        kept.height = panel.Height();
    }
    const PanelBins& bins = kept.bins;
    const PanelAxis axis = HistogramPanel::MakeAxis(bins.lo, bins.hi, channel->m_min, channel->m_max);
    histogramAxis = axis;
    lblMin->setText(realText(*this, axis.a0));
    lblMax->setText(realText(*this, axis.a1));

    e.save();
    e.translate(pctHistogram->contentsRect().topLeft());
    const int base = panel.Baseline();
    e.setPen(Qt::black);
    for (int j = 0; j < panel.Width(); ++j) {
        const int x = panel.BarX(bins, axis, j);
        e.drawLine(x, base, x, panel.BarTop(bins, j));
    }
    const int xmin = panel.MarkerX(axis, channel->m_min);
    const int xmax = panel.MarkerX(axis, channel->m_max);
    e.setPen(Qt::red);
    e.drawLine(xmin, 0, xmin, base);
    e.setPen(Qt::blue);
    e.drawLine(xmax, 0, xmin, base);
    e.setPen(Qt::red);
    e.drawLine(xmax, 0, xmax, base);
    e.restore();
}

void formImageViewer::pctHistogram_MouseDown(QMouseEvent* e)
{
    const std::optional<MarkerPlace> at = markerPlace(*this, e);
    if (!at)
        return;
    histstart = at->x;
    histdim = HistogramPanel::HitTest(at->x, at->xmin, at->xmax);
    if (histdim == 0)
        histdimstart = at->channel->m_min;
    else if (histdim == 1)
        histdimstart = at->channel->m_max;
}

void formImageViewer::pctHistogram_MouseMove(QMouseEvent* e)
{
    const std::optional<MarkerPlace> at = markerPlace(*this, e);
    if (!at)
        return;
    const bool near = HistogramPanel::NearMarker(at->x, at->xmin, at->xmax);
    pctHistogram->setCursor(near ? Qt::SizeHorCursor : Qt::ArrowCursor);
    if (!(e->buttons() & Qt::LeftButton))
        return;
    if (histdim < 0)
        return;
    const int delta = at->panel.DragDelta(at->axis, at->x, histstart);
    if (histdim == 0)
        at->channel->m_min = HistogramPanel::MoveMarker(histdimstart, delta);
    else
        at->channel->m_max = HistogramPanel::MoveMarker(histdimstart, delta);
    // A range the user set stays: expanding it again would undo the drag.
    if (at->channel->m_autoscaling) {
        at->channel->m_autoscaling = false;
        ShowRangeMode();
    }
    RefreshPictures(ViewAll);
}

void formImageViewer::pctHistogram_DoubleClick(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        AutoRange(false);
}

void formImageViewer::buttonAutoRange_Click()
{
    AutoRange(true);
}

void formImageViewer::AutoRange(bool allChannels)
{
    const int dx = comboDimX->currentIndex();
    const int dy = comboDimY->currentIndex();
    const int n = DimensionCount();
    if (!image || dx < 0 || dy < 0 || dx >= n || dy >= n || dx == dy || curslice.size() != image->GetSize().size())
        return;
    const ChannelChoice choice(*this);
    std::vector<std::pair<ChannelPtr, int>> targets; // channel and its entry of the channel dimension
    if (!choice.IsListMode()) {
        targets.emplace_back(globalchannel, 0);
    } else if (allChannels) {
        const int count = std::min(image->GetSize()[ChannelDimension()], static_cast<int>(channels->size()));
        for (int c = 0; c < count; ++c)
            if ((*channels)[static_cast<size_t>(c)]->m_enabled)
                targets.emplace_back((*channels)[static_cast<size_t>(c)], c);
    } else if (const ChannelPtr current = choice.Current()) {
        targets.emplace_back(current, listChannels->currentRow());
    }
    if (targets.empty())
        return;
    for (auto& [channel, c] : targets) {
        const ImageReader::ImageSlice<unsigned short> plane = viewPlane(*this, c);
        const size_t count = planeCount(plane);
        if (count == 0)
            continue;
        const auto [lo, hi] = HistogramPanel::PercentileRange(plane.GetData(), count, 0.001, 0.999);
        channel->m_min = lo;
        channel->m_max = hi;
        channel->m_autoscaling = false;
    }
    ShowRangeMode();
    RefreshPictures(ViewAll);
}

void formImageViewer::pctHistogram_MouseUp(QMouseEvent*)
{
    histdim = -1;
}

} // namespace ImageViewer
