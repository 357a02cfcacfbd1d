// What a file can do to the readers beyond holding wrong values: be cut short while its
// planes are lent out, promise extents whose product overflows, make the readers allocate
// more than the memory budget, hold 100 000 pages or sit among 100 000 files.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MemoryBudget.h"
#include "OpenImage.h"
#include "Progress.h"
#include "SampleType.h"
#include "StopToken.h"
#include "TIFFStackReader.h"
#include "TiffWriter.h"

using ImageReader::ImageSlice;
using ImageReader::OpenImage;
using ImageReader::Vector;
using tifftest::Folder;
using tifftest::Messages;
using tifftest::Page;
using tifftest::V;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sets the process's memory budget for the scope's life.
struct Budget
{
    explicit Budget(size_t bytes) { ImageReader::SetProcessMemoryBudget(bytes); }
    ~Budget() { ImageReader::SetProcessMemoryBudget(0); }
};

// A version 1 ICS header for 16-bit x, y, z data in `stem`.ids beside it.
void writeIcsHeader(const fs::path& header, int w, int h, int z)
{
    std::ofstream out(header, std::ios::binary);
    out << "\t\nics_version\t1.0\nfilename\t" << header.stem().string() << "\nlayout\tparameters\t4\n"
        << "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t" << w << "\t" << h << "\t" << z << "\n"
        << "layout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
        << "representation\tsign\tunsigned\nrepresentation\tcompression\tuncompressed\n"
        << "representation\tbyte_order\t1\t2\nend\n";
}

// Sum of every sample of a plane: touches all of its memory.
unsigned long long touch(const ImageSlice<unsigned short>& s)
{
    unsigned long long sum = 0;
    const size_t n = s.IsEmpty() ? 0 : static_cast<size_t>(s.GetSize().prod());
    for (size_t i = 0; i < n; ++i)
        sum += s.GetData()[i];
    return sum;
}

// Little-endian classic TIFF: overwrites the value of tag `tag` (SHORT or LONG, held in the
// entry) in the directory at `ifd`.
void patchTag(const std::string& path, std::uint64_t ifd, std::uint16_t tag, std::uint32_t value)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::uint16_t entries = 0;
    file.seekg(static_cast<std::streamoff>(ifd));
    file.read(reinterpret_cast<char*>(&entries), 2);
    for (std::uint16_t e = 0; e < entries; ++e) {
        std::uint16_t entry[2] = {};
        file.seekg(static_cast<std::streamoff>(ifd + 2 + 12u * e));
        file.read(reinterpret_cast<char*>(entry), 4);
        if (entry[0] != tag)
            continue;
        file.seekp(static_cast<std::streamoff>(ifd + 2 + 12u * e + 8));
        if (entry[1] == TIFF_SHORT) {
            const auto v = static_cast<std::uint16_t>(value);
            file.write(reinterpret_cast<const char*>(&v), 2);
        } else {
            file.write(reinterpret_cast<const char*>(&value), 4);
        }
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

std::uint64_t firstDirectory(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::uint32_t header[2] = {};
    in.read(reinterpret_cast<char*>(header), 8);
    return header[1];
}

} // namespace

// A plane lent from a mapping and read after its file was cut reads zeros instead of ending
// the program; the plane then says it is no longer intact (so its holders take it as
// missing), as do bands cut from it, and the reader calls the plane missing.
TEST(FileCutShort, LentPlanesSurviveTheirFileBeingCut)
{
    Folder folder;
    Messages messages;
    const fs::path header = folder.File("cut.ics"), ids = folder.File("cut.ids");
    constexpr int W = 256, H = 128, Z = 8;
    writeIcsHeader(header, W, H, Z);
    {
        std::vector<std::uint16_t> data(size_t(W) * H * Z, 7);
        std::ofstream(ids, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                   static_cast<std::streamsize>(data.size() * 2));
    }
    auto opened = OpenImage(header);
    ASSERT_TRUE(opened.reader) << opened.error;
    auto& r = *opened.reader;
    const ImageSlice<unsigned short> last = r.GetSlice(V({Z - 1})), first = r.GetSlice(V({0}));
    ASSERT_TRUE(last.IsBorrowed());
    EXPECT_EQ(touch(last), 7ull * W * H);
    const ImageSlice<unsigned short> rows = r.CutRows(last, 1, 3);
    EXPECT_TRUE(rows.IsIntact());
    fs::resize_file(ids, size_t(W) * H * 2 * Z / 2);
    EXPECT_TRUE(last.IsIntact()); // nothing read since the cut yet
    EXPECT_EQ(touch(last), 0u);
    EXPECT_FALSE(last.IsIntact());
    EXPECT_FALSE(rows.IsIntact());
    EXPECT_TRUE(r.CutColumns(last, 0, 2).IsEmpty());
    EXPECT_EQ(touch(first), 7ull * W * H);
    EXPECT_TRUE(first.IsIntact());
    EXPECT_TRUE(r.CutRows(first, 0, 1).IsIntact());
    EXPECT_TRUE(r.GetSlice(V({Z - 1})).IsEmpty());
    EXPECT_FALSE(r.GetValue(V({0, 0, Z - 1})).has_value());
    EXPECT_EQ(r.GetValue(V({0, 0, 0})), 7.0);
}

