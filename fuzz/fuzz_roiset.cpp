// Reads a mutated ROI set (a zip archive of selection records) from memory. No input may
// crash, leak or read outside the archive.
#include <cstddef>
#include <cstdint>

#include "ImageJRoi.h"

volatile size_t roisetFuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto regions = Measure::ReadRoiSet(data, size, Measure::ImageJAxes{});
    roisetFuzzSink = regions ? regions->size() : 0;
    return 0;
}
