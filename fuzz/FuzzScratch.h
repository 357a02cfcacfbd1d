// Helpers of the reader targets: a private scratch folder for readers that open named files (a
// header and its data, metadata and chunks), in memory where the system has /dev/shm since each
// input writes files; and one pass over what a reader delivers.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Diagnostics.h"
#include "ImageReaderBase.h"
#include "MemoryBudget.h"

inline const std::filesystem::path& FuzzFolder(const char* name)
{
    static const std::filesystem::path dir = [name] {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string path = (base / (std::string(name) + "-XXXXXX")).string();
        if (!mkdtemp(path.data()))
            std::abort();
        ImageReader::SetDiagnosticHandler([](const std::string&) {});
        // The viewer's own limit at --cache-mb 256: what a file may make the readers allocate.
        ImageReader::SetProcessMemoryBudget(size_t(256) << 20);
        return std::filesystem::path(path);
    }();
    return dir;
}

inline void FuzzWriteFile(const std::filesystem::path& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Reads the last, first and again the last plane (every sample touched, so that a short or
// uninitialised buffer shows), the values at both far corners, and every dimension's name and
// pixel size. Returns a sum the caller keeps, so that nothing is optimised away.
inline unsigned FuzzReadBack(ImageReader::ImageReaderBase<unsigned short>& reader)
{
    const ImageReader::Vector dims = reader.GetSize();
    if (dims.size() < 2)
        return 0;
    unsigned sum = 0;
    ImageReader::Vector first, last;
    for (unsigned i = 2; i < dims.size(); ++i) {
        first.push_back(0);
        last.push_back(dims[static_cast<int>(i)] - 1);
    }
    const size_t samples = static_cast<size_t>(dims[0]) * static_cast<size_t>(dims[1]);
    for (const ImageReader::Vector& at : {last, first, last}) {
        const auto slice = reader.GetSlice(at);
        for (size_t i = 0; !slice.IsEmpty() && i < samples; ++i)
            sum += slice.GetData()[i];
    }
    ImageReader::Vector origin(0, 0), corner(dims[0] - 1, dims[1] - 1);
    for (unsigned i = 2; i < dims.size(); ++i) {
        origin.push_back(0);
        corner.push_back(dims[static_cast<int>(i)] - 1);
    }
    for (const ImageReader::Vector& at : {origin, corner})
        if (const auto v = reader.GetValue(at))
            sum += static_cast<unsigned>(*v != *v);
    for (unsigned d = 0; d < dims.size(); ++d) {
        sum += static_cast<unsigned>(reader.GetDimName(d).size());
        sum += static_cast<unsigned>(reader.GetDimPixelSize(d) > 0);
    }
    return sum + static_cast<unsigned>(reader.GetFormatName().size());
}
