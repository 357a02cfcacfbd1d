// Time to the first full-resolution plane of a 2048 x 2048 x 64 uint16 blosc/lz4 Zarr image
// from a folder (opening included), next to a same-run baseline that only reads the chunk
// files that plane needs. The image is written to the temporary folder with the reader's own
// codec, once for each chunk depth (1 and 8 planes), and removed at exit. A second baseline
// also decompresses the files, for the share of the time that is decoding.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ChunkCodec.h"
#include "ZarrReader.h"

namespace fs = std::filesystem;

namespace {

constexpr int kW = 2048, kH = 2048, kD = 64, kChunk = 512, kPlane = 32;

class Image
{
public:
    explicit Image(int depth) : m_depth(depth)
    {
        m_root = fs::temp_directory_path() / ("lumora_bench_zarr_" + std::to_string(::getpid()) + "_" + std::to_string(depth) + ".zarr");
        fs::create_directories(m_root);
        std::ofstream(m_root / ".zarray") << R"({"zarr_format":2,"shape":[)" << kD << "," << kH << "," << kW << R"(],"chunks":[)" << depth
                                          << "," << kChunk << "," << kChunk
                                          << R"(],"dtype":"<u2","compressor":{"id":"blosc","cname":"lz4","clevel":5,"shuffle":1},)"
                                          << R"("fill_value":0,"order":"C","filters":null})";
        std::string why;
        const auto codec = ImageReader::MakeChunkCodec(R"({"id":"blosc","cname":"lz4","clevel":5,"shuffle":1})", 2, why);
        // Smooth structure plus camera-like noise: compresses about as well as real data.
        std::mt19937 rng(11);
        std::vector<std::uint16_t> chunk(static_cast<size_t>(depth) * kChunk * kChunk);
        std::vector<std::uint8_t> stored;
        for (int cz = 0; cz < kD / depth; ++cz)
            for (int cy = 0; cy < kH / kChunk; ++cy)
                for (int cx = 0; cx < kW / kChunk; ++cx) {
                    size_t i = 0;
                    for (int z = 0; z < depth; ++z)
                        for (int y = 0; y < kChunk; ++y)
                            for (int x = 0; x < kChunk; ++x)
                                chunk[i++] = static_cast<std::uint16_t>(1000 + ((cx * kChunk + x) ^ (cy * kChunk + y)) / 4 +
                                                                        (cz * depth + z) * 10 + (rng() & 63));
                    codec->Encode(chunk.data(), chunk.size() * 2, stored);
                    const std::string key = std::to_string(cz) + "." + std::to_string(cy) + "." + std::to_string(cx);
                    std::ofstream(m_root / key, std::ios::binary).write(reinterpret_cast<const char*>(stored.data()),
                                                                        static_cast<std::streamsize>(stored.size()));
                }
    }
    ~Image() { fs::remove_all(m_root); }

    std::string Path() const { return m_root.string(); }
    // The files plane kPlane needs.
    std::vector<fs::path> PlaneChunks() const
    {
        std::vector<fs::path> files;
        for (int cy = 0; cy < kH / kChunk; ++cy)
            for (int cx = 0; cx < kW / kChunk; ++cx)
                files.push_back(m_root / (std::to_string(kPlane / m_depth) + "." + std::to_string(cy) + "." + std::to_string(cx)));
        return files;
    }

private:
    fs::path m_root;
    int m_depth;
};

Image& image(int depth)
{
    static std::map<int, std::unique_ptr<Image>> images;
    auto& slot = images[depth];
    if (!slot)
        slot = std::make_unique<Image>(depth);
    return *slot;
}

void BM_ZarrFirstPlane(benchmark::State& state)
{
    Image& img = image(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ImageReader::ZarrReader<unsigned short> reader(img.Path());
        ImageReader::Vector p;
        p.push_back(kPlane);
        const auto slice = reader.GetSlice(p);
        if (slice.IsEmpty())
            state.SkipWithError("the plane could not be read");
        benchmark::DoNotOptimize(slice.GetData()[kW * kH - 1]);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * 2);
}
BENCHMARK(BM_ZarrFirstPlane)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadChunkFilesBaseline(benchmark::State& state)
{
    Image& img = image(static_cast<int>(state.range(0)));
    const auto files = img.PlaneChunks();
    std::vector<char> buffer;
    for (auto _ : state) {
        size_t total = 0;
        for (const fs::path& f : files) {
            std::ifstream in(f, std::ios::binary | std::ios::ate);
            buffer.resize(static_cast<size_t>(in.tellg()));
            in.seekg(0);
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            total += buffer.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * 2);
}
BENCHMARK(BM_ReadChunkFilesBaseline)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor under the reader: the same files read and fully decompressed on one thread,
// without assembling a plane.
void BM_ReadAndDecodeBaseline(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    Image& img = image(depth);
    const auto files = img.PlaneChunks();
    std::string why;
    const auto codec = ImageReader::MakeChunkCodec(R"({"id":"blosc"})", 2, why);
    std::vector<std::uint8_t> buffer;
    std::vector<std::uint8_t> raw(size_t(depth) * kChunk * kChunk * 2);
    for (auto _ : state) {
        for (const fs::path& f : files) {
            std::ifstream in(f, std::ios::binary | std::ios::ate);
            buffer.resize(static_cast<size_t>(in.tellg()));
            in.seekg(0);
            in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
            if (!codec->Decode(buffer.data(), buffer.size(), raw.data(), raw.size(), why))
                state.SkipWithError("a chunk could not be decoded");
        }
        benchmark::DoNotOptimize(raw.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * 2);
}
BENCHMARK(BM_ReadAndDecodeBaseline)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
