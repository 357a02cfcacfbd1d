#include "ZarrReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <thread>

#include "Diagnostics.h"
#include "TimeUnit.h"
#include "StopToken.h"

namespace ImageReader {

namespace {

// The same bound as the other readers: every view keeps a copy of a plane.
constexpr std::uint64_t kMaxPlaneSamples = std::uint64_t(1) << 28;
constexpr std::uint64_t kMaxChunksPerPlane = std::uint64_t(1) << 16;
constexpr int kMaxChannels = 1 << 16;
constexpr size_t kKeptBufferBytes = size_t(8) << 20;
constexpr std::uint64_t kAbsent = ~std::uint64_t(0);

std::uint64_t readU64(const unsigned char* p, bool bigEndian)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= std::uint64_t(p[bigEndian ? 7 - i : i]) << (8 * i);
    return v;
}

std::string text(const ChunkStore::Result& r)
{
    return std::string(r.bytes.begin(), r.bytes.end());
}

// The fill value as one sample of `type` in the file's byte order.
void fillSample(double fill, SampleType type, bool bigEndian, unsigned char* out)
{
    std::memset(out, 0, 8);
    auto integer = [&](auto zero) {
        using I = decltype(zero);
        double v = std::isnan(fill) ? 0.0 : std::round(fill);
        v = std::clamp(v, static_cast<double>(std::numeric_limits<I>::lowest()), static_cast<double>(std::numeric_limits<I>::max()));
        // The top of 64-bit ranges is not a double; stay strictly inside.
        const I s = v >= static_cast<double>(std::numeric_limits<I>::max()) ? std::numeric_limits<I>::max() : static_cast<I>(v);
        std::memcpy(out, &s, sizeof s);
    };
    switch (type) {
    case SampleType::UInt8: integer(std::uint8_t()); break;
    case SampleType::Int8: integer(std::int8_t()); break;
    case SampleType::UInt16: integer(std::uint16_t()); break;
    case SampleType::Int16: integer(std::int16_t()); break;
    case SampleType::UInt32: integer(std::uint32_t()); break;
    case SampleType::Int32: integer(std::int32_t()); break;
    case SampleType::UInt64: integer(std::uint64_t()); break;
    case SampleType::Int64: integer(std::int64_t()); break;
    case SampleType::Float32: { const float f = static_cast<float>(fill); std::memcpy(out, &f, 4); break; }
    case SampleType::Float64: std::memcpy(out, &fill, 8); break;
    }
    const size_t n = SampleBytes(type);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const bool swap = !bigEndian;
#else
    const bool swap = bigEndian;
#endif
    if (swap)
        std::reverse(out, out + n);
}

bool fileIsNative(bool bigEndian)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return bigEndian;
#else
    return !bigEndian;
#endif
}

void swapSamples(unsigned char* p, size_t samples, size_t bytes)
{
    for (size_t i = 0; i < samples; ++i, p += bytes)
        std::reverse(p, p + bytes);
}

// A shard index's codecs: its byte order and checksums decide its size.
bool parseIndexCodecs(const std::string& codecsJson, size_t entries, size_t& bytes, bool& bigEndian, int& checksums, std::string& why)
{
    bigEndian = false;
    checksums = 0;
    bool sawBytes = false;
    // The chain's own checks (order, known names) apply; only "bytes" and "crc32c" keep the
    // index's size known before it is read.
    std::vector<std::uint64_t> shape = {entries, 2};
    if (!MakeCodecChain(codecsJson == "[]" ? R"([{"name":"bytes"}])" : codecsJson, 8, shape, bigEndian, why)) {
        why = "the shard index: " + why;
        return false;
    }
    for (const char* name : {"transpose", "blosc", "gzip", "zstd"})
        if (codecsJson.find(std::string("\"") + name + "\"") != std::string::npos) {
            why = std::string("shard indexes compressed or transposed (") + name + ") are not supported";
            return false;
        }
    for (size_t at = codecsJson.find("\"crc32c\""); at != std::string::npos; at = codecsJson.find("\"crc32c\"", at + 1))
        ++checksums;
    sawBytes = true;
    bytes = entries * 16 + 4 * static_cast<size_t>(checksums);
    return sawBytes;
}

// The chunks (array order, chunk units) that hold samples [x0, x1) x [y0, y1) of plane `p`
// (viewer dimensions 2..), appended row of chunks by row, and where the plane starts inside
// its chunks along the outer axes; false for a plane or region outside the array.
bool regionChunks(const ZarrArrayMeta& meta, const Vector& p, size_t x0, size_t x1, size_t y0, size_t y1,
                  std::vector<std::vector<std::uint64_t>>& coords, size_t& within)
{
    const size_t n = meta.shape.size();
    if (n < 2 || p.size() + 2 != n)
        return false;
    const size_t Y = meta.shape[n - 2], X = meta.shape[n - 1];
    const size_t cy = meta.chunks[n - 2], cx = meta.chunks[n - 1];
    if (x0 >= x1 || x1 > X || y0 >= y1 || y1 > Y)
        return false;
    size_t stride = cy * cx;
    within = 0;
    std::vector<std::uint64_t> outer(n, 0);
    for (size_t a = n - 2; a-- > 0;) {
        const int at = p[static_cast<int>(n - 3 - a)];
        if (at < 0 || static_cast<std::uint64_t>(at) >= meta.shape[a])
            return false;
        within += (static_cast<size_t>(at) % meta.chunks[a]) * stride;
        stride *= meta.chunks[a];
        outer[a] = static_cast<std::uint64_t>(at) / meta.chunks[a];
    }
    const size_t jy0 = y0 / cy, jy1 = (y1 - 1) / cy + 1, jx0 = x0 / cx, jx1 = (x1 - 1) / cx + 1;
    for (size_t jy = jy0; jy < jy1; ++jy)
        for (size_t jx = jx0; jx < jx1; ++jx) {
            outer[n - 2] = jy;
            outer[n - 1] = jx;
            coords.push_back(outer);
        }
    return true;
}

} // namespace

