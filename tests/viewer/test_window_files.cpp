// Files: the open dialog's folder, recent files, export and copy of the views, and the
// preferences dialog (the dialog's filters are tested without a window).
#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "ViewerTestUtil.h"
#include "formSettings.h"
#ifdef LUMORA_HAVE_DEMODATA
#include "DemoData.h"
#endif

using namespace ViewerTest;

namespace {

TEST(Export, ViewWrittenAndReadBackEqual)
{
    QTemporaryDir dir;
    auto w = Open({40, 30, 6}, {"x", "y", "z"}, [](const std::vector<int>& p) { return 100 * p[2] + 3 * p[0] + p[1]; },
                  {100, 100, 300});
    for (const char* name : {"xy.png", "xy.tif", "xy.TIFF"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(w->ExportView(path, false)) << name;
        const QImage back(path);
        ASSERT_EQ(back.size(), QSize(40, 30)) << name;
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), w->GDIImageXY.convertToFormat(QImage::Format_RGB32)) << name;
    }
    // All three views as laid out: YZ (6 planes, 3 pixels each) left, XZ above, 6 pixels apart.
    const QString all = dir.filePath(QStringLiteral("all.png"));
    ASSERT_TRUE(w->ExportView(all, true));
    const QImage back = QImage(all).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), QSize(18 + 6 + 40, 18 + 6 + 30));
    EXPECT_EQ(back.copy(24, 24, 40, 30), w->GDIImageXY.convertToFormat(QImage::Format_RGB32));
    for (int z = 0; z < 6; ++z) // each XZ row repeated three times
        EXPECT_EQ(back.pixel(24 + 7, 3 * z + 1), w->GDIImageXZ.pixel(7, z)) << z;
    EXPECT_EQ(back.pixel(20, 5), qRgb(0, 0, 0)); // the corner stays black

    // Copy view puts the XY picture on the clipboard.
    w->copyViewToolStripMenuItem->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
              w->GDIImageXY.convertToFormat(QImage::Format_RGB32));
    // Nothing to write without an image.
    EXPECT_FALSE(MakeWindow()->ExportView(dir.filePath(QStringLiteral("none.png")), false));
}

TEST(Settings, DialogKeepsBudgetAndColoursForTheNextImage)
{
    auto w = MakeWindow();
    QTimer::singleShot(0, [] {
        auto* dialog = dynamic_cast<ImageViewer::formSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->spinCacheBudget->setValue(768);
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    });
    w->settingsToolStripMenuItem->trigger();
    EXPECT_EQ(QSettings().value(QStringLiteral("cacheBudgetMB")).toInt(), 768);

    QSettings().setValue(QStringLiteral("channelColors"), QStringList{"#ff8000", "not a colour"});
    Load(*w, {4, 4, 2}, {"x", "y", "c"});
    const auto colour = [&](int k) {
        const auto& ch = *(*w->channels)[static_cast<size_t>(k)];
        return QColor(ch.m_r, ch.m_g, ch.m_b);
    };
    EXPECT_EQ(colour(0), QColor(255, 128, 0));
    EXPECT_EQ(colour(1), QColor(Qt::green)); // a stored entry that is no colour keeps the built-in one
    EXPECT_EQ(colour(2), QColor(Qt::blue));
    QSettings().remove(QStringLiteral("channelColors"));
}

#ifdef LUMORA_HAVE_DEMODATA
TEST(RecentFiles, NewestFirstTenKeptAcrossWindows)
{
    QTemporaryDir dir;
    const DemoData::Volume cells = DemoData::MakeCells(8, 6, 2);
    QStringList written;
    for (int i = 0; i < 12; ++i) {
        const QString path = dir.filePath(QStringLiteral("cells%1.ics").arg(i));
        ASSERT_TRUE(DemoData::WriteICS(cells, path.toStdString()));
        written << path;
    }
    {
        auto w = MakeWindow();
        for (const QString& path : written)
            w->LoadImageW(path);
        w->LoadImageW(written[5]); // opened again: to the front, not twice
        w->LoadImageW(dir.filePath(QStringLiteral("missing.ics"))); // a failed open is not remembered
    }
    auto w = MakeWindow();
    const QStringList recent = w->RecentFiles();
    ASSERT_EQ(recent.size(), 10);
    EXPECT_EQ(recent[0], written[5]);
    EXPECT_EQ(recent[1], written[11]);
    EXPECT_EQ(recent[9], written[2]); // 0 and 1 dropped off; 5 moved up, not repeated
    EXPECT_EQ(formImageViewer::OpenFolder(), dir.path());

    // The menu lists them and opens the one chosen.
    emit w->openRecentToolStripMenuItem->aboutToShow();
    auto* third = w->findChild<QAction*>(QStringLiteral("recentFile2"));
    ASSERT_NE(third, nullptr);
    third->trigger();
    w->WaitForOpen();
    ASSERT_NE(w->image, nullptr);
    EXPECT_TRUE(w->windowTitle().contains(written[10]));
    EXPECT_EQ(w->RecentFiles().front(), written[10]);
}
#endif

} // namespace

LUMORA_VIEWER_TEST_MAIN()
