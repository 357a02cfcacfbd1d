// The three orthogonal views: recomputing their pictures, painting them with zoom, pan,
// cursor lines and measurement overlays, and sizing the side views.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QCoreApplication>
#include <QPainter>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "BusyCursor.h"
#include "CacheBudget.h"
#include "ChannelRenderer.h"
#include "PictureBox.h"
#include "SpectralProjection.h"
#include "TablePanel.h"
#include "PlayerPanel.h"
#include "OpenDefaults.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

// Beyond this many pixels off the box a coordinate is handed to Qt only after clipping;
// the unbounded zoom and pan can otherwise reach values Qt cannot convert to int.
constexpr double kSafeCoordinate = 1e7;

bool parseNumber(const QString& text, double& value)
{
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

// Draws `image` scaled into `target`, handing Qt only the part inside `visible`.
void drawScaled(QPainter& g, const QImage& image, const QRectF& target, const QRect& visible)
{
    const double coords[] = {target.left(), target.top(), target.right(), target.bottom()};
    bool safe = true;
    for (const double c : coords) {
        if (!std::isfinite(c))
            return;
        safe = safe && std::fabs(c) < kSafeCoordinate;
    }
    if (target.width() <= 0 || target.height() <= 0)
        return;
    if (safe) {
        g.drawImage(target, image, QRectF(image.rect()));
        return;
    }
    const QRectF shown = target.intersected(QRectF(visible));
    if (shown.isEmpty())
        return;
    const double sx = image.width() / target.width();
    const double sy = image.height() / target.height();
    const QRectF source((shown.left() - target.left()) * sx, (shown.top() - target.top()) * sy, shown.width() * sx,
                        shown.height() * sy);
    g.drawImage(shown, image, source);
}

// Clamps a cursor line to a little beyond the box, so that far-off ends stay convertible.
void drawLine(QPainter& g, QPointF a, QPointF b, const QRect& visible)
{
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    const double x0 = visible.left() - 2.0, x1 = visible.right() + 2.0;
    const double y0 = visible.top() - 2.0, y1 = visible.bottom() + 2.0;
    const auto clampPoint = [&](QPointF p) {
        return QPointF(std::fmin(std::fmax(p.x(), x0), x1), std::fmin(std::fmax(p.y(), y0), y1));
    };
    g.drawLine(QLineF(clampPoint(a), clampPoint(b)));
}

} // namespace

void formImageViewer::RefreshPictures(int mask)
{
    if (!image)
        return;
    // Full recomputes (channel choice, projection, typed positions) may read many planes.
    std::optional<BusyCursor> busy;
    if ((mask & ViewAll) == ViewAll)
        busy.emplace();

    UpdateMeasurement();
    UpdateCursorProfile();
    if (tools)
        tools->ShowRange();

    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    ShowCursorValue();

    const ViewAxes a = CurrentAxes();
    const bool colouring = comboDimC->currentIndex() >= 0;
    const auto recompute = [&](int bit, int index, int xdim, int ydim, QImage& bmp, RGBABuffer& data,
                               PictureBox* pct) {
        if (!(mask & bit))
            return;
        if (xdim >= 0 && ydim >= 0 && xdim != ydim && xdim < n && ydim < n && colouring) {
            ++recomputeCount[static_cast<size_t>(index)];
            ShowView(index);
        } else {
            bmp = QImage();
            data.reset();
            shownKeys[static_cast<size_t>(index)] = ViewKey();
        }
        pct->repaint();
    };
    recompute(ViewXY, 0, a.x, a.y, GDIImageXY, dataXY, pictureXY);
    recompute(ViewXZ, 1, a.x, a.xz, GDIImageXZ, dataXZ, pictureXZ);
    recompute(ViewYZ, 2, a.yz, a.y, GDIImageYZ, dataYZ, pictureYZ);
    pctHistogram->update();
    SyncModel();
}

namespace {

// The axes of view `index` (XY, XZ, YZ).
std::pair<int, int> viewDims(const ViewAxes& a, int index)
{
    return index == 0 ? std::make_pair(a.x, a.y) : index == 1 ? std::make_pair(a.x, a.xz) : std::make_pair(a.yz, a.y);
}

} // namespace

