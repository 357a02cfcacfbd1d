#include "ZarrMetadata.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

namespace ImageReader {

using nlohmann::json;

namespace {

bool parseDtype(const std::string& d, SampleType& type, bool& bigEndian)
{
    if (d.size() != 3 || (d[0] != '<' && d[0] != '>' && d[0] != '|'))
        return false;
    bigEndian = d[0] == '>';
    const std::string code = d.substr(1);
    static const struct { const char* code; SampleType type; } table[] = {
        {"u1", SampleType::UInt8},  {"i1", SampleType::Int8},   {"b1", SampleType::UInt8},
        {"u2", SampleType::UInt16}, {"i2", SampleType::Int16},  {"u4", SampleType::UInt32},
        {"i4", SampleType::Int32},  {"u8", SampleType::UInt64}, {"i8", SampleType::Int64},
        {"f4", SampleType::Float32}, {"f8", SampleType::Float64},
    };
    for (const auto& e : table)
        if (code == e.code) {
            type = e.type;
            return true;
        }
    return false;
}

bool extents(const json& j, const char* key, std::vector<std::uint64_t>& out, std::string& why)
{
    out.clear();
    const auto it = j.find(key);
    if (it == j.end() || !it->is_array()) {
        why = std::string("\"") + key + "\" is missing or not a list";
        return false;
    }
    for (const json& v : *it) {
        if (!v.is_number_integer() || v.get<std::int64_t>() < 1 ||
            v.get<std::int64_t>() > std::numeric_limits<int>::max()) {
            why = std::string("\"") + key + "\" holds an unusable extent (" + v.dump() + ")";
            return false;
        }
        out.push_back(v.get<std::uint64_t>());
    }
    return true;
}


// Parses only what is shallow enough for the JSON library to handle safely.
json parseBounded(const std::string& text)
{
    if (!JsonDepthWithin(text))
        return json(json::value_t::discarded);
    return json::parse(text, nullptr, false);
}

bool parseFill(const json& fill, SampleType type, double& out, std::string& why)
{
    out = 0.0;
    if (fill.is_null())
        return true;
    if (fill.is_number())
        out = fill.get<double>();
    else if (fill.is_boolean())
        out = fill.get<bool>() ? 1.0 : 0.0;
    else if (fill == "NaN")
        out = std::numeric_limits<double>::quiet_NaN();
    else if (fill == "Infinity")
        out = std::numeric_limits<double>::infinity();
    else if (fill == "-Infinity")
        out = -std::numeric_limits<double>::infinity();
    else if (fill.is_string() && fill.get<std::string>().rfind("0x", 0) == 0 && IsFloat(type) &&
             fill.get<std::string>().size() == 2 + 2 * SampleBytes(type) &&
             fill.get<std::string>().find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
        // A float's bit pattern, as v3 writes NaNs with a payload.
        const std::uint64_t bits = std::stoull(fill.get<std::string>().substr(2), nullptr, 16);
        if (type == SampleType::Float32) {
            float f;
            const std::uint32_t b = static_cast<std::uint32_t>(bits);
            std::memcpy(&f, &b, 4);
            out = f;
        } else
            std::memcpy(&out, &bits, 8);
    } else {
        why = "the fill value " + fill.dump() + " is not a number";
        return false;
    }
    return true;
}

// The checks every array passes, whichever format described it.
bool checkGeometry(ZarrArrayMeta& meta, std::string& why)
{
    if (meta.shape.size() != meta.chunks.size()) {
        why = "\"chunks\" and \"shape\" have different lengths";
        return false;
    }
    if (meta.shape.size() < 2 || meta.shape.size() > kMaxZarrRank) {
        why = "the array has " + std::to_string(meta.shape.size()) + " dimension(s); 2 to " +
              std::to_string(kMaxZarrRank) + " can be shown";
        return false;
    }
    std::uint64_t chunkBytes = SampleBytes(meta.type);
    for (std::uint64_t c : meta.chunks) {
        chunkBytes *= c;
        if (chunkBytes > kMaxChunkBytes) {
            why = "a chunk would be larger than " + std::to_string(kMaxChunkBytes >> 20) + " MiB";
            return false;
        }
    }
    return true;
}

} // namespace

std::string JsonStringOr(const json& j, const char* key, const char* fallback)
{
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string(fallback);
}

bool JsonDepthWithin(const std::string& text, int limit)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"')
            inString = true;
        else if (c == '[' || c == '{') {
            if (++depth > limit)
                return false;
        } else if (c == ']' || c == '}')
            --depth;
    }
    return true;
}

size_t ZarrArrayMeta::InnerPerShard() const
{
    size_t n = 1;
    for (std::uint64_t c : shardChunks)
        n *= static_cast<size_t>(c);
    return n;
}

