#pragma once

#include <string>
#include <vector>

#include "ImageReaderBase.h"

namespace ImageViewer {

// Names and pixel sizes (nm, 0 = not given) of the image's dimensions and the user's zoom.
class ImageProperties
{
public:
    ImageProperties() = default;
    explicit ImageProperties(ImageReader::ImageReaderBase<unsigned short>& reader);

    // Screen pixels per image pixel for every dimension; always finite and positive
    // for a finite positive m_zoom.
    std::vector<double> GetPixelZooms() const;

    std::vector<std::string> m_dimname;
    std::vector<double> m_pixelsize;
    double m_zoom = 1.0;
    // What was opened, for the properties dialog: format ("OME-TIFF, float32"), sample type
    // and the extent of every dimension.
    std::string m_format;
    std::string m_sampletype;
    std::vector<int> m_dimsize;
};

// A pixel size given in nm, written in micrometres the way people read it: `digits`
// significant digits at most, trailing zeros dropped, '.' as the decimal point, whatever
// the locale ("0.1625" for 162.4999997094274 nm, "2" for 2000 nm). Empty for a size that is
// not a positive finite number (not given).
std::string FormatMicrons(double nm, int digits = 4);

// Text typed in micrometres ('.' or ',' as the decimal point, an optional "µm" or "um"
// after it) as nm; 0 for text that is not a positive finite number.
double ParseMicrons(const std::string& text);

} // namespace ImageViewer
