#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Region.h"

namespace Measure {

// The image dimensions that stand for ImageJ's channel, slice and frame positions (-1: the
// image has no such dimension). A region pinned in other dimensions keeps only these pins.
struct ImageJAxes
{
    int c = -1;
    int z = -1;
    int t = -1;

    // From dimension names: "c", "ch", "channel" (any case) for c, "z" for z, "t", "time" for t.
    static ImageJAxes FromNames(const std::vector<std::string>& dimNames);
};

// One region as an ImageJ selection file (".roi"). Lines and points are shifted by half a
// pixel: ImageJ puts their integer coordinates on pixel centres, ours on pixel corners.
std::vector<std::uint8_t> EncodeImageJRoi(const Region& region, const ImageJAxes& axes);
// Nothing, with a reason, for data that is not a selection this reader knows (composite
// shapes, damaged records). Never reads outside [data, data + size).
std::optional<Region> DecodeImageJRoi(const std::uint8_t* data, size_t size, const ImageJAxes& axes,
                                      std::string* error = nullptr);

// A ROI set: a zip archive of ".roi" entries, in order. Entry names are the regions' names
// (made unique; "0001" ... for unnamed ones). Written whole or not at all.
bool WriteRoiSet(const std::filesystem::path& path, const std::vector<Region>& regions, const ImageJAxes& axes,
                 std::string* error = nullptr);
std::optional<std::vector<Region>> ReadRoiSet(const std::filesystem::path& path, const ImageJAxes& axes,
                                              std::string* error = nullptr);
// The same from an archive in memory. Entries that are not ".roi" files are passed over; a
// damaged ".roi" entry fails the whole set, so nothing is silently dropped.
std::optional<std::vector<Region>> ReadRoiSet(const std::uint8_t* data, size_t size, const ImageJAxes& axes,
                                              std::string* error = nullptr);

} // namespace Measure
