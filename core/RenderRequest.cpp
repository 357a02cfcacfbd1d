#include "RenderRequest.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ImageViewer {

namespace {

std::vector<std::string> split(const std::string& text, char at)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, at))
        parts.push_back(part);
    if (!text.empty() && text.back() == at)
        parts.emplace_back();
    return parts;
}

bool toInt(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < -2147483647L || v > 2147483647L)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool toDouble(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

struct NamedColour
{
    const char* name;
    int r, g, b;
};
const NamedColour kColours[] = {{"red", 255, 0, 0},     {"green", 0, 255, 0},   {"blue", 0, 0, 255},
                                {"cyan", 0, 255, 255},  {"magenta", 255, 0, 255}, {"yellow", 255, 255, 0},
                                {"white", 255, 255, 255}, {"gray", 255, 255, 255}, {"grey", 255, 255, 255}};

} // namespace

void OptionTable::Add(const std::string& name, int arity, const std::string& help, Handler handler)
{
    m_options.push_back(Option{name, arity, help, std::move(handler)});
}

std::string OptionTable::Parse(const std::vector<std::string>& args, std::vector<std::string>& positional) const
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const Option* option = nullptr;
        for (const Option& o : m_options)
            if (o.name == a)
                option = &o;
        if (!option && a.size() > 1 && a[0] == '-')
            return "unknown option " + a;
        if (!option) {
            positional.push_back(a);
            continue;
        }
        if (args.size() - 1 - i < static_cast<size_t>(option->arity))
            return a + " needs " + std::to_string(option->arity) + " argument" + (option->arity > 1 ? "s" : "");
        const std::vector<std::string> values(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                              args.begin() + static_cast<std::ptrdiff_t>(i) + 1 + option->arity);
        i += static_cast<size_t>(option->arity);
        const std::string why = option->handler(values);
        if (!why.empty())
            return a + ": " + why;
    }
    return std::string();
}

std::string OptionTable::Help() const
{
    std::string text;
    for (const Option& o : m_options)
        text += "  " + o.name + std::string(o.name.size() < 22 ? 22 - o.name.size() : 1, ' ') + o.help + "\n";
    return text;
}

std::string ParseCursor(const std::string& text, std::vector<std::pair<std::string, int>>& out)
{
    for (const std::string& item : split(text, ',')) {
        const size_t eq = item.find('=');
        int value = 0;
        if (eq == std::string::npos || eq == 0 || !toInt(item.substr(eq + 1), value))
            return "expected NAME=POSITION, got \"" + item + "\"";
        out.emplace_back(item.substr(0, eq), value);
    }
    return std::string();
}

std::string ParseChannel(const std::string& text, ChannelRequest& out)
{
    const std::vector<std::string> parts = split(text, ':');
    if (parts.empty() || parts.size() > 3 || !toInt(parts[0], out.index) || out.index < 0)
        return "expected INDEX[:COLOUR[:LO-HI]], got \"" + text + "\"";
    if (parts.size() >= 2 && !parts[1].empty()) {
        out.hasColour = true;
        const std::string& c = parts[1];
        unsigned r = 0, g = 0, b = 0;
        bool found = false;
        for (const NamedColour& n : kColours)
            if (c == n.name) {
                out.r = n.r;
                out.g = n.g;
                out.b = n.b;
                found = true;
            }
        if (!found) {
            if (c.size() != 7 || std::sscanf(c.c_str(), "#%02x%02x%02x", &r, &g, &b) != 3)
                return "unknown colour \"" + c + "\" (a name such as green, or #rrggbb)";
            out.r = static_cast<int>(r);
            out.g = static_cast<int>(g);
            out.b = static_cast<int>(b);
        }
    }
    if (parts.size() == 3) {
        // The range LO-HI; a negative LO is written with its sign ("-5-100").
        const std::string& range = parts[2];
        const size_t dash = range.find('-', 1);
        if (dash == std::string::npos || !toDouble(range.substr(0, dash), out.lo) ||
            !toDouble(range.substr(dash + 1), out.hi) || !(out.lo < out.hi))
            return "expected a range LO-HI with LO < HI, got \"" + range + "\"";
        out.hasRange = true;
    }
    return std::string();
}

