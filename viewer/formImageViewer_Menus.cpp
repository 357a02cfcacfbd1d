// The menu bar (File, Edit, View, Help), the recent-file list, the open dialog's filters and
// the preferences dialog.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include "PictureBox.h"
#include "formImageViewer.h"
#include "formSettings.h"

namespace ImageViewer {

namespace {

constexpr int kRecentFiles = 10;
const char* const kRecentKey = "recentFiles";
const char* const kFolderKey = "lastFolder";

// Shortcuts are not set here: the keyboard table (KeyboardTable.cpp) gives every action its keys.
QAction* newAction(QObject* parent, const char* name, const QString& text)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QAction* separator(QObject* parent, const char* name)
{
    auto* action = new QAction(parent);
    action->setObjectName(QString::fromLatin1(name));
    action->setSeparator(true);
    return action;
}

} // namespace

void formImageViewer::BuildMenus()
{
    fileToolStripMenuItem = new QMenu(QStringLiteral("&File"), menuStrip1);
    fileToolStripMenuItem->setObjectName(QStringLiteral("fileToolStripMenuItem"));
    openToolStripMenuItem = newAction(this, "openToolStripMenuItem", QStringLiteral("&Open..."));
    openUrlToolStripMenuItem = newAction(this, "openUrlToolStripMenuItem", QStringLiteral("Open &URL..."));
    openRecentToolStripMenuItem = new QMenu(QStringLiteral("Open &Recent"), fileToolStripMenuItem);
    openRecentToolStripMenuItem->setObjectName(QStringLiteral("openRecentToolStripMenuItem"));
    toolStripMenuItem2 = separator(this, "toolStripMenuItem2");
    exportViewToolStripMenuItem = newAction(this, "exportViewToolStripMenuItem", QStringLiteral("&Export view..."));
    exportViewsToolStripMenuItem = newAction(this, "exportViewsToolStripMenuItem",
                                             QStringLiteral("Export &all views..."));
    propertiesToolStripMenuItem = newAction(this, "propertiesToolStripMenuItem", QStringLiteral("Image &properties..."));
    propertiesToolStripMenuItem->setEnabled(false);
    settingsToolStripMenuItem = newAction(this, "settingsToolStripMenuItem", QStringLiteral("&Settings..."));
    toolStripMenuItem1 = separator(this, "toolStripMenuItem1");
    exitToolStripMenuItem = newAction(this, "exitToolStripMenuItem", QStringLiteral("E&xit"));
    fileToolStripMenuItem->addAction(openToolStripMenuItem);
    fileToolStripMenuItem->addAction(openUrlToolStripMenuItem);
    fileToolStripMenuItem->addMenu(openRecentToolStripMenuItem);
    fileToolStripMenuItem->addActions({toolStripMenuItem2, exportViewToolStripMenuItem, exportViewsToolStripMenuItem,
                                       propertiesToolStripMenuItem, settingsToolStripMenuItem, toolStripMenuItem1,
                                       exitToolStripMenuItem});
    BuildStateMenu(fileToolStripMenuItem, propertiesToolStripMenuItem);
    menuStrip1->addMenu(fileToolStripMenuItem);

    editToolStripMenuItem = new QMenu(QStringLiteral("&Edit"), menuStrip1);
    editToolStripMenuItem->setObjectName(QStringLiteral("editToolStripMenuItem"));
    copyViewToolStripMenuItem =
        newAction(this, "copyViewToolStripMenuItem", QStringLiteral("&Copy view"));
    editToolStripMenuItem->addAction(copyViewToolStripMenuItem);
    menuStrip1->addMenu(editToolStripMenuItem);

    viewToolStripMenuItem = new QMenu(QStringLiteral("&View"), menuStrip1);
    viewToolStripMenuItem->setObjectName(QStringLiteral("viewToolStripMenuItem"));
    fitToolStripMenuItem = newAction(this, "fitToolStripMenuItem", QStringLiteral("&Fit"));
    actualPixelsToolStripMenuItem = newAction(this, "actualPixelsToolStripMenuItem",
                                              QStringLiteral("&Actual pixels 1:1"));
    zoomInToolStripMenuItem =
        newAction(this, "zoomInToolStripMenuItem", QStringLiteral("Zoom &in"));
    zoomOutToolStripMenuItem = newAction(this, "zoomOutToolStripMenuItem", QStringLiteral("Zoom &out"));
    autoRangeToolStripMenuItem = newAction(this, "autoRangeToolStripMenuItem", QStringLiteral("Auto &contrast"));
    scaleBarToolStripMenuItem = newAction(this, "scaleBarToolStripMenuItem", QStringLiteral("&Scale bar"));
    scaleBarToolStripMenuItem->setCheckable(true);
    scaleBarToolStripMenuItem->setChecked(QSettings().value(QStringLiteral("scaleBar"), true).toBool());
    viewToolStripMenuItem->addActions({fitToolStripMenuItem, actualPixelsToolStripMenuItem, zoomInToolStripMenuItem,
                                       zoomOutToolStripMenuItem});
    viewToolStripMenuItem->addSeparator();
    viewToolStripMenuItem->addActions({autoRangeToolStripMenuItem, scaleBarToolStripMenuItem});
    menuStrip1->addMenu(viewToolStripMenuItem);

    // Help sits at the right end of the bar: a second bar in the corner.
    helpMenuBar = new QMenuBar(menuStrip1);
    helpMenuBar->setObjectName(QStringLiteral("helpMenuBar"));
    helpMenuBar->setNativeMenuBar(false);
    helpToolStripMenuItem = new QMenu(QStringLiteral("&Help"), helpMenuBar);
    helpToolStripMenuItem->setObjectName(QStringLiteral("helpToolStripMenuItem"));
    infoToolStripMenuItem = newAction(this, "infoToolStripMenuItem", QStringLiteral("&About"));
    helpToolStripMenuItem->addAction(infoToolStripMenuItem);
    helpMenuBar->addMenu(helpToolStripMenuItem);
    menuStrip1->setCornerWidget(helpMenuBar, Qt::TopRightCorner);
}

void formImageViewer::WireMenus()
{
    connect(fileToolStripMenuItem, &QMenu::aboutToShow, this, [this] { fileToolStripMenuItem_DropDownOpening(); });
    connect(openRecentToolStripMenuItem, &QMenu::aboutToShow, this,
            [this] { openRecentToolStripMenuItem_AboutToShow(); });
    connect(openToolStripMenuItem, &QAction::triggered, this, [this] { openToolStripMenuItem_Click(); });
    connect(openUrlToolStripMenuItem, &QAction::triggered, this, [this] { openUrlToolStripMenuItem_Click(); });
    connect(exportViewToolStripMenuItem, &QAction::triggered, this, [this] { exportViewToolStripMenuItem_Click(); });
    connect(exportViewsToolStripMenuItem, &QAction::triggered, this, [this] { exportViewsToolStripMenuItem_Click(); });
    connect(propertiesToolStripMenuItem, &QAction::triggered, this, [this] { propertiesToolStripMenuItem_Click(); });
    connect(settingsToolStripMenuItem, &QAction::triggered, this, [this] { settingsToolStripMenuItem_Click(); });
    connect(exitToolStripMenuItem, &QAction::triggered, this, [this] { exitToolStripMenuItem_Click(); });
    connect(copyViewToolStripMenuItem, &QAction::triggered, this, [this] { copyViewToolStripMenuItem_Click(); });
    connect(fitToolStripMenuItem, &QAction::triggered, this, [this] { FitToWindow(); });
    connect(actualPixelsToolStripMenuItem, &QAction::triggered, this, [this] { ActualPixels(); });
    connect(zoomInToolStripMenuItem, &QAction::triggered, this, [this] { ZoomStep(1); });
    connect(zoomOutToolStripMenuItem, &QAction::triggered, this, [this] { ZoomStep(-1); });
    connect(autoRangeToolStripMenuItem, &QAction::triggered, this, [this] { AutoRange(true); });
    connect(scaleBarToolStripMenuItem, &QAction::toggled, this, [this] { scaleBarToolStripMenuItem_Toggled(); });
    connect(infoToolStripMenuItem, &QAction::triggered, this, [this] { infoToolStripMenuItem_Click(); });
}

void formImageViewer::scaleBarToolStripMenuItem_Toggled()
{
    QSettings().setValue(QStringLiteral("scaleBar"), scaleBarToolStripMenuItem->isChecked());
    pictureXY->update();
}

QStringList formImageViewer::OpenFilters()
{
    const auto both = [](const QStringList& patterns) {
        QStringList all = patterns;
        for (const QString& p : patterns)
            all << p.toUpper();
        return all.join(QLatin1Char(' '));
    };
    const QStringList ics{QStringLiteral("*.ics"), QStringLiteral("*.ids")};
    const QStringList tiff{QStringLiteral("*.tif"), QStringLiteral("*.tiff")};
    // A Zarr image is a folder: the dialog takes it when entered, or its metadata file.
    const QStringList zarr{QStringLiteral(".zattrs"), QStringLiteral(".zarray"), QStringLiteral(".zgroup")};
    return {QStringLiteral("All supported images (%1 %2)").arg(both(ics + tiff), zarr.join(QLatin1Char(' '))),
            QStringLiteral("ICS images (%1)").arg(both(ics)), QStringLiteral("TIFF series (%1)").arg(both(tiff)),
            QStringLiteral("All files (*)")};
}

QString formImageViewer::OpenFolder()
{
    const QString folder = QSettings().value(QString::fromLatin1(kFolderKey)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

QStringList formImageViewer::RecentFiles() const
{
    return QSettings().value(QString::fromLatin1(kRecentKey)).toStringList();
}

void formImageViewer::AddRecentFile(const QString& path)
{
    // A web address is kept as typed; it has no folder for the open dialog.
    const bool web = IsWebAddress(path);
    const QString full = web ? path : QFileInfo(path).absoluteFilePath();
    QStringList files = RecentFiles();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > kRecentFiles)
        files.removeLast();
    QSettings settings;
    settings.setValue(QString::fromLatin1(kRecentKey), files);
    if (!web)
        settings.setValue(QString::fromLatin1(kFolderKey), QFileInfo(full).absolutePath());
}

void formImageViewer::openRecentToolStripMenuItem_AboutToShow()
{
    openRecentToolStripMenuItem->clear();
    const QStringList files = RecentFiles();
    int k = 0;
    for (const QString& file : files) {
        ++k;
        QAction* entry = openRecentToolStripMenuItem->addAction(
            QStringLiteral("&%1 %2").arg(k % 10).arg(QDir::toNativeSeparators(file)));
        entry->setObjectName(QStringLiteral("recentFile%1").arg(k - 1));
        connect(entry, &QAction::triggered, this, [this, file] { StartOpen(file); });
    }
    if (files.isEmpty())
        openRecentToolStripMenuItem->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

void formImageViewer::settingsToolStripMenuItem_Click()
{
    formSettings dialog(this);
    dialog.setObjectName(QStringLiteral("formSettings"));
    if (dialog.exec() == QDialog::Accepted)
        dialog.Save();
}

std::vector<QColor> formImageViewer::DefaultChannelColors() const
{
    return formSettings::ChannelColors();
}

} // namespace ImageViewer
