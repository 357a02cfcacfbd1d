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
#include <utility>
#include <vector>

#include "HistogramPanel.h"
#include "HistogramRenderer.h"
#include "ImageChannel.h"
#include "ImageProperties.h"
#include "ProfileRenderer.h"
#include "RGBABuffer.h"
#include "Viewer.h"

class QCheckBox;
class QLineEdit;
class QSlider;

namespace ImageViewer {

// What the main window keeps besides its controls: the model it shows (and names into it
// that callers use), the pictures, the measurement and panel state, the readouts' pending
// reads and the per-view data of its view pipeline.
struct formImageViewerState
{
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
    // ---- window state ----
    QImage GDIImageXY;
    QImage GDIImageXZ;
    QImage GDIImageYZ;
    std::unique_ptr<HistogramRenderer> histogram;
    std::unique_ptr<ProfileRenderer> profile;
    std::unique_ptr<FlatProfileRenderer> cursorprofile;
    // The model: the image session (reader, caches, levels), the view and display state
    // and the background worker. The names below are views into it.
    std::unique_ptr<Viewer> model = std::make_unique<Viewer>();
    std::unique_ptr<ImageReader::ImageReaderBase<unsigned short>>& reader = model->Session().reader;
    std::unique_ptr<ImageReader::SliceCache<unsigned short>>& image = model->Session().image;
    std::vector<ImageReader::Vector>& levelSizes = model->Session().levelSizes;
    ImageProperties properties;
    // The reason the last open failed (empty until one does).
    QString lastOpenError;
    ImageReader::Vector curslice;
    ImageReader::Vector imagedelta;
    ImageReader::Vector imagedeltastart;
    int meastype = 0;
    ImageReader::Vector measstart;
    ImageReader::Vector measend;
    ChannelListPtr channels;
    ChannelPtr globalchannel;
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
    // The views zoom to fit at load (tests that work in image pixels turn this off) and
    // stay fitted while `fitted` holds.
    bool fitAtLoad = true;
    bool fitted = false;
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
    std::vector<QLineEdit*> textDimName;
    std::vector<QLineEdit*> textDimNum;
    std::vector<QSlider*> trackDim;
    std::vector<QCheckBox*> checkDimProj;

    std::unique_ptr<ViewWork>& work = model->WorkPtr();
    double& inlineLimitBytes = model->inlineLimitBytes;
    // Counts loads, so that data of an earlier image never matches a view key.
    std::uint64_t& imageSerial = model->Session().serial;

    // Number of pictures computed per view (XY, XZ, YZ) since construction; lets tests
    // and benchmarks tell recomputes from repaints.
    std::array<int, 3> recomputeCount{};

};

} // namespace ImageViewer
