// Multiscale images in the window: the coarsest level first, refinement to the level that
// matches the zoom, projections on that level, a display change that does not restart the
// work, and channel hints from a file seeding the channel list.
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
#include "ViewMath.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageReader::Vector;

namespace {

// Holds back full-resolution reads off the window's thread until opened, so that a test can
// see what the window shows before them.
struct Gate
{
    std::mutex lock;
    std::condition_variable changed;
    bool open = true;
    std::thread::id ui = std::this_thread::get_id();
    std::atomic<int> uiReads{0}; // full-resolution reads on the window's thread

    void Pass()
    {
        if (std::this_thread::get_id() == ui) {
            ++uiReads;
            return;
        }
        std::unique_lock<std::mutex> hold(lock);
        // Bounded, so that a fault shows as a failed check rather than a hung test.
        changed.wait_for(hold, std::chrono::seconds(20), [this] { return open; });
    }
    void Set(bool value)
    {
        {
            const std::lock_guard<std::mutex> hold(lock);
            open = value;
        }
        changed.notify_all();
    }
};

// A pyramid of x, y, z (and optionally channels): level L halves x, y and z (rounding up)
// L times. Sample (x, y, z, c) of level L is 1000 * L + 100 * c + z, in the level's own
// coordinates, plus 50 in the right half, so a picture tells which level and plane it came
// from and where it was drawn.
class Pyramid : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    Pyramid(std::vector<int> size, int levels, std::shared_ptr<Gate> gate, int level = 0,
            std::vector<ImageReader::ChannelHint> hints = {})
        : m_full(std::move(size)), m_levels(levels), m_level(level), m_gate(std::move(gate)), m_hints(std::move(hints))
    {
    }

    static int Extent(int full, int level) { return (full + (1 << level) - 1) >> level; }

    Vector GetSize() override
    {
        Vector v;
        for (size_t d = 0; d < m_full.size(); ++d)
            v.push_back(d < 3 ? Extent(m_full[d], m_level) : m_full[d]);
        return v;
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const Vector& pos) override
    {
        if (m_level == 0 && m_gate)
            m_gate->Pass();
        const Vector s = GetSize();
        const int z = pos.size() > 0 ? pos[0] : 0;
        const int c = pos.size() > 1 ? pos[1] : 0;
        const size_t n = static_cast<size_t>(s[0]) * static_cast<size_t>(s[1]);
        auto* buf = static_cast<unsigned short*>(std::malloc(n * sizeof(unsigned short)));
        const auto base = static_cast<unsigned short>(1000 * m_level + 100 * c + z);
        for (int y = 0; y < s[1]; ++y)
            for (int x = 0; x < s[0]; ++x)
                buf[static_cast<size_t>(y) * static_cast<size_t>(s[0]) + static_cast<size_t>(x)] =
                    static_cast<unsigned short>(base + (2 * x >= s[0] ? 50 : 0));
        return ImageReader::ImageSlice<unsigned short>(Vector(s[0], s[1]), buf);
    }
    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int dim) override
    {
        static const char* names[] = {"x", "y", "z", "c"};
        return dim < 4 ? names[dim] : std::string();
    }
    double GetDimPixelSize(unsigned int dim) override { return dim < 3 ? 100.0 * (1 << m_level) : 0.0; }
    int GetLevelCount() const override { return m_levels; }
    std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> OpenLevel(int level) override
    {
        if (level <= 0 || level >= m_levels)
            return nullptr;
        return std::make_unique<Pyramid>(m_full, m_levels, m_gate, level, m_hints);
    }
    int GetChannelHintDim() override { return m_hints.empty() ? -1 : 3; }
    std::vector<ImageReader::ChannelHint> GetChannelHints() override { return m_hints; }
    std::string GetIndexName(unsigned int dim, int index) override
    {
        return dim == 3 && index >= 0 && index < static_cast<int>(m_hints.size()) ? m_hints[static_cast<size_t>(index)].name
                                                                                   : std::string();
    }

private:
    std::vector<int> m_full;
    int m_levels;
    int m_level;
    std::shared_ptr<Gate> m_gate;
    std::vector<ImageReader::ChannelHint> m_hints;
};

// The value the XY view's kept data holds at its first pixel for channel entry c.
int KeptValue(const formImageViewer& w, size_t c = 0)
{
    const ImageViewer::ViewData& vd = w.model->Record(0).data;
    if (c >= vd.planes.size() || vd.planes[c].IsEmpty())
        return -1;
    return vd.planes[c].GetData()[0];
}

