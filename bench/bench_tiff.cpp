// A page of a 1000-page TIFF file against a single-page file of the same size, in one run:
// the page table must make page 999 as cheap as page 0, and both about as cheap as a file
// of its own. Each case alternates two neighbouring pages so that every read changes page.
#include <benchmark/benchmark.h>

#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "TIFFImageReader.h"
#include "TIFFStackReader.h"

using ImageReader::Vector;

namespace {

constexpr int kSide = 256, kPages = 1000;

void writePages(const std::string& path, int pages)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    std::vector<std::uint16_t> plane(static_cast<size_t>(kSide) * kSide);
    for (int p = 0; p < pages; ++p) {
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<std::uint16_t>((i + static_cast<size_t>(p)) * 2654435761u >> 16);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < kSide; y += 16)
            TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, static_cast<std::uint32_t>(y), 0),
                                  plane.data() + static_cast<size_t>(y) * kSide, 16 * kSide * 2);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

struct Files
{
    std::filesystem::path dir;
    std::string stack, single;
    Files()
    {
        dir = std::filesystem::temp_directory_path() / ("lumora-tiff-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir / "single");
        stack = (dir / "stack.tif").string();
        single = (dir / "single" / "plane.tif").string();
        writePages(stack, kPages);
        writePages(single, 1);
    }
    ~Files()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const Files& files()
{
    static const Files f;
    return f;
}

Vector at(int page)
{
    Vector v;
    v.push_back(page);
    return v;
}

// Pages `first` and `first + 1` in turn.
void BM_StackPage(benchmark::State& state)
{
    ImageReader::TIFFStackReader<unsigned short> reader(files().stack);
    const int first = static_cast<int>(state.range(0));
    if (reader.GetSize().size() != 3 || reader.GetSlice(at(first)).IsEmpty()) {
        state.SkipWithError("stack not readable");
        return;
    }
    int k = 0;
    for (auto _ : state) {
        auto slice = reader.GetSlice(at(first + (k++ & 1)));
        benchmark::DoNotOptimize(slice.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 2);
}

// The same plane as a file of its own: opened, read and closed per request, as a series does.
void BM_SingleFilePage(benchmark::State& state)
{
    ImageReader::TIFFImageReader<unsigned short> reader(files().single);
    if (reader.GetSize().size() != 2 || reader.GetSlice(Vector()).IsEmpty()) {
        state.SkipWithError("file not readable");
        return;
    }
    for (auto _ : state) {
        auto slice = reader.GetSlice(Vector());
        benchmark::DoNotOptimize(slice.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 2);
}

// Opening builds the page table: one directory read per page, once.
void BM_StackOpen(benchmark::State& state)
{
    for (auto _ : state) {
        ImageReader::TIFFStackReader<unsigned short> reader(files().stack);
        benchmark::DoNotOptimize(reader.GetSize().size());
    }
}

} // namespace

BENCHMARK(BM_SingleFilePage);
BENCHMARK(BM_StackPage)->Arg(0)->Arg(kPages - 2);
BENCHMARK(BM_StackOpen)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
