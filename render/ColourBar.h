#pragma once

#include <QImage>

#include "ImageChannel.h"
#include "SampleType.h"

namespace ImageViewer {

// A colour bar for the XY view and exports: the channel's colouring of its display range,
// from the minimum just inside the left edge to the maximum just inside the right, in a
// strip `width` x `barHeight` with a one-pixel grey outline; with `labels`, the range's
// ends as the real values they stand for under its two ends. On a half-transparent black
// backdrop. Null when the bar would be smaller than 4 x 3 or larger than 8192 pixels.
QImage RenderColourBar(const ImageChannel& channel, int width, int barHeight, const ImageReader::ValueMap& map,
                       ImageReader::SampleType type, bool labels = true);

} // namespace ImageViewer
