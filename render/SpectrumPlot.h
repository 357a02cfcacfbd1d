#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace ImageViewer {

// The spectrum under the cursor as a plot a reader can take numbers from: the values
// (real, one per spectral index) as a white curve over the area under it, coloured by each
// index's wavelength; a horizontal axis in nm with round ticks (or in index numbers when
// `nm` is empty or not rising throughout), a vertical axis from the smaller of 0 and the
// lowest value to the highest with round ticks, and a yellow line at index `marker` (none
// when outside). Exactly width x height pixels; null for fewer than 2 values or a picture
// smaller than 80 x 60 or larger than 8192 either way. Values that are not numbers are
// left out of the curve.
QImage RenderSpectrumPlot(const std::vector<double>& values, const std::vector<double>& nm, int width, int height,
                          int marker = -1);

// Round tick positions covering lo..hi, about `count` of them (steps of 1, 2 or 5 times a
// power of ten); empty when the range is empty or not finite.
std::vector<double> RoundTicks(double lo, double hi, int count);

} // namespace ImageViewer
