#include "Player.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace Core {

namespace {

constexpr double kMaxFps = 1000.0;
// Real time looks back at most this many steps for a frame that is ready.
constexpr long long kMaxScan = 256;

long long FrameCount(const PlaySettings& s)
{
    return static_cast<long long>(s.last) - s.first + 1;
}

} // namespace

int FrameAtStep(const PlaySettings& settings, long long step)
{
    const long long n = FrameCount(settings);
    if (step <= 0 || n <= 1)
        return settings.first;
    long long offset = 0;
    switch (settings.repeat) {
    case PlayRepeat::Loop:
        offset = step % n;
        break;
    case PlayRepeat::Once:
        offset = std::min(step, n - 1);
        break;
    case PlayRepeat::BackAndForth: {
        const long long cycle = 2 * (n - 1);
        const long long at = step % cycle;
        offset = at < n ? at : cycle - at;
        break;
    }
    }
    return static_cast<int>(settings.first + offset);
}

std::vector<int> PlanReadAhead(const PlaySettings& settings, long long fromStep, size_t frameBytes,
                               size_t budgetBytes, int maxFrames)
{
    std::vector<int> plan;
    if (maxFrames <= 0)
        return plan;
    size_t room = frameBytes > 0 ? budgetBytes / frameBytes : static_cast<size_t>(maxFrames);
    room = std::min(room, static_cast<size_t>(maxFrames));
    const long long n = FrameCount(settings);
    room = std::min(room, static_cast<size_t>(std::max<long long>(n, 0)));
    const long long lastStep = settings.repeat == PlayRepeat::Once ? n - 1 : -1;
    std::unordered_set<int> planned;
    // A repeating range comes back to the same frames; two full cycles see every one.
    const long long horizon = fromStep + 2 * n + 1;
    for (long long step = fromStep + 1; plan.size() < room && step <= horizon; ++step) {
        if (lastStep >= 0 && step > lastStep)
            break;
        const int index = FrameAtStep(settings, step);
        if (planned.insert(index).second)
            plan.push_back(index);
    }
    return plan;
}

void Player::SetSettings(const PlaySettings& settings)
{
    m_settings = settings;
    if (m_settings.first > m_settings.last)
        std::swap(m_settings.first, m_settings.last);
    if (!(m_settings.fps > 0.0) || !std::isfinite(m_settings.fps))
        m_settings.fps = 10.0;
    m_settings.fps = std::min(m_settings.fps, kMaxFps);
    if (m_playing) {
        const long long skipped = m_skipped, shown = m_shownCount;
        Play(m_shownIndex);
        m_skipped = skipped;
        m_shownCount = shown;
    }
}

void Player::SetReadAheadBudget(size_t frameBytes, size_t budgetBytes)
{
    m_frameBytes = frameBytes;
    m_budgetBytes = budgetBytes;
}

long long Player::LastStep() const
{
    return m_settings.repeat == PlayRepeat::Once ? FrameCount(m_settings) - 1 : -1;
}

void Player::Play(int current)
{
    const double now = m_clock.Now();
    m_playing = true;
    m_skipped = 0;
    m_shownCount = 0;
    m_lastRequest.clear();
    m_shownIndex = current;
    const bool inRange = current >= m_settings.first && current <= m_settings.last;
    m_step = inRange ? static_cast<long long>(current) - m_settings.first : -1;
    if (LastStep() >= 0 && m_step >= LastStep())
        m_step = -1; // a finished single pass starts again
    // The frame on screen counts as shown at `now`; a restart shows step 0 at once.
    m_anchorStep = m_step;
    m_anchorTime = m_step < 0 ? now - Period() : now;
    m_due = m_step < 0 ? now : now + Period();
    Request(m_step);
}

void Player::ShowStep(long long step)
{
    m_step = step;
    m_shownIndex = FrameAtStep(m_settings, step);
    m_source.ShowFrame(m_shownIndex);
    ++m_shownCount;
}

void Player::Request(long long fromStep)
{
    // At least the next frame is asked for, whatever the budget, so that every frame comes.
    std::vector<int> plan = m_frameBytes == 0
        ? PlanReadAhead(m_settings, fromStep, 1, 1)
        : PlanReadAhead(m_settings, fromStep, m_frameBytes, std::max(m_budgetBytes, m_frameBytes));
    if (plan != m_lastRequest) {
        m_source.RequestFrames(plan);
        m_lastRequest = std::move(plan);
    }
}

double Player::Tick()
{
    if (!m_playing)
        return -1.0;
    const double now = m_clock.Now();
    const double period = Period();
    const long long lastStep = LastStep();

    if (m_settings.mode == PlayMode::EveryFrame) {
        if (now < m_due) {
            Request(m_step);
            return m_due;
        }
        const long long next = m_step + 1;
        if (!m_source.IsFrameReady(FrameAtStep(m_settings, next))) {
            Request(m_step);
            return now + period; // and again when the frame arrives
        }
        // A frame that came late starts a new beat instead of rushing the ones after it.
        const double beat = now - m_due > period / 2 ? now : m_due;
        ShowStep(next);
        m_due = beat + period;
        if (lastStep >= 0 && next >= lastStep) {
            m_playing = false;
            return -1.0;
        }
        Request(m_step);
        return m_due;
    }

    // Real time: the step due now, on a timeline anchored where playing started.
    long long target = m_anchorStep + static_cast<long long>(std::floor((now - m_anchorTime) / period + 1e-9));
    if (lastStep >= 0 && target >= lastStep) {
        // A single pass always ends on its last frame, however late it comes.
        if (m_source.IsFrameReady(FrameAtStep(m_settings, lastStep))) {
            m_skipped += std::max<long long>(0, lastStep - m_step - 1);
            ShowStep(lastStep);
            m_playing = false;
            return -1.0;
        }
        Request(lastStep - 1);
        return now + period;
    }
    if (target > m_step) {
        // The newest frame that is ready and not late for its turn.
        const long long lowest = std::max(m_step + 1, target - kMaxScan);
        for (long long s = target; s >= lowest; --s)
            if (m_source.IsFrameReady(FrameAtStep(m_settings, s))) {
                m_skipped += s - m_step - 1;
                ShowStep(s);
                break;
            }
    }
    Request(m_step >= target ? m_step : target - 1);
    return m_anchorTime + static_cast<double>(target + 1 - m_anchorStep) * period;
}

} // namespace Core
