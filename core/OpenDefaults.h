#pragma once

#include <vector>

#include "ImageBase.h"
#include "ImageChannel.h"
#include "RGBABuffer.h"
#include "Vector.h"
#include "ViewMath.h"

namespace ImageViewer {

// The cursor an image opens at: where the reader asks (a series opened at one of its files
// lands on that file's plane), the middle of every dimension it leaves open (-1, missing or
// out of range).
ImageReader::Vector InitialCursor(const ImageReader::Vector& size, const ImageReader::Vector& initial);

// The calibration a spectral dimension of `count` indices starts with: the file's own
// wavelengths of its first and last index when it gives one finite wavelength per index
// (the two differing), keeping the file's list, else DefaultSpectrumCalibration.
SpectrumCalibration InitialSpectrumCalibration(int count, const std::vector<double>& fileWavelengths);

// The wavelength (nm) of each of `count` spectral indices: the file's own list while the
// calibration is the file's (UsesFileWavelengths), else the line through the two points in
// whole nanometres; empty when the calibration is unusable.
std::vector<double> SpectrumWavelengths(const SpectrumCalibration& cal, int count);

// A spectral view in true colour under the calibration `cal` (SpectrumWavelengths), widening `global`'s
// range under autoscaling; black when the calibration is unusable. With a new channel's
// empty range the picture is drawn a second time with the range the first pass found.
RGBABuffer RenderTrueColourSpectrum(ImageReader::ImageBase<unsigned short>& source, int xdim, int ydim, int cd,
                                    const ImageReader::Vector& cursor, const SpectrumCalibration& cal,
                                    ImageChannel& global);

} // namespace ImageViewer
