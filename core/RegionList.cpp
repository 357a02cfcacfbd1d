#include "RegionList.h"

#include <nlohmann/json.hpp>

namespace ImageViewer {

void RegionList::SetHidden(size_t k, bool on)
{
    if (k >= regions.size())
        return;
    if (hidden.size() < regions.size())
        hidden.resize(regions.size(), false);
    hidden[k] = on;
}

void RegionList::Add(Measure::Region region)
{
    regions.push_back(std::move(region));
    hidden.resize(regions.size(), false);
    selected = static_cast<int>(regions.size()) - 1;
}

void RegionList::Remove(size_t k)
{
    if (k >= regions.size())
        return;
    regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(k));
    if (k < hidden.size())
        hidden.erase(hidden.begin() + static_cast<std::ptrdiff_t>(k));
    if (selected == static_cast<int>(k))
        selected = -1;
    else if (selected > static_cast<int>(k))
        --selected;
}

std::string RegionList::FreshName(Measure::RegionKind kind) const
{
    const std::string base = Measure::RegionKindName(kind);
    for (size_t n = 1;; ++n) {
        const std::string name = base + " " + std::to_string(n);
        bool taken = false;
        for (const Measure::Region& r : regions)
            taken = taken || r.name == name;
        if (!taken)
            return name;
    }
}

bool RegionList::operator==(const RegionList& o) const
{
    if (regions != o.regions || selected != o.selected)
        return false;
    for (size_t k = 0; k < regions.size(); ++k)
        if (Hidden(k) != o.Hidden(k))
            return false;
    return true;
}

void RegionListToJson(const RegionList& list, nlohmann::json& state)
{
    nlohmann::json regions = nlohmann::json::array();
    for (size_t k = 0; k < list.regions.size(); ++k) {
        nlohmann::json r = Measure::RegionToJson(list.regions[k]);
        if (list.Hidden(k))
            r["hidden"] = true;
        regions.push_back(std::move(r));
    }
    state["regions"] = std::move(regions);
    state["selectedRegion"] = list.selected >= 0 ? nlohmann::json(list.selected) : nlohmann::json(nullptr);
}

std::optional<RegionList> RegionListFromJson(const nlohmann::json& state, const RegionList& list, std::string* error)
{
    RegionList out = list;
    const auto regions = state.find("regions");
    if (regions != state.end()) {
        std::optional<std::vector<Measure::Region>> read = Measure::RegionsFromJson(*regions, error);
        if (!read)
            return std::nullopt;
        out.regions = std::move(*read);
        out.hidden.assign(out.regions.size(), false);
        for (size_t k = 0; k < out.regions.size(); ++k) {
            const auto h = (*regions)[k].find("hidden");
            out.hidden[k] = h != (*regions)[k].end() && h->is_boolean() && h->get<bool>();
        }
        out.selected = -1;
    }
    const auto selected = state.find("selectedRegion");
    if (selected != state.end() && selected->is_number_integer()) {
        const long long s = selected->get<long long>();
        out.selected = s >= 0 && s < static_cast<long long>(out.regions.size()) ? static_cast<int>(s) : -1;
    }
    if (out.selected >= static_cast<int>(out.regions.size()))
        out.selected = -1;
    return out;
}

std::uint32_t RegionColour(size_t n)
{
    // Yellow first (ImageJ's selection colour), then colours that stand apart on grey and on
    // the usual channel colours.
    static const std::uint32_t palette[] = {0xffffff00, 0xff00ffff, 0xffff00ff, 0xffff8000,
                                            0xff80ff00, 0xff0080ff, 0xffff0080, 0xffffffff};
    return palette[n % (sizeof(palette) / sizeof(palette[0]))];
}

} // namespace ImageViewer
