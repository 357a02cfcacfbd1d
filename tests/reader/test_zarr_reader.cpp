#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "ChunkCodec.h"
#include "ChunkStore.h"
#include "Diagnostics.h"
#include "LoopbackServer.h"
#include "OpenImage.h"
#include "TestData.h"
#include "ZarrReader.h"

using ImageReader::HttpOptions;
using ImageReader::SampleType;
using ImageReader::Vector;
using Reader = ImageReader::ZarrReader<unsigned short>;

namespace {

// The formula scripts/make-zarr-testdata.py wrote every sample with (viewer order: x, y, ...).
double Expected(SampleType type, const std::vector<int>& at)
{
    static const long long weights[] = {1, 50, 2000, 9000, 30000};
    long long base = 0;
    for (size_t i = 0; i < at.size(); ++i)
        base += at[i] * weights[i];
    switch (type) {
    case SampleType::UInt8: return static_cast<double>(base % 251);
    case SampleType::UInt16: return static_cast<double>(base % 65536);
    case SampleType::Int16: return static_cast<double>(base % 60000 - 30000);
    case SampleType::Float32: return static_cast<double>(static_cast<float>(base * 0.25 - 100));
    default: return NAN;
    }
}

std::string Data(const std::string& name)
{
    return testdata::Path("zarr/" + name);
}

// Visits every plane position of `size` (dimensions 2..), dimension 2 fastest.
template <class F>
void ForEachPlane(const Vector& size, F f)
{
    std::vector<int> p(size.size() - 2, 0);
    for (;;) {
        Vector v;
        for (int c : p)
            v.push_back(c);
        f(p, v);
        size_t i = 0;
        for (; i < p.size(); ++i) {
            if (++p[i] < size[static_cast<int>(i + 2)])
                break;
            p[i] = 0;
        }
        if (i == p.size())
            return;
    }
}

// Checks every sample of every plane against the formula at `level` (level k holds level 0's
// samples at x * 2^k, y * 2^k). `fill` says which samples read as the fill value and
// `missing` which planes must be absent. Returns the number of planes compared.
template <class Fill, class Missing>
int CheckAll(Reader& reader, int level, Fill fill, Missing missing, double fillValue = 7.0)
{
    const Vector size = reader.GetSize();
    const SampleType type = reader.GetSampleType();
    const auto map = reader.GetValueMap();
    // Display values are exact for 8/16-bit types; floats may be off by half a display step.
    const double tolerance = ImageReader::IsFloat(type) ? map.scale * 0.5 + 1e-9 : 0.0;
    int planes = 0;
    ForEachPlane(size, [&](const std::vector<int>& p, const Vector& v) {
        const auto slice = reader.GetSlice(v);
        if (missing(p)) {
            EXPECT_TRUE(slice.IsEmpty());
            return;
        }
        ASSERT_FALSE(slice.IsEmpty());
        ASSERT_EQ(slice.GetSize(), Vector(size[0], size[1]));
        ++planes;
        int wrong = 0;
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x) {
                std::vector<int> at = {x << level, y << level};
                at.insert(at.end(), p.begin(), p.end());
                const double want = fill(at) ? fillValue : Expected(type, at);
                const double got = map.ToReal(slice.GetData()[static_cast<size_t>(y) * static_cast<size_t>(size[0]) + static_cast<size_t>(x)]);
                if (std::fabs(got - want) > tolerance && ++wrong < 4)
                    ADD_FAILURE() << "at x " << x << " y " << y << " plane " << planes << ": " << got << " != " << want;
            }
    });
    return planes;
}

const auto kNoFill = [](const std::vector<int>&) { return false; };
const auto kNoneMissing = [](const std::vector<int>&) { return false; };

// ome5d.zarr's removed chunk (level 0: t 1, c 2, z 2..3, y 16..31, x 0..15) and damaged chunk
// (level 0: t 0, c 1, z 0..1).
bool OmeFill(const std::vector<int>& a)
{
    return a[4] == 1 && a[3] == 2 && a[2] >= 2 && a[1] >= 16 && a[1] < 32 && a[0] < 16;
}
bool OmeMissing(const std::vector<int>& p)
{
    return p[2] == 0 && p[1] == 1 && p[0] < 2;
}

class Quiet : public ::testing::Test
{
protected:
    void SetUp() override { previous = ImageReader::SetDiagnosticHandler([](const std::string&) {}); }
    void TearDown() override { ImageReader::SetDiagnosticHandler(previous); }
    ImageReader::DiagnosticHandler previous;
};

using ZarrFolder = Quiet;
using ZarrHttp = Quiet;

