#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ImageSession.h"
#include "Poster.h"
#include "ViewRender.h"
#include "ViewState.h"
#include "ViewWork.h"

namespace ImageViewer {

// What a change touched; listeners repaint or rebind only that.
enum ChangeBit : unsigned {
    ChangeCursor = 1,
    ChangeAxes = 2,
    ChangeProjection = 4,
    ChangeDisplay = 8,
    ChangeZoom = 16,
    ChangeImage = 32,
    ChangeViewReady = 64, // a picture arrived; `views` says which
    ChangeMeasure = 128,
    ChangeSpectrum = 256,
    ChangeVolume = 512, // the 3-D view's state
    ChangePictureDropped = 1024, // a view's picture is gone until its new one comes; `views` says which
};

struct ChangeSet
{
    unsigned what = 0;
    int views = 0; // ViewBit mask: views whose data changed (or whose picture arrived)
    bool Has(unsigned bits) const { return (what & bits) != 0; }
};

// Everything the model keeps for one view.
struct ViewRecord
{
    ViewData data;    // the planes of what the view shows, by channel entry
    ViewData preview; // the same view at another level, shown while the wanted one comes
    std::uint64_t job = 0;
    bool jobActive = false;
    ViewKey jobKey;
    std::vector<int> jobMissing;
    ViewPicture picture; // valid until the next picture of this view
    ViewKey shown;       // what the picture shows
};

// What bringing a view up to date takes, decided from the state alone.
struct ViewPlan
{
    int index = 0;
    bool drawable = false;
    bool spectral = false; // the channel dimension is folded by wavelength (or is not there)
    bool inlineRead = false;
    bool refused = false; // the projections would not fit the memory budget
    bool running = false; // the same data is being computed already
    int level = 0;
    ViewKey key;
    size_t entries = 0;
    std::vector<int> wanted;
    std::vector<int> missing;
};

// The viewer's model: an image session, the view and display state, and the three views'
// data and pictures. Setters validate, update, bring the affected views up to date and
// tell listeners what changed. Long reads run on a worker; their results come back
// through the poster, on the thread that drains it, which must be the model's own.
class Viewer
{
public:
    using Reader = ImageReader::ImageReaderBase<unsigned short>;
    using Listener = std::function<void(const ChangeSet&)>;

    // poster: where results of background work go (null: a queue drained by Wait).
    explicit Viewer(std::shared_ptr<Poster> poster = nullptr);
    ~Viewer();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Makes `reader` the image: the initial state and the display seeded from the file's
    // hints over `defaults` (the colours new images start with). Empty, or why not.
    std::string Open(std::unique_ptr<Reader> reader, size_t budgetBytes = 0,
                     const std::vector<ChannelDisplay>& defaults = {});
    void Close();
    ImageSession& Session() { return m_session; }
    const ImageSession& Session() const { return m_session; }
    ImageReader::Vector Size() const { return m_session.Size(); }
    const ViewState& State() const { return m_state; }
    const DisplayState& Display() const { return m_display; }
    // Pixel sizes in nm per dimension (0: unknown).
    const std::vector<double>& PixelSizes() const { return m_pixelSizes; }
    void SetPixelSizes(std::vector<double> sizes);

    // Setters: false, changing nothing, for a value the image cannot take.
    bool SetState(const ViewState& state);
    bool SetDisplay(const DisplayState& display);
    bool SetCursor(int d, int value);
    // Several coordinates at once (a drag across a view): one change naming every view the
    // moved coordinates need a new picture of.
    bool SetCursor(const ImageReader::Vector& cursor);
    bool SetAxes(const ViewAxes& axes);
    bool SetChannelDimension(int cd);
    bool SetProfileDimension(int pd);
    bool SetProjection(ProjectionMode mode);
    bool SetProjected(int d, bool on);
    bool SetZoom(double zoom, const ImageReader::Vector& pan, bool fitted);
    // Zooms so that the XY view and its side views fill a table `width` x `height`, keeping
    // the physical aspect; the picture stays against its side views or is centred.
    bool Fit(int width, int height);
    bool SetChannel(int c, const ChannelDisplay& channel);
    bool SetGlobalChannel(const ChannelDisplay& channel);
    bool SelectChannel(int c);
    bool SetSpectrum(const SpectrumCalibration& calibration);
    bool SetScaleBar(bool on);
    bool SetMeasurement(const MeasureState& measure);
    bool SetVolume(const VolumeViewState& volume);

