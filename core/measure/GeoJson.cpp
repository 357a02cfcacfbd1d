#include "GeoJson.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace Measure {

using nlohmann::json;

namespace {

constexpr int ellipseVertices = 72; // a multiple of 4: the extreme points are vertices

json Pair(const PointF& p)
{
    return json::array({p.x, p.y});
}

json List(const std::vector<PointF>& points, bool close)
{
    json list = json::array();
    for (const PointF& p : points)
        list.push_back(Pair(p));
    if (close && !points.empty())
        list.push_back(Pair(points.front()));
    return list;
}

json Geometry(const Region& r)
{
    double x0, y0, x1, y1;
    r.Bounds(x0, y0, x1, y1);
    std::vector<PointF> outline;
    switch (r.kind) {
    case RegionKind::Point:
        if (r.points.size() == 1)
            return {{"type", "Point"}, {"coordinates", Pair(r.points[0])}};
        return {{"type", "MultiPoint"}, {"coordinates", List(r.points, false)}};
    case RegionKind::Line:
    case RegionKind::Polyline:
        return {{"type", "LineString"}, {"coordinates", List(r.points, false)}};
    case RegionKind::Rectangle:
        outline = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
        break;
    case RegionKind::Ellipse: {
        const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
        for (int i = 0; i < ellipseVertices; ++i) {
            const int quarter = i / (ellipseVertices / 4), k = i % (ellipseVertices / 4);
            const double a = 2 * M_PI * k / ellipseVertices;
            // Quarters by symmetry, so the extreme points are exact.
            const double c = std::cos(a), s = std::sin(a);
            const double dx[4] = {c, -s, -c, s}, dy[4] = {s, c, -s, -c};
            outline.push_back({cx + rx * dx[quarter], cy + ry * dy[quarter]});
        }
        break;
    }
    case RegionKind::Polygon:
    case RegionKind::Freehand:
        outline = r.points;
        break;
    }
    return {{"type", "Polygon"}, {"coordinates", json::array({List(outline, true)})}};
}

bool Fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

bool ReadPoint(const json& v, PointF& p)
{
    if (!v.is_array() || v.size() < 2 || !v[0].is_number() || !v[1].is_number())
        return false;
    p = {v[0].get<double>(), v[1].get<double>()};
    return std::isfinite(p.x) && std::isfinite(p.y);
}

bool ReadPoints(const json& v, std::vector<PointF>& points)
{
    if (!v.is_array())
        return false;
    for (const json& e : v) {
        PointF p;
        if (!ReadPoint(e, p))
            return false;
        points.push_back(p);
    }
    return true;
}

// The outer ring of a polygon's coordinates, without its closing point.
bool ReadRing(const json& v, std::vector<PointF>& points)
{
    if (!v.is_array() || v.empty() || !ReadPoints(v[0], points))
        return false;
    if (points.size() > 1 && points.front() == points.back())
        points.pop_back();
    return true;
}

std::optional<std::uint32_t> ReadColor(const json& v)
{
    if (v.is_string())
        return ColorFromString(v.get<std::string>());
    if (v.is_array() && v.size() == 3 && v[0].is_number_integer() && v[1].is_number_integer() &&
        v[2].is_number_integer()) {
        std::uint32_t c = 0xff000000u;
        for (int i = 0; i < 3; ++i)
            c |= static_cast<std::uint32_t>(std::clamp<long long>(v[i].get<long long>(), 0, 255)) << (16 - 8 * i);
        return c;
    }
    return std::nullopt;
}

// Regions of one geometry with the feature's properties (an object or null).
bool ReadGeometry(const json& geometry, const json& properties, std::vector<Region>& out, std::string* error)
{
    if (!geometry.is_object())
        return Fail(error, "a geometry is not an object");
    const auto type = geometry.find("type");
    const auto coordinates = geometry.find("coordinates");
    if (type == geometry.end() || !type->is_string())
        return Fail(error, "a geometry has no type");
    const std::string t = type->get<std::string>();
    if (t == "GeometryCollection") {
        const auto parts = geometry.find("geometries");
        if (parts == geometry.end() || !parts->is_array())
            return Fail(error, "a geometry collection has no geometries");
        for (const json& g : *parts)
            if (!ReadGeometry(g, properties, out, error))
                return false;
        return true;
    }
    if (coordinates == geometry.end())
        return Fail(error, "a geometry has no coordinates");

    Region base;
    std::optional<RegionKind> kind;
    if (properties.is_object()) {
        if (const auto k = properties.find("kind"); k != properties.end() && k->is_string())
            kind = RegionKindFromName(k->get<std::string>());
        if (const auto n = properties.find("name"); n != properties.end() && n->is_string())
            base.name = n->get<std::string>();
        if (const auto c = properties.find("color"); c != properties.end())
            if (const auto color = ReadColor(*c))
                base.color = *color;
        if (const auto p = properties.find("position"); p != properties.end()) {
            const auto position = PositionFromJson(*p);
            if (!position)
                return Fail(error, "a feature's position is not a list of indices and \"all\"");
            base.position = *position;
        }
    }

    std::vector<std::vector<PointF>> shapes(1);
    bool ok = false;
    RegionKind natural = RegionKind::Polygon;
    if (t == "Point") {
        PointF p;
        ok = ReadPoint(*coordinates, p);
        shapes[0].push_back(p);
        natural = RegionKind::Point;
    } else if (t == "MultiPoint") {
        ok = ReadPoints(*coordinates, shapes[0]);
        natural = RegionKind::Point;
    } else if (t == "LineString") {
        ok = ReadPoints(*coordinates, shapes[0]);
        natural = shapes[0].size() == 2 ? RegionKind::Line : RegionKind::Polyline;
    } else if ((t == "MultiLineString" || t == "MultiPolygon") && coordinates->is_array()) {
        // One region per part.
        const bool lines = t == "MultiLineString";
        shapes.clear();
        ok = true;
        for (const json& part : *coordinates) {
            shapes.emplace_back();
            ok = ok && (lines ? ReadPoints(part, shapes.back()) : ReadRing(part, shapes.back()));
        }
        natural = lines ? RegionKind::Polyline : RegionKind::Polygon;
    } else if (t == "Polygon") {
        ok = ReadRing(*coordinates, shapes[0]);
    } else {
        return Fail(error, "unsupported geometry type " + t);
    }
    if (!ok)
        return Fail(error, "a " + t + " has malformed coordinates");

    for (std::vector<PointF>& shape : shapes) {
        Region r = base;
        r.kind = kind.value_or(natural);
        if ((r.kind == RegionKind::Rectangle || r.kind == RegionKind::Ellipse) && !shape.empty()) {
            Region box;
            box.points = shape;
            double x0, y0, x1, y1;
            box.Bounds(x0, y0, x1, y1);
            r.points = {{x0, y0}, {x1, y1}};
        } else {
            r.points = std::move(shape);
        }
        if (!r.IsValid())
            return Fail(error, std::string("a ") + RegionKindName(r.kind) + " has the wrong number of points");
        out.push_back(std::move(r));
    }
    return true;
}

} // namespace