TEST_F(ZarrFolder, PlainArraysOfEachTypeCompressorAndSeparator)
{
    const struct
    {
        const char* name;
        SampleType type;
        const char* format;
        std::vector<int> size; // viewer order
    } cases[] = {
        {"u8_none.zarr", SampleType::UInt8, "uncompressed", {40, 30}},
        {"i16_zlib.zarr", SampleType::Int16, "zlib", {40, 30, 3}},
        {"f32_gzip.zarr", SampleType::Float32, "gzip", {40, 30, 3}},
        {"be_u2_zstd.zarr", SampleType::UInt16, "zstd", {40, 30, 3, 2}},
        {"u16_blosc_zstd.zarr", SampleType::UInt16, "blosc/zstd", {40, 30, 2}},
        {"dask_u16.zarr", SampleType::UInt16, "blosc/lz4", {40, 30, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto opened = ImageReader::OpenImage(Data(c.name));
        ASSERT_TRUE(opened.reader) << opened.error;
        auto* reader = dynamic_cast<Reader*>(opened.reader.get());
        ASSERT_NE(reader, nullptr);
        Vector want;
        for (int s : c.size)
            want.push_back(s);
        EXPECT_EQ(reader->GetSize(), want);
        EXPECT_EQ(reader->GetSampleType(), c.type);
        EXPECT_EQ(reader->GetDimName(0), "x");
        EXPECT_EQ(reader->GetDimName(1), "y");
        EXPECT_EQ(reader->GetLevelCount(), 1);
        EXPECT_NE(reader->GetFormatName().find(c.format), std::string::npos) << reader->GetFormatName();
        EXPECT_EQ(CheckAll(*reader, 0, kNoFill, kNoneMissing), want.prod() / (want[0] * want[1]));
        // Real values at a far corner, from the file itself for floats.
        std::vector<int> corner;
        Vector v;
        for (int s : c.size) {
            corner.push_back(s - 1);
            v.push_back(s - 1);
        }
        const auto value = reader->GetValue(v);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, Expected(c.type, corner));
    }
}

TEST_F(ZarrFolder, OmeImageAxesUnitsChannelsAndLevels)
{
    Reader reader(Data("ome5d.zarr"));
    ASSERT_EQ(reader.GetError(), "");
    const std::vector<std::vector<int>> levels = {{50, 40, 4, 3, 2}, {25, 20, 4, 3, 2}, {13, 10, 4, 3, 2}};
    ASSERT_EQ(reader.GetLevelCount(), 3);
    for (int k = 0; k < 3; ++k) {
        Vector want;
        for (int s : levels[static_cast<size_t>(k)])
            want.push_back(s);
        EXPECT_EQ(reader.GetLevelSize(k), want);
    }
    EXPECT_EQ(reader.GetSize(), reader.GetLevelSize(0));
    const char* names[] = {"x", "y", "z", "c", "t"};
    // x is in nanometres, y and z in micrometres; channel and time have no length.
    const double nm[] = {0.125, 250, 500, 0, 0};
    for (unsigned d = 0; d < 5; ++d) {
        EXPECT_EQ(reader.GetDimName(d), names[d]);
        EXPECT_DOUBLE_EQ(reader.GetDimPixelSize(d), nm[d]) << d;
    }
    EXPECT_EQ(reader.GetChannelDim(), 3);
    const auto& ch = reader.GetChannels();
    ASSERT_EQ(ch.size(), 3u);
    EXPECT_EQ(ch[0].name, "DAPI");
    EXPECT_TRUE(ch[0].hasColor && ch[0].red == 0 && ch[0].green == 0 && ch[0].blue == 255);
    EXPECT_TRUE(ch[2].hasColor && ch[2].red == 255 && ch[2].green == 0 && ch[2].blue == 0);
    EXPECT_TRUE(ch[2].hasWindow && ch[2].windowStart == 5 && ch[2].windowEnd == 500);

    EXPECT_EQ(CheckAll(reader, 0, OmeFill, OmeMissing), 24 - 2);
    // Single values: from the formula, the fill value of the removed chunk, none from the damaged one.
    const struct
    {
        std::vector<int> at;
        std::optional<double> want;
    } values[] = {
        {{49, 39, 3, 2, 1}, Expected(SampleType::UInt16, {49, 39, 3, 2, 1})},
        {{0, 16, 2, 2, 1}, 7.0},
        {{20, 3, 1, 1, 0}, std::nullopt},
        {{50, 0, 0, 0, 0}, std::nullopt},
    };
    for (const auto& v : values) {
        Vector at;
        for (int c : v.at)
            at.push_back(c);
        EXPECT_EQ(reader.GetValue(at), v.want) << v.at[0] << " " << v.at[1];
    }

    EXPECT_FALSE(reader.SetLevel(3));
    EXPECT_FALSE(reader.SetLevel(-1));
    ASSERT_TRUE(reader.SetLevel(2));
    EXPECT_EQ(reader.GetSize(), reader.GetLevelSize(2));
    EXPECT_DOUBLE_EQ(reader.GetDimPixelSize(0), 0.5);
    EXPECT_DOUBLE_EQ(reader.GetDimPixelSize(1), 1000);
    EXPECT_EQ(CheckAll(reader, 2, kNoFill, kNoneMissing), 24);
}

TEST_F(ZarrFolder, FolderIsRecognisedByNameOrMetadata)
{
    // An OME group's inner array is a Zarr folder too (it holds .zarray, without the suffix).
    const auto level = ImageReader::OpenImage(Data("ome5d.zarr/1"));
    ASSERT_TRUE(level.reader) << level.error;
    EXPECT_EQ(level.reader->GetSize()[0], 25);
    EXPECT_EQ(ImageReader::OpenImage(testdata::Path("zarr")).error, "a folder, not an image file");
}

TEST_F(ZarrFolder, FirstImageOfACollectionOpens)
{
    // A collection keeps its images in numbered groups, the first in "0/".
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("lumora_zarr_collection_" + std::to_string(::getpid()) + ".zarr");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::copy(Data("ome5d.zarr"), dir / "0", std::filesystem::copy_options::recursive);
    std::ofstream(dir / ".zattrs") << R"({"bioformats2raw.layout": 3})";
    std::ofstream(dir / ".zgroup") << R"({"zarr_format": 2})";
    Reader reader(dir.string());
    EXPECT_EQ(reader.GetError(), "");
    EXPECT_EQ(reader.GetLevelCount(), 3);
    EXPECT_EQ(reader.GetChannels().size(), 3u);
    ASSERT_TRUE(reader.SetLevel(1));
    EXPECT_EQ(CheckAll(reader, 1, kNoFill, kNoneMissing), 24);
    std::filesystem::remove_all(dir);
}

TEST_F(ZarrFolder, BadMetadataIsRefusedWithAReason)
{
    const struct
    {
        const char* name;
        const char* reason; // part of the message
    } cases[] = {
        {"bad_json.zarr", "not valid JSON"},   {"bad_dtype.zarr", "<c8"},          {"bad_shape.zarr", "shape"},
        {"bad_chunks.zarr", "chunks"},         {"bad_rank.zarr", "lengths"},       {"bad_huge.zarr", "larger than"},
        {"bad_compressor.zarr", "lzma"},       {"bad_format.zarr", "format 2"},    {"bad_1d.zarr", "1 dimension"},
        {"bad_axes.zarr", "axes"},             {"bad_order_f.zarr", "C-ordered"},  {"no_such.zarr", "not found"},
        {"bad_extent.zarr", "unusable extent"}, {"bad_tiny_chunks.zarr", "262144 chunks"},
    };
    for (const auto& c : cases) {
        const auto opened = ImageReader::OpenImage(Data(c.name));
        EXPECT_FALSE(opened.reader) << c.name;
        EXPECT_NE(opened.error.find(c.reason), std::string::npos) << c.name << ": " << opened.error;
    }
}

TEST(ZarrAttributes, MultiscaleEntriesAreCheckedBeforeUse)
{
    const std::string axes = R"("axes":[{"name":"y","type":"space","unit":"micrometer"},{"name":"x","type":"space"}])";
    const struct
    {
        std::string datasets; // the "datasets" entry, and what follows it
        const char* refusal;  // part of the reason; null when accepted
        std::vector<double> scale; // level 0's factors when accepted
    } cases[] = {
        {R"([{"path":"0","coordinateTransformations":[{"type":"scale","scale":[2,3]}]}])", nullptr, {2, 3}},
        // Factors of the whole image multiply those of each level.
        {R"([{"path":"0","coordinateTransformations":[{"type":"scale","scale":[2,3]}]}],
            "coordinateTransformations":[{"type":"scale","scale":[10,0.5]}])", nullptr, {20, 1.5}},
        {R"([{"path":"0"}])", nullptr, {1, 1}},
        {R"([{"path":"0","coordinateTransformations":[{"type":"scale","scale":[2]}]}])", "one factor per axis", {}},
        {R"([{"path":"0","coordinateTransformations":[{"type":"scale","scale":[2,-1]}]}])", "positive", {}},
        {R"([{"path":"../elsewhere"}])", "usable path", {}},
        {R"([{"path":"/etc"}])", "usable path", {}},
        {R"([])", "no datasets", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.datasets);
        ImageReader::ZarrMultiscale ms;
        std::string why;
        const bool ok = ImageReader::ParseMultiscales(R"({"multiscales":[{)" + axes + R"(,"datasets":)" + c.datasets + "}]}", ms, why);
        if (!c.refusal) {
            ASSERT_TRUE(ok) << why;
            ASSERT_EQ(ms.axes.size(), 2u);
            EXPECT_EQ(ms.axes[0].unit, "micrometer");
            EXPECT_EQ(ms.scales[0], c.scale);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
        }
    }
    // Attributes without an image are not an error; broken JSON is.
    ImageReader::ZarrMultiscale ms;
    std::string why;
    EXPECT_FALSE(ImageReader::ParseMultiscales(R"({"other":1})", ms, why));
    EXPECT_EQ(why, "");
    EXPECT_FALSE(ImageReader::ParseMultiscales("{", ms, why));
    EXPECT_NE(why, "");
}

TEST(ZarrAttributes, ChannelHintsSkipWhatIsMalformed)
{
    const auto channels = ImageReader::ParseOmeroChannels(R"({"omero":{"channels":[
        {"label":"a","color":"12AB3f","window":{"start":-5.5,"end":100}},
        {"label":7,"color":"red","window":{"start":"0","end":1}},
        "not a channel"]}})");
    ASSERT_EQ(channels.size(), 3u);
    EXPECT_EQ(channels[0].name, "a");
    EXPECT_TRUE(channels[0].hasColor);
    EXPECT_EQ(channels[0].red, 0x12);
    EXPECT_EQ(channels[0].green, 0xAB);
    EXPECT_EQ(channels[0].blue, 0x3F);
    EXPECT_TRUE(channels[0].hasWindow);
    EXPECT_EQ(channels[0].windowStart, -5.5);
    EXPECT_EQ(channels[0].windowEnd, 100);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(channels[i].name, "");
        EXPECT_FALSE(channels[i].hasColor);
        EXPECT_FALSE(channels[i].hasWindow);
    }
    EXPECT_TRUE(ImageReader::ParseOmeroChannels("[1,2]").empty());
}

