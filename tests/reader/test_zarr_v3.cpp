// Zarr v3 / NGFF 0.5 images written by the test itself (tests/common/ZarrV3Writer.h), read from
// a folder and from the loopback server, and checked against the formula they were written with.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ChunkCodec.h"
#include "Diagnostics.h"
#include "LoopbackServer.h"
#include "OpenImage.h"
#include "SliceCache.h"
#include "StopToken.h"
#include "ZarrMetadata.h"
#include "ZarrReader.h"
#include "ZarrV3Writer.h"

using ImageReader::HttpOptions;
using ImageReader::SampleType;
using ImageReader::Vector;
using Reader = ImageReader::ZarrReader<unsigned short>;
namespace fs = std::filesystem;

namespace {

// base = x + 50 y + 2000 z (array order z, y, x), as the v2 test data.
double Base(const zarrv3::Coords& c)
{
    return static_cast<double>(c[2] + 50 * c[1] + 2000 * c[0]);
}
double FloatValue(const zarrv3::Coords& c)
{
    return static_cast<double>(static_cast<float>(Base(c) * 0.25 - 100));
}
double Int16Value(const zarrv3::Coords& c)
{
    return static_cast<double>(static_cast<long long>(Base(c)) % 60000 - 30000);
}

Vector Plane(int z)
{
    Vector v;
    v.push_back(z);
    return v;
}

Vector At(int x, int y, int z)
{
    Vector v(x, y);
    v.push_back(z);
    return v;
}

class ZarrV3 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previous = ImageReader::SetDiagnosticHandler([](const std::string&) {});
        dir = fs::temp_directory_path() / ("lumora_zarr_v3_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        ImageReader::SetDiagnosticHandler(previous);
        fs::remove_all(dir);
    }
    // Every sample of every plane of `reader` against `want` (array order), through GetValue
    // (exact) and the delivered planes (within half a display step); nullopt: the plane is missing.
    template <class Want>
    void CheckPlanes(Reader& reader, Want want, int scale = 1)
    {
        const Vector size = reader.GetSize();
        const auto map = reader.GetValueMap();
        const double tolerance = ImageReader::IsFloat(reader.GetSampleType()) ? map.scale * 0.5 + 1e-9 : 0.0;
        for (int z = 0; z < size[2]; ++z) {
            const auto slice = reader.GetSlice(Plane(z));
            if (!want({std::uint64_t(z), 0, 0})) {
                EXPECT_TRUE(slice.IsEmpty()) << "plane " << z;
                continue;
            }
            ASSERT_FALSE(slice.IsEmpty()) << "plane " << z;
            int wrong = 0;
            for (int y = 0; y < size[1]; ++y)
                for (int x = 0; x < size[0]; ++x) {
                    const std::optional<double> w = want({std::uint64_t(z), std::uint64_t(y * scale), std::uint64_t(x * scale)});
                    const double shown = map.ToReal(slice.GetData()[static_cast<size_t>(y * size[0] + x)]);
                    const bool inRange = *w >= map.ToReal(0) && *w <= map.ToReal(65535);
                    if (!std::isnan(*w) && inRange && std::fabs(shown - *w) > tolerance && ++wrong < 4)
                        ADD_FAILURE() << "plane " << z << " at " << x << "," << y << ": shown " << shown << " != " << *w;
                    if ((x * 7 + y * 3) % 11 == 0 || !inRange) {
                        const auto v = reader.GetValue(At(x, y, z));
                        ASSERT_TRUE(v.has_value());
                        if (std::isnan(*w))
                            EXPECT_TRUE(std::isnan(*v));
                        else
                            EXPECT_EQ(*v, *w) << x << "," << y << "," << z;
                    }
                }
        }
    }

    ImageReader::DiagnosticHandler previous;
    fs::path dir;
};

