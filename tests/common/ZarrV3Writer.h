#pragma once

// Writes Zarr v3 arrays and groups for the tests and benchmarks: JSON by hand, chunks encoded
// with the compression libraries themselves, shards laid out with their binary index. Nothing
// here uses the reader's own codecs, so the reader is checked against an independent writer.

#include <blosc.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace zarrv3 {

namespace fs = std::filesystem;
using Coords = std::vector<std::uint64_t>; // array order

struct ArrayLayout
{
    std::vector<std::uint64_t> shape;
    std::vector<std::uint64_t> chunk;  // the grid's chunk: the shard when `inner` is given
    std::vector<std::uint64_t> inner;  // inner chunk shape of a sharded array; empty: not sharded
    std::string dataType = "uint16";   // uint8, int16, uint16, float32
    bool bigEndian = false;
    std::vector<int> transpose;        // the transpose codec's order; empty: none
    std::string compressor;            // "", "gzip", "zstd" or "blosc"
    bool checksum = false;             // crc32c after the compressor
    bool indexAtStart = false;
    bool v2Keys = false;               // "v2" key encoding with '.'; else default with '/'
    std::string fillJson = "0";
    double fill = 0;                   // the same, as a number (for edge padding)
    std::function<double(const Coords&)> value;
    // Chunks (inner chunks of a sharded array) left out of the store or the shard's index.
    std::function<bool(const Coords&)> absent;
};

// CRC-32C bit by bit: slow, and plainly the Castagnoli polynomial (reflected 0x82F63B78).
inline std::uint32_t Crc32c(const std::uint8_t* p, size_t n)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void AppendLE(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline size_t ItemBytes(const std::string& type)
{
    return type == "uint8" ? 1 : (type == "float32" ? 4 : 2);
}

inline void PutSample(const std::string& type, double v, bool bigEndian, std::uint8_t* out)
{
    std::uint8_t b[4] = {};
    const size_t n = ItemBytes(type);
    if (type == "uint8") {
        b[0] = static_cast<std::uint8_t>(v);
    } else if (type == "int16") {
        const std::int16_t s = static_cast<std::int16_t>(v);
        std::memcpy(b, &s, 2);
    } else if (type == "uint16") {
        const std::uint16_t s = static_cast<std::uint16_t>(v);
        std::memcpy(b, &s, 2);
    } else {
        const float f = static_cast<float>(v);
        std::memcpy(b, &f, 4);
    }
    for (size_t i = 0; i < n; ++i)
        out[i] = b[bigEndian ? n - 1 - i : i];
}

inline std::string JoinList(const std::vector<std::uint64_t>& v)
{
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i)
        s += (i ? "," : "") + std::to_string(v[i]);
    return s + "]";
}

inline std::string CodecsJson(const ArrayLayout& a)
{
    std::string s = "[";
    if (!a.transpose.empty()) {
        s += R"({"name":"transpose","configuration":{"order":[)";
        for (size_t i = 0; i < a.transpose.size(); ++i)
            s += (i ? "," : "") + std::to_string(a.transpose[i]);
        s += "]}},";
    }
    s += std::string(R"({"name":"bytes","configuration":{"endian":")") + (a.bigEndian ? "big" : "little") + "\"}}";
    if (a.compressor == "gzip")
        s += R"(,{"name":"gzip","configuration":{"level":5}})";
    else if (a.compressor == "zstd")
        s += R"(,{"name":"zstd","configuration":{"level":0,"checksum":false}})";
    else if (a.compressor == "blosc")
        s += R"(,{"name":"blosc","configuration":{"cname":"lz4","clevel":5,"shuffle":"shuffle","typesize":)" +
             std::to_string(ItemBytes(a.dataType)) + R"(,"blocksize":0}})";
    if (a.checksum)
        s += R"(,{"name":"crc32c"})";
    return s + "]";
}

// The stored bytes of the chunk of `shape` whose first sample is at `origin`.
inline std::vector<std::uint8_t> EncodeChunk(const ArrayLayout& a, const Coords& origin, const std::vector<std::uint64_t>& shape)
{
    const size_t n = shape.size(), item = ItemBytes(a.dataType);
    size_t total = 1;
    for (std::uint64_t e : shape)
        total *= e;
    // Stored axis i is the chunk's axis transpose[i].
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = a.transpose.empty() ? static_cast<int>(i) : a.transpose[i];
    std::vector<std::uint8_t> raw(total * item);
    Coords t(n, 0), at(n);
    for (size_t k = 0; k < total; ++k) {
        bool inside = true;
        for (size_t i = 0; i < n; ++i) {
            const size_t axis = static_cast<size_t>(order[i]);
            at[axis] = origin[axis] + t[i];
            inside = inside && at[axis] < a.shape[axis];
        }
        PutSample(a.dataType, inside ? a.value(at) : a.fill, a.bigEndian, raw.data() + k * item);
        for (size_t i = n; i-- > 0;) {
            if (++t[i] < shape[static_cast<size_t>(order[i])])
                break;
            t[i] = 0;
        }
    }
    std::vector<std::uint8_t> out;
    if (a.compressor == "gzip") {
        z_stream s{};
        deflateInit2(&s, 5, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        out.resize(deflateBound(&s, raw.size()) + 64);
        s.next_in = raw.data();
        s.avail_in = static_cast<uInt>(raw.size());
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        deflate(&s, Z_FINISH);
        out.resize(out.size() - s.avail_out);
        deflateEnd(&s);
    } else if (a.compressor == "zstd") {
        out.resize(ZSTD_compressBound(raw.size()));
        out.resize(ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 3));
    } else if (a.compressor == "blosc") {
        out.resize(raw.size() + BLOSC_MAX_OVERHEAD);
        const int got = blosc_compress_ctx(5, BLOSC_SHUFFLE, item, raw.size(), raw.data(), out.data(), out.size(), "lz4", 0, 1);
        out.resize(static_cast<size_t>(got > 0 ? got : 0));
    } else {
        out = raw;
    }
    if (a.checksum)
        AppendLE(out, Crc32c(out.data(), out.size()), 4);
    return out;
}

