// Random access into gzip streams: every byte read back by formula, whatever the order and
// wherever the stream starts in its file; streams cut short or damaged fail cleanly.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "GzipIndex.h"

using ImageReader::GzipIndex;
namespace fs = std::filesystem;

namespace {

constexpr size_t kBytes = size_t(3) << 20;
constexpr std::uint64_t kSpan = 64 << 10;

// Stretches of noise (stored or poorly compressed blocks) between smooth ones, so that
// access points fall at every kind of block boundary.
unsigned char Byte(std::uint64_t i)
{
    if ((i >> 15) % 3 == 0)
        return static_cast<unsigned char>((i * 2654435761u) >> 24);
    return static_cast<unsigned char>((i / 61) * 7 + (i % 13));
}

std::string Gzip(int level)
{
    std::vector<unsigned char> data(kBytes);
    for (size_t i = 0; i < kBytes; ++i)
        data[i] = Byte(i);
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, kBytes), '\0');
    z.next_in = data.data();
    z.avail_in = static_cast<uInt>(kBytes);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

class GzipFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lumora_gzip_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The stream after `prefix` bytes of something else, as a header would be.
    fs::path Write(const std::string& name, const std::string& stream, size_t prefix)
    {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << std::string(prefix, 'h') << stream;
        return path;
    }

    fs::path dir;
};

// Reads [at, at + bytes) and checks it against the formula.
::testing::AssertionResult ReadsBack(GzipIndex& index, std::uint64_t at, size_t bytes)
{
    std::vector<unsigned char> got(bytes);
    if (!index.Read(at, got.data(), bytes))
        return ::testing::AssertionFailure() << "read at " << at << " failed";
    for (size_t i = 0; i < bytes; ++i)
        if (got[i] != Byte(at + i))
            return ::testing::AssertionFailure() << "byte " << at + i << " is " << int(got[i]) << ", not " << int(Byte(at + i));
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(GzipFiles, AnyOrderReadsTheFormulaAtEveryLevel)
{
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const fs::path path = Write("data.gz", Gzip(level), 497);
        std::string error;
        auto index = GzipIndex::Open(path, 497, kSpan, error);
        ASSERT_TRUE(index) << error;
        constexpr size_t kChunk = 40000; // not a divisor of anything the stream does
        const size_t chunks = kBytes / kChunk;

        // Backwards before any point exists, then forwards, which records the points.
        EXPECT_TRUE(ReadsBack(*index, (chunks - 1) * kChunk, kChunk));
        for (size_t c = 0; c < chunks; ++c)
            ASSERT_TRUE(ReadsBack(*index, c * kChunk, kChunk)) << c;
        // Points fall on block boundaries, which a well-compressed stretch spaces widely.
        const size_t points = index->Points();
        EXPECT_GE(points, 4u);
        EXPECT_LE(points, kBytes / kSpan);

        for (size_t c = chunks; c-- > 0;)
            ASSERT_TRUE(ReadsBack(*index, c * kChunk, kChunk)) << c;
        std::mt19937 rng(level);
        for (int i = 0; i < 200; ++i) {
            const std::uint64_t at = rng() % (kBytes - 1);
            const size_t bytes = std::min<size_t>(1 + rng() % 70000, kBytes - at);
            ASSERT_TRUE(ReadsBack(*index, at, bytes)) << at;
        }
        EXPECT_EQ(index->Points(), points) << "reading again must not add points";
        // The very last byte, and nothing past the end.
        EXPECT_TRUE(ReadsBack(*index, kBytes - 1, 1));
        unsigned char byte = 0;
        EXPECT_FALSE(index->Read(kBytes - 1, &byte, 2));
        EXPECT_TRUE(ReadsBack(*index, 0, 100));
    }
}

// A stream cut short gives what comes before the cut, from the start or from points, and
// fails after it.
TEST_F(GzipFiles, CutStreamsFailAfterTheCut)
{
    const std::string stream = Gzip(6);
    const fs::path path = Write("cut.gz", stream.substr(0, stream.size() / 2), 0);
    std::string error;
    auto index = GzipIndex::Open(path, 0, kSpan, error);
    ASSERT_TRUE(index) << error;
    unsigned char last = 0;
    EXPECT_FALSE(index->Read(kBytes - 1, &last, 1));
    const std::uint64_t end = index->ReadableEnd();
    EXPECT_GT(end, kBytes / 4);
    EXPECT_LT(end, kBytes);
    EXPECT_TRUE(ReadsBack(*index, end - 70000, 70000));
    EXPECT_TRUE(ReadsBack(*index, 1000, 5000));
    EXPECT_GT(index->Points(), 0u);
    std::vector<unsigned char> across(20);
    EXPECT_FALSE(index->Read(end - 10, across.data(), across.size()));
    EXPECT_FALSE(GzipIndex::Open(dir / "absent.gz", 0, kSpan, error));
    EXPECT_FALSE(error.empty());
}