// Files cut at random moments while a projection reads every plane: no run may end the
// program. Sparse ICS data, and a TIFF of plain pages (lent too) copied afresh each run;
// planes of 2 MiB, cut up to the end of the plane being read, so that a cut often falls
// inside a plane already lent.
TEST(FileCutShort, ProjectionsWhileTheFileIsCut)
{
    Folder folder;
    Messages messages;
    std::mt19937 random(23);
    const fs::path header = folder.File("p.ics"), ids = folder.File("p.ids");
    constexpr int W = 1024, H = 1024, Z = 24;
    constexpr size_t icsBytes = size_t(W) * H * 2 * Z;
    writeIcsHeader(header, W, H, Z);
    std::ofstream(ids, std::ios::binary).close();
    const std::string tiff = folder.File("p.tif"), pristine = folder.File("pristine.tif");
    Page g;
    g.width = W, g.height = H, g.rowsPerStrip = 64;
    tifftest::Write(pristine, g, 12, [](int p, int, int x, int) { return p + x; });
    const size_t tiffBytes = fs::file_size(pristine);

    for (int run = 0; run < 24; ++run) {
        const bool useTiff = run % 2 == 1;
        if (useTiff) {
            fs::copy_file(pristine, tiff, fs::copy_options::overwrite_existing);
        } else {
            fs::resize_file(ids, 0);
            fs::resize_file(ids, icsBytes);
        }
        auto opened = OpenImage(useTiff ? fs::path(tiff) : header);
        ASSERT_TRUE(opened.reader) << opened.error;
        ImageReader::ProjectionControl control;
        std::atomic<bool> finished{false};
        std::thread projection([&] {
            touch(opened.reader->GetMaximumProjection(0, 1, V({-1, -1, -1}), &control));
            finished = true;
        });
        while (control.done.load() == 0 && !finished)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        // Somewhere up to the end of the plane being read now.
        const double reached = (static_cast<double>(control.done.load()) + 1.0) / static_cast<double>(useTiff ? 12 : Z);
        const double cut = std::min(1.0, reached) * static_cast<double>(random() % 1000) / 1000.0;
        fs::resize_file(useTiff ? fs::path(tiff) : ids, static_cast<size_t>(cut * static_cast<double>(useTiff ? tiffBytes : icsBytes)));
        projection.join();
    }
}