void AddRenderOptions(OptionTable& table, RenderRequest& r)
{
    table.Add("-o", 1, "OUT.png: where the picture goes", [&r](const std::vector<std::string>& a) {
        r.output = a[0];
        return std::string();
    });
    table.Add("--view", 1, "xy|xz|yz|all|3d: the view (default xy)", [&r](const std::vector<std::string>& a) {
        const std::string& v = a[0];
        r.volume = v == "3d";
        r.views = v == "xy" || r.volume ? ViewXY : v == "xz" ? ViewXZ : v == "yz" ? ViewYZ : v == "all" ? ViewAll : 0;
        return r.views ? std::string() : "expected xy, xz, yz, all or 3d";
    });
    table.Add("--axes", 1, "X,Y[,XZ[,YZ]]: the dimensions on the view axes", [&r](const std::vector<std::string>& a) {
        r.axes = split(a[0], ',');
        return r.axes.size() >= 2 && r.axes.size() <= 4 ? std::string() : "expected two to four dimensions";
    });
    table.Add("--cursor", 1, "DIM=N[,DIM=N...]: the cursor position", [&r](const std::vector<std::string>& a) {
        return ParseCursor(a[0], r.cursor);
    });
    table.Add("--project", 1, "DIM[,DIM...]: collapse by maximum", [&r](const std::vector<std::string>& a) {
        for (const std::string& d : split(a[0], ','))
            r.project.push_back(d);
        return std::string();
    });
    table.Add("--channel", 1, "I[:COLOUR[:LO-HI]]: show channel I (repeatable)", [&r](const std::vector<std::string>& a) {
        ChannelRequest c;
        const std::string why = ParseChannel(a[0], c);
        if (why.empty())
            r.channels.push_back(c);
        return why;
    });
    table.Add("--level", 1, "N: resolution level of a multiscale image", [&r](const std::vector<std::string>& a) {
        return toInt(a[0], r.level) && r.level >= 0 ? std::string() : "expected a level number";
    });
    table.Add("--size", 2, "W H: the picture's size (fitted, aspect kept)", [&r](const std::vector<std::string>& a) {
        return toInt(a[0], r.width) && toInt(a[1], r.height) && r.width > 0 && r.height > 0 && r.width <= 65536 &&
                       r.height <= 65536
                   ? std::string()
                   : "expected two sizes from 1 to 65536";
    });
    table.Add("--state", 1, "STATE.json: a saved view state, applied first", [&r](const std::vector<std::string>& a) {
        r.statePath = a[0];
        return std::string();
    });
}

std::string ApplyRenderRequest(const RenderRequest& request, const ImageDescription& image,
                               const ImageReader::ValueMap& map, ViewState& viewOut, DisplayState& displayOut)
{
    ViewState view = viewOut;
    DisplayState display = displayOut;
    if (!request.statePath.empty()) {
        const std::string why = LoadStateFile(request.statePath, image, view, display);
        if (!why.empty())
            return request.statePath + ": " + why;
    }
    const int n = static_cast<int>(image.size.size());
    const auto dim = [&](const std::string& token, int& d) {
        d = FindDimension(token, image.names);
        return d >= 0 && d < n;
    };
    if (!request.axes.empty()) {
        int* const targets[] = {&view.axes.x, &view.axes.y, &view.axes.xz, &view.axes.yz};
        for (size_t k = 0; k < request.axes.size(); ++k)
            if (!dim(request.axes[k], *targets[k]))
                return "--axes: no dimension " + request.axes[k];
    }
    for (const auto& [name, value] : request.cursor) {
        int d = -1;
        if (!dim(name, d))
            return "--cursor: no dimension " + name;
        if (value < 0 || value >= image.size[d])
            return "--cursor: " + name + " runs from 0 to " + std::to_string(image.size[d] - 1);
        view.cursor[d] = value;
    }
    for (const std::string& name : request.project) {
        int d = -1;
        if (!dim(name, d))
            return "--project: no dimension " + name;
        view.projection = ProjectionMode::Max;
        view.projected.resize(static_cast<size_t>(n), false);
        view.projected[static_cast<size_t>(d)] = true;
    }
    if (!request.channels.empty()) {
        // The listed channels are the ones shown.
        for (ChannelDisplay& c : display.channels)
            c.enabled = false;
        for (const ChannelRequest& c : request.channels) {
            // Without a channel dimension, channel 0 is the one channel there is.
            const bool global = view.channelDim < 0 && c.index == 0;
            if (!global && (view.channelDim < 0 || c.index >= image.size[view.channelDim]))
                return "--channel: the image has no channel " + std::to_string(c.index);
            if (!global && display.channels.size() <= static_cast<size_t>(c.index))
                display.channels.resize(static_cast<size_t>(c.index) + 1);
            ChannelDisplay& ch = global ? display.global : display.channels[static_cast<size_t>(c.index)];
            ch.enabled = true;
            if (c.hasColour) {
                ch.r = c.r;
                ch.g = c.g;
                ch.b = c.b;
            }
            if (c.hasRange) {
                ch.min = map.ToDisplay(c.lo);
                ch.max = map.ToDisplay(c.hi);
                ch.autoscaling = false;
            }
        }
    }
    const std::string why = ValidateStates(view, display, image.size);
    if (!why.empty())
        return why;
    viewOut = view;
    displayOut = display;
    return std::string();
}

} // namespace ImageViewer