TEST(ZarrV3Codec, ChecksumsAndChainsAreCheckedBeforeUse)
{
    const std::string check = "123456789";
    EXPECT_EQ(ImageReader::Crc32c(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xE3069283u);
    bool big = false;
    std::string why;
    const std::vector<std::uint64_t> shape = {2, 3};
    const struct
    {
        const char* codecs;
        const char* refusal; // null: accepted
    } cases[] = {
        {R"([{"name":"bytes","configuration":{"endian":"big"}},{"name":"zstd"},{"name":"crc32c"}])", nullptr},
        {R"([{"name":"transpose","configuration":{"order":[1,0]}},"bytes"])", nullptr},
        {R"([{"name":"zstd"}])", "before the bytes codec"},
        {R"([{"name":"bytes"},{"name":"gzip"},{"name":"zstd"}])", "more than one compressor"},
        {R"([{"name":"transpose","configuration":{"order":[1,1]}},{"name":"bytes"}])", "permutation"},
        {R"([{"name":"bytes","configuration":{"endian":"middle"}}])", "byte order"},
        {R"([{"name":"bytes"},{"name":"lzma"}])", "lzma"},
        // Fields of the wrong type are refused, not thrown out of the parser.
        {R"([{"name":7},{"name":"bytes"}])", "not supported"},
        {R"([{"name":"bytes","configuration":{"endian":1}}])", "byte order"},
    };
    for (const auto& c : cases) {
        why.clear();
        const auto codec = ImageReader::MakeCodecChain(c.codecs, 2, shape, big, why);
        if (!c.refusal)
            EXPECT_TRUE(codec) << c.codecs << ": " << why;
        else {
            EXPECT_FALSE(codec) << c.codecs;
            EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
        }
    }

    // Metadata nested deeper than the limit is refused before the JSON library sees it.
    const std::string deep = std::string(70000, '[') + std::string(70000, ']');
    ImageReader::ZarrNode node;
    EXPECT_FALSE(ImageReader::ParseZarrJson(R"({"zarr_format":3,"node_type":"group","attributes":{"ome":)" + deep + "}}", node, why));
    ImageReader::ZarrArrayMeta meta;
    EXPECT_FALSE(ImageReader::ParseZarray(R"({"zarr_format":2,"shape":[4,4],"chunks":[2,2],"dtype":"<u2","compressor":)" + deep + "}", meta, why));
    EXPECT_TRUE(ImageReader::JsonDepthWithin("[\"[[[[[[\"]", 2));
}

// As zarr-python 3 writes an image by default: unsharded, "c/" keys, zstd, in an NGFF 0.5
// group; with NaN for absent chunks and keys of a later version the reader does not use.
TEST_F(ZarrV3, DefaultLayoutWithNaNFill)
{
    const fs::path image = dir / "image"; // no .zarr suffix: found by its zarr.json
    zarrv3::WriteGroup(image, R"({"version":"0.5","multiscales":[{"name":"img","axes":[
        {"name":"z","type":"space","unit":"micrometer"},{"name":"y","type":"space","unit":"micrometer"},
        {"name":"x","type":"space","unit":"nanometer"}],
        "datasets":[{"path":"s0","coordinateTransformations":[{"type":"scale","scale":[2.0,0.5,40.0]}]}],
        "coordinateSystems":[{"name":"world","axes":[]}]}],
        "omero":{"channels":[{"label":"only","color":"00FF00","window":{"start":0,"end":100}}]}})");
    zarrv3::ArrayLayout a;
    a.shape = {3, 30, 40};
    a.chunk = {2, 16, 16};
    a.dataType = "float32";
    a.compressor = "zstd";
    a.fillJson = "\"NaN\"";
    a.fill = NAN;
    a.value = FloatValue;
    a.absent = [](const zarrv3::Coords& c) { return c == zarrv3::Coords{1, 1, 2}; };
    zarrv3::WriteArray(image / "s0", a);

    auto opened = ImageReader::OpenImage(image);
    ASSERT_TRUE(opened.reader) << opened.error;
    auto* reader = dynamic_cast<Reader*>(opened.reader.get());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetSize(), At(40, 30, 3));
    EXPECT_EQ(reader->GetSampleType(), SampleType::Float32);
    EXPECT_NE(reader->GetFormatName().find("OME-Zarr v3"), std::string::npos) << reader->GetFormatName();
    EXPECT_NE(reader->GetFormatName().find("zstd"), std::string::npos);
    EXPECT_DOUBLE_EQ(reader->GetDimPixelSize(0), 40);
    EXPECT_DOUBLE_EQ(reader->GetDimPixelSize(1), 500);
    EXPECT_DOUBLE_EQ(reader->GetDimPixelSize(2), 2000);
    EXPECT_EQ(reader->GetDimName(2), "z");
    ASSERT_EQ(reader->GetChannels().size(), 1u);
    EXPECT_EQ(reader->GetChannels()[0].name, "only");
    CheckPlanes(*reader, [&](const zarrv3::Coords& c) -> std::optional<double> {
        const bool absent = c[0] >= 2 && c[1] >= 16 && c[2] >= 32;
        return absent ? NAN : FloatValue(c);
    });
    // The metadata file of the group, as a file dialog picks it, opens the image too.
    EXPECT_TRUE(ImageReader::OpenImage(image / "zarr.json").reader);
}