void formImageViewer::ShowView(int index)
{
    QImage* const bitmaps[] = {&GDIImageXY, &GDIImageXZ, &GDIImageYZ};
    RGBABuffer* const buffers[] = {&dataXY, &dataXZ, &dataYZ};
    PictureBox* const boxes[] = {pictureXY, pictureXZ, pictureYZ};
    const auto i = static_cast<size_t>(index);
    QImage& bmp = *bitmaps[i];
    RGBABuffer& data = *buffers[i];
    const auto [xdim, ydim] = viewDims(CurrentAxes(), index);
    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    const auto show = [&](RGBABuffer picture, int w, int h, const ViewKey& shown) {
        data = std::move(picture);
        bmp = data ? QImage(data.get(), w, h, 4 * static_cast<qsizetype>(w), QImage::Format_RGB32) : QImage();
        shownKeys[i] = data ? shown : ViewKey();
    };

    const int cd = ChannelDimension();
    if (cd >= n || (cd >= 0 && size[cd] >= 10)) {
        // No channel to draw, or spectral colouring, which folds the channels as it colours.
        viewData[i] = ViewData();
        previewData[i] = ViewData();
        flights[i] = Flight();
        const ViewKey key = CurrentViewKey(xdim, ydim);
        // The spectrum reads every channel's plane: a large one is coloured on the worker,
        // with a copy of the display settings, while the old picture stays.
        const double bytes = cd < n ? key.ReadBytes(size) * size[cd] : 0.0;
        if (cd >= n || (!ReadsMayWait() && bytes <= inlineLimitBytes)) {
            show(RefreshPicture(xdim, ydim), size[xdim], size[ydim], key);
            return;
        }
        double p1 = 0, w1 = 0, p2 = 0, w2 = 0;
        if (!ReadSpectrumCalibration(p1, w1, p2, w2)) {
            show(NewBlackRGBA(size[xdim], size[ydim]), size[xdim], size[ydim], key);
            return;
        }
        const ImageChannel global = *globalchannel;
        const ImageReader::Vector cursor = curslice;
        ImageReader::ImageBase<unsigned short>* const source = image.get();
        work->Submit(index, [this, source, key, global, cursor, xdim, ydim, cd, p1, w1, p2, w2, index,
                             fileNm = tools->FileWavelengths()](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
            ImageChannel settings = global;
            RGBABuffer picture = RenderSpectrum(*source, xdim, ydim, cd, cursor, p1, w1, p2, w2, settings, fileNm);
            if (control.cancel)
                return;
            QMetaObject::invokeMethod(
                this,
                [this, index, key, ticket, settings, picture = std::make_shared<RGBABuffer>(std::move(picture))] {
                    const auto k = static_cast<size_t>(index);
                    if (!work->IsCurrent(index, ticket) || CurrentViewKey(key.xdim, key.ydim) != key || !IsSpectral())
                        return;
                    // Under autoscaling the range only widens, to cover what every view found;
                    // should this view widen it, the others are coloured again with it.
                    bool widened = false;
                    if (globalchannel->m_autoscaling && settings.m_min <= settings.m_max) {
                        const int lo = std::min(globalchannel->m_min, settings.m_min);
                        const int hi = std::max(globalchannel->m_max, settings.m_max);
                        widened = lo != globalchannel->m_min || hi != globalchannel->m_max;
                        globalchannel->m_min = lo;
                        globalchannel->m_max = hi;
                    }
                    QImage* const bitmaps[] = {&GDIImageXY, &GDIImageXZ, &GDIImageYZ};
                    RGBABuffer* const buffers[] = {&dataXY, &dataXZ, &dataYZ};
                    const ImageReader::Vector s = image->GetSize();
                    *buffers[k] = std::move(*picture);
                    const int pw = s[key.xdim], ph = s[key.ydim];
                    *bitmaps[k] = *buffers[k] ? QImage(buffers[k]->get(), pw, ph, 4 * static_cast<qsizetype>(pw),
                                                       QImage::Format_RGB32)
                                              : QImage();
                    shownKeys[k] = *buffers[k] ? key : ViewKey();
                    PictureBox* const views[] = {pictureXY, pictureXZ, pictureYZ};
                    views[k]->update();
                    pctHistogram->update();
                    if (widened)
                        RefreshPictures(ViewAll);
                },
                Qt::QueuedConnection);
        }, index == 0);
        const ViewKey& shown = shownKeys[i];
        if (shown.xdim != xdim || shown.ydim != ydim || shown.cd != cd || shown.image != imageSerial)
            show(nullptr, 0, 0, ViewKey());
        if (!progressTimer->isActive())
            progressTimer->start();
        return;
    }

    const int levels = LevelCount();
    const int level = ViewLevel(index);
    const ViewKey key = CurrentViewKey(xdim, ydim, level);
    const ImageReader::Vector levelSize = levelSizes[static_cast<size_t>(level)];
    const int w = levelSize[xdim];
    const int h = levelSize[ydim];
    const size_t entries = cd < 0 ? 1 : std::min(channels->size(), static_cast<size_t>(std::max(size[cd], 0)));
    std::vector<int> wanted;
    for (size_t c = 0; c < entries; ++c)
        if (cd < 0 || (*channels)[c]->m_enabled)
            wanted.push_back(static_cast<int>(c));

    // Pictures are coloured from kept data, at the size of the level it came from: the
    // painting stretches any level over the same place.
    const auto colour = [&](const ViewData& source) {
        const ImageReader::Vector& s = levelSizes[static_cast<size_t>(source.key.level)];
        const int cw = s[xdim];
        const int ch = s[ydim];
        const ImageReader::Vector ps = source.planes[0].GetSize();
        if (cd < 0 && (source.planes[0].IsEmpty() || ps.size() < 2 || ps[0] != cw || ps[1] != ch)) {
            // No picture for a missing plane.
            show(globalchannel->RenderToRGBA(source.planes[0]), cw, ch, source.key);
            return;
        }
        std::vector<ChannelRenderer::Layer> layers;
        if (cd < 0)
            layers.emplace_back(globalchannel.get(), source.planes[0], source.spans[0]);
        else
            for (int c : wanted)
                layers.emplace_back((*channels)[static_cast<size_t>(c)].get(), source.planes[static_cast<size_t>(c)],
                                    source.spans[static_cast<size_t>(c)]);
        // The old picture's buffer is written over when nothing else refers to it (a copy of
        // the bitmap held elsewhere would otherwise change under its holder).
        RGBABuffer reuse;
        if (data && bmp.width() == cw && bmp.height() == ch && bmp.isDetached()) {
            bmp = QImage();
            reuse = std::move(data);
        }
        show(ChannelRenderer::Composite(layers, cw, ch, std::move(reuse)), cw, ch, source.key);
    };

    ViewData& vd = viewData[i];
    ViewData& preview = previewData[i];
    // Complete data of this view at another level stands in while the wanted level comes.
    if (vd.key != key && vd.key.SameView(key) && !vd.planes.empty() && vd.Missing(wanted).empty()) {
        preview = std::move(vd);
        vd = ViewData();
    }
    if (!preview.key.SameView(key))
        preview = ViewData();
    vd.Reset(key, entries);
    const std::vector<int> missing = vd.Missing(wanted);
    if (!missing.empty()) {
        // The projections and the picture must fit the budget, or nothing is attempted.
        const double pixels = static_cast<double>(w) * static_cast<double>(h);
        if (pixels * (2.0 * static_cast<double>(wanted.size()) + 4.0) > static_cast<double>(image->GetBudget())) {
            show(nullptr, 0, 0, ViewKey());
            NoteImageProblems(true);
            return;
        }
        if (!ReadsMayWait() && key.ReadBytes(levelSize) * static_cast<double>(missing.size()) <= inlineLimitBytes) {
            for (int c : missing) {
                ImageReader::ImageSlice<unsigned short> plane = key.Project(*image, c);
                const ValueSpan span = ScanValues(plane);
                vd.Store(c, std::move(plane), span);
            }
        } else {
            Flight& flight = flights[i];
            // A display change while the same data is computed only re-colours what is shown.
            const bool running = flight.active && flight.key == key && flight.missing == missing &&
                                 work->IsCurrent(index, flight.ticket);
            const bool usablePreview = !preview.planes.empty() && preview.Missing(wanted).empty();
            if (!running) {
                // A multiscale image shows its coarsest level first, unless another level of
                // this view is already there to show.
                const int coarsest = levels - 1;
                ImageReader::ImageBase<unsigned short>* const fine = &LevelImage(level);
                ImageReader::ImageBase<unsigned short>* const coarse =
                    level != coarsest && !usablePreview ? &LevelImage(coarsest) : nullptr;
                const ViewKey coarseKey = CurrentViewKey(xdim, ydim, coarsest);
                flight = Flight{true, key, missing, 0};
                flight.ticket = work->Submit(index, [this, fine, coarse, key, coarseKey, missing, wanted, entries,
                                                     index](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
                    // Each entry's projection and its values' span; false once cancelled.
                    const auto project = [&control](ImageReader::ImageBase<unsigned short>& source, const ViewKey& k,
                                                    const std::vector<int>& which,
                                                    std::vector<ImageReader::ImageSlice<unsigned short>>& planes,
                                                    std::vector<ValueSpan>& spans) {
                        for (int c : which) {
                            planes.push_back(k.Project(source, c, &control));
                            if (control.cancel)
                                return false;
                            spans.push_back(ScanValues(planes.back()));
                        }
                        return true;
                    };
                    if (coarse) {
                        std::vector<ImageReader::ImageSlice<unsigned short>> planes;
                        std::vector<ValueSpan> spans;
                        if (!project(*coarse, coarseKey, wanted, planes, spans))
                            return;
                        QMetaObject::invokeMethod(
                            this,
                            [this, index, key, coarseKey, wanted, entries, ticket, planes = std::move(planes),
                             spans = std::move(spans)] {
                                const auto k = static_cast<size_t>(index);
                                if (!work->IsCurrent(index, ticket) || viewData[k].key != key)
                                    return;
                                ViewData& p = previewData[k];
                                p = ViewData();
                                p.Reset(coarseKey, entries);
                                for (size_t j = 0; j < wanted.size(); ++j)
                                    p.Store(wanted[j], planes[j], spans[j]);
                                ShowView(index);
                                PictureBox* const views[] = {pictureXY, pictureXZ, pictureYZ};
                                views[k]->update();
                                pctHistogram->update();
                            },
                            Qt::QueuedConnection);
                    }
                    std::vector<ImageReader::ImageSlice<unsigned short>> planes;
                    std::vector<ValueSpan> spans;
                    if (!project(*fine, key, missing, planes, spans))
                        return;
                    QMetaObject::invokeMethod(
                        this,
                        [this, index, key, missing, ticket, planes = std::move(planes), spans = std::move(spans)] {
                            const auto k = static_cast<size_t>(index);
                            ViewData& target = viewData[k];
                            if (!work->IsCurrent(index, ticket) || target.key != key)
                                return;
                            flights[k].active = false;
                            for (size_t j = 0; j < missing.size(); ++j)
                                target.Store(missing[j], planes[j], spans[j]);
                            ShowView(index);
                            PictureBox* const views[] = {pictureXY, pictureXZ, pictureYZ};
                            views[k]->update();
                            pctHistogram->update();
                            if (player)
                                player->ViewArrived();
                            // Values the readouts could not read without waiting are at hand now.
                            if (valuePending) {
                                ShowCursorValue();
                                UpdateStatus();
                            }
                        },
                        Qt::QueuedConnection);
                }, index == 0);
            }
            // Meanwhile the view shows the other level, or keeps its old picture when that
            // showed the same axes of this image.
            const ViewKey& shown = shownKeys[i];
            if (usablePreview)
                colour(preview);
            else if (shown.xdim != xdim || shown.ydim != ydim || shown.cd != cd || shown.image != imageSerial)
                show(nullptr, 0, 0, ViewKey());
            if (!progressTimer->isActive())
                progressTimer->start();
            boxes[i]->update();
            return;
        }
    }
    colour(vd);
    NoteImageProblems(false);
}

