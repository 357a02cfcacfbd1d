// Reading and colouring planes of other sample types costs about what 16-bit planes cost:
// a 1024 x 1024 x 100 float32 ICS image against the uint16 image of the same size, plane read
// plus channel mapping, in the same run. Both files sit in the page cache.
#include <benchmark/benchmark.h>

#include <libics.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "ICSImageReader.h"
#include "ImageChannel.h"

namespace {

constexpr size_t kW = 1024, kH = 1024, kD = 100;

template <class S>
std::filesystem::path writeVolume(const char* name, Ics_DataType type)
{
    const auto path = std::filesystem::temp_directory_path() / name;
    std::vector<S> data(kW * kH * kD);
    std::mt19937 rng(5);
    for (auto& v : data)
        v = static_cast<S>(rng() % 60000) / static_cast<S>(type == Ics_real32 ? 7 : 1);
    ICS* ics = nullptr;
    size_t dims[3] = {kW, kH, kD};
    IcsOpen(&ics, path.c_str(), "w2");
    IcsSetLayout(ics, type, 3, dims);
    IcsSetData(ics, data.data(), data.size() * sizeof(S));
    IcsClose(ics);
    return path;
}

struct Files
{
    std::filesystem::path u16 = writeVolume<uint16_t>("lumora_bench_u16.ics", Ics_uint16);
    std::filesystem::path f32 = writeVolume<float>("lumora_bench_f32.ics", Ics_real32);
    ~Files()
    {
        std::filesystem::remove(u16);
        std::filesystem::remove(f32);
    }
};

Files& files()
{
    static Files f;
    return f;
}

void readAndMap(benchmark::State& state, const std::filesystem::path& path)
{
    ImageReader::ICSImageReader<unsigned short> reader(path);
    ImageViewer::ImageChannel channel(0, 65535, 0, 255, 128, 0);
    int z = 0;
    for (auto _ : state) {
        ImageReader::Vector p;
        p.push_back(z);
        z = (z + 1) % static_cast<int>(kD);
        const auto picture = channel.RenderToRGBA(reader.GetSlice(p));
        benchmark::DoNotOptimize(picture.get());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW * kH));
}

void BM_ReadAndMapUInt16(benchmark::State& state)
{
    readAndMap(state, files().u16);
}

void BM_ReadAndMapFloat32(benchmark::State& state)
{
    readAndMap(state, files().f32);
}

// What opening costs for float data: the value range comes from a bounded sample of planes.
void BM_OpenFloat32(benchmark::State& state)
{
    for (auto _ : state) {
        ImageReader::ICSImageReader<unsigned short> reader(files().f32);
        benchmark::DoNotOptimize(reader.GetValueMap().scale);
    }
}

void BM_OpenUInt16(benchmark::State& state)
{
    for (auto _ : state) {
        ImageReader::ICSImageReader<unsigned short> reader(files().u16);
        benchmark::DoNotOptimize(reader.GetValueMap().scale);
    }
}

} // namespace

BENCHMARK(BM_ReadAndMapUInt16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndMapFloat32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenUInt16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFloat32)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
