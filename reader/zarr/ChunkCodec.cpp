#include "ChunkCodec.h"

#include <blosc.h>
#include <zlib.h>
#include <zstd.h>

#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>

#include <nlohmann/json.hpp>

#include "ZarrMetadata.h"

namespace ImageReader {

bool ChunkCodec::DecodePart(const std::uint8_t* in, size_t inBytes, size_t chunkBytes, size_t offset, size_t length, void* out,
                            std::string& why) const
{
    if (offset > chunkBytes || length > chunkBytes - offset) {
        why = "a part outside the chunk was asked for";
        return false;
    }
    if (offset == 0 && length == chunkBytes)
        return Decode(in, inBytes, out, chunkBytes, why);
    std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[chunkBytes]);
    if (!whole) {
        why = "out of memory";
        return false;
    }
    if (!Decode(in, inBytes, whole.get(), chunkBytes, why))
        return false;
    std::memcpy(out, whole.get() + offset, length);
    return true;
}

namespace {

class RawCodec : public ChunkCodec
{
public:
    bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const override
    {
        if (inBytes != outBytes) {
            why = "an uncompressed chunk holds " + std::to_string(inBytes) + " bytes instead of " + std::to_string(outBytes);
            return false;
        }
        std::memcpy(out, in, outBytes);
        return true;
    }
    bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const override
    {
        const auto* p = static_cast<const std::uint8_t*>(in);
        out.assign(p, p + inBytes);
        return true;
    }
    std::string Name() const override { return "uncompressed"; }
};

class BloscCodec : public ChunkCodec
{
public:
    BloscCodec(std::string cname, int clevel, int shuffle, size_t itemBytes)
        : m_cname(std::move(cname)), m_clevel(clevel), m_shuffle(shuffle), m_itemBytes(itemBytes)
    {
        // blosc_init is not thread-safe; the _ctx calls below need no global state after it.
        static std::once_flag once;
        std::call_once(once, [] { blosc_init(); });
    }
    bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const override
    {
        size_t raw = 0;
        if (inBytes < BLOSC_MIN_HEADER_LENGTH || blosc_cbuffer_validate(in, inBytes, &raw) != 0) {
            why = "a blosc chunk has a damaged header";
            return false;
        }
        if (raw != outBytes) {
            why = "a blosc chunk holds " + std::to_string(raw) + " bytes instead of " + std::to_string(outBytes);
            return false;
        }
        if (blosc_decompress_ctx(in, out, outBytes, 1) != static_cast<int>(outBytes)) {
            why = "a blosc chunk's data is damaged";
            return false;
        }
        return true;
    }
    // Only the blocks that hold the part are decompressed: a plane of a deep chunk costs one
    // plane's work.
    bool DecodePart(const std::uint8_t* in, size_t inBytes, size_t chunkBytes, size_t offset, size_t length, void* out,
                    std::string& why) const override
    {
        size_t raw = 0, typesize = 0;
        int flags = 0;
        if (inBytes < BLOSC_MIN_HEADER_LENGTH || blosc_cbuffer_validate(in, inBytes, &raw) != 0 || raw != chunkBytes)
            return ChunkCodec::DecodePart(in, inBytes, chunkBytes, offset, length, out, why);
        blosc_cbuffer_metainfo(in, &typesize, &flags);
        if (typesize == 0 || offset % typesize != 0 || length % typesize != 0 || offset > chunkBytes ||
            length > chunkBytes - offset || chunkBytes / typesize > static_cast<size_t>(INT_MAX))
            return ChunkCodec::DecodePart(in, inBytes, chunkBytes, offset, length, out, why);
        const int items = static_cast<int>(length / typesize);
        if (blosc_getitem(in, static_cast<int>(offset / typesize), items, out) != static_cast<int>(length)) {
            why = "a blosc chunk's data is damaged";
            return false;
        }
        return true;
    }
    bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const override
    {
        if (inBytes > static_cast<size_t>(BLOSC_MAX_BUFFERSIZE))
            return false;
        out.resize(inBytes + BLOSC_MAX_OVERHEAD);
        const int n = blosc_compress_ctx(m_clevel, m_shuffle, m_itemBytes, inBytes, in, out.data(), out.size(),
                                         m_cname.c_str(), 0, 1);
        if (n <= 0)
            return false;
        out.resize(static_cast<size_t>(n));
        return true;
    }
    std::string Name() const override { return "blosc/" + m_cname; }

private:
    std::string m_cname;
    int m_clevel;
    int m_shuffle;
    size_t m_itemBytes;
};

// zlib streams and gzip members: the same inflater, with and without the gzip wrapper.
class DeflateCodec : public ChunkCodec
{
public:
    DeflateCodec(bool gzip, int level) : m_gzip(gzip), m_level(level) {}
    bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const override
    {
        if (inBytes > UINT_MAX || outBytes > UINT_MAX) {
            why = "a chunk is too large to inflate";
            return false;
        }
        z_stream s{};
        if (inflateInit2(&s, m_gzip ? 15 + 16 : 15) != Z_OK) {
            why = "out of memory";
            return false;
        }
        s.next_in = const_cast<Bytef*>(in);
        s.avail_in = static_cast<uInt>(inBytes);
        s.next_out = static_cast<Bytef*>(out);
        s.avail_out = static_cast<uInt>(outBytes);
        const int rc = inflate(&s, Z_FINISH);
        const size_t got = outBytes - s.avail_out;
        inflateEnd(&s);
        if (rc != Z_STREAM_END || got != outBytes) {
            why = std::string("a ") + (m_gzip ? "gzip" : "zlib") + " chunk is damaged or of the wrong size";
            return false;
        }
        return true;
    }
    bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const override
    {
        z_stream s{};
        if (deflateInit2(&s, m_level, Z_DEFLATED, m_gzip ? 15 + 16 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        out.resize(deflateBound(&s, static_cast<uLong>(inBytes)) + 32);
        s.next_in = static_cast<Bytef*>(const_cast<void*>(in));
        s.avail_in = static_cast<uInt>(inBytes);
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&s, Z_FINISH);
        out.resize(out.size() - s.avail_out);
        deflateEnd(&s);
        return rc == Z_STREAM_END;
    }
    std::string Name() const override { return m_gzip ? "gzip" : "zlib"; }

private:
    bool m_gzip;
    int m_level;
};

class ZstdCodec : public ChunkCodec
{
public:
    explicit ZstdCodec(int level) : m_level(level) {}
    bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const override
    {
        const unsigned long long declared = ZSTD_getFrameContentSize(in, inBytes);
        if (declared == ZSTD_CONTENTSIZE_ERROR) {
            why = "a zstd chunk has a damaged header";
            return false;
        }
        if (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared != outBytes) {
            why = "a zstd chunk holds " + std::to_string(declared) + " bytes instead of " + std::to_string(outBytes);
            return false;
        }
        const size_t n = ZSTD_decompress(out, outBytes, in, inBytes);
        if (ZSTD_isError(n) || n != outBytes) {
            why = "a zstd chunk is damaged or of the wrong size";
            return false;
        }
        return true;
    }
    bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const override
    {
        out.resize(ZSTD_compressBound(inBytes));
        const size_t n = ZSTD_compress(out.data(), out.size(), in, inBytes, m_level);
        if (ZSTD_isError(n))
            return false;
        out.resize(n);
        return true;
    }
    std::string Name() const override { return "zstd"; }

private:
    int m_level;
};

int intOr(const nlohmann::json& j, const char* key, int fallback)
{
    const auto it = j.find(key);
    return it != j.end() && it->is_number_integer() ? it->get<int>() : fallback;
}

// A v3 chain. Only the parts that change the bytes are kept: the "bytes" codec's byte order is
// applied by the reader, as for v2 arrays.
class ChainCodec : public ChunkCodec
{
public:
    ChainCodec(std::unique_ptr<ChunkCodec> compressor, int crcInside, int crcOutside, std::vector<size_t> order,
               std::vector<std::uint64_t> shape, size_t itemBytes)
        : m_compressor(std::move(compressor)), m_crcInside(crcInside), m_crcOutside(crcOutside), m_order(std::move(order)),
          m_shape(std::move(shape)), m_itemBytes(itemBytes)
    {
    }
    bool Decode(const std::uint8_t* in, size_t inBytes, void* out, size_t outBytes, std::string& why) const override
    {
        if (!stripChecksums(in, inBytes, m_crcOutside, why))
            return false;
        if (m_crcInside == 0 && m_order.empty())
            return m_compressor->Decode(in, inBytes, out, outBytes, why);
        std::vector<std::uint8_t> raw;
        const size_t rawBytes = outBytes + 4 * static_cast<size_t>(m_crcInside);
        try {
            raw.resize(rawBytes);
        } catch (const std::bad_alloc&) {
            why = "out of memory";
            return false;
        }
        if (!m_compressor->Decode(in, inBytes, raw.data(), rawBytes, why))
            return false;
        const std::uint8_t* data = raw.data();
        size_t bytes = rawBytes;
        if (!stripChecksums(data, bytes, m_crcInside, why))
            return false;
        if (m_order.empty())
            std::memcpy(out, data, outBytes);
        else
            transpose(data, static_cast<std::uint8_t*>(out));
        return true;
    }
    bool DecodePart(const std::uint8_t* in, size_t inBytes, size_t chunkBytes, size_t offset, size_t length, void* out,
                    std::string& why) const override
    {
        if (m_crcInside != 0 || !m_order.empty())
            return ChunkCodec::DecodePart(in, inBytes, chunkBytes, offset, length, out, why);
        if (!stripChecksums(in, inBytes, m_crcOutside, why))
            return false;
        return m_compressor->DecodePart(in, inBytes, chunkBytes, offset, length, out, why);
    }
    bool Encode(const void* in, size_t inBytes, std::vector<std::uint8_t>& out) const override
    {
        if (!m_order.empty() || m_crcInside != 0 || !m_compressor->Encode(in, inBytes, out))
            return false;
        for (int k = 0; k < m_crcOutside; ++k) {
            const std::uint32_t crc = Crc32c(out.data(), out.size());
            for (int b = 0; b < 4; ++b)
                out.push_back(static_cast<std::uint8_t>(crc >> (8 * b)));
        }
        return true;
    }
    std::string Name() const override { return m_compressor->Name(); }

private:
    // Checks and removes `count` trailing checksums (little-endian CRC-32C of what precedes).
    static bool stripChecksums(const std::uint8_t* data, size_t& bytes, int count, std::string& why)
    {
        for (int k = 0; k < count; ++k) {
            if (bytes < 4) {
                why = "a chunk is too short for its checksum";
                return false;
            }
            bytes -= 4;
            const std::uint32_t stored = std::uint32_t(data[bytes]) | std::uint32_t(data[bytes + 1]) << 8 |
                                         std::uint32_t(data[bytes + 2]) << 16 | std::uint32_t(data[bytes + 3]) << 24;
            if (Crc32c(data, bytes) != stored) {
                why = "a chunk's checksum does not match its data";
                return false;
            }
        }
        return true;
    }
    // The stored array has axis i of the chunk's axis m_order[i]; put it back in C order.
    void transpose(const std::uint8_t* in, std::uint8_t* out) const
    {
        const size_t n = m_shape.size();
        std::vector<size_t> outStride(n, 1), inStride(n, 1), step(n);
        for (size_t a = n - 1; a-- > 0;)
            outStride[a] = outStride[a + 1] * static_cast<size_t>(m_shape[a + 1]);
        for (size_t i = n - 1; i-- > 0;)
            inStride[i] = inStride[i + 1] * static_cast<size_t>(m_shape[m_order[i + 1]]);
        for (size_t i = 0; i < n; ++i)
            step[m_order[i]] = inStride[i]; // input stride of output axis m_order[i]
        std::vector<size_t> at(n, 0);
        size_t total = 1;
        for (std::uint64_t e : m_shape)
            total *= static_cast<size_t>(e);
        size_t src = 0;
        for (size_t k = 0; k < total; ++k) {
            std::memcpy(out + k * m_itemBytes, in + src * m_itemBytes, m_itemBytes);
            for (size_t a = n; a-- > 0;) {
                src += step[a];
                if (++at[a] < m_shape[a])
                    break;
                src -= step[a] * at[a];
                at[a] = 0;
            }
        }
    }