int formImageViewer::LevelCount() const
{
    return model->Session().LevelCount();
}

ImageReader::ImageBase<unsigned short>& formImageViewer::LevelImage(int level)
{
    return model->Session().Level(level);
}

int formImageViewer::ViewLevel(int index)
{
    const int levels = LevelCount();
    if (levels < 2 || !image)
        return 0;
    const auto [xdim, ydim] = viewDims(CurrentAxes(), index);
    // Screen pixels are device pixels: a high-density screen shows a finer level.
    const std::vector<double> zooms = properties.GetPixelZooms();
    const double dpr = pictureXY->devicePixelRatioF();
    const auto zoom = [&](int d) { return d >= 0 && d < static_cast<int>(zooms.size()) ? zooms[static_cast<size_t>(d)] * dpr : dpr; };
    return model->Session().MatchingLevel(xdim, ydim, zoom(xdim), zoom(ydim));
}

void formImageViewer::RefreshLevels()
{
    if (!image || LevelCount() < 2)
        return;
    PictureBox* const boxes[] = {pictureXY, pictureXZ, pictureYZ};
    for (int index = 0; index < 3; ++index) {
        const ViewKey& k = viewData[static_cast<size_t>(index)].key;
        if (k.xdim < 0 || k.image != imageSerial || ViewLevel(index) == k.level)
            continue;
        ShowView(index);
        boxes[index]->update();
    }
}

