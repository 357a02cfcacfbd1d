#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <cstddef>
#include <list>
#include <map>
#include <mutex>

#include "ImageBase.h"

namespace ImageReader {

// Keeps the planes read from a source within a memory budget, so each plane is read once
// while it stays among the most recently used. Keyed by slice position.
//
// Threads: every call may run on any thread, concurrently. The cache's own state is under
// one lock; the source is called without it (sources lock their own streams, see
// ImageBase), so different planes are read in parallel. A plane is read once however many
// threads ask for it at the same time: the later ones wait for the first one's read, unless
// that read was given up for a stop request, when the next waiter reads it itself.
//
// - Only owned planes count against the budget. Planes a source borrows from a memory
//   mapping cost no private memory: they pass through without being kept.
// - Eviction drops the cache's reference only: a plane a caller still holds lives on with
//   it (ImageSlice's shared count), so nothing is freed under a view.
// - Evicted memory goes back to the system in batches (malloc_trim): planes are freed into
//   the heap arena of the thread that read them, where no other thread would reuse them.
//   Likewise the source's mapped pages, after every quarter budget of borrowed planes.
// - Empty slices (unreadable or missing planes) are never kept: the next request asks the
//   source again. Each one counts in GetFailureCount.
// - A plane whose size alone exceeds the budget is refused without asking the source; it
//   comes back empty and counts in GetRefusedCount.
template <class T>
class SliceCache : public ImageBase<T>
{
public:
    // budgetBytes 0: DefaultBudget().
    explicit SliceCache(ImageBase<T>* image, size_t budgetBytes = 0);
    ~SliceCache() override;

    ImageSlice<T> GetSlice(const Vector& position) override;
    Vector GetSize() override { return m_size; }
    // Bands pass through to the source (cut from the plane when it is kept): a side view does
    // not fill the cache with whole planes it takes one row or column of.
    ImageSlice<T> GetRows(const Vector& position, int y0, int y1) override;
    ImageSlice<T> GetColumns(const Vector& position, int x0, int x1) override;
    // A kept plane as it is; else the source's band, or the plane through the cache when the
    // source reads whole planes anyway.
    ImageSlice<T> GetBandSource(const Vector& position, bool rows, int a0, int a1) override;
    // Kept planes from here, the others' bands from the source together.
    std::vector<ImageSlice<T>> GetBandSources(const std::vector<Vector>& positions, bool rows, int a0, int a1) override;
    void ExpectBand(bool rows, int a0, int a1) override { m_image->ExpectBand(rows, a0, a1); }
    void ForgetExpectedBand() override { m_image->ForgetExpectedBand(); }
    // The plane at `position` if it is kept now, else an empty slice; never asks the source,
    // so it never waits on a read in flight.
    ImageSlice<T> Peek(const Vector& position) const;

    // Drops every plane and gives freed heap memory back to the system.
    void Clear();
    size_t GetCount() const;
    // Bytes of the planes held now, and the most ever held at once.
    size_t GetBytes() const;
    size_t GetPeakBytes() const;
    size_t GetBudget() const { return m_budget.load(); }
    // Shrinks or grows the budget; shrinking evicts at once.
    void SetBudget(size_t budgetBytes);
    size_t GetFailureCount() const { return m_failures.load(); }
    size_t GetRefusedCount() const { return m_refused.load(); }
    // Bytes of one plane of the source.
    size_t PlaneBytes() const;

    // The process's memory budget (MemoryBudget.h).
    static size_t DefaultBudget();

private:
    struct Entry
    {
        ImageSlice<T> slice;
        size_t bytes;
        typename std::list<Vector>::iterator lru;
    };
    // With m_lock held; true when enough was evicted that the heap should be trimmed.
    bool evictTo(size_t limit);
    // Reads `position` from the source and keeps it within the budget.
    ImageSlice<T> readAndKeep(const Vector& position);
    // Counts a plane lent by the source; gives the source's mapped pages back every so often.
    void noteBorrowed();

    // A read under way, which other threads asking for the same plane wait for.
    struct Flight
    {
        bool done = false;
        bool stopped = false; // given up for a stop request: a waiter reads it again
        ImageSlice<T> slice;
    };

    ImageBase<T>* m_image;
    const Vector m_size;
    std::atomic<size_t> m_budget;
    mutable std::mutex m_lock;
    std::condition_variable m_landed; // a flight is done
    std::map<Vector, std::shared_ptr<Flight>, VectorCompare> m_flights;
    std::map<Vector, Entry, VectorCompare> m_cache;
    std::list<Vector> m_lru; // most recently used first
    size_t m_bytes = 0;
    size_t m_peak = 0;
    size_t m_evictedSinceTrim = 0;
    std::atomic<size_t> m_failures{0};
    std::atomic<size_t> m_refused{0};
    std::atomic<size_t> m_borrowedSinceRelease{0};
};

} // namespace ImageReader
