// The viewer's background work where a microscopist feels it: a side view cut short by the
// view in front keeps the channels it finished, results of an image that was closed or
// replaced never reach the views, each viewer hears its own reader messages, and the
// process's thread pool finishes every block also when all its threads are busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Parallel.h"
#include "StopToken.h"
#include "ViewerTestKit.h"

using namespace ViewerTestKit;

namespace {

// Holds back reads of one channel's planes off the test's thread while closed; a held read
// gives up when its job is stopped (the test pokes it after the stop).
struct ChannelGate
{
    std::mutex lock;
    std::condition_variable changed;
    bool open = true;
    int channel = 0;
    int held = 0; // reads held back so far
    const std::thread::id owner = std::this_thread::get_id();

    // False when the read was stopped: it gives up without a plane, as a network read does.
    bool Pass(int c)
    {
        if (c != channel || std::this_thread::get_id() == owner)
            return true;
        if (ImageReader::StopRequested())
            return false;
        std::unique_lock<std::mutex> hold(lock);
        if (open)
            return true;
        ++held;
        changed.notify_all();
        // Bounded, so that a fault shows as a failed check rather than a hung test.
        changed.wait_for(hold, std::chrono::seconds(20), [this] { return open || ImageReader::StopRequested(); });
        return !ImageReader::StopRequested();
    }
    void Set(bool value)
    {
        {
            const std::lock_guard<std::mutex> hold(lock);
            open = value;
        }
        changed.notify_all();
    }
    void Poke() { changed.notify_all(); }
    // Until `n` reads have been held back in all; false after 20 s.
    bool WaitForHeld(int n)
    {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(20), [&] { return held >= n; });
    }
};

// x, y, z, ch with value 1000 ch + 20 z + x + y; reads of the gate's channel wait on it.
class GatedImage : public FormulaImage
{
public:
    explicit GatedImage(ChannelGate& gate)
        : FormulaImage({16, 4, 6, 3}, Value, {"x", "y", "z", "ch"}), m_gate(gate)
    {
    }
    static unsigned short Value(const std::vector<int>& c)
    {
        return static_cast<unsigned short>(1000 * c[3] + 20 * c[2] + c[0] + c[1]);
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& pos) override
    {
        if (!m_gate.Pass(pos[1]))
            return {};
        return FormulaImage::GetSlice(pos);
    }

private:
    ChannelGate& m_gate;
};

// The first sample of the XY view's kept plane of channel entry 0; -1 without one.
int KeptFirstSample(const Viewer& v)
{
    const ViewData& d = v.Record(kViewXY).data;
    return d.planes.empty() || d.planes[0].IsEmpty() ? -1 : d.planes[0].GetData()[0];
}

} // namespace

// During a slider drag the view in front interrupts the side views again and again; a side
// view that started over each time would never finish. What it finished stays.
TEST(ViewerWork, AnInterruptedSideViewKeepsTheChannelsItFinished)
{
    ChannelGate gate;
    gate.channel = 2;
    auto poster = std::make_shared<QueuePoster>();
    Viewer v(poster);
    v.inlineLimitBytes = 0;
    ASSERT_EQ(v.Open(std::make_unique<GatedImage>(gate)), "");
    v.Wait();
    // Only XZ from here on, with nothing at hand: a y move gives it a job of three channels.
    ASSERT_TRUE(v.SetAxes(ViewAxes{0, 1, 2, -1}));
    v.Wait();
    v.Session().image->Clear();
    gate.Set(false);
    ASSERT_TRUE(v.SetCursor(1, 3));
    ASSERT_TRUE(gate.WaitForHeld(1)); // XZ has read channels 0 and 1 and waits in channel 2

    // A z move: XY is urgent and cuts the XZ job short. Then XY, or the XZ job again, waits
    // in channel 2.
    ASSERT_TRUE(v.SetCursor(2, 1));
    gate.Poke();
    ASSERT_TRUE(gate.WaitForHeld(2));
    poster->Drain();
    const ViewData& kept = v.Record(kViewXZ).data;
    ASSERT_EQ(kept.have.size(), 3u);
    EXPECT_TRUE(kept.have[0]);
    EXPECT_TRUE(kept.have[1]);
    EXPECT_FALSE(kept.have[2]);
    ASSERT_FALSE(kept.planes[1].IsEmpty());
    // XZ through y 3: the first sample is x 0, z 0 of channel 1.
    EXPECT_EQ(kept.planes[1].GetData()[0], GatedImage::Value({0, 3, 0, 1}));

    gate.Set(true);
    v.Wait();
    // The rest came, and the picture is that of a viewer that was never interrupted.
    ChannelGate open;
    Viewer reference;
    ASSERT_EQ(reference.Open(std::make_unique<GatedImage>(open)), "");
    ASSERT_TRUE(reference.SetAxes(ViewAxes{0, 1, 2, -1}));
    ASSERT_TRUE(reference.SetCursor(1, 3));
    ASSERT_TRUE(reference.SetCursor(2, 1));
    reference.Wait();
    ASSERT_TRUE(reference.SetDisplay(v.Display())); // the same ranges, whatever order they widened in
    reference.Wait();
    for (int view : {kViewXY, kViewXZ}) {
        ASSERT_FALSE(v.Record(view).picture.IsNull()) << view;
        EXPECT_TRUE(SameBytes(v.Record(view).picture, reference.Record(view).picture)) << view;
    }
}