template <class T>
bool ZarrReader<T>::Fail(std::string reason)
{
    Close();
    m_error = std::move(reason);
    return false;
}

template <class T>
void ZarrReader<T>::Close()
{
    m_levels = std::make_shared<Levels>();
    m_store.reset();
    m_chunkCache.reset();
    m_axes.clear();
    m_channels.clear();
    m_channelDim = -1;
    m_level = 0;
}

template <class T>
void ZarrReader<T>::OpenLocation(const std::string& location)
{
    Close();
    m_error.clear();
    m_map = ValueMap();
    m_type = SampleType::UInt16;
    m_ome = false;
    m_v3 = false;
    m_warned = false;
    if (IsUrl(location)) {
        m_chunkCache = std::make_shared<CachingStore>(std::make_shared<HttpStore>(location, m_http), m_http.cacheBytes);
        m_store = m_chunkCache;
    } else
        m_store = std::make_shared<FolderStore>(location);

    std::string why;
    // Both formats' root metadata in one round trip: a v3 image is found without a second.
    std::vector<ChunkStore::Result> roots = m_store->GetMany({"zarr.json", ".zattrs"}, ChunkStore::kMetadataLimit);
    ZarrMultiscale ms;
    std::string base; // where the image's group is
    Levels levels;
    auto loadLevels = [&]() {
        if (m_ome) {
            // From a server, every level's metadata in one round of requests (kept by the chunk
            // cache for LoadLevel): the first picture waits for one round trip, not one per level.
            if (m_chunkCache) {
                std::vector<std::string> keys;
                for (const std::string& path : ms.paths)
                    keys.push_back(base + path + (m_v3 ? "/zarr.json" : "/.zarray"));
                m_store->GetMany(keys, ChunkStore::kMetadataLimit);
            }
            for (size_t k = 0; k < ms.paths.size(); ++k) {
                auto level = LoadLevel(base + ms.paths[k] + "/", ms.scales[k], why);
                if (!level)
                    return Fail("level " + std::to_string(k) + " (" + ms.paths[k] + "): " + why);
                levels.push_back(std::move(level));
            }
        } else {
            auto level = LoadLevel("", {}, why);
            if (!level)
                return Fail(why);
            levels.push_back(std::move(level));
        }
        return true;
    };
    if (roots[0].status == ChunkStore::Status::Ok) {
        m_v3 = true;
        ZarrNode node;
        if (!ParseZarrJson(text(roots[0]), node, why)) {
            Fail(why);
            return;
        }
        std::string ome = node.ome;
        if (!node.isArray) {
            m_ome = ParseMultiscales(ome, ms, why);
            if (!m_ome && why.empty() && IsImageCollection(ome)) {
                const ChunkStore::Result inner = m_store->Get("0/zarr.json", ChunkStore::kMetadataLimit);
                ZarrNode first;
                if (inner.status == ChunkStore::Status::Ok && ParseZarrJson(text(inner), first, why)) {
                    ome = first.ome;
                    m_ome = ParseMultiscales(ome, ms, why);
                    base = "0/";
                }
            }
            if (!m_ome) {
                Fail(why.empty() ? "the Zarr group holds no OME multiscale image" : why);
                return;
            }
            m_channels = ParseOmeroChannels(ome);
            m_axes = ms.axes;
        }
        if (!loadLevels())
            return;
    } else {
        const ChunkStore::Result& attrs = roots[1];
        if (attrs.status == ChunkStore::Status::Failed) {
            Fail("the image's attributes cannot be read (" + attrs.why + ")");
            return;
        }
        if (attrs.status == ChunkStore::Status::Ok) {
            std::string zattrs = text(attrs);
            m_ome = ParseMultiscales(zattrs, ms, why);
            if (!m_ome && why.empty() && IsImageCollection(zattrs)) {
                const ChunkStore::Result inner = m_store->Get("0/.zattrs", ChunkStore::kMetadataLimit);
                if (inner.status == ChunkStore::Status::Ok) {
                    zattrs = text(inner);
                    m_ome = ParseMultiscales(zattrs, ms, why);
                    base = "0/";
                }
            }
            if (!m_ome && !why.empty() && why != ".zattrs is not valid JSON") {
                Fail(why);
                return;
            }
            if (m_ome)
                m_channels = ParseOmeroChannels(zattrs);
        }
        m_axes = ms.axes;
        if (!loadLevels())
            return;
    }
    m_levels = std::make_shared<const Levels>(std::move(levels));
    const Levels& all = *m_levels;

    const size_t rank = all[0]->meta.shape.size();
    for (const auto& level : all)
        if (level->meta.shape.size() != rank || level->meta.type != all[0]->meta.type) {
            Fail("the resolution levels differ in their number of dimensions or sample type");
            return;
        }
    if (m_ome && !m_axes.empty() && m_axes.size() != rank) {
        Fail("the image names " + std::to_string(m_axes.size()) + " axes but its arrays have " + std::to_string(rank));
        return;
    }
    m_type = all[0]->meta.type;
    for (size_t a = 0; a < m_axes.size(); ++a)
        if (m_axes[a].type == "channel" || (m_axes[a].type.empty() && (m_axes[a].name == "c" || m_axes[a].name == "C")))
            m_channelDim = static_cast<int>(rank - 1 - a);
    // Every channel gets its own colour, window and controls: a channel axis this long is
    // damage, not an image.
    if (m_channelDim >= 0 && all[0]->dims[m_channelDim] > kMaxChannels) {
        Fail("the channel axis has " + std::to_string(all[0]->dims[m_channelDim]) + " entries; at most " +
             std::to_string(kMaxChannels) + " can be shown");
        return;
    }

    // Wider and float types: their range from the coarsest level, so that opening reads little.
    const Level& coarse = *all.back();
    const size_t planeSamples = static_cast<size_t>(coarse.dims[0]) * static_cast<size_t>(coarse.dims[1]);
    size_t planes = 1;
    for (unsigned i = 2; i < coarse.dims.size(); ++i)
        planes *= static_cast<size_t>(coarse.dims[static_cast<int>(i)]);
    m_map = EstimateValueMap(m_type, planes, planeSamples, [this, &coarse](size_t k, void* buffer) {
        Vector p;
        for (unsigned i = 2; i < coarse.dims.size(); ++i) {
            const size_t extent = static_cast<size_t>(coarse.dims[static_cast<int>(i)]);
            p.push_back(static_cast<int>(k % extent));
            k /= extent;
        }
        return ReadPlane(coarse, p, buffer);
    });
}