void formImageViewer::ShowCursorValue()
{
    // The real value under the cursor, read afresh: a plane that cannot be read says so
    // rather than leaving the previous value up.
    if (!image || !reader || image->GetSize().size() < 2)
        return;
    const std::optional<double> value = RealValueAt(curslice);
    lblPixelValue->setText(value          ? QString::fromStdString(ImageReader::FormatValue(*value, reader->GetSampleType()))
                           : valuePending ? QStringLiteral("\u2026")
                                          : QStringLiteral("missing"));
}

bool formImageViewer::ReadsMayWait() const
{
    return model->Session().ReadsMayWait();
}

void formImageViewer::NoteImageProblems(bool refusedView)
{
    if (!image)
        return;
    // A server that keeps failing is named once; its planes show black meanwhile.
    const std::string trouble = reader ? reader->GetTrouble() : std::string();
    if (!trouble.empty() && !troubleReported) {
        troubleReported = true;
        statusBar()->showMessage(QString::fromStdString(trouble));
        return;
    }
    if ((refusedView || image->GetRefusedCount() > 0) && !refusedReported) {
        refusedReported = true;
        statusBar()->showMessage(tr("Not computed: a plane or projection of this image is larger than the "
                                    "memory budget (%1 MiB).")
                                     .arg(static_cast<qulonglong>(image->GetBudget() >> 20)));
    } else if (image->GetFailureCount() > 0 && !missingReported) {
        missingReported = true;
        statusBar()->showMessage(tr("Some planes of this image could not be read; they are shown black."));
    }
}

