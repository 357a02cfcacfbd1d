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
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalBlocker>
#include <QSlider>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "BusyCursor.h"
#include "Diagnostics.h"
#include "OpenImage.h"
#include "PictureBox.h"
#include "CacheBudget.h"
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

std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

formImageViewer::formImageViewer(const QStringList& args, QWidget* parent) : QMainWindow(parent)
{
    InitializeComponent();
    SetUpViewWork();
    comboProj->setCurrentIndex(0);
    // Readers may speak from worker threads; the note is shown on the window's thread, in a
    // box that does not stop the program.
    ImageReader::SetDiagnosticHandler([this](const std::string& text) {
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
        LoadImageW(args.front());
}

formImageViewer::~formImageViewer()
{
    ImageReader::SetDiagnosticHandler({});
    // Work in progress reads through the cache, and the cache through the reader.
    StopViewWork();
    image.reset();
    reader.reset();
}

void formImageViewer::formImageViewer_Load() {}
void formImageViewer::formImageViewer_Resize() {}

void formImageViewer::LoadImageW(const QString& path)
{
    const BusyCursor busy;
    // The file is opened before anything is torn down: a file that cannot be opened leaves
    // the current image as it was.
    ImageReader::OpenedImage opened = ImageReader::OpenImage(nativePath(path));
    if (!opened.reader) {
        ReportOpenFailure(path, QString::fromStdString(opened.error));
        return;
    }
    const QString format = QString::fromStdString(opened.reader->GetFormatName());
    LoadReader(std::move(opened.reader),
               QStringLiteral("Lumora - ") + path + (format.isEmpty() ? QString() : QStringLiteral(" (") + format + QLatin1Char(')')));
    if (image)
        AddRecentFile(path);
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
    reader = std::move(newReader);
    properties = ImageProperties(*reader);
    // A remote reader keeps downloaded chunks: their share comes out of the same budget.
    const size_t budget = CacheBudgetBytes();
    image = std::make_unique<ImageReader::SliceCache<unsigned short>>(reader.get(), budget - reader->SetMemoryBudget(budget));
    ++imageSerial;
    missingReported = false;
    refusedReported = false;

    const ImageReader::Vector size = image->GetSize();
    const int n = static_cast<int>(size.size());
    curslice = size / 2;
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
    comboDimC->setCurrentIndex(channel + 1);
    comboDimP->setCurrentIndex(0);
    UpdateLocation();
    fitted = false;
    zoomAnchor.valid = false;
    if (fitAtLoad)
        FitToWindow();
    UpdateStatus();
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
    if (image)
        image->Clear();
    image.reset();
    reader.reset();
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
    const QString title = image ? windowTitle() : QStringLiteral("Lumora");
    setWindowTitle(QStringLiteral("%1 - cannot open %2: %3").arg(title, path, reason));
    lastOpenError = reason;
    // Not modal for the program: the window keeps answering, and tests find the box by name.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Cannot open image"),
                                QStringLiteral("Cannot open %1:\n%2").arg(QDir::toNativeSeparators(path), reason),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageOpenError"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void formImageViewer::openToolStripMenuItem_Click()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), OpenFolder(),
                                                      OpenFilters().join(QStringLiteral(";;")));
    if (!file.isEmpty())
        LoadImageW(file);
}

void formImageViewer::fileToolStripMenuItem_DropDownOpening()
{
    propertiesToolStripMenuItem->setEnabled(image != nullptr);
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
    LoadImageW(mime->urls().front().toLocalFile());
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
