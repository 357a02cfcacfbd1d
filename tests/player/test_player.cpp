#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <set>
#include <vector>

#include "Player.h"

using namespace Core;

namespace {

struct FakeClock : PlayClock
{
    double now = 0.0;
    double Now() override { return now; }
};

// A source whose worker reads one requested frame at a time, each taking `readSeconds` of
// the fake clock; a newer request replaces the queue, as the model's worker does.
struct SlowSource : FrameSource
{
    SlowSource(FakeClock& c, double seconds) : clock(c), readSeconds(seconds) {}

    bool IsFrameReady(int index) override
    {
        Update();
        return ready.count(index) > 0;
    }
    void RequestFrames(const std::vector<int>& indices) override
    {
        Update();
        queue.clear();
        for (int i : indices)
            if (!ready.count(i) && i != reading)
                queue.push_back(i);
        if (reading < 0)
            StartNext(clock.now);
    }
    void ShowFrame(int index) override
    {
        shown.push_back(index);
        shownAt.push_back(clock.now);
    }
    double NextEvent() const { return reading >= 0 ? doneAt : std::numeric_limits<double>::infinity(); }

    void Update()
    {
        while (reading >= 0 && clock.now >= doneAt) {
            ready.insert(reading);
            reading = -1;
            StartNext(doneAt);
        }
    }
    void StartNext(double start)
    {
        if (queue.empty())
            return;
        reading = queue.front();
        queue.pop_front();
        doneAt = start + readSeconds;
    }

    FakeClock& clock;
    double readSeconds;
    std::set<int> ready;
    std::deque<int> queue;
    int reading = -1;
    double doneAt = 0.0;
    std::vector<int> shown;
    std::vector<double> shownAt;
};

PlaySettings Range(int first, int last, PlayMode mode, PlayRepeat repeat = PlayRepeat::Once)
{
    PlaySettings s;
    s.first = first;
    s.last = last;
    s.mode = mode;
    s.repeat = repeat;
    return s;
}

// A player over a slow source, run as the window's timer would: it wakes at the time Tick
// asks for, or earlier when a read finishes.
struct Session
{
    explicit Session(double readSeconds) : source(clock, readSeconds), player(source, clock) {}

    void Play(int first, int last, PlayMode mode, PlayRepeat repeat, int start, double until = 100.0,
              size_t frameBytes = 1, size_t budgetBytes = 4)
    {
        player.SetSettings(Range(first, last, mode, repeat));
        player.SetReadAheadBudget(frameBytes, budgetBytes);
        player.Play(start);
        for (int i = 0; i < 100000 && player.IsPlaying(); ++i) {
            const double next = player.Tick();
            if (next < 0)
                break;
            clock.now = std::max(clock.now, std::min(next, source.NextEvent()));
            source.Update();
            if (clock.now > until)
                break;
        }
    }

    FakeClock clock;
    SlowSource source;
    Player player;
};

} // namespace

TEST(FrameAtStep, FollowsTheRepeatKind)
{
    const struct { PlayRepeat repeat; std::vector<int> expected; } cases[] = {
        {PlayRepeat::Loop, {2, 3, 4, 5, 2, 3, 4, 5, 2}},
        {PlayRepeat::BackAndForth, {2, 3, 4, 5, 4, 3, 2, 3, 4}},
        {PlayRepeat::Once, {2, 3, 4, 5, 5, 5, 5, 5, 5}},
    };
    for (const auto& c : cases) {
        PlaySettings s = Range(2, 5, PlayMode::EveryFrame, c.repeat);
        std::vector<int> got;
        for (long long step = 0; step < 9; ++step)
            got.push_back(FrameAtStep(s, step));
        EXPECT_EQ(got, c.expected);
    }
    // One frame: back-and-forth has no cycle to divide by.
    PlaySettings one = Range(7, 7, PlayMode::EveryFrame, PlayRepeat::BackAndForth);
    EXPECT_EQ(FrameAtStep(one, 5), 7);
}

