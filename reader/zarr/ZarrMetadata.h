#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChannelHint.h"
#include "SampleType.h"

namespace ImageReader {

// One Zarr v2 array's .zarray, checked: every field the reader relies on is present, in range
// and supported.
struct ZarrArrayMeta
{
    std::vector<std::uint64_t> shape;  // C order: the last axis varies fastest
    std::vector<std::uint64_t> chunks; // same rank as shape
    SampleType type = SampleType::UInt16;
    bool bigEndian = false;
    double fill = 0.0;                 // NaN and infinities allowed for floats
    std::string compressor = "null";   // compact JSON, for MakeChunkCodec
    char separator = '.';

    size_t ChunkSamples() const;
};

// Chunks larger than this (raw) are refused as absurd.
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t(1) << 30;
constexpr size_t kMaxZarrRank = 16;

bool ParseZarray(const std::string& text, ZarrArrayMeta& meta, std::string& why);

struct ZarrAxis
{
    std::string name;
    std::string type; // "space", "time", "channel", custom or empty
    std::string unit;
};

// An OME multiscale image: its axes (array order) and levels, finest first.
struct ZarrMultiscale
{
    std::vector<ZarrAxis> axes;
    std::vector<std::string> paths;          // per level, relative to the group
    std::vector<std::vector<double>> scales; // per level, one factor per axis (1 when not given)
};

// The first multiscale image of a group's .zattrs. False with an empty `why` when the
// attributes hold none; false with a reason when the entry is malformed.
bool ParseMultiscales(const std::string& zattrs, ZarrMultiscale& ms, std::string& why);

// True when a group's .zattrs marks a collection of images whose first is in "0/" (the layout
// conversion tools write: {"bioformats2raw.layout": 3}).
bool IsImageCollection(const std::string& zattrs);

// Display hints for one channel, from the group's "omero" attributes.
using ZarrChannel = ChannelHint;

// Malformed entries are skipped field by field: hints are never a reason to refuse an image.
std::vector<ZarrChannel> ParseOmeroChannels(const std::string& zattrs);

// Nanometres per unit of an NGFF unit name ("micrometer", "nm", ...); 0 when unknown or not a length.
double NanometresPerUnit(const std::string& unit);

} // namespace ImageReader
