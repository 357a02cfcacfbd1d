#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "Measurements.h"
#include "RegionList.h"
#include "Viewer.h"

namespace ImageViewer {

// The statistics of the model's regions on the plane under the cursor, kept up to date: a
// change of the regions, of the cursor's plane (any coordinate beyond x and y), of the channel
// dimension, pixel sizes or image measures them again. Small jobs run at once on the model's
// thread; large regions (or planes that take long to read) on the model's worker, the result
// coming back through its poster. Also measures the regions through z/t on the worker.
class LiveRegions
{
public:
    // Worker slots, apart from the views'.
    static constexpr int kPlaneSlot = 16;
    static constexpr int kThroughSlot = 17;

    // poster: where the worker's results go (null: the model's own).
    explicit LiveRegions(Viewer& viewer, std::shared_ptr<Poster> poster = nullptr);
    ~LiveRegions();
    LiveRegions(const LiveRegions&) = delete;
    LiveRegions& operator=(const LiveRegions&) = delete;

    const RegionList& Regions() const { return m_viewer.State().regions; }
    // Hands `list` to the model's state (and so to state files); false without an image.
    bool SetRegions(const RegionList& list);

    // The table of the cursor's plane: a row per region per channel (regions of other planes
    // and hidden ones included as ImageJ's ROI Manager measures all). Stale while Pending().
    const Measure::MeasureTable& Table() const { return m_table; }
    bool Pending() const { return m_pending; }
    // Measures again if anything the table depends on changed (the listener calls it).
    void Update();
    // Region pixels (bounding boxes times channels) measured at once; more go to the worker.
    double inlinePixels = 1 << 20;
    // Called on the model's thread whenever Table() changed or became pending.
    std::function<void()> onTable;

    // The image as the measurement sees it: real values, names, pixel sizes, the view's
    // channel dimension (none for a spectral one: it is measured at the cursor).
    Measure::ImageDescription Describe() const;
    // Dimensions "measure through" steps: every dimension beyond x and y but the channel's.
    std::vector<int> ThroughDimensions() const;
    // Measures every region at every index of `dims` on the worker; `done` gets the table on
    // the model's thread (not when cancelled). Replaces a measurement under way.
    void MeasureThrough(const std::vector<int>& dims, std::function<void(Measure::MeasureTable)> done);
    void CancelThrough();
    bool ThroughRunning() const;
    // Planes measured so far and in all, of the measurement under way.
    double ThroughProgress() const;

private:
    struct Key
    {
        RegionList regions;
        std::vector<int> cursor;
        int channelDim = -1;
        std::vector<double> pixelSizes;
        std::uint64_t image = 0;
        bool operator==(const Key& o) const
        {
            return regions == o.regions && cursor == o.cursor && channelDim == o.channelDim &&
                   pixelSizes == o.pixelSizes && image == o.image;
        }
    };
    Key currentKey() const;
    Measure::MeasureOptions planeOptions() const;
    double workPixels() const;
    void deliver(Measure::MeasureTable table);

    Viewer& m_viewer;
    std::shared_ptr<Poster> m_poster;
    int m_listener = -1;
    Key m_measured;
    bool m_haveMeasured = false;
    Measure::MeasureTable m_table;
    bool m_pending = false;
    std::uint64_t m_planeTicket = 0;
    std::uint64_t m_throughTicket = 0;
    bool m_throughRunning = false;
    struct Progress
    {
        std::atomic<size_t> done{0};
        std::atomic<size_t> total{0};
    };
    std::shared_ptr<Progress> m_progress = std::make_shared<Progress>();
    // Results posted after this object is gone find this false.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace ImageViewer
