// The viewer's view pipeline without a window: the worker's pictures against those read at
// once, re-colouring without reads, the newest request winning, missing and oversized
// planes, multiscale images coarse to fine, a stalled server, and saved states.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "LoopbackServer.h"
#include "OpenImage.h"
#include "PyramidImage.h"
#include "StateJson.h"
#include "ViewerTestKit.h"

using namespace ViewerTestKit;

namespace {

unsigned short Ramp(const std::vector<int>& p)
{
    return static_cast<unsigned short>((p[0] * 37 + p[1] * 11 + p[2] * 101 + (p.size() > 3 ? p[3] * 1000 : 0)) % 4000);
}

// Opens `reader` with every read on the worker (`worker`) or every small one at once.
void OpenWith(Viewer& v, std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>> reader, bool worker)
{
    if (worker)
        v.inlineLimitBytes = 0;
    ASSERT_EQ(v.Open(std::move(reader)), "");
    v.Wait();
}

void Project(Viewer& v, int d)
{
    v.SetProjection(ProjectionMode::Max);
    v.SetProjected(d, true);
    v.Wait();
}

// The first sample of view `index`'s kept data for channel entry c; -1 when there is none.
int KeptValue(const Viewer& v, int index = kViewXY, size_t c = 0)
{
    const ViewData& d = v.Record(index).data;
    if (c >= d.planes.size() || d.planes[c].IsEmpty())
        return -1;
    return d.planes[c].GetData()[0];
}

} // namespace

TEST(ViewerPipeline, WorkerPicturesEqualThoseReadAtOnce)
{
    struct Case
    {
        const char* name;
        std::vector<int> size;
        std::vector<std::string> names;
        int project; // dimension to project, or -1
    };
    const Case cases[] = {
        {"slices", {24, 20, 9}, {"x", "y", "z"}, -1},
        {"projection", {24, 20, 9}, {"x", "y", "z"}, 2},
        {"channels", {16, 12, 7, 3}, {"x", "y", "z", "ch"}, -1},
        {"channels projected", {16, 12, 7, 3}, {"x", "y", "z", "ch"}, 2},
        {"spectrum", {16, 12, 5, 12}, {"x", "y", "z", "lambda"}, -1},
    };
    for (const Case& c : cases) {
        Viewer at, worker;
        OpenWith(at, Image(c.size, c.names, Ramp), false);
        OpenWith(worker, Image(c.size, c.names, Ramp), true);
        EXPECT_GT(worker.Work().CompletedCount(), 0) << c.name;
        EXPECT_EQ(at.Work().CompletedCount(), 0) << c.name;
        if (c.project >= 0) {
            Project(at, c.project);
            Project(worker, c.project);
        }
        for (int view = 0; view < kViewCount; ++view) {
            const ViewPicture& p = at.Record(view).picture;
            ASSERT_FALSE(p.IsNull()) << c.name << " " << view;
            EXPECT_TRUE(AnyLit(p)) << c.name << " " << view;
            EXPECT_TRUE(SameBytes(worker.Record(view).picture, p)) << c.name << " " << view;
        }
        // Pictures of each view's axes: XZ is x by z, YZ z by y.
        EXPECT_EQ(at.Record(kViewXZ).picture.width, c.size[0]);
        EXPECT_EQ(at.Record(kViewXZ).picture.height, c.size[2]);
        EXPECT_EQ(at.Record(kViewYZ).picture.width, c.size[2]);
        EXPECT_EQ(at.Record(kViewYZ).picture.height, c.size[1]);
    }
}

TEST(ViewerPipeline, DisplayChangesRecolourWithoutReading)
{
    for (const bool worker : {false, true}) {
        Viewer v;
        OpenWith(v, Image({16, 12, 8, 3}, {"x", "y", "z", "ch"}, Ramp), worker);
        Project(v, 2);
        const ViewPicture before = Copy(v.Record(kViewXY).picture);
        const int reads = Source(v).reads;
        const auto step = [&](const std::function<void(DisplayState&)>& change) {
            DisplayState d = v.Display();
            change(d);
            ASSERT_TRUE(v.SetDisplay(d));
            v.Wait();
        };
        step([](DisplayState& d) { d.channels[0].max = 9000; });
        step([](DisplayState& d) { d.channels[1].gamma = 7; });
        step([](DisplayState& d) { d.channels[2].r = 128; });
        step([](DisplayState& d) { d.channels[1].enabled = false; });
        step([](DisplayState& d) { d.channels[1].enabled = true; });
        EXPECT_EQ(Source(v).reads, reads) << "worker " << worker;
        EXPECT_FALSE(SameBytes(v.Record(kViewXY).picture, before)) << "the colours did change";
    }
}

