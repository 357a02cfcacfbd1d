#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChannelHint.h"
#include "RegionList.h"
#include "SampleType.h"
#include "ViewMath.h"
#include "ViewWork.h"
#include "Vector.h"
#include "VolumeViewState.h"

// The viewer's state as plain values: what the views show (ViewState) and how they are
// coloured (DisplayState). Both are checked against the image's sizes before a viewer
// takes them, so a saved state from another image cannot index out of it.
namespace ImageViewer {

// The views in the order the model keeps them.
enum ViewIndex : int { kViewXY = 0, kViewXZ = 1, kViewYZ = 2, kViewCount = 3 };

// The projection list: "none" or "max" over the dimensions whose boxes are set.
enum class ProjectionMode : int { None = 0, Max = 1 };

// The XY view's current measurement: 0 none, 1 region histogram, 2 line profile.
struct MeasureState
{
    int type = 0;
    ImageReader::Vector start;
    ImageReader::Vector end;
};

struct ViewState
{
    ViewAxes axes;
    int channelDim = -1; // -1: none
    int profileDim = -1; // -1: none
    ImageReader::Vector cursor;
    ProjectionMode projection = ProjectionMode::None;
    std::vector<bool> projected; // per dimension: its box is set
    double zoom = 1.0;           // screen pixels per image pixel of the smallest pixel size
    ImageReader::Vector pan;     // the XY view's offset in screen pixels (x, y)
    bool fitted = false;
    bool scaleBar = false;
    bool colourBar = false; // the selected channel's colour bar on the XY view
    SpectrumCalibration spectrum;
    MeasureState measure;
    RegionList regions;
    VolumeViewState volume; // the 3-D view

    // Dimension d is collapsed by maximum in the views.
    bool IsProjected(int d) const;
    // The channel dimension has 10 or more entries: spectral colouring.
    bool IsSpectral(const ImageReader::Vector& size) const;
    // The axes of view `index`.
    std::pair<int, int> ViewDims(int index) const;
    // A view can be drawn: both axes real, distinct dimensions.
    bool Drawable(int index, const ImageReader::Vector& size) const;

    // Empty when the state fits an image of `size`, else why it does not.
    std::string Validate(const ImageReader::Vector& size) const;
    // Brings every field into the image's range (positions clamped, bad axes dropped).
    void Clamp(const ImageReader::Vector& size);

    // What a newly opened image shows: x and y, z (or the third dimension) on the side
    // views, the channel dimension the file names or whose name says so, the cursor in the
    // middle. `names` are the dimensions' names.
    static ViewState Initial(const ImageReader::Vector& size, const std::vector<std::string>& names, int hintedChannel);

    bool operator==(const ViewState& o) const;
    bool operator!=(const ViewState& o) const { return !(*this == o); }
};

// One channel's display: name, colour, range (display values), gamma, switches.
struct ChannelDisplay
{
    std::string name;
    int r = 255, g = 255, b = 255;
    int min = 65535, max = 0; // an empty range until autoscaling finds the data's
    int gamma = 0;
    bool enabled = true;
    bool autoscaling = true;
    std::string lut = "Colour";           // a name of LookupTableNames()
    std::vector<unsigned char> lutColours; // the file's own table (768 entries) for "File's table"
    bool operator==(const ChannelDisplay& o) const;
    bool operator!=(const ChannelDisplay& o) const { return !(*this == o); }
};

struct DisplayState
{
    std::vector<ChannelDisplay> channels; // one per entry of the channel dimension (or more)
    ChannelDisplay global;                // without a channel dimension, and for spectra
    int selected = 0;

    std::string Validate() const;
    // The channel colouring entry `c` of a view, or `global` without a channel dimension.
    const ChannelDisplay& For(int c, int channelDim) const;
    bool operator==(const DisplayState& o) const;
    bool operator!=(const DisplayState& o) const { return !(*this == o); }
};

// The key of view `index` under `state` at resolution level `level` (sizes of every level,
// full resolution first; `image` tells loads apart).
ViewKey MakeViewKey(const ViewState& state, int index, std::uint64_t image,
                    const std::vector<ImageReader::Vector>& levelSizes, int level = 0);
// The same for a view with axes xdim and ydim (the channel dimension, cursor and projection
// from `state`).
ViewKey MakeViewKeyForAxes(const ViewState& state, int xdim, int ydim, std::uint64_t image,
                           const std::vector<ImageReader::Vector>& levelSizes, int level = 0);

// Empty when both fit an image of `size`, else why not.
std::string ValidateStates(const ViewState& view, const DisplayState& display, const ImageReader::Vector& size);

// The channels' names, colours, windows (display values) and switches from a file's hints.
void ApplyChannelHints(const std::vector<ImageReader::ChannelHint>& hints, const ImageReader::ValueMap& map,
                       std::vector<ChannelDisplay>& channels);

} // namespace ImageViewer