template <class T>
std::shared_ptr<typename ZarrReader<T>::Level> ZarrReader<T>::LoadLevel(const std::string& prefix, const std::vector<double>& scale,
                                                                      std::string& why)
{
    const std::string name = m_v3 ? "zarr.json" : ".zarray";
    const ChunkStore::Result r = m_store->Get(prefix + name, ChunkStore::kMetadataLimit);
    if (r.status == ChunkStore::Status::Missing) {
        why = prefix.empty() ? "no Zarr array (.zarray) or OME multiscale image (.zattrs) found" : "the array's " + name + " is missing";
        return nullptr;
    }
    if (r.status == ChunkStore::Status::Failed) {
        why = "the array's " + name + " cannot be read (" + r.why + ")";
        return nullptr;
    }
    auto level = std::make_shared<Level>();
    level->prefix = prefix;
    if (m_v3) {
        ZarrNode node;
        if (!ParseZarrJson(text(r), node, why))
            return nullptr;
        if (!node.isArray) {
            why = "the level is a group, not an array";
            return nullptr;
        }
        level->meta = std::move(node.array);
        level->codec = MakeCodecChain(level->meta.compressor, SampleBytes(level->meta.type), level->meta.chunks, level->meta.bigEndian, why);
        if (level->codec && level->meta.Sharded() &&
            !parseIndexCodecs(level->meta.indexCodecs, level->meta.InnerPerShard(), level->indexBytes, level->indexBigEndian,
                              level->indexChecksums, why))
            return nullptr;
    } else {
        if (!ParseZarray(text(r), level->meta, why))
            return nullptr;
        level->codec = MakeChunkCodec(level->meta.compressor, SampleBytes(level->meta.type), why);
    }
    if (!level->codec)
        return nullptr;
    // Compressed data larger than this is damage (every codec's worst case is far below it).
    const std::uint64_t raw = level->meta.ChunkSamples() * SampleBytes(level->meta.type);
    level->chunkLimit = raw + raw / 8 + 65536;
    const auto& shape = level->meta.shape;
    const size_t n = shape.size();
    if (shape[n - 1] * shape[n - 2] > kMaxPlaneSamples) {
        why = "a plane of " + std::to_string(shape[n - 1]) + " x " + std::to_string(shape[n - 2]) +
              " samples is larger than this viewer can show";
        return nullptr;
    }
    // Tiny chunks over a large plane would mean millions of requests for one picture.
    const std::uint64_t perPlane = ((shape[n - 1] + level->meta.chunks[n - 1] - 1) / level->meta.chunks[n - 1]) *
                                   ((shape[n - 2] + level->meta.chunks[n - 2] - 1) / level->meta.chunks[n - 2]);
    if (perPlane > kMaxChunksPerPlane) {
        why = "a plane is split into " + std::to_string(perPlane) + " chunks; at most " + std::to_string(kMaxChunksPerPlane) +
              " can be read for one plane";
        return nullptr;
    }
    // The number of planes must fit the viewer's integer positions too.
    std::uint64_t planes = 1;
    for (size_t a = 0; a + 2 < n; ++a) {
        planes *= shape[a];
        if (planes > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            why = "the array has more planes than this viewer can address";
            return nullptr;
        }
    }
    for (size_t d = 0; d < n; ++d) {
        const size_t a = n - 1 - d;
        level->dims.push_back(static_cast<int>(shape[a]));
        double nm = 0.0, seconds = 0.0;
        if (a < scale.size() && a < m_axes.size()) {
            const double per = NanometresPerUnit(m_axes[a].unit);
            nm = per > 0 ? scale[a] * per : 0.0;
            seconds = scale[a] * SecondsPerUnit(m_axes[a].unit);
        }
        level->nmPerPixel.push_back(nm);
        level->secondsPerIndex.push_back(seconds);
    }
    return level;
}

template <class T>
size_t ZarrReader<T>::SetMemoryBudget(size_t budgetBytes)
{
    if (!m_chunkCache)
        return 0;
    const size_t share = std::min(budgetBytes / kChunkCacheShare, m_http.cacheBytes);
    m_chunkCache->SetBudget(share);
    *m_groupBands = share == 0;
    return share;
}

template <class T>
bool ZarrReader<T>::RemoteChunksHoldOnePlane() const
{
    if (!m_chunkCache)
        return false;
    for (const auto& level : *m_levels) {
        const ZarrArrayMeta& meta = level->meta;
        if (meta.Sharded())
            return false;
        for (size_t a = 0; a + 2 < meta.chunks.size(); ++a)
            if (meta.chunks[a] != 1)
                return false;
    }
    return true;
}

template <class T>
std::shared_ptr<const typename ZarrReader<T>::Level> ZarrReader<T>::CurrentLevel() const
{
    const int k = m_level.load();
    const auto levels = m_levels;
    return k >= 0 && k < static_cast<int>(levels->size()) ? (*levels)[static_cast<size_t>(k)] : nullptr;
}

template <class T>
Vector ZarrReader<T>::GetSize()
{
    const auto level = CurrentLevel();
    return level ? level->dims : Vector();
}

template <class T>
Vector ZarrReader<T>::GetLevelSize(int level) const
{
    return level >= 0 && level < static_cast<int>(m_levels->size()) ? (*m_levels)[static_cast<size_t>(level)]->dims : Vector();
}

