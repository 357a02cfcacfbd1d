#include "LiveRegions.h"

#include <algorithm>
#include <cmath>

#include "StopToken.h"

namespace ImageViewer {

namespace {

// Counts the planes a measurement reads, for its progress.
class CountingSource : public ImageReader::ImageBase<unsigned short>
{
public:
    CountingSource(ImageReader::ImageBase<unsigned short>& source, std::atomic<size_t>& done)
        : m_source(source), m_done(done)
    {
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector& position) override
    {
        ImageReader::ImageSlice<unsigned short> slice = m_source.GetSlice(position);
        ++m_done;
        return slice;
    }
    ImageReader::Vector GetSize() override { return m_source.GetSize(); }
    void ReleaseMappedPages() override { m_source.ReleaseMappedPages(); }

private:
    ImageReader::ImageBase<unsigned short>& m_source;
    std::atomic<size_t>& m_done;
};

} // namespace

LiveRegions::LiveRegions(Viewer& viewer, std::shared_ptr<Poster> poster)
    : m_viewer(viewer), m_poster(poster ? std::move(poster) : viewer.ResultPoster())
{
    m_listener = m_viewer.AddListener([this](const ChangeSet& change) {
        if (change.Has(ChangeImage | ChangeCursor | ChangeAxes | ChangeMeasure | ChangeSpectrum))
            Update();
    });
}

LiveRegions::~LiveRegions()
{
    *m_alive = false;
    m_viewer.RemoveListener(m_listener);
    // Jobs hold the image by reference: none may outlive the caller's promise that the image
    // stays while this object does, so stop them.
    m_viewer.Work().Submit(kPlaneSlot, [](ImageReader::ProjectionControl&, std::uint64_t) {});
    m_viewer.Work().Submit(kThroughSlot, [](ImageReader::ProjectionControl&, std::uint64_t) {});
}

bool LiveRegions::SetRegions(const RegionList& list)
{
    if (!m_viewer.Session().IsOpen())
        return false;
    ViewState next = m_viewer.State();
    next.regions = list;
    // The views need nothing new for regions: only the state (and the listeners) change.
    const bool refresh = m_viewer.autoRefresh;
    m_viewer.autoRefresh = false;
    const bool ok = m_viewer.SetState(next);
    m_viewer.autoRefresh = refresh;
    return ok;
}

Measure::ImageDescription LiveRegions::Describe() const
{
    Measure::ImageDescription d;
    const ImageSession& s = m_viewer.Session();
    if (!s.IsOpen())
        return d;
    d.valueMap = s.reader->GetValueMap();
    d.dimNames = s.DimensionNames();
    d.pixelSizes = m_viewer.PixelSizes();
    d.pixelSizes.resize(d.dimNames.size(), 0.0);
    const ViewState& state = m_viewer.State();
    d.channelDim = state.channelDim >= 2 && !state.IsSpectral(m_viewer.Size()) ? state.channelDim : -1;
    return d;
}

Measure::MeasureOptions LiveRegions::planeOptions() const
{
    Measure::MeasureOptions o;
    const ImageReader::Vector& cursor = m_viewer.State().cursor;
    for (int d = 2; d < static_cast<int>(cursor.size()); ++d)
        o.cursor.push_back(cursor[d]);
    o.profiles = true;
    return o;
}

LiveRegions::Key LiveRegions::currentKey() const
{
    Key k;
    k.regions = Regions();
    k.regions.selected = -1; // selecting measures nothing new
    k.cursor = planeOptions().cursor;
    k.channelDim = Describe().channelDim;
    k.pixelSizes = m_viewer.PixelSizes();
    k.image = m_viewer.Session().serial;
    return k;
}

double LiveRegions::workPixels() const
{
    const ImageReader::Vector size = m_viewer.Size();
    if (size.size() < 2)
        return 0;
    const int cd = Describe().channelDim;
    const double channels = cd >= 0 ? size[cd] : 1;
    double pixels = 0;
    for (const Measure::Region& r : Regions().regions) {
        double x0, y0, x1, y1;
        r.Bounds(x0, y0, x1, y1);
        const double w = std::clamp(x1, 0.0, double(size[0])) - std::clamp(x0, 0.0, double(size[0]));
        const double h = std::clamp(y1, 0.0, double(size[1])) - std::clamp(y0, 0.0, double(size[1]));
        // Lines sample about their length; count them by their box's longer side.
        pixels += r.IsArea() ? (w + 1) * (h + 1) : std::max(w, h) + 1;
    }
    return pixels * channels;
}

void LiveRegions::Update()
{
    if (!m_viewer.Session().IsOpen()) {
        m_table = Measure::MeasureTable();
        m_haveMeasured = false;
        m_pending = false;
        if (onTable)
            onTable();
        return;
    }
    Key key = currentKey();
    if (m_haveMeasured && key == m_measured)
        return;
    m_measured = std::move(key);
    m_haveMeasured = true;
    const Measure::ImageDescription description = Describe();
    const Measure::MeasureOptions options = planeOptions();
    const std::vector<Measure::Region> regions = Regions().regions;
    const ImageSession& s = m_viewer.Session();
    const double channels = description.channelDim >= 0 ? m_viewer.Size()[description.channelDim] : 1;
    const double bytes = channels * static_cast<double>(s.image->PlaneBytes());
    if (regions.empty() ||
        (workPixels() <= inlinePixels && bytes <= m_viewer.inlineLimitBytes && !s.ReadsMayWait())) {
        ++m_planeTicket; // a job under way for an older state is of no use now
        m_table = Measure::MeasureImage(*s.image, description, regions, options);
        m_pending = false;
        if (onTable)
            onTable();
        return;
    }
    m_pending = true;
    ImageReader::ImageBase<unsigned short>* source = s.image.get();
    std::shared_ptr<Poster> poster = m_poster;
    std::shared_ptr<bool> alive = m_alive;
    const std::uint64_t ticket = ++m_planeTicket;
    m_viewer.Work().Submit(kPlaneSlot, [this, source, poster, alive, ticket, description, options,
                                        regions](ImageReader::ProjectionControl& control, std::uint64_t) {
        Measure::MeasureTable table = Measure::MeasureImage(*source, description, regions, options);
        if (control.cancel || table.cancelled)
            return;
        poster->Post([this, alive, ticket, table = std::move(table)]() mutable {
            if (*alive && ticket == m_planeTicket)
                deliver(std::move(table));
        });
    });
    if (onTable)
        onTable();
}

void LiveRegions::deliver(Measure::MeasureTable table)
{
    m_table = std::move(table);
    m_pending = false;
    if (onTable)
        onTable();
}

std::vector<int> LiveRegions::ThroughDimensions() const
{
    std::vector<int> dims;
    const int cd = Describe().channelDim;
    for (int d = 2; d < static_cast<int>(m_viewer.Size().size()); ++d)
        if (d != cd)
            dims.push_back(d);
    return dims;
}

void LiveRegions::MeasureThrough(const std::vector<int>& dims, std::function<void(Measure::MeasureTable)> done)
{
    if (!m_viewer.Session().IsOpen())
        return;
    const Measure::ImageDescription description = Describe();
    Measure::MeasureOptions options = planeOptions();
    options.through = dims;
    options.profiles = false;
    const std::vector<Measure::Region> regions = Regions().regions;
    // Planes to read, for the progress: every index of the dimensions stepped, every channel.
    const ImageReader::Vector size = m_viewer.Size();
    double total = description.channelDim >= 0 ? size[description.channelDim] : 1;
    for (const int d : dims)
        if (d >= 2 && d < static_cast<int>(size.size()))
            total *= size[d];
    auto progress = std::make_shared<Progress>();
    progress->total = static_cast<size_t>(total);
    m_progress = progress;
    ImageReader::ImageBase<unsigned short>* source = m_viewer.Session().image.get();
    std::shared_ptr<Poster> poster = m_poster;
    std::shared_ptr<bool> alive = m_alive;
    const std::uint64_t ticket = ++m_throughTicket;
    m_throughRunning = true;
    m_viewer.Work().Submit(kThroughSlot, [this, source, poster, alive, ticket, description, options, regions, progress,
                                          done](ImageReader::ProjectionControl& control, std::uint64_t) {
        progress->done = 0; // a run interrupted for a view starts over
        CountingSource counted(*source, progress->done);
        Measure::MeasureTable table = Measure::MeasureImage(counted, description, regions, options);
        if (control.cancel || table.cancelled)
            return;
        poster->Post([this, alive, ticket, done, table = std::move(table)]() mutable {
            if (!*alive || ticket != m_throughTicket)
                return;
            m_throughRunning = false;
            if (done)
                done(std::move(table));
        });
    });
}

void LiveRegions::CancelThrough()
{
    ++m_throughTicket;
    m_throughRunning = false;
    m_viewer.Work().Submit(kThroughSlot, [](ImageReader::ProjectionControl&, std::uint64_t) {});
}

bool LiveRegions::ThroughRunning() const
{
    // Esc cancels all of the worker's jobs: an idle worker with nothing delivered means that.
    return m_throughRunning && m_viewer.Work().IsBusy();
}

double LiveRegions::ThroughProgress() const
{
    const size_t total = m_progress->total;
    return total ? std::min(1.0, static_cast<double>(m_progress->done) / static_cast<double>(total)) : 0.0;
}

} // namespace ImageViewer
