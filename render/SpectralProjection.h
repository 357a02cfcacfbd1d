#pragma once

#include <array>
#include <cstdint>
#include <vector>

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

// Weights of one spectral index, red, green, blue, in 1/256 units (at most
// kMaxSpectralWeight, which keeps the projection's products within 32 bits).
using SpectralWeight = std::array<std::uint32_t, 3>;
constexpr std::uint32_t kMaxSpectralWeight = 1023;

// The same projection with a weight per spectral index (weights.size() >= the spectrum's
// length), as TrueColourTable gives them.
template <class T>
ImageReader::ImageSlice<unsigned int> GetSpectralProjection(ImageReader::ImageBase<T>& image, const int dim0,
                                                            const int dim1, const int dims, ImageReader::Vector pv,
                                                            const std::vector<SpectralWeight>& weights, unsigned int& mi,
                                                            unsigned int& ma);

// CIE 1931 true-colour weights of the wavelengths (nm), the largest kMaxSpectralWeight
// (TrueColourWeights in integer steps).
std::vector<SpectralWeight> TrueColourTable(const std::vector<double>& nm);

// Converts linear-light sums to sRGB bytes: each channel's sum over its scale (red, green,
// blue), clamped to 1, through the sRGB transfer curve; a channel with scale <= 0 is black.
RGBABuffer SpectralSumsToSrgb(const ImageReader::ImageSlice<unsigned int>& sums, const std::array<double, 3>& scale);

// How the spectral view colours wavelengths: CIE 1931 colour matching into sRGB, or the
// earlier piecewise-linear bands (linear bytes, scaled by the range's top).
enum class SpectralMapping { TrueColour, Classic };

// The spectral view picture with a wavelength per index of `cd` (from the file, or
// CalibrateWavelengths): projects through `cursor`, widens `global`'s range under
// autoscaling and converts to display bytes. In true colour a flat spectrum at the range's
// top over every index is white, and a view along the spectrum shows each index at full
// colour at the top. Black when a wavelength is missing or not finite.
RGBABuffer RenderSpectralView(ImageReader::ImageBase<unsigned short>& image, int xdim, int ydim, int cd,
                              const ImageReader::Vector& cursor, const std::vector<double>& wavelengths,
                              ImageChannel& global, SpectralMapping mapping = SpectralMapping::TrueColour);

// Wavelengths of `count` spectral indices from a linear calibration through the points
// (p1, w1) and (p2, w2).
ImageReader::Vector CalibrateWavelengths(double p1, double w1, double p2, double w2, int count);

// Converts the sums to display bytes: min(s * 255 / scale, 255); black when scale <= 0.
RGBABuffer SpectralSumsToRGBA(const ImageReader::ImageSlice<unsigned int>& sums, long long scale);

// The whole spectral view picture in the classic mapping: calibrates, projects through
// `cursor`, widens `global`'s range under autoscaling and converts to display bytes.
RGBABuffer RenderSpectralView(ImageReader::ImageBase<unsigned short>& image, int xdim, int ydim, int cd,
                              const ImageReader::Vector& cursor, double p1, double w1, double p2, double w2,
                              ImageChannel& global);

} // namespace ImageViewer
