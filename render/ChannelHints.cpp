#include "ChannelHints.h"

#include <algorithm>
#include <cmath>

#include "SpectralColour.h"

namespace ImageViewer {

void ApplyChannelHint(ImageChannel& channel, const ImageReader::ChannelHint& hint, const ImageReader::ValueMap& map)
{
    if (hint.hasColor) {
        channel.m_r = hint.red;
        channel.m_g = hint.green;
        channel.m_b = hint.blue;
    } else if (hint.wavelength > 0 && std::isfinite(hint.wavelength)) {
        // Dyes beyond the visible range still need a colour to be told apart: the nearest
        // visible one.
        const std::array<unsigned char, 3> rgb = WavelengthToSrgb(std::clamp(hint.wavelength, 400.0, 700.0));
        channel.m_r = rgb[0];
        channel.m_g = rgb[1];
        channel.m_b = rgb[2];
    }
    if (hint.lut.size() == 768) {
        channel.m_lut = LookupTable::Own;
        channel.m_lutColours = hint.lut;
    }
    if (hint.hasWindow && hint.windowStart < hint.windowEnd) {
        channel.m_min = map.ToDisplay(hint.windowStart);
        channel.m_max = map.ToDisplay(hint.windowEnd);
        channel.m_autoscaling = false;
    }
    channel.m_enabled = hint.active;
}

} // namespace ImageViewer
