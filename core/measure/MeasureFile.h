#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ImageReaderBase.h"
#include "Measurements.h"
#include "Region.h"

namespace Measure {

struct MeasureRequest
{
    // Names of the dimensions measured at every index ("z", "t"), any case.
    std::vector<std::string> through;
    // Index of each dimension >= 2 where a region says "all" otherwise (missing: 0).
    std::vector<int> cursor;
    bool profiles = false;
    // See MeasureOptions::memoryBudget.
    size_t memoryBudget = size_t(256) << 20;
};

// What MeasureImage needs to know of an opened image: its value map, names, pixel sizes and
// channel dimension (the file's own channel axis, else the last dimension >= 2 whose name
// starts with c, w or lambda, as the window chooses).
ImageDescription DescribeImage(ImageReader::ImageReaderBase<unsigned short>& reader);

// Measures `regions` on an opened image. Runs on the calling thread; the reader must allow
// reads from it (ImageBase's rules); stops early between planes on ImageReader::StopRequested().
// Unknown names in `through` are ignored.
MeasureTable MeasureFile(ImageReader::ImageReaderBase<unsigned short>& reader, const std::vector<Region>& regions,
                         const MeasureRequest& request);

// The command line's whole job: opens the image (OpenImage) and the region file (by
// extension, ImageJ positions placed by the image's dimension names), measures, and writes
// the table as CSV to `csv`. Nothing, with a reason, when any step fails.
std::optional<MeasureTable> MeasureFile(const std::string& image, const std::filesystem::path& regions,
                                        const std::filesystem::path& csv, const MeasureRequest& request,
                                        std::string* error = nullptr);

} // namespace Measure
