// Plane reading through Korvel against a plain read of the same file: the gap is what
// libtiff's decoding and the record handling cost per plane.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <korvel.h>

namespace {

constexpr int kSide = 1024;

struct Files
{
    std::filesystem::path dir;
    std::string tiff, bmp;
    std::vector<std::uint16_t> samples;
    std::vector<std::uint8_t> rgb; // expected BMP pixels, top row first

    Files()
    {
        dir = std::filesystem::temp_directory_path() / ("korvel-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        tiff = (dir / "plane.tif").string();
        bmp = (dir / "plane.bmp").string();

        IMAGE image;
        NewImage(kSide, kSide, 16, &image);
        auto* p = static_cast<std::uint16_t*>(image.data);
        for (int i = 0; i < kSide * kSide; ++i)
            p[i] = static_cast<std::uint16_t>(i * 2654435761u >> 16);
        samples.assign(p, p + kSide * kSide);
        SimpleTIFFWriteImage(&image, tiff.c_str());
        DeleteImage(&image);

        // 24-bit BMP: rows need no padding at this width; stored bottom-up as B, G, R.
        std::vector<std::uint8_t> file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
        auto put32 = [&file](std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        put32(kSide);
        put32(kSide);
        file.insert(file.end(), {1, 0, 24, 0});
        for (int i = 0; i < 6; ++i)
            put32(0);
        rgb.resize(static_cast<size_t>(kSide) * kSide * 3);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const std::uint8_t b = static_cast<std::uint8_t>(x), g = static_cast<std::uint8_t>(y),
                                   r = static_cast<std::uint8_t>(x ^ y);
                file.insert(file.end(), {b, g, r});
                std::uint8_t* dst = &rgb[(static_cast<size_t>(kSide - 1 - y) * kSide + x) * 3];
                dst[0] = r;
                dst[1] = g;
                dst[2] = b;
            }
        std::FILE* f = std::fopen(bmp.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    ~Files()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const Files& TestFiles()
{
    static const Files files;
    return files;
}

void PlainRead(benchmark::State& state, const std::string& path)
{
    const auto size = static_cast<size_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(std::fread(block, 1, size, f));
        std::fclose(f);
        std::free(block);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// Checks one read against the expected bytes, then times the reader alone.
void KorvelRead(benchmark::State& state, int32_t (*reader)(const char*, IMAGE*), const std::string& path,
                const void* expected, size_t bytes)
{
    IMAGE image = {0, 0, 0, 0, nullptr};
    const bool same = reader(path.c_str(), &image) == 0 && std::memcmp(image.data, expected, bytes) == 0;
    DeleteImage(&image);
    if (!same) {
        state.SkipWithError("read back differs");
        return;
    }
    for (auto _ : state) {
        reader(path.c_str(), &image);
        benchmark::DoNotOptimize(image.data);
        DeleteImage(&image);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_TiffPlainRead(benchmark::State& state)
{
    PlainRead(state, TestFiles().tiff);
}

void BM_SimpleTIFFReadImage16(benchmark::State& state)
{
    const Files& files = TestFiles();
    KorvelRead(state, SimpleTIFFReadImage, files.tiff, files.samples.data(), files.samples.size() * 2);
}

void BM_BmpPlainRead(benchmark::State& state)
{
    PlainRead(state, TestFiles().bmp);
}

void BM_BMPReadImage24(benchmark::State& state)
{
    const Files& files = TestFiles();
    KorvelRead(state, BMPReadImage, files.bmp, files.rgb.data(), files.rgb.size());
}

} // namespace

BENCHMARK(BM_TiffPlainRead);
BENCHMARK(BM_SimpleTIFFReadImage16);
BENCHMARK(BM_BmpPlainRead);
BENCHMARK(BM_BMPReadImage24);
BENCHMARK_MAIN();
