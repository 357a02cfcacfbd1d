#pragma once

#include <vector>

#include "ViewRender.h"

namespace ImageViewer {

// RenderPicture's picture of `views` fitted into w x h (both > 0), pixel for pixel, and its
// display widened the same way. The stretches RenderPicture makes one after the other (to
// the physical aspect, side views to the XY view's edges, the whole into w x h) are all
// nearest-pixel choices, so each output pixel is traced back to the view pixel it shows and
// only those are coloured, straight into the output: no view is coloured at full size, and
// each view's planes go as soon as its pixels are taken. Falls back to RenderPicture where
// a view could not be traced this way (spectra, views a picture leaves out, odd planes).
ViewPicture RenderFittedPicture(ImageSession& session, const ViewState& state, DisplayState& display,
                                const std::vector<double>& pixelSizes, int views, int w, int h, int level = 0);

// The source pixel each of the `to` pixels of a nearest-pixel stretch of `from` pixels shows:
// ScaleViewPicture's choice.
int NearestSource(int x, int from, int to);

} // namespace ImageViewer
