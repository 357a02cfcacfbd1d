#include "ZarrReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "Diagnostics.h"
#include "TimeUnit.h"

namespace ImageReader {

namespace {

// The same bound as the other readers: every view keeps a copy of a plane.
constexpr std::uint64_t kMaxPlaneSamples = std::uint64_t(1) << 28;
constexpr std::uint64_t kMaxChunksPerPlane = std::uint64_t(1) << 16;

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
    m_levels.clear();
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
    m_warned = false;
    if (IsUrl(location)) {
        m_chunkCache = std::make_shared<CachingStore>(std::make_shared<HttpStore>(location, m_http), m_http.cacheBytes);
        m_store = m_chunkCache;
    } else
        m_store = std::make_shared<FolderStore>(location);

    std::string why;
    const ChunkStore::Result attrs = m_store->Get(".zattrs");
    if (attrs.status == ChunkStore::Status::Failed) {
        Fail("the image's attributes cannot be read (" + attrs.why + ")");
        return;
    }
    ZarrMultiscale ms;
    std::string base; // where the image's group is
    if (attrs.status == ChunkStore::Status::Ok) {
        std::string zattrs = text(attrs);
        m_ome = ParseMultiscales(zattrs, ms, why);
        if (!m_ome && why.empty() && IsImageCollection(zattrs)) {
            const ChunkStore::Result inner = m_store->Get("0/.zattrs");
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
    if (m_ome) {
        m_axes = ms.axes;
        // From a server, every level's .zarray in one round of requests (kept by the chunk
        // cache for LoadLevel): the first picture waits for one round trip, not one per level.
        if (m_chunkCache) {
            std::vector<std::string> keys;
            for (const std::string& path : ms.paths)
                keys.push_back(base + path + "/.zarray");
            m_store->GetMany(keys);
        }
        for (size_t k = 0; k < ms.paths.size(); ++k)
            if (!LoadLevel(base + ms.paths[k] + "/", ms.scales[k], why)) {
                Fail("level " + std::to_string(k) + " (" + ms.paths[k] + "): " + why);
                return;
            }
    } else if (!LoadLevel("", {}, why)) {
        Fail(why);
        return;
    }

    const size_t rank = m_levels[0]->meta.shape.size();
    for (const auto& level : m_levels)
        if (level->meta.shape.size() != rank || level->meta.type != m_levels[0]->meta.type) {
            Fail("the resolution levels differ in their number of dimensions or sample type");
            return;
        }
    if (m_ome && !m_axes.empty() && m_axes.size() != rank) {
        Fail("the image names " + std::to_string(m_axes.size()) + " axes but its arrays have " + std::to_string(rank));
        return;
    }
    m_type = m_levels[0]->meta.type;
    for (size_t a = 0; a < m_axes.size(); ++a)
        if (m_axes[a].type == "channel" || (m_axes[a].type.empty() && (m_axes[a].name == "c" || m_axes[a].name == "C")))
            m_channelDim = static_cast<int>(rank - 1 - a);

    // Wider and float types: their range from the coarsest level, so that opening reads little.
    const Level& coarse = *m_levels.back();
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
bool ZarrReader<T>::LoadLevel(const std::string& prefix, const std::vector<double>& scale, std::string& why)
{
    const ChunkStore::Result r = m_store->Get(prefix + ".zarray");
    if (r.status == ChunkStore::Status::Missing) {
        why = prefix.empty() ? "no Zarr array (.zarray) or OME multiscale image (.zattrs) found" : "the array's .zarray is missing";
        return false;
    }
    if (r.status == ChunkStore::Status::Failed) {
        why = "the array's .zarray cannot be read (" + r.why + ")";
        return false;
    }
    auto level = std::make_shared<Level>();
    level->prefix = prefix;
    if (!ParseZarray(text(r), level->meta, why))
        return false;
    level->codec = MakeChunkCodec(level->meta.compressor, SampleBytes(level->meta.type), why);
    if (!level->codec)
        return false;
    const auto& shape = level->meta.shape;
    const size_t n = shape.size();
    if (shape[n - 1] * shape[n - 2] > kMaxPlaneSamples) {
        why = "a plane of " + std::to_string(shape[n - 1]) + " x " + std::to_string(shape[n - 2]) +
              " samples is larger than this viewer can show";
        return false;
    }
    // Tiny chunks over a large plane would mean millions of requests for one picture.
    const std::uint64_t perPlane = ((shape[n - 1] + level->meta.chunks[n - 1] - 1) / level->meta.chunks[n - 1]) *
                                   ((shape[n - 2] + level->meta.chunks[n - 2] - 1) / level->meta.chunks[n - 2]);
    if (perPlane > kMaxChunksPerPlane) {
        why = "a plane is split into " + std::to_string(perPlane) + " chunks; at most " + std::to_string(kMaxChunksPerPlane) +
              " can be read for one plane";
        return false;
    }
    // The number of planes must fit the viewer's integer positions too.
    std::uint64_t planes = 1;
    for (size_t a = 0; a + 2 < n; ++a) {
        planes *= shape[a];
        if (planes > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            why = "the array has more planes than this viewer can address";
            return false;
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
    m_levels.push_back(std::move(level));
    return true;
}

template <class T>
size_t ZarrReader<T>::SetMemoryBudget(size_t budgetBytes)
{
    if (!m_chunkCache)
        return 0;
    const size_t share = std::min(budgetBytes / kChunkCacheShare, m_http.cacheBytes);
    m_chunkCache->SetBudget(share);
    return share;
}

template <class T>
std::shared_ptr<const typename ZarrReader<T>::Level> ZarrReader<T>::CurrentLevel() const
{
    const int k = m_level.load();
    return k >= 0 && k < static_cast<int>(m_levels.size()) ? m_levels[static_cast<size_t>(k)] : nullptr;
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
    return level >= 0 && level < static_cast<int>(m_levels.size()) ? m_levels[static_cast<size_t>(level)]->dims : Vector();
}

template <class T>
bool ZarrReader<T>::SetLevel(int level)
{
    if (level < 0 || level >= static_cast<int>(m_levels.size()))
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
bool ZarrReader<T>::ReadPlane(const Level& level, const Vector& p, void* dest)
{
    const ZarrArrayMeta& meta = level.meta;
    const size_t n = meta.shape.size();
    if (p.size() + 2 != n)
        return false;
    const size_t bytes = SampleBytes(meta.type);
    const size_t Y = meta.shape[n - 2], X = meta.shape[n - 1];
    const size_t cy = meta.chunks[n - 2], cx = meta.chunks[n - 1];

    // The plane's chunk coordinates along the outer axes, and where the plane starts in them.
    std::string outer;
    size_t within = 0, stride = cy * cx;
    for (size_t a = n - 2; a-- > 0;) {
        const int at = p[static_cast<int>(n - 3 - a)];
        if (at < 0 || static_cast<std::uint64_t>(at) >= meta.shape[a])
            return false;
        within += (static_cast<size_t>(at) % meta.chunks[a]) * stride;
        stride *= meta.chunks[a];
    }
    for (size_t a = 0; a + 2 < n; ++a)
        outer += std::to_string(static_cast<size_t>(p[static_cast<int>(n - 3 - a)]) / meta.chunks[a]) + meta.separator;

    const size_t ny = (Y + cy - 1) / cy, nx = (X + cx - 1) / cx;
    std::vector<std::string> keys;
    keys.reserve(ny * nx);
    for (size_t jy = 0; jy < ny; ++jy)
        for (size_t jx = 0; jx < nx; ++jx)
            keys.push_back(level.prefix + outer + std::to_string(jy) + meta.separator + std::to_string(jx));
    const std::vector<ChunkStore::Result> chunks = m_store->GetMany(keys);

    unsigned char fill[8];
    fillSample(meta.fill, meta.type, meta.bigEndian, fill);
    const size_t chunkBytes = meta.ChunkSamples() * bytes;
    const size_t partBytes = cy * cx * bytes; // the plane's rows within a chunk
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
    auto work = [&] {
        std::unique_ptr<unsigned char, decltype(&std::free)> part(nullptr, &std::free);
        for (size_t i = next++; i < chunks.size() && !failed; i = next++) {
            const size_t jy = i / nx, jx = i % nx;
            const ChunkStore::Result& r = chunks[i];
            const size_t h = std::min(cy, Y - jy * cy), w = std::min(cx, X - jx * cx);
            if (r.status == ChunkStore::Status::Missing) {
                for (size_t yy = 0; yy < h; ++yy) {
                    unsigned char* row = out + ((jy * cy + yy) * X + jx * cx) * bytes;
                    for (size_t xx = 0; xx < w; ++xx)
                        std::memcpy(row + xx * bytes, fill, bytes);
                }
                continue;
            }
            if (!part)
                part.reset(static_cast<unsigned char*>(std::malloc(partBytes)));
            std::string why = "out of memory";
            if (!part || !level.codec->DecodePart(r.bytes.data(), r.bytes.size(), chunkBytes, within * bytes, partBytes, part.get(), why)) {
                const std::lock_guard<std::mutex> lock(whyMutex);
                if (!failed.exchange(true))
                    firstWhy = keys[i] + ": " + why;
                return;
            }
            for (size_t yy = 0; yy < h; ++yy)
                std::memcpy(out + ((jy * cy + yy) * X + jx * cx) * bytes, part.get() + yy * cx * bytes, w * bytes);
        }
    };
    const size_t helpers = std::min<size_t>(chunks.size() / 2, std::min(3u, std::max(1u, std::thread::hardware_concurrency()) - 1));
    std::vector<std::thread> threads;
    for (size_t t = 0; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (failed) {
        WarnOnce("A chunk of " + m_store->Location() + " is damaged (" + firstWhy + "); its planes are shown black.");
        return false;
    }
    if (!fileIsNative(meta.bigEndian) && bytes > 1)
        swapSamples(out, X * Y, bytes);
    return true;
}

template <class T>
ImageSlice<T> ZarrReader<T>::GetSlice(const Vector& position)
{
    const auto level = CurrentLevel();
    if (!level || position.size() + 2 != level->dims.size())
        return ImageSlice<T>();
    const size_t samples = static_cast<size_t>(level->dims[0]) * static_cast<size_t>(level->dims[1]);
    T* result = static_cast<T*>(std::malloc(samples * sizeof(T)));
    if (!result)
        return ImageSlice<T>();
    bool ok = false;
    if (m_type == SampleType::UInt16) {
        ok = ReadPlane(*level, position, result);
    } else if (void* raw = std::malloc(samples * SampleBytes(m_type))) {
        ok = ReadPlane(*level, position, raw);
        if (ok)
            ConvertToDisplay(raw, m_type, m_map, result, samples);
        std::free(raw);
    }
    if (!ok) {
        std::free(result);
        return ImageSlice<T>();
    }
    return ImageSlice<T>(Vector(level->dims[0], level->dims[1]), result);
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
    std::string key = level->prefix;
    size_t within = 0, stride = 1;
    for (size_t a = n; a-- > 0;) {
        const int at = position[static_cast<int>(n - 1 - a)];
        if (at < 0 || static_cast<std::uint64_t>(at) >= meta.shape[a])
            return std::nullopt;
        within += (static_cast<size_t>(at) % meta.chunks[a]) * stride;
        stride *= meta.chunks[a];
    }
    for (size_t a = 0; a < n; ++a)
        key += (a ? std::string(1, meta.separator) : std::string()) +
               std::to_string(static_cast<size_t>(position[static_cast<int>(n - 1 - a)]) / meta.chunks[a]);
    const size_t bytes = SampleBytes(meta.type);
    unsigned char sample[8];
    const ChunkStore::Result r = m_store->Get(key);
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
    name += ", " + SampleTypeName(m_type);
    if (level)
        name += ", " + level->codec->Name();
    if (m_levels.size() > 1)
        name += ", level " + std::to_string(m_level.load()) + " of " + std::to_string(m_levels.size());
    if (m_store && IsUrl(m_store->Location()))
        name += ", remote";
    return name;
}

template <class T>
std::unique_ptr<ImageReaderBase<T>> ZarrReader<T>::OpenLevel(int level)
{
    if (level <= 0 || level >= static_cast<int>(m_levels.size()))
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
    copy->m_type = m_type;
    copy->m_map = m_map;
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
bool ZarrReader<T>::IsRemote()
{
    return m_store && IsUrl(m_store->Location());
}

template class ZarrReader<unsigned short>;

} // namespace ImageReader