TEST(ViewerPipeline, ASliderDragShowsTheNewestPositionOnly)
{
    Viewer v;
    OpenWith(v, Image({64, 48, 30, 20}, {"x", "y", "z", "t"}, Ramp), true);
    const int before = v.Work().CompletedCount();
    for (int t = 0; t < 20; ++t)
        v.SetCursor(3, t);
    v.Wait();
    EXPECT_LT(v.Work().CompletedCount() - before, 20 * 3) << "superseded requests were dropped";

    Viewer reference;
    OpenWith(reference, Image({64, 48, 30, 20}, {"x", "y", "z", "t"}, Ramp), false);
    reference.SetCursor(3, 19);
    reference.Wait();
    for (int view = 0; view < kViewCount; ++view)
        EXPECT_TRUE(SameBytes(v.Record(view).picture, reference.Record(view).picture)) << view;
}

TEST(ViewerPipeline, MissingPlanesDrawBlackAndAreReadAgain)
{
    for (const bool worker : {false, true}) {
        auto source = Image({8, 8, 5}, {"x", "y", "z"}, [](const std::vector<int>&) -> unsigned short { return 500; });
        source->failing.insert({2});
        Viewer v;
        OpenWith(v, std::move(source), worker);
        // Plane 2, under the cursor, is missing: nothing to draw; its row in XZ stays black.
        EXPECT_TRUE(v.Record(kViewXY).picture.IsNull()) << worker;
        const ViewPicture& xz = v.Record(kViewXZ).picture;
        ASSERT_FALSE(xz.IsNull());
        EXPECT_NE(Rgb(xz, 3, 1), (std::array<int, 3>{0, 0, 0}));
        EXPECT_EQ(Rgb(xz, 3, 2), (std::array<int, 3>{0, 0, 0}));
        // A plane that failed is asked for again.
        Source(v).failing.clear();
        v.SetCursor(2, 3);
        v.SetCursor(2, 2);
        v.Wait();
        ASSERT_FALSE(v.Record(kViewXY).picture.IsNull()) << worker;
        EXPECT_NE(Rgb(v.Record(kViewXY).picture, 3, 3), (std::array<int, 3>{0, 0, 0}));
    }

}

TEST(ViewerPipeline, ViewsLargerThanTheBudgetAreNotAttempted)
{
    // A plane of 1.2 MB and its projections do not fit 1 MiB.
    Viewer v;
    ASSERT_EQ(v.Open(Image({1024, 600, 2}, {"x", "y", "z"}, Ramp), size_t(1) << 20), "");
    v.Wait();
    EXPECT_EQ(Source(v).reads, 0);
    EXPECT_TRUE(v.refusedView);
    EXPECT_TRUE(v.Record(kViewXY).picture.IsNull());
}

TEST(ViewerPipeline, MultiscaleShowsTheCoarsestLevelFirstAndNeverReadsOnTheModelsThread)
{
    auto gate = std::make_shared<ReadGate>();
    gate->Set(false);
    Viewer v;
    // At zoom 1 the full-resolution level matches; it is held back.
    ASSERT_EQ(v.Open(std::make_unique<PyramidImage>(std::vector<int>{200, 120, 9}, 3, gate)), "");
    ASSERT_EQ(v.Session().LevelCount(), 3);
    ASSERT_TRUE(gate->WaitForHeldRead());
    // The coarsest level's plane of the same depth (4 of 9 is 1 of 3) came first.
    v.ResultPoster()->Drain();
    EXPECT_EQ(v.Record(kViewXY).picture.width, 50);
    EXPECT_EQ(v.Record(kViewXY).picture.height, 30);
    const ViewData& preview = v.Record(kViewXY).preview;
    ASSERT_EQ(preview.planes.size(), 1u);
    EXPECT_EQ(preview.key.level, 2);
    EXPECT_EQ(preview.planes[0].GetData()[0], 2000 + 1);
    // What a readout needs of the full level is not at hand yet.
    EXPECT_FALSE(v.Record(kViewXY).data.Missing({0}).empty());

    // A display change meanwhile re-colours the coarse picture and leaves the job running.
    const std::uint64_t job = v.Record(kViewXY).job;
    ChannelDisplay g = v.Display().global;
    g.gamma += 5;
    ASSERT_TRUE(v.SetGlobalChannel(g));
    EXPECT_EQ(v.Record(kViewXY).job, job);
    EXPECT_TRUE(v.Record(kViewXY).jobActive);
    EXPECT_EQ(v.Record(kViewXY).picture.width, 50);

    gate->Set(true);
    v.Wait();
    EXPECT_EQ(v.Record(kViewXY).picture.width, 200);
    EXPECT_EQ(v.Record(kViewXY).picture.height, 120);
    EXPECT_EQ(KeptValue(v), 4); // plane z = 4 of level 0
    EXPECT_EQ(v.Record(kViewXY).data.planes[0].GetData()[199], 4 + 50);
    EXPECT_EQ(gate->ownerReads.load(), 0);
}