void formImageViewer::SetUpViewWork()
{
    model->autoRefresh = false;
    progressTimer = new QTimer(this);
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this, [this] {
        if (!work->IsBusy()) {
            progressTimer->stop();
            if (progressShown)
                statusBar()->clearMessage();
            progressShown = false;
            return;
        }
        // Short work finishes before anyone would read a progress note.
        if (work->BusySeconds() < 0.5)
            return;
        progressShown = true;
        statusBar()->showMessage(
            tr("Computing views: %1%  (Esc cancels)").arg(static_cast<int>(100.0 * work->Progress())));
    });
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(cancel, &QShortcut::activated, this, [this] {
        if (!work->IsBusy())
            return;
        work->CancelAll();
        progressTimer->stop();
        progressShown = false;
        statusBar()->showMessage(tr("Cancelled."), 3000);
    });
}

void formImageViewer::StopViewWork()
{
    if (!work)
        return;
    work->CancelAll();
    work->Wait();
    for (size_t i = 0; i < viewData.size(); ++i) {
        viewData[i] = ViewData();
        previewData[i] = ViewData();
        flights[i] = Flight();
        shownKeys[i] = ViewKey();
    }
    remoteValues.clear();
    remoteAsked.clear();
    cursorProfileData = CursorProfileData();
    blockRequested = {};
    histogramCount = HistogramCount();
}