TEST(ZarrCodec, DamagedAndMisSizedChunksAreRefused)
{
    std::vector<std::uint16_t> raw(4096);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint16_t>(i * 7 % 1000);
    const size_t bytes = raw.size() * 2;
    for (const char* json : {"null", R"({"id":"blosc","cname":"lz4","shuffle":1})", R"({"id":"blosc","cname":"zstd","shuffle":2})",
                             R"({"id":"zlib","level":1})", R"({"id":"gzip"})", R"({"id":"zstd","level":1})"}) {
        SCOPED_TRACE(json);
        std::string why;
        const auto codec = ImageReader::MakeChunkCodec(json, 2, why);
        ASSERT_TRUE(codec) << why;
        std::vector<std::uint8_t> stored;
        ASSERT_TRUE(codec->Encode(raw.data(), bytes, stored));
        std::vector<std::uint16_t> back(raw.size() + 1, 0xBEEF);
        ASSERT_TRUE(codec->Decode(stored.data(), stored.size(), back.data(), bytes, why)) << why;
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(), back.begin()));
        EXPECT_EQ(back.back(), 0xBEEF); // nothing written past the chunk
        // Short by a byte, or expected to hold more than it does: refused with a reason.
        why.clear();
        EXPECT_FALSE(codec->Decode(stored.data(), stored.size() - 1, back.data(), bytes, why));
        EXPECT_FALSE(why.empty());
        EXPECT_FALSE(codec->Decode(stored.data(), stored.size(), back.data(), bytes + 2, why));
    }
}