template <class T>
bool ZarrReader<T>::SetLevel(int level)
{
    if (level < 0 || level >= static_cast<int>(m_levels->size()))
        return false;
    m_level = level;
    return true;
}

template <class T>
void ZarrReader<T>::WarnOnce(const std::string& message)
{
    {
        const std::lock_guard<std::mutex> lock(m_warnMutex);
        if (m_warned)
            return;
        m_warned = true;
    }
    ReportDiagnostic(message);
}

template <class T>
void ZarrReader<T>::FetchChunksEach(const Level& level, const std::vector<std::vector<std::uint64_t>>& coords, size_t ahead,
                                    const ChunkStore::Each& each)
{
    if (level.meta.Sharded()) {
        // Inner chunks need their shard's index first: a few at a time, each step as FetchChunks.
        for (size_t from = 0; from < coords.size() && !StopRequested(); from += ahead) {
            const size_t to = std::min(coords.size(), from + ahead);
            std::vector<ChunkStore::Result> got = FetchChunks(level, {coords.begin() + static_cast<std::ptrdiff_t>(from),
                                                                      coords.begin() + static_cast<std::ptrdiff_t>(to)});
            for (size_t i = 0; i < got.size(); ++i)
                each(from + i, std::move(got[i]));
        }
        return;
    }
    std::vector<ChunkStore::Range> ranges;
    ranges.reserve(coords.size());
    for (const auto& c : coords)
        ranges.push_back({level.prefix + level.meta.ChunkKey(c), 0, -1, level.chunkLimit});
    m_store->GetRangesEach(ranges, ahead, [&](size_t i, ChunkStore::Result&& r) {
        TakeRange(r, ranges[i]);
        each(i, std::move(r));
    });
}

template <class T>
std::vector<ChunkStore::Result> ZarrReader<T>::FetchChunks(const Level& level, const std::vector<std::vector<std::uint64_t>>& coords)
{
    const ZarrArrayMeta& meta = level.meta;
    std::vector<ChunkStore::Range> ranges;
    ranges.reserve(coords.size());
    if (!meta.Sharded()) {
        for (const auto& c : coords)
            ranges.push_back({level.prefix + meta.ChunkKey(c), 0, -1, level.chunkLimit});
        std::vector<ChunkStore::Result> results = m_store->GetRanges(ranges);
        for (size_t i = 0; i < results.size(); ++i)
            TakeRange(results[i], ranges[i]);
        return results;
    }
    // Each shard's index first (one ranged read per shard, kept by the cache), then only the
    // inner chunks asked for.
    const size_t n = meta.shape.size();
    std::vector<std::string> shardKeys;
    std::vector<size_t> shardOf(coords.size()), innerOf(coords.size());
    std::map<std::string, size_t> shardIndex;
    for (size_t i = 0; i < coords.size(); ++i) {
        std::vector<std::uint64_t> shard(n);
        size_t inner = 0;
        for (size_t a = 0; a < n; ++a) {
            shard[a] = coords[i][a] / meta.shardChunks[a];
            inner = inner * meta.shardChunks[a] + coords[i][a] % meta.shardChunks[a];
        }
        const std::string key = level.prefix + meta.ChunkKey(shard);
        const auto found = shardIndex.emplace(key, shardKeys.size());
        if (found.second)
            shardKeys.push_back(key);
        shardOf[i] = found.first->second;
        innerOf[i] = inner;
    }
    const std::uint64_t shardLimit =
        std::min<std::uint64_t>(ChunkStore::kDefaultLimit, level.chunkLimit * meta.InnerPerShard() + level.indexBytes);
    const std::int64_t indexBytes = static_cast<std::int64_t>(level.indexBytes);
    for (const std::string& key : shardKeys)
        ranges.push_back({key, meta.indexAtStart ? 0 : -indexBytes, meta.indexAtStart ? indexBytes : -1, shardLimit});
    std::vector<ChunkStore::Result> indexes = m_store->GetRanges(ranges);
    for (size_t k = 0; k < indexes.size(); ++k) {
        ChunkStore::Result& r = indexes[k];
        TakeRange(r, ranges[k]);
        if (r.status != ChunkStore::Status::Ok)
            continue;
        std::string why;
        size_t bytes = r.bytes.size();
        bool ok = bytes == level.indexBytes;
        for (int c = 0; ok && c < level.indexChecksums; ++c) {
            bytes -= 4;
            const std::uint32_t stored = std::uint32_t(r.bytes[bytes]) | std::uint32_t(r.bytes[bytes + 1]) << 8 |
                                         std::uint32_t(r.bytes[bytes + 2]) << 16 | std::uint32_t(r.bytes[bytes + 3]) << 24;
            ok = Crc32c(r.bytes.data(), bytes) == stored;
        }
        if (!ok) {
            r.status = ChunkStore::Status::Failed;
            r.why = shardKeys[k] + ": the shard's index is damaged";
            r.bytes.clear();
        }
    }
    std::vector<ChunkStore::Result> results(coords.size());
    std::vector<ChunkStore::Range> parts;
    std::vector<size_t> partOf;
    for (size_t i = 0; i < coords.size(); ++i) {
        const ChunkStore::Result& index = indexes[shardOf[i]];
        ChunkStore::Result& r = results[i];
        if (index.status != ChunkStore::Status::Ok) {
            r.status = index.status; // a missing shard: every inner chunk reads as the fill value
            r.why = index.why;
            continue;
        }
        const std::uint64_t offset = readU64(index.bytes.data() + innerOf[i] * 16, level.indexBigEndian);
        const std::uint64_t size = readU64(index.bytes.data() + innerOf[i] * 16 + 8, level.indexBigEndian);
        if (offset == kAbsent && size == kAbsent) {
            r.status = ChunkStore::Status::Missing;
            continue;
        }
        if (size > level.chunkLimit || offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - size) {
            r.why = shardKeys[shardOf[i]] + ": the shard's index lists an inner chunk of impossible size";
            continue;
        }
        parts.push_back({shardKeys[shardOf[i]], static_cast<std::int64_t>(offset), static_cast<std::int64_t>(size), shardLimit});
        partOf.push_back(i);
    }
    if (parts.empty())
        return results;
    std::vector<ChunkStore::Result> got = m_store->GetRanges(parts);
    for (size_t k = 0; k < got.size(); ++k) {
        TakeRange(got[k], parts[k]);
        if (got[k].status == ChunkStore::Status::Missing) {
            // The shard was there a moment ago (its index was read): now it is damage.
            got[k].status = ChunkStore::Status::Failed;
            got[k].why = parts[k].key + " vanished while it was read";
        }
        results[partOf[k]] = std::move(got[k]);
    }
    return results;
}

