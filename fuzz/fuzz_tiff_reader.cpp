// The TIFF readers over arbitrary bytes: the stack reader (page table, ImageJ and OME
// descriptions, tiled, planar and interleaved layouts, every sample type) and the series
// reader on the same file. Every plane delivered must be complete and of the image's plane
// size; the sanitizers catch reads past a buffer and uninitialised use.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <tiffio.h>
#include <unistd.h>

#include "Diagnostics.h"
#include "MemoryBudget.h"
#include "TIFFImageReader.h"
#include "TIFFStackReader.h"

using namespace ImageReader;

namespace {

std::string g_path;

// Reads up to 24 planes spread over the image (first and last included) and a few values.
void exercise(ImageReaderBase<unsigned short>& reader)
{
    const Vector size = reader.GetSize();
    if (size.size() == 0)
        return;
    if (size.size() < 2)
        abort();
    long long planes = 1;
    for (unsigned i = 2; i < size.size(); ++i) {
        if (size[static_cast<int>(i)] <= 0)
            abort();
        planes *= size[static_cast<int>(i)];
    }
    for (unsigned d = 0; d <= size.size(); ++d) {
        reader.GetDimName(d);
        reader.GetIndexName(d, 0);
        if (reader.GetDimPixelSize(d) < 0)
            abort();
    }
    reader.GetFormatName();
    const long long count = planes < 24 ? planes : 24;
    for (long long k = 0; k < count; ++k) {
        long long index = count == 1 ? 0 : k * (planes - 1) / (count - 1);
        Vector position;
        for (unsigned i = 2; i < size.size(); ++i) {
            position.push_back(static_cast<int>(index % size[static_cast<int>(i)]));
            index /= size[static_cast<int>(i)];
        }
        const ImageSlice<unsigned short> slice = reader.GetSlice(position);
        if (slice.IsEmpty())
            continue;
        if (slice.GetSize() != Vector(size[0], size[1]))
            abort();
        const size_t n = static_cast<size_t>(size[0]) * static_cast<size_t>(size[1]);
        // Touches every sample, so that a plane shorter than its size shows as an overflow.
        volatile unsigned sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum = sum + slice.GetData()[i];
        Vector full(size[0] - 1, size[1] - 1);
        for (unsigned i = 0; i < position.size(); ++i)
            full.push_back(position[static_cast<int>(i)]);
        reader.GetValue(full);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    SetDiagnosticHandler([](const std::string&) {});
    // The viewer's own limit at --cache-mb 256: what a file may make the readers allocate.
    SetProcessMemoryBudget(size_t(256) << 20);
    char folder[] = "/tmp/lumora-fuzz-XXXXXX";
    if (!mkdtemp(folder))
        abort();
    g_path = std::string(folder) + "/plane.tif";
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    {
        std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        TIFFStackReader<unsigned short> stack(g_path);
        exercise(stack);
    }
    {
        TIFFImageReader<unsigned short> series(g_path);
        exercise(series);
    }
    return 0;
}
