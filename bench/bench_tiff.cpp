// A page of a 1000-page TIFF file against a single-page file of the same size, in one run:
// the page table must make page 999 as cheap as page 0, and both about as cheap as a file
// of its own. Each case alternates two neighbouring pages so that every read changes page.
//
// Every plane of a large uncompressed stack, served from the file's mapping, against the
// same planes decoded (strips stored out of order) and against plain pread of the bytes.
#include <benchmark/benchmark.h>

#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
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

constexpr int kBigSide = 1024, kBigPages = 64, kBigRows = 64;

// An uncompressed stack of kBigPages planes; `backwards` stores each page's strips last
// first, so that the readers must decode it.
void writeBig(const std::string& path, bool backwards)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    std::vector<std::uint16_t> plane(static_cast<size_t>(kBigSide) * kBigSide);
    for (int p = 0; p < kBigPages; ++p) {
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<std::uint16_t>((i + static_cast<size_t>(p)) * 2654435761u >> 16);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kBigSide);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kBigSide);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kBigRows);
        for (int k = 0; k < kBigSide / kBigRows; ++k) {
            const int y = (backwards ? kBigSide / kBigRows - 1 - k : k) * kBigRows;
            TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, static_cast<std::uint32_t>(y), 0),
                                  plane.data() + static_cast<size_t>(y) * kBigSide, kBigRows * kBigSide * 2);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

// A folder of files written once, when the first case that needs it runs, and removed at exit.
struct Scratch
{
    std::filesystem::path dir;
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

template <class F>
const F& once()
{
    static const F f;
    return f;
}

struct Files : Scratch
{
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
};


Vector at(int page)
{
    Vector v;
    v.push_back(page);
    return v;
}

// Pages `first` and `first + 1` in turn.
void BM_StackPage(benchmark::State& state)
{
    ImageReader::TIFFStackReader<unsigned short> reader(once<Files>().stack);
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
    ImageReader::TIFFImageReader<unsigned short> reader(once<Files>().single);
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
        ImageReader::TIFFStackReader<unsigned short> reader(once<Files>().stack);
        benchmark::DoNotOptimize(reader.GetSize().size());
    }
}

// Written only when a big-stack case runs: 256 MiB.
struct BigFiles : Scratch
{
    std::string big, bigBackwards;
    BigFiles()
    {
        dir = std::filesystem::temp_directory_path() / ("lumora-tiff-bench-big-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        big = (dir / "big.tif").string();
        bigBackwards = (dir / "big-backwards.tif").string();
        writeBig(big, false);
        writeBig(bigBackwards, true);
    }
};


// One value per 4 KiB of the plane: every page of it is touched, as a view's first look does.
std::uint64_t touch(const std::uint16_t* data)
{
    std::uint64_t sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(kBigSide) * kBigSide; i += 2048)
        sum += data[i];
    return sum;
}

// Every plane of a big stack in turn, through the reader. Arg 0: the plain file (planes
// borrowed from the mapping); arg 1: the same planes stored out of order (decoded).
void BM_BigStackPlanes(benchmark::State& state)
{
    ImageReader::TIFFStackReader<unsigned short> reader(state.range(0) ? once<BigFiles>().bigBackwards : once<BigFiles>().big);
    if (reader.GetSize().size() != 3 || reader.GetSlice(at(0)).IsBorrowed() != (state.range(0) == 0)) {
        state.SkipWithError("big stack not readable as expected");
        return;
    }
    for (auto _ : state)
        for (int p = 0; p < kBigPages; ++p) {
            auto slice = reader.GetSlice(at(p));
            benchmark::DoNotOptimize(touch(slice.GetData()));
        }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBigPages * kBigSide * kBigSide * 2);
}

