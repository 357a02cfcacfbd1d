#include "Viewer.h"

#include <algorithm>
#include <cmath>

#include "ImageProperties.h"
#include "OpenDefaults.h"

namespace ImageViewer {

namespace {

bool inside(int d, int n)
{
    return d >= 0 && d < n;
}

ChannelDisplay defaultChannel(int r, int g, int b)
{
    ChannelDisplay c;
    c.r = r;
    c.g = g;
    c.b = b;
    return c;
}

// Every entry of a listed channel dimension (fewer than 10) gets a channel of its own: those
// past the defaults are white and autoscale, as the window's list adds them.
void addChannels(DisplayState& d, const ImageReader::Vector& size, int cd)
{
    if (!inside(cd, static_cast<int>(size.size())) || size[cd] >= 10)
        return;
    if (d.channels.size() < static_cast<size_t>(size[cd]))
        d.channels.resize(static_cast<size_t>(size[cd]));
}

} // namespace

Viewer::Viewer(std::shared_ptr<Poster> poster)
    : m_poster(poster ? std::move(poster) : std::make_shared<QueuePoster>()), m_work(std::make_unique<ViewWork>())
{
    m_work->SetDiagnosticSink(m_diagnostics);
}

Viewer::~Viewer()
{
    *m_alive = false;
    m_diagnostics->Detach();
    stopWork();
    m_work.reset();
}

void Viewer::stopWork()
{
    m_work->CancelAll();
    m_work->Wait();
    for (ViewRecord& r : m_views)
        r = ViewRecord();
}

std::string Viewer::Open(std::unique_ptr<Reader> reader, size_t budgetBytes, const std::vector<ChannelDisplay>& defaults)
{
    if (!reader || reader->GetSize().size() == 0)
        return "the image has no dimensions";
    stopWork();
    const ImageReader::DiagnosticScope diagnostics(m_diagnostics);
    m_session.Open(std::move(reader), budgetBytes);
    Reader& r = *m_session.reader;
    const ImageReader::Vector size = m_session.Size();
    const ImageProperties properties(r);
    m_pixelSizes = properties.m_pixelsize;
    m_state = ViewState::Initial(size, properties.m_dimname, r.GetChannelHintDim());
    m_state.cursor = InitialCursor(size, r.GetInitialPosition());
    if (m_state.channelDim >= 0 && m_state.channelDim < static_cast<int>(size.size()))
        m_state.spectrum = InitialSpectrumCalibration(size[m_state.channelDim],
                                                      r.GetIndexWavelengths(static_cast<unsigned>(m_state.channelDim)));

    // Channel colours, display windows and switches from the file's own hints.
    DisplayState display;
    display.channels = defaults;
    if (display.channels.empty())
        display.channels = {defaultChannel(255, 0, 0), defaultChannel(0, 255, 0), defaultChannel(0, 0, 255)};
    ApplyChannelHints(r.GetChannelHints(), r.GetValueMap(), display.channels);
    const int cd = m_state.channelDim;
    addChannels(display, size, cd);
    for (size_t k = 0; k < display.channels.size(); ++k) {
        ChannelDisplay& c = display.channels[k];
        if (c.name.empty() && cd >= 0)
            c.name = r.GetIndexName(static_cast<unsigned>(cd), static_cast<int>(k));
        if (c.name.empty())
            c.name = std::to_string(k);
    }
    m_display = display;
    refusedView = false;
    notify(ChangeSet{ChangeImage | ChangeAxes | ChangeCursor | ChangeDisplay | ChangeZoom, ViewAll});
    Refresh(ViewAll);
    return std::string();
}

void Viewer::Close()
{
    stopWork();
    m_session.Close();
    m_state = ViewState();
    m_display = DisplayState();
    notify(ChangeSet{ChangeImage, ViewAll});
}

void Viewer::SetPixelSizes(std::vector<double> sizes)
{
    sizes.resize(Size().size(), 0.0);
    // The window hands them in on every refresh: only a change is news.
    if (sizes == m_pixelSizes)
        return;
    m_pixelSizes = std::move(sizes);
    notify(ChangeSet{ChangeZoom, 0});
}

int Viewer::AddListener(Listener listener)
{
    m_listeners[++m_nextListener] = std::move(listener);
    return m_nextListener;
}

void Viewer::RemoveListener(int id)
{
    m_listeners.erase(id);
}

void Viewer::notify(const ChangeSet& change)
{
    // A listener may add or remove listeners: those added meanwhile hear the next change, those
    // removed no more. Each is called through a copy (no allocation for the usual small
    // capture), so one that removes itself is not destroyed while it runs.
    const int last = m_nextListener;
    for (auto it = m_listeners.begin(); it != m_listeners.end() && it->first <= last;) {
        const int id = it->first;
        const Listener listener = it->second;
        listener(change);
        it = m_listeners.upper_bound(id);
    }
}

bool Viewer::validThen(ViewState next, unsigned what, int mask)
{
    // Equal reference positions are a calibration being typed: spectra are drawn black
    // until it is usable, so the model takes it (a state file may not carry one).
    ViewState checked = next;
    if (checked.spectrum.p1 == checked.spectrum.p2 && std::isfinite(checked.spectrum.p1))
        checked.spectrum = SpectrumCalibration();
    if (!m_session.IsOpen() || !checked.Validate(Size()).empty())
        return false;
    if (next == m_state)
        return true;
    m_state = std::move(next);
    notify(ChangeSet{what, mask});
    Refresh(mask);
    return true;
}

bool Viewer::SetState(const ViewState& state)
{
    ViewState next = state;
    if (next.projected.empty())
        next.projected.assign(Size().size(), false);
    return validThen(next, ChangeCursor | ChangeAxes | ChangeProjection | ChangeZoom | ChangeMeasure | ChangeSpectrum,
                     ViewAll);
}

bool Viewer::SetDisplay(const DisplayState& display)
{
    if (!m_session.IsOpen() || !display.Validate().empty())
        return false;
    if (display == m_display)
        return true;
    m_display = display;
    notify(ChangeSet{ChangeDisplay, ViewAll});
    Refresh(ViewAll);
    return true;
}

bool Viewer::SetCursor(int d, int value)
{
    const ImageReader::Vector size = Size();
    if (!inside(d, static_cast<int>(size.size())) || value < 0 || value >= size[d])
        return false;
    ViewState next = m_state;
    next.cursor[d] = value;
    const bool collapsed = m_state.IsProjected(d) && !m_state.IsSpectral(size);
    return validThen(next, ChangeCursor, CursorMoveMask(d, m_state.axes, collapsed, m_state.channelDim));
}

bool Viewer::SetCursor(const ImageReader::Vector& cursor)
{
    const ImageReader::Vector size = Size();
    const int n = static_cast<int>(size.size());
    if (static_cast<int>(cursor.size()) != n)
        return false;
    ViewState next = m_state;
    // A model whose state has no cursor for this image yet takes the whole one.
    if (static_cast<int>(m_state.cursor.size()) != n) {
        next.cursor = cursor;
        return validThen(next, ChangeCursor, ViewAll);
    }
    int mask = 0;
    for (int d = 0; d < n; ++d) {
        if (cursor[d] == m_state.cursor[d])
            continue;
        if (cursor[d] < 0 || cursor[d] >= size[d])
            return false;
        next.cursor[d] = cursor[d];
        const bool collapsed = m_state.IsProjected(d) && !m_state.IsSpectral(size);
        mask |= CursorMoveMask(d, m_state.axes, collapsed, m_state.channelDim);
    }
    return validThen(next, ChangeCursor, mask);
}

bool Viewer::SetAxes(const ViewAxes& axes)
{
    ViewState next = m_state;
    next.axes = axes;
    return validThen(next, ChangeAxes, ViewAll);
}

bool Viewer::SetChannelDimension(int cd)
{
    ViewState next = m_state;
    next.channelDim = cd;
    if (m_session.IsOpen() && next.IsSpectral(Size()) && !m_state.IsSpectral(Size()))
        next.spectrum = InitialSpectrumCalibration(Size()[cd], m_session.reader->GetIndexWavelengths(static_cast<unsigned>(cd)));
    if (!m_session.IsOpen() || !next.Validate(Size()).empty())
        return false;
    DisplayState display = m_display;
    addChannels(display, Size(), cd);
    for (size_t k = 0; k < display.channels.size(); ++k)
        if (display.channels[k].name.empty())
            display.channels[k].name = std::to_string(k);
    if (display != m_display) {
        m_display = std::move(display);
        notify(ChangeSet{ChangeDisplay, 0});
    }
    return validThen(next, ChangeAxes, ViewAll);
}

bool Viewer::SetProfileDimension(int pd)
{
    ViewState next = m_state;
    next.profileDim = pd;
    return validThen(next, ChangeAxes, 0);
}

bool Viewer::SetProjection(ProjectionMode mode)
{
    ViewState next = m_state;
    next.projection = mode;
    return validThen(next, ChangeProjection, ViewAll);
}

bool Viewer::SetProjected(int d, bool on)
{
    if (!inside(d, static_cast<int>(Size().size())))
        return false;
    ViewState next = m_state;
    next.projected[static_cast<size_t>(d)] = on;
    const int mask = m_state.projection == ProjectionMode::Max ? ProjectionChangeMask(d, m_state.axes) : 0;
    return validThen(next, ChangeProjection, mask);
}

bool Viewer::SetZoom(double zoom, const ImageReader::Vector& pan, bool fitted)
{
    ViewState next = m_state;
    next.zoom = zoom;
    next.pan = pan;
    next.fitted = fitted;
    // A zoom only re-reads views whose matching level it changes.
    const ViewState before = m_state;
    if (!validThen(next, ChangeZoom, 0))
        return false;
    int mask = 0;
    for (int index = 0; index < kViewCount; ++index) {
        const ViewKey& k = m_views[static_cast<size_t>(index)].data.key;
        if (k.xdim >= 0 && ViewLevel(index) != k.level)
            mask |= 1 << index;
    }
    Refresh(mask);
    return true;
}

bool Viewer::Fit(int width, int height)
{
    const ImageReader::Vector size = Size();
    const int n = static_cast<int>(size.size());
    const ViewAxes& a = m_state.axes;
    if (!inside(a.x, n) || !inside(a.y, n))
        return false;
    const std::vector<double> unit = PixelZooms(m_pixelSizes, 1.0);
    const auto length = [&](int d) { return inside(d, n) ? size[d] * unit[static_cast<size_t>(d)] : 0.0; };
    const double zoom = std::min(FitZoom(length(a.x), length(a.yz), width), FitZoom(length(a.y), length(a.xz), height));
    // The XY cell is what the side tracks leave of the table (3 pixels apart).
    const auto cell = [&](int table, int side) {
        return table - (inside(side, n) ? static_cast<int>(SideViewSize(size[side], zoom * unit[static_cast<size_t>(side)], table)) + 3 : 0);
    };
    ImageReader::Vector pan(inside(a.yz, n) ? 0 : CentredOffset(cell(width, a.yz), length(a.x) * zoom),
                            inside(a.xz, n) ? 0 : CentredOffset(cell(height, a.xz), length(a.y) * zoom));
    return SetZoom(zoom, pan, true);
}

bool Viewer::SetChannel(int c, const ChannelDisplay& channel)
{
    if (c < 0 || c >= static_cast<int>(m_display.channels.size()))
        return false;
    DisplayState next = m_display;
    next.channels[static_cast<size_t>(c)] = channel;
    return SetDisplay(next);
}

bool Viewer::SetGlobalChannel(const ChannelDisplay& channel)
{
    DisplayState next = m_display;
    next.global = channel;
    return SetDisplay(next);
}

bool Viewer::SelectChannel(int c)
{
    DisplayState next = m_display;
    next.selected = c;
    return SetDisplay(next);
}

bool Viewer::SetSpectrum(const SpectrumCalibration& calibration)
{
    ViewState next = m_state;
    next.spectrum = calibration;
    return validThen(next, ChangeSpectrum, m_state.IsSpectral(Size()) ? ViewAll : 0);
}

bool Viewer::SetScaleBar(bool on)
{
    ViewState next = m_state;
    next.scaleBar = on;
    return validThen(next, ChangeZoom, 0);
}

bool Viewer::SetVolume(const VolumeViewState& volume)
{
    ViewState next = m_state;
    next.volume = volume;
    return validThen(next, ChangeVolume, 0);
}

bool Viewer::SetMeasurement(const MeasureState& measure)
{
    ViewState next = m_state;
    next.measure = measure;
    return validThen(next, ChangeMeasure, 0);
}

int Viewer::ViewLevel(int index) const
{
    if (m_session.LevelCount() < 2)
        return 0;
    const auto [xdim, ydim] = m_state.ViewDims(index);
    const int n = static_cast<int>(Size().size());
    if (!inside(xdim, n) || !inside(ydim, n))
        return 0;
    std::vector<double> sizes = m_pixelSizes;
    sizes.resize(static_cast<size_t>(n), 0.0);
    const std::vector<double> zooms = PixelZooms(sizes, m_state.zoom);
    return m_session.MatchingLevel(xdim, ydim, zooms[static_cast<size_t>(xdim)] * devicePixelRatio,
                                   zooms[static_cast<size_t>(ydim)] * devicePixelRatio);
}

ViewPlan Viewer::Plan(int index) const
{
    ViewPlan plan;
    plan.index = index;
    if (!m_session.IsOpen())
        return plan;
    const ImageReader::Vector size = Size();
    const int n = static_cast<int>(size.size());
    const int cd = m_state.channelDim;
    plan.drawable = m_state.Drawable(index, size);
    if (!plan.drawable)
        return plan;
    const ViewRecord& record = m_views[static_cast<size_t>(index)];
    if (cd >= n || m_state.IsSpectral(size)) {
        // No channel to draw, or spectral colouring, which folds the channels as it colours.
        plan.spectral = true;
        plan.key = MakeViewKey(m_state, index, m_session.serial, m_session.levelSizes);
        const double bytes = cd < n ? plan.key.ReadBytes(size) * size[cd] : 0.0;
        plan.inlineRead = cd >= n || (!m_session.ReadsMayWait() && bytes <= inlineLimitBytes);
        return plan;
    }
    plan.level = ViewLevel(index);
    plan.key = MakeViewKey(m_state, index, m_session.serial, m_session.levelSizes, plan.level);
    const ImageReader::Vector& levelSize = m_session.levelSizes[static_cast<size_t>(plan.level)];
    plan.entries = ViewEntries(m_state, m_display, size);
    plan.wanted = WantedEntries(m_state, m_display, size);
    plan.missing = record.data.key == plan.key && record.data.planes.size() == plan.entries
                       ? record.data.Missing(plan.wanted)
                       : plan.wanted;
    if (plan.missing.empty())
        return plan;
    // The projections and the picture must fit the budget, or nothing is attempted.
    const double pixels = static_cast<double>(levelSize[plan.key.xdim]) * static_cast<double>(levelSize[plan.key.ydim]);
    plan.refused = pixels * (2.0 * static_cast<double>(plan.wanted.size()) + 4.0) >
                   static_cast<double>(m_session.image->GetBudget());
    plan.inlineRead = !m_session.ReadsMayWait() &&
                      plan.key.ReadBytes(levelSize) * static_cast<double>(plan.missing.size()) <= inlineLimitBytes;
    plan.running = record.jobActive && record.jobKey == plan.key && record.jobMissing == plan.missing &&
                   m_work->IsCurrent(index, record.job);
    return plan;
}

void Viewer::Refresh(int mask)
{
    if (autoRefresh)
        SubmitViews(mask);
}

int Viewer::SubmitViews(int mask)
{
    int drawn = 0;
    const bool nested = m_batch.active; // a listener refreshing inside a batch joins it
    if (!nested)
        m_batch = Batch{true, mask & ViewAll, 0};
    for (int index = 0; index < kViewCount; ++index) {
        if (!(mask & (1 << index)))
            continue;
        m_batch.pending &= ~(1 << index);
        const ViewPlan plan = Plan(index);
        if (plan.drawable)
            drawn |= 1 << index;
        Submit(plan);
    }
    if (nested)
        return drawn;
    const int recolour = m_batch.recolour;
    m_batch = Batch{};
    for (int index = 0; index < kViewCount; ++index)
        if (recolour & (1 << index))
            recolourShown(index);
    return drawn;
}

void Viewer::Submit(const ViewPlan& plan)
{
    const auto i = static_cast<size_t>(plan.index);
    ViewRecord& rec = m_views[i];
    ++recomputeCount[i];
    if (!plan.drawable) {
        rec.picture = ViewPicture();
        rec.shown = ViewKey();
        notify(ChangeSet{ChangeViewReady, 1 << plan.index});
        return;
    }
    if (plan.spectral) {
        submitSpectral(plan);
        return;
    }
    // Complete data of this view at another level stands in while the wanted level comes.
    if (rec.data.key != plan.key && rec.data.key.SameView(plan.key) && !rec.data.planes.empty() &&
        rec.data.Missing(plan.wanted).empty()) {
        rec.preview = std::move(rec.data);
        rec.data = ViewData();
    }
    if (!rec.preview.key.SameView(plan.key))
        rec.preview = ViewData();
    rec.data.Reset(plan.key, plan.entries);
    if (!plan.missing.empty()) {
        if (plan.refused) {
            rec.picture = ViewPicture();
            rec.shown = ViewKey();
            refusedView = true;
            notify(ChangeSet{ChangeViewReady, 1 << plan.index});
            return;
        }
        if (!plan.inlineRead) {
            if (!plan.running)
                submitJob(plan);
            // Meanwhile the view shows the other level, or keeps its old picture when that
            // showed the same axes of this image.
            if (!rec.preview.planes.empty() && rec.preview.Missing(plan.wanted).empty())
                colour(plan.index, rec.preview);
            else if (rec.shown.xdim != plan.key.xdim || rec.shown.ydim != plan.key.ydim ||
                     rec.shown.cd != plan.key.cd || rec.shown.image != plan.key.image) {
                rec.picture = ViewPicture();
                rec.shown = ViewKey();
                notify(ChangeSet{ChangePictureDropped, 1 << plan.index});
            }
            return;
        }
        ImageReader::ImageBase<unsigned short>& source = m_session.Level(plan.level);
        for (int c : plan.missing) {
            ImageReader::ImageSlice<unsigned short> plane = plan.key.Project(source, c);
            const ValueSpan span = ScanValues(plane);
            rec.data.Store(c, std::move(plane), span);
        }
    }
    colour(plan.index, rec.data);
}

void Viewer::colour(int index, const ViewData& source)
{
    const ImageReader::Vector& levelSize = m_session.levelSizes[static_cast<size_t>(source.key.level)];
    // Re-colouring writes over the old picture where it may: no allocation per range step.
    ViewPicture& old = m_views[static_cast<size_t>(index)].picture;
    RGBABuffer reuse;
    const int n = static_cast<int>(levelSize.size());
    if (mayReusePicture && !old.IsNull() && inside(source.key.xdim, n) && inside(source.key.ydim, n) &&
        old.width == levelSize[source.key.xdim] && old.height == levelSize[source.key.ydim] && mayReusePicture(index))
        reuse = std::move(old.pixels);
    show(index, ColourViewData(source, m_state, m_display, levelSize, std::move(reuse)), source.key);
}

void Viewer::show(int index, ColouredView coloured, const ViewKey& key)
{
    ViewRecord& rec = m_views[static_cast<size_t>(index)];
    rec.picture = std::move(coloured.picture);
    rec.shown = rec.picture.IsNull() ? ViewKey() : key;
    notify(ChangeSet{ChangeViewReady, 1 << index});
    if (coloured.widened)
        takeWidened(coloured.display, index);
}

void Viewer::takeWidened(const DisplayState& display, int except)
{
    // Under autoscaling the range only widens, to cover what every view found; the other
    // views are coloured again with it.
    m_display = display;
    notify(ChangeSet{ChangeDisplay, 0});
    for (int other = 0; other < kViewCount; ++other) {
        if (other == except)
            continue;
        // In a batch, views still to come get the range anyway, and those done get it
        // once at the end, however many views widen it.
        if (m_batch.active) {
            if (!(m_batch.pending & (1 << other)))
                m_batch.recolour |= 1 << other;
            continue;
        }
        recolourShown(other);
    }
}

void Viewer::recolourShown(int index)
{
    const ViewRecord& rec = m_views[static_cast<size_t>(index)];
    if (!rec.shown.image || rec.shown.xdim < 0)
        return;
    if (m_state.IsSpectral(Size()))
        Submit(Plan(index));
    else if (rec.shown == rec.data.key)
        colour(index, rec.data);
    else if (rec.shown == rec.preview.key)
        colour(index, rec.preview);
}

void Viewer::submitSpectral(const ViewPlan& plan)
{
    ViewRecord& rec = m_views[static_cast<size_t>(plan.index)];
    rec.data = ViewData();
    rec.preview = ViewData();
    rec.jobActive = false;
    const int index = plan.index;
    if (plan.inlineRead) {
        show(index, RenderView(m_session, m_state, m_display, index), plan.key);
        return;
    }
    // A large spectrum is coloured on the worker with a snapshot of the state; the old
    // picture stays meanwhile.
    const ViewState state = m_state;
    const DisplayState display = m_display;
    ImageReader::ImageBase<unsigned short>* const source = &m_session.Level(0);
    const ViewKey key = plan.key;
    std::shared_ptr<Poster> poster = m_poster;
    std::shared_ptr<bool> alive = m_alive;
    rec.job = m_work->Submit(index, [this, poster, alive, source, state, display, key,
                                     index](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
        auto coloured = std::make_shared<ColouredView>(ColourSpectrum(*source, state, display, index));
        if (control.cancel)
            return;
        poster->Post([this, alive, coloured, key, ticket, index] {
            if (!*alive || !m_work->IsCurrent(index, ticket) ||
                MakeViewKey(m_state, index, m_session.serial, m_session.levelSizes) != key || !m_state.IsSpectral(Size()))
                return;
            ViewRecord& r = m_views[static_cast<size_t>(index)];
            r.picture = std::move(coloured->picture);
            r.shown = r.picture.IsNull() ? ViewKey() : key;
            notify(ChangeSet{ChangeViewReady, 1 << index});
            if (coloured->widened) {
                // Widen only: another view may have widened the range meanwhile.
                DisplayState d = m_display;
                d.global.min = std::min(d.global.min, coloured->display.global.min);
                d.global.max = std::max(d.global.max, coloured->display.global.max);
                if (d != m_display)
                    takeWidened(d, index);
            }
            // Coloured with a range that another view widened meanwhile: once more with it.
            if (m_display.global != coloured->display.global)
                Submit(Plan(index));
        });
    }, index == kViewXY);
    if (rec.shown.xdim != key.xdim || rec.shown.ydim != key.ydim || rec.shown.cd != key.cd || rec.shown.image != key.image) {
        rec.picture = ViewPicture();
        rec.shown = ViewKey();
        notify(ChangeSet{ChangePictureDropped, 1 << index});
    }
}

void Viewer::submitJob(const ViewPlan& plan)
{
    ViewRecord& rec = m_views[static_cast<size_t>(plan.index)];
    const int index = plan.index;
    const int coarsest = m_session.LevelCount() - 1;
    const bool usablePreview = !rec.preview.planes.empty() && rec.preview.Missing(plan.wanted).empty();
    // A multiscale image shows its coarsest level first, unless another level of this view
    // is already there to show.
    ImageReader::ImageBase<unsigned short>* const fine = &m_session.Level(plan.level);
    ImageReader::ImageBase<unsigned short>* const coarse =
        plan.level != coarsest && !usablePreview ? &m_session.Level(coarsest) : nullptr;
    const ViewKey key = plan.key;
    const ViewKey coarseKey = MakeViewKey(m_state, index, m_session.serial, m_session.levelSizes, coarsest);
    const std::vector<int> missing = plan.missing;
    const std::vector<int> wanted = plan.wanted;
    std::shared_ptr<Poster> poster = m_poster;
    std::shared_ptr<bool> alive = m_alive;
    // What an interrupted run finished is kept here and not read again when it runs again.
    struct Done
    {
        std::vector<int> entries;
        std::vector<ImageReader::ImageSlice<unsigned short>> planes;
        std::vector<ValueSpan> spans;
        bool coarseShown = false;
    };
    auto done = std::make_shared<Done>();
    rec.jobActive = true;
    rec.jobKey = key;
    rec.jobMissing = missing;
    rec.job = m_work->Submit(index, [this, poster, alive, fine, coarse, key, coarseKey, missing, wanted, index,
                                     done](ImageReader::ProjectionControl& control, std::uint64_t ticket) {
        const auto post = [&](const ViewKey& k, std::vector<int> entries,
                              std::vector<ImageReader::ImageSlice<unsigned short>> planes, std::vector<ValueSpan> spans,
                              bool preview) {
            poster->Post([this, alive, k, entries = std::move(entries), planes = std::move(planes),
                          spans = std::move(spans), ticket, index, preview]() mutable {
                if (*alive)
                    deliverPlanes(index, k, std::move(entries), std::move(planes), std::move(spans), ticket, preview);
            });
        };
        if (coarse && !done->coarseShown) {
            std::vector<ImageReader::ImageSlice<unsigned short>> planes;
            std::vector<ValueSpan> spans;
            for (int c : wanted) {
                planes.push_back(coarseKey.Project(*coarse, c, &control));
                if (control.cancel)
                    return;
                spans.push_back(ScanValues(planes.back()));
            }
            done->coarseShown = true;
            post(coarseKey, wanted, std::move(planes), std::move(spans), true);
        }
        for (int c : missing) {
            if (std::find(done->entries.begin(), done->entries.end(), c) != done->entries.end())
                continue;
            ImageReader::ImageSlice<unsigned short> plane = key.Project(*fine, c, &control);
            if (control.cancel)
                break;
            done->spans.push_back(ScanValues(plane));
            done->planes.push_back(std::move(plane));
            done->entries.push_back(c);
        }
        // Also what an interrupted run finished goes to the view: the data is keyed, so a
        // later job for the same view needs only the rest.
        if (!done->entries.empty())
            post(key, done->entries, done->planes, done->spans, false);
    }, index == kViewXY);
}

void Viewer::deliverPlanes(int index, const ViewKey& key, std::vector<int> entries,
                           std::vector<ImageReader::ImageSlice<unsigned short>> planes, std::vector<ValueSpan> spans,
                           std::uint64_t ticket, bool preview)
{
    ViewRecord& rec = m_views[static_cast<size_t>(index)];
    if (preview) {
        if (!m_work->IsCurrent(index, ticket) || rec.data.key != MakeViewKey(m_state, index, m_session.serial,
                                                                             m_session.levelSizes, rec.data.key.level))
            return;
        rec.preview = ViewData();
        rec.preview.Reset(key, ViewEntries(m_state, m_display, Size()));
        for (size_t j = 0; j < entries.size(); ++j)
            rec.preview.Store(entries[j], planes[j], spans[j]);
        if (!rec.data.Missing(WantedEntries(m_state, m_display, Size())).empty())
            colour(index, rec.preview);
        return;
    }
    if (rec.data.key != key)
        return;
    for (size_t j = 0; j < entries.size(); ++j)
        if (static_cast<size_t>(entries[j]) < rec.data.planes.size() && !rec.data.have[static_cast<size_t>(entries[j])])
            rec.data.Store(entries[j], planes[j], spans[j]);
    const std::vector<int> wanted = WantedEntries(m_state, m_display, Size());
    if (m_work->IsCurrent(index, ticket) && rec.data.Missing(rec.jobMissing).empty())
        rec.jobActive = false;
    if (rec.data.Missing(wanted).empty())
        colour(index, rec.data);
    else if (m_work->IsCurrent(index, ticket) && !rec.jobActive)
        Submit(Plan(index)); // a channel enabled while the job ran
}

void Viewer::ClearViews()
{
    stopWork();
    notify(ChangeSet{ChangePictureDropped, ViewAll});
}

void Viewer::Wait()
{
    // A delivered result can ask for more (a channel enabled meanwhile): repeat until quiet.
    for (int round = 0; round < 64; ++round) {
        m_work->Wait();
        const int completed = m_work->CompletedCount();
        m_poster->Drain();
        if (!m_work->IsBusy() && m_work->CompletedCount() == completed)
            break;
    }
}

} // namespace ImageViewer