template <class T>
bool ZarrReader<T>::ReadPlane(const Level& level, const Vector& p, void* dest)
{
    const size_t n = level.meta.shape.size();
    return n >= 2 && ReadRegion(level, p, 0, level.meta.shape[n - 1], 0, level.meta.shape[n - 2], dest);
}

// Only the chunks that overlap the region are fetched, and of each only the rows it needs are
// decoded (for blosc, only the blocks that hold them), into a buffer each thread keeps.
template <class T>
bool ZarrReader<T>::ReadRegion(const Level& level, const Vector& p, size_t x0, size_t x1, size_t y0, size_t y1, void* dest,
                               const std::vector<ChunkStore::Result>* fetched)
{
    const ZarrArrayMeta& meta = level.meta;
    const size_t n = meta.shape.size();
    std::vector<std::vector<std::uint64_t>> coords;
    size_t within = 0;
    if (!regionChunks(meta, p, x0, x1, y0, y1, coords, within))
        return false;
    const size_t bytes = SampleBytes(meta.type);
    const size_t Y = meta.shape[n - 2], X = meta.shape[n - 1];
    const size_t cy = meta.chunks[n - 2], cx = meta.chunks[n - 1];
    const size_t W = x1 - x0, H = y1 - y0;
    const size_t jy0 = y0 / cy, jx0 = x0 / cx, nx = (x1 - 1) / cx + 1 - jx0;
    std::vector<ChunkStore::Result> own;
    if (!fetched)
        own = FetchChunks(level, coords);
    const std::vector<ChunkStore::Result>& chunks = fetched ? *fetched : own;
    if (chunks.size() != coords.size())
        return false;

    unsigned char fill[8];
    fillSample(meta.fill, meta.type, meta.bigEndian, fill);
    const size_t chunkBytes = meta.ChunkSamples() * bytes;
    unsigned char* out = static_cast<unsigned char*>(dest);
    for (const ChunkStore::Result& r : chunks)
        if (r.status == ChunkStore::Status::Failed) {
            WarnOnce("Some chunks of " + m_store->Location() + " cannot be read (" + r.why + "); their planes are shown black.");
            return false;
        }

    // Chunks are decoded on a few threads: decompression is most of a plane's cost.
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex whyMutex;
    std::string firstWhy;
    auto work = [&](std::vector<std::uint8_t>& part) {
        for (size_t i = next++; i < chunks.size() && !failed; i = next++) {
            if (StopRequested()) {
                failed = true;
                return;
            }
            const size_t jy = jy0 + i / nx, jx = jx0 + i % nx;
            const ChunkStore::Result& r = chunks[i];
            // The part of this chunk inside the region, in plane coordinates.
            const size_t ry0 = std::max(y0, jy * cy), ry1 = std::min(y1, std::min(Y, (jy + 1) * cy));
            const size_t rx0 = std::max(x0, jx * cx), rx1 = std::min(x1, std::min(X, (jx + 1) * cx));
            if (r.status == ChunkStore::Status::Missing) {
                for (size_t y = ry0; y < ry1; ++y) {
                    unsigned char* row = out + ((y - y0) * W + (rx0 - x0)) * bytes;
                    for (size_t x = rx0; x < rx1; ++x)
                        std::memcpy(row + (x - rx0) * bytes, fill, bytes);
                }
                continue;
            }
            // The chunk's rows ry0..ry1 are one run of its bytes.
            const size_t partBytes = (ry1 - ry0) * cx * bytes;
            std::string why = "out of memory";
            bool ok = false;
            try {
                if (part.size() < partBytes)
                    part.resize(partBytes);
                ok = level.codec->DecodePart(r.bytes.data(), r.bytes.size(), chunkBytes, (within + (ry0 - jy * cy) * cx) * bytes,
                                             partBytes, part.data(), why);
            } catch (const std::bad_alloc&) {
            }
            if (!ok) {
                const std::lock_guard<std::mutex> lock(whyMutex);
                if (!failed.exchange(true))
                    firstWhy = meta.ChunkKey(coords[i]) + ": " + why;
                return;
            }
            for (size_t y = ry0; y < ry1; ++y)
                std::memcpy(out + ((y - y0) * W + (rx0 - x0)) * bytes, part.data() + ((y - ry0) * cx + (rx0 - jx * cx)) * bytes,
                            (rx1 - rx0) * bytes);
        }
    };
    const size_t helpers = std::min<size_t>(chunks.size() / 2, std::min(3u, std::max(1u, std::thread::hardware_concurrency()) - 1));
    // Helpers start afresh for each read: their rows go into buffers from the pool, not into
    // new memory each time. The calling thread keeps its own unless it grew large. On a busy
    // machine a helper may get no processor before the caller has done every chunk itself:
    // the caller then waits only for helpers that took a chunk, and a late one touches
    // nothing of this read (whose state lives on the caller's stack) and just ends.
    struct Helpers
    {
        std::mutex mutex;
        std::condition_variable idle;
        bool closed = false;
        int working = 0;
    };
    const auto shared = std::make_shared<Helpers>();
    ChunkBufferPool& pool = ChunkBufferPool::Shared();
    const size_t partMost = std::min(H, cy) * cx * bytes;
    for (size_t t = 0; t < helpers; ++t)
        std::thread([shared, &work, &pool, partMost] {
            {
                const std::lock_guard<std::mutex> lock(shared->mutex);
                if (shared->closed)
                    return;
                ++shared->working;
            }
            std::vector<std::uint8_t> part = pool.Take(partMost);
            work(part);
            pool.Give(std::move(part));
            const std::lock_guard<std::mutex> lock(shared->mutex);
            --shared->working;
            shared->idle.notify_all();
        }).detach();
    {
        thread_local std::vector<std::uint8_t> part;
        work(part);
        if (part.capacity() > kKeptBufferBytes)
            std::vector<std::uint8_t>().swap(part);
    }
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->closed = true;
        shared->idle.wait(lock, [&] { return shared->working == 0; });
    }
    // The chunks fetched here are used up: their buffers serve the next ones.
    for (ChunkStore::Result& r : own)
        pool.Give(std::move(r.bytes));
    if (failed) {
        if (!firstWhy.empty())
            WarnOnce("A chunk of " + m_store->Location() + " is damaged (" + firstWhy + "); its planes are shown black.");
        return false;
    }
    if (!fileIsNative(meta.bigEndian) && bytes > 1)
        swapSamples(out, W * H, bytes);
    return true;
}

