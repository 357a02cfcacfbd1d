#include "OpenDefaults.h"

#include <cmath>

#include "SpectralProjection.h"

namespace ImageViewer {

ImageReader::Vector InitialCursor(const ImageReader::Vector& size, const ImageReader::Vector& initial)
{
    ImageReader::Vector cursor = size / 2;
    for (int i = 0; i < static_cast<int>(size.size()) && i < static_cast<int>(initial.size()); ++i)
        if (initial[i] >= 0 && initial[i] < size[i])
            cursor[i] = initial[i];
    return cursor;
}

SpectrumCalibration InitialSpectrumCalibration(int count, const std::vector<double>& fileWavelengths)
{
    const bool given = count >= 2 && fileWavelengths.size() == static_cast<size_t>(count) &&
                       std::isfinite(fileWavelengths.front()) && std::isfinite(fileWavelengths.back()) &&
                       fileWavelengths.front() != fileWavelengths.back();
    if (!given)
        return DefaultSpectrumCalibration(count);
    return SpectrumCalibration{0, fileWavelengths.front(), static_cast<double>(count - 1), fileWavelengths.back(),
                               fileWavelengths};
}

std::vector<double> SpectrumWavelengths(const SpectrumCalibration& cal, int count)
{
    if (UsesFileWavelengths(cal, count))
        return cal.fileWavelengths;
    std::vector<double> nm;
    if (cal.p1 == cal.p2 || !std::isfinite(cal.p1 + cal.w1 + cal.p2 + cal.w2) || count < 1)
        return nm;
    const ImageReader::Vector steps = CalibrateWavelengths(cal.p1, cal.w1, cal.p2, cal.w2, count);
    for (int i = 0; i < static_cast<int>(steps.size()); ++i)
        nm.push_back(steps[i]);
    return nm;
}

RGBABuffer RenderTrueColourSpectrum(ImageReader::ImageBase<unsigned short>& source, int xdim, int ydim, int cd,
                                    const ImageReader::Vector& cursor, const SpectrumCalibration& cal,
                                    ImageChannel& global)
{
    const ImageReader::Vector size = source.GetSize();
    const int n = static_cast<int>(size.size());
    if (cd < 0 || cd >= n || xdim < 0 || xdim >= n || ydim < 0 || ydim >= n)
        return RGBABuffer();
    const std::vector<double> wavelengths = SpectrumWavelengths(cal, size[cd]);
    if (wavelengths.empty())
        return NewBlackRGBA(size[xdim], size[ydim]);
    // The projection colours with the range it is given and widens it only afterwards: a
    // range autoscaling changed (the empty range of a new channel included, which would give
    // black) is drawn again, so that the picture matches the range handed back.
    const int min = global.m_min, max = global.m_max;
    RGBABuffer spectral = RenderSpectralView(source, xdim, ydim, cd, cursor, wavelengths, global);
    if (global.m_autoscaling && global.m_min <= global.m_max && (global.m_min != min || global.m_max != max))
        spectral = RenderSpectralView(source, xdim, ydim, cd, cursor, wavelengths, global);
    return spectral ? std::move(spectral) : NewBlackRGBA(size[xdim], size[ydim]);
}

} // namespace ImageViewer
