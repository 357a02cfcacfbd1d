#pragma once

#include <cstdint>
#include <string>

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
};

} // namespace ImageReader