// A tag libtiff does not know carries the file's own type number, which need not be one the
// library names (the sanitizer build catches it being taken for one): ImageJ's metadata tag
// with type 0xFE00 is not ImageJ metadata, and the page still opens.
TEST(FileLimits, UnknownTagTypesAreNumbers)
{
    Folder folder;
    const std::string path = folder.File("odd-tag.tif");
    tifftest::WriteFlat(path, 5);
    // A copy of the first directory at the end of the file with one more entry: tag 50839,
    // type 0xFE00, count 4, the value inline.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::uint64_t ifd = firstDirectory(path);
    std::uint16_t entries = 0;
    file.seekg(static_cast<std::streamoff>(ifd));
    file.read(reinterpret_cast<char*>(&entries), 2);
    std::vector<char> table(12u * entries);
    file.read(table.data(), static_cast<std::streamsize>(table.size()));
    file.seekp(0, std::ios::end);
    std::uint32_t at = static_cast<std::uint32_t>(file.tellp());
    at += at % 2;
    file.seekp(at);
    const std::uint16_t more = entries + 1;
    file.write(reinterpret_cast<const char*>(&more), 2);
    file.write(table.data(), static_cast<std::streamsize>(table.size()));
    const std::uint16_t entry[2] = {50839, 0xFE00};
    const std::uint32_t count = 4, value = 0x01020304, next = 0;
    file.write(reinterpret_cast<const char*>(entry), 4);
    file.write(reinterpret_cast<const char*>(&count), 4);
    file.write(reinterpret_cast<const char*>(&value), 4);
    file.write(reinterpret_cast<const char*>(&next), 4);
    file.seekp(4);
    file.write(reinterpret_cast<const char*>(&at), 4);
    file.close();

    Messages messages;
    ImageReader::TIFFStackReader<unsigned short> r(path);
    ASSERT_EQ(r.GetSize(), V({3, 2})) << r.GetError();
    EXPECT_EQ(r.GetSlice(Vector()).GetData()[0], 5);
}

// Extents whose product wraps around 64 bits are not believed.
TEST(FileLimits, OverflowingExtentsAreNotBelieved)
{
    Folder folder;
    Messages messages;
    const std::string big = std::to_string(1 << 26);
    Page g;
    g.description = "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\"><Image ID=\"Image:0\">"
                    "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZCT\" Type=\"uint16\" SizeX=\"3\" SizeY=\"2\" SizeZ=\"" + big +
                    "\" SizeC=\"" + big + "\" SizeT=\"" + big + "\"/></Image></OME>";
    const std::string ome = folder.File("ome.tif");
    tifftest::Write(ome, g, 2, [](int p, int, int, int) { return p + 1; });
    const auto start = Clock::now();
    auto opened = OpenImage(ome);
    ASSERT_TRUE(opened.reader) << opened.error;
    EXPECT_EQ(opened.reader->GetSize(), V({3, 2, 2}));
    EXPECT_LT(secondsSince(start), 1.0);
    ASSERT_FALSE(messages.list.empty());
    EXPECT_NE(messages.list[0].find("impossible sizes"), std::string::npos) << messages.list[0];

    const std::string huge = std::to_string(1 << 30);
    g.description = "ImageJ=1.54f\nimages=2\nchannels=" + huge + "\nslices=" + huge + "\nframes=" + huge + "\n";
    const std::string ij = folder.File("ij.tif");
    tifftest::Write(ij, g, 2, [](int p, int, int, int) { return p + 1; });
    auto hyper = OpenImage(ij);
    ASSERT_TRUE(hyper.reader) << hyper.error;
    EXPECT_EQ(hyper.reader->GetSize(), V({3, 2, 2}));
    EXPECT_NE(messages.list.back().find("promises more images"), std::string::npos) << messages.list.back();
}

// Opening samples the value range of wide samples from at most about 64 MiB, in pieces of
// at most 4 MiB, however large a plane is: a 2 GiB float64 plane is never read whole.
TEST(FileLimits, ValueRangeIsSampledFromABoundedPart)
{
    constexpr size_t planeSamples = size_t(1) << 28; // 2 GiB of float64
    size_t asked = 0, largest = 0;
    const auto map = ImageReader::EstimateValueMap(
        ImageReader::SampleType::Float64, 3, planeSamples, [&](size_t, size_t first, size_t n, void* buffer) {
            EXPECT_LE(first + n, planeSamples);
            asked += n;
            largest = std::max(largest, n);
            auto* v = static_cast<double*>(buffer);
            for (size_t i = 0; i < n; ++i)
                v[i] = static_cast<double>((first + i) % 1000);
            return true;
        });
    EXPECT_LE(asked * 8, size_t(64) << 20);
    EXPECT_GE(asked * 8, size_t(32) << 20);
    EXPECT_LE(largest * 8, size_t(4) << 20);
    EXPECT_EQ(map.ToReal(0), 0.0);
    EXPECT_NEAR(map.ToReal(65535), 999.0, 1e-9);
}