// A store whose keys hold their own length in bytes ("k12" holds 12), counting the fetches.
class CountingStore : public ImageReader::ChunkStore
{
public:
    std::vector<Result> GetRanges(const std::vector<Range>& ranges) override
    {
        std::vector<Result> results;
        for (const Range& range : ranges) {
            const std::string& key = range.key;
            ++fetches[key];
            Result r;
            r.status = key[0] == 'x' ? Status::Failed : Status::Ok;
            if (r.status == Status::Ok)
                r.bytes.assign(std::stoul(key.substr(1)), static_cast<std::uint8_t>(key.size()));
            results.push_back(r);
        }
        return results;
    }
    std::string Location() const override { return "counting"; }
    std::map<std::string, int> fetches;
};

TEST(ZarrCache, KeepsRecentKeysWithinItsBudget)
{
    auto inner = std::make_shared<CountingStore>();
    // Each entry costs its bytes, its key and 96 bytes of bookkeeping: five 20-byte keys fill
    // the budget; entries up to a quarter of it (148) are kept.
    ImageReader::CachingStore cache(inner, 5 * (20 + 3 + 96));
    // Each step: the keys read, then the total fetches of each key in `check` afterwards.
    const struct
    {
        std::vector<std::string> read;
        std::map<std::string, int> check;
    } steps[] = {
        {{"a20", "b20", "c20", "d20", "e20"}, {{"a20", 1}, {"e20", 1}}},
        {{"a20", "e20"}, {{"a20", 1}, {"e20", 1}}},         // both kept; a20 is now the most recent
        {{"f20"}, {{"f20", 1}}},                            // over budget: the least recent (b20) goes
        {{"b20", "a20"}, {{"b20", 2}, {"a20", 1}}},
        {{"z90", "z90"}, {{"z90", 2}}},                     // too large to keep
        {{"x1", "x1"}, {{"x1", 2}}},                        // failures are never kept
    };
    for (const auto& step : steps) {
        const auto results = cache.GetMany(step.read);
        ASSERT_EQ(results.size(), step.read.size());
        for (size_t i = 0; i < results.size(); ++i)
            if (step.read[i][0] != 'x') {
                EXPECT_EQ(results[i].bytes.size(), std::stoul(step.read[i].substr(1)));
            }
        for (const auto& [key, count] : step.check)
            EXPECT_EQ(inner->fetches[key], count) << key;
    }
}

// Chunk buffers wait in the pool for chunks of about their size and come back empty; the
// pool keeps the largest within its bounds and neither tiny nor huge ones.
TEST(ZarrBuffers, PoolHandsOutEmptyBuffersOfFittingSizeWithinItsBounds)
{
    using Pool = ImageReader::ChunkBufferPool;
    constexpr size_t K = 1024;
    Pool pool(1000 * K, 3);
    const auto buffer = [](size_t bytes, std::uint8_t fill) {
        Pool::Buffer b;
        b.reserve(bytes);
        b.assign(bytes, fill);
        return b;
    };
    pool.Give(buffer(200 * K, 0xab));
    EXPECT_EQ(pool.WaitingCount(), 1u);
    EXPECT_EQ(pool.WaitingBytes(), 200 * K);
    // A smaller chunk takes it, empty: nothing of the last chunk shows.
    Pool::Buffer got = pool.Take(150 * K);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(got.capacity(), 200 * K);
    EXPECT_EQ(pool.WaitingCount(), 0u);
    pool.Give(std::move(got));
    // A larger chunk cannot use it, nor one that would waste more than half of it.
    EXPECT_GE(pool.Take(300 * K).capacity(), 300 * K);
    EXPECT_LT(pool.Take(90 * K).capacity(), 200 * K);
    EXPECT_EQ(pool.WaitingCount(), 1u);
    // Tiny and huge buffers are never kept.
    pool.Give(buffer(Pool::kPooledFrom - 1, 1));
    pool.Give(buffer(Pool::kLargest + 1, 1));
    EXPECT_EQ(pool.WaitingCount(), 1u);
    // Past three buffers or 1000 KiB the smallest go first.
    for (size_t kib : {300, 200, 400})
        pool.Give(buffer(kib * K, 2));
    EXPECT_EQ(pool.WaitingCount(), 3u);
    EXPECT_EQ(pool.WaitingBytes(), 900 * K);
    pool.Give(buffer(350 * K, 3)); // 1250 KiB: the 200 and then the 300 KiB ones are freed
    EXPECT_EQ(pool.WaitingCount(), 2u);
    EXPECT_EQ(pool.WaitingBytes(), 750 * K);
    // The smallest that fits.
    EXPECT_EQ(pool.Take(340 * K).capacity(), 350 * K);
    EXPECT_EQ(pool.Take(340 * K).capacity(), 400 * K);
    EXPECT_EQ(pool.WaitingBytes(), 0u);
    pool.Give(buffer(100 * K, 4));
    pool.Drop();
    EXPECT_EQ(pool.WaitingCount(), 0u);
    EXPECT_EQ(pool.WaitingBytes(), 0u);
}

