#include "VolumeViewState.h"

#include <cmath>

#include "StateJson.h"

namespace ImageViewer {

namespace {

const char* const kModeNames[] = {"max", "min", "average", "blend"};
const char* const kSamplingNames[] = {"nearest", "bilinear"};

template <size_t N>
int findName(const char* const (&names)[N], const std::string& name)
{
    for (size_t i = 0; i < N; ++i)
        if (name == names[i])
            return static_cast<int>(i);
    return -1;
}

bool finite(double v)
{
    return std::isfinite(v);
}

} // namespace

bool VolumeViewState::Drawable(const ImageReader::Vector& size) const
{
    const int n = static_cast<int>(size.size());
    for (int d : dims)
        if (d < 0 || d >= n)
            return false;
    return dims[0] != dims[1] && dims[0] != dims[2] && dims[1] != dims[2];
}

std::string VolumeViewState::Validate(const ImageReader::Vector&) const
{
    for (int d : dims)
        if (d < -1)
            return "a 3-D view dimension is not a dimension";
    if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > static_cast<int>(VolumeMode::Alpha))
        return "unknown 3-D view mode";
    if (static_cast<int>(sampling) < 0 || static_cast<int>(sampling) > static_cast<int>(VolumeSampling::Bilinear))
        return "unknown 3-D view sampling";
    if (!(camera.zoom > 0) || !finite(camera.zoom) || !finite(camera.panX) || !finite(camera.panY))
        return "the 3-D view's zoom or pan is not a number";
    // A rotation is orthonormal; anything else would shear or scale the volume.
    const auto& m = camera.rotation.m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = 0;
            for (int k = 0; k < 3; ++k)
                dot += m[i][k] * m[j][k];
            if (!finite(dot) || std::abs(dot - (i == j ? 1.0 : 0.0)) > 1e-6)
                return "the 3-D view's rotation is not a rotation";
        }
    return std::string();
}

bool VolumeViewState::operator==(const VolumeViewState& o) const
{
    return shown == o.shown && dims == o.dims && mode == o.mode && sampling == o.sampling && clip == o.clip &&
           camera.rotation.m == o.camera.rotation.m && camera.zoom == o.camera.zoom && camera.panX == o.camera.panX &&
           camera.panY == o.camera.panY;
}

nlohmann::json VolumeStateToJson(const VolumeViewState& state, const std::vector<std::string>& names)
{
    nlohmann::json dims = nlohmann::json::array();
    for (int d : state.dims) {
        const bool named = d >= 0 && d < static_cast<int>(names.size()) && !names[static_cast<size_t>(d)].empty() &&
                           FindDimension(names[static_cast<size_t>(d)], names) == d;
        dims.push_back(named ? nlohmann::json(names[static_cast<size_t>(d)]) : nlohmann::json(d));
    }
    nlohmann::json rotation = nlohmann::json::array();
    for (const auto& row : state.camera.rotation.m)
        rotation.push_back({row[0], row[1], row[2]});
    return {{"shown", state.shown},
            {"dimensions", dims},
            {"mode", kModeNames[static_cast<int>(state.mode)]},
            {"sampling", kSamplingNames[static_cast<int>(state.sampling)]},
            {"clipToCursor", state.clip},
            {"rotation", rotation},
            {"zoom", state.camera.zoom},
            {"pan", {state.camera.panX, state.camera.panY}}};
}

std::string VolumeStateFromJson(const nlohmann::json& j, const std::vector<std::string>& names,
                                VolumeViewState& out)
{
    VolumeViewState s = out;
    try {
        if (!j.is_object())
            return "the 3-D view state is not an object";
        s.shown = j.value("shown", s.shown);
        s.clip = j.value("clipToCursor", s.clip);
        if (j.contains("dimensions")) {
            const nlohmann::json& dims = j.at("dimensions");
            if (!dims.is_array() || dims.size() != 3)
                return "the 3-D view needs three dimensions";
            for (size_t i = 0; i < 3; ++i) {
                const int d = dims[i].is_string() ? FindDimension(dims[i].get<std::string>(), names) : dims[i].get<int>();
                if (d < 0)
                    return "a 3-D view dimension is not a dimension of the image";
                s.dims[i] = d;
            }
        }
        if (j.contains("mode")) {
            const int m = findName(kModeNames, j.at("mode").get<std::string>());
            if (m < 0)
                return "the 3-D view mode must be max, min, average or blend";
            s.mode = static_cast<VolumeMode>(m);
        }
        if (j.contains("sampling")) {
            const int m = findName(kSamplingNames, j.at("sampling").get<std::string>());
            if (m < 0)
                return "the 3-D view sampling must be nearest or bilinear";
            s.sampling = static_cast<VolumeSampling>(m);
        }
        if (j.contains("rotation")) {
            const nlohmann::json& r = j.at("rotation");
            if (!r.is_array() || r.size() != 3)
                return "the 3-D view rotation is three rows of three numbers";
            for (size_t i = 0; i < 3; ++i) {
                if (!r[i].is_array() || r[i].size() != 3)
                    return "the 3-D view rotation is three rows of three numbers";
                for (size_t k = 0; k < 3; ++k)
                    s.camera.rotation.m[i][k] = r[i][k].get<double>();
            }
        }
        s.camera.zoom = j.value("zoom", s.camera.zoom);
        if (j.contains("pan")) {
            const nlohmann::json& p = j.at("pan");
            if (!p.is_array() || p.size() != 2)
                return "the 3-D view pan needs two offsets";
            s.camera.panX = p[0].get<double>();
            s.camera.panY = p[1].get<double>();
        }
    } catch (const nlohmann::json::exception& e) {
        return std::string("3-D view: ") + e.what();
    }
    const std::string why = s.Validate({});
    if (!why.empty())
        return why;
    out = s;
    return std::string();
}

} // namespace ImageViewer
