// Loading images into the real window: initial choices, the per-dimension rows, reloading,
// failures, dropped files and the command line.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QSlider>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <libics.h>

#include "ICSImageReader.h"
#include "IcsLocale.h"
#include "TablePanel.h"
#include "ViewerTestUtil.h"
#ifdef LUMORA_HAVE_DEMODATA
#include "DemoData.h"
#endif

using namespace ViewerTest;

namespace {

TEST(Load, CursorRowsAndSlidersFollowEachLoad)
{
    auto window = MakeWindow();
    Load(*window, {512, 512, 31}, {"x", "y", "z"});
    EXPECT_EQ(window->curslice, V({256, 256, 15}));
    auto* track2 = window->findChild<QSlider*>(QStringLiteral("trackDim2"));
    ASSERT_NE(track2, nullptr);
    EXPECT_EQ(track2->maximum(), 30);
    EXPECT_EQ(track2->tickInterval(), 3);
    EXPECT_EQ(track2->value(), 15);
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("textDimNum2"))->text(), QStringLiteral("15"));
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("textDimName2"))->text(), QStringLiteral("z"));
    // Row 1 stands below row 0, its boxes left to right without overlap.
    const auto box = [&](const char* kind, int i) {
        return window->findChild<QWidget*>(QString::fromLatin1(kind) + QString::number(i))->geometry();
    };
    EXPECT_GT(box("textDimNum", 1).top(), box("textDimNum", 0).bottom());
    EXPECT_LT(box("textDimName", 1).right(), box("textDimNum", 1).left());
    EXPECT_LT(box("textDimNum", 1).right(), box("trackDim", 1).left());
    EXPECT_FALSE(window->findChild<QCheckBox*>(QStringLiteral("checkDimProj2"))->isVisibleTo(window.get()));

    // Extent 1: maximum 0, no ticks, cursor 0.
    Load(*window, {8, 8, 1}, {"x", "y", "z"});
    track2 = window->findChild<QSlider*>(QStringLiteral("trackDim2"));
    ASSERT_NE(track2, nullptr);
    EXPECT_EQ(track2->maximum(), 0);
    EXPECT_EQ(track2->tickInterval(), 0);
    EXPECT_EQ(window->curslice[2], 0);

    // Every load replaces the rows and channels; the window shows the new image's fresh
    // state (the model's part of it is tested headless).
    Load(*window, {16, 16, 4, 3}, {"x", "y", "z", "ch"});
    (*window->channels)[0]->m_r = 7;
    window->properties.m_zoom = 3;
    window->imagedelta[0] = 12;
    // A 2-D image: no side views, no depth rows.
    Load(*window, {40, 30}, {"x", "y"}, [](const std::vector<int>& p) { return p[0]; });
    EXPECT_FALSE(window->GDIImageXY.isNull());
    EXPECT_TRUE(window->GDIImageXZ.isNull());
    EXPECT_TRUE(window->GDIImageYZ.isNull());
    EXPECT_EQ(window->lblPixelValue->text(), QStringLiteral("20")); // value at the centre (20, 15)
    EXPECT_EQ(window->findChildren<QSlider*>(QRegularExpression(QStringLiteral("^trackDim"))).size(), 2);
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("textDimNum3")), nullptr);
    ASSERT_GE(window->channels->size(), 6u);
    const int colours[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}};
    for (int i = 0; i < 6; ++i) {
        const auto& ch = *(*window->channels)[static_cast<size_t>(i)];
        EXPECT_EQ(QColor(ch.m_r, ch.m_g, ch.m_b), QColor(colours[i][0], colours[i][1], colours[i][2])) << i;
    }
    EXPECT_EQ(window->properties.m_zoom, 1.0);
    EXPECT_EQ(window->imagedelta, ImageReader::Vector(0, 0));
    EXPECT_EQ(window->Internals().histdim, -1);
}