template <class T>
ImageSlice<T> ZarrReader<T>::GetBand(const Vector& position, int x0, int x1, int y0, int y1,
                                     const std::vector<ChunkStore::Result>* fetched)
{
    const auto level = CurrentLevel();
    if (!level || position.size() + 2 != level->dims.size() || x0 < 0 || x1 <= x0 || x1 > level->dims[0] || y0 < 0 || y1 <= y0 ||
        y1 > level->dims[1])
        return ImageSlice<T>();
    if (!fetched) {
        ImageSlice<T> kept = takeExpected(position, Band{x0, x1, y0, y1});
        if (!kept.IsEmpty())
            return kept;
    }
    const size_t samples = static_cast<size_t>(x1 - x0) * static_cast<size_t>(y1 - y0);
    T* result = static_cast<T*>(std::malloc(samples * sizeof(T)));
    if (!result)
        return ImageSlice<T>();
    bool ok = false;
    const auto read = [&](void* into) {
        return ReadRegion(*level, position, static_cast<size_t>(x0), static_cast<size_t>(x1), static_cast<size_t>(y0),
                          static_cast<size_t>(y1), into, fetched);
    };
    if (m_type == SampleType::UInt16) {
        ok = read(result);
    } else {
        thread_local std::vector<unsigned char> raw;
        try {
            raw.resize(samples * SampleBytes(m_type));
            ok = read(raw.data());
        } catch (const std::bad_alloc&) {
        }
        if (ok)
            ConvertToDisplay(raw.data(), m_type, m_map, result, samples);
        // Bands and small planes reuse the buffer; a whole large plane's is not kept per thread.
        if (raw.capacity() > kKeptBufferBytes)
            std::vector<unsigned char>().swap(raw);
    }
    if (!ok) {
        std::free(result);
        return ImageSlice<T>();
    }
    return ImageSlice<T>(Vector(x1 - x0, y1 - y0), result);
}

template <class T>
ImageSlice<T> ZarrReader<T>::GetSlice(const Vector& position)
{
    const auto level = CurrentLevel();
    if (!level)
        return ImageSlice<T>();
    return GetBand(position, 0, level->dims[0], 0, level->dims[1]);
}

template <class T>
ImageSlice<T> ZarrReader<T>::GetRows(const Vector& position, int y0, int y1)
{
    const auto level = CurrentLevel();
    return level ? GetBand(position, 0, level->dims[0], y0, y1) : ImageSlice<T>();
}

template <class T>
ImageSlice<T> ZarrReader<T>::GetColumns(const Vector& position, int x0, int x1)
{
    const auto level = CurrentLevel();
    return level ? GetBand(position, x0, x1, 0, level->dims[1]) : ImageSlice<T>();
}

// From a server, the bands' chunks of all the planes are asked for in one stream, so that
// requests follow one another (a few in flight) instead of waiting for each plane, and a
// plane's bands are cut out as soon as its chunks are there, while later ones arrive: a side
// view of a coarse level needs one chunk per plane. A plane whose chunks fail is read again on
// its own, so that only the planes whose chunks fail are lost. An expected band comes from the
// same fetch: its chunks are asked for along with the band's (each once) and the band is cut
// out and kept.
template <class T>
std::vector<ImageSlice<T>> ZarrReader<T>::GetBandSources(const std::vector<Vector>& positions, bool rows, int a0, int a1)
{
    const auto level = CurrentLevel();
    if (!IsRemote() || !*m_groupBands || !level || positions.empty() || a0 < 0 || a1 <= a0)
        return ImageBase<T>::GetBandSources(positions, rows, a0, a1);
    const int W = level->dims[0], H = level->dims[1];
    const Band mine{rows ? 0 : a0, rows ? W : a1, rows ? a0 : 0, rows ? a1 : H};
    // The other band, when one is expected and not this one.
    std::optional<Band> other;
    {
        const std::lock_guard<std::mutex> lock(m_expected.mutex);
        if (m_expected.set && !(m_expected.band == mine) && m_expected.band.x1 <= W && m_expected.band.y1 <= H)
            other = m_expected.band;
    }
    // Bands kept from an earlier fetch are taken first; the rest are fetched.
    std::vector<ImageSlice<T>> bands(positions.size());
    std::vector<Vector> missing;
    std::vector<size_t> at;
    for (size_t i = 0; i < positions.size(); ++i) {
        bands[i] = takeExpected(positions[i], mine);
        if (bands[i].IsEmpty()) {
            missing.push_back(positions[i]);
            at.push_back(i);
        }
    }
    std::vector<ImageSlice<T>> got = missing.size() < 2 && !other
                                         ? ImageBase<T>::GetBandSources(missing, rows, a0, a1)
                                         : fetchBands(*level, missing, rows, a0, a1, other ? &*other : nullptr);
    for (size_t k = 0; k < got.size(); ++k)
        bands[at[k]] = std::move(got[k]);
    return bands;
}