TEST(ViewerPipeline, ZoomPicksTheLevelAndItsPlane)
{
    Viewer v;
    ASSERT_EQ(v.Open(std::make_unique<PyramidImage>(std::vector<int>{256, 128, 16}, 3)), "");
    const int z = 13;
    v.SetCursor(2, z);
    v.Wait();
    EXPECT_EQ(v.Record(kViewXY).picture.width, 256);
    EXPECT_EQ(KeptValue(v), z);
    struct Step { double zoom; int width, value; bool reread; } steps[] = {
        {0.5, 128, 1000 + z * 8 / 16, true},  // half a screen pixel per image pixel: level 1
        {0.6, 128, 1000 + z * 8 / 16, false}, // level 0 would still be finer than the screen
        {0.25, 64, 2000 + z * 4 / 16, true},  // a quarter: the coarsest
        {0.01, 64, 2000 + z * 4 / 16, false}, // nothing coarser exists
        {1.0, 256, z, true},
    };
    for (const Step& s : steps) {
        const int mask = RecomputedBy(v, [&] { ASSERT_TRUE(v.SetZoom(s.zoom, V({0, 0}), false)); });
        EXPECT_EQ((mask & ViewXY) != 0, s.reread) << s.zoom;
        EXPECT_EQ(v.Record(kViewXY).picture.width, s.width) << s.zoom;
        EXPECT_EQ(KeptValue(v), s.value) << s.zoom;
    }
    // Two device pixels per screen pixel: half a screen pixel per image pixel is one device
    // pixel, the full resolution.
    v.devicePixelRatio = 2;
    v.SetZoom(0.5, V({0, 0}), false);
    v.Wait();
    EXPECT_EQ(v.Record(kViewXY).picture.width, 256);
    EXPECT_EQ(KeptValue(v), z);

    // A projection runs on the matching level: level 1 of 15 planes has 8, the last is 7.
    Viewer p;
    ASSERT_EQ(p.Open(std::make_unique<PyramidImage>(std::vector<int>{256, 128, 15}, 2)), "");
    p.SetZoom(0.5, V({0, 0}), false);
    Project(p, 2);
    EXPECT_EQ(p.Record(kViewXY).picture.width, 128);
    EXPECT_EQ(KeptValue(p), 1000 + 7);
    // The side view of depth still shows one row of every plane at the same level.
    EXPECT_EQ(p.Record(kViewXZ).picture.height, 8);
}

TEST(ViewerPipeline, ClosingOrReplacingDuringAStalledFetchDoesNotWaitForTheServer)
{
    // The server answers metadata but never a chunk; it tells when a chunk request hangs.
    std::mutex lock;
    std::condition_variable changed;
    int hanging = 0;
    LoopbackServer server(std::string(LUMORA_TESTDATA) + "/zarr", [&](const std::string& path) {
        const std::string name = path.substr(path.rfind('/') + 1);
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0])))
            return LoopbackServer::Action::Serve; // metadata
        {
            const std::lock_guard<std::mutex> hold(lock);
            ++hanging;
        }
        changed.notify_all();
        return LoopbackServer::Action::Hang;
    });
    const auto waitForHang = [&](int count) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(20), [&] { return hanging >= count; });
    };
    const auto seconds = [](const std::function<void()>& action) {
        const auto start = std::chrono::steady_clock::now();
        action();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const auto openRemote = [&](Viewer& v) {
        ImageReader::OpenedImage opened = ImageReader::OpenImage(server.Url("ome5d.zarr"));
        ASSERT_TRUE(opened.reader) << opened.error;
        // Every read of a remote image goes to the worker: opening does not wait either.
        EXPECT_LT(seconds([&] { ASSERT_EQ(v.Open(std::move(opened.reader)), ""); }), 1.0);
    };

    Viewer v;
    v.Diagnostics()->Set([](const std::string&) {});
    openRemote(v);
    ASSERT_TRUE(waitForHang(1));
    // A cursor move cancels the stalled job for a new one; closing stops that one too.
    EXPECT_LT(seconds([&] { EXPECT_TRUE(v.SetCursor(2, 0)); }), 1.0);
    EXPECT_LT(seconds([&] { v.Close(); }), 1.0);
    EXPECT_FALSE(v.Work().IsBusy());

    // Another image replaces a stalled one at once and shows.
    openRemote(v);
    ASSERT_TRUE(waitForHang(2));
    EXPECT_LT(seconds([&] { ASSERT_EQ(v.Open(Image({8, 6, 3}, {"x", "y", "z"}, Ramp)), ""); }), 1.0);
    v.Wait();
    EXPECT_EQ(v.Record(kViewXY).picture.width, 8);
    EXPECT_TRUE(AnyLit(v.Record(kViewXY).picture));

    // And a viewer going away with a stalled fetch does not wait for it either.
    auto last = std::make_unique<Viewer>();
    last->Diagnostics()->Set([](const std::string&) {});
    openRemote(*last);
    ASSERT_TRUE(waitForHang(3));
    EXPECT_LT(seconds([&] { last.reset(); }), 1.0);
}

