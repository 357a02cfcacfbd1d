// Opens run off the window's thread: the window answers while a folder of many series files
// is listed, Cancel and Esc stop an open and keep the image shown, the newest open wins, a
// failed open keeps the image, and File > Reload opens the image again keeping the view.
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>

#include "../reader/TiffWriter.h"
#include "LoopbackServer.h"
#include "OpenImage.h"
#include "ViewerTestUtil.h"

namespace {

using namespace ViewerTest;
using ImageViewer::ViewState;
using tifftest::V;
namespace fs = std::filesystem;

// A series of `count` planes: the first file a 3 x 2 TIFF, the others names only (they are
// opened when their plane is read). In memory where the system allows.
struct ManySeries
{
    explicit ManySeries(int count)
    {
        const char* previous = std::getenv("TMPDIR");
        const std::string saved = previous ? previous : "";
        if (fs::is_directory("/dev/shm"))
            ::setenv("TMPDIR", "/dev/shm", 1);
        folder = std::make_unique<tifftest::Folder>();
        previous ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
        first = folder->File("s_00000.tif");
        tifftest::WriteFlat(first, 9);
        for (int i = 1; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "s_%05d.tif", i);
            const int fd = ::open(folder->File(name).c_str(), O_CREAT | O_WRONLY, 0644);
            EXPECT_GE(fd, 0);
            ::close(fd);
        }
    }
    std::unique_ptr<tifftest::Folder> folder;
    std::string first;
};

constexpr int kFiles = 20000;

QWidget* indicator(formImageViewer& w)
{
    return w.findChild<QWidget*>(QStringLiteral("panelOpening"));
}