template <class T>
std::vector<ImageSlice<T>> ZarrReader<T>::fetchBands(const Level& level, const std::vector<Vector>& positions, bool rows,
                                                    int a0, int a1, const Band* other)
{
    const int W = level.dims[0], H = level.dims[1];
    const Band band{rows ? 0 : a0, rows ? W : a1, rows ? a0 : 0, rows ? a1 : H};
    // Per plane, its bands' chunks as places in one list of chunks to fetch (a chunk both
    // bands need is fetched once).
    struct Plane
    {
        size_t first = 0, count = 0;
        std::vector<size_t> mine, theirs; // places from `first`
        size_t waiting = 0;
        bool failed = false, done = false;
    };
    std::vector<std::vector<std::uint64_t>> coords;
    std::vector<Plane> planes(positions.size());
    std::vector<size_t> planeOf;
    for (size_t k = 0; k < positions.size(); ++k) {
        Plane& plane = planes[k];
        plane.first = coords.size();
        const auto add = [&](const Band& b, std::vector<size_t>& places) {
            std::vector<std::vector<std::uint64_t>> chunks;
            size_t within = 0;
            if (!regionChunks(level.meta, positions[k], static_cast<size_t>(b.x0), static_cast<size_t>(b.x1),
                              static_cast<size_t>(b.y0), static_cast<size_t>(b.y1), chunks, within))
                return false;
            for (auto& c : chunks) {
                const auto at = std::find(coords.begin() + static_cast<std::ptrdiff_t>(plane.first), coords.end(), c);
                places.push_back(static_cast<size_t>(at - coords.begin()) - plane.first);
                if (at == coords.end())
                    coords.push_back(std::move(c));
            }
            return true;
        };
        if (!add(band, plane.mine) || (other && !add(*other, plane.theirs)))
            return ImageBase<T>::GetBandSources(positions, rows, a0, a1);
        plane.count = coords.size() - plane.first;
        planeOf.insert(planeOf.end(), plane.count, k);
    }

    std::vector<ImageSlice<T>> bands(positions.size());
    std::vector<ChunkStore::Result> chunks(coords.size());
    // The chunks used up here: their buffers serve the next downloads.
    const auto giveBack = [](std::vector<ChunkStore::Result>& used) {
        for (ChunkStore::Result& r : used)
            ChunkBufferPool::Shared().Give(std::move(r.bytes));
    };
    const auto cutOut = [&](size_t k) {
        const Plane& plane = planes[k];
        // Two bands of the same chunks (a coarse level's plane in one chunk) share them; a
        // chunk both need otherwise is copied for the first.
        const bool shared = plane.theirs == plane.mine;
        std::vector<size_t> uses(plane.count, 0);
        for (size_t i : plane.mine)
            ++uses[i];
        for (size_t i : plane.theirs)
            uses[i] += shared ? 0 : 1;
        const auto take = [&](const std::vector<size_t>& places) {
            std::vector<ChunkStore::Result> own;
            own.reserve(places.size());
            for (size_t i : places) {
                ChunkStore::Result& r = chunks[plane.first + i];
                own.push_back(--uses[i] == 0 ? std::move(r) : r);
            }
            return own;
        };
        std::vector<ChunkStore::Result> own = take(plane.mine);
        bands[k] = GetBand(positions[k], band.x0, band.x1, band.y0, band.y1, &own);
        if (!other) {
            giveBack(own);
            return;
        }
        std::vector<ChunkStore::Result> their = shared ? std::vector<ChunkStore::Result>() : take(plane.theirs);
        ImageSlice<T> kept = GetBand(positions[k], other->x0, other->x1, other->y0, other->y1, shared ? &own : &their);
        giveBack(own);
        giveBack(their);
        const size_t bytes = other->Samples() * sizeof(T);
        const std::lock_guard<std::mutex> lock(m_expected.mutex);
        // Kept only while the same band is still expected, and within bounds.
        if (!kept.IsEmpty() && m_expected.set && m_expected.band == *other &&
            m_expected.keptBytes + bytes <= kExpectedBandBytes && m_expected.kept.emplace(positions[k], std::move(kept)).second)
            m_expected.keptBytes += bytes;
    };

    // A stream stops at its first lasting failure; that plane is then read on its own and the
    // planes not done yet are streamed again.
    for (size_t k = 0; k < planes.size() && !StopRequested();) {
        std::vector<std::vector<std::uint64_t>> asked;
        std::vector<size_t> at;
        for (size_t j = k; j < planes.size(); ++j) {
            if (planes[j].done)
                continue;
            planes[j].waiting = planes[j].count;
            planes[j].failed = false;
            for (size_t c = planes[j].first; c < planes[j].first + planes[j].count; ++c) {
                asked.push_back(coords[c]);
                at.push_back(c);
            }
        }
        FetchChunksEach(level, asked, kBandAheadChunks, [&](size_t i, ChunkStore::Result&& r) {
            const size_t c = at[i];
            Plane& plane = planes[planeOf[c]];
            plane.failed = plane.failed || r.status == ChunkStore::Status::Failed;
            chunks[c] = std::move(r);
            if (--plane.waiting == 0 && !plane.failed) {
                cutOut(planeOf[c]);
                plane.done = true;
            }
        });
        giveBack(chunks);
        while (k < planes.size() && planes[k].done)
            ++k;
        if (k == planes.size() || StopRequested())
            break;
        bands[k] = this->GetBandSource(positions[k], rows, a0, a1);
        planes[k].done = true;
    }
    return bands;
}

template <class T>
void ZarrReader<T>::ExpectBand(bool rows, int a0, int a1)
{
    const auto level = CurrentLevel();
    const std::lock_guard<std::mutex> lock(m_expected.mutex);
    m_expected.kept.clear();
    m_expected.keptBytes = 0;
    m_expected.set = level && a0 >= 0 && a1 > a0;
    if (!m_expected.set)
        return;
    m_expected.band = Band{rows ? 0 : a0, rows ? level->dims[0] : a1, rows ? a0 : 0, rows ? a1 : level->dims[1]};
}

