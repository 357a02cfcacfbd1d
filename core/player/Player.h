#pragma once

#include <cstddef>
#include <vector>

namespace Core {

// How playing moves through a dimension's range.
enum class PlayRepeat { Loop, BackAndForth, Once };

// Real time holds the frame rate and skips frames that are not ready by their turn; every
// frame waits for each frame and never skips.
enum class PlayMode { RealTime, EveryFrame };

struct PlaySettings
{
    int first = 0;       // range, both ends included
    int last = 0;
    double fps = 10.0;   // taken as 10 when not a positive finite number
    PlayRepeat repeat = PlayRepeat::Loop;
    PlayMode mode = PlayMode::RealTime;
};

// Seconds on some monotonic scale; a fake one in tests.
class PlayClock
{
public:
    virtual ~PlayClock() = default;
    virtual double Now() = 0;
};

// What the player drives: the model reads planes on its worker and shows an index.
class FrameSource
{
public:
    virtual ~FrameSource() = default;
    // The frame can be shown now without waiting for a read. A frame whose planes could not
    // be read counts as ready (it shows as missing): every-frame playing must not stall on it.
    virtual bool IsFrameReady(int index) = 0;
    // The frames wanted next, most urgent first; replaces the previous request, so frames the
    // player has passed are never read.
    virtual void RequestFrames(const std::vector<int>& indices) = 0;
    // Makes `index` the dimension's position (the views follow).
    virtual void ShowFrame(int index) = 0;
};

// The index at step `step` of playing a range from its first frame: the sequence a loop,
// back-and-forth or single pass goes through (a single pass stays on the last frame).
int FrameAtStep(const PlaySettings& settings, long long step);

// The frames to read ahead from step `fromStep` (excluded) in the play direction: as many
// distinct frames as `budgetBytes` holds at `frameBytes` each, at most `maxFrames`, in the
// order they will be shown.
std::vector<int> PlanReadAhead(const PlaySettings& settings, long long fromStep, size_t frameBytes,
                               size_t budgetBytes, int maxFrames = 64);

// A headless player for one dimension. The client calls Tick at the time it returns and
// whenever a requested frame has arrived; nothing here sleeps or owns a thread.
class Player
{
public:
    Player(FrameSource& source, PlayClock& clock) : m_source(source), m_clock(clock) {}

    // Settings take effect at once, also while playing (the timeline restarts at the
    // current frame). A range given backwards is put in order.
    void SetSettings(const PlaySettings& settings);
    const PlaySettings& Settings() const { return m_settings; }
    // Bytes one frame takes in memory and the bytes read-ahead may hold; until set, only the
    // next frame is asked for.
    void SetReadAheadBudget(size_t frameBytes, size_t budgetBytes);

    // Starts from `current` when it lies in the range (from the first frame when a single
    // pass would have nothing left to show).
    void Play(int current);
    void Pause() { m_playing = false; }
    bool IsPlaying() const { return m_playing; }

    // Shows what is due; returns the clock time of the next call (a negative number when
    // playing has stopped).
    double Tick();

    int Shown() const { return m_shownIndex; }
    // Frames passed over without being shown (real time only), since Play.
    long long Skipped() const { return m_skipped; }
    long long ShownCount() const { return m_shownCount; }

private:
    double Period() const { return 1.0 / m_settings.fps; }
    long long LastStep() const; // a single pass's final step; -1 for the repeating kinds
    void ShowStep(long long step);
    void Request(long long fromStep);

    FrameSource& m_source;
    PlayClock& m_clock;
    PlaySettings m_settings;
    size_t m_frameBytes = 0;
    size_t m_budgetBytes = 0;

    bool m_playing = false;
    long long m_step = 0;       // step of the frame shown last
    int m_shownIndex = -1;
    double m_anchorTime = 0.0;  // real time: when step m_anchorStep was due
    long long m_anchorStep = 0;
    double m_due = 0.0;         // every frame: when the next step is due
    long long m_skipped = 0;
    long long m_shownCount = 0;
    std::vector<int> m_lastRequest;
};

} // namespace Core