TEST(ViewerPipeline, ASavedStateShowsTheSamePicturesInAnotherViewer)
{
    const FormulaImage::Formula cells = [](const std::vector<int>& c) -> unsigned short {
        return static_cast<unsigned short>(c[3] == 0 ? 40 * c[0] + 9 * c[2] : 1200 - 20 * c[1] + 3 * c[2]);
    };
    const auto open = [&](Viewer& v) {
        ASSERT_EQ(v.Open(Image({24, 20, 7, 2}, {"x", "y", "z", "ch"}, cells, {100, 100, 300, 0})), "");
        v.Wait();
    };
    Viewer a;
    open(a);
    a.SetCursor(2, 1);
    a.SetCursor(0, 5);
    ViewAxes axes = a.State().axes;
    axes.yz = 3; // the channel dimension across YZ is no view: only XY and XZ show
    a.SetAxes(axes);
    axes.yz = 2;
    a.SetAxes(axes);
    Project(a, 1);
    ChannelDisplay second = a.Display().channels[1];
    second.enabled = false;
    second.gamma = 12;
    a.SetChannel(1, second);
    a.SetZoom(2.5, V({-4, 7}), false);
    a.Wait();
    const ImageDescription description{a.Size(), a.Session().DimensionNames(), a.PixelSizes()};
    const std::string text = StateToJson(a.State(), a.Display(), description);

    Viewer b;
    open(b);
    ViewState s = b.State();
    DisplayState d = b.Display();
    ASSERT_EQ(StateFromJson(text, description, s, d), "");
    ASSERT_TRUE(b.SetState(s));
    ASSERT_TRUE(b.SetDisplay(d));
    b.Wait();
    // The same state (an unused measurement's corners aside) and display.
    EXPECT_EQ(StateToJson(b.State(), b.Display(), description), text);
    EXPECT_EQ(b.Display(), a.Display());
    for (int view = 0; view < kViewCount; ++view) {
        ASSERT_FALSE(a.Record(view).picture.IsNull()) << view;
        EXPECT_TRUE(SameBytes(b.Record(view).picture, a.Record(view).picture)) << view;
    }
    // Another image's sizes refuse it with a reason, changing nothing.
    Viewer other;
    ASSERT_EQ(other.Open(Image({8, 8}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0]); })), "");
    ViewState os = other.State();
    DisplayState od = other.Display();
    const ImageDescription small{other.Size(), other.Session().DimensionNames(), other.PixelSizes()};
    EXPECT_NE(StateFromJson(text, small, os, od), "");
    EXPECT_EQ(os, other.State());
}

TEST(ViewerPipeline, ARemoteImageShowsWhatTheSameFolderShows)
{
    LoopbackServer server(std::string(LUMORA_TESTDATA) + "/zarr");
    const auto show = [](Viewer& v, const std::string& where) {
        v.Diagnostics()->Set([](const std::string&) {});
        ImageReader::OpenedImage opened = ImageReader::OpenImage(where);
        ASSERT_TRUE(opened.reader) << where << ": " << opened.error;
        ASSERT_EQ(v.Open(std::move(opened.reader)), "");
        v.SetCursor(4, 1); // t
        v.Wait();
    };
    Viewer local, remote;
    show(local, std::string(LUMORA_TESTDATA) + "/zarr/ome5d.zarr");
    show(remote, server.Url("ome5d.zarr"));
    EXPECT_TRUE(remote.Session().ReadsMayWait());
    EXPECT_EQ(remote.Session().LevelCount(), 3);
    EXPECT_EQ(remote.Display(), local.Display());
    for (int view = 0; view < kViewCount; ++view) {
        ASSERT_FALSE(local.Record(view).picture.IsNull()) << view;
        EXPECT_TRUE(SameBytes(remote.Record(view).picture, local.Record(view).picture)) << view;
    }
    // The file's values (x + 50 y + 2000 z + 9000 c + 30000 t) reach the kept planes.
    const int z = local.State().cursor[2];
    EXPECT_EQ(KeptValue(remote, kViewXY, 1), 2000 * z + 9000 + 30000);
}
