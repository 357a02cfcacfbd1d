// Opens mutated ICS headers through the project's reader, with a data file beside them whose
// length the input also chooses, and reads a few planes and values: no header may crash the
// reader, read outside the data, or leave pixels uninitialised.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "ICSImageReader.h"

namespace {

const std::filesystem::path& folder()
{
    static const std::filesystem::path dir = [] {
        // Memory-backed when the system has it: the target writes two files per input.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string name = (base / "lumora-fuzz-ics-XXXXXX").string();
        if (!mkdtemp(name.data()))
            std::abort();
        ImageReader::SetDiagnosticHandler([](const std::string&) {});
        return std::filesystem::path(name);
    }();
    return dir;
}

void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes give the data file's length (in units of 4 bytes), the rest is the header.
    const size_t idsBytes = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) * 4;
    std::vector<uint8_t> ids(idsBytes);
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
    writeFile(folder() / "f.ics", data + 2, size - 2);
    writeFile(folder() / "f.ids", ids.data(), ids.size());

    ImageReader::ICSImageReader<unsigned short> reader(folder() / "f.ics");
    const ImageReader::Vector dims = reader.GetSize();
    if (dims.size() == 0)
        return 0;
    unsigned sum = 0;
    ImageReader::Vector first, last;
    for (unsigned i = 2; i < dims.size(); ++i) {
        first.push_back(0);
        last.push_back(dims[static_cast<int>(i)] - 1);
    }
    for (const ImageReader::Vector& at : {last, first, last}) {
        const auto slice = reader.GetSlice(at);
        if (slice.IsEmpty())
            continue;
        const size_t n = static_cast<size_t>(dims[0]) * static_cast<size_t>(dims[1]);
        for (size_t i = 0; i < n; ++i)
            sum += slice.GetData()[i];
    }
    ImageReader::Vector corner = ImageReader::Vector(dims[0] - 1, dims[1] - 1);
    for (unsigned i = 2; i < dims.size(); ++i)
        corner.push_back(dims[static_cast<int>(i)] - 1);
    if (const auto v = reader.GetValue(corner))
        sum += static_cast<unsigned>(*v != *v);
    for (unsigned d = 0; d < dims.size(); ++d) {
        sum += static_cast<unsigned>(reader.GetDimName(d).size());
        sum += static_cast<unsigned>(reader.GetDimPixelSize(d) > 0);
    }
    // Keeps the reads from being optimised away.
    static volatile unsigned sink;
    sink = sum;
    return 0;
}