// Chunks of very different sizes, read through buffers that pass from chunk to chunk (the
// pool, the chunk cache's copies), with a download cut short in the middle: every plane that
// can be read has exactly its samples, from the server as from the folder.
TEST_F(ZarrHttp, ReusedChunkBuffersCarryNothingIntoTheNextChunk)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("lumora_zarr_pool_" + std::to_string(::getpid()));
    const std::filesystem::path image = dir / "pool.zarr";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(image);
    constexpr int kPlanes = 4, kSide = 300, kChunk = 256;
    // Each chunk's samples keep 16, 12, 8 or no random bits: blosc makes them from about
    // 128 KiB down to almost nothing.
    const auto value = [](int x, int y, int z) {
        std::uint64_t h = (std::uint64_t(x) * 73856093u) ^ (std::uint64_t(y) * 19349663u) ^ (std::uint64_t(z) * 83492791u);
        h ^= h >> 13;
        h *= 0x9e3779b97f4a7c15ull;
        h ^= h >> 29;
        static const unsigned masks[] = {0xffff, 0x0fff, 0x00ff, 0};
        const unsigned mask = masks[(z + y / kChunk + 2 * (x / kChunk)) % 4];
        return static_cast<unsigned short>((h & mask) | (~mask & 0x1234u));
    };
    std::string why;
    const auto codec = ImageReader::MakeChunkCodec(R"({"id":"blosc","cname":"lz4","clevel":5,"shuffle":1})", 2, why);
    ASSERT_TRUE(codec) << why;
    std::ofstream(image / ".zarray") << R"({"zarr_format":2,"shape":[4,300,300],"chunks":[1,256,256],"dtype":"<u2",)"
                                        R"("compressor":{"id":"blosc","cname":"lz4","clevel":5,"shuffle":1},"fill_value":0,)"
                                        R"("order":"C","filters":null})";
    size_t smallest = SIZE_MAX, largest = 0;
    for (int z = 0; z < kPlanes; ++z)
        for (int cy = 0; cy < 2; ++cy)
            for (int cx = 0; cx < 2; ++cx) {
                std::vector<unsigned short> chunk(kChunk * kChunk);
                for (int y = 0; y < kChunk; ++y)
                    for (int x = 0; x < kChunk; ++x)
                        chunk[static_cast<size_t>(y * kChunk + x)] = value(cx * kChunk + x, cy * kChunk + y, z);
                std::vector<std::uint8_t> stored;
                ASSERT_TRUE(codec->Encode(chunk.data(), chunk.size() * 2, stored));
                smallest = std::min(smallest, stored.size());
                largest = std::max(largest, stored.size());
                std::ofstream(image / (std::to_string(z) + "." + std::to_string(cy) + "." + std::to_string(cx)), std::ios::binary)
                    .write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
            }
    // The point of the test: chunks on both sides of the pool's smallest buffer.
    ASSERT_LT(smallest, ImageReader::ChunkBufferPool::kPooledFrom);
    ASSERT_GT(largest, ImageReader::ChunkBufferPool::kPooledFrom + ImageReader::ChunkBufferPool::kPooledFrom / 2);

    using Action = LoopbackServer::Action;
    const std::string cut = "pool.zarr/2.1.0"; // announces 100000 bytes, sends a few, hangs up
    LoopbackServer server(dir, [&](const std::string& path) { return path == cut ? Action::Drop : Action::Serve; });
    HttpOptions options;
    options.retries = 0;
    Reader remote(server.Url("pool.zarr"), options), folder(image.string());
    ASSERT_EQ(remote.GetError(), "");
    ASSERT_EQ(folder.GetError(), "");
    // A chunk cache of a few large chunks: copies are made, kept and evicted all along.
    remote.SetMemoryBudget(Reader::kChunkCacheShare * 600 * 1024);
    for (int round = 0; round < 2; ++round)
        for (int z : {0, 2, 1, 3}) {
            SCOPED_TRACE("round " + std::to_string(round) + " plane " + std::to_string(z));
            Vector p;
            p.push_back(z);
            const auto fromServer = remote.GetSlice(p);
            const auto fromFolder = folder.GetSlice(p);
            ASSERT_FALSE(fromFolder.IsEmpty());
            if (z == 2) {
                EXPECT_TRUE(fromServer.IsEmpty());
                continue;
            }
            ASSERT_FALSE(fromServer.IsEmpty());
            int wrong = 0;
            for (const auto* slice : {&fromServer, &fromFolder})
                for (int y = 0; y < kSide; ++y)
                    for (int x = 0; x < kSide; ++x)
                        wrong += slice->GetData()[y * kSide + x] != value(x, y, z);
            EXPECT_EQ(wrong, 0);
        }
    std::filesystem::remove_all(dir);
}

