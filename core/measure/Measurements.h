#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ImageBase.h"
#include "Region.h"
#include "RegionStatistics.h"
#include "SampleType.h"

namespace Measure {

// What the image is, beyond its planes: enough to put real values and units on the numbers.
struct ImageDescription
{
    ImageReader::ValueMap valueMap;
    std::vector<std::string> dimNames;   // per dimension ("x", "y", "z", "ch", ...)
    std::vector<double> pixelSizes;      // nm per dimension, 0 = unknown
    int channelDim = -1;                 // measured per index; -1: none
};

struct MeasureOptions
{
    // The index of every dimension >= 2 (cursor[k] for dimension k + 2; missing: 0) where a
    // region says "all" and the dimension is neither the channel dimension nor measured through.
    std::vector<int> cursor;
    // Dimensions (>= 2) measured at every index where a region says "all": "measure through z/t".
    std::vector<int> through;
    // Keep each line's profile in its rows.
    bool profiles = false;
    // Memory the measurement may hold in planes borrowed from a file mapping: after reading
    // a quarter of it, the image gives the mapped pages back (ImageBase::ReleaseMappedPages).
    size_t memoryBudget = size_t(256) << 20;
};

// One region on one plane of one channel.
struct MeasureRow
{
    size_t region = 0;         // index into the regions measured
    std::string label;         // the region's name, or "<kind> <n>" when it has none
    std::vector<int> position; // index of every dimension >= 2 (position[k]: dimension k + 2)
    bool missing = false;      // the plane could not be read: geometry only
    Statistics stats;
    Profile profile; // lines, with MeasureOptions::profiles
};

struct MeasureTable
{
    std::vector<MeasureRow> rows; // by region, then position, channel fastest
    std::string unit;             // of lengths; areas in unit squared
    std::vector<std::string> dimNames;
    int channelDim = -1;
    size_t missingPlanes = 0; // distinct planes that could not be read
    size_t skippedRegions = 0; // invalid, or pinned to a position the image does not have
    bool cancelled = false;    // stopped through ImageReader::StopRequested(): rows so far
};

// Measures every region on the planes it belongs to, reading each plane once (regions that
// share a plane share its read) and holding one plane at a time, so a series of any length
// measures within the memory of one plane plus what `image` itself keeps (and the
// budget's quarter of mapped pages). Planes are read
// with `image`'s GetSlice, on the calling thread; polls ImageReader::StopRequested() between
// planes. Regions are measured on dimensions 0 and 1 of the image.
MeasureTable MeasureImage(ImageReader::ImageBase<unsigned short>& image, const ImageDescription& description,
                          const std::vector<Region>& regions, const MeasureOptions& options);

// The table's column headers and cells: " " (row number), "Label", "Ch" (1-based, with a
// channel dimension), a 1-based column per other dimension ("Slice" for z, "Frame" for t, else
// its name), then ImageJ's Area, Mean, StdDev, Min, Max, X, Y, BX, BY, Width, Height, IntDen,
// RawIntDen, Length, Angle; "Note" says "missing plane" where one was. Empty cells where a
// quantity does not apply.
std::vector<std::string> TableHeader(const MeasureTable& table);
std::vector<std::vector<std::string>> TableCells(const MeasureTable& table);

// Comma-separated (RFC 4180 quoting) with a header line, as ImageJ saves its Results.
std::string TableToCsv(const MeasureTable& table);
// Tab-separated with a header line, for the clipboard.
std::string TableToTsv(const MeasureTable& table);
// Line profiles, one line per sample: Label, Ch and position columns, Distance, Value.
std::string ProfilesToCsv(const MeasureTable& table);

// A number as the tables write it: integers without a fraction, others with up to 9
// significant digits; NaN empty.
std::string FormatNumber(double value);

} // namespace Measure
