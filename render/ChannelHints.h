#pragma once

#include "ChannelHint.h"
#include "ImageChannel.h"
#include "SampleType.h"

namespace ImageViewer {

// Shows a channel the way its file asks: the file's colour (or, without one, the colour of
// its emission wavelength) wins over the channel's own; a table that is no plain ramp
// becomes the channel's own lookup table; a window in real values becomes its display
// range (fixed: autoscaling off), mapped through `map`; and its on/off state.
void ApplyChannelHint(ImageChannel& channel, const ImageReader::ChannelHint& hint, const ImageReader::ValueMap& map);

} // namespace ImageViewer
