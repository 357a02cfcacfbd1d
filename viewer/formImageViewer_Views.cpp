// The three orthogonal views: bringing their pictures up to date through the model and
// taking them back as they arrive (PictureView paints them), and sizing the side views.
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
#include "PictureBox.h"
#include "TablePanel.h"
#include "PlayerPanel.h"
#include "OpenDefaults.h"
#include "WindowPoster.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

bool parseNumber(const QString& text, double& value)
{
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

} // namespace

formImageViewerInternals::formImageViewerInternals(Viewer& model)
    : reader(model.Session().reader), levelSizes(model.Session().levelSizes), work(model.WorkPtr()),
      inlineLimitBytes(model.inlineLimitBytes), imageSerial(model.Session().serial)
{
}

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
    ShowCursorValue();

    // The model plans, reads and colours the views from the state the controls show; its
    // pictures and what else changed come back through ModelChanged.
    refreshing = true;
    refreshMask = mask;
    const bool colouring = comboDimC->currentIndex() >= 0 && SyncModel();
    model->devicePixelRatio = pictureXY->devicePixelRatioF();
    QImage* const bitmaps[] = {&GDIImageXY, &GDIImageXZ, &GDIImageYZ};
    PictureBox* const boxes[] = {pictureXY, pictureXZ, pictureYZ};
    const int drawn = colouring ? model->SubmitViews(mask) : 0;
    for (int index = 0; index < kViewCount; ++index) {
        if (!(mask & (1 << index)))
            continue;
        if (drawn & (1 << index))
            ++recomputeCount[static_cast<size_t>(index)];
        if (!colouring)
            *bitmaps[index] = QImage();
        boxes[index]->repaint();
    }
    refreshing = false;
    refreshMask = 0;
    if (work->IsBusy() && !progressTimer->isActive())
        progressTimer->start();
    pctHistogram->update();
}

void formImageViewer::ModelChanged(const ChangeSet& change)
{
    if (change.Has(ChangeDisplay) && channels && globalchannel) {
        // Autoscaling widened a range as the model coloured a view: the controls show it.
        const DisplayState& d = model->Display();
        for (size_t k = 0; k < channels->size() && k < d.channels.size(); ++k) {
            (*channels)[k]->m_min = d.channels[k].min;
            (*channels)[k]->m_max = d.channels[k].max;
        }
        globalchannel->m_min = d.global.min;
        globalchannel->m_max = d.global.max;
    }
    // A setter moved the cursor or changed the projected set (a control, the mouse): the
    // window follows, once the sync under way is done. A whole state set elsewhere (a panel's
    // regions) may carry a cursor older than the window's: that one is not followed.
    const unsigned own = ChangeCursor | ChangeProjection;
    if (change.Has(own) && !(change.what & ~own) && image && !refreshing && syncing != Sync::Rest) {
        if (syncing == Sync::Own) {
            followPending = true;
            followPendingMask |= change.views;
        } else {
            FollowModel(change.views);
        }
    } else if (change.Has(ChangeCursor)) {
        // The cursor lines move in every view (those being recomputed repaint anyway), and
        // the position rows and readouts follow.
        RepaintOthers(refreshMask);
        UpdateLocation();
    }
    if (!change.Has(ChangeViewReady | ChangePictureDropped | ChangeImage))
        return;
    // A new image drops every picture of the old one.
    const int views = change.Has(ChangeImage) ? ViewAll : change.views;
    QImage* const bitmaps[] = {&GDIImageXY, &GDIImageXZ, &GDIImageYZ};
    PictureBox* const boxes[] = {pictureXY, pictureXZ, pictureYZ};
    for (int index = 0; index < kViewCount; ++index) {
        if (!(views & (1 << index)))
            continue;
        // The bitmap wraps the model's picture, which stays until the next one of this view.
        const ViewPicture& p = model->Record(index).picture;
        *bitmaps[index] = p.IsNull() ? QImage()
                                     : QImage(p.pixels.get(), p.width, p.height, 4 * static_cast<qsizetype>(p.width),
                                              QImage::Format_RGB32);
        // A refresh repaints its own views once they are all coloured: marking them here
        // too would paint them twice.
        if (!(refreshing && (refreshMask & (1 << index))))
            boxes[index]->update();
    }
    if (!image || !change.Has(ChangeViewReady))
        return;
    NoteImageProblems(model->refusedView);
    if (refreshing)
        return;
    // A picture of the worker's arrived.
    pctHistogram->update();
    if (player)
        player->ViewArrived();
    // Values the readouts could not read without waiting may be at hand now.
    if (valuePending) {
        ShowCursorValue();
        UpdateStatus();
    }
}

int formImageViewer::LevelCount() const
{
    return model->Session().LevelCount();
}

int formImageViewer::ViewLevel(int index)
{
    if (LevelCount() < 2 || !image)
        return 0;
    // Screen pixels are device pixels: a high-density screen shows a finer level.
    model->devicePixelRatio = pictureXY->devicePixelRatioF();
    SyncModel();
    return model->ViewLevel(index);
}

void formImageViewer::RefreshLevels()
{
    if (!image || LevelCount() < 2)
        return;
    for (int index = 0; index < kViewCount; ++index) {
        const ViewKey& k = model->Record(index).data.key;
        if (k.xdim < 0 || k.image != imageSerial || ViewLevel(index) == k.level)
            continue;
        model->Submit(model->Plan(index));
    }
    if (work->IsBusy() && !progressTimer->isActive())
        progressTimer->start();
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
    // The window says which views to bring up to date (RefreshPictures); the model's worker
    // results come back through the window's event loop.
    model->autoRefresh = false;
    model->SetPoster(std::make_shared<WindowPoster>(this));
    model->AddListener([this](const ChangeSet& change) { ModelChanged(change); });
    // A bitmap copied elsewhere (a test's "before", a clipboard copy) must not change under
    // its holder: only a picture nobody else refers to is written over.
    model->mayReusePicture = [this](int index) {
        QImage* const bitmaps[] = {&GDIImageXY, &GDIImageXZ, &GDIImageYZ};
        QImage& bmp = *bitmaps[index];
        if (!bmp.isDetached())
            return false;
        bmp = QImage();
        return true;
    };
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
    model->ClearViews();
    model->refusedView = false;
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
    // The model's results and the window's own (readouts, profile) both reach the window
    // through its event loop, which the model's poster drains.
    model->Wait();
}

bool formImageViewer::ReadSpectrumCalibration(double& p1, double& w1, double& p2, double& w2) const
{
    // Equal reference positions would make the calibration divide by zero, so they count as
    // unusable just like text that is not a number.
    return parseNumber(textSpectrumPos1->text(), p1) && parseNumber(textSpectrumWavelength1->text(), w1) &&
           parseNumber(textSpectrumPos2->text(), p2) && parseNumber(textSpectrumWavelength2->text(), w2) && p1 != p2;
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
