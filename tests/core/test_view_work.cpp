// The worker behind the views, without a window: newest request per slot, cancellation and
// progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ViewWork.h"

using ImageReader::ProjectionControl;
using ImageViewer::ViewWork;

namespace {

// A job that records that it ran and then works until cancelled or released.
struct Blocker
{
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::atomic<bool> sawCancel{false};
    ViewWork::Job Job()
    {
        return [this](ProjectionControl& control, std::uint64_t) {
            control.total = 10;
            control.done = 4;
            started = true;
            while (!control.cancel && !release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sawCancel = control.cancel.load();
        };
    }
    void WaitStarted()
    {
        while (!started)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

} // namespace

TEST(ViewWork, OnlyTheNewestRequestOfASlotRuns)
{
    ViewWork work;
    Blocker running;
    work.Submit(0, running.Job());
    running.WaitStarted();

    std::mutex lock;
    std::vector<int> ran;
    const auto record = [&](int id) {
        return [&, id](ProjectionControl&, std::uint64_t) {
            const std::lock_guard<std::mutex> g(lock);
            ran.push_back(id);
        };
    };
    // While slot 0 is busy: three requests for slot 1 and one more for slot 0.
    const auto first = work.Submit(1, record(1));
    work.Submit(1, record(2));
    const auto third = work.Submit(1, record(3));
    const auto zero = work.Submit(0, record(10));
    work.Wait();

    EXPECT_TRUE(running.sawCancel) << "a newer request for its slot cancels a running job";
    EXPECT_EQ(ran, (std::vector<int>{3, 10})) << "pending requests of a slot are replaced, slots keep their order";
    EXPECT_FALSE(work.IsCurrent(1, first));
    EXPECT_TRUE(work.IsCurrent(1, third));
    EXPECT_TRUE(work.IsCurrent(0, zero));
    EXPECT_EQ(work.CompletedCount(), 2) << "the cancelled job does not count";
}

TEST(ViewWork, CancelAllStopsEverythingAndStalesEveryTicket)
{
    ViewWork work;
    Blocker running;
    const auto a = work.Submit(0, running.Job());
    std::atomic<bool> pendingRan{false};
    const auto b = work.Submit(2, [&](ProjectionControl&, std::uint64_t) { pendingRan = true; });
    running.WaitStarted();
    EXPECT_TRUE(work.IsBusy());
    EXPECT_DOUBLE_EQ(work.Progress(), 0.4);

    work.CancelAll();
    work.Wait();
    EXPECT_TRUE(running.sawCancel);
    EXPECT_FALSE(pendingRan);
    EXPECT_FALSE(work.IsCurrent(0, a));
    EXPECT_FALSE(work.IsCurrent(2, b));
    EXPECT_FALSE(work.IsBusy());
    EXPECT_EQ(work.BusySeconds(), 0.0);
}

TEST(ViewWork, ReleasedJobCompletesAndTheDestructorCancelsARunningOne)
{
    Blocker finishing;
    auto blocker = std::make_unique<Blocker>();
    {
        ViewWork work;
        work.Submit(0, finishing.Job());
        finishing.WaitStarted();
        finishing.release = true;
        work.Wait();
        EXPECT_FALSE(finishing.sawCancel);
        EXPECT_EQ(work.CompletedCount(), 1);
        work.Submit(0, blocker->Job());
        blocker->WaitStarted();
    } // joins: returns only because the running job was cancelled
    EXPECT_TRUE(blocker->sawCancel);
}

TEST(ViewWork, UrgentJobsGoFirstAndInterruptOthersWhichRunAgain)
{
    ViewWork work;
    std::mutex lock;
    std::vector<std::string> order;
    const auto note = [&](const std::string& what) {
        const std::lock_guard<std::mutex> hold(lock);
        order.push_back(what);
    };
    // A side view's long job: works until cancelled the first time, then finishes.
    std::atomic<int> sideRuns{0};
    std::atomic<bool> sideStarted{false};
    work.Submit(1, [&](ProjectionControl& control, std::uint64_t) {
        if (++sideRuns == 1) {
            sideStarted = true;
            while (!control.cancel)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        note("side");
    });
    work.Submit(2, [&](ProjectionControl&, std::uint64_t) { note("other"); });
    while (!sideStarted)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::uint64_t urgent = work.Submit(0, [&](ProjectionControl&, std::uint64_t) { note("xy"); }, true);
    work.Wait();
    EXPECT_EQ(order, (std::vector<std::string>{"xy", "side", "other"}));
    EXPECT_EQ(sideRuns.load(), 2);
    EXPECT_TRUE(work.IsCurrent(0, urgent));
    EXPECT_EQ(work.CompletedCount(), 3);

    // An urgent job never interrupts another urgent one, and a slot's newer job still replaces
    // an interrupted one rather than letting it run again.
    order.clear();
    std::atomic<bool> firstStarted{false};
    work.Submit(1, [&](ProjectionControl& control, std::uint64_t) {
        firstStarted = true;
        while (!control.cancel)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        note("stale side");
    });
    while (!firstStarted)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    work.Submit(0, [&](ProjectionControl&, std::uint64_t) { note("xy"); }, true);
    work.Submit(1, [&](ProjectionControl&, std::uint64_t) { note("new side"); });
    work.Wait();
    EXPECT_EQ(order, (std::vector<std::string>{"stale side", "xy", "new side"}));
}
