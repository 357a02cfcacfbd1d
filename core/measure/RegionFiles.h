#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ImageJRoi.h"
#include "Region.h"

namespace Measure {

// Region files by extension, in any case: ".zip" an ImageJ ROI set, ".roi" one ImageJ
// selection, ".geojson" GeoJSON, ".json" GeoJSON or the view state's list of regions.
// `axes` places ImageJ's channel, slice and frame positions among the image's dimensions.
std::optional<std::vector<Region>> ReadRegions(const std::filesystem::path& path, const ImageJAxes& axes,
                                               std::string* error = nullptr);
// ".roi" takes exactly one region; ".json" writes GeoJSON.
bool WriteRegions(const std::filesystem::path& path, const std::vector<Region>& regions, const ImageJAxes& axes,
                  std::string* error = nullptr);

} // namespace Measure
