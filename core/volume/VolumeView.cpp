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

} // namespace

struct VolumeView::Held
{
    bool valid = false;
    BuildKey key;
    VolumeBuild build;
    std::vector<std::shared_ptr<const Volume>> halves;
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
    changeVolume([&](VolumeViewState& v) { v.shown = shown; });
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
    ImageSession& session = m_viewer.Session();
    const ViewState& state = m_viewer.State();
    const VolumeViewState& vs = state.volume;
    if (!vs.shown || !session.IsOpen())
        return;
    const Vector size = session.Size();
    const int n = static_cast<int>(size.size());
    const int cd = state.channelDim >= 0 && state.channelDim < n ? state.channelDim : -1;
    if (!vs.Drawable(size) || std::count(vs.dims.begin(), vs.dims.end(), cd) > 0 ||
        static_cast<int>(state.cursor.size()) != n)
        return;

    FrameRequest request;
    request.state = state;
    request.display = m_viewer.Display();
    request.width = m_width;
    request.height = m_height;
    request.dragging = m_dragging;
    const bool spectral = cd >= 0 && state.IsSpectral(size);
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
    const std::vector<double>& pixelSizes = m_viewer.PixelSizes();
    bool known = true;
    for (int i = 0; i < 3; ++i) {
        const size_t d = static_cast<size_t>(vs.dims[static_cast<size_t>(i)]);
        known = known && d < pixelSizes.size() && pixelSizes[d] > 0;
    }
    for (int i = 0; i < 3 && known; ++i)
        key.spacing[static_cast<size_t>(i)] = pixelSizes[static_cast<size_t>(vs.dims[static_cast<size_t>(i)])];
    key.budget = static_cast<size_t>(static_cast<double>(session.image->GetBudget()) * budgetShare);
    if (vs.clip)
        for (int i = 0; i < 3; ++i)
            request.clipFrom[static_cast<size_t>(i)] = state.cursor[vs.dims[static_cast<size_t>(i)]];
    if (m_held->submitted && m_held->last == request && m_viewer.Work().IsCurrent(kSlot, m_held->ticket))
        return;
    m_held->last = request;
    m_held->submitted = true;

    std::vector<VolumeLevel> levels;
    for (int l = 0; l < session.LevelCount() && static_cast<size_t>(l) < session.levelSizes.size(); ++l)
        levels.push_back(VolumeLevel{&session.Level(l), session.levelSizes[static_cast<size_t>(l)]});
    const size_t entries = cd >= 0 ? ViewEntries(state, request.display, size) : 1;

    auto job = [held = m_held, levels, request, entries, spectral, poster = m_poster, alive = m_alive,
                this](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
        const BuildKey& key = request.key;
        const VolumeViewState& vs = request.state.volume;
        if (!held->valid || !(held->key == key)) {
            held->valid = false;
            held->build = VolumeBuild();
            held->halves.clear();
            VolumeRequest ask;
            ask.dims = key.dims;
            ask.cursor = request.state.cursor;
            ask.channelDim = key.channelDim;
            ask.channels = key.channels;
            ask.spacing = key.spacing;
            ask.budgetBytes = key.budget;
            VolumeBuild build = BuildVolume(levels, ask, &control);
            if (control.cancel || ImageReader::StopRequested())
                return;
            held->build = std::move(build);
            held->key = key;
            held->valid = true;
            poster->Post([alive, this] {
                if (*alive)
                    ++builds;
            });
        }
        auto made = std::make_shared<VolumeFrame>();
        VolumeFrame& frame = *made;
        frame.state = request.state;
        frame.display = request.display;
        frame.level = held->build.level;
        frame.step = held->build.step;
        std::vector<std::shared_ptr<const Volume>> volumes = held->build.volumes;
        if (!volumes.empty() && volumes[0]) {
            frame.voxels = volumes[0]->Size();
            int w = request.width, h = request.height;
            VolumeCamera camera = vs.camera;
            double clipScale = 1;
            if (request.dragging) {
                if (held->halves.size() != volumes.size()) {
                    held->halves.clear();
                    for (const auto& v : volumes)
                        held->halves.push_back(HalveVolume(*v));
                }
                volumes = held->halves;
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
                    params.clipMin[i] = static_cast<int>(std::floor(request.clipFrom[i] *
                                                                    held->build.voxelsPerPixel[i] * clipScale));
            for (int c : key.channels.empty() ? std::vector<int>{0} : key.channels) {
                const ChannelDisplay& d = request.display.For(c, key.channelDim);
                params.ramps.emplace_back(d.min, d.max);
            }
            std::vector<ImageSlice<unsigned short>> planes = RenderVolume(params, volumes);
            if (control.cancel || ImageReader::StopRequested())
                return;
            frame.picture = colourPlanes(std::move(planes), key.channels, entries, request.state, request.display,
                                         spectral, w, h);
            frame.box = ProjectVolumeBox(params, *volumes[0]);
        }
        poster->Post([alive, this, ticket, made] {
            if (!*alive || !m_viewer.Work().IsCurrent(kSlot, ticket))
                return;
            m_frame = made;
            ++frames;
            if (onFrame)
                onFrame();
        });
    };
    m_held->ticket = m_viewer.Work().Submit(kSlot, std::move(job));
}

std::string VolumeView::Status() const
{
    if (m_frame->level < 0)
        return frames > 0 ? "3-D view: the volume does not fit the memory budget" : std::string();
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