// The baseline: each plane's bytes read with pread into a buffer of its own.
void BM_BigStackPread(benchmark::State& state)
{
    std::vector<std::uint64_t> offsets;
    TIFF* tif = TIFFOpen(once<BigFiles>().big.c_str(), "r");
    do
        offsets.push_back(TIFFGetStrileOffset(tif, 0));
    while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    const int fd = ::open(once<BigFiles>().big.c_str(), O_RDONLY | O_CLOEXEC);
    const size_t bytes = static_cast<size_t>(kBigSide) * kBigSide * 2;
    for (auto _ : state)
        for (std::uint64_t offset : offsets) {
            auto* plane = static_cast<std::uint16_t*>(std::malloc(bytes));
            if (::pread(fd, plane, bytes, static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes))
                state.SkipWithError("short read");
            benchmark::DoNotOptimize(touch(plane));
            std::free(plane);
        }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBigPages * static_cast<int64_t>(bytes));
}

} // namespace

// 100 000 pages of 2 x 2 samples sharing one strip, as a classic little-endian file
// (libtiff would take long to write so many directories), and 100 000 series file names.
struct ManyFiles : Scratch
{
    static constexpr std::uint32_t kCount = 100000;
    std::string stack, seriesFirst;
    ManyFiles()
    {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        dir = base / ("lumora-tiff-bench-many-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir / "series");
        stack = (dir / "pages.tif").string();
        std::vector<unsigned char> out = {'I', 'I', 42, 0, 16, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0};
        const auto put = [&out](std::uint64_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        };
        // Tag, type, value: width, height, bits, compression, photometric, strip offsets,
        // samples, rows per strip, strip byte counts.
        const std::uint16_t tags[][3] = {{256, 3, 2}, {257, 3, 2}, {258, 3, 16}, {259, 3, 1}, {262, 3, 1},
                                         {273, 4, 8}, {277, 3, 1}, {278, 3, 2},  {279, 4, 8}};
        for (std::uint32_t p = 0; p < kCount; ++p) {
            put(9, 2);
            for (const auto& t : tags) {
                put(t[0], 2), put(t[1], 2), put(1, 4), put(t[2], 4);
            }
            put(p + 1 < kCount ? out.size() + 4 : 0, 4);
        }
        const int fd = ::open(stack.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
            std::abort();
        ::close(fd);
        seriesFirst = (dir / "series" / "s_000000.tif").string();
        std::filesystem::copy_file(once<Files>().stack, seriesFirst);
        for (std::uint32_t i = 1; i < kCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "s_%06u.tif", i);
            ::close(::open((dir / "series" / name).c_str(), O_CREAT | O_WRONLY, 0644));
        }
    }
};


// The page table of 100 000 pages, against reading the file's bytes once.
void BM_ManyPagesOpen(benchmark::State& state)
{
    const ManyFiles& m = once<ManyFiles>();
    for (auto _ : state) {
        ImageReader::TIFFStackReader<unsigned short> reader(m.stack);
        if (reader.GetSize().size() != 3 || reader.GetSize()[2] != static_cast<int>(ManyFiles::kCount))
            state.SkipWithError("wrong page count");
    }
}

void BM_ManyPagesRead(benchmark::State& state)
{
    const ManyFiles& m = once<ManyFiles>();
    std::vector<char> buffer(std::filesystem::file_size(m.stack));
    for (auto _ : state) {
        const int fd = ::open(m.stack.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(::pread(fd, buffer.data(), buffer.size(), 0));
        ::close(fd);
    }
}

// A series of 100 000 file names, against listing the folder.
void BM_ManyFilesSeries(benchmark::State& state)
{
    const ManyFiles& m = once<ManyFiles>();
    for (auto _ : state) {
        ImageReader::TIFFImageReader<unsigned short> reader(m.seriesFirst);
        if (reader.GetFileCount() != ManyFiles::kCount)
            state.SkipWithError("wrong file count");
    }
}

void BM_ManyFilesListing(benchmark::State& state)
{
    const ManyFiles& m = once<ManyFiles>();
    for (auto _ : state) {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m.dir / "series"))
            n += entry.path().filename().string().size();
        benchmark::DoNotOptimize(n);
    }
}

BENCHMARK(BM_ManyPagesOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyPagesRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyFilesSeries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyFilesListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigStackPlanes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigStackPread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SingleFilePage);
BENCHMARK(BM_StackPage)->Arg(0)->Arg(kPages - 2);
BENCHMARK(BM_StackOpen)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