template <class T>
void ZarrReader<T>::ForgetExpectedBand()
{
    const std::lock_guard<std::mutex> lock(m_expected.mutex);
    m_expected.set = false;
    m_expected.kept.clear();
    m_expected.keptBytes = 0;
}

template <class T>
ImageSlice<T> ZarrReader<T>::takeExpected(const Vector& position, const Band& band)
{
    const std::lock_guard<std::mutex> lock(m_expected.mutex);
    if (m_expected.kept.empty() || !(m_expected.band == band))
        return ImageSlice<T>();
    const auto found = m_expected.kept.find(position);
    if (found == m_expected.kept.end())
        return ImageSlice<T>();
    ImageSlice<T> kept = std::move(found->second);
    m_expected.kept.erase(found);
    m_expected.keptBytes -= band.Samples() * sizeof(T);
    return kept;
}

// One sample needs one chunk (and, for blosc, one of its blocks): the readout follows the
// mouse, and a whole plane per move would be far too slow from a server.
template <class T>
std::optional<double> ZarrReader<T>::GetValue(const Vector& position)
{
    const auto level = CurrentLevel();
    if (!level || position.size() != level->dims.size())
        return std::nullopt;
    const ZarrArrayMeta& meta = level->meta;
    const size_t n = meta.shape.size();
    size_t within = 0, stride = 1;
    std::vector<std::uint64_t> chunk(n);
    for (size_t a = n; a-- > 0;) {
        const int at = position[static_cast<int>(n - 1 - a)];
        if (at < 0 || static_cast<std::uint64_t>(at) >= meta.shape[a])
            return std::nullopt;
        within += (static_cast<size_t>(at) % meta.chunks[a]) * stride;
        stride *= meta.chunks[a];
        chunk[a] = static_cast<std::uint64_t>(at) / meta.chunks[a];
    }
    const size_t bytes = SampleBytes(meta.type);
    unsigned char sample[8];
    const ChunkStore::Result r = std::move(FetchChunks(*level, {chunk}).front());
    std::string why;
    if (r.status == ChunkStore::Status::Failed)
        return std::nullopt;
    if (r.status == ChunkStore::Status::Missing)
        fillSample(meta.fill, meta.type, meta.bigEndian, sample);
    else if (!level->codec->DecodePart(r.bytes.data(), r.bytes.size(), meta.ChunkSamples() * bytes, within * bytes, bytes, sample, why))
        return std::nullopt;
    if (!fileIsNative(meta.bigEndian))
        std::reverse(sample, sample + bytes);
    return SampleValue(sample, meta.type, 0);
}

template <class T>
std::string ZarrReader<T>::GetDimName(unsigned int dim)
{
    const auto level = CurrentLevel();
    if (!level || dim >= level->dims.size())
        return std::string();
    const size_t a = level->dims.size() - 1 - dim;
    if (a < m_axes.size())
        return m_axes[a].name;
    if (dim < 2)
        return dim == 0 ? "x" : "y";
    return "axis " + std::to_string(a);
}

template <class T>
double ZarrReader<T>::GetDimPixelSize(unsigned int dim)
{
    const auto level = CurrentLevel();
    return level && dim < level->nmPerPixel.size() ? level->nmPerPixel[dim] : 0.0;
}

template <class T>
double ZarrReader<T>::GetDimInterval(unsigned int dim)
{
    const auto level = CurrentLevel();
    return level && dim < level->secondsPerIndex.size() ? level->secondsPerIndex[dim] : 0.0;
}

template <class T>
std::string ZarrReader<T>::GetFormatName()
{
    const auto level = CurrentLevel();
    std::string name = m_ome ? "OME-Zarr" : "Zarr";
    if (m_v3)
        name += " v3";
    name += ", " + SampleTypeName(m_type);
    if (level)
        name += ", " + level->codec->Name();
    if (level && level->meta.Sharded())
        name += ", sharded";
    if (m_levels->size() > 1)
        name += ", level " + std::to_string(m_level.load()) + " of " + std::to_string(m_levels->size());
    if (m_store && IsUrl(m_store->Location()))
        name += ", remote";
    return name;
}

template <class T>
std::unique_ptr<ImageReaderBase<T>> ZarrReader<T>::OpenLevel(int level)
{
    if (level <= 0 || level >= static_cast<int>(m_levels->size()))
        return nullptr;
    // Levels are immutable once loaded and the store is safe to share, so the copy only
    // needs its own current level.
    auto copy = std::make_unique<ZarrReader<T>>();
    copy->m_http = m_http;
    copy->m_store = m_store;
    copy->m_levels = m_levels;
    copy->m_level = level;
    copy->m_axes = m_axes;
    copy->m_channels = m_channels;
    copy->m_channelDim = m_channelDim;
    copy->m_ome = m_ome;
    copy->m_v3 = m_v3;
    copy->m_type = m_type;
    copy->m_map = m_map;
    copy->m_groupBands = m_groupBands;
    return copy;
}

template <class T>
std::string ZarrReader<T>::GetIndexName(unsigned int dim, int index)
{
    if (static_cast<int>(dim) != m_channelDim || index < 0 || index >= static_cast<int>(m_channels.size()))
        return std::string();
    return m_channels[static_cast<size_t>(index)].name;
}

template <class T>
void ZarrReader<T>::ForgetFailures()
{
    if (m_store)
        m_store->ForgetFailures();
}

template <class T>
std::string ZarrReader<T>::GetTrouble() const
{
    return m_store ? m_store->Trouble() : std::string();
}

template <class T>
size_t ZarrReader<T>::GetRequestCount() const
{
    return m_store ? m_store->RequestCount() : 0;
}

template <class T>
bool ZarrReader<T>::IsRemote()
{
    return m_store && IsUrl(m_store->Location());
}

template class ZarrReader<unsigned short>;

} // namespace ImageReader