// A plain array (no group) in big-endian order, stored transposed, with checksums and
// v2-style keys; a chunk whose checksum fails makes its planes missing, and only those.
TEST_F(ZarrV3, BigEndianTransposedWithChecksums)
{
    zarrv3::ArrayLayout a;
    a.shape = {4, 20, 24};
    a.chunk = {2, 8, 16};
    a.dataType = "int16";
    a.bigEndian = true;
    a.transpose = {2, 0, 1};
    a.checksum = true;
    a.v2Keys = true;
    a.fillJson = "-7";
    a.fill = -7;
    a.value = Int16Value;
    a.absent = [](const zarrv3::Coords& c) { return c == zarrv3::Coords{0, 2, 1}; };
    zarrv3::WriteArray(dir, a);
    ASSERT_TRUE(fs::exists(dir / "1.0.0"));

    Reader reader(dir.string());
    ASSERT_EQ(reader.GetError(), "");
    EXPECT_EQ(reader.GetSampleType(), SampleType::Int16);
    CheckPlanes(reader, [](const zarrv3::Coords& c) -> std::optional<double> {
        return c[0] < 2 && c[1] >= 16 && c[2] >= 16 ? -7.0 : Int16Value(c);
    });

    // One flipped byte in the data of chunk (1, 0, 0): planes 2 and 3 are missing.
    {
        std::fstream f(dir / "1.0.0", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(10);
        f.put('\x55');
    }
    Reader damaged(dir.string());
    ASSERT_EQ(damaged.GetError(), "");
    CheckPlanes(damaged, [](const zarrv3::Coords& c) -> std::optional<double> {
        if (c[0] >= 2)
            return std::nullopt;
        return c[1] >= 16 && c[2] >= 16 ? -7.0 : Int16Value(c);
    });
}

// A sharded float pyramid: level 0 with its index at the end, level 1 with it at the start; an
// absent inner chunk and an absent shard read as the fill value; a sample far outside what
// the coarse level shows reads as the file holds it.
class ShardedPyramid : public ZarrV3
{
protected:
    static constexpr double kOutlier = -5000.5;
    static double Level0(const zarrv3::Coords& c)
    {
        return c == zarrv3::Coords{0, 1, 1} ? kOutlier : FloatValue(c);
    }
    // Level 0's absent parts: inner chunk (z 0, y 16..31, x 16..31) and the shard (z 2..3, y 32.., x ..31).
    static bool Absent0(const zarrv3::Coords& c) { return (c[0] == 0 && c[1] >= 16 && c[1] < 32 && c[2] >= 16 && c[2] < 32) || (c[0] >= 2 && c[1] >= 32 && c[2] < 32); }

    void SetUp() override
    {
        ZarrV3::SetUp();
        WriteImage();
    }
    void WriteImage()
    {
        image = dir / "pyramid.zarr";
        fs::remove_all(image);
        zarrv3::WriteGroup(image, R"({"version":"0.5","multiscales":[{"axes":[{"name":"z","type":"space"},{"name":"y","type":"space"},
            {"name":"x","type":"space"}],"datasets":[{"path":"0"},{"path":"1"}]}]})");
        zarrv3::ArrayLayout a;
        a.shape = {4, 64, 64};
        a.chunk = {2, 32, 32};
        a.inner = {1, 16, 16};
        a.dataType = "float32";
        a.compressor = "gzip";
        a.checksum = true;
        a.fillJson = "-1.5";
        a.fill = -1.5;
        a.value = Level0;
        a.absent = [](const zarrv3::Coords& c) { return c == zarrv3::Coords{0, 1, 1}; };
        zarrv3::WriteArray(image / "0", a);
        fs::remove(image / "0" / "c" / "1" / "1" / "0"); // the absent shard
        a.shape = {4, 32, 32};
        a.indexAtStart = true;
        a.absent = nullptr;
        a.value = [](const zarrv3::Coords& c) { return FloatValue({c[0], c[1] * 2, c[2] * 2}); };
        zarrv3::WriteArray(image / "1", a);
    }
    std::optional<double> Want0(const zarrv3::Coords& c) const { return Absent0(c) ? -1.5 : Level0(c); }

    fs::path image;
};