    int AddListener(Listener listener);
    void RemoveListener(int id);

    // The view pipeline: what view `index` needs, and doing it (at once or on the worker).
    ViewPlan Plan(int index) const;
    void Submit(const ViewPlan& plan);
    // Plans and submits the views in `mask` (ViewBit), when autoRefresh is on.
    void Refresh(int mask);
    // Plans and submits the views in `mask` as one batch, and returns those it could draw:
    // a range autoscaling widens meanwhile re-colours a view of the batch at most once.
    int SubmitViews(int mask);
    const ViewRecord& Record(int index) const { return m_views[static_cast<size_t>(index)]; }
    // The resolution level view `index` shows at the current zoom.
    int ViewLevel(int index) const;

    // Returns once the worker is idle and every result it posted has been delivered.
    void Wait();
    // Stops the views' work and drops their data and pictures (listeners hear of it).
    void ClearViews();
    ViewWork& Work() { return *m_work; }
    // Where reader messages of this viewer's reads go; set its handler (empty: the process
    // default). Detached when the viewer goes, before its worker stops.
    const std::shared_ptr<ImageReader::DiagnosticSink>& Diagnostics() const { return m_diagnostics; }
    std::unique_ptr<ViewWork>& WorkPtr() { return m_work; }
    // Where results of background work go to reach the model's thread; set before any
    // work is submitted (a window hands in its event loop).
    const std::shared_ptr<Poster>& ResultPoster() const { return m_poster; }
    void SetPoster(std::shared_ptr<Poster> poster) { m_poster = std::move(poster); }
    // Whether setters bring the views up to date themselves (a window that runs its own
    // view pipeline turns it off and uses the model for state, session and worker).
    bool autoRefresh = true;
    // Reads of at most this many bytes are done at once, on the model's thread.
    double inlineLimitBytes = 32.0 * 1024 * 1024;
    // Device pixels per screen pixel (a high-density screen shows a finer level).
    double devicePixelRatio = 1.0;
    // Whether the picture of view `index` may be written over by its next one of the same
    // size (nobody holds a copy of it); unset: never.
    std::function<bool(int index)> mayReusePicture;
    // Counts of pictures made per view, and whether a view was refused for the budget.
    std::array<int, 3> recomputeCount{};
    bool refusedView = false;

private:
    void notify(const ChangeSet& change);
    // Re-colours view `index` from its kept data (or its preview).
    void colour(int index, const ViewData& source);
    // Makes `coloured` view `index`'s picture (of `key`) and takes what it widened.
    void show(int index, ColouredView coloured, const ViewKey& key);
    void colourAll();
    // Takes a display autoscaling widened and re-colours the other views with it.
    void takeWidened(const DisplayState& display, int except);
    void deliverPlanes(int index, const ViewKey& key, std::vector<int> entries,
                       std::vector<ImageReader::ImageSlice<unsigned short>> planes, std::vector<ValueSpan> spans,
                       std::uint64_t ticket, bool preview);
    void submitSpectral(const ViewPlan& plan);
    void submitJob(const ViewPlan& plan);
    void stopWork();
    void recolourShown(int index);
    bool validThen(ViewState next, unsigned what, int mask);

    ImageSession m_session;
    ViewState m_state;
    DisplayState m_display;
    std::vector<double> m_pixelSizes;
    std::array<ViewRecord, 3> m_views;
    // Inside SubmitViews: the views still to come in the batch, and those coloured earlier
    // in it whose range widened since.
    struct Batch
    {
        bool active = false;
        int pending = 0;
        int recolour = 0;
    } m_batch;
    std::map<int, Listener> m_listeners;
    int m_nextListener = 0;
    std::shared_ptr<Poster> m_poster;
    // Results posted after the model is gone find this false (checked on the model's thread).
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::shared_ptr<ImageReader::DiagnosticSink> m_diagnostics = std::make_shared<ImageReader::DiagnosticSink>();
    std::unique_ptr<ViewWork> m_work;
};

} // namespace ImageViewer
