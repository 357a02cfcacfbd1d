#pragma once

#include <set>

#include <optional>

#include <map>

#include <QImage>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "HistogramPanel.h"
#include "HistogramRenderer.h"
#include "ImageChannel.h"
#include "ImageProperties.h"
#include "ProfileRenderer.h"
#include "RGBABuffer.h"
#include "Viewer.h"

class QTimer;

namespace ImageViewer {

struct OpenIndicator;
struct OpenJob;
class VolumePanel;

// What outside callers read and set on the main window by name: the model it shows (and
// names into it), the cursor and pan, the display channels, the measurement and its panels,
// the pictures and the fit switches.
struct formImageViewerState
{
    // The model: the image session (reader, caches, levels), the view and display state
    // and the background worker.
    std::unique_ptr<Viewer> model = std::make_unique<Viewer>();
    std::unique_ptr<ImageReader::SliceCache<unsigned short>>& image = model->Session().image;
    QImage GDIImageXY;
    QImage GDIImageXZ;
    QImage GDIImageYZ;
    std::unique_ptr<HistogramRenderer> histogram;
    std::unique_ptr<ProfileRenderer> profile;
    std::unique_ptr<FlatProfileRenderer> cursorprofile;
    ImageProperties properties;
    ImageReader::Vector curslice;
    ImageReader::Vector imagedelta;
    int meastype = 0;
    ImageReader::Vector measstart;
    ImageReader::Vector measend;
    ChannelListPtr channels;
    ChannelPtr globalchannel;
    // The views zoom to fit at load (tests that work in image pixels turn this off) and
    // stay fitted while `fitted` holds.
    bool fitAtLoad = true;
    bool fitted = false;
    // Number of pictures computed per view (XY, XZ, YZ) since construction; lets tests
    // and benchmarks tell recomputes from repaints.
    std::array<int, 3> recomputeCount{};
};

// The rest of the window's state, private to it and its panels: readouts waiting for
// planes, the cursor profile's data, the histogram panel's drag, the zoom anchor, the mouse.
struct formImageViewerInternals
{
    explicit formImageViewerInternals(Viewer& model);
    std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>>& reader;
    std::vector<ImageReader::Vector>& levelSizes;
    std::unique_ptr<ViewWork>& work;
    double& inlineLimitBytes;
    // Counts loads, so that data of an earlier image never matches a view key.
    std::uint64_t& imageSerial;

    // Set by RealValueAt when it did not wait for a plane that is still coming.
    bool valuePending = false;
    // The worker slot for readout reads.
    static constexpr int kValueSlot = 3;
    // Data whose reads may wait: the file's own values read on the worker, by full position
    // (nothing: could not be read), and the positions asked for and not answered yet.
    std::map<ImageReader::Vector, std::optional<double>, ImageReader::VectorCompare> remoteValues;
    std::set<ImageReader::Vector, ImageReader::VectorCompare> remoteAsked;
    // The cursor profile's data, kept so that a display change only re-colours it.
    struct CursorProfileData
    {
        int pd = -1;
        int c = -1;
        ImageReader::Vector pos;
        std::uint64_t image = 0;
        bool have = false;
        ImageReader::ImageSlice<unsigned short> slice;
        bool Same(const CursorProfileData& o) const { return pd == o.pd && c == o.c && pos == o.pos && image == o.image; }
    } cursorProfileData;
    static constexpr int kProfileSlot = 4;
    std::pair<ImageReader::Vector, ImageReader::Vector> blockRequested;
    static constexpr int kBlockSlot = 5;
    // The reason the last open failed (empty until one does).
    QString lastOpenError;
    ImageReader::Vector imagedeltastart;
    bool ignoreCheck = false;
    int histstart = 0;
    int histdim = -1;
    int histdimstart = 0;
    // The histogram panel's value axis as last drawn, in display values.
    PanelAxis histogramAxis;
    // The panel's bins and the plane and panel size they were counted for: range and gamma
    // steps repaint the panel over the same plane. Holding the plane keeps its pointer unique.
    struct HistogramCount
    {
        ImageReader::ImageSlice<unsigned short> plane;
        int width = -1;
        int height = -1;
        PanelBins bins;
    } histogramCount;
    // Image point a run of wheel steps zooms about, while mouse, zoom and pan stay as the
    // last step left them: rounding the pan offsets then cannot drift.
    struct ZoomAnchor
    {
        bool valid = false;
        QPointF global;
        ImageReader::Vector delta;
        double zoom = 0;
        double px = 0;
        double py = 0;
    } zoomAnchor;
    // Full image position under the mouse in a view; empty when off the image.
    ImageReader::Vector mousePosition;
    int mouseDims[2] = {-1, -1};
    // Progress of the views' work, and the notes said once per image.
    QTimer* progressTimer = nullptr;
    bool progressShown = false;
    bool missingReported = false;
    bool troubleReported = false;
    bool refusedReported = false;
    bool refreshing = false; // inside RefreshPictures, which recomputes (and repaints) refreshMask
    int refreshMask = 0;
    // SyncModel hands the cursor and the projected set to their own setters (Own), whose
    // changes the window then follows, and the rest in one (Rest), which is no news to it.
    enum class Sync { None, Own, Rest } syncing = Sync::None;
    bool followPending = false; // a change SyncModel's setters made, followed once it is done
    int followPendingMask = 0;
    bool followed = false; // FollowModel ran during an EditModel
    int followAlso = 0;    // EditModel's `redraw`
    // Opens under way (formImageViewer_Open.cpp): a result finds `alive` false once the
    // window is gone.
    struct OpenGuard
    {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<OpenGuard> openGuard = std::make_shared<OpenGuard>();
    std::shared_ptr<OpenJob> currentOpen; // the newest open under way
    // Shared: their types are complete only where they are made.
    std::shared_ptr<OpenIndicator> openIndicator;
    QString openedPath; // what the current image was opened from (Reload)
    std::shared_ptr<VolumePanel> volume3D; // the 3-D view (VolumePanel.h)
};

} // namespace ImageViewer
