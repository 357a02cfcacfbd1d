#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SampleType.h"
#include "StateJson.h"
#include "ViewState.h"

// The command line of the scripting tools. Options live in a table, so that a tool (or a
// later feature: movies, the volume view, regions) adds its own with a line each.
namespace ImageViewer {

class OptionTable
{
public:
    // Receives the option's arguments; returns why they are wrong, or empty.
    using Handler = std::function<std::string(const std::vector<std::string>& args)>;

    void Add(const std::string& name, int arity, const std::string& help, Handler handler);
    // Options go to their handlers, everything else to `positional`, in order. Empty on
    // success, else why not.
    std::string Parse(const std::vector<std::string>& args, std::vector<std::string>& positional) const;
    // One line per option.
    std::string Help() const;

private:
    struct Option
    {
        std::string name;
        int arity;
        std::string help;
        Handler handler;
    };
    std::vector<Option> m_options;
};

// A channel as the command line gives it: INDEX[:COLOUR[:LO-HI]], the range in the file's
// own sample values.
struct ChannelRequest
{
    int index = 0;
    bool hasColour = false;
    int r = 255, g = 255, b = 255;
    bool hasRange = false;
    double lo = 0, hi = 0;
};

// What to render: a view state file, then the options over it.
struct RenderRequest
{
    std::string source;
    std::string output;
    std::string statePath;
    int views = ViewXY; // ViewBit mask: one view or all three
    bool volume = false; // --view 3d: the volume view (views stays ViewXY)
    std::vector<std::string> axes;                    // x, y[, xz[, yz]] by name or index
    std::vector<std::pair<std::string, int>> cursor;  // dimension = position
    std::vector<std::string> project;                 // dimensions collapsed by maximum
    std::vector<ChannelRequest> channels;             // when given, the only channels shown
    int level = 0;
    int width = 0;
    int height = 0;
};

// Registers --view, --axes, --cursor, --project, --channel, --level, --size, --state.
void AddRenderOptions(OptionTable& table, RenderRequest& request);

// "NAME=N,NAME=N" and "INDEX[:COLOUR[:LO-HI]]"; empty or why not.
std::string ParseCursor(const std::string& text, std::vector<std::pair<std::string, int>>& out);
std::string ParseChannel(const std::string& text, ChannelRequest& out);

// The state file (when named) and then the options applied over `view` and `display`.
// Empty on success; otherwise why, with both unchanged.
std::string ApplyRenderRequest(const RenderRequest& request, const ImageDescription& image,
                               const ImageReader::ValueMap& map, ViewState& view, DisplayState& display);

} // namespace ImageViewer
