#include "VolumeView.h"

#include <algorithm>
#include <cmath>

#include "Viewer.h"
#include "VolumePlanes.h"
#include "VolumeSource.h"

namespace ImageViewer {

namespace {

using ImageReader::ImageSlice;
using ImageReader::Vector;

// What the volume depends on: a change of anything else only renders it again.
struct BuildKey
{
    std::uint64_t image = 0;
    std::array<int, 3> dims{-1, -1, -1};
    int channelDim = -1;
    std::vector<int> channels;
    Vector pinned; // the cursor outside the shown dimensions and the channel dimension
    std::array<double, 3> spacing{1, 1, 1};
    size_t budget = 0;
    bool operator==(const BuildKey& o) const
    {
        return image == o.image && dims == o.dims && channelDim == o.channelDim && channels == o.channels &&
               pinned == o.pinned && spacing == o.spacing && budget == o.budget;
    }
};

// Everything a frame is made from; the same request twice gives the same frame.
struct FrameRequest
{
    BuildKey key;
    ViewState state;
    DisplayState display;
    std::array<int, 3> clipFrom{0, 0, 0};
    int width = 0;
    int height = 0;
    bool dragging = false;
    bool operator==(const FrameRequest& o) const
    {
        return key == o.key && state.volume == o.state.volume && display == o.display && clipFrom == o.clipFrom &&
               state.spectrum.p1 == o.state.spectrum.p1 && state.spectrum.w1 == o.state.spectrum.w1 &&
               state.spectrum.p2 == o.state.spectrum.p2 && state.spectrum.w2 == o.state.spectrum.w2 &&
               width == o.width && height == o.height && dragging == o.dragging;
    }
};

// The rendered planes (one per built channel entry, `entries` in all) coloured as the slice
// views colour theirs: the same channel displays, compositing and spectral folding.
ViewPicture colourPlanes(std::vector<ImageSlice<unsigned short>> planes, const std::vector<int>& channels,
                         size_t entries, const ViewState& state, const DisplayState& display, bool spectral,
                         int w, int h)
{
    ViewState flat;
    flat.axes.x = 0;
    flat.axes.y = 1;
    flat.channelDim = state.channelDim >= 0 ? 2 : -1;
    flat.spectrum = state.spectrum;
    flat.cursor = Vector(0, 0);
    Vector size(w, h);
    if (flat.channelDim >= 0) {
        size.push_back(static_cast<int>(entries));
        flat.cursor.push_back(0);
    }
    if (spectral) {
        VolumePlanes source(std::move(planes), w, h);
        return ColourSpectrum(source, flat, display, kViewXY).picture;
    }
    ViewData data;
    data.key.xdim = 0;
    data.key.ydim = 1;
    data.key.cd = flat.channelDim;
    data.Reset(data.key, entries);
    for (size_t i = 0; i < planes.size() && i < std::max<size_t>(channels.size(), 1); ++i) {
        const int c = channels.empty() ? 0 : channels[i];
        const ValueSpan span = ScanValues(planes[i]);
        data.Store(c, std::move(planes[i]), span);
    }
    ViewPicture picture = ColourViewData(data, flat, display, size).picture;
    if (picture.IsNull())
        return ViewPicture{NewBlackRGBA(w, h), w, h};
    return picture;
}

// The built volume, kept between frames on the worker.
struct VolumeCache
{
    bool valid = false;
    BuildKey key;
    VolumeBuild build;
    std::vector<std::shared_ptr<const Volume>> halves;
};

struct Prepared
{
    FrameRequest request;
    std::vector<VolumeLevel> levels;
    size_t entries = 1;
    bool spectral = false;
};

// A frame's request from the state, with the levels to read; false when the view cannot be
// drawn (dimensions not three of the image, or one of them the channel dimension).
bool prepare(ImageSession& session, const ViewState& state, const DisplayState& display,
             const std::vector<double>& pixelSizes, int width, int height, bool dragging, size_t budget,
             Prepared& out)
{
    const VolumeViewState& vs = state.volume;
    const Vector size = session.Size();
    const int n = static_cast<int>(size.size());
    const int cd = state.channelDim >= 0 && state.channelDim < n ? state.channelDim : -1;
    if (!vs.Drawable(size) || std::count(vs.dims.begin(), vs.dims.end(), cd) > 0 ||
        static_cast<int>(state.cursor.size()) != n)
        return false;
    FrameRequest& request = out.request;
    request.state = state;
    request.display = display;
    request.width = width;
    request.height = height;
    request.dragging = dragging;
    const bool spectral = out.spectral = cd >= 0 && state.IsSpectral(size);
    BuildKey& key = request.key;
    key.image = session.serial;
    key.dims = vs.dims;
    key.channelDim = cd;
    if (spectral)
        for (int c = 0; c < size[cd]; ++c)
            key.channels.push_back(c);
    else if (cd >= 0)
        key.channels = WantedEntries(state, request.display, size);
    key.pinned = state.cursor;
    for (int d : vs.dims)
        key.pinned[d] = -1;
    if (cd >= 0)
        key.pinned[cd] = -1;
    // Physical aspect only when every shown dimension has a pixel size.
    bool known = true;
    for (int i = 0; i < 3; ++i) {
        const size_t d = static_cast<size_t>(vs.dims[static_cast<size_t>(i)]);
        known = known && d < pixelSizes.size() && pixelSizes[d] > 0;
    }
    for (int i = 0; i < 3 && known; ++i)
        key.spacing[static_cast<size_t>(i)] = pixelSizes[static_cast<size_t>(vs.dims[static_cast<size_t>(i)])];
    key.budget = budget;
    if (vs.clip)
        for (int i = 0; i < 3; ++i)
            request.clipFrom[static_cast<size_t>(i)] = state.cursor[vs.dims[static_cast<size_t>(i)]];
    for (int l = 0; l < session.LevelCount() && static_cast<size_t>(l) < session.levelSizes.size(); ++l)
        out.levels.push_back(VolumeLevel{&session.Level(l), session.levelSizes[static_cast<size_t>(l)]});
    out.entries = cd >= 0 ? ViewEntries(state, display, size) : 1;
    return true;
}

// Builds the volume unless `cache` holds it already (`built` then says so) and renders the
// frame; null when cancelled.
std::shared_ptr<VolumeFrame> makeFrame(VolumeCache& cache, const Prepared& p, ImageReader::ProjectionControl& control,
                                       bool& built)
{
    const FrameRequest& request = p.request;
    const BuildKey& key = request.key;
    const VolumeViewState& vs = request.state.volume;
    built = false;
    if (!cache.valid || !(cache.key == key)) {
        cache = VolumeCache();
        VolumeRequest ask;
        ask.dims = key.dims;
        ask.cursor = request.state.cursor;
        ask.channelDim = key.channelDim;
        ask.channels = key.channels;
        ask.spacing = key.spacing;
        ask.budgetBytes = key.budget;
        VolumeBuild build = BuildVolume(p.levels, ask, &control);
        if (control.cancel || ImageReader::StopRequested())
            return nullptr;
        cache.build = std::move(build);
        cache.key = key;
        cache.valid = true;
        built = true;
    }
    auto made = std::make_shared<VolumeFrame>();
    VolumeFrame& frame = *made;
    frame.state = request.state;
    frame.display = request.display;
    frame.level = cache.build.level;
    frame.step = cache.build.step;
    std::vector<std::shared_ptr<const Volume>> volumes = cache.build.volumes;
    frame.refused = volumes.empty() || !volumes[0];
    if (frame.refused)
        return made;
    frame.voxels = volumes[0]->Size();
    int w = request.width, h = request.height;
    VolumeCamera camera = vs.camera;
    double clipScale = 1;
    if (request.dragging) {
        // The dragging copy: a 2 x 2 x 2 maximum rendered at half the size, made once per volume.
        if (cache.halves.size() != volumes.size()) {
            cache.halves.clear();
            for (const auto& v : volumes)
                cache.halves.push_back(HalveVolume(*v));
        }
        volumes = cache.halves;
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
        camera.panX /= 2;
        camera.panY /= 2;
        clipScale = 0.5;
        frame.halved = true;
    }
    VolumeRenderParams params = CameraParams(camera, *volumes[0], w, h);
    params.mode = vs.mode;
    params.sampling = vs.sampling;
    params.cancel = &control.cancel;
    if (vs.clip)
        for (size_t i = 0; i < 3; ++i)
            params.clipMin[i] =
                static_cast<int>(std::floor(request.clipFrom[i] * cache.build.voxelsPerPixel[i] * clipScale));
    for (int c : key.channels.empty() ? std::vector<int>{0} : key.channels) {
        // A channel still waiting for autoscaling has an empty range: ramp over all values.
        const ChannelDisplay& d = request.display.For(c, key.channelDim);
        params.ramps.emplace_back(d.min <= d.max ? d.min : 0, d.min <= d.max ? d.max : 65535);
    }
    std::vector<ImageSlice<unsigned short>> planes = RenderVolume(params, volumes);
    if (control.cancel || ImageReader::StopRequested())
        return nullptr;
    frame.picture =
        colourPlanes(std::move(planes), key.channels, p.entries, request.state, request.display, p.spectral, w, h);
    frame.box = ProjectVolumeBox(params, *volumes[0]);
    return made;
}

} // namespace

struct VolumeView::Held
{
    VolumeCache cache; // the worker's only
    // The model's thread only: the newest request submitted and its ticket (a request made
    // again while its job is still current is not submitted twice).
    FrameRequest last;
    bool submitted = false;
    std::uint64_t ticket = 0;
};

VolumeView::VolumeView(Viewer& viewer, std::shared_ptr<Poster> poster)
    : m_viewer(viewer), m_poster(std::move(poster)), m_held(std::make_shared<Held>())
{
    m_listener = m_viewer.AddListener([this](const ChangeSet& change) {
        if (change.Has(ChangeImage)) {
            m_frame = std::make_shared<const VolumeFrame>();
            m_held->submitted = false;
        }
        if (change.Has(ChangeCursor | ChangeAxes | ChangeDisplay | ChangeImage | ChangeVolume | ChangeSpectrum))
            Refresh();
    });
}

VolumeView::~VolumeView()
{
    m_viewer.RemoveListener(m_listener);
    *m_alive = false;
    // An empty job for the slot drops a pending frame and cancels the running one.
    m_viewer.Work().Submit(kSlot, [](ImageReader::ProjectionControl&, std::uint64_t) {});
}

void VolumeView::SetSize(int width, int height)
{
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    Refresh();
}

void VolumeView::SetDragging(bool dragging)
{
    if (dragging == m_dragging)
        return;
    m_dragging = dragging;
    Refresh();
}

void VolumeView::changeVolume(const std::function<void(VolumeViewState&)>& change)
{
    VolumeViewState v = m_viewer.State().volume;
    change(v);
    m_viewer.SetVolume(v);
}

void VolumeView::Drag(double dx, double dy)
{
    changeVolume([&](VolumeViewState& v) { v.camera.Drag(dx, dy, std::min(m_width, m_height)); });
}

void VolumeView::Wheel(double notches, double x, double y)
{
    changeVolume([&](VolumeViewState& v) { v.camera.Wheel(notches, x, y, m_width, m_height); });
}

void VolumeView::Pan(double dx, double dy)
{
    changeVolume([&](VolumeViewState& v) { v.camera.Pan(dx, dy); });
}

void VolumeView::Reset()
{
    changeVolume([](VolumeViewState& v) { v.camera.Reset(); });
}

void VolumeView::SetShown(bool shown)
{
    const ViewState& state = m_viewer.State();
    const Vector size = m_viewer.Size();
    changeVolume([&](VolumeViewState& v) {
        v.shown = shown;
        const bool hasChannel = std::count(v.dims.begin(), v.dims.end(), state.channelDim) > 0;
        if (shown && (!v.Drawable(size) || hasChannel))
            v.dims = {state.axes.x, state.axes.y, state.axes.xz >= 0 ? state.axes.xz : state.axes.yz};
    });
}

void VolumeView::SetMode(VolumeMode mode)
{
    changeVolume([&](VolumeViewState& v) { v.mode = mode; });
}

void VolumeView::SetClip(bool clip)
{
    changeVolume([&](VolumeViewState& v) { v.clip = clip; });
}

void VolumeView::Refresh()
{
    if (!m_viewer.State().volume.shown || !m_viewer.Session().IsOpen())
        return;
    ImageSession& session = m_viewer.Session();
    const size_t budget = static_cast<size_t>(static_cast<double>(session.image->GetBudget()) * budgetShare);
    Prepared p;
    if (!prepare(session, m_viewer.State(), m_viewer.Display(), m_viewer.PixelSizes(), m_width, m_height, m_dragging,
                 budget, p)) {
        // No picture of another image or of dimensions that are gone.
        if (!m_frame->IsNull()) {
            m_frame = std::make_shared<const VolumeFrame>();
            if (onFrame)
                onFrame();
        }
        return;
    }
    if (m_held->submitted && m_held->last == p.request && m_viewer.Work().IsCurrent(kSlot, m_held->ticket))
        return;
    m_held->last = p.request;
    m_held->submitted = true;
    auto job = [held = m_held, p, poster = m_poster, alive = m_alive, this](ImageReader::ProjectionControl& control,
                                                                             std::uint64_t ticket) {
        bool built = false;
        std::shared_ptr<const VolumeFrame> made = makeFrame(held->cache, p, control, built);
        if (!made)
            return;
        poster->Post([alive, this, ticket, made, built] {
            if (!*alive)
                return;
            builds += built ? 1 : 0;
            if (!m_viewer.Work().IsCurrent(kSlot, ticket))
                return;
            m_frame = made;
            ++frames;
            if (onFrame)
                onFrame();
        });
    };
    m_held->ticket = m_viewer.Work().Submit(kSlot, std::move(job));
}

VolumeFrame RenderVolumeFrame(ImageSession& session, const ViewState& state, const DisplayState& display,
                              const std::vector<double>& pixelSizes, int width, int height, size_t budgetBytes)
{
    Prepared p;
    VolumeFrame frame;
    frame.state = state;
    frame.display = display;
    if (!session.IsOpen() || !prepare(session, state, display, pixelSizes, width, height, false, budgetBytes, p))
        return frame;
    VolumeCache cache;
    ImageReader::ProjectionControl control;
    bool built = false;
    const std::shared_ptr<VolumeFrame> made = makeFrame(cache, p, control, built);
    return made ? std::move(*made) : std::move(frame);
}

std::string VolumeView::Status() const
{
    if (m_frame->refused)
        return "3-D view: the volume does not fit the memory budget";
    if (m_frame->level < 0)
        return std::string();
    std::string text = "3-D view: " + std::to_string(m_frame->voxels[0]) + " x " + std::to_string(m_frame->voxels[1]) +
                       " x " + std::to_string(m_frame->voxels[2]) + " voxels from ";
    text += m_frame->level == 0 ? std::string("full resolution") : "level " + std::to_string(m_frame->level);
    if (m_frame->step > 1)
        text += ", one voxel in " + std::to_string(m_frame->step) + " along each axis";
    if (m_frame->halved)
        text += " (halved while dragging)";
    return text;
}

void VolumeView::Wait()
{
    m_viewer.Wait();
}

} // namespace ImageViewer