TEST_F(ShardedPyramid, ReadsFromTheFolder)
{
    Reader reader(image.string());
    ASSERT_EQ(reader.GetError(), "");
    ASSERT_EQ(reader.GetLevelCount(), 2);
    EXPECT_NE(reader.GetFormatName().find("sharded"), std::string::npos) << reader.GetFormatName();
    // The coarse level the value map is sampled from never shows the outlier.
    EXPECT_GT(kOutlier, -1e9);
    EXPECT_LT(kOutlier, reader.GetValueMap().ToReal(0));
    CheckPlanes(reader, [&](const zarrv3::Coords& c) { return Want0(c); });
    EXPECT_EQ(reader.GetValue(At(1, 1, 0)), kOutlier);
    auto coarse = reader.OpenLevel(1);
    ASSERT_TRUE(coarse);
    CheckPlanes(*dynamic_cast<Reader*>(coarse.get()), [](const zarrv3::Coords& c) -> std::optional<double> { return FloatValue(c); }, 2);
}

TEST_F(ShardedPyramid, ServerIsAskedForIndexesAndInnerChunksOnly)
{
    LoopbackServer server(dir);
    Reader reader(server.Url("pyramid.zarr"));
    ASSERT_EQ(reader.GetError(), "");
    CheckPlanes(reader, [&](const zarrv3::Coords& c) { return Want0(c); });

    // A fresh reader: plane 0 needs the 4 indexes of its shards (one of them absent) and its
    // 16 inner chunks less the absent one; plane 1 lies in the same shards, whose indexes are kept.
    Reader fresh(server.Url("pyramid.zarr"));
    int before = server.Requests();
    ASSERT_FALSE(fresh.GetSlice(Plane(0)).IsEmpty());
    EXPECT_EQ(server.Requests() - before, 4 + 15);
    before = server.Requests();
    ASSERT_FALSE(fresh.GetSlice(Plane(1)).IsEmpty());
    EXPECT_EQ(server.Requests() - before, 16);
    // A value is one index and one inner chunk.
    Reader third(server.Url("pyramid.zarr"));
    before = server.Requests();
    EXPECT_EQ(third.GetValue(At(1, 1, 0)), kOutlier);
    EXPECT_EQ(server.Requests() - before, 2);
}

// Side views from a server come from one stream of inner chunks, shard indexes first: the
// same samples as from the folder, absent inner chunks and shards as the fill value.
TEST_F(ShardedPyramid, SideViewsFromTheServerAreTheFolders)
{
    LoopbackServer server(dir);
    Reader remote(server.Url("pyramid.zarr")), folder(image.string());
    ASSERT_EQ(remote.GetError(), "");
    remote.SetMemoryBudget(0);
    // Row 20 (XZ) and column 20 (YZ) cross the absent inner chunk and the absent shard.
    for (const bool rows : {true, false}) {
        Vector fixed(rows ? -1 : 20, rows ? 20 : -1);
        fixed.push_back(-1);
        const auto got = remote.GetMaximumProjection(rows ? 0 : 1, 2, fixed);
        const auto want = folder.GetMaximumProjection(rows ? 0 : 1, 2, fixed);
        ASSERT_FALSE(got.IsEmpty());
        ASSERT_EQ(got.GetSize(), want.GetSize());
        EXPECT_TRUE(std::equal(got.GetData(), got.GetData() + got.GetSize().prod(), want.GetData())) << rows;
    }
}