void formImageViewer::ApplyCacheBudget()
{
    model->Session().ApplyBudget(CacheBudgetBytes());
}

void formImageViewer::WaitForViews()
{
    if (!work)
        return;
    // A delivered result can ask for more (a channel enabled meanwhile): repeat until quiet.
    // Jobs asked for while results were delivered may already be done, their results posted
    // but not delivered: the count of finished jobs tells.
    for (int round = 0; round < 64; ++round) {
        work->Wait();
        const int done = work->CompletedCount();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (!work->IsBusy() && work->CompletedCount() == done)
            break;
    }
}

RGBABuffer formImageViewer::RefreshPicture(int xdim, int ydim)
{
    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    ImageReader::Vector pv;
    for (int i = 0; i < n; ++i)
        pv.push_back(i == xdim || i == ydim || IsProjected(i) ? -1 : curslice[i]);
    const int w = size[xdim];
    const int h = size[ydim];

    const int cd = ChannelDimension();
    if (cd < 0)
        return globalchannel->RenderToRGBA(image->GetMaximumProjection(xdim, ydim, pv));

    if (cd >= n)
        return NewBlackRGBA(w, h);
    if (size[cd] < 10) {
        // One pass over the output for all channels instead of a full picture per channel.
        std::vector<ChannelRenderer::Layer> layers;
        for (int c = 0; c < size[cd] && c < static_cast<int>(channels->size()); ++c) {
            ImageChannel& channel = *(*channels)[static_cast<size_t>(c)];
            if (!channel.m_enabled)
                continue;
            pv[cd] = c;
            layers.emplace_back(&channel, image->GetMaximumProjection(xdim, ydim, pv));
        }
        return ChannelRenderer::Composite(layers, w, h);
    }

    double p1 = 0, w1 = 0, p2 = 0, w2 = 0;
    if (!ReadSpectrumCalibration(p1, w1, p2, w2))
        return NewBlackRGBA(w, h);
    return RenderSpectrum(*image, xdim, ydim, cd, curslice, p1, w1, p2, w2, *globalchannel, tools->FileWavelengths());
}

bool formImageViewer::ReadSpectrumCalibration(double& p1, double& w1, double& p2, double& w2) const
{
    // Equal reference positions would make the calibration divide by zero, so they count as
    // unusable just like text that is not a number.
    return parseNumber(textSpectrumPos1->text(), p1) && parseNumber(textSpectrumWavelength1->text(), w1) &&
           parseNumber(textSpectrumPos2->text(), p2) && parseNumber(textSpectrumWavelength2->text(), w2) && p1 != p2;
}

RGBABuffer formImageViewer::RenderSpectrum(ImageReader::ImageBase<unsigned short>& source, int xdim, int ydim, int cd,
                                           const ImageReader::Vector& cursor, double p1, double w1, double p2,
                                           double w2, ImageChannel& global, const std::vector<double>& fileNm)
{
    const ImageReader::Vector size = source.GetSize();
    RGBABuffer spectral = RenderTrueColourSpectrum(source, xdim, ydim, cd, cursor, SpectrumCalibration{p1, w1, p2, w2, fileNm}, global);
    return spectral ? std::move(spectral) : NewBlackRGBA(size[xdim], size[ydim]);
}

