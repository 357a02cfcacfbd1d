#pragma once

#include <array>
#include <vector>

namespace ImageViewer {

// The CIE 1931 2-degree colour matching functions at a wavelength in nm (the standard's
// 5 nm table, interpolated linearly); 0 outside 380..780 nm.
std::array<double, 3> CieMatching(double nm);

// Linear sRGB (D65 primaries) of a CIE XYZ colour.
std::array<double, 3> XyzToLinearSrgb(const std::array<double, 3>& xyz);

// The sRGB transfer curve: linear light 0..1 to the encoded value 0..1 (clamped).
double EncodeSrgb(double linear);

// How far a spectrum sampled at `nm` is levelled towards white, 0..1: fully where the
// wavelengths span at least nine tenths of what each of the three channels responds to, not
// at all where one channel sees less than half of its response (a narrow band is not white
// light; levelling it would shift its lines' hues).
double WhiteBalanceStrength(const std::vector<double>& nm);

// Per-index weights (red, green, blue, linear light) that turn a spectrum sampled at `nm`
// into a colour: each wavelength's colour matching in linear sRGB, balanced so that light
// of equal energy at every wavelength is neutral, and brought into the gamut by adding
// white where a pure line lies outside it. Every channel's weights sum to the same total
// over the given wavelengths, so a flat spectrum over them is exactly neutral (a channel
// the wavelengths barely reach is boosted at most twofold), as far as WhiteBalanceStrength
// says. Invisible wavelengths weigh 0. The largest weight is 1.
std::vector<std::array<double, 3>> TrueColourWeights(const std::vector<double>& nm);

// The colour of a single spectral line as sRGB bytes at full brightness (the largest
// component 255); black outside the visible range.
std::array<unsigned char, 3> WavelengthToSrgb(double nm);

} // namespace ImageViewer