std::string ZarrArrayMeta::ChunkKey(const std::vector<std::uint64_t>& coords) const
{
    std::string key = keyPrefix;
    for (size_t i = 0; i < coords.size(); ++i) {
        if (i > 0 || !keyPrefix.empty())
            key += separator;
        key += std::to_string(coords[i]);
    }
    if (key.empty())
        key = "0";
    return key;
}

size_t ZarrArrayMeta::ChunkSamples() const
{
    size_t n = 1;
    for (std::uint64_t c : chunks)
        n *= static_cast<size_t>(c);
    return n;
}

bool ParseZarray(const std::string& text, ZarrArrayMeta& meta, std::string& why)
{
    meta = ZarrArrayMeta();
    const json j = parseBounded(text);
    if (j.is_discarded() || !j.is_object()) {
        why = ".zarray is not valid JSON";
        return false;
    }
    const auto format = j.find("zarr_format");
    if (format == j.end() || !format->is_number_integer() || format->get<int>() != 2) {
        why = "only Zarr format 2 arrays are supported";
        return false;
    }
    if (!extents(j, "shape", meta.shape, why) || !extents(j, "chunks", meta.chunks, why))
        return false;
    const std::string dtype = JsonStringOr(j, "dtype");
    if (!parseDtype(dtype, meta.type, meta.bigEndian)) {
        why = "the sample type \"" + (dtype.empty() ? j.value("dtype", json()).dump() : dtype) + "\" is not supported";
        return false;
    }
    if (!checkGeometry(meta, why))
        return false;
    const std::string order = j.contains("order") ? JsonStringOr(j, "order") : "C";
    if (order != "C") {
        why = "only C-ordered arrays are supported (this one is \"" + order + "\")";
        return false;
    }
    const auto filters = j.find("filters");
    if (filters != j.end() && !filters->is_null() && !(filters->is_array() && filters->empty())) {
        why = "arrays with filters are not supported";
        return false;
    }
    const auto comp = j.find("compressor");
    meta.compressor = comp == j.end() ? "null" : comp->dump();
    const auto sep = j.find("dimension_separator");
    if (sep != j.end()) {
        const std::string s = sep->is_string() ? sep->get<std::string>() : std::string();
        if (s != "." && s != "/") {
            why = "the dimension separator must be \".\" or \"/\"";
            return false;
        }
        meta.separator = s[0];
    }
    const auto fill = j.find("fill_value");
    return fill == j.end() || parseFill(*fill, meta.type, meta.fill, why);
}

namespace {

bool parseDataType(const std::string& name, SampleType& type)
{
    static const struct { const char* name; SampleType type; } table[] = {
        {"bool", SampleType::UInt8},     {"uint8", SampleType::UInt8},     {"int8", SampleType::Int8},
        {"uint16", SampleType::UInt16},  {"int16", SampleType::Int16},     {"uint32", SampleType::UInt32},
        {"int32", SampleType::Int32},    {"uint64", SampleType::UInt64},   {"int64", SampleType::Int64},
        {"float32", SampleType::Float32}, {"float64", SampleType::Float64},
    };
    for (const auto& e : table)
        if (name == e.name) {
            type = e.type;
            return true;
        }
    return false;
}

// A v3 codec entry: {"name": ..., "configuration": {...}}; plain strings name codecs without one.
std::string codecName(const json& c)
{
    if (c.is_string())
        return c.get<std::string>();
    return c.is_object() ? JsonStringOr(c, "name") : std::string();
}

const json& codecConfig(const json& c)
{
    static const json empty = json::object();
    if (!c.is_object())
        return empty;
    const auto it = c.find("configuration");
    return it != c.end() && it->is_object() ? *it : empty;
}

} // namespace