TEST_F(ZarrHttp, SameValuesAsFromTheFolderWithFewRequests)
{
    LoopbackServer server(testdata::Path("zarr"));
    for (const char* name : {"be_u2_zstd.zarr", "f32_gzip.zarr"}) {
        // The window hands OpenImage a filesystem path made from the command line's text.
        auto opened = ImageReader::OpenImage(std::filesystem::path(server.Url(name)));
        ASSERT_TRUE(opened.reader) << opened.error;
        auto* reader = dynamic_cast<Reader*>(opened.reader.get());
        ASSERT_NE(reader, nullptr);
        EXPECT_NE(reader->GetFormatName().find("remote"), std::string::npos);
        EXPECT_GT(CheckAll(*reader, 0, kNoFill, kNoneMissing), 0);
    }
    Reader ome(server.Url("ome5d.zarr/"));
    ASSERT_EQ(ome.GetError(), "");
    EXPECT_EQ(ome.GetChannels().size(), 3u);
    // One plane needs the 3 x 4 chunks that cover it and nothing else.
    const int before = server.Requests();
    Vector p;
    p.push_back(3); p.push_back(1); p.push_back(1);
    ASSERT_FALSE(ome.GetSlice(p).IsEmpty());
    EXPECT_EQ(server.Requests() - before, 12);
    // Its neighbour in z shares those chunks (2 planes deep), kept from the first read.
    p[0] = 2;
    ASSERT_FALSE(ome.GetSlice(p).IsEmpty());
    EXPECT_EQ(server.Requests() - before, 12);
    // A memory budget too small for any chunk: its share keeps none, so planes fetch again.
    EXPECT_EQ(ome.SetMemoryBudget(800), 100u);
    ASSERT_FALSE(ome.GetSlice(p).IsEmpty());
    EXPECT_EQ(server.Requests() - before, 24);
    EXPECT_EQ(ome.SetMemoryBudget(size_t(64) << 20), size_t(8) << 20);
    // A value needs its one chunk, once.
    Vector at(5, 6);
    for (int c : {3, 1, 0})
        at.push_back(c);
    const int beforeValue = server.Requests();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(ome.GetValue(at), Expected(SampleType::UInt16, {5, 6, 3, 1, 0}));
    EXPECT_EQ(server.Requests() - beforeValue, 1);

    // Connections stay open from plane to plane: a handful serve a whole image.
    const int connections = server.Connections(), requests = server.Requests();
    {
        Reader again(server.Url("be_u2_zstd.zarr"));
        EXPECT_EQ(CheckAll(again, 0, kNoFill, kNoneMissing), 6);
    }
    EXPECT_GE(server.Requests() - requests, 20);
    EXPECT_LE(server.Connections() - connections, 4);

    // Several threads reading at once (the viewer's workers) get the same planes.
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] { EXPECT_EQ(CheckAll(ome, 0, OmeFill, OmeMissing), 22); });
    for (std::thread& t : readers)
        t.join();
}

// A side view from a server asks for its planes' bands together: each chunk that holds them
// once, the same samples as from the folder, and a failing chunk loses its own plane only.
TEST_F(ZarrHttp, SideViewsFetchBandsTogetherAndLoseOnlyFailingPlanes)
{
    using Action = LoopbackServer::Action;
    const std::string bad = "dask_u16.zarr/2.1.0"; // plane 2, rows 15..29, columns 0..19
    LoopbackServer server(testdata::Path("zarr"), [&](const std::string& path) {
        return path == bad ? Action::ServerError : Action::Serve;
    });
    HttpOptions options;
    options.retries = 0;
    Reader remote(server.Url("dask_u16.zarr"), options), folder(Data("dask_u16.zarr"));
    ASSERT_EQ(remote.GetError(), "");
    ASSERT_EQ(folder.GetError(), "");
    remote.SetMemoryBudget(0); // every chunk is fetched again: the requests say what was read
    const auto fixed = [](int x, int y) {
        Vector v(x, y);
        v.push_back(-1);
        return v;
    };
    // Rows 3 and 20 through the 4 planes (XZ, 40 x 4), columns 25 (YZ, 4 x 30).
    const struct
    {
        int d1, d2, x, y, w;
        bool hitsBad;
    } views[] = {{0, 2, -1, 3, 40, false}, {0, 2, -1, 20, 40, true}, {2, 1, 25, -1, 4, false}};
    for (const auto& v : views) {
        SCOPED_TRACE(std::to_string(v.x) + "," + std::to_string(v.y));
        const int before = server.Requests();
        const ImageReader::ImageSlice<unsigned short> got = remote.GetMaximumProjection(v.d1, v.d2, fixed(v.x, v.y));
        const ImageReader::ImageSlice<unsigned short> want = folder.GetMaximumProjection(v.d1, v.d2, fixed(v.x, v.y));
        ASSERT_FALSE(got.IsEmpty());
        ASSERT_EQ(got.GetSize(), want.GetSize());
        // Two chunks hold a row or a column of each of the 4 planes. After the failure the
        // planes of its group are read again one by one, the failing one not asked again.
        if (v.hitsBad)
            EXPECT_LE(server.Requests() - before, 8 + 4);
        else
            EXPECT_EQ(server.Requests() - before, 8);
        const int n = got.GetSize().prod();
        for (int i = 0; i < n; ++i) {
            const bool lost = v.hitsBad && i / v.w == 2; // XZ: output row 2 is plane 2
            EXPECT_EQ(got.GetData()[i], lost ? 0 : want.GetData()[i]) << i;
        }
    }
}

