// Multiscale and remote images in the window: measurements that wait off the window's
// thread, readouts of every channel, the open dialogs and an open that does not block.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LoopbackServer.h"
#include "PyramidImage.h"
#include "ViewMath.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageReader::Vector;

namespace {

std::unique_ptr<formImageViewer> OpenPyramid(std::vector<int> size, int levels, std::shared_ptr<ReadGate> gate = nullptr)
{
    auto w = MakeWindow();
    w->LoadReader(std::make_unique<PyramidImage>(std::move(size), levels, std::move(gate)),
                  QStringLiteral("Lumora - pyramid"));
    return w;
}

} // namespace

TEST(Multiscale, MeasurementsReadOffTheWindowThread)
{
    auto gate = std::make_shared<ReadGate>();
    auto w = OpenPyramid({64, 32, 6}, 2, gate);
    w->WaitForViews();
    gate->Set(false);
    w->image->Clear(); // the side views read every plane; start with none at hand
    const int before = gate->ownerReads.load();

    // The cursor profile along z reads every plane: on the worker.
    w->comboDimP->setCurrentIndex(3);
    EXPECT_FALSE(w->cursorprofile);
    // A region histogram on a plane not read yet waits for it too.
    w->trackDim[2]->setValue(1);
    Drag(w->pictureXY, {10, 10}, {30, 20}, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w->meastype, 1);
    EXPECT_FALSE(w->histogram);
    EXPECT_EQ(gate->ownerReads.load(), before);

    gate->Set(true);
    w->WaitForViews();
    ASSERT_TRUE(w->cursorprofile);
    ASSERT_TRUE(w->histogram);
    // 20 x 10 pixels of plane 1, all in the left half: 1.
    EXPECT_EQ(w->histogram->m_valmin, 1);
    EXPECT_EQ(w->histogram->m_valmax, 1);
    EXPECT_EQ(gate->ownerReads.load(), before);
}

TEST(Multiscale, EveryChannelUnderTheMouseGetsTheFilesOwnValue)
{
    auto w = MakeWindow(true);
    w->LoadImageW(QString::fromStdString(std::string(LUMORA_TESTDATA) + "/zarr/ome5d.zarr"));
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    w->WaitForViews();
    // The samples are x + 50 y + 2000 z + 9000 c + 30000 t; the mouse gives x 3 and y 5, the
    // cursor the rest. Each channel is read at full resolution, none stays "...".
    w->SetMousePosition(V({3, 5, 0, 0, 0}), 0, 1);
    w->WaitForViews();
    const int z = w->curslice[2], t = w->curslice[4];
    const QString values = w->statusValues->text();
    EXPECT_FALSE(values.contains(QStringLiteral("\u2026"))) << values.toStdString();
    for (int c = 0; c < 3; ++c) {
        const QString v = QStringLiteral(": %1").arg(3 + 50 * 5 + 2000 * z + 9000 * c + 30000 * t);
        EXPECT_TRUE(values.contains(v)) << values.toStdString() << " lacks " << v.toStdString();
    }
}

namespace {

// An image on a server, as far as the window can tell: its values are read off its thread.
class RemoteRamp : public FormulaImage
{
public:
    RemoteRamp() : FormulaImage({64, 32, 6}, [](const std::vector<int>& c) { return static_cast<unsigned short>(500 + c[0]); }, {"x", "y", "z"}) {}
    bool IsRemote() override { return true; }
};

} // namespace

