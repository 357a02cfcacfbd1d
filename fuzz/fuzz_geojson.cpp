// Reads mutated GeoJSON and view-state region lists. No input may crash or give a region
// that fails its own validity check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "GeoJson.h"
#include "RegionMask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto regions = Measure::RegionsFromGeoJson(text))
        for (const Measure::Region& r : *regions) {
            if (!r.IsValid())
                std::abort();
            const Measure::RegionMask mask(r, 32, 32);
            if (mask.PixelCount() > 32 * 32)
                std::abort();
        }
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (const auto regions = Measure::RegionsFromJson(doc))
        for (const Measure::Region& r : *regions)
            if (!r.IsValid())
                std::abort();
    return 0;
}