// A channel switched on while its view is being read is read too: the picture that ends up
// on the screen has it, as if it had been on from the start.
TEST(ViewerWork, AChannelSwitchedOnDuringARunningReadIsShown)
{
    ChannelGate gate;
    gate.channel = 2;
    Viewer v;
    v.inlineLimitBytes = 0;
    ASSERT_EQ(v.Open(std::make_unique<GatedImage>(gate)), "");
    v.Wait();
    ChannelDisplay green = v.Display().channels[1];
    green.enabled = false;
    ASSERT_TRUE(v.SetChannel(1, green));
    v.Wait();
    v.Session().image->Clear();
    gate.Set(false);
    ASSERT_TRUE(v.SetCursor(2, 1)); // XY reads channels 0 and 2 and waits in channel 2
    ASSERT_TRUE(gate.WaitForHeld(1));
    green.enabled = true;
    ASSERT_TRUE(v.SetChannel(1, green));
    gate.Set(true);
    v.Wait();

    ChannelGate open;
    Viewer reference;
    ASSERT_EQ(reference.Open(std::make_unique<GatedImage>(open)), "");
    ASSERT_TRUE(reference.SetCursor(2, 1));
    reference.Wait();
    ASSERT_TRUE(reference.SetDisplay(v.Display()));
    reference.Wait();
    ASSERT_FALSE(v.Record(kViewXY).picture.IsNull());
    EXPECT_GT(Rgb(v.Record(kViewXY).picture, 8, 2)[1], 0) << "green is drawn";
    EXPECT_TRUE(SameBytes(v.Record(kViewXY).picture, reference.Record(kViewXY).picture));
}

// Results the worker posted for an image are dropped once another image is open or the
// viewer is closed: no view ever shows a picture of the image before.
TEST(ViewerWork, ResultsOfAnImageClosedOrReplacedNeverReachTheViews)
{
    const FormulaImage::Formula first = [](const std::vector<int>& c) { return static_cast<unsigned short>(100 + c[0]); };
    const FormulaImage::Formula second = [](const std::vector<int>& c) { return static_cast<unsigned short>(900 + c[1]); };
    auto poster = std::make_shared<QueuePoster>();
    Viewer v(poster);
    v.inlineLimitBytes = 0;
    std::vector<std::uint64_t> shown; // the image of every picture that arrived
    v.AddListener([&](const ChangeSet& c) {
        if (!c.Has(ChangeViewReady))
            return;
        for (int i = 0; i < kViewCount; ++i)
            if ((c.views & (1 << i)) && !v.Record(i).picture.IsNull())
                shown.push_back(v.Record(i).shown.image);
    });

    ASSERT_EQ(v.Open(Image({16, 12, 5}, {"x", "y", "z"}, first)), "");
    v.Work().Wait(); // the first image's planes wait in the poster
    ASSERT_GT(poster->Pending(), 0u);
    ASSERT_EQ(v.Open(Image({16, 12, 5}, {"x", "y", "z"}, second)), "");
    const std::uint64_t serial = v.Session().serial;
    v.Wait();
    ASSERT_FALSE(shown.empty());
    for (std::uint64_t image : shown)
        EXPECT_EQ(image, serial);
    ASSERT_EQ(KeptFirstSample(v), 900); // x 0, y 0 of the second image

    // Closed with results in flight: nothing arrives, nothing is kept.
    ASSERT_TRUE(v.SetCursor(2, 4));
    v.Work().Wait();
    shown.clear();
    v.Close();
    poster->Drain();
    EXPECT_TRUE(shown.empty());
    for (int i = 0; i < kViewCount; ++i) {
        EXPECT_TRUE(v.Record(i).picture.IsNull()) << i;
        EXPECT_TRUE(v.Record(i).data.planes.empty()) << i;
    }
}