// A small file cannot make the readers allocate beyond the budget: a page of 24000 x 24000
// float64 samples in a file of a few KiB, a tile of 32768 x 32768 for a 64 x 64 page.
TEST(FileLimits, AllocationsAFileAsksForAreCheckedAgainstTheBudget)
{
    Folder folder;
    const Budget budget(size_t(256) << 20);
    Page g;
    g.width = 16, g.height = 16, g.bits = 64, g.format = SAMPLEFORMAT_IEEEFP, g.rowsPerStrip = 16;
    const std::string wide = folder.File("wide.tif");
    tifftest::Write(wide, g, 1, [](int, int, int x, int) { return x; });
    patchTag(wide, firstDirectory(wide), TIFFTAG_IMAGEWIDTH, 24000);
    patchTag(wide, firstDirectory(wide), TIFFTAG_IMAGELENGTH, 24000);
    patchTag(wide, firstDirectory(wide), TIFFTAG_ROWSPERSTRIP, 24000);
    const auto start = Clock::now();
    auto opened = OpenImage(wide);
    EXPECT_FALSE(opened.reader);
    EXPECT_NE(opened.error.find("memory budget"), std::string::npos) << opened.error;
    EXPECT_LT(secondsSince(start), 1.0);

    Page t;
    t.width = 64, t.height = 64, t.tile = 16, t.compression = COMPRESSION_ADOBE_DEFLATE;
    const std::string tiled = folder.File("tiled.tif");
    tifftest::Write(tiled, t, 1, [](int, int, int x, int y) { return x + y; });
    patchTag(tiled, firstDirectory(tiled), TIFFTAG_TILEWIDTH, 32768);
    patchTag(tiled, firstDirectory(tiled), TIFFTAG_TILELENGTH, 32768);
    auto bomb = OpenImage(tiled);
    EXPECT_FALSE(bomb.reader);
    EXPECT_NE(bomb.error.find("tiles"), std::string::npos) << bomb.error;

    // A plane of display values beyond the budget is refused with a reason, not allocated.
    const fs::path header = folder.File("big.ics"), ids = folder.File("big.ids");
    std::ofstream(header, std::ios::binary)
        << "\t\nics_version\t1.0\nfilename\tbig\nlayout\tparameters\t3\nlayout\torder\tbits\tx\ty\n"
           "layout\tsizes\t64\t2048\t2048\nlayout\tcoordinates\tvideo\nlayout\tsignificant_bits\t64\n"
           "representation\tformat\treal\nrepresentation\tsign\tsigned\nrepresentation\tcompression\tuncompressed\n"
           "representation\tbyte_order\t1\t2\t3\t4\t5\t6\t7\t8\nend\n";
    std::ofstream(ids, std::ios::binary).close();
    fs::resize_file(ids, size_t(2048) * 2048 * 8);
    {
        const Budget small(size_t(4) << 20);
        const auto refused = OpenImage(header);
        EXPECT_FALSE(refused.reader);
        EXPECT_NE(refused.error.find("memory budget"), std::string::npos) << refused.error;
    }
    auto ics = OpenImage(header);
    ASSERT_TRUE(ics.reader) << ics.error;
    Messages messages;
    {
        const Budget small(size_t(4) << 20);
        EXPECT_TRUE(ics.reader->GetSlice(Vector()).IsEmpty());
    }
    ASSERT_EQ(messages.list.size(), 1u);
    EXPECT_NE(messages.list[0].find("memory budget"), std::string::npos) << messages.list[0];
    EXPECT_FALSE(ics.reader->GetSlice(Vector()).IsEmpty());
}

// A plane cut short since opening reads as missing, not as zeros, and the reader says so
// once however many planes are lost.
TEST(FileCutShort, TiffPagesCutShortAreMissingAndSaidOnce)
{
    Folder folder;
    for (const bool plain : {true, false}) {
        Page g;
        g.width = 64, g.height = 64, g.rowsPerStrip = 4;
        if (!plain)
            g.bits = 8; // decoded, not lent
        const std::string path = folder.File(plain ? "plain.tif" : "bytes.tif");
        tifftest::Write(path, g, 6, [](int p, int, int x, int) { return p * 10 + x % 7 + 1; });
        Messages messages;
        auto opened = OpenImage(path);
        ASSERT_TRUE(opened.reader) << opened.error;
        auto& r = *opened.reader;
        const size_t pageBytes = size_t(64) * 64 * (plain ? 2 : 1);
        // Pages follow each other with their directories; the cut falls inside page 3.
        fs::resize_file(path, 8 + pageBytes * 3 + pageBytes / 2);
        for (int p : {3, 4, 5, 3})
            EXPECT_TRUE(r.GetSlice(V({p})).IsEmpty()) << p;
        EXPECT_FALSE(r.GetValue(V({1, 1, 3})).has_value());
        const ImageSlice<unsigned short> kept = r.GetSlice(V({1}));
        ASSERT_FALSE(kept.IsEmpty());
        EXPECT_EQ(kept.GetData()[5], 10 + 5 + 1);
        EXPECT_EQ(messages.list.size(), 1u) << plain;
    }
}