TEST_F(ShardedPyramid, ServerIgnoringRangesSendsEachShardOnce)
{
    LoopbackServer server(dir);
    server.IgnoreRanges();
    Reader reader(server.Url("pyramid.zarr"));
    ASSERT_EQ(reader.GetError(), "");
    const int before = server.Requests();
    CheckPlanes(reader, [&](const zarrv3::Coords& c) { return Want0(c); });
    // 8 shards (one absent) of 2 planes each: every shard arrives whole when its index is
    // asked for, then serves the inner chunks from the cache.
    EXPECT_EQ(server.Requests() - before, 8);
}

TEST_F(ShardedPyramid, DamagedIndexesMakeTheirPlanesMissing)
{
    const fs::path level = image / "0" / "c";
    const auto patchIndex = [&](const fs::path& p, size_t at, std::uint8_t value, bool fixChecksum) {
        std::vector<std::uint8_t> bytes(fs::file_size(p));
        std::ifstream(p, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const size_t index = bytes.size() - (8 * 16 + 4);
        bytes[index + at] = value;
        const std::uint32_t crc = zarrv3::Crc32c(bytes.data() + index, 8 * 16);
        for (int i = 0; fixChecksum && i < 4; ++i)
            bytes[bytes.size() - 4 + static_cast<size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
        zarrv3::WriteFile(p, bytes);
    };
    const struct
    {
        const char* what;
        std::function<void()> damage;
        std::vector<int> missing; // planes
    } cases[] = {
        // The index's checksum does not match: both planes of the shard.
        {"checksum", [&] { patchIndex(level / "0" / "0" / "0", 3, 0x5a, false); }, {0, 1}},
        // Entry 4 (z 3, y 0..15, x 0..15) lies far past the end of the file: its plane only.
        {"offset", [&] { patchIndex(level / "1" / "0" / "0", 4 * 16 + 4, 0x7f, true); }, {3}},
        // A shard cut shorter than its index.
        {"truncated", [&] { fs::resize_file(level / "1" / "0" / "1", 40); }, {2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteImage();
        c.damage();
        const auto want = [&](const zarrv3::Coords& at) -> std::optional<double> {
            for (int z : c.missing)
                if (at[0] == static_cast<std::uint64_t>(z))
                    return std::nullopt;
            return Want0(at);
        };
        Reader folder(image.string());
        ASSERT_EQ(folder.GetError(), "");
        CheckPlanes(folder, want);
        LoopbackServer server(dir);
        Reader remote(server.Url("pyramid.zarr"));
        ASSERT_EQ(remote.GetError(), "");
        CheckPlanes(remote, want);
        // The coarse level is untouched.
        ASSERT_TRUE(remote.SetLevel(1));
        CheckPlanes(remote, [](const zarrv3::Coords& at) -> std::optional<double> { return FloatValue(at); }, 2);
    }
}

// The flaky server of the field report: some chunks answer 500, one drops the connection.
// Each failing chunk is asked a bounded number of times however often its planes are read,
// and planes that need it come back missing at once after the first failure.
TEST_F(ZarrV3, FailingChunksAreNotHammered)
{
    zarrv3::ArrayLayout a;
    a.shape = {12, 128, 160};
    a.chunk = {1, 32, 32};
    a.compressor = "zstd";
    a.value = [](const zarrv3::Coords& c) { return static_cast<double>(static_cast<long long>(Base(c)) % 65536); };
    zarrv3::WriteArray(dir, a);
    const std::vector<std::string> bad500 = {"c/1/0/0", "c/5/2/3", "c/9/3/4"};
    const std::string dropped = "c/7/1/1";
    std::atomic<bool> allFail{false};
    using Action = LoopbackServer::Action;
    LoopbackServer server(dir, [&](const std::string& path) {
        if (allFail && path.rfind("c/", 0) == 0)
            return Action::ServerError;
        for (const std::string& b : bad500)
            if (path == b)
                return Action::ServerError;
        return path == dropped ? Action::Drop : Action::Serve;
    });
    HttpOptions options;
    options.retryDelayMs = 20;
    options.troubleAfter = 6;
    options.troubleDelayMs = 20;
    options.cacheBytes = 0; // every read goes to the server
    Reader reader(server.Url(""), options);
    ASSERT_EQ(reader.GetError(), "");
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 3; ++round)
        for (int z = 0; z < 12; ++z) {
            const bool bad = z == 1 || z == 5 || z == 9 || z == 7;
            EXPECT_EQ(reader.GetSlice(Plane(z)).IsEmpty(), bad) << z;
            // Ten values, as a moving cursor asks (none in a failing chunk).
            if (round == 0 && z < 10) {
                EXPECT_TRUE(reader.GetValue(At(5, 40, z)).has_value()) << z;
            }
        }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    // The first read and one retry; then failed at once for the back-off's 30 s.
    for (const std::string& b : bad500)
        EXPECT_EQ(server.Requests(b), 2) << b;
    EXPECT_EQ(server.Requests(dropped), 2);
    // Open (2), 3 rounds of 12 planes of 20 chunks (the failing planes' good chunks too), retries, values.
    EXPECT_LE(static_cast<int>(reader.GetRequestCount()), 2 + 3 * 12 * 20 + 4 + 10);
    // A few bad chunks among many good ones do not make the server a failing one.
    EXPECT_EQ(reader.GetTrouble(), "");
    // A reload asks again, once.
    reader.ForgetFailures();
    int before = server.Requests(bad500[0]);
    EXPECT_TRUE(reader.GetSlice(Plane(1)).IsEmpty());
    EXPECT_EQ(server.Requests(bad500[0]) - before, 2);

    // Now every chunk fails: the server is said to be failing, and requests start one at a time.
    allFail = true;
    reader.ForgetFailures();
    const int beforeAll = server.Requests();
    for (int z = 0; z < 12; ++z)
        EXPECT_TRUE(reader.GetSlice(Plane(z)).IsEmpty());
    // Each plane stops at its first lasting failure: a few requests per plane, not 20.
    EXPECT_LE(server.Requests() - beforeAll, 12 * 4);
    EXPECT_NE(reader.GetTrouble().find("failing"), std::string::npos) << reader.GetTrouble();
    reader.ForgetFailures();
    EXPECT_EQ(reader.GetTrouble(), "");
}

// A chunk of 2 KiB sent as gzip content encoding that inflates to 32 MiB: the
// transfer stops at what the metadata allows, and the plane is missing.
TEST_F(ZarrV3, CompressedBodiesStopAtWhatTheMetadataAllows)
{
    zarrv3::ArrayLayout a;
    a.shape = {2, 32, 32};
    a.chunk = {1, 32, 32};
    a.value = Base;
    zarrv3::WriteArray(dir, a);
    const std::vector<std::uint8_t> zeros(size_t(32) << 20, 0);
    std::vector<std::uint8_t> bomb(compressBound(zeros.size()) + 64);
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = bomb.data();
    z.avail_out = static_cast<uInt>(bomb.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    bomb.resize(bomb.size() - z.avail_out);
    deflateEnd(&z);
    LoopbackServer server(dir);
    server.SetReply("c/1/0/0", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(bomb.size()) +
                                   "\r\n\r\n" + std::string(bomb.begin(), bomb.end()));
    std::string said;
    ImageReader::SetDiagnosticHandler([&](const std::string& text) { said += text; });
    Reader reader(server.Url(""));
    ASSERT_EQ(reader.GetError(), "");
    EXPECT_FALSE(reader.GetSlice(Plane(0)).IsEmpty());
    EXPECT_TRUE(reader.GetSlice(Plane(1)).IsEmpty());
    EXPECT_NE(said.find("larger than its metadata allows"), std::string::npos) << said;
}

// A job stopped while its chunks hang on the server gets its plane (missing) back at once.
TEST_F(ZarrV3, StopReachesTheNetwork)
{
    zarrv3::ArrayLayout a;
    a.shape = {2, 16, 16};
    a.chunk = {1, 16, 16};
    a.value = Base;
    zarrv3::WriteArray(dir, a);
    LoopbackServer server(dir, [](const std::string& path) {
        return path == "c/1/0/0" ? LoopbackServer::Action::Hang : LoopbackServer::Action::Serve;
    });
    Reader reader(server.Url(""));
    ASSERT_EQ(reader.GetError(), "");
    ImageReader::StopToken token;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        token.RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    {
        ImageReader::StopScope scope(&token);
        EXPECT_TRUE(reader.GetSlice(Plane(1)).IsEmpty());
    }
    stopper.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    // Being stopped is not the server's failure: the chunk is asked again by the next job.
    EXPECT_EQ(reader.GetTrouble(), "");
}

// Side views take one row or column of every plane: only the chunks holding it are fetched,
// and the plane cache in front of the reader keeps no whole planes for them.
TEST_F(ZarrV3, SideViewsReadOnlyTheChunksTheyShow)
{
    zarrv3::ArrayLayout a;
    a.shape = {6, 64, 96};
    a.chunk = {1, 32, 32};
    a.compressor = "blosc";
    a.value = Base;
    zarrv3::WriteArray(dir, a);
    LoopbackServer server(dir);
    HttpOptions options;
    options.cacheBytes = 0;
    Reader reader(server.Url(""), options);
    ASSERT_EQ(reader.GetError(), "");
    ImageReader::SliceCache<unsigned short> cache(&reader, size_t(64) << 20);

    Vector row; // XZ through y = 40
    for (int v : {-1, 40, -1})
        row.push_back(v);
    int before = server.Requests();
    const auto xz = cache.GetMaximumProjection(0, 2, row);
    EXPECT_EQ(server.Requests() - before, 6 * 3);
    ASSERT_EQ(xz.GetSize(), Vector(96, 6));
    Vector column; // YZ through x = 50
    for (int v : {50, -1, -1})
        column.push_back(v);
    before = server.Requests();
    const auto yz = cache.GetMaximumProjection(1, 2, column);
    EXPECT_EQ(server.Requests() - before, 6 * 2);
    ASSERT_EQ(yz.GetSize(), Vector(64, 6));
    EXPECT_EQ(cache.GetCount(), 0u);
    int wrong = 0;
    for (std::uint64_t z = 0; z < 6; ++z) {
        for (std::uint64_t x = 0; x < 96; ++x)
            wrong += xz.GetData()[z * 96 + x] != Base({z, 40, x});
        for (std::uint64_t y = 0; y < 64; ++y)
            wrong += yz.GetData()[z * 64 + y] != Base({z, y, 50});
    }
    EXPECT_EQ(wrong, 0);
    // A band outside the plane is nothing.
    EXPECT_TRUE(reader.GetRows(Plane(0), 60, 70).IsEmpty());
    EXPECT_TRUE(reader.GetColumns(Plane(0), -1, 3).IsEmpty());
}

// Metadata that would cost the viewer without end is refused or bounded.
TEST_F(ZarrV3, AbsurdMetadataIsBounded)
{
    // A channel axis of 2^31 - 1 entries.
    std::ofstream(dir / "zarr.json") << R"({"zarr_format":3,"node_type":"group","attributes":{"ome":{"version":"0.5",
        "multiscales":[{"axes":[{"name":"c","type":"channel"},{"name":"y"},{"name":"x"}],"datasets":[{"path":"0"}]}]}}})";
    fs::create_directories(dir / "0");
    std::ofstream(dir / "0" / "zarr.json") << R"({"zarr_format":3,"node_type":"array","shape":[2147483647,4,4],"data_type":"uint8",
        "chunk_grid":{"name":"regular","configuration":{"chunk_shape":[1,4,4]}},"fill_value":0,"codecs":[{"name":"bytes"}]})";
    const auto start = std::chrono::steady_clock::now();
    Reader channels(dir.string());
    EXPECT_NE(channels.GetError().find("channel axis"), std::string::npos) << channels.GetError();

    // 10 000 levels: only the first few dozen are read.
    std::string datasets;
    for (int k = 0; k < 10000; ++k)
        datasets += std::string(k ? "," : "") + R"({"path":"0"})";
    std::ofstream(dir / "zarr.json") << R"({"zarr_format":3,"node_type":"group","attributes":{"ome":{"version":"0.5",
        "multiscales":[{"axes":[{"name":"z"},{"name":"y"},{"name":"x"}],"datasets":[)" + datasets + "]}]}}}";
    std::ofstream(dir / "0" / "zarr.json") << R"({"zarr_format":3,"node_type":"array","shape":[3,4,4],"data_type":"uint8",
        "chunk_grid":{"name":"regular","configuration":{"chunk_shape":[1,4,4]}},"fill_value":0,"codecs":[{"name":"bytes"}]})";
    Reader levels(dir.string());
    EXPECT_EQ(levels.GetError(), "");
    EXPECT_EQ(levels.GetLevelCount(), static_cast<int>(ImageReader::kMaxLevels));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

} // namespace
