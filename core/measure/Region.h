#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace Measure {

// Plane coordinates in pixels: (0, 0) is the top-left corner of pixel (0, 0), whose centre is
// (0.5, 0.5). ImageJ's selections use the same convention, so exchange copies coordinates.
struct PointF
{
    double x = 0.0;
    double y = 0.0;
    bool operator==(const PointF& o) const { return x == o.x && y == o.y; }
};

enum class RegionKind { Point, Line, Polyline, Rectangle, Ellipse, Polygon, Freehand };

// "point", "line", ... as kept in files; nothing for an unknown name.
const char* RegionKindName(RegionKind kind);
std::optional<RegionKind> RegionKindFromName(const std::string& name);

// One selection on the XY plane. `points` holds, by kind:
//   Point: one or more points; Line: its two ends; Polyline: its vertices;
//   Rectangle, Ellipse: two opposite corners of the bounding box;
//   Polygon, Freehand: the vertices (the outline closes back to the first).
// position[k] pins image dimension k + 2 to an index, or is All (also when missing), so a
// region can belong to one plane, to all z of one t, or to every plane.
struct Region
{
    static constexpr int All = -1;

    RegionKind kind = RegionKind::Rectangle;
    std::vector<PointF> points;
    std::string name;
    std::uint32_t color = 0xffffff00; // ARGB
    std::vector<int> position;

    // The pinned index of image dimension `dim` (>= 2), or All.
    int PositionOf(int dim) const;
    void SetPosition(int dim, int index);

    // Rectangle and ellipse: the box [x0, x1) x [y0, y1) with x0 <= x1, y0 <= y1.
    // Other kinds: the bounding box of the points.
    void Bounds(double& x0, double& y0, double& x1, double& y1) const;

    // The points have the count the kind needs and are all finite.
    bool IsValid() const;
    bool IsArea() const
    {
        return kind == RegionKind::Rectangle || kind == RegionKind::Ellipse || kind == RegionKind::Polygon ||
               kind == RegionKind::Freehand;
    }
    bool IsLine() const { return kind == RegionKind::Line || kind == RegionKind::Polyline; }

    bool operator==(const Region& o) const;
    bool operator!=(const Region& o) const { return !(*this == o); }
};

// The view state's form: {"kind", "points": [[x, y], ...], "name", "color": "#aarrggbb",
// "position": [3, "all", ...]}.
nlohmann::json RegionToJson(const Region& region);
nlohmann::json RegionsToJson(const std::vector<Region>& regions);
// Nothing, with a reason in `error`, for a value that is not a valid region (list).
std::optional<Region> RegionFromJson(const nlohmann::json& value, std::string* error = nullptr);
std::optional<std::vector<Region>> RegionsFromJson(const nlohmann::json& value, std::string* error = nullptr);

// A position list as JSON: [3, "all", ...]; nothing for anything else.
nlohmann::json PositionToJson(const std::vector<int>& position);
std::optional<std::vector<int>> PositionFromJson(const nlohmann::json& value);

// Colour as "#aarrggbb" and back (also "#rrggbb", opaque).
std::string ColorToString(std::uint32_t argb);
std::optional<std::uint32_t> ColorFromString(const std::string& text);

} // namespace Measure
