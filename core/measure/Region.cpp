#include "Region.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace Measure {

namespace {

struct KindName
{
    RegionKind kind;
    const char* name;
};

constexpr KindName kindNames[] = {
    {RegionKind::Point, "point"},         {RegionKind::Line, "line"},       {RegionKind::Polyline, "polyline"},
    {RegionKind::Rectangle, "rectangle"}, {RegionKind::Ellipse, "ellipse"}, {RegionKind::Polygon, "polygon"},
    {RegionKind::Freehand, "freehand"},
};

// Positions are image indices; anything past this is a damaged file, not a plane.
constexpr int maxIndex = 1 << 30;

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

const char* RegionKindName(RegionKind kind)
{
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return k.name;
    return "rectangle";
}

std::optional<RegionKind> RegionKindFromName(const std::string& name)
{
    for (const KindName& k : kindNames)
        if (name == k.name)
            return k.kind;
    return std::nullopt;
}

int Region::PositionOf(int dim) const
{
    const size_t k = static_cast<size_t>(dim - 2);
    return dim >= 2 && k < position.size() ? position[k] : All;
}

void Region::SetPosition(int dim, int index)
{
    if (dim < 2)
        return;
    const size_t k = static_cast<size_t>(dim - 2);
    if (position.size() <= k)
        position.resize(k + 1, All);
    position[k] = index < 0 ? All : index;
    while (!position.empty() && position.back() == All)
        position.pop_back();
}

void Region::Bounds(double& x0, double& y0, double& x1, double& y1) const
{
    x0 = y0 = x1 = y1 = 0.0;
    if (points.empty())
        return;
    x0 = x1 = points[0].x;
    y0 = y1 = points[0].y;
    for (const PointF& p : points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
}

bool Region::IsValid() const
{
    for (const PointF& p : points)
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return false;
    for (int i : position)
        if (i < All || i > maxIndex)
            return false;
    switch (kind) {
    case RegionKind::Point:
        return !points.empty();
    case RegionKind::Line:
    case RegionKind::Rectangle:
    case RegionKind::Ellipse:
        return points.size() == 2;
    case RegionKind::Polyline:
        return points.size() >= 2;
    case RegionKind::Polygon:
    case RegionKind::Freehand:
        return points.size() >= 3;
    }
    return false;
}

bool Region::operator==(const Region& o) const
{
    // Trailing "all" entries are the same as none.
    const size_t n = std::max(position.size(), o.position.size());
    for (size_t k = 0; k < n; ++k)
        if (PositionOf(static_cast<int>(k) + 2) != o.PositionOf(static_cast<int>(k) + 2))
            return false;
    return kind == o.kind && points == o.points && name == o.name && color == o.color;
}

std::string ColorToString(std::uint32_t argb)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%08x", static_cast<unsigned>(argb));
    return text;
}

std::optional<std::uint32_t> ColorFromString(const std::string& text)
{
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#')
        return std::nullopt;
    std::uint32_t value = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return text.size() == 7 ? value | 0xff000000u : value;
}

nlohmann::json PositionToJson(const std::vector<int>& position)
{
    nlohmann::json list = nlohmann::json::array();
    for (int i : position)
        list.push_back(i == Region::All ? nlohmann::json("all") : nlohmann::json(i));
    return list;
}

std::optional<std::vector<int>> PositionFromJson(const nlohmann::json& value)
{
    if (!value.is_array())
        return std::nullopt;
    std::vector<int> position;
    for (const nlohmann::json& v : value) {
        if (v.is_string() && v.get<std::string>() == "all")
            position.push_back(Region::All);
        else if (v.is_number_integer() && v.get<long long>() >= 0 && v.get<long long>() <= maxIndex)
            position.push_back(static_cast<int>(v.get<long long>()));
        else
            return std::nullopt;
    }
    return position;
}

nlohmann::json RegionToJson(const Region& region)
{
    nlohmann::json points = nlohmann::json::array();
    for (const PointF& p : region.points)
        points.push_back({p.x, p.y});
    return {{"kind", RegionKindName(region.kind)},
            {"name", region.name},
            {"color", ColorToString(region.color)},
            {"points", std::move(points)},
            {"position", PositionToJson(region.position)}};
}

nlohmann::json RegionsToJson(const std::vector<Region>& regions)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Region& r : regions)
        list.push_back(RegionToJson(r));
    return list;
}

std::optional<Region> RegionFromJson(const nlohmann::json& value, std::string* error)
{
    if (!value.is_object()) {
        Fail(error, "a region is not an object");
        return std::nullopt;
    }
    Region region;
    const auto kind = value.find("kind");
    const std::optional<RegionKind> k =
        kind != value.end() && kind->is_string() ? RegionKindFromName(kind->get<std::string>()) : std::nullopt;
    if (!k) {
        Fail(error, "a region has no known kind");
        return std::nullopt;
    }
    region.kind = *k;
    if (const auto name = value.find("name"); name != value.end() && name->is_string())
        region.name = name->get<std::string>();
    if (const auto color = value.find("color"); color != value.end() && color->is_string())
        if (const auto c = ColorFromString(color->get<std::string>()))
            region.color = *c;
    const auto points = value.find("points");
    if (points == value.end() || !points->is_array()) {
        Fail(error, "a region has no points");
        return std::nullopt;
    }
    for (const nlohmann::json& p : *points) {
        if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number()) {
            Fail(error, "a region point is not [x, y]");
            return std::nullopt;
        }
        region.points.push_back({p[0].get<double>(), p[1].get<double>()});
    }
    if (const auto position = value.find("position"); position != value.end()) {
        const auto pos = PositionFromJson(*position);
        if (!pos) {
            Fail(error, "a region position is not a list of indices and \"all\"");
            return std::nullopt;
        }
        region.position = *pos;
    }
    if (!region.IsValid()) {
        Fail(error, std::string("a ") + RegionKindName(region.kind) + " has the wrong number of points");
        return std::nullopt;
    }
    return region;
}

std::optional<std::vector<Region>> RegionsFromJson(const nlohmann::json& value, std::string* error)
{
    if (!value.is_array()) {
        Fail(error, "regions are not a list");
        return std::nullopt;
    }
    std::vector<Region> regions;
    for (const nlohmann::json& v : value) {
        std::optional<Region> r = RegionFromJson(v, error);
        if (!r)
            return std::nullopt;
        regions.push_back(std::move(*r));
    }
    return regions;
}

} // namespace Measure