TEST(PlanReadAhead, FollowsThePlayDirectionWithinTheBudget)
{
    // Back-and-forth over 0..4 from frame 3 going up: 4, then back down.
    PlaySettings bounce = Range(0, 4, PlayMode::EveryFrame, PlayRepeat::BackAndForth);
    EXPECT_EQ(PlanReadAhead(bounce, 3, 100, 300), (std::vector<int>{4, 3, 2}));
    // Budget for 2.5 frames holds 2.
    EXPECT_EQ(PlanReadAhead(bounce, 0, 100, 250), (std::vector<int>{1, 2}));
    // A short loop: each frame once, however large the budget.
    PlaySettings loop = Range(0, 2, PlayMode::EveryFrame, PlayRepeat::Loop);
    EXPECT_EQ(PlanReadAhead(loop, 1, 100, 100000), (std::vector<int>{2, 0, 1}));
    // A single pass stops at its end; a budget below one frame plans nothing.
    PlaySettings once = Range(0, 4, PlayMode::EveryFrame, PlayRepeat::Once);
    EXPECT_EQ(PlanReadAhead(once, 3, 100, 1000), (std::vector<int>{4}));
    EXPECT_TRUE(PlanReadAhead(once, 0, 100, 99).empty());
    EXPECT_EQ(PlanReadAhead(once, 0, 100, 1000, 2), (std::vector<int>{1, 2}));
}

TEST(Player, EveryFrameWaitsForEachFrameInOrder)
{
    Session p(0.25); // 2.5 frame periods per read at 10 fps
    p.Play(3, 12, PlayMode::EveryFrame, PlayRepeat::Once, 3);
    EXPECT_FALSE(p.player.IsPlaying());
    EXPECT_EQ(p.source.shown, (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(p.player.Skipped(), 0);
    // Nine serial reads of 0.25 s cannot be done sooner.
    EXPECT_GE(p.source.shownAt.back(), 9 * 0.25 - 1e-9);
}

TEST(Player, EveryFrameHoldsTheRateWhenFramesAreReady)
{
    Session p(0.01);
    p.Play(0, 20, PlayMode::EveryFrame, PlayRepeat::Once, 0, 100.0, 1, 8);
    ASSERT_EQ(p.source.shown.size(), 20u);
    for (size_t i = 0; i < p.source.shown.size(); ++i) {
        EXPECT_EQ(p.source.shown[i], static_cast<int>(i) + 1);
        EXPECT_NEAR(p.source.shownAt[i], 0.1 * static_cast<double>(i + 1), 1e-9);
    }
}

TEST(Player, RealTimeSkipsLateFramesAndEndsOnTheLast)
{
    Session p(0.25);
    p.Play(0, 29, PlayMode::RealTime, PlayRepeat::Once, 0);
    const std::vector<int>& shown = p.source.shown;
    EXPECT_FALSE(p.player.IsPlaying());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 29);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end());
    EXPECT_GT(p.player.Skipped(), 0);
    // Every one of the 29 steps after the start was either shown or counted as skipped.
    EXPECT_EQ(static_cast<long long>(shown.size()) + p.player.Skipped(), 29);
    // The rate held: the pass took its 2.9 s plus at most the reads in flight, not 29 reads.
    EXPECT_LT(p.clock.now, 2.9 + 3 * 0.25);
}

TEST(Player, RealTimeShowsEveryFrameOfAFastSource)
{
    Session p(0.01);
    p.Play(0, 9, PlayMode::RealTime, PlayRepeat::Once, 0);
    EXPECT_EQ(p.source.shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(p.player.Skipped(), 0);
}

TEST(Player, BackAndForthTurnsAtTheEnds)
{
    Session p(0.0);
    p.Play(10, 12, PlayMode::EveryFrame, PlayRepeat::BackAndForth, 10, 0.85);
    p.player.Pause();
    EXPECT_EQ(p.source.shown, (std::vector<int>{11, 12, 11, 10, 11, 12, 11, 10}));
    EXPECT_EQ(p.player.Tick(), -1.0);
}

TEST(Player, OnceFromTheEndStartsAgainAndStops)
{
    Session p(0.0);
    PlaySettings s = Range(4, 6, PlayMode::RealTime);
    s.fps = -3; // not a rate: the default
    p.player.SetSettings(s);
    EXPECT_EQ(p.player.Settings().fps, 10.0);
    p.Play(4, 6, PlayMode::RealTime, PlayRepeat::Once, 6);
    EXPECT_EQ(p.source.shown, (std::vector<int>{4, 5, 6}));
    EXPECT_NEAR(p.source.shownAt.back(), 0.2, 1e-9);
    EXPECT_FALSE(p.player.IsPlaying());
}
