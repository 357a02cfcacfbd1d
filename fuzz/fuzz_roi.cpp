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
    // Lines reaching far off the plane take a million samples (the cap test_statistics
    // checks); measuring only nearby shapes keeps the executions fast enough to explore.
    double x0, y0, x1, y1;
    region->Bounds(x0, y0, x1, y1);
    if (x0 > -1e4 && y0 > -1e4 && x1 < 1e4 && y1 < 1e4) {
        static const std::vector<std::uint16_t> plane(64 * 48, 7);
        const Measure::RegionMeasurer measurer(*region, 64, 48, Measure::Calibration{});
        Measure::Profile profile;
        roiFuzzSink = measurer.Measure(plane.data(), ImageReader::ValueMap{}, &profile).mean;
    }
    const std::vector<std::uint8_t> again = Measure::EncodeImageJRoi(*region, axes);
    roiFuzzSink = static_cast<double>(again.size());
    return 0;
}