TEST(Load, FailuresKeepTheImageAndSayWhy)
{
    auto window = MakeWindow();
    Load(*window, {16, 16, 4}, {"x", "y", "z"});
    const auto* before = window->image.get();
    const QImage xy = window->GDIImageXY;
    QTemporaryDir dir;
    window->LoadImageW(dir.filePath(QStringLiteral("missing.ics")));
    EXPECT_EQ(window->image.get(), before) << "a failed open keeps what was open";
    EXPECT_NE(window->findChild<QSlider*>(QStringLiteral("trackDim2")), nullptr);
    EXPECT_EQ(window->GDIImageXY, xy);
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("cannot open"))) << window->windowTitle().toStdString();
    EXPECT_EQ(window->Internals().lastOpenError, QStringLiteral("file not found"));
    auto* box = window->findChild<QMessageBox*>(QStringLiteral("messageOpenError"));
    ASSERT_NE(box, nullptr) << "the reason is shown in a message box";
    EXPECT_TRUE(box->text().contains(QStringLiteral("file not found")));
    box->close();

    QFile junk(dir.filePath(QStringLiteral("junk.ics")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("this is not an image\n");
    junk.close();
    window->LoadImageW(junk.fileName());
    EXPECT_EQ(window->image.get(), before);
    EXPECT_FALSE(window->Internals().lastOpenError.isEmpty());

    // Handlers of every kind stay quiet without an image.
    window = MakeWindow();
    window->LoadImageW(junk.fileName());
    EXPECT_EQ(window->image, nullptr);
    // Handlers of every kind stay quiet without an image.
    window->RefreshPictures(7);
    Press(window->pictureXY, QPoint(5, 5));
    Wheel(window->pictureXY, QPoint(5, 5), 120);
    window->fileToolStripMenuItem_DropDownOpening();
    EXPECT_FALSE(window->propertiesToolStripMenuItem->isEnabled());
    Load(*window, {16, 16}, {"x", "y"});
    window->fileToolStripMenuItem_DropDownOpening();
    EXPECT_TRUE(window->propertiesToolStripMenuItem->isEnabled());
}

TEST(Start, EmptyWindowAndMenus)
{
    auto window = MakeWindow();
    EXPECT_EQ(window->minimumSize(), QSize(640, 500));
    // The view table fills the left of the window down to the lists under it.
    // (The views and the panels sit in the two sides of a splitter.)
    const auto placed = [&](QWidget* control) {
        return QRect(control->mapTo(window.get(), QPoint(0, 0)) - window->centralWidget()->pos(), control->size());
    };
    EXPECT_EQ(placed(window->layoutImage).topLeft(), QPoint(8, 32));
    EXPECT_LT(placed(window->layoutImage).right(), placed(window->splitContainer1).left());
    EXPECT_LT(placed(window->layoutImage).bottom(), placed(window->comboDimX).top());
    for (auto* box : {window->pictureXY, window->pictureXZ, window->pictureYZ, window->pictureProfile}) {
        const QImage shot = box->grab().toImage();
        EXPECT_EQ(shot.pixel(shot.width() / 2, shot.height() / 2) & 0xffffff, 0u) << box->objectName().toStdString();
    }
    // Help sits at the right end of the menu bar; File, Edit and View at the left.
    EXPECT_GT(window->helpMenuBar->geometry().left(), window->width() / 2);
    QStringList menus;
    for (QAction* action : window->menuStrip1->actions())
        menus << action->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Edit", "&View"}));

    // Settings opens the preferences dialog (closed here by its Cancel).
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        shown = dialog && dialog->objectName() == QStringLiteral("formSettings");
        if (dialog)
            dialog->reject();
    });
    window->settingsToolStripMenuItem->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lumora"));

    EXPECT_EQ(window->openToolStripMenuItem->shortcut(), QKeySequence(QKeySequence::Open));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

// Writes a 2 x 2 x 2 ICS image of `values` with libics.
template <class S>
QString WriteIcs(const QTemporaryDir& dir, const char* name, Ics_DataType type, const std::vector<S>& values)
{
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    const ImageReader::IcsLocaleScope cLocale; // the program's locale name is composite
    ICS* ics = nullptr;
    EXPECT_EQ(IcsOpen(&ics, path.c_str(), "w2"), IcsErr_Ok);
    const size_t extents[] = {2, 2, 2};
    IcsSetLayout(ics, type, 3, extents);
    IcsSetData(ics, values.data(), values.size() * sizeof(S));
    const char* const names[] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i)
        IcsSetOrder(ics, i, names[i], names[i]);
    EXPECT_EQ(IcsClose(ics), IcsErr_Ok);
    return QString::fromStdString(path);
}

