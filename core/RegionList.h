#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "Region.h"

namespace ImageViewer {

// The regions of a view state, in list order: drawn, imported or read from a state file,
// with the one selected and the ones hidden from the XY view.
struct RegionList
{
    std::vector<Measure::Region> regions;
    std::vector<bool> hidden; // per region; missing entries are shown
    int selected = -1;        // -1: none

    bool Hidden(size_t k) const { return k < hidden.size() && hidden[k]; }
    void SetHidden(size_t k, bool on);
    // Appends `region` and selects it.
    void Add(Measure::Region region);
    // Drops region k (and its switch); the selection follows its region or is cleared.
    void Remove(size_t k);
    // "<kind> <n>" with the lowest n no region of the list is named yet.
    std::string FreshName(Measure::RegionKind kind) const;

    bool operator==(const RegionList& o) const;
    bool operator!=(const RegionList& o) const { return !(*this == o); }
};

// The state file's "regions" list (each region's own form plus "hidden": true where hidden)
// and its "selectedRegion".
void RegionListToJson(const RegionList& list, nlohmann::json& state);
// Reads both keys where present (an old state file without them keeps `list`). Nothing, with
// a reason, for a list that is not one.
std::optional<RegionList> RegionListFromJson(const nlohmann::json& state, const RegionList& list,
                                             std::string* error = nullptr);

// The colour the n-th drawn region gets (ARGB).
std::uint32_t RegionColour(size_t n);

} // namespace ImageViewer