    std::unique_ptr<ChunkCodec> m_compressor;
    int m_crcInside;  // checksums applied before compression
    int m_crcOutside; // after it
    std::vector<size_t> m_order;
    std::vector<std::uint64_t> m_shape;
    size_t m_itemBytes;
};

} // namespace

std::uint32_t Crc32c(const std::uint8_t* data, size_t bytes)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < bytes; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::unique_ptr<ChunkCodec> MakeCodecChain(const std::string& codecsJson, size_t itemBytes,
                                           const std::vector<std::uint64_t>& chunkShape, bool& bigEndian, std::string& why)
{
    using nlohmann::json;
    const json list = JsonDepthWithin(codecsJson) ? json::parse(codecsJson, nullptr, false) : json(json::value_t::discarded);
    if (list.is_discarded() || !list.is_array() || list.empty()) {
        why = "the codec list is not a list";
        return nullptr;
    }
    bigEndian = false;
    std::vector<size_t> order;
    std::unique_ptr<ChunkCodec> compressor;
    int crcInside = 0, crcOutside = 0;
    bool sawBytes = false;
    for (const json& c : list) {
        const std::string name = c.is_string() ? c.get<std::string>() : (c.is_object() ? JsonStringOr(c, "name") : std::string());
        const json config = c.is_object() && c.contains("configuration") && c["configuration"].is_object() ? c["configuration"] : json::object();
        if (name == "transpose") {
            const auto o = config.find("order");
            if (sawBytes || !order.empty() || o == config.end() || !o->is_array() || o->size() != chunkShape.size()) {
                why = "a transpose codec has no usable order";
                return nullptr;
            }
            std::vector<bool> seen(chunkShape.size(), false);
            for (const json& v : *o) {
                if (!v.is_number_unsigned() || v.get<std::uint64_t>() >= chunkShape.size() || seen[v.get<size_t>()]) {
                    why = "a transpose codec's order is not a permutation of the axes";
                    return nullptr;
                }
                seen[v.get<size_t>()] = true;
                order.push_back(v.get<size_t>());
            }
            bool identity = true;
            for (size_t i = 0; i < order.size(); ++i)
                identity = identity && order[i] == i;
            if (identity)
                order.clear();
        } else if (name == "bytes") {
            const std::string endian = JsonStringOr(config, "endian", config.contains("endian") ? "" : "little");
            if (sawBytes || (endian != "little" && endian != "big")) {
                why = "a bytes codec is repeated or names an unknown byte order";
                return nullptr;
            }
            sawBytes = true;
            bigEndian = endian == "big";
        } else if (name == "crc32c") {
            if (!sawBytes) {
                why = "a crc32c codec comes before the bytes codec";
                return nullptr;
            }
            ++(compressor ? crcOutside : crcInside);
        } else if (name == "blosc" || name == "gzip" || name == "zstd") {
            if (!sawBytes || compressor) {
                why = "the codec list has more than one compressor or none before the bytes codec";
                return nullptr;
            }
            json v2 = json::object();
            v2["id"] = name;
            for (const char* key : {"cname", "clevel", "level"})
                if (config.contains(key))
                    v2[key] = config[key];
            const auto shuffle = config.find("shuffle");
            if (shuffle != config.end() && shuffle->is_string())
                v2["shuffle"] = *shuffle == "noshuffle" ? 0 : (*shuffle == "bitshuffle" ? 2 : 1);
            compressor = MakeChunkCodec(v2.dump(), itemBytes, why);
            if (!compressor)
                return nullptr;
        } else {
            why = "the codec \"" + (name.empty() ? c.dump().substr(0, 40) : name) + "\" is not supported";
            return nullptr;
        }
    }
    if (!sawBytes) {
        why = "the codec list has no bytes codec";
        return nullptr;
    }
    if (!compressor)
        compressor = std::make_unique<RawCodec>();
    return std::make_unique<ChainCodec>(std::move(compressor), crcInside, crcOutside, std::move(order), chunkShape, itemBytes);
}

std::unique_ptr<ChunkCodec> MakeChunkCodec(const std::string& compressorJson, size_t itemBytes, std::string& why)
{
    const nlohmann::json j =
        JsonDepthWithin(compressorJson) ? nlohmann::json::parse(compressorJson, nullptr, false) : nlohmann::json(nlohmann::json::value_t::discarded);
    if (j.is_discarded()) {
        why = "the compressor entry is not valid JSON";
        return nullptr;
    }
    if (j.is_null())
        return std::make_unique<RawCodec>();
    if (!j.is_object() || !j.contains("id") || !j["id"].is_string()) {
        why = "the compressor entry has no id";
        return nullptr;
    }
    const std::string id = j["id"].get<std::string>();
    if (id == "blosc") {
        std::string cname = "lz4";
        if (j.contains("cname") && j["cname"].is_string())
            cname = j["cname"].get<std::string>();
        // Decoding reads the inner codec from each chunk's header; it only has to be built in.
        bool known = false;
        for (const char* name : {"blosclz", "lz4", "lz4hc", "zlib", "zstd"})
            known = known || cname == name;
        if (!known || blosc_compname_to_compcode(cname.c_str()) < 0) {
            why = "blosc's inner codec \"" + cname + "\" is not available";
            return nullptr;
        }
        return std::make_unique<BloscCodec>(cname, intOr(j, "clevel", 5), intOr(j, "shuffle", 1), itemBytes);
    }
    if (id == "zlib" || id == "gzip") {
        const int level = intOr(j, "level", 6);
        return std::make_unique<DeflateCodec>(id == "gzip", level < 0 || level > 9 ? 6 : level);
    }
    if (id == "zstd")
        return std::make_unique<ZstdCodec>(intOr(j, "level", 3));
    why = "the compressor \"" + id + "\" is not supported (none, blosc, zlib, gzip and zstd are)";
    return nullptr;
}

} // namespace ImageReader
