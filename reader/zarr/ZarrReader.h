#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChunkCodec.h"
#include "ChunkStore.h"
#include "ImageReaderBase.h"
#include "ZarrMetadata.h"

namespace ImageReader {

// Image source for Zarr v2 and v3 arrays (v3 also sharded) and OME-Zarr multiscale images
// (NGFF 0.4 and 0.5), from a folder or an
// http(s) URL. Chunks are read on demand, only those a plane needs; a plane's chunks are
// fetched together (concurrently from a server). The array's axes are reversed, so that
// dimension 0 is x and 1 is y. An absent chunk reads as the array's fill value; a chunk that
// cannot be read or decoded makes its plane missing.
//
// Levels: level 0 is full resolution; SetLevel switches every later read (and GetSize) to a
// coarser level. All levels share one value map, found from the coarsest level.
// GetSlice, GetValue and the queries may run on any thread.
template <class T>
class ZarrReader : public ImageReaderBase<T>
{
public:
    ZarrReader() = default;
    explicit ZarrReader(const std::string& location, HttpOptions http = HttpOptions()) : m_http(http) { OpenLocation(location); }
    ZarrReader(const ZarrReader&) = delete;
    ZarrReader& operator=(const ZarrReader&) = delete;

    // A folder path or an http:// / https:// URL of the group or array.
    void OpenLocation(const std::string& location);
    void Open(const std::filesystem::path& path) override { OpenLocation(path.string()); }
    void Close() override;

    ImageSlice<T> GetSlice(const Vector& position) override;
    // Bands read only the chunks that hold them (see ImageBase).
    ImageSlice<T> GetRows(const Vector& position, int y0, int y1) override;
    ImageSlice<T> GetColumns(const Vector& position, int x0, int x1) override;
    bool ReadsBands() const override { return true; }
    std::vector<ImageSlice<T>> GetBandSources(const std::vector<Vector>& positions, bool rows, int a0, int a1) override;
    // Chunks GetBandSources asks for past the first it has not got yet.
    static constexpr size_t kBandAheadChunks = 16;
    // While bands are fetched a group at a time, the expected band of each plane is cut from
    // the chunks fetched for it (with the ones it needs besides) and kept, up to
    // kExpectedBandBytes, until asked for.
    void ExpectBand(bool rows, int a0, int a1) override;
    void ForgetExpectedBand() override;
    static constexpr size_t kExpectedBandBytes = size_t(64) << 20;
    Vector GetSize() override;
    std::string GetDimName(unsigned int dim) override;
    double GetDimPixelSize(unsigned int dim) override;
    double GetDimInterval(unsigned int dim) override;
    SampleType GetSampleType() override { return m_type; }
    ValueMap GetValueMap() override { return m_map; }
    std::optional<double> GetValue(const Vector& position) override;
    std::string GetFormatName() override;
    std::string GetError() override { return m_error; }
    bool IsRemote() override;
    // From a server, recently fetched chunks are kept (for the other planes of a chunk
    // deeper than one plane): an eighth of the budget, at most HttpOptions::cacheBytes.
    // A folder's files are in the system's page cache already: nothing is kept, 0 returned.
    size_t SetMemoryBudget(size_t budgetBytes) override;
    static constexpr size_t kChunkCacheShare = 8; // the budget's 1/n for chunks
    // True when the image comes from a server and no chunk of any level (nor a shard) spans
    // more than one plane: a chunk is asked for again only by another view of the same plane
    // or a view drawn again, so a caller drawing one picture gains little by keeping chunks.
    bool RemoteChunksHoldOnePlane() const;

    // Resolution levels, finest first.
    int GetLevelCount() const override { return static_cast<int>(m_levels->size()); }
    std::unique_ptr<ImageReaderBase<T>> OpenLevel(int level) override;
    Vector GetLevelSize(int level) const;
    int GetLevel() const { return m_level.load(); }
    // False (and no change) for a level that does not exist.
    bool SetLevel(int level);

    // Channel display hints from OME metadata (may be empty), and the dimension they belong to
    // (-1 when the image has no axis of type "channel" or named "c").
    const std::vector<ZarrChannel>& GetChannels() const { return m_channels; }
    int GetChannelDim() const { return m_channelDim; }
    int GetChannelHintDim() override { return m_channels.empty() ? -1 : m_channelDim; }
    std::vector<ChannelHint> GetChannelHints() override { return m_channels; }
    std::string GetIndexName(unsigned int dim, int index) override;

