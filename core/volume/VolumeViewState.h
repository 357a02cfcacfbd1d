#pragma once

#include <array>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Vector.h"
#include "VolumeCamera.h"
#include "VolumeRenderer.h"

namespace ImageViewer {

// What the 3-D view shows and how: part of the view state (and of its files).
struct VolumeViewState
{
    bool shown = false;
    // Image dimensions shown as the volume's x, y and z; the view is drawn only while they
    // are three distinct dimensions of the image.
    std::array<int, 3> dims{0, 1, 2};
    VolumeMode mode = VolumeMode::Maximum;
    VolumeSampling sampling = VolumeSampling::Bilinear;
    VolumeCamera camera;
    // Shows only the part of the volume beyond the cursor's planes.
    bool clip = false;

    bool Drawable(const ImageReader::Vector& size) const;
    // Empty when the state is usable with an image of `size` (dims outside it only make the
    // view undrawable), else why not.
    std::string Validate(const ImageReader::Vector& size) const;
    bool operator==(const VolumeViewState& o) const;
    bool operator!=(const VolumeViewState& o) const { return !(*this == o); }
};

// The state as a JSON object (dimensions by name where they have one), and back over
// `state` (keys left out keep their values). Empty on success, else why not.
nlohmann::json VolumeStateToJson(const VolumeViewState& state, const std::vector<std::string>& names);
std::string VolumeStateFromJson(const nlohmann::json& json, const std::vector<std::string>& names,
                                VolumeViewState& state);

} // namespace ImageViewer