std::unique_ptr<formImageViewer> OpenPyramid(std::vector<int> size, int levels, std::shared_ptr<Gate> gate = nullptr,
                                             std::vector<ImageReader::ChannelHint> hints = {})
{
    auto w = MakeWindow();
    w->LoadReader(std::make_unique<Pyramid>(std::move(size), levels, std::move(gate), 0, std::move(hints)),
                  QStringLiteral("Lumora - pyramid"));
    return w;
}

} // namespace

TEST(MatchingLevel, FinestLevelWhosePixelsCoverAScreenPixel)
{
    const std::vector<std::pair<double, double>> xy = {{1, 1}, {2, 2}, {4, 4}};
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 1.0, 1.0), 0);
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 3.0, 3.0), 0);
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 0.6, 0.6), 1);   // level 0 would be finer than the screen
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 0.4999, 0.4999), 1); // a fit zoom a hair under 1/2
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 0.3, 0.3), 2);
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 0.01, 0.01), 2); // nothing coarser exists
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, 0.3, 1.0), 2);   // both axes must be covered
    // A side view whose depth the pyramid never coarsens follows its other axis alone.
    const std::vector<std::pair<double, double>> xz = {{1, 1}, {2, 1}, {4, 1}};
    EXPECT_EQ(ImageViewer::MatchingLevel(xz, 0.5, 0.1), 1);
    EXPECT_EQ(ImageViewer::MatchingLevel({}, 1.0, 1.0), 0);
    EXPECT_EQ(ImageViewer::MatchingLevel(xy, std::nan(""), 1.0), 2);
}

TEST(Multiscale, CoarsestLevelFirstThenTheMatchingOne)
{
    auto gate = std::make_shared<Gate>();
    gate->Set(false);
    // At zoom 1 the full-resolution level matches; it is held back.
    auto w = OpenPyramid({200, 120, 9}, 3, gate);
    ASSERT_EQ(w->LevelCount(), 3);
    const auto until = [&](const std::function<bool()>& done) {
        // The full level is held back, so the worker is not idle: deliver what it posted.
        for (int k = 0; k < 200 && !done(); ++k) {
            QCoreApplication::sendPostedEvents(w.get(), QEvent::MetaCall);
            if (!done())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    ASSERT_TRUE(until([&] { return w->GDIImageXY.width() == 50; })) << w->GDIImageXY.width();
    EXPECT_EQ(w->GDIImageXY.height(), 30);
    // The coarse picture covers the same place on the screen as the full one will.
    const QImage shown = w->pictureXY->grab().toImage();
    EXPECT_GT(qGray(shown.pixel(190, 110)), qGray(shown.pixel(5, 5)) + 50);

    // The readout does not wait for the plane either.
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("\u2026"));

    // A gamma step meanwhile re-colours the coarse picture and leaves the running job alone.
    const std::uint64_t ticket = w->model->Record(0).job;
    w->trackGamma->setValue(w->trackGamma->value() + 5);
    EXPECT_EQ(w->model->Record(0).job, ticket);
    EXPECT_TRUE(w->model->Record(0).jobActive);

    gate->Set(true);
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 200);
    EXPECT_EQ(w->GDIImageXY.height(), 120);
    EXPECT_EQ(KeptValue(*w), 4); // plane z = 4 of level 0
    // The cursor stands in the right half: 4 + 50.
    EXPECT_EQ(w->lblPixelValue->text(), QStringLiteral("54"));
}

TEST(Multiscale, MeasurementsReadOffTheWindowThread)
{
    auto gate = std::make_shared<Gate>();
    auto w = OpenPyramid({64, 32, 6}, 2, gate);
    w->WaitForViews();
    gate->Set(false);
    w->image->Clear(); // the side views read every plane; start with none at hand
    const int before = gate->uiReads.load();

    // The cursor profile along z reads every plane: on the worker.
    w->comboDimP->setCurrentIndex(3);
    EXPECT_FALSE(w->cursorprofile);
    // A region histogram on a plane not read yet waits for it too.
    w->trackDim[2]->setValue(1);
    Drag(w->pictureXY, {10, 10}, {30, 20}, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(w->meastype, 1);
    EXPECT_FALSE(w->histogram);
    EXPECT_EQ(gate->uiReads.load(), before);

    gate->Set(true);
    w->WaitForViews();
    ASSERT_TRUE(w->cursorprofile);
    ASSERT_TRUE(w->histogram);
    // 20 x 10 pixels of plane 1, all in the left half: 1.
    EXPECT_EQ(w->histogram->m_valmin, 1);
    EXPECT_EQ(w->histogram->m_valmax, 1);
    EXPECT_EQ(gate->uiReads.load(), before);
}

TEST(Multiscale, ZoomPicksTheLevelAndItsPlane)
{
    auto w = OpenPyramid({256, 128, 16}, 3);
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 256);
    const int z = 13;
    w->trackDim[2]->setValue(z);
    w->WaitForViews();
    EXPECT_EQ(KeptValue(*w), z);

    // Half a screen pixel per image pixel: level 1, and its own plane of the same depth.
    w->ZoomAbout(0.5, QPointF(10, 10));
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 128);
    EXPECT_EQ(KeptValue(*w), 1000 + z * 8 / 16);
    // A little more than half still needs level 1: level 0 would be finer than the screen.
    w->ZoomAbout(1.2, QPointF(10, 10));
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 128);
    // A quarter and below: the coarsest.
    w->ZoomAbout(0.25, QPointF(10, 10));
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 64);
    EXPECT_EQ(KeptValue(*w), 2000 + z * 4 / 16);
    // Back to actual pixels: full resolution again.
    w->ActualPixels();
    w->WaitForViews();
    EXPECT_EQ(w->GDIImageXY.width(), 256);
    EXPECT_EQ(KeptValue(*w), z);
}