namespace {

// A classic little-endian TIFF of `pages` 2 x 2 16-bit pages written directly (libtiff
// would take long to write so many directories): all pages share one strip.
void writeManyPages(const std::string& path, std::uint32_t pages)
{
    std::vector<unsigned char> out;
    const auto put = [&out](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    out = {'I', 'I', 42, 0};
    put(16, 4);
    put(0x00020001, 4);
    put(0x00040003, 4); // the strip: samples 1, 2, 3, 4
    const std::uint16_t tags[][3] = {{256, 3, 2}, {257, 3, 2}, {258, 3, 16}, {259, 3, 1}, {262, 3, 1},
                                     {273, 4, 8}, {277, 3, 1}, {278, 3, 2},  {279, 4, 8}};
    for (std::uint32_t p = 0; p < pages; ++p) {
        put(9, 2);
        for (const auto& t : tags) {
            put(t[0], 2);
            put(t[1], 2);
            put(1, 4);
            put(t[2], 4);
        }
        put(p + 1 < pages ? out.size() + 4 : 0, 4);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

} // namespace

// 100 000 pages: the page table takes well under a second, counts its progress and stops
// when asked.
TEST(FileLimits, PageTablesOfManyPagesAreFastAndCancellable)
{
    Folder folder;
    const std::string path = folder.File("many.tif");
    constexpr std::uint32_t kPages = 100000;
    writeManyPages(path, kPages);

    ImageReader::OpenProgress progress;
    const auto start = Clock::now();
    {
        const ImageReader::ProgressScope scope(&progress);
        ImageReader::TIFFStackReader<unsigned short> r(path);
        ASSERT_EQ(r.GetSize(), V({2, 2, static_cast<int>(kPages)})) << r.GetError();
        EXPECT_EQ(r.GetSlice(V({kPages - 1})).GetData()[3], 4);
        EXPECT_LT(secondsSince(start), 1.0);
    }
    EXPECT_GE(progress.done.load(), size_t(kPages) * 9 / 10);

    ImageReader::StopToken stop;
    stop.RequestStop();
    const ImageReader::StopScope scope(&stop);
    ImageReader::TIFFStackReader<unsigned short> cancelled(path);
    EXPECT_EQ(cancelled.GetSize().size(), 0u);
    EXPECT_NE(cancelled.GetError().find("cancelled"), std::string::npos) << cancelled.GetError();
}

// A folder of many series files is listed quickly, with progress, and stops when asked.
TEST(FileLimits, FolderScansAreFastAndCancellable)
{
    // In memory where the system allows: creating thousands of files on a disk is slow.
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    if (fs::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    Folder folder;
    previous ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
    constexpr int kFiles = 10000;
    tifftest::WriteFlat(folder.File("s_00000.tif"), 1);
    // Names only: the files other than the first are opened when their plane is read.
    for (int i = 1; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s_%05d.tif", i);
        const int fd = ::open(folder.File(name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ImageReader::OpenProgress progress;
    const auto start = Clock::now();
    {
        const ImageReader::ProgressScope scope(&progress);
        auto opened = OpenImage(folder.File("s_00000.tif"));
        ASSERT_TRUE(opened.reader) << opened.error;
        EXPECT_EQ(opened.reader->GetSize(), V({3, 2, kFiles}));
    }
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_GE(progress.done.load(), size_t(kFiles) / 2);

    ImageReader::StopToken stop;
    stop.RequestStop();
    const ImageReader::StopScope scope(&stop);
    auto cancelled = OpenImage(folder.File("s_00000.tif"));
    EXPECT_FALSE(cancelled.reader);
    EXPECT_NE(cancelled.error.find("cancelled"), std::string::npos) << cancelled.error;
}