// Chunks asked for together are handed over as they arrive, and a slow one holds back only
// the few requests allowed past it.
TEST_F(ZarrHttp, PartsAreHandedOverAsTheyArriveAndFewPassASlowOne)
{
    using Action = LoopbackServer::Action;
    const std::string slow = "dask_u16.zarr/0.0.0";
    LoopbackServer server(testdata::Path("zarr"), [&](const std::string& path) {
        if (path == slow)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return Action::Serve;
    });
    ImageReader::HttpStore store(server.Url(""), HttpOptions());
    std::vector<ImageReader::ChunkStore::Range> ranges;
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                ranges.push_back({"dask_u16.zarr/" + std::to_string(z) + "." + std::to_string(y) + "." + std::to_string(x)});
    std::vector<size_t> order;
    int requestsWhenSlowArrived = -1;
    store.GetRangesEach(ranges, 4, [&](size_t i, ImageReader::ChunkStore::Result&& r) {
        std::ifstream file(std::filesystem::path(testdata::Path("zarr")) / ranges[i].key, std::ios::binary);
        const std::vector<std::uint8_t> want{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        EXPECT_EQ(r.status, ImageReader::ChunkStore::Status::Ok) << ranges[i].key;
        EXPECT_EQ(r.bytes, want) << ranges[i].key;
        if (i == 0)
            requestsWhenSlowArrived = server.Requests();
        order.push_back(i);
    });
    ASSERT_EQ(order.size(), ranges.size());
    std::vector<size_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a part was handed over twice";
    // The three after the slow one came first; nothing past them was asked for meanwhile.
    EXPECT_NE(order.front(), 0u);
    EXPECT_EQ(requestsWhenSlowArrived, 4);
}

// A picture's XZ and YZ views from a server: the YZ view's columns, expected, come from the
// chunks fetched for the XZ view's rows, each chunk fetched once; forgotten, they are fetched.
TEST_F(ZarrHttp, ExpectedBandComesFromTheSameFetch)
{
    LoopbackServer server(testdata::Path("zarr"));
    Reader remote(server.Url("dask_u16.zarr")), folder(Data("dask_u16.zarr"));
    ASSERT_EQ(remote.GetError(), "");
    remote.SetMemoryBudget(0);
    const auto fixed = [](int x, int y) {
        Vector v(x, y);
        v.push_back(-1);
        return v;
    };
    const auto same = [&](int d1, int d2, int x, int y) {
        const ImageReader::ImageSlice<unsigned short> got = remote.GetMaximumProjection(d1, d2, fixed(x, y));
        const ImageReader::ImageSlice<unsigned short> want = folder.GetMaximumProjection(d1, d2, fixed(x, y));
        ASSERT_FALSE(got.IsEmpty());
        ASSERT_EQ(got.GetSize(), want.GetSize());
        EXPECT_TRUE(std::equal(got.GetData(), got.GetData() + got.GetSize().prod(), want.GetData()));
    };
    // Row 3 lies in chunk row 0, column 25 in chunk column 1 (15 x 20 chunks): of the 2 + 2
    // chunks per plane, one holds both.
    remote.ExpectBand(false, 25, 26);
    int before = server.Requests();
    same(0, 2, -1, 3);
    EXPECT_EQ(server.Requests() - before, 3 * 4);
    before = server.Requests();
    same(2, 1, 25, -1);
    EXPECT_EQ(server.Requests() - before, 0);
    // Taken once: asked again, or after ForgetExpectedBand, the columns are fetched.
    same(2, 1, 25, -1);
    EXPECT_EQ(server.Requests() - before, 2 * 4);
    remote.ExpectBand(false, 25, 26);
    same(0, 2, -1, 3);
    remote.ForgetExpectedBand();
    before = server.Requests();
    same(2, 1, 25, -1);
    EXPECT_EQ(server.Requests() - before, 2 * 4);
}

// Only a server's chunks one plane deep (every level) count as shared by no two planes.
TEST_F(ZarrHttp, ChunksOfOnePlaneAreToldFromDeeperOnes)
{
    LoopbackServer server(testdata::Path("zarr"));
    EXPECT_TRUE(Reader(server.Url("f32_gzip.zarr")).RemoteChunksHoldOnePlane());     // 1 x 16 x 32
    EXPECT_TRUE(Reader(server.Url("u8_none.zarr")).RemoteChunksHoldOnePlane());      // a plane alone
    EXPECT_FALSE(Reader(server.Url("i16_zlib.zarr")).RemoteChunksHoldOnePlane());    // 2 planes deep
    EXPECT_FALSE(Reader(server.Url("be_u2_zstd.zarr")).RemoteChunksHoldOnePlane());  // 2 deep in z
    EXPECT_FALSE(Reader(server.Url("ome5d.zarr")).RemoteChunksHoldOnePlane());
    EXPECT_FALSE(Reader(Data("f32_gzip.zarr")).RemoteChunksHoldOnePlane());          // a folder
}

// Object stores hand out a URL with an access token in its query, valid for a whole prefix.
// The token must reach every request while the keys go into the path.
TEST_F(ZarrHttp, QueryTokenIsSentWithEveryKey)
{
    const std::string token = "sv=2024-01-01&se=2030-01-01T00%3A00Z&sig=aB%2Fc%2B%3D";
    LoopbackServer server(testdata::Path("zarr"));
    server.RequireQuery(token);
    // With or without a trailing slash, and a fragment that must never be sent.
    for (const std::string& url : {server.Url("be_u2_zstd.zarr?" + token), server.Url("be_u2_zstd.zarr/?" + token + "#frag")}) {
        SCOPED_TRACE(url);
        Reader reader(url);
        ASSERT_EQ(reader.GetError(), "");
        EXPECT_EQ(CheckAll(reader, 0, kNoFill, kNoneMissing), 6);
        Vector corner(39, 29);
        corner.push_back(2);
        corner.push_back(1);
        EXPECT_EQ(reader.GetValue(corner), Expected(SampleType::UInt16, {39, 29, 2, 1}));
    }
    Reader ome(server.Url("ome5d.zarr?" + token));
    ASSERT_EQ(ome.GetError(), "");
    ASSERT_TRUE(ome.SetLevel(2));
    EXPECT_EQ(CheckAll(ome, 2, kNoFill, kNoneMissing), 24);
    EXPECT_EQ(server.Refused(), 0);
    // The token is a secret: a refusal names the image, not the token.
    Reader wrong(server.Url("u8_none.zarr?sig=wrongsecret"));
    EXPECT_EQ(wrong.GetSize(), Vector());
    EXPECT_NE(wrong.GetError().find("403"), std::string::npos) << wrong.GetError();
    EXPECT_EQ(wrong.GetError().find("wrongsecret"), std::string::npos) << wrong.GetError();
    EXPECT_GT(server.Refused(), 0);
}

TEST_F(ZarrHttp, CredentialsInTheUrlAreBasicAuthentication)
{
    LoopbackServer server(testdata::Path("zarr"));
    server.RequireAuthorization("Basic dXNlcjpzZWNyZXQ="); // user:secret
    const std::string at = "127.0.0.1:" + std::to_string(server.Port()) + "/u16_blosc_zstd.zarr";
    Reader reader("http://user:secret@" + at);
    ASSERT_EQ(reader.GetError(), "");
    EXPECT_EQ(CheckAll(reader, 0, kNoFill, kNoneMissing), 2);
    EXPECT_EQ(reader.GetFormatName().find("secret"), std::string::npos);
    Reader wrong("http://user:guessed@" + at);
    EXPECT_EQ(wrong.GetSize(), Vector());
    EXPECT_NE(wrong.GetError().find("401"), std::string::npos) << wrong.GetError();
    EXPECT_EQ(wrong.GetError().find("guessed"), std::string::npos) << wrong.GetError();
}

TEST_F(ZarrHttp, RedirectsAreFollowedAFewTimes)
{
    LoopbackServer server(testdata::Path("zarr"));
    // A moved image, reached through two hops of different kinds; the token goes along.
    server.Redirect("old/", "older/", 301);
    server.Redirect("older/", "", 307);
    server.RequireQuery("t=1");
    Reader moved(server.Url("old/f32_gzip.zarr?t=1"));
    ASSERT_EQ(moved.GetError(), "");
    EXPECT_EQ(CheckAll(moved, 0, kNoFill, kNoneMissing), 3);

    // A loop ends after the allowed hops, without retries.
    server.Redirect("a/", "b/");
    server.Redirect("b/", "a/");
    HttpOptions options;
    options.redirects = 3;
    options.retryDelayMs = 1;
    Reader loop(server.Url("a/u8_none.zarr?t=1"), options);
    EXPECT_EQ(loop.GetSize(), Vector());
    EXPECT_NE(loop.GetError().find("redirect"), std::string::npos) << loop.GetError();
    // The metadata keys are asked for together and the first lasting failure ends the rest,
    // so which key went round the loop varies; none goes round more than allowed.
    int most = 0;
    for (const std::string key : {"zarr.json", ".zattrs", ".zgroup", ".zarray"})
        most = std::max(most, server.Requests("a/u8_none.zarr/" + key) + server.Requests("b/u8_none.zarr/" + key));
    EXPECT_EQ(most, options.redirects + 1);
}

TEST_F(ZarrHttp, FailingServerGivesMissingPlanesWithoutHanging)
{
    using Action = LoopbackServer::Action;
    // Chunks of z 2..3 in be_u2_zstd's first plane block misbehave; y-chunk 1 of the others is absent.
    const struct
    {
        Action action;
        bool missing; // true: the affected planes are absent; false: they read as fill (0)
    } cases[] = {{Action::ServerError, true}, {Action::Drop, true}, {Action::Hang, true}, {Action::NotFound, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.action));
        const std::string bad = "be_u2_zstd.zarr/1/0/0/1";
        LoopbackServer server(testdata::Path("zarr"), [&](const std::string& path) { return path == bad ? c.action : Action::Serve; });
        HttpOptions options;
        options.requestTimeoutMs = 1000;
        options.retryDelayMs = 10;
        options.retries = 2;
        const auto start = std::chrono::steady_clock::now();
        Reader reader(server.Url("be_u2_zstd.zarr"), options);
        ASSERT_EQ(reader.GetError(), "");
        // Plane (c 0..1, t 1) holds the bad chunk (y 0..15, x 16..31).
        const int planes = CheckAll(
            reader, 0,
            [&](const std::vector<int>& a) { return !c.missing && a[3] == 1 && a[2] < 2 && a[1] < 16 && a[0] >= 16 && a[0] < 32; },
            [&](const std::vector<int>& p) { return c.missing && p[1] == 1 && p[0] < 2; }, 0.0);
        EXPECT_EQ(planes, c.missing ? 4 : 6);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 15.0);
        // Transient failures are retried a bounded number of times per read; 404 is final
        // (and kept, like any fetched chunk).
        const int reads = server.Requests(bad);
        if (c.action == Action::NotFound)
            EXPECT_EQ(reads, 1);
        else
            EXPECT_LE(reads, 2 * (options.retries + 1));
    }
}

TEST_F(ZarrHttp, UnreachableServerIsAReason)
{
    int port = 0;
    {
        LoopbackServer server(testdata::Path("zarr"));
        port = std::stoi(server.Url("").substr(17));
    }
    HttpOptions options;
    options.retryDelayMs = 1;
    Reader reader("http://127.0.0.1:" + std::to_string(port) + "/u8_none.zarr", options);
    EXPECT_EQ(reader.GetSize(), Vector());
    EXPECT_NE(reader.GetError().find("cannot be read"), std::string::npos) << reader.GetError();
}

} // namespace