// Another image opened while a readout of the one before is still being read: its value never
// shows for the new image, which is read for itself.
TEST(Multiscale, AReadoutPendingAtALoadNeverShowsOnTheNextImage)
{
    auto gate = std::make_shared<ReadGate>();
    auto w = OpenPyramid({64, 32, 6}, 2, gate);
    w->WaitForViews();
    gate->Set(false);
    w->image->Clear();
    w->SetMousePosition(V({3, 5, 1}), 0, 1);
    QCoreApplication::processEvents(); // the readout's job goes to the worker
    ASSERT_TRUE(gate->WaitForHeldRead());
    EXPECT_TRUE(w->statusValues->text().contains(QStringLiteral("\u2026"))) << w->statusValues->text().toStdString();
    gate->Set(true);
    w->model->Work().Wait(); // the old image's value (1) now waits in the event queue

    w->LoadReader(std::make_unique<RemoteRamp>(), QStringLiteral("Lumora - remote"));
    w->WaitForViews();
    w->SetMousePosition(V({3, 5, 1}), 0, 1);
    w->WaitForViews();
    EXPECT_EQ(w->statusValues->text().toStdString(), "Value: 503");
}

TEST(Multiscale, OpenDialogTakesAZarrFolder)
{
    const QString zarr = QString::fromStdString(std::string(LUMORA_TESTDATA) + "/zarr/ome5d.zarr");
    // Choosing the folder and Open takes it rather than entering it.
    auto w = MakeWindow();
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(zarr);
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible())
            QMetaObject::invokeMethod(dialog, "reject"); // fails below: the window has no image
    });
    w->openToolStripMenuItem->trigger();
    w->WaitForOpen();
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    EXPECT_EQ(w->LevelCount(), 3);

    // Its metadata file stands for the folder.
    auto v = MakeWindow();
    v->LoadImageW(zarr + QStringLiteral("/.zattrs"));
    ASSERT_TRUE(v->image) << v->Internals().lastOpenError.toStdString();
    EXPECT_EQ(v->DimensionCount(), 5);
}

TEST(Multiscale, RemoteImageOpensWhileTheWindowAnswers)
{
    std::atomic<bool> hold{true};
    LoopbackServer server(std::string(LUMORA_TESTDATA) + "/zarr", [&](const std::string& path) {
        // The image's metadata waits until the test has seen the window answer.
        while (hold && path.find(".zattrs") != std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return LoopbackServer::Action::Serve;
    });
    auto w = MakeWindow(true);
    w->LoadImageW(QString::fromStdString(server.Url("ome5d.zarr?token=secret")));
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    // The window's event loop runs meanwhile.
    QElapsedTimer clock;
    clock.start();
    while (!fired && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(fired);
    EXPECT_FALSE(w->image);

    hold = false;
    w->WaitForOpen();
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    w->WaitForViews();
    EXPECT_TRUE(w->ReadsMayWait());
    EXPECT_EQ(w->LevelCount(), 3);
    EXPECT_EQ(w->listChannels->item(0)->text(), QStringLiteral("DAPI"));
    EXPECT_FALSE(w->GDIImageXY.isNull());
    // The title names the image but not its access token.
    EXPECT_TRUE(w->windowTitle().contains(QStringLiteral("ome5d.zarr")));
    EXPECT_FALSE(w->windowTitle().contains(QStringLiteral("secret")));
}

TEST(Multiscale, OpenUrlDialogRefusesWhatIsNotAnAddress)
{
    auto w = MakeWindow();
    w->openUrlToolStripMenuItem->trigger();
    auto* dialog = w->findChild<QInputDialog*>(QStringLiteral("dialogOpenUrl"));
    ASSERT_NE(dialog, nullptr);
    dialog->setTextValue(QStringLiteral("/not/an/address"));
    dialog->accept();
    EXPECT_FALSE(w->image);
    EXPECT_FALSE(w->Internals().lastOpenError.isEmpty());
    // A server that is not there: a reason, and the window stays usable.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w->openUrlToolStripMenuItem->trigger();
    dialog = w->findChild<QInputDialog*>(QStringLiteral("dialogOpenUrl"));
    ASSERT_NE(dialog, nullptr);
    dialog->setTextValue(QStringLiteral("http://127.0.0.1:9/none.zarr"));
    const QString earlierError = w->Internals().lastOpenError;
    dialog->accept();
    w->WaitForOpen();
    EXPECT_FALSE(w->image);
    EXPECT_NE(w->Internals().lastOpenError, earlierError);
}

LUMORA_VIEWER_TEST_MAIN()
