#include "StateJson.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace ImageViewer {

using nlohmann::json;

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A dimension as written: its name when that names it alone, else its index.
json dimension(int d, const std::vector<std::string>& names)
{
    if (d < 0)
        return nullptr;
    const std::string name = d < static_cast<int>(names.size()) ? names[static_cast<size_t>(d)] : std::string();
    if (!name.empty() && std::count_if(names.begin(), names.end(), [&](const std::string& n) { return lower(n) == lower(name); }) == 1 &&
        !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return name;
    return d;
}

struct Error
{
    std::string text;
};

int readDimension(const json& j, const std::vector<std::string>& names, const char* what)
{
    if (j.is_null())
        return -1;
    int d = -1;
    if (j.is_number_integer())
        d = j.get<int>();
    else if (j.is_string())
        d = FindDimension(j.get<std::string>(), names);
    if (d < 0 || d >= static_cast<int>(names.size()))
        throw Error{std::string(what) + ": no dimension " + j.dump()};
    return d;
}

bool known(const std::vector<double>& sizes, int d)
{
    return d >= 0 && d < static_cast<int>(sizes.size()) && std::isfinite(sizes[static_cast<size_t>(d)]) &&
           sizes[static_cast<size_t>(d)] > 0;
}

double smallestSize(const std::vector<double>& sizes)
{
    double s = 0;
    for (double p : sizes)
        if (std::isfinite(p) && p > 0 && (s == 0 || p < s))
            s = p;
    return s;
}

// A position: index per dimension name, and nm where the pixel size is known.
json position(const ImageReader::Vector& p, const ImageDescription& image, bool physical)
{
    json out = json::object();
    for (int d = 0; d < static_cast<int>(p.size()); ++d) {
        const json key = dimension(d, image.names);
        const std::string k = key.is_string() ? key.get<std::string>() : std::to_string(d);
        if (physical)
            out[k] = p[d] * image.pixelSizes[static_cast<size_t>(d)];
        else
            out[k] = p[d];
    }
    return out;
}

void readPosition(const json& j, const ImageDescription& image, ImageReader::Vector& p, const char* what)
{
    if (!j.is_object())
        throw Error{std::string(what) + " must map dimensions to positions"};
    for (const auto& [key, value] : j.items()) {
        const int d = FindDimension(key, image.names);
        if (d < 0 || d >= static_cast<int>(p.size()) || !value.is_number_integer())
            throw Error{std::string(what) + ": bad entry " + key};
        p[d] = value.get<int>();
    }
}

std::string colour(const ChannelDisplay& c)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", std::clamp(c.r, 0, 255), std::clamp(c.g, 0, 255),
                  std::clamp(c.b, 0, 255));
    return text;
}

json channelJson(const ChannelDisplay& c)
{
    json j{{"name", c.name},       {"color", colour(c)},   {"min", c.min},
                {"max", c.max},         {"gamma", c.gamma},     {"enabled", c.enabled},
                {"autoscaling", c.autoscaling}, {"lut", c.lut}};
    if (!c.lutColours.empty())
        j["lutColours"] = c.lutColours;
    return j;
}

void readChannel(const json& j, ChannelDisplay& c)
{
    if (!j.is_object())
        throw Error{"a channel must be an object"};
    c.name = j.value("name", c.name);
    if (j.contains("color")) {
        const std::string text = j.at("color").get<std::string>();
        unsigned r = 0, g = 0, b = 0;
        if (text.size() != 7 || std::sscanf(text.c_str(), "#%02x%02x%02x", &r, &g, &b) != 3)
            throw Error{"colour " + text + " is not #rrggbb"};
        c.r = static_cast<int>(r);
        c.g = static_cast<int>(g);
        c.b = static_cast<int>(b);
    }
    c.min = j.value("min", c.min);
    c.max = j.value("max", c.max);
    c.gamma = j.value("gamma", c.gamma);
    c.enabled = j.value("enabled", c.enabled);
    c.autoscaling = j.value("autoscaling", c.autoscaling);
    // Files written before lookup tables existed show the channel's colour.
    c.lut = j.value("lut", c.lut);
    c.lutColours = j.value("lutColours", c.lutColours);
}

const char* const kMeasureNames[] = {"none", "histogram", "profile"};

} // namespace

