#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "ChannelHint.h"
#include "SampleType.h"

namespace ImageReader {

// One Zarr array's metadata (a v2 .zarray or a v3 zarr.json), checked: every field the reader
// relies on is present, in range and supported.
struct ZarrArrayMeta
{
    std::vector<std::uint64_t> shape;  // C order: the last axis varies fastest
    // The unit the reader decodes: the chunk, or for a sharded array the inner chunk.
    std::vector<std::uint64_t> chunks; // same rank as shape
    SampleType type = SampleType::UInt16;
    bool bigEndian = false;            // of the decoded chunk's bytes
    double fill = 0.0;                 // NaN and infinities allowed for floats
    // v2: the "compressor" entry; v3: the codec chain (the inner chain of a sharded array).
    // Compact JSON, for MakeChunkCodec / MakeCodecChain.
    std::string compressor = "null";
    char separator = '.';
    int format = 2;
    std::string keyPrefix;             // v3 default key encoding: "c" and the separator
    // Sharded arrays (v3): inner chunks per shard along each axis (empty when not sharded),
    // the index's place and its codecs (JSON).
    std::vector<std::uint64_t> shardChunks;
    bool indexAtStart = false;
    std::string indexCodecs = "[]";

    size_t ChunkSamples() const;
    bool Sharded() const { return !shardChunks.empty(); }
    size_t InnerPerShard() const;
    // The stored key of chunk `coords` (array order; shard coordinates for sharded arrays).
    std::string ChunkKey(const std::vector<std::uint64_t>& coords) const;
};

// Chunks larger than this (raw) are refused as absurd.
constexpr std::uint64_t kMaxChunkBytes = std::uint64_t(1) << 30;
constexpr size_t kMaxZarrRank = 16;
// A shard's index takes 16 bytes per inner chunk: this bounds it at 16 MiB.
constexpr std::uint64_t kMaxInnerChunks = std::uint64_t(1) << 20;

bool ParseZarray(const std::string& text, ZarrArrayMeta& meta, std::string& why);

// Metadata deeper than this is refused before it is parsed: the JSON library recurses on it.
constexpr int kMaxJsonDepth = 64;
// Resolution levels read from a multiscale list (more are left out) and channel hints kept.
constexpr size_t kMaxLevels = 64;
constexpr size_t kMaxChannelHints = 4096;
// True when `text` nests lists and objects no deeper than `limit` (strings are skipped).
bool JsonDepthWithin(const std::string& text, int limit = kMaxJsonDepth);
// The string at `key` of a metadata object, or `fallback` when it is absent or not a string:
// metadata comes from the file, and a field of the wrong type must not throw.
std::string JsonStringOr(const nlohmann::json& j, const char* key, const char* fallback = "");

// A v3 zarr.json: a group (its OME attributes as compact JSON in `ome`, "" when none) or an
// array (in `array`).
struct ZarrNode
{
    bool isArray = false;
    std::string ome; // the "ome" attributes object, laid out as a v2 .zattrs is
    ZarrArrayMeta array;
};
bool ParseZarrJson(const std::string& text, ZarrNode& node, std::string& why);

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
