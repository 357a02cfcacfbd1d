#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Region.h"

namespace Measure {

// Regions as a GeoJSON FeatureCollection in pixel coordinates (x right, y down): points as
// Point or MultiPoint, lines as LineString, areas as Polygon (an ellipse as a 72-gon through
// its four extreme points, so its box comes back exactly). Properties: "name", "kind",
// "color" ("#aarrggbb") and "position" ([3, "all", ...]).
std::string RegionsToGeoJson(const std::vector<Region>& regions);

// Reads a FeatureCollection, a single Feature or a bare geometry, also from other programs:
// without "kind" a geometry gives the obvious region (a Polygon's outer ring a polygon, a
// MultiPolygon one polygon per part); "color" may be [r, g, b]. Features without a geometry
// are passed over; anything else malformed fails the whole read.
std::optional<std::vector<Region>> RegionsFromGeoJson(const std::string& text, std::string* error = nullptr);

} // namespace Measure