bool ParseZarrJson(const std::string& text, ZarrNode& node, std::string& why)
{
    node = ZarrNode();
    const json j = parseBounded(text);
    if (j.is_discarded() || !j.is_object()) {
        why = "zarr.json is not valid JSON";
        return false;
    }
    const auto format = j.find("zarr_format");
    if (format == j.end() || !format->is_number_integer() || format->get<int>() != 3) {
        why = "zarr.json is not Zarr format 3";
        return false;
    }
    const std::string type = JsonStringOr(j, "node_type");
    const auto attrs = j.find("attributes");
    if (type == "group") {
        if (attrs != j.end() && attrs->is_object()) {
            const auto ome = attrs->find("ome");
            if (ome != attrs->end() && ome->is_object())
                node.ome = ome->dump();
            else if (attrs->contains("multiscales"))
                node.ome = attrs->dump(); // written by tools that kept the 0.4 layout
        }
        return true;
    }
    if (type != "array") {
        why = "zarr.json is neither a group nor an array";
        return false;
    }
    node.isArray = true;
    ZarrArrayMeta& meta = node.array;
    meta.format = 3;
    if (!extents(j, "shape", meta.shape, why))
        return false;
    const std::string dataType = JsonStringOr(j, "data_type");
    if (!parseDataType(dataType, meta.type)) {
        why = "the sample type \"" + (dataType.empty() ? j.value("data_type", json()).dump() : dataType) + "\" is not supported";
        return false;
    }
    const auto grid = j.find("chunk_grid");
    if (grid == j.end() || !grid->is_object() || JsonStringOr(*grid, "name") != "regular" ||
        !extents(codecConfig(*grid), "chunk_shape", meta.chunks, why)) {
        why = "only regular chunk grids are supported" + (why.empty() ? std::string() : " (" + why + ")");
        return false;
    }
    const auto encoding = j.find("chunk_key_encoding");
    std::string encodingName = "default";
    std::string separator;
    if (encoding != j.end()) {
        encodingName = encoding->is_object() ? JsonStringOr(*encoding, "name") : std::string();
        separator = JsonStringOr(codecConfig(*encoding), "separator");
    }
    if (encodingName == "default") {
        meta.keyPrefix = "c";
        separator = separator.empty() ? "/" : separator;
    } else if (encodingName == "v2") {
        separator = separator.empty() ? "." : separator;
    } else {
        why = "the chunk key encoding \"" + encodingName + "\" is not supported";
        return false;
    }
    if (separator != "." && separator != "/") {
        why = "the chunk key separator must be \".\" or \"/\"";
        return false;
    }
    meta.separator = separator[0];
    const auto transformers = j.find("storage_transformers");
    if (transformers != j.end() && !(transformers->is_array() && transformers->empty())) {
        why = "arrays with storage transformers are not supported";
        return false;
    }
    const auto codecs = j.find("codecs");
    if (codecs == j.end() || !codecs->is_array() || codecs->empty()) {
        why = "the array lists no codecs";
        return false;
    }
    // A sharded array: the reader's unit is the inner chunk, decoded by the inner chain.
    const json* chain = &*codecs;
    for (const json& c : *codecs)
        if (codecName(c) == "sharding_indexed") {
            if (codecs->size() != 1) {
                why = "sharding combined with other outer codecs is not supported";
                return false;
            }
            const json& config = codecConfig(c);
            std::vector<std::uint64_t> inner;
            if (!extents(config, "chunk_shape", inner, why))
                return false;
            if (inner.size() != meta.chunks.size()) {
                why = "the shards' inner chunks do not have the array's rank";
                return false;
            }
            std::uint64_t count = 1;
            for (size_t a = 0; a < inner.size(); ++a) {
                if (meta.chunks[a] % inner[a] != 0) {
                    why = "a shard is not a whole number of inner chunks";
                    return false;
                }
                meta.shardChunks.push_back(meta.chunks[a] / inner[a]);
                count *= meta.shardChunks.back();
                if (count > kMaxInnerChunks) {
                    why = "a shard holds more than " + std::to_string(kMaxInnerChunks) + " inner chunks";
                    return false;
                }
            }
            meta.chunks = inner;
            const std::string location = JsonStringOr(config, "index_location");
            if (!location.empty() && location != "end" && location != "start") {
                why = "the shard index location \"" + location + "\" is not known";
                return false;
            }
            meta.indexAtStart = location == "start";
            const auto indexCodecs = config.find("index_codecs");
            meta.indexCodecs = indexCodecs != config.end() ? indexCodecs->dump() : std::string("[]");
            const auto innerCodecs = config.find("codecs");
            if (innerCodecs == config.end() || !innerCodecs->is_array() || innerCodecs->empty()) {
                why = "the shards list no codecs for their inner chunks";
                return false;
            }
            chain = &*innerCodecs;
        }
    meta.compressor = chain->dump();
    if (!checkGeometry(meta, why))
        return false;
    const auto fill = j.find("fill_value");
    if (fill == j.end()) {
        why = "the array has no fill value";
        return false;
    }
    return parseFill(*fill, meta.type, meta.fill, why);
}

