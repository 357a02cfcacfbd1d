#pragma once

#include <QImage>
#include <string>

#include "Region.h"
#include "ViewRender.h"

// What the command line draws over a rendered picture: the position stamp and the scale bar,
// as the window draws them over its XY view.
namespace ImageViewer {

// The picture's pixels as an image to paint on or save (no copy: it lives as long as they do).
QImage WrapPicture(const ViewPicture& picture);

// Where the XY view lies in a picture, in its pixels, and its nanometres per pixel along x
// (0: unknown).
struct PictureArea
{
    int x = 0, y = 0, width = 0, height = 0;
    double nmPerPixel = 0;
};

// The XY view's area in RenderPicture's picture of `views` fitted into w x h (0: natural).
PictureArea XYArea(const ImageReader::Vector& size, const std::vector<double>& pixelSizes, const ViewState& state,
                   int views, int w, int h);

// `stamp` (UTF-8; nothing when empty) at the area's top left and, with `scaleBar` and a known
// pixel size, a scale bar at most a quarter of the area wide at its bottom right, each on a
// dark plate. Needs a QGuiApplication for the text.
void DrawOverlays(ViewPicture& picture, const PictureArea& area, const std::string& stamp, bool scaleBar);

// Outlines of the regions that belong to the XY view's plane, in their colours, when the view
// shows the image's first two dimensions (where regions live). Needs a QGuiApplication.
void DrawRegions(ViewPicture& picture, const PictureArea& area, const std::vector<Measure::Region>& regions,
                 const ImageReader::Vector& size, const ViewState& state);

} // namespace ImageViewer
