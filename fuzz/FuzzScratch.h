// A private scratch folder for targets whose readers open named files (a header and its data,
// metadata and chunks), in memory where the system has /dev/shm: each input writes files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Diagnostics.h"

inline const std::filesystem::path& FuzzFolder(const char* name)
{
    static const std::filesystem::path dir = [name] {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string path = (base / (std::string(name) + "-XXXXXX")).string();
        if (!mkdtemp(path.data()))
            std::abort();
        ImageReader::SetDiagnosticHandler([](const std::string&) {});
        return std::filesystem::path(path);
    }();
    return dir;
}

inline void FuzzWriteFile(const std::filesystem::path& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}