    // Chunks that failed are asked for again at once (a reload); see HttpOptions::backOffMs.
    void ForgetFailures() override;
    std::string GetTrouble() const override;
    // Requests sent to the server so far (0 for a folder).
    size_t GetRequestCount() const;

private:
    struct Level
    {
        std::string prefix; // key prefix, "" or "0/"
        ZarrArrayMeta meta;
        std::unique_ptr<ChunkCodec> codec;
        Vector dims;        // viewer order
        std::vector<double> nmPerPixel; // viewer order
        std::vector<double> secondsPerIndex; // viewer order; 0 but for axes in a time unit
        // Sharded arrays: the index's size and layout.
        size_t indexBytes = 0;
        bool indexBigEndian = false;
        int indexChecksums = 0;
        std::uint64_t chunkLimit = 0; // the most a stored (inner) chunk may take
    };
    using Levels = std::vector<std::shared_ptr<const Level>>;

    bool Fail(std::string reason);
    std::shared_ptr<Level> LoadLevel(const std::string& prefix, const std::vector<double>& scale, std::string& why);
    // Plane `position` (viewer dimensions 2..) of a level, native byte order.
    bool ReadPlane(const Level& level, const Vector& position, void* dest);
    // Samples [x0, x1) x [y0, y1) of that plane, row by row, native byte order.
    // `fetched`, when given, holds the region's chunks (as FetchChunks returns them) instead.
    bool ReadRegion(const Level& level, const Vector& position, size_t x0, size_t x1, size_t y0, size_t y1, void* dest,
                    const std::vector<ChunkStore::Result>* fetched = nullptr);
    // The same, delivered as display values.
    ImageSlice<T> GetBand(const Vector& position, int x0, int x1, int y0, int y1,
                          const std::vector<ChunkStore::Result>* fetched = nullptr);
    // The stored (inner) chunks at `coords` (array order, in chunk units), in that order: from
    // their keys, or for a sharded array through the shards' indexes.
    std::vector<ChunkStore::Result> FetchChunks(const Level& level, const std::vector<std::vector<std::uint64_t>>& coords);
    // The same chunks, each handed to `each` as soon as it is there (see ChunkStore::GetRangesEach).
    void FetchChunksEach(const Level& level, const std::vector<std::vector<std::uint64_t>>& coords, size_t ahead,
                         const ChunkStore::Each& each);
    std::shared_ptr<const Level> CurrentLevel() const;
    void WarnOnce(const std::string& text);

    HttpOptions m_http;
    std::shared_ptr<ChunkStore> m_store;
    std::shared_ptr<CachingStore> m_chunkCache; // remote images only
    // Whether side views ask for their bands' chunks in one stream: only while no downloaded
    // chunk is kept (a still picture). With the chunk cache on (the window), keeping the
    // chunks costs more than the stream saves: plane by plane measured as fast or faster.
    // Shared by the readers of all levels: the budget is set on the first.
    std::shared_ptr<std::atomic<bool>> m_groupBands = std::make_shared<std::atomic<bool>>(false);
    // The expected band (x0, x1, y0, y1 of each plane) and the ones kept of it, by position.
    struct Band
    {
        int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        bool operator==(const Band& o) const { return x0 == o.x0 && x1 == o.x1 && y0 == o.y0 && y1 == o.y1; }
        size_t Samples() const { return static_cast<size_t>(x1 - x0) * static_cast<size_t>(y1 - y0); }
    };
    struct Expected
    {
        std::mutex mutex;
        bool set = false;
        Band band;
        std::map<Vector, ImageSlice<T>, VectorCompare> kept;
        size_t keptBytes = 0;
    };
    Expected m_expected;
    // The kept band of `position` for the region, taken out; empty when none is kept.
    ImageSlice<T> takeExpected(const Vector& position, const Band& band);
    // The bands of `positions` fetched in one stream, and the `other` band of each kept as expected.
    std::vector<ImageSlice<T>> fetchBands(const Level& level, const std::vector<Vector>& positions, bool rows, int a0,
                                          int a1, const Band* other);
    // Shared with the readers of the other levels: one list, however many levels.
    std::shared_ptr<const Levels> m_levels = std::make_shared<Levels>();
    std::atomic<int> m_level{0};
    std::vector<ZarrAxis> m_axes; // array order; empty for a plain array
    std::vector<ZarrChannel> m_channels;
    int m_channelDim = -1;
    bool m_ome = false;
    bool m_v3 = false;
    SampleType m_type = SampleType::UInt16;
    ValueMap m_map;
    std::string m_error;
    std::mutex m_warnMutex;
    bool m_warned = false;
};

} // namespace ImageReader
