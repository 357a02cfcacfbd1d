// Construction, loading an image, the per-dimension rows and the File and Help menus.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "BusyCursor.h"
#include "VolumePanel.h"
#include "Diagnostics.h"
#include "OpenDefaults.h"
#include "OpenImage.h"
#include "OpenJob.h"
#include "Parallel.h"
#include "PictureBox.h"
#include "CacheBudget.h"
#include "PlayerPanel.h"
#include "RegionsPanel.h"
#include "WindowTools.h"
#include "formImageViewer.h"

#ifndef LUMORA_VERSION
#define LUMORA_VERSION "0.0.0"
#endif

namespace ImageViewer {

namespace {

ChannelPtr makeChannel(int r, int g, int b, bool autoscaling)
{
    return std::make_shared<ImageChannel>(65535, 0, 0, r, g, b, autoscaling);
}

// The title of the open image without any note of a failed open.
QString imageTitle(const QWidget& w, bool hasImage)
{
    return hasImage ? w.property("imageTitle").toString() : QStringLiteral("Lumora");
}

std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// A web address as the title shows it: without a query, which may carry an access token.
QString shownLocation(const QString& path)
{
    if (!formImageViewer::IsWebAddress(path))
        return path;
    return QUrl(path).toString(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
}

} // namespace

formImageViewer::formImageViewer(const QStringList& args, QWidget* parent)
    : QMainWindow(parent), formImageViewerInternals(*model)
{
    InitializeComponent();
    tools = std::make_unique<WindowTools>(*this);
    SetUpViewWork();
    player = std::make_unique<PlayerPanel>(*this);
    regionsPanel = std::make_unique<RegionsPanel>(*this);
    volume3D = std::make_unique<VolumePanel>(*this);
    SetUpOpening();
    comboProj->setCurrentIndex(0);
    // Readers may speak from worker threads; the note is shown on the window's thread, in a
    // box that does not stop the program.
    model->Diagnostics()->Set([this](const std::string& text) {
        QMetaObject::invokeMethod(
            this,
            [this, message = QString::fromStdString(text)] {
                auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Lumora"), message, QMessageBox::Ok, this);
                box->setObjectName(QStringLiteral("messageDiagnostic"));
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            },
            Qt::AutoConnection);
    });
    if (!args.isEmpty())
        StartOpen(args.front());
}

formImageViewer::~formImageViewer()
{
    if (currentOpen)
        currentOpen->stop.RequestStop();
    {
        // An open still under way on its thread posts nothing to a window that is gone.
        const std::lock_guard<std::mutex> lock(openGuard->mutex);
        openGuard->alive = false;
    }
    // Nothing may report to a window that is going, also not the worker's last read.
    model->Diagnostics()->Detach();
    // Work in progress reads through the cache, and the cache through the reader.
    StopViewWork();
    model->Session().Close();
}

void formImageViewer::formImageViewer_Load() {}
void formImageViewer::formImageViewer_Resize() {}

void formImageViewer::LoadImageW(const QString& path)
{
    StartOpen(path);
    // Callers take a local image as shown once this returns; a server may take its time.
    if (!IsWebAddress(path))
        WaitForOpen();
}

void formImageViewer::StartOpen(const QString& path)
{
    // Nothing that can be slow runs on the window's thread: a server may not answer, a folder
    // may hold 100 000 files, a TIFF 100 000 pages. The reader is built on the process's pool
    // while the window (and the image it shows) stays usable; only the newest open is shown.
    CacheBudgetBytes(); // also the budget the readers check a file's allocations against
    // An earlier failure is old news once the next open starts.
    setWindowTitle(imageTitle(*this, image != nullptr));
    if (currentOpen)
        currentOpen->stop.RequestStop();
    auto job = std::make_shared<OpenJob>();
    job->path = path;
    job->shown = shownLocation(path);
    currentOpen = job;
    ShowOpenProgress();
    std::shared_ptr<OpenGuard> guard = openGuard;
    const bool started = RunInBackground([this, guard, job, sink = model->Diagnostics(),
                                          location = QFile::encodeName(path).toStdString()] {
        std::shared_ptr<ImageReader::OpenedImage> opened;
        {
            const ImageReader::DiagnosticScope diagnostics(sink);
            const ImageReader::StopScope stop(&job->stop);
            const ImageReader::ProgressScope progress(&job->progress);
            opened = std::make_shared<ImageReader::OpenedImage>(ImageReader::OpenImage(location));
        }
        {
            // An open still under way posts nothing to a window that is gone.
            const std::lock_guard<std::mutex> lock(guard->mutex);
            if (guard->alive)
                QMetaObject::invokeMethod(
                    this, [this, job, opened] { FinishOpen(job, std::move(*opened)); }, Qt::QueuedConnection);
        }
        {
            const std::lock_guard<std::mutex> lock(job->mutex);
            job->finished = true;
        }
        job->finishedChanged.notify_all();
    });
    if (!started) {
        currentOpen.reset();
        ShowOpenProgress();
        ReportOpenFailure(job->shown, QStringLiteral("the program is shutting down"));
    }
}

void formImageViewer::FinishOpen(const std::shared_ptr<OpenJob>& job, ImageReader::OpenedImage opened)
{
    // A newer open, or Cancel, has replaced this one: its result is dropped unseen.
    if (job != currentOpen)
        return;
    currentOpen.reset();
    const bool read = opened.reader != nullptr;
    ShowOpened(job->path, std::move(opened));
    ShowOpenProgress();
    if (read && image && job->keepView) {
        // A reload puts the view back where it still fits: the same dimensions, positions
        // clamped to the extents the file has now.
        auto [state, display] = *job->keepView;
        if (state.cursor.size() == image->GetSize().size()) {
            state.Clamp(image->GetSize());
            ApplyViewState(state, display);
        }
    }
}

void formImageViewer::ShowOpened(const QString& path, ImageReader::OpenedImage opened)
{
    if (!opened.reader) {
        ReportOpenFailure(shownLocation(path), QString::fromStdString(opened.error));
        return;
    }
    const QString format = QString::fromStdString(opened.reader->GetFormatName());
    LoadReader(std::move(opened.reader), QStringLiteral("Lumora - ") + shownLocation(path) +
                                             (format.isEmpty() ? QString() : QStringLiteral(" (") + format + QLatin1Char(')')));
    if (image) {
        openedPath = path;
        AddRecentFile(path);
    }
}

void formImageViewer::WaitForOpen()
{
    // The thread posts its result before it says it has finished: once it has, delivering
    // the window's posted calls shows it.
    while (std::shared_ptr<OpenJob> job = currentOpen) {
        {
            std::unique_lock<std::mutex> lock(job->mutex);
            job->finishedChanged.wait(lock, [&] { return job->finished; });
        }
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (currentOpen == job)
            break; // not delivered (cannot happen while the window lives); never spin
    }
}

void formImageViewer::LoadReader(std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> newReader,
                                 const QString& title)
{
    const BusyCursor busy;
    if (!newReader || newReader->GetSize().size() == 0) {
        ReportOpenFailure(title, QStringLiteral("the image has no dimensions"));
        return;
    }
    if (image)
        UnloadImage();
    comboProj->setCurrentIndex(0);
    setWindowTitle(title);
    setProperty("imageTitle", title);
    // A remote reader keeps downloaded chunks: their share comes out of the same budget,
    // which the coarser levels of a pyramid share too.
    model->Session().Open(std::move(newReader), CacheBudgetBytes());
    properties = ImageProperties(*reader);
    missingReported = false;
    troubleReported = false;
    refusedReported = false;

    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    curslice = InitialCursor(size, reader->GetInitialPosition());
    measstart = curslice;
    measend = curslice;
    imagedelta = ImageReader::Vector(0, 0);
    imagedeltastart = ImageReader::Vector(0, 0);
    histdim = -1;

    const bool expand = checkAutoExpand->isChecked();
    channels = std::make_shared<ChannelList>();
    for (const QColor& c : DefaultChannelColors())
        channels->push_back(makeChannel(c.red(), c.green(), c.blue(), expand));
    globalchannel = makeChannel(255, 255, 255, expand);
    SeedChannels(expand);

    // Fill the lists quietly: a list that gets its first item selects it on its own, and the
    // handlers must run for the initial choices below, not for the filling.
    QComboBox* const lists[] = {comboDimX, comboDimY, comboDimXZ, comboDimYZ, comboDimC, comboDimP};
    int depth = -1;
    int channel = -1;
    {
        const QSignalBlocker bx(comboDimX), by(comboDimY), bxz(comboDimXZ), byz(comboDimYZ), bc(comboDimC),
            bp(comboDimP);
        for (QComboBox* list : lists)
            list->clear();
        comboDimC->addItem(QStringLiteral("(none)"));
        comboDimP->addItem(QStringLiteral("(none)"));
        for (int i = 0; i < n; ++i) {
            const QString name = QString::fromStdString(properties.m_dimname[static_cast<size_t>(i)]);
            for (QComboBox* list : lists)
                list->addItem(name);
            if (name.startsWith(QLatin1Char('z'), Qt::CaseInsensitive))
                depth = i;
            if (name.startsWith(QLatin1Char('w'), Qt::CaseInsensitive) ||
                name.startsWith(QLatin1Char('c'), Qt::CaseInsensitive) ||
                name.startsWith(QLatin1String("lambda"), Qt::CaseInsensitive))
                channel = i;
        }
        for (QComboBox* list : lists)
            list->setCurrentIndex(-1);
    }

    BuildDimensionRows(n);

    comboDimX->setCurrentIndex(0);
    if (n >= 2)
        comboDimY->setCurrentIndex(1);
    if (depth >= 0) {
        comboDimXZ->setCurrentIndex(depth);
        comboDimYZ->setCurrentIndex(depth);
    } else if (n > 2) {
        comboDimXZ->setCurrentIndex(2);
        comboDimYZ->setCurrentIndex(2);
    }
    // The file's own channel axis, when it names one, wins over a guess from the names.
    const int hinted = reader->GetChannelHintDim();
    if (hinted >= 0 && hinted < n)
        channel = hinted;
    comboDimC->setCurrentIndex(channel + 1);
    comboDimP->setCurrentIndex(0);
    UpdateLocation();
    fitted = false;
    zoomAnchor.valid = false;
    if (fitAtLoad)
        FitToWindow();
    UpdateStatus();
}

void formImageViewer::SeedChannels(bool expand)
{
    const std::vector<ImageReader::ChannelHint> hints = reader->GetChannelHints();
    while (channels->size() < hints.size())
        channels->push_back(makeChannel(255, 255, 255, expand));
    std::vector<ChannelDisplay> seeded(channels->size());
    for (size_t k = 0; k < channels->size(); ++k)
        seeded[k] = ChannelDisplayOf(*(*channels)[k]);
    ApplyChannelHints(hints, reader->GetValueMap(), seeded);
    for (size_t k = 0; k < seeded.size(); ++k)
        AssignChannel(*(*channels)[k], seeded[k]);
}

void formImageViewer::UnloadImage()
{
    for (int i = static_cast<int>(trackDim.size()) - 1; i >= 0; --i) {
        const auto k = static_cast<size_t>(i);
        delete textDimName[k];
        delete textDimNum[k];
        delete trackDim[k];
        delete checkDimProj[k];
    }
    textDimName.clear();
    textDimNum.clear();
    trackDim.clear();
    checkDimProj.clear();
    AdjustLocationContentSize();
    StopViewWork();
    model->Session().Close();
    curslice = ImageReader::Vector();
    imagedelta = ImageReader::Vector();
    imagedeltastart = ImageReader::Vector();
    // Nothing the previous image showed may stand next to the new one.
    histogram.reset();
    profile.reset();
    ClearReadouts();
}

void formImageViewer::BuildDimensionRows(int n)
{
    const ImageReader::Vector size = image->GetSize();
    textDimName.assign(static_cast<size_t>(n), nullptr);
    textDimNum.assign(static_cast<size_t>(n), nullptr);
    trackDim.assign(static_cast<size_t>(n), nullptr);
    checkDimProj.assign(static_cast<size_t>(n), nullptr);
    auto* grid = static_cast<QGridLayout*>(panelLocationContent->layout());
    // Name boxes fit "lambda", eight characters and every name of this image; position boxes
    // five digits.
    const QFontMetrics fm = panelLocationContent->fontMetrics();
    int nameWidth = std::max(fm.horizontalAdvance(QStringLiteral("lambda")), 8 * fm.averageCharWidth());
    for (int i = 0; i < n; ++i)
        nameWidth = std::max(nameWidth, fm.horizontalAdvance(QString::fromStdString(reader->GetDimName(static_cast<unsigned int>(i)))));
    nameWidth = std::min(nameWidth + 12, 24 * fm.averageCharWidth());
    const int numWidth = std::max(40, fm.horizontalAdvance(QStringLiteral("00000")) + 12);
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<size_t>(i);
        const QString index = QString::number(i);

        auto* name = new QLineEdit(QString::fromStdString(reader->GetDimName(static_cast<unsigned int>(i))),
                                   panelLocationContent);
        name->setObjectName(QStringLiteral("textDimName") + index);
        name->setFixedWidth(nameWidth);
        name->setReadOnly(true);
        name->setCursorPosition(0);
        textDimName[k] = name;

        auto* num = new QLineEdit(panelLocationContent);
        num->setObjectName(QStringLiteral("textDimNum") + index);
        num->setFixedWidth(numWidth);
        num->setProperty("tag", i);
        connect(num, &QLineEdit::returnPressed, this, [this, num] { textDimNum_KeyPress(num); });
        textDimNum[k] = num;

        auto* track = new QSlider(Qt::Horizontal, panelLocationContent);
        track->setObjectName(QStringLiteral("trackDim") + index);
        track->setRange(0, size[i] - 1);
        // The interval steps Page Up / Down; drawn ticks would hang into the next row.
        track->setTickInterval(size[i] / 10);
        track->setPageStep(std::max(1, size[i] / 10));
        track->setTickPosition(QSlider::NoTicks);
        track->setMinimumWidth(48);
        track->setProperty("tag", i);
        connect(track, &QSlider::valueChanged, this, [this, track] { trackDim_Scroll(track); });
        trackDim[k] = track;

        auto* proj = new QCheckBox(panelLocationContent);
        proj->setObjectName(QStringLiteral("checkDimProj") + index);
        proj->setProperty("tag", i);
        proj->setVisible(false);
        connect(proj, &QCheckBox::toggled, this, [this, proj] { checkDimProj_CheckChanged(proj); });
        checkDimProj[k] = proj;

        grid->addWidget(name, i + 1, 0);
        grid->addWidget(num, i + 1, 1);
        grid->addWidget(track, i + 1, 2);
        grid->addWidget(proj, i + 1, 3);
        for (QWidget* w : {static_cast<QWidget*>(name), static_cast<QWidget*>(num), static_cast<QWidget*>(track)})
            w->show();
        proj->setVisible(comboProj->currentIndex() == 1);
    }
    if (player)
        player->RowsBuilt(n);
    AdjustLocationContentSize();
}

void formImageViewer::AdjustLocationContentSize()
{
    // Rows pack at the top; the scroll area scrolls once they need more room than it has.
    auto* grid = static_cast<QGridLayout*>(panelLocationContent->layout());
    for (int r = 0; r < grid->rowCount(); ++r)
        grid->setRowStretch(r, 0);
    grid->setRowStretch(static_cast<int>(trackDim.size()) + 1, 1);
    grid->invalidate();
}

void formImageViewer::ReportOpenFailure(const QString& path, const QString& reason)
{
    // Every loading error reaches the user here: a note in the title bar and a message box.
    // Whatever was open stays open.
    setWindowTitle(QStringLiteral("%1 - cannot open %2: %3").arg(imageTitle(*this, image != nullptr), path, reason));
    lastOpenError = reason;
    // Not modal for the program: the window keeps answering, and tests find the box by name.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Cannot open image"),
                                QStringLiteral("Cannot open %1:\n%2").arg(QDir::toNativeSeparators(path), reason),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageOpenError"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

namespace {

bool holdsTiffs(const QString& folder)
{
    const QDir dir(folder);
    return dir.exists() && !dir.entryList({QStringLiteral("*.tif"), QStringLiteral("*.tiff")}, QDir::Files).isEmpty();
}

// The open dialog, which also takes a folder that is one image (a Zarr folder) as its choice:
// chosen and then opened, or typed, rather than entered.
class ImageFileDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;
    QString folder;

    // Takes `entered` when it is one image; for the dialog's own signal of a folder entered.
    void TakeIfImage(const QString& entered)
    {
        if (ImageReader::IsImageFolder(nativePath(entered))) {
            folder = entered;
            QDialog::accept();
        }
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        // A folder of TIFF files chosen with Open (not entered) opens as its series.
        if (files.size() == 1 && (ImageReader::IsImageFolder(nativePath(files.front())) || holdsTiffs(files.front()))) {
            folder = files.front();
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

} // namespace

void formImageViewer::openToolStripMenuItem_Click()
{
    ImageFileDialog dialog(this, QStringLiteral("Open"), OpenFolder(), OpenFilters().join(QStringLiteral(";;")));
    dialog.setObjectName(QStringLiteral("dialogOpen"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The dialog's own widgets report the folder entered: entering a Zarr image's folder
    // (a double click on it) chooses it, and its hidden metadata files are listed.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    connect(&dialog, &QFileDialog::directoryEntered, &dialog, [&](const QString& entered) { dialog.TakeIfImage(entered); });
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!dialog.folder.isEmpty())
        StartOpen(dialog.folder);
    else if (!dialog.selectedFiles().isEmpty())
        StartOpen(dialog.selectedFiles().front());
}

bool formImageViewer::IsWebAddress(const QString& text)
{
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

void formImageViewer::openUrlToolStripMenuItem_Click()
{
    // Not modal for the program: a slow server never stops the window, and tests find the
    // dialog by name.
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("dialogOpenUrl"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Open URL"));
    dialog->setLabelText(QStringLiteral("Address of a Zarr image (http:// or https://):"));
    dialog->setTextValue(QSettings().value(QStringLiteral("lastUrl")).toString());
    dialog->resize(std::max(dialog->width(), 560), dialog->height());
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& value) {
        const QString url = value.trimmed();
        if (url.isEmpty())
            return;
        if (!IsWebAddress(url)) {
            ReportOpenFailure(url, QStringLiteral("an address starts with http:// or https://"));
            return;
        }
        QSettings().setValue(QStringLiteral("lastUrl"), url);
        StartOpen(url);
    });
    dialog->open();
}

void formImageViewer::fileToolStripMenuItem_DropDownOpening()
{
    propertiesToolStripMenuItem->setEnabled(image != nullptr);
    if (auto* reload = findChild<QAction*>(QStringLiteral("reloadToolStripMenuItem")))
        reload->setEnabled(image != nullptr);
}

void formImageViewer::exitToolStripMenuItem_Click()
{
    close();
    QCoreApplication::quit();
}

void formImageViewer::infoToolStripMenuItem_Click()
{
    QMessageBox::about(this, QStringLiteral("About Lumora"),
                       QStringLiteral("<b>Lumora</b> %1<p>A fast viewer for n-dimensional microscopy images: "
                                      "orthogonal slices, channels, spectra, histograms and profiles.</p>"
                                      "<p>Built with Qt %2, libics, and Korvel over libtiff.</p>")
                           .arg(QStringLiteral(LUMORA_VERSION), QString::fromLatin1(qVersion())));
}

void formImageViewer::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().front().isLocalFile())
        event->acceptProposedAction();
}

void formImageViewer::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (!mime->hasUrls() || mime->urls().isEmpty() || !mime->urls().front().isLocalFile())
        return;
    event->acceptProposedAction();
    StartOpen(mime->urls().front().toLocalFile());
}

ViewAxes formImageViewer::CurrentAxes() const
{
    return ViewAxes{comboDimX->currentIndex(), comboDimY->currentIndex(), comboDimXZ->currentIndex(),
                    comboDimYZ->currentIndex()};
}

int formImageViewer::ChannelDimension() const
{
    return comboDimC->currentIndex() - 1;
}

bool formImageViewer::IsSpectral() const
{
    const int cd = ChannelDimension();
    if (!image || cd < 0)
        return false;
    const ImageReader::Vector size = image->GetSize();
    return cd < static_cast<int>(size.size()) && size[cd] >= 10;
}

bool formImageViewer::IsProjected(int d) const
{
    return comboProj->currentIndex() == 1 && d >= 0 && d < static_cast<int>(checkDimProj.size()) &&
           checkDimProj[static_cast<size_t>(d)]->isChecked();
}

int formImageViewer::DimensionCount() const
{
    return image ? static_cast<int>(image->GetSize().size()) : 0;
}

} // namespace ImageViewer
