#pragma once

#include <vector>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "ImageSession.h"
#include "RGBABuffer.h"
#include "ViewState.h"
#include "ViewWork.h"

// Colouring a view from a snapshot of the state. Nothing here changes the state it is
// given: what autoscaling widens comes back as a new display for the caller to apply.
namespace ImageViewer {

// A picture in the render kernels' layout (4 bytes per pixel: blue, green, red, 0).
struct ViewPicture
{
    RGBABuffer pixels;
    int width = 0;
    int height = 0;
    bool IsNull() const { return !pixels; }
};

struct ColouredView
{
    ViewPicture picture;
    DisplayState display; // the display the picture was coloured with, widened by autoscaling
    bool widened = false; // display differs from the one given
};

ImageChannel ToImageChannel(const ChannelDisplay& c);
void CopyRange(const ImageChannel& from, ChannelDisplay& to);
// Every setting of a render channel as a display, and back.
ChannelDisplay ChannelDisplayOf(const ImageChannel& c, const std::string& name = std::string());
void AssignChannel(ImageChannel& c, const ChannelDisplay& d);

// Entries of the channel dimension a view has data for (1 without one) and the enabled
// ones among them, which the picture shows.
size_t ViewEntries(const ViewState& state, const DisplayState& display, const ImageReader::Vector& size);
std::vector<int> WantedEntries(const ViewState& state, const DisplayState& display, const ImageReader::Vector& size);

// The picture of view data (planes of one level, levelSize that level's size). `reuse`, a
// picture of the same size nobody else holds, is written over.
ColouredView ColourViewData(const ViewData& data, const ViewState& state, const DisplayState& display,
                            const ImageReader::Vector& levelSize, RGBABuffer reuse = nullptr);

// The spectral picture of view `index` (the channel dimension folded by wavelength).
ColouredView ColourSpectrum(ImageReader::ImageBase<unsigned short>& source, const ViewState& state,
                            const DisplayState& display, int index);

// The planes view `index` shows, read at `level` (clamped to the levels there are).
ViewData ReadViewData(ImageSession& session, const ViewState& state, const DisplayState& display, int index,
                      int level = 0);

// Reads (at `level`) and colours view `index` at once: for the command line, exports and
// tests. A view that cannot be drawn gives a null picture.
ColouredView RenderView(ImageSession& session, const ViewState& state, const DisplayState& display, int index,
                        int level = 0);

// Screen pixels per image pixel of each dimension: the pixel sizes (nm, 0 unknown)
// relative to the smallest, times `zoom`.
std::vector<double> PixelZooms(const std::vector<double>& pixelSizes, double zoom);

// `picture` stretched (nearest pixel) to w x h; null for an empty size or picture.
ViewPicture ScaleViewPicture(const ViewPicture& picture, int w, int h);
// XY with XZ above it and YZ to its left, `gap` black pixels apart (null parts left out).
ViewPicture ComposeViewPictures(const ViewPicture& xy, const ViewPicture& xz, const ViewPicture& yz, int gap);

// Pictures of the views at one output pixel per image pixel of the smallest pixel size
// (the physical aspect kept), coloured one after the other so that later views see what
// earlier ones widened; `display` comes back with every widening. views: ViewBit mask.
std::vector<ViewPicture> RenderViews(ImageSession& session, const ViewState& state, DisplayState& display,
                                     const std::vector<double>& pixelSizes, int views, int level = 0);

// A picture of `views` (ViewXY alone or ViewAll) `w` x `h` pixels (0: the natural size)
// fitted into it with the physical aspect kept and centred on black.
ViewPicture RenderPicture(ImageSession& session, const ViewState& state, DisplayState& display,
                          const std::vector<double>& pixelSizes, int views, int w = 0, int h = 0, int level = 0);

} // namespace ImageViewer
