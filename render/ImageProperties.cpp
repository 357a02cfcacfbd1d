#include "ImageProperties.h"

#include <cmath>

namespace ImageViewer {

ImageProperties::ImageProperties(ImageReader::ImageReaderBase<unsigned short>& reader)
{
    const ImageReader::Vector size = reader.GetSize();
    for (unsigned i = 0; i < size.size(); ++i) {
        m_dimname.push_back(reader.GetDimName(i));
        m_pixelsize.push_back(reader.GetDimPixelSize(i));
        m_dimsize.push_back(size[static_cast<int>(i)]);
    }
    m_format = reader.GetFormatName();
    m_sampletype = ImageReader::SampleTypeName(reader.GetSampleType());
}

std::vector<double> ImageProperties::GetPixelZooms() const
{
    // A size that is negative, infinite or not a number counts as not given, so the views
    // always get finite positive zooms.
    const auto given = [](double p) { return std::isfinite(p) && p > 0; };
    double smallest = 999999999.0;
    for (double p : m_pixelsize)
        if (given(p) && p < smallest)
            smallest = p;
    std::vector<double> zooms;
    zooms.reserve(m_pixelsize.size());
    for (double p : m_pixelsize) {
        const double z = given(p) ? p / smallest * m_zoom : m_zoom;
        // Only sizes hundreds of orders of magnitude apart overflow; they fall back to the plain zoom.
        zooms.push_back(std::isfinite(z) ? z : m_zoom);
    }
    return zooms;
}

} // namespace ImageViewer
