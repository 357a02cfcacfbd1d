#include "ImageProperties.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <sstream>

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

std::string FormatMicrons(double nm, int digits)
{
    if (!std::isfinite(nm) || !(nm > 0) || digits < 1)
        return std::string();
    const double um = nm / 1000;
    const int decimals = std::clamp(digits - 1 - static_cast<int>(std::floor(std::log10(um))), 0, 12);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << um;
    std::string text = out.str();
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text;
}

double ParseMicrons(const std::string& text)
{
    std::string t = text;
    for (const char* unit : {"\xC2\xB5m", "\xCE\xBCm", "um"}) {
        const size_t at = t.rfind(unit);
        if (at != std::string::npos && at + std::char_traits<char>::length(unit) == t.size())
            t.erase(at);
    }
    std::replace(t.begin(), t.end(), ',', '.');
    std::istringstream in(t);
    in.imbue(std::locale::classic());
    double um = 0;
    in >> um;
    if (!in.fail() && !in.eof())
        in >> std::ws; // at the end already, it would fail the stream
    if (in.fail() || !in.eof() || !std::isfinite(um) || !(um > 0))
        return 0.0;
    return um * 1000;
}

} // namespace ImageViewer
