#include "ViewWork.h"

#include <algorithm>

namespace ImageViewer {

using ImageReader::Vector;

ImageReader::ImageSlice<unsigned short> ViewKey::Project(ImageReader::ImageBase<unsigned short>& image, int channel,
                                                         ImageReader::ProjectionControl* control) const
{
    Vector pv = pinned;
    if (cd >= 0 && cd < static_cast<int>(pv.size()))
        pv[cd] = channel;
    return image.GetMaximumProjection(xdim, ydim, pv, control);
}

double ViewKey::ReadBytes(const Vector& size) const
{
    if (size.size() < 2 || pinned.size() != size.size())
        return 0;
    double planes = 1;
    for (int i = 2; i < static_cast<int>(size.size()); ++i)
        if (pinned[i] < 0 && i != cd)
            planes *= size[i];
    return planes * size[0] * size[1] * 2.0;
}

void ViewData::Reset(const ViewKey& k, size_t entries)
{
    if (key == k && planes.size() == entries)
        return;
    key = k;
    planes.assign(entries, {});
    have.assign(entries, false);
    spans.assign(entries, ValueSpan());
}

void ViewData::Store(int c, ImageReader::ImageSlice<unsigned short> plane, ValueSpan span)
{
    const size_t i = static_cast<size_t>(c);
    // Lent from a file cut while it was scanned: zeros, so the plane is missing.
    const bool intact = plane.IsIntact();
    planes[i] = intact ? std::move(plane) : ImageReader::ImageSlice<unsigned short>();
    spans[i] = intact ? span : ValueSpan();
    have[i] = true;
}

std::vector<int> ViewData::Missing(const std::vector<int>& wanted) const
{
    std::vector<int> missing;
    for (int c : wanted)
        if (c < 0 || static_cast<size_t>(c) >= have.size() || !have[static_cast<size_t>(c)])
            missing.push_back(c);
    return missing;
}

ViewWork::ViewWork() : m_thread([this] { run(); }) {}

ViewWork::~ViewWork()
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_pending.clear();
        cancelRunning();
    }
    m_wake.notify_all();
    m_thread.join();
}

void ViewWork::enqueue(Pending p)
{
    // After the urgent jobs already waiting: urgent ones keep their order ahead of the rest,
    // and an interrupted job resumes right after them.
    auto at = m_pending.begin();
    while (at != m_pending.end() && at->urgent)
        ++at;
    m_pending.insert(at, std::move(p));
}

std::uint64_t ViewWork::Submit(int slot, Job job, bool urgent)
{
    std::uint64_t ticket;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        ticket = ++m_next;
        m_current[slot] = ticket;
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                       [slot](const Pending& p) { return p.slot == slot; }),
                        m_pending.end());
        if (m_running && m_runningSlot == slot && m_control)
            cancelRunning();
        else if (urgent && m_running && !m_runningUrgent && m_control && !m_control->cancel) {
            cancelRunning();
            m_preempted = true;
        }
        if (!m_running && m_pending.empty())
            m_busySince = std::chrono::steady_clock::now();
        if (urgent)
            enqueue(Pending{slot, ticket, std::move(job), true});
        else
            m_pending.push_back(Pending{slot, ticket, std::move(job), false});
    }
    m_wake.notify_all();
    return ticket;
}

bool ViewWork::IsCurrent(int slot, std::uint64_t ticket) const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_current.find(slot);
    return it != m_current.end() && it->second == ticket;
}

void ViewWork::CancelAll()
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_pending.clear();
    m_current.clear();
    cancelRunning();
}

void ViewWork::cancelRunning()
{
    if (m_control)
        m_control->cancel = true;
    if (m_stopToken)
        m_stopToken->RequestStop();
}

void ViewWork::SetDiagnosticSink(std::shared_ptr<ImageReader::DiagnosticSink> sink)
{
    const std::lock_guard<std::mutex> lock(m_lock);
    m_sink = std::move(sink);
}

void ViewWork::Wait()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_idle.wait(lock, [this] { return !m_running && m_pending.empty(); });
}

bool ViewWork::IsBusy() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_running || !m_pending.empty();
}

double ViewWork::Progress() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (!m_control)
        return 0;
    const size_t total = m_control->total.load();
    return total ? std::min(1.0, static_cast<double>(m_control->done.load()) / static_cast<double>(total)) : 0.0;
}

double ViewWork::BusySeconds() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running && m_pending.empty())
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_busySince).count();
}

int ViewWork::CompletedCount() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_completed;
}

void ViewWork::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_pending.empty(); });
        if (m_stop)
            return;
        Pending next = std::move(m_pending.front());
        m_pending.pop_front();
        auto control = std::make_shared<ImageReader::ProjectionControl>();
        auto stop = std::make_shared<ImageReader::StopToken>();
        m_control = control;
        m_stopToken = stop;
        std::shared_ptr<ImageReader::DiagnosticSink> sink = m_sink;
        m_running = true;
        m_runningSlot = next.slot;
        m_runningUrgent = next.urgent;
        m_preempted = false;
        lock.unlock();
        {
            const ImageReader::StopScope stopScope(stop.get());
            const ImageReader::DiagnosticScope diagnostics(std::move(sink));
            next.job(*control, next.ticket);
        }
        lock.lock();
        const auto current = m_current.find(next.slot);
        const bool stillWanted = current != m_current.end() && current->second == next.ticket;
        if (m_preempted && stillWanted && !m_stop) {
            // Interrupted for an urgent job: again, right after the urgent ones.
            enqueue(std::move(next));
        } else {
            if (!control->cancel)
                ++m_completed;
            lock.unlock();
            next.job = nullptr; // whatever the job holds goes before the next one starts
            lock.lock();
        }
        m_preempted = false;
        m_running = false;
        m_runningSlot = -1;
        m_runningUrgent = false;
        m_control.reset();
        m_stopToken.reset();
        if (m_pending.empty())
            m_idle.notify_all();
    }
}

} // namespace ImageViewer