bool ParseMultiscales(const std::string& zattrs, ZarrMultiscale& ms, std::string& why)
{
    ms = ZarrMultiscale();
    why.clear();
    const json j = parseBounded(zattrs);
    if (j.is_discarded() || !j.is_object()) {
        why = ".zattrs is not valid JSON";
        return false;
    }
    const auto list = j.find("multiscales");
    if (list == j.end())
        return false;
    if (!list->is_array() || list->empty() || !(*list)[0].is_object()) {
        why = "\"multiscales\" is not a list of images";
        return false;
    }
    const json& m = (*list)[0];
    const auto axes = m.find("axes");
    const auto datasets = m.find("datasets");
    if (datasets == m.end() || !datasets->is_array() || datasets->empty()) {
        why = "the multiscale image lists no datasets";
        return false;
    }
    if (axes != m.end()) {
        if (!axes->is_array()) {
            why = "the multiscale \"axes\" is not a list";
            return false;
        }
        for (const json& a : *axes) {
            ZarrAxis axis;
            if (a.is_string())
                axis.name = a.get<std::string>(); // version 0.3 names
            else if (a.is_object()) {
                axis.name = JsonStringOr(a, "name");
                axis.type = JsonStringOr(a, "type");
                axis.unit = JsonStringOr(a, "unit");
            }
            if (axis.name.empty()) {
                why = "a multiscale axis has no name";
                return false;
            }
            ms.axes.push_back(axis);
        }
    }
    // Scale factors of a list of transformations: the product of the "scale" entries.
    auto applyScales = [&](const json& owner, std::vector<double>& scale) {
        const auto ts = owner.find("coordinateTransformations");
        if (ts == owner.end() || !ts->is_array())
            return true;
        for (const json& t : *ts) {
            if (!t.is_object() || JsonStringOr(t, "type") != "scale")
                continue;
            const auto s = t.find("scale");
            if (s == t.end() || !s->is_array() || s->size() != scale.size()) {
                why = "a scale transformation does not have one factor per axis";
                return false;
            }
            for (size_t i = 0; i < scale.size(); ++i) {
                const json& f = (*s)[i];
                if (!f.is_number() || !std::isfinite(f.get<double>()) || f.get<double>() <= 0) {
                    why = "a scale factor is not a positive number";
                    return false;
                }
                scale[i] *= f.get<double>();
            }
        }
        return true;
    };
    const size_t rank = ms.axes.size();
    for (const json& d : *datasets) {
        // Levels beyond these would be far below a pixel: left out, not read.
        if (ms.paths.size() >= kMaxLevels)
            break;
        const std::string path = d.is_object() ? JsonStringOr(d, "path") : std::string();
        // A path is a key prefix: it must stay inside the hierarchy.
        if (path.empty() || path[0] == '/' || path.find("..") != std::string::npos || path.find('\\') != std::string::npos) {
            why = "a multiscale dataset has no usable path";
            return false;
        }
        std::vector<double> scale(rank, 1.0);
        if (rank > 0 && (!applyScales(d, scale) || !applyScales(m, scale)))
            return false;
        ms.paths.push_back(path);
        ms.scales.push_back(scale);
    }
    return true;
}

bool IsImageCollection(const std::string& zattrs)
{
    const json j = parseBounded(zattrs);
    return !j.is_discarded() && j.is_object() && j.contains("bioformats2raw.layout");
}

std::vector<ZarrChannel> ParseOmeroChannels(const std::string& zattrs)
{
    std::vector<ZarrChannel> out;
    const json j = parseBounded(zattrs);
    if (j.is_discarded() || !j.is_object())
        return out;
    const auto omero = j.find("omero");
    if (omero == j.end() || !omero->is_object())
        return out;
    const auto channels = omero->find("channels");
    if (channels == omero->end() || !channels->is_array())
        return out;
    for (const json& c : *channels) {
        if (out.size() >= kMaxChannelHints)
            break;
        ZarrChannel ch;
        if (c.is_object()) {
            ch.name = JsonStringOr(c, "label");
            const std::string colour = JsonStringOr(c, "color");
            if (colour.size() == 6 && colour.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                const unsigned long rgb = std::stoul(colour, nullptr, 16);
                ch.hasColor = true;
                ch.red = static_cast<std::uint8_t>(rgb >> 16);
                ch.green = static_cast<std::uint8_t>(rgb >> 8);
                ch.blue = static_cast<std::uint8_t>(rgb);
            }
            const auto active = c.find("active");
            if (active != c.end() && active->is_boolean())
                ch.active = active->get<bool>();
            const auto w = c.find("window");
            if (w != c.end() && w->is_object()) {
                const auto s = w->find("start");
                const auto e = w->find("end");
                if (s != w->end() && e != w->end() && s->is_number() && e->is_number()) {
                    ch.hasWindow = true;
                    ch.windowStart = s->get<double>();
                    ch.windowEnd = e->get<double>();
                }
            }
        }
        out.push_back(ch);
    }
    return out;
}

double NanometresPerUnit(const std::string& unit)
{
    static const struct { const char* unit; double nm; } table[] = {
        {"kilometer", 1e12}, {"meter", 1e9}, {"centimeter", 1e7}, {"millimeter", 1e6}, {"micrometer", 1e3},
        {"nanometer", 1.0},  {"picometer", 1e-3}, {"angstrom", 0.1}, {"m", 1e9}, {"mm", 1e6}, {"um", 1e3},
        {"\xc2\xb5m", 1e3},  {"nm", 1.0}, {"micron", 1e3},
    };
    for (const auto& e : table)
        if (unit == e.unit)
            return e.nm;
    return 0.0;
}

} // namespace ImageReader
