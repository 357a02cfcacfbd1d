#pragma once

#include "ImageBase.h"
#include "ImageChannel.h"

namespace ImageViewer {

// Per-pixel blue/green/red sums (4 unsigned values per pixel, the 4th 0) of the samples'
// excess over mi, weighted by the colour of their wavelength wl[index along dims].
// mi/ma come back widened to the smallest/largest sample visited.
template <class T>
ImageReader::ImageSlice<unsigned int> GetSpectralProjection(ImageReader::ImageBase<T>& image, const int dim0,
                                                            const int dim1, const int dims, ImageReader::Vector pv,
                                                            ImageReader::Vector wl, unsigned int& mi, unsigned int& ma);

// Wavelengths of `count` spectral indices from a linear calibration through the points
// (p1, w1) and (p2, w2).
ImageReader::Vector CalibrateWavelengths(double p1, double w1, double p2, double w2, int count);

// Converts the sums to display bytes: min(s * 255 / scale, 255); black when scale <= 0.
RGBABuffer SpectralSumsToRGBA(const ImageReader::ImageSlice<unsigned int>& sums, long long scale);

// The whole spectral view picture: calibrates, projects through `cursor`, widens
// `global`'s range under autoscaling and converts to display bytes.
RGBABuffer RenderSpectralView(ImageReader::ImageBase<unsigned short>& image, int xdim, int ydim, int cd,
                              const ImageReader::Vector& cursor, double p1, double w1, double p2, double w2,
                              ImageChannel& global);

} // namespace ImageViewer