TEST(Multiscale, ProjectionRunsOnTheMatchingLevel)
{
    auto w = OpenPyramid({256, 128, 15}, 2);
    w->ZoomAbout(0.5, QPointF(10, 10));
    w->WaitForViews();
    w->comboProj->setCurrentIndex(1);
    w->checkDimProj[2]->setChecked(true);
    w->WaitForViews();
    // Level 1 has 8 planes: the maximum is its last, 7.
    EXPECT_EQ(w->GDIImageXY.width(), 128);
    EXPECT_EQ(KeptValue(*w), 1000 + 7);
    // The side view of depth still shows one row of every plane at the same level.
    EXPECT_EQ(w->GDIImageXZ.height(), 8);
}

TEST(Multiscale, ChannelHintsSeedTheChannels)
{
    std::vector<ImageReader::ChannelHint> hints(2);
    hints[0].name = "DAPI";
    hints[0].hasColor = true;
    hints[0].red = 0;
    hints[0].green = 0;
    hints[0].blue = 255;
    hints[0].hasWindow = true;
    hints[0].windowStart = 10;
    hints[0].windowEnd = 2000;
    hints[1].name = "GFP";
    hints[1].active = false;
    auto w = OpenPyramid({64, 32, 4, 2}, 1, nullptr, hints);
    w->WaitForViews();
    EXPECT_EQ(w->comboDimC->currentIndex(), 4); // "(none)" comes first
    ASSERT_EQ(w->listChannels->count(), 2);
    EXPECT_EQ(w->listChannels->item(0)->text(), QStringLiteral("DAPI"));
    EXPECT_EQ(w->listChannels->item(1)->text(), QStringLiteral("GFP"));
    EXPECT_EQ(w->listChannels->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(w->listChannels->item(1)->checkState(), Qt::Unchecked);
    const ImageViewer::ImageChannel& dapi = *(*w->channels)[0];
    EXPECT_EQ((std::array<int, 3>{dapi.m_r, dapi.m_g, dapi.m_b}), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(dapi.m_min, 10);
    EXPECT_EQ(dapi.m_max, 2000);
    EXPECT_FALSE(dapi.m_autoscaling);
}

TEST(Multiscale, OmeZarrFolderOpensWithItsChannels)
{
    auto w = MakeWindow(true);
    w->LoadImageW(QString::fromStdString(std::string(LUMORA_TESTDATA) + "/zarr/ome5d.zarr"));
    ASSERT_TRUE(w->image) << w->Internals().lastOpenError.toStdString();
    w->WaitForViews();
    EXPECT_EQ(w->LevelCount(), 3);
    // The image's own channel axis "c" (x, y, z, c, t in the window's order).
    EXPECT_EQ(w->ChannelDimension(), 3);
    ASSERT_EQ(w->listChannels->count(), 3);
    EXPECT_EQ(w->listChannels->item(2)->text(), QStringLiteral("mCherry"));
    const ImageViewer::ImageChannel& gfp = *(*w->channels)[1];
    EXPECT_EQ((std::array<int, 3>{gfp.m_r, gfp.m_g, gfp.m_b}), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(gfp.m_max, 30000);
    EXPECT_FALSE(w->GDIImageXY.isNull());
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
    const QString notAnAddress = w->Internals().lastOpenError;
    dialog->accept();
    w->WaitForOpen();
    EXPECT_FALSE(w->image);
    EXPECT_NE(w->Internals().lastOpenError, notAnAddress);
}

LUMORA_VIEWER_TEST_MAIN()