std::string RegionsToGeoJson(const std::vector<Region>& regions)
{
    json features = json::array();
    for (const Region& r : regions)
        features.push_back({{"type", "Feature"},
                            {"geometry", Geometry(r)},
                            {"properties",
                             {{"name", r.name},
                              {"kind", RegionKindName(r.kind)},
                              {"color", ColorToString(r.color)},
                              {"position", PositionToJson(r.position)}}}});
    return json({{"type", "FeatureCollection"}, {"features", std::move(features)}}).dump(1) + "\n";
}

std::optional<std::vector<Region>> RegionsFromGeoJson(const std::string& text, std::string* error)
{
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        Fail(error, "not a GeoJSON object");
        return std::nullopt;
    }
    std::vector<Region> regions;
    const auto type = doc.find("type");
    const std::string t = type != doc.end() && type->is_string() ? type->get<std::string>() : std::string();
    const auto feature = [&](const json& f) {
        if (!f.is_object())
            return Fail(error, "a feature is not an object");
        const auto g = f.find("geometry");
        if (g == f.end() || g->is_null())
            return true;
        const auto p = f.find("properties");
        return ReadGeometry(*g, p == f.end() ? json() : *p, regions, error);
    };
    bool ok;
    if (t == "FeatureCollection") {
        const auto features = doc.find("features");
        ok = features != doc.end() && features->is_array();
        if (!ok)
            Fail(error, "a feature collection has no features");
        for (size_t i = 0; ok && i < features->size(); ++i)
            ok = feature((*features)[i]);
    } else if (t == "Feature") {
        ok = feature(doc);
    } else {
        ok = ReadGeometry(doc, json(), regions, error);
    }
    if (!ok)
        return std::nullopt;
    return regions;
}

} // namespace Measure