inline std::string Key(const ArrayLayout& a, const Coords& c)
{
    std::string key = a.v2Keys ? "" : "c";
    for (size_t i = 0; i < c.size(); ++i)
        key += (i || !a.v2Keys ? (a.v2Keys ? "." : "/") : "") + std::to_string(c[i]);
    return key;
}

inline void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Calls f(c) for every c with 0 <= c[i] < extent[i], last axis fastest.
template <class F>
void ForEach(const std::vector<std::uint64_t>& extent, F f)
{
    Coords c(extent.size(), 0);
    for (;;) {
        f(c);
        size_t i = extent.size();
        while (i-- > 0) {
            if (++c[i] < extent[i])
                break;
            c[i] = 0;
        }
        if (i == static_cast<size_t>(-1))
            return;
    }
}

inline void WriteArray(const fs::path& dir, const ArrayLayout& a, const std::string& attributes = "{}")
{
    fs::create_directories(dir);
    const size_t n = a.shape.size();
    std::string codecs = CodecsJson(a);
    if (!a.inner.empty())
        codecs = R"([{"name":"sharding_indexed","configuration":{"chunk_shape":)" + JoinList(a.inner) + R"(,"codecs":)" + codecs +
                 R"(,"index_codecs":[{"name":"bytes","configuration":{"endian":"little"}},{"name":"crc32c"}],"index_location":")" +
                 (a.indexAtStart ? "start" : "end") + "\"}}]";
    std::ofstream(dir / "zarr.json") << R"({"zarr_format":3,"node_type":"array","shape":)" << JoinList(a.shape) << R"(,"data_type":")"
                                     << a.dataType << R"(","chunk_grid":{"name":"regular","configuration":{"chunk_shape":)"
                                     << JoinList(a.chunk) << R"(}},"chunk_key_encoding":{"name":")" << (a.v2Keys ? "v2" : "default")
                                     << R"(","configuration":{"separator":")" << (a.v2Keys ? "." : "/") << R"("}},"fill_value":)"
                                     << a.fillJson << R"(,"codecs":)" << codecs << R"(,"attributes":)" << attributes
                                     << R"(,"storage_transformers":[]})";
    std::vector<std::uint64_t> grid(n);
    for (size_t i = 0; i < n; ++i)
        grid[i] = (a.shape[i] + a.chunk[i] - 1) / a.chunk[i];
    ForEach(grid, [&](const Coords& c) {
        Coords origin(n);
        for (size_t i = 0; i < n; ++i)
            origin[i] = c[i] * a.chunk[i];
        if (a.inner.empty()) {
            if (!(a.absent && a.absent(c)))
                WriteFile(dir / Key(a, c), EncodeChunk(a, origin, a.chunk));
            return;
        }
        std::vector<std::uint64_t> per(n);
        size_t count = 1;
        for (size_t i = 0; i < n; ++i) {
            per[i] = a.chunk[i] / a.inner[i];
            count *= per[i];
        }
        const size_t indexBytes = count * 16 + 4;
        std::vector<std::uint8_t> data, index;
        ForEach(per, [&](const Coords& local) {
            Coords innerAt(n), innerOrigin(n);
            bool outside = false;
            for (size_t i = 0; i < n; ++i) {
                innerAt[i] = c[i] * per[i] + local[i];
                innerOrigin[i] = innerAt[i] * a.inner[i];
                outside = outside || innerOrigin[i] >= a.shape[i];
            }
            if (outside || (a.absent && a.absent(innerAt))) {
                AppendLE(index, ~std::uint64_t(0), 8);
                AppendLE(index, ~std::uint64_t(0), 8);
                return;
            }
            const std::vector<std::uint8_t> bytes = EncodeChunk(a, innerOrigin, a.inner);
            AppendLE(index, data.size() + (a.indexAtStart ? indexBytes : 0), 8);
            AppendLE(index, bytes.size(), 8);
            data.insert(data.end(), bytes.begin(), bytes.end());
        });
        AppendLE(index, Crc32c(index.data(), index.size()), 4);
        std::vector<std::uint8_t> shard = a.indexAtStart ? index : data;
        const std::vector<std::uint8_t>& rest = a.indexAtStart ? data : index;
        shard.insert(shard.end(), rest.begin(), rest.end());
        WriteFile(dir / Key(a, c), shard);
    });
}

inline void WriteGroup(const fs::path& dir, const std::string& omeJson)
{
    fs::create_directories(dir);
    std::ofstream(dir / "zarr.json") << R"({"zarr_format":3,"node_type":"group","attributes":{"ome":)" << omeJson << "}}";
}

} // namespace zarrv3
