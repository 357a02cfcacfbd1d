#pragma once

#include <string>

namespace ImageReader {

// Seconds per unit for a time unit as image files write it ("s", "sec", "ms", "min", "h",
// "µs", NGFF's "millisecond", ...), in any case; 0 for anything else, lengths included.
double SecondsPerUnit(const std::string& unit);

} // namespace ImageReader