// Runs the window's event loop until the open under way has ended (at most 20 s).
void runUntilOpened(formImageViewer& w)
{
    QElapsedTimer clock;
    clock.start();
    while (indicator(w)->isVisible() && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A 16-bit x, y, z ICS image of 4 x 3 x `z` samples, every sample of plane k equal to base + k.
void writeIcs(const std::string& header, int z, int base)
{
    const std::string stem = fs::path(header).stem().string();
    std::ofstream(header, std::ios::binary)
        << "\t\nics_version\t1.0\nfilename\t" << stem << "\nlayout\tparameters\t4\n"
        << "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t4\t3\t" << z << "\n"
        << "layout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
        << "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
        << "representation\tbyte_order\t1\t2\nend\n";
    std::vector<std::uint16_t> data;
    for (int k = 0; k < z; ++k)
        data.insert(data.end(), 12, static_cast<std::uint16_t>(base + k));
    std::ofstream((fs::path(header).parent_path() / (stem + ".ids")).string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size() * 2));
}

TEST(Opening, AFolderOfManyFilesOpensWhileTheWindowAnswers)
{
    const ManySeries many(kFiles);
    auto w = MakeWindow();
    Load(*w, {4, 3, 2}, {"x", "y", "z"});
    const auto* shown = w->image.get();
    const QString title = w->windowTitle();

    w->StartOpen(QString::fromStdString(many.first));
    // The window's own timers fire while the folder is listed, and what it showed stays.
    bool fired = false, kept = false, progress = false;
    QTimer::singleShot(0, [&] {
        fired = true;
        kept = w->image.get() == shown && w->windowTitle() == title;
        progress = indicator(*w)->isVisible() &&
                   w->findChild<QLabel*>(QStringLiteral("labelOpening"))->text().contains(QStringLiteral("s_00000.tif"));
    });
    runUntilOpened(*w);
    EXPECT_TRUE(fired);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(progress);
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    EXPECT_EQ(w->image->GetSize(), V({3, 2, kFiles}));
    EXPECT_TRUE(w->windowTitle().contains(QStringLiteral("s_00000.tif")));
    EXPECT_FALSE(indicator(*w)->isVisible());
}

TEST(Opening, CancelAndEscStopAnOpenAndKeepTheImage)
{
    const ManySeries many(kFiles);
    auto w = MakeWindow();
    Load(*w, {4, 3, 2}, {"x", "y", "z"});
    const auto* shown = w->image.get();
    const QString title = w->windowTitle();

    for (const bool escape : {false, true}) {
        w->StartOpen(QString::fromStdString(many.first));
        auto* cancel = w->findChild<QPushButton*>(QStringLiteral("buttonCancelOpen"));
        ASSERT_NE(cancel, nullptr);
        ASSERT_TRUE(cancel->isVisible());
        if (escape)
            QTest::keyClick(w.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(cancel, Qt::LeftButton);
        EXPECT_FALSE(indicator(*w)->isVisible());
        EXPECT_FALSE(w->CancelOpen()); // nothing is under way any more
        w->WaitForOpen();
        EXPECT_EQ(w->image.get(), shown);
        EXPECT_EQ(w->windowTitle(), title);
    }
    // Whatever the stopped threads found is never shown: the next open is.
    const ManySeries small(3);
    w->LoadImageW(QString::fromStdString(small.first));
    ASSERT_TRUE(w->image);
    EXPECT_EQ(w->image->GetSize(), V({3, 2, 3}));
    for (int k = 0; k < 20; ++k)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(w->image->GetSize(), V({3, 2, 3}));
}

TEST(Opening, TheNewestOpenWinsAndAFailureKeepsTheImage)
{
    const ManySeries many(kFiles), small(5);
    auto w = MakeWindow();
    w->StartOpen(QString::fromStdString(many.first));
    w->StartOpen(QString::fromStdString(small.first));
    w->WaitForOpen();
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    EXPECT_EQ(w->image->GetSize(), V({3, 2, 5}));
    for (int k = 0; k < 20; ++k)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(w->image->GetSize(), V({3, 2, 5}));

    const auto* shown = w->image.get();
    const QString earlierError = w->Internals().lastOpenError;
    w->LoadImageW(QString::fromStdString(small.first + ".missing"));
    EXPECT_NE(w->Internals().lastOpenError, earlierError);
    EXPECT_EQ(w->image.get(), shown);
}

TEST(Opening, ReloadKeepsTheViewWhereItStillFits)
{
    QTemporaryDir dir;
    const std::string header = dir.filePath(QStringLiteral("r.ics")).toStdString();
    writeIcs(header, 6, 100);
    auto w = MakeWindow();
    w->LoadImageW(QString::fromStdString(header));
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    auto* reload = w->findChild<QAction*>(QStringLiteral("reloadToolStripMenuItem"));
    ASSERT_NE(reload, nullptr);
    EXPECT_EQ(reload->shortcut(), QKeySequence(Qt::Key_F5));

    ViewState state = w->ViewStateFromWindow();
    state.cursor = V({1, 2, 4});
    w->ApplyViewState(state, w->DisplayFromWindow());
    // The file is written again: new values, same shape.
    writeIcs(header, 6, 200);
    const auto* before = w->image.get();
    ASSERT_TRUE(reload->isEnabled());
    reload->trigger();
    w->WaitForOpen();
    ASSERT_TRUE(w->image);
    EXPECT_NE(w->image.get(), before);
    EXPECT_EQ(w->curslice, V({1, 2, 4}));
    EXPECT_EQ(w->model->Session().reader->GetValue(V({1, 2, 4})), 204.0);

    // Fewer planes now: the cursor comes back inside.
    writeIcs(header, 3, 300);
    QTest::keyClick(w.get(), Qt::Key_F5);
    w->WaitForOpen();
    ASSERT_TRUE(w->image);
    EXPECT_EQ(w->image->GetSize(), V({4, 3, 3}));
    EXPECT_EQ(w->curslice, V({1, 2, 2}));

    // A reload that fails keeps the image.
    const auto* shown = w->image.get();
    fs::remove(header);
    reload->trigger();
    w->WaitForOpen();
    EXPECT_EQ(w->image.get(), shown);
    EXPECT_FALSE(w->Internals().lastOpenError.isEmpty());
}

// A server whose chunks failed is asked again at once on reload, not after its back-off.
TEST(Opening, ReloadAsksAServerAgainForWhatFailed)
{
    std::atomic<bool> down{true};
    LoopbackServer server(std::string(LUMORA_TESTDATA) + "/zarr", [&](const std::string& path) {
        return down && path.find("0.0.0") != std::string::npos ? LoopbackServer::Action::ServerError
                                                               : LoopbackServer::Action::Serve;
    });
    const auto local = ImageReader::OpenImage(std::string(LUMORA_TESTDATA) + "/zarr/u16_blosc_zstd.zarr");
    ASSERT_TRUE(local.reader) << local.error;
    const std::optional<double> expected = local.reader->GetValue(V({5, 7, 0}));
    ASSERT_TRUE(expected.has_value());

    auto w = MakeWindow();
    w->StartOpen(QString::fromStdString(server.Url("u16_blosc_zstd.zarr")));
    w->WaitForOpen();
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    EXPECT_FALSE(w->model->Session().reader->GetValue(V({5, 7, 0})).has_value());
    down = false;
    // Backing off: the failed chunk is not asked for again yet.
    EXPECT_FALSE(w->model->Session().reader->GetValue(V({5, 7, 0})).has_value());
    QTest::keyClick(w.get(), Qt::Key_F5);
    w->WaitForOpen();
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    EXPECT_EQ(w->model->Session().reader->GetValue(V({5, 7, 0})), expected);
    w->WaitForViews();
}

} // namespace

LUMORA_VIEWER_TEST_MAIN()