// An event loop may hand results over late: whatever order the worker's results of a
// slider drag arrive in, the view keeps the newest position and never goes back.
TEST(ViewerWork, ResultsArrivingOutOfOrderNeverTakeTheViewBack)
{
    // Runs what waits newest first.
    struct LifoPoster : Poster
    {
        std::mutex lock;
        std::vector<std::function<void()>> tasks;
        void Post(std::function<void()> task) override
        {
            const std::lock_guard<std::mutex> hold(lock);
            tasks.push_back(std::move(task));
        }
        void Drain() override
        {
            for (std::vector<std::function<void()>> batch;; batch.clear()) {
                {
                    const std::lock_guard<std::mutex> hold(lock);
                    batch.swap(tasks);
                }
                if (batch.empty())
                    return;
                for (auto task = batch.rbegin(); task != batch.rend(); ++task)
                    (*task)();
            }
        }
    };
    auto poster = std::make_shared<LifoPoster>();
    Viewer v(poster);
    v.inlineLimitBytes = 0;
    ASSERT_EQ(v.Open(Image({16, 12, 3, 5}, {"x", "y", "z", "t"},
                           [](const std::vector<int>& c) { return static_cast<unsigned short>(100 * c[3] + c[0]); })),
              "");
    v.Wait();
    std::vector<int> shownT;
    v.AddListener([&](const ChangeSet& c) {
        if (c.Has(ChangeViewReady) && (c.views & ViewXY) && !v.Record(kViewXY).picture.IsNull())
            shownT.push_back(KeptFirstSample(v) / 100);
    });
    for (int t = 1; t < 5; ++t) {
        ASSERT_TRUE(v.SetCursor(3, t));
        v.Work().Wait(); // each position read to the end, its result waiting in the poster
    }
    v.Wait();
    ASSERT_FALSE(shownT.empty());
    for (int t : shownT)
        EXPECT_EQ(t, 4);
    EXPECT_EQ(KeptFirstSample(v), 400);
}

// Two windows open at once: each one's reads report to its own handler, none to the other's.
TEST(ViewerWork, TwoViewersHearOnlyTheirOwnReaderMessages)
{
    std::mutex lock;
    std::vector<std::string> heard[2];
    {
        Viewer a, b;
        Viewer* viewers[2] = {&a, &b};
        for (int k = 0; k < 2; ++k)
            viewers[k]->Diagnostics()->Set([&, k](const std::string& t) {
                const std::lock_guard<std::mutex> hold(lock);
                heard[k].push_back(t);
            });
        // Interleaved on the two workers.
        for (int round = 0; round < 20; ++round)
            for (int k = 0; k < 2; ++k)
                viewers[k]->Work().Submit(round, [k](ImageReader::ProjectionControl&, std::uint64_t) {
                    ImageReader::ReportDiagnostic(k == 0 ? "a" : "b");
                });
        a.Work().Wait();
        b.Work().Wait();
    }
    ASSERT_EQ(heard[0].size(), 20u);
    ASSERT_EQ(heard[1].size(), 20u);
    for (int k = 0; k < 2; ++k)
        for (const std::string& t : heard[k])
            EXPECT_EQ(t, k == 0 ? "a" : "b");
}

// Every block is done exactly once and before ParallelFor returns, also when it is called
// from every pool thread at once, so that no helper is free: the callers do the work.
TEST(ThreadPool, ParallelForFinishesFromInsideABusyPool)
{
    const unsigned tasks = 2 * std::max(2u, CoreCount()) + 1;
    std::mutex lock;
    std::condition_variable done;
    unsigned finished = 0;
    std::atomic<int> wrong{0};
    for (unsigned t = 0; t < tasks; ++t)
        ASSERT_TRUE(RunInBackground([&] {
            std::vector<int> hits(10000, 0);
            ParallelFor(hits.size(), 97, 8, [&](size_t b, size_t e) {
                for (size_t i = b; i < e; ++i)
                    ++hits[i];
            });
            for (int h : hits)
                if (h != 1)
                    ++wrong;
            const std::lock_guard<std::mutex> hold(lock);
            ++finished;
            done.notify_all();
        }));
    std::unique_lock<std::mutex> hold(lock);
    EXPECT_TRUE(done.wait_for(hold, std::chrono::seconds(20), [&] { return finished == tasks; }))
        << finished << " of " << tasks << " finished";
    EXPECT_EQ(wrong.load(), 0);
}
