#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ImageReader {

// How a file asks for one channel to be shown: its name, colour, display window (in real
// sample values) and whether it starts switched on. Any part may be absent.
struct ChannelHint
{
    std::string name;
    bool hasColor = false;
    std::uint8_t red = 255, green = 255, blue = 255;
    bool hasWindow = false;
    double windowStart = 0.0, windowEnd = 0.0;
    bool active = true;
    // A lookup table the file gives that is not a plain ramp to one colour: 256 entries of
    // red, green, blue (entry i at 3i), applied over the display window. Empty otherwise;
    // when set, the colour above is its last entry.
    std::vector<std::uint8_t> lut;
    // The channel's emission wavelength in nm; 0 when the file does not give one.
    double wavelength = 0.0;
};

} // namespace ImageReader
