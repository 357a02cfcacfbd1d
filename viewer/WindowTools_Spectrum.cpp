// The Spectrum page's plot: the values under the cursor along the channel dimension against
// their wavelengths, as wide as the panel and as tall as the page leaves it.
#include <QEvent>
#include <QGridLayout>
#include <QPainter>
#include <cmath>
#include <functional>
#include <limits>

#include "AnchorPanel.h"
#include "OpenDefaults.h"
#include "PictureBox.h"
#include "SpectrumPlot.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

// Calls back whenever the watched widget paints.
class PaintWatch : public QObject
{
public:
    PaintWatch(QObject* parent, std::function<void()> painted) : QObject(parent), m_painted(std::move(painted)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_painted();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_painted;
};

// Longer spectra are not plotted point by point (nor read plane by plane on each paint).
constexpr int kMaxPlotted = 16384;

} // namespace

void WindowTools::BuildSpectrumPlot()
{
    pictureSpectrum = new PictureBox;
    pictureSpectrum->setObjectName(QStringLiteral("pictureSpectrum"));
    pictureSpectrum->setToolTip(QStringLiteral("The spectrum under the cursor"));
    pictureSpectrum->setMinimumHeight(90);
    pictureSpectrum->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pictureSpectrum->paintHandler = [this](QPainter& painter) { PaintSpectrum(painter); };
    if (auto* grid = qobject_cast<QGridLayout*>(w.tabPage2->layout())) {
        // Under the calibration boxes, across the whole page; the page's stretch goes to it.
        grid->addWidget(pictureSpectrum, 3, 0, 1, std::max(grid->columnCount(), 3));
        grid->setRowStretch(3, 1);
    }
    // Whatever moves the cursor, changes the calibration or loads an image repaints the XY
    // view: the plot follows it.
    w.pictureXY->installEventFilter(new PaintWatch(w.pictureXY, [this] {
        if (pictureSpectrum->isVisible())
            pictureSpectrum->update();
    }));
}

WindowTools::Spectrum WindowTools::SpectrumUnderCursor() const
{
    Spectrum s;
    const int cd = w.ChannelDimension();
    if (!w.image || !w.reader || cd < 0)
        return s;
    const ImageReader::Vector size = w.image->GetSize();
    if (cd >= static_cast<int>(size.size()) || w.curslice.size() != size.size() || size.size() < 2)
        return s;
    const int count = size[cd];
    if (count < 2 || count > kMaxPlotted)
        return s;
    // The planes the views use, from the cache; data that may wait is not waited for here.
    const bool wait = w.ReadsMayWait();
    const ImageReader::ValueMap map = w.reader->GetValueMap();
    ImageReader::Vector p = w.curslice;
    s.values.assign(static_cast<size_t>(count), std::numeric_limits<double>::quiet_NaN());
    for (int i = 0; i < count; ++i) {
        p[cd] = i;
        const ImageReader::Vector plane = p(2, ImageReader::Vector::end);
        const ImageReader::ImageSlice<unsigned short> slice = wait ? w.image->Peek(plane) : w.image->GetSlice(plane);
        const ImageReader::Vector ss = slice.GetSize();
        if (slice.IsEmpty() || ss.size() < 2 || p[0] >= ss[0] || p[1] >= ss[1])
            continue;
        const size_t at = static_cast<size_t>(p[1]) * static_cast<size_t>(ss[0]) + static_cast<size_t>(p[0]);
        s.values[static_cast<size_t>(i)] = map.ToReal(static_cast<double>(slice.GetData()[at]));
    }
    s.marker = w.curslice[cd];
    if (w.IsSpectral()) {
        // The wavelengths the true colour uses: the file's own, or the typed calibration.
        double p1 = 0, w1 = 0, p2 = 0, w2 = 0;
        if (w.ReadSpectrumCalibration(p1, w1, p2, w2))
            s.nm = SpectrumWavelengths(SpectrumCalibration{p1, w1, p2, w2, FileWavelengths()}, count);
    } else {
        s.nm = FileWavelengths();
    }
    return s;
}

void WindowTools::PaintSpectrum(QPainter& painter)
{
    const Spectrum s = SpectrumUnderCursor();
    const QImage plot = RenderSpectrumPlot(s.values, s.nm, pictureSpectrum->width(), pictureSpectrum->height(), s.marker);
    if (!plot.isNull())
        painter.drawImage(QPointF(0, 0), plot);
}

} // namespace ImageViewer
