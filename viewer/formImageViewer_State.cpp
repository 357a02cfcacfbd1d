// The binding of the window's controls to the model's state, in both directions, and the
// view state files (File > Save view state / Open view state, lumora --state).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSlider>

#include "PictureBox.h"
#include "RegionsPanel.h"
#include "StateJson.h"
#include "WindowTools.h"
#include "formImageViewer.h"

namespace ImageViewer {

namespace {

double number(const QLineEdit* box, double fallback)
{
    bool ok = false;
    double v = QLocale().toDouble(box->text(), &ok);
    if (!ok)
        v = QLocale::c().toDouble(box->text(), &ok);
    return ok ? v : fallback;
}

} // namespace

ViewState formImageViewer::ViewStateFromWindow() const
{
    ViewState s;
    if (!image)
        return s;
    s.axes = CurrentAxes();
    s.channelDim = ChannelDimension() >= 0 ? ChannelDimension() : -1;
    s.profileDim = comboDimP->currentIndex() - 1 >= 0 ? comboDimP->currentIndex() - 1 : -1;
    s.cursor = curslice;
    s.projection = comboProj->currentIndex() == 1 ? ProjectionMode::Max : ProjectionMode::None;
    for (const QCheckBox* box : checkDimProj)
        s.projected.push_back(box->isChecked());
    s.zoom = properties.m_zoom;
    s.pan = imagedelta;
    s.fitted = fitted;
    s.scaleBar = scaleBarToolStripMenuItem->isChecked();
    s.colourBar = tools && tools->colourBarToolStripMenuItem->isChecked();
    const SpectrumCalibration fallback;
    s.spectrum = SpectrumCalibration{number(textSpectrumPos1, fallback.p1), number(textSpectrumWavelength1, fallback.w1),
                                     number(textSpectrumPos2, fallback.p2), number(textSpectrumWavelength2, fallback.w2),
                                     tools ? tools->FileWavelengths() : std::vector<double>()};
    s.measure = MeasureState{meastype, measstart, measend};
    s.regions = regionsPanel ? regionsPanel->Regions() : RegionList();
    s.volume = model->State().volume; // the 3-D view keeps its state in the model
    return s;
}

DisplayState formImageViewer::DisplayFromWindow() const
{
    DisplayState d;
    if (!channels || !globalchannel)
        return d;
    const bool listMode = ChannelDimension() >= 0 && !IsSpectral();
    for (size_t k = 0; k < channels->size(); ++k) {
        const QListWidgetItem* item = listMode && static_cast<int>(k) < listChannels->count()
                                          ? listChannels->item(static_cast<int>(k))
                                          : nullptr;
        d.channels.push_back(ChannelDisplayOf(*(*channels)[k], item ? item->text().toStdString() : std::to_string(k)));
    }
    d.global = ChannelDisplayOf(*globalchannel, "Global");
    d.selected = std::max(0, listChannels->currentRow());
    return d;
}

void formImageViewer::ApplyViewState(const ViewState& s, const DisplayState& d)
{
    if (!image || !s.Validate(image->GetSize()).empty() || !d.Validate().empty())
        return;
    for (size_t k = 0; k < d.channels.size(); ++k) {
        if (k >= channels->size())
            channels->push_back(std::make_shared<ImageChannel>(65535, 0, 0, 255, 255, 255, true));
        AssignChannel(*(*channels)[k], d.channels[k]);
    }
    AssignChannel(*globalchannel, d.global);
    model->SetVolume(s.volume);
    {
        const QSignalBlocker bx(comboDimX), by(comboDimY), bxz(comboDimXZ), byz(comboDimYZ), bc(comboDimC),
            bp(comboDimP), bproj(comboProj);
        comboDimX->setCurrentIndex(s.axes.x);
        comboDimY->setCurrentIndex(s.axes.y);
        comboDimXZ->setCurrentIndex(s.axes.xz);
        comboDimYZ->setCurrentIndex(s.axes.yz);
        comboDimP->setCurrentIndex(s.profileDim + 1);
        comboDimC->setCurrentIndex(s.channelDim + 1);
        comboProj->setCurrentIndex(s.projection == ProjectionMode::Max ? 1 : 0);
        for (size_t k = 0; k < checkDimProj.size(); ++k) {
            const QSignalBlocker b(checkDimProj[k]);
            checkDimProj[k]->setChecked(k < s.projected.size() && s.projected[k]);
            checkDimProj[k]->setVisible(s.projection == ProjectionMode::Max);
        }
        const std::pair<QLineEdit*, double> boxes[] = {{textSpectrumPos1, s.spectrum.p1},
                                                       {textSpectrumWavelength1, s.spectrum.w1},
                                                       {textSpectrumPos2, s.spectrum.p2},
                                                       {textSpectrumWavelength2, s.spectrum.w2}};
        for (const auto& [box, value] : boxes) {
            const QSignalBlocker b(box);
            box->setText(QLocale().toString(value, 'g', 17));
        }
        const QSignalBlocker bs(scaleBarToolStripMenuItem);
        scaleBarToolStripMenuItem->setChecked(s.scaleBar);
        if (tools)
            tools->colourBarToolStripMenuItem->setChecked(s.colourBar);
    }
    curslice = s.cursor;
    meastype = s.measure.type;
    measstart = s.measure.start;
    measend = s.measure.end;
    properties.m_zoom = s.zoom;
    imagedelta = s.pan;
    fitted = s.fitted;
    if (regionsPanel)
        regionsPanel->Adopt(s.regions);
    // The channel list is rebuilt from the channels (and refreshes the views).
    comboDimC_SelectedIndexChanged();
    for (size_t k = 0; k < d.channels.size() && static_cast<int>(k) < listChannels->count(); ++k)
        if (ChannelDimension() >= 0 && !IsSpectral())
            listChannels->item(static_cast<int>(k))->setText(QString::fromStdString(d.channels[k].name));
    if (d.selected < listChannels->count())
        listChannels->setCurrentRow(d.selected);
    UpdateLayout();
    RefreshPictures(ViewAll);
    UpdateLocation();
    for (PictureBox* view : {pictureXY, pictureXZ, pictureYZ, pictureProfile})
        view->update();
}

bool formImageViewer::SyncModel()
{
    if (!image)
        return false;
    model->SetPixelSizes(properties.m_pixelsize);
    ViewState s = ViewStateFromWindow();
    // A calibration that is not usable draws spectra black (equal positions say so).
    double p1 = 0, w1 = 0, p2 = 0, w2 = 0;
    if (!ReadSpectrumCalibration(p1, w1, p2, w2))
        s.spectrum.p2 = s.spectrum.p1;
    // The cursor and the projected set go through the setters that name the views they
    // change (ModelChanged follows them); everything else in one, as no news to the window.
    followPending = false;
    followPendingMask = 0;
    // A model without a valid state for this image yet (just loaded) takes it all at once.
    syncing = Sync::Own;
    if (model->SetCursor(s.cursor))
        for (size_t d = 0; d < s.projected.size() && d < model->State().projected.size(); ++d)
            if (!model->SetProjected(static_cast<int>(d), s.projected[d]))
                break;
    syncing = Sync::Rest;
    const bool ok = model->SetDisplay(DisplayFromWindow()) && model->SetState(s);
    syncing = Sync::None;
    if (followPending && !refreshing)
        FollowModel(followPendingMask);
    return ok;
}

void formImageViewer::EditModel(const std::function<bool(Viewer&)>& set, int redraw)
{
    // Outside callers may have set `curslice` and the like directly: the model hears of the
    // window's state before the edit.
    followed = false;
    followAlso = redraw;
    if (SyncModel())
        set(*model);
    if (!followed && redraw)
        FollowModel(0);
    followAlso = 0;
}

void formImageViewer::FollowModel(int mask)
{
    followed = true;
    const ViewState& s = model->State();
    curslice = s.cursor;
    for (size_t d = 0; d < checkDimProj.size() && d < s.projected.size(); ++d) {
        const QSignalBlocker block(checkDimProj[d]);
        checkDimProj[d]->setChecked(s.projected[d]);
    }
    mask |= followAlso;
    RefreshPictures(mask);
    RepaintOthers(mask);
    UpdateLocation();
}

QString formImageViewer::SaveViewState(const QString& path) const
{
    if (!image)
        return QStringLiteral("no image is open");
    const ImageDescription described{image->GetSize(), properties.m_dimname, properties.m_pixelsize};
    return QString::fromStdString(SaveStateFile(QFile::encodeName(path).toStdString(), ViewStateFromWindow(),
                                                DisplayFromWindow(), described));
}

QString formImageViewer::OpenViewState(const QString& path)
{
    if (!image)
        return QStringLiteral("no image is open");
    const ImageDescription described{image->GetSize(), properties.m_dimname, properties.m_pixelsize};
    ViewState s = ViewStateFromWindow();
    DisplayState d = DisplayFromWindow();
    const std::string why = LoadStateFile(QFile::encodeName(path).toStdString(), described, s, d);
    if (!why.empty())
        return QString::fromStdString(why);
    ApplyViewState(s, d);
    return QString();
}

void formImageViewer::BuildStateMenu(QMenu* file, QAction* before)
{
    saveStateToolStripMenuItem = new QAction(QStringLiteral("Save view &state..."), this);
    saveStateToolStripMenuItem->setObjectName(QStringLiteral("saveStateToolStripMenuItem"));
    openStateToolStripMenuItem = new QAction(QStringLiteral("Open &view state..."), this);
    openStateToolStripMenuItem->setObjectName(QStringLiteral("openStateToolStripMenuItem"));
    file->insertActions(before, {saveStateToolStripMenuItem, openStateToolStripMenuItem});
    const QString filter = QStringLiteral("View state (*.json)");
    connect(saveStateToolStripMenuItem, &QAction::triggered, this, [this, filter] {
        if (!image)
            return;
        QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save view state"), OpenFolder(), filter);
        if (path.isEmpty())
            return;
        if (!path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
            path += QStringLiteral(".json");
        const QString why = SaveViewState(path);
        if (!why.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Save view state"), why);
    });
    connect(openStateToolStripMenuItem, &QAction::triggered, this, [this, filter] {
        if (!image)
            return;
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open view state"), OpenFolder(), filter);
        if (path.isEmpty())
            return;
        const QString why = OpenViewState(path);
        if (!why.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Open view state"), why);
    });
}

} // namespace ImageViewer
