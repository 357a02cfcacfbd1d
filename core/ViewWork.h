#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Diagnostics.h"
#include "ImageBase.h"
#include "StopToken.h"
#include "ImageChannel.h"
#include "Vector.h"

namespace ImageViewer {

// What a view's data depends on: its axes, the channel dimension and, per image dimension,
// the cursor coordinate or -1 (a view axis, a projected dimension or the channel dimension).
// Display settings (range, gamma, colour, enabled) are not part of it: they only re-colour.
struct ViewKey
{
    int xdim = -1;
    int ydim = -1;
    int cd = -1;
    ImageReader::Vector pinned; // in the coordinates of `level`
    std::uint64_t image = 0;    // which loaded image
    // The resolution level the data comes from (0: full resolution), and the pinned
    // coordinates at full resolution, which say whether two levels show the same view.
    int level = 0;
    ImageReader::Vector full;

    bool operator==(const ViewKey& o) const { return SameView(o) && level == o.level && pinned == o.pinned; }
    bool operator!=(const ViewKey& o) const { return !(*this == o); }
    // The same view at any level.
    bool SameView(const ViewKey& o) const
    {
        return xdim == o.xdim && ydim == o.ydim && cd == o.cd && full == o.full && image == o.image;
    }

    // The projection of channel entry `channel` (ignored without a channel dimension).
    ImageReader::ImageSlice<unsigned short> Project(ImageReader::ImageBase<unsigned short>& image, int channel,
                                                    ImageReader::ProjectionControl* control = nullptr) const;
    // Bytes of planes one channel's projection reads from the image of size `size`.
    double ReadBytes(const ImageReader::Vector& size) const;
};

// The projected (or sliced) planes of one view, indexed by channel entry; kept until the
// key changes, so that a change of display settings only re-colours them.
struct ViewData
{
    ViewKey key;
    std::vector<ImageReader::ImageSlice<unsigned short>> planes;
    std::vector<bool> have;
    // Each plane's ScanValues, taken when it arrives: a re-colouring need not scan it again.
    std::vector<ValueSpan> spans;

    // Starts over for `k` with `entries` channel entries unless the key is already `k`.
    void Reset(const ViewKey& k, size_t entries);
    // Entries of `wanted` not yet projected.
    std::vector<int> Missing(const std::vector<int>& wanted) const;
    // Keeps `plane` (with its values' span) as entry c.
    void Store(int c, ImageReader::ImageSlice<unsigned short> plane, ValueSpan span);
};

// One worker thread running the views' long jobs, newest request first in mind: each job
// belongs to a slot (a view); a new job for a slot replaces its pending one and cancels its
// running one, so a slider drag never queues stale work. Headless: the window posts the
// results back to its own thread.
//
// Every member may be called from any thread. Jobs run one at a time on the worker, each
// with its own stop token installed (ImageReader::StopScope) and the viewer's diagnostic sink.
class ViewWork
{
public:
    // Runs on the worker with the job's control and its ticket.
    using Job = std::function<void(ImageReader::ProjectionControl&, std::uint64_t ticket)>;

    ViewWork();
    ~ViewWork(); // cancels everything and joins the worker

    // Queues `job` for `slot`; returns its ticket. Only the newest ticket of a slot is current.
    // An urgent job (what the user looks at first) goes ahead of the others, and a job of
    // another slot that is not urgent is interrupted for it (cancelled, then run again from
    // the start: what it read is in the cache by then).
    std::uint64_t Submit(int slot, Job job, bool urgent = false);
    bool IsCurrent(int slot, std::uint64_t ticket) const;
    // Drops pending jobs, cancels the running one and makes every ticket stale.
    void CancelAll();
    // Blocks until no job is pending or running.
    void Wait();
    bool IsBusy() const;
    // Fraction of the running job done (0 when it has not said), and seconds since the
    // current run of work began (0 when idle).
    double Progress() const;
    double BusySeconds() const;
    // Jobs run to completion since construction; cancelled ones do not count.
    int CompletedCount() const;
    // Where reader messages of the jobs go (null: the process default). Detach the sink
    // itself before the viewer that owns it goes.
    void SetDiagnosticSink(std::shared_ptr<ImageReader::DiagnosticSink> sink);

private:
    struct Pending
    {
        int slot;
        std::uint64_t ticket;
        Job job;
        bool urgent = false;
    };
    // With m_lock held: `p` goes after the urgent jobs already waiting (all of them if urgent).
    void enqueue(Pending p);
    // With m_lock held: the running job stops at its next plane, and reads below it (a
    // chunk fetch, its retries) at their next check of the stop token.
    void cancelRunning();
    void run();

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Pending> m_pending;
    std::map<int, std::uint64_t> m_current;
    std::uint64_t m_next = 0;
    bool m_running = false;
    int m_runningSlot = -1;
    bool m_runningUrgent = false;
    bool m_preempted = false; // the running job was cancelled for an urgent one: run it again
    std::shared_ptr<ImageReader::ProjectionControl> m_control;
    std::shared_ptr<ImageReader::StopToken> m_stopToken;
    std::shared_ptr<ImageReader::DiagnosticSink> m_sink;
    std::chrono::steady_clock::time_point m_busySince;
    int m_completed = 0;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace ImageViewer