TEST(TrueValues, ReadoutShowsTheFilesNumbersAndMissingPlanes)
{
    QTemporaryDir dir;
    auto window = MakeWindow();
    const auto readoutAt = [&](int x, int y, int z) {
        window->curslice = V({x, y, z});
        window->RefreshPictures(7);
        return window->lblPixelValue->text();
    };
    // Signed samples keep their sign; 32-bit integers and floats keep values a 16-bit
    // picture cannot hold.
    window->LoadImageW(WriteIcs<int16_t>(dir, "s16.ics", Ics_sint16, {-300, -1, 0, 7, 32767, -32768, 5, 6}));
    ASSERT_NE(window->image, nullptr) << window->Internals().lastOpenError.toStdString();
    EXPECT_EQ(readoutAt(0, 0, 0), QStringLiteral("-300"));
    EXPECT_EQ(readoutAt(1, 0, 1), QStringLiteral("-32768"));
    window->LoadImageW(WriteIcs<int32_t>(dir, "s32.ics", Ics_sint32, {-2000000, 1, 2, 3, 4, 5, 6, 3000001}));
    EXPECT_EQ(readoutAt(1, 1, 1), QStringLiteral("3000001"));
    EXPECT_EQ(readoutAt(0, 0, 0), QStringLiteral("-2000000"));
    window->LoadImageW(WriteIcs<float>(dir, "f32.ics", Ics_real32, {0.25f, 0.0005f, 1e6f, -2.5f, 0, 0, 0, 0}));
    EXPECT_EQ(readoutAt(0, 0, 0), QStringLiteral("0.25"));
    EXPECT_EQ(readoutAt(1, 0, 0), QStringLiteral("0.0005"));
    EXPECT_EQ(readoutAt(1, 1, 0), QStringLiteral("-2.5"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lumora - ") + dir.filePath(QStringLiteral("f32.ics")) +
                                         QStringLiteral(" (ICS, float32)"));

    // A plane that cannot be read: black, and "missing" instead of the last value shown.
    auto image = std::make_unique<FormulaImage>(std::vector<int>{4, 4, 3},
                                                [](const std::vector<int>& c) -> unsigned short { return 1000 + c[2]; },
                                                std::vector<std::string>{"x", "y", "z"});
    image->failing.insert({2});
    window->LoadReader(std::move(image), QStringLiteral("Lumora - memory"));
    EXPECT_EQ(readoutAt(1, 1, 1), QStringLiteral("1001"));
    EXPECT_EQ(readoutAt(1, 1, 2), QStringLiteral("missing"));
    const QImage shown = window->pictureXY->grab().toImage();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xffffff, 0u) << "a missing plane draws black";
}

#ifdef LUMORA_HAVE_DEMODATA
// Real files, written once: the demo image as ICS and as a TIFF series (which reader takes
// which file is tested headless).
QString path(const char* name)
{
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        auto dir = std::make_unique<QTemporaryDir>();
        const DemoData::Volume cells = DemoData::MakeCells(32, 24, 5);
        const std::filesystem::path root(dir->path().toStdString());
        EXPECT_TRUE(DemoData::WriteICS(cells, root / "cells.ics"));
        EXPECT_TRUE(DemoData::WriteTIFFSeries(cells, root, "cells"));
        return dir;
    }();
    return folder->filePath(QString::fromLatin1(name));
}

TEST(Files, DroppedFileOpens)
{
    auto window = MakeWindow();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path("cells.ics"))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    window->WaitForOpen();
    ASSERT_NE(window->image, nullptr);
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Lumora - ") + path("cells.ics")));
}

TEST(Files, CommandLineNamesTheFirstFile)
{
    formImageViewer window(QStringList{path("cells.ics"), path("cells_z000_c0.tif")});
    window.WaitForOpen();
    ASSERT_NE(window.image, nullptr);
    EXPECT_NE(dynamic_cast<ImageReader::ICSImageReader<unsigned short>*>(window.model->Session().reader.get()), nullptr);
    formImageViewer empty;
    EXPECT_EQ(empty.image, nullptr);
    EXPECT_EQ(empty.windowTitle(), QStringLiteral("Lumora"));
}
#endif

} // namespace

LUMORA_VIEWER_TEST_MAIN()