int FindDimension(const std::string& token, const std::vector<std::string>& names)
{
    for (size_t d = 0; d < names.size(); ++d)
        if (!names[d].empty() && lower(names[d]) == lower(token))
            return static_cast<int>(d);
    if (!token.empty() && std::all_of(token.begin(), token.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const long d = std::strtol(token.c_str(), nullptr, 10);
        if (d < static_cast<long>(names.size()))
            return static_cast<int>(d);
    }
    return -1;
}

json StateToJsonValue(const ViewState& view, const DisplayState& display, const ImageDescription& image)
{
    ImageDescription im = image;
    im.pixelSizes.resize(im.size.size(), 0.0);
    json v;
    v["axes"] = {{"x", dimension(view.axes.x, im.names)},
                 {"y", dimension(view.axes.y, im.names)},
                 {"xz", dimension(view.axes.xz, im.names)},
                 {"yz", dimension(view.axes.yz, im.names)}};
    v["channelDimension"] = dimension(view.channelDim, im.names);
    v["profileDimension"] = dimension(view.profileDim, im.names);
    v["cursor"] = position(view.cursor, im, false);
    json physical = json::object();
    for (int d = 0; d < static_cast<int>(view.cursor.size()); ++d)
        if (known(im.pixelSizes, d))
            physical[dimension(d, im.names).is_string() ? dimension(d, im.names).get<std::string>() : std::to_string(d)] =
                view.cursor[d] * im.pixelSizes[static_cast<size_t>(d)];
    v["cursorNm"] = physical;
    v["projection"] = view.projection == ProjectionMode::Max ? "max" : "none";
    json projected = json::array();
    for (size_t d = 0; d < view.projected.size(); ++d)
        if (view.projected[d])
            projected.push_back(dimension(static_cast<int>(d), im.names));
    v["projected"] = projected;
    v["zoom"] = view.zoom;
    // The zoom in physical terms: nm of the sample per screen pixel.
    const double smallest = smallestSize(im.pixelSizes);
    if (smallest > 0)
        v["nmPerScreenPixel"] = smallest / view.zoom;
    v["pan"] = view.pan.size() == 2 ? json{view.pan[0], view.pan[1]} : json{0, 0};
    v["fitted"] = view.fitted;
    v["scaleBar"] = view.scaleBar;
    v["colourBar"] = view.colourBar;
    v["spectrum"] = {{"position1", view.spectrum.p1},
                     {"wavelength1", view.spectrum.w1},
                     {"position2", view.spectrum.p2},
                     {"wavelength2", view.spectrum.w2}};
    json m = {{"type", kMeasureNames[std::clamp(view.measure.type, 0, 2)]}};
    if (view.measure.type != 0) {
        m["start"] = position(view.measure.start, im, false);
        m["end"] = position(view.measure.end, im, false);
    }
    v["measurement"] = m;
    RegionListToJson(view.regions, v);
    v["volume"] = VolumeStateToJson(view.volume, im.names);

    json d;
    d["selected"] = display.selected;
    d["global"] = channelJson(display.global);
    d["channels"] = json::array();
    for (const ChannelDisplay& c : display.channels)
        d["channels"].push_back(channelJson(c));

    json sizes = json::array();
    for (int d = 0; d < static_cast<int>(im.size.size()); ++d)
        sizes.push_back(im.size[d]);
    json out;
    out["format"] = "lumora-view-state";
    out["version"] = 1;
    out["image"] = {{"size", sizes}, {"dimensions", im.names}, {"pixelSizeNm", im.pixelSizes}};
    out["view"] = v;
    out["display"] = d;
    return out;
}

std::string StateToJson(const ViewState& view, const DisplayState& display, const ImageDescription& image)
{
    return StateToJsonValue(view, display, image).dump(2) + "\n";
}

std::string StateFromJsonValue(const json& j, const ImageDescription& image, ViewState& viewOut,
                               DisplayState& displayOut)
{
    ImageDescription im = image;
    im.pixelSizes.resize(im.size.size(), 0.0);
    im.names.resize(im.size.size());
    ViewState view = viewOut;
    DisplayState display = displayOut;
    try {
        if (!j.is_object())
            throw Error{"a view state is a JSON object"};
        if (j.contains("format") && j.at("format") != "lumora-view-state")
            throw Error{"not a view state file"};
        if (j.contains("version") && j.at("version").get<int>() > 1)
            throw Error{"written by a newer version"};
        if (j.contains("view")) {
            const json& v = j.at("view");
            if (v.contains("axes")) {
                const json& a = v.at("axes");
                const auto axis = [&](const char* k, int& d) {
                    if (a.contains(k))
                        d = readDimension(a.at(k), im.names, k);
                };
                axis("x", view.axes.x);
                axis("y", view.axes.y);
                axis("xz", view.axes.xz);
                axis("yz", view.axes.yz);
            }
            if (v.contains("channelDimension"))
                view.channelDim = readDimension(v.at("channelDimension"), im.names, "channelDimension");
            if (v.contains("profileDimension"))
                view.profileDim = readDimension(v.at("profileDimension"), im.names, "profileDimension");
            if (view.cursor.size() != im.size.size())
                view.cursor = im.size / 2;
            // Positions in nm place the cursor where pixel sizes are known; indices win.
            if (v.contains("cursorNm") && v.at("cursorNm").is_object())
                for (const auto& [key, value] : v.at("cursorNm").items()) {
                    const int d = FindDimension(key, im.names);
                    if (known(im.pixelSizes, d) && value.is_number())
                        view.cursor[d] = static_cast<int>(std::lround(value.get<double>() / im.pixelSizes[static_cast<size_t>(d)]));
                }
            if (v.contains("cursor"))
                readPosition(v.at("cursor"), im, view.cursor, "cursor");
            if (v.contains("projection")) {
                const std::string p = v.at("projection").get<std::string>();
                if (p != "none" && p != "max")
                    throw Error{"projection must be none or max"};
                view.projection = p == "max" ? ProjectionMode::Max : ProjectionMode::None;
            }
            if (v.contains("projected")) {
                view.projected.assign(im.size.size(), false);
                for (const json& d : v.at("projected"))
                    view.projected[static_cast<size_t>(readDimension(d, im.names, "projected"))] = true;
            }
            if (v.contains("zoom"))
                view.zoom = v.at("zoom").get<double>();
            const double smallest = smallestSize(im.pixelSizes);
            if (v.contains("nmPerScreenPixel") && smallest > 0)
                view.zoom = smallest / v.at("nmPerScreenPixel").get<double>();
            if (v.contains("pan")) {
                const json& p = v.at("pan");
                if (!p.is_array() || p.size() != 2)
                    throw Error{"pan needs two offsets"};
                view.pan = ImageReader::Vector(p[0].get<int>(), p[1].get<int>());
            }
            view.fitted = v.value("fitted", view.fitted);
            view.scaleBar = v.value("scaleBar", view.scaleBar);
            view.colourBar = v.value("colourBar", view.colourBar);
            if (v.contains("spectrum")) {
                const json& s = v.at("spectrum");
                view.spectrum.p1 = s.value("position1", view.spectrum.p1);
                view.spectrum.w1 = s.value("wavelength1", view.spectrum.w1);
                view.spectrum.p2 = s.value("position2", view.spectrum.p2);
                view.spectrum.w2 = s.value("wavelength2", view.spectrum.w2);
            }
            if (v.contains("measurement")) {
                const json& m = v.at("measurement");
                const std::string type = m.value("type", std::string("none"));
                const auto at = std::find(std::begin(kMeasureNames), std::end(kMeasureNames), type);
                if (at == std::end(kMeasureNames))
                    throw Error{"unknown measurement " + type};
                view.measure.type = static_cast<int>(at - std::begin(kMeasureNames));
                view.measure.start = view.measure.end = view.cursor;
                if (m.contains("start"))
                    readPosition(m.at("start"), im, view.measure.start, "measurement start");
                if (m.contains("end"))
                    readPosition(m.at("end"), im, view.measure.end, "measurement end");
            }
            std::string why;
            std::optional<RegionList> regions = RegionListFromJson(v, view.regions, &why);
            if (!regions)
                throw Error{"regions: " + why};
            view.regions = std::move(*regions);
            if (v.contains("volume"))
                if (const std::string why = VolumeStateFromJson(v.at("volume"), im.names, view.volume); !why.empty())
                    throw Error{why};
        }
        if (j.contains("display")) {
            const json& d = j.at("display");
            display.selected = d.value("selected", display.selected);
            if (d.contains("global"))
                readChannel(d.at("global"), display.global);
            if (d.contains("channels")) {
                const json& list = d.at("channels");
                if (!list.is_array())
                    throw Error{"channels must be a list"};
                if (display.channels.size() < list.size())
                    display.channels.resize(list.size());
                for (size_t k = 0; k < list.size(); ++k)
                    readChannel(list[k], display.channels[k]);
            }
        }
    } catch (const Error& e) {
        return e.text;
    } catch (const json::exception& e) {
        return std::string("malformed view state: ") + e.what();
    }
    if (view.projected.size() != im.size.size())
        view.projected.resize(im.size.size(), false);
    const std::string why = ValidateStates(view, display, im.size);
    if (!why.empty())
        return why;
    viewOut = view;
    displayOut = display;
    return std::string();
}

std::string StateFromJson(const std::string& text, const ImageDescription& image, ViewState& view,
                          DisplayState& display)
{
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded())
        return "not valid JSON";
    return StateFromJsonValue(j, image, view, display);
}

std::string SaveStateFile(const std::string& path, const ViewState& view, const DisplayState& display,
                          const ImageDescription& image)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return "cannot write " + path;
    out << StateToJson(view, display, image);
    out.close();
    return out ? std::string() : "cannot write " + path;
}

std::string LoadStateFile(const std::string& path, const ImageDescription& image, ViewState& view,
                          DisplayState& display)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "cannot read " + path;
    std::ostringstream text;
    text << in.rdbuf();
    return StateFromJson(text.str(), image, view, display);
}

} // namespace ImageViewer
