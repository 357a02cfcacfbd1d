#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "Region.h"
#include "RegionMask.h"
#include "SampleType.h"

namespace Measure {

constexpr double NotApplicable = std::numeric_limits<double>::quiet_NaN();

// Size of a pixel in `unit`; with either side unknown both are 1 and the unit is "pixel".
struct Calibration
{
    double pixelWidth = 1.0;
    double pixelHeight = 1.0;
    std::string unit = "pixel";

    // From pixel sizes in nanometres (0 = unknown), in micrometres where both are known.
    static Calibration FromNanometres(double width, double height);
};

// What a region measures, in real values and calibrated units; NaN where a quantity does not
// apply (no length for an area, no intensity for a missing plane, no pixel inside the image).
struct Statistics
{
    size_t count = 0; // pixels (areas, points) or samples (lines) measured
    double area = NotApplicable;
    double mean = NotApplicable;
    double stdDev = NotApplicable; // sample standard deviation (n - 1)
    double min = NotApplicable;
    double max = NotApplicable;
    double intDen = NotApplicable;    // area x mean
    double rawIntDen = NotApplicable; // sum of the values
    double x = NotApplicable;         // centroid
    double y = NotApplicable;
    double bx = NotApplicable; // bounding box
    double by = NotApplicable;
    double width = NotApplicable;
    double height = NotApplicable;
    double length = NotApplicable; // lines and polylines
    double angle = NotApplicable;  // straight lines: degrees counter-clockwise from +x, y pointing up
};

// Values along a line or polyline with their distance from its start (calibrated), one
// sample per pixel step; NaN for samples off the plane.
struct Profile
{
    std::vector<double> distance;
    std::vector<double> value;
};

// A region on a plane of known size, rasterised once and measured on any number of planes.
class RegionMeasurer
{
public:
    RegionMeasurer(const Region& region, int width, int height, const Calibration& calibration);

    // The plane-independent part: area, centroid, bounds, length, angle.
    const Statistics& Geometry() const { return m_geometry; }
    // Geometry plus intensities of one plane of display values (width x height, row-major)
    // mapped to real values. With `profile`, lines also give their values along the line.
    Statistics Measure(const std::uint16_t* plane, const ImageReader::ValueMap& map, Profile* profile = nullptr) const;
    const RegionMask& Mask() const { return m_mask; }

private:
    Statistics measureArea(const std::uint16_t* plane, const ImageReader::ValueMap& map) const;
    Statistics measureLine(const std::uint16_t* plane, const ImageReader::ValueMap& map, Profile* profile) const;

    Region m_region;
    int m_width;
    int m_height;
    Calibration m_cal;
    RegionMask m_mask;
    Statistics m_geometry;
    // Sample points of a line, in plane pixels, and their calibrated distances.
    std::vector<PointF> m_samples;
    std::vector<double> m_distances;
};

} // namespace Measure
