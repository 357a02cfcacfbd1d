// Reads one mutated ImageJ selection record, and measures what it gives on a small plane so
// the rasteriser and the statistics see every shape the reader lets through. No input may
// crash or read outside the record.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ImageJRoi.h"
#include "RegionStatistics.h"

volatile double roiFuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Measure::ImageJAxes axes = Measure::ImageJAxes::FromNames({"x", "y", "c", "z", "t"});
    const auto region = Measure::DecodeImageJRoi(data, size, axes);
    if (!region)
        return 0;
    static const std::vector<std::uint16_t> plane(64 * 48, 7);
    const Measure::RegionMeasurer measurer(*region, 64, 48, Measure::Calibration{});
    Measure::Profile profile;
    roiFuzzSink = measurer.Measure(plane.data(), ImageReader::ValueMap{}, &profile).mean;
    const std::vector<std::uint8_t> again = Measure::EncodeImageJRoi(*region, axes);
    roiFuzzSink = static_cast<double>(again.size());
    return 0;
}
