#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ViewState.h"

// The view and display state as JSON: dimensions by name, positions also in nm where the
// image has pixel sizes, colours as #rrggbb. Other parts of the model add sections of their
// own at the top level; readers ignore keys they do not know.
namespace ImageViewer {

// What a state is written for and checked against.
struct ImageDescription
{
    ImageReader::Vector size;
    std::vector<std::string> names;
    std::vector<double> pixelSizes; // nm, 0 unknown
};

nlohmann::json StateToJsonValue(const ViewState& view, const DisplayState& display, const ImageDescription& image);
std::string StateToJson(const ViewState& view, const DisplayState& display, const ImageDescription& image);

// Reads `json` over `view` and `display` (keys the text leaves out keep their values).
// Empty on success; otherwise why, with both left as they were.
std::string StateFromJsonValue(const nlohmann::json& json, const ImageDescription& image, ViewState& view,
                               DisplayState& display);
std::string StateFromJson(const std::string& text, const ImageDescription& image, ViewState& view,
                          DisplayState& display);

// Whole files; empty on success, else why not.
std::string SaveStateFile(const std::string& path, const ViewState& view, const DisplayState& display,
                          const ImageDescription& image);
std::string LoadStateFile(const std::string& path, const ImageDescription& image, ViewState& view,
                          DisplayState& display);

// A dimension named `token` (its name, case-insensitive, or its index); -1 when none.
int FindDimension(const std::string& token, const std::vector<std::string>& names);

} // namespace ImageViewer