void formImageViewer::PaintPicture(const QImage& bmp, const ImageReader::Vector& delta,
                                   const ImageReader::Vector& dims, PictureBox* pct, QPainter& e)
{
    const int n = static_cast<int>(properties.m_pixelsize.size());
    if (bmp.isNull() || dims[0] < 0 || dims[1] < 0 || dims[0] >= n || dims[1] >= n) {
        e.fillRect(pct->rect(), Qt::black);
        return;
    }
    // A side view's depth has its own zoom (WindowTools::ViewZooms).
    const auto [zoomX, zoomY] = tools->ViewZooms(pct == pictureXZ ? 1 : pct == pictureYZ ? 2 : 0);
    const float zx = static_cast<float>(zoomX);
    const float zy = static_cast<float>(zoomY);
    const float left = static_cast<float>(delta[0]);
    const float top = static_cast<float>(delta[1]);
    // A picture of a coarser level covers the same place as the full-resolution one.
    const ImageReader::Vector size = image->GetSize();
    const float width = static_cast<float>(size[dims[0]]) * zx;
    const float height = static_cast<float>(size[dims[1]]) * zy;

    e.setRenderHint(QPainter::SmoothPixmapTransform, false);
    e.setRenderHint(QPainter::Antialiasing, false);
    drawScaled(e, bmp, QRectF(left, top, width, height), pct->rect());

    e.setPen(QPen(QColor(255, 255, 255, 64), 1));
    const float cy = top + static_cast<float>(curslice[dims[1]]) * zy;
    const float cx = left + static_cast<float>(curslice[dims[0]]) * zx;
    drawLine(e, QPointF(left, cy), QPointF(left + width, cy), pct->rect());
    drawLine(e, QPointF(cx, top), QPointF(cx, top + height), pct->rect());

    if (pct != pictureXY)
        return;
    const auto screen = [&](const ImageReader::Vector& p) {
        return ImageReader::Vector(
            SaturatingTruncate(left + static_cast<float>(p[dims[0]]) * zx, 0),
            SaturatingTruncate(top + static_cast<float>(p[dims[1]]) * zy, 0));
    };
    if (meastype == 2 && profile &&
        (measstart[dims[0]] != measend[dims[0]] || measstart[dims[1]] != measend[dims[1]])) {
        profile->Render(e, screen(measstart), screen(measend), true);
    } else if (meastype == 1 && histogram && measstart[dims[0]] < measend[dims[0]] &&
               measstart[dims[1]] < measend[dims[1]]) {
        const ImageReader::Vector corner = screen(measstart);
        histogram->Render(e, corner[0], corner[1]);
    }
}

void formImageViewer::pictureXY_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.x < 0 || a.y < 0)
        return;
    PaintPicture(GDIImageXY, ImageReader::Vector(imagedelta[0], imagedelta[1]), ImageReader::Vector(a.x, a.y),
                 pictureXY, e);
    PaintScaleBar(e);
    if (player)
        player->PaintViewStamp(e);
}

void formImageViewer::pictureXZ_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.x < 0 || a.xz < 0)
        return;
    PaintPicture(GDIImageXZ, ImageReader::Vector(imagedelta[0], 0), ImageReader::Vector(a.x, a.xz), pictureXZ, e);
}

void formImageViewer::pictureYZ_Paint(QPainter& e)
{
    const ViewAxes a = CurrentAxes();
    if (!image || a.yz < 0 || a.y < 0)
        return;
    PaintPicture(GDIImageYZ, ImageReader::Vector(0, imagedelta[1]), ImageReader::Vector(a.yz, a.y), pictureYZ, e);
}

void formImageViewer::UpdateLayout()
{
    // The tracks follow the table and the image, not the zoom (WindowTools_Layout.cpp).
    if (tools)
        tools->LayOutTable();
}

void formImageViewer::RepaintOthers(int mask)
{
    if (!(mask & ViewXY))
        pictureXY->update();
    if (!(mask & ViewXZ))
        pictureXZ->update();
    if (!(mask & ViewYZ))
        pictureYZ->update();
}

ViewKey formImageViewer::CurrentViewKey(int xdim, int ydim, int level) const
{
    ViewState state;
    state.channelDim = ChannelDimension();
    state.cursor = curslice;
    state.projection = comboProj->currentIndex() == 1 ? ProjectionMode::Max : ProjectionMode::None;
    for (const QCheckBox* box : checkDimProj)
        state.projected.push_back(box->isChecked());
    return MakeViewKeyForAxes(state, xdim, ydim, imageSerial, levelSizes, level);
}

} // namespace ImageViewer
