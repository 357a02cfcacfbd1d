#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace ImageReader {

// A read-only memory mapping of a whole file. Readers of uncompressed data serve planes from
// it, so that a view costs only the pages it touches; slices borrow from it and keep it alive
// through a shared pointer.
class MappedFile
{
public:
    // Null with `error` set when the file cannot be opened or mapped. An empty file maps to
    // a mapping of size 0.
    static std::shared_ptr<const MappedFile> Open(const std::filesystem::path& path, std::string& error);
    // The file open as descriptor `fd` (which stays the caller's): the very file another
    // library already has open, even if its name has since been given to another file.
    static std::shared_ptr<const MappedFile> Open(int fd, std::string& error);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    // True while the file on disk still holds [offset, offset + bytes). Touching mapped
    // pages past a file that was truncated after mapping would end the program, so readers
    // ask before serving a plane.
    bool StillHolds(size_t offset, size_t bytes) const;
    // Drops the mapped pages from this process's memory; they stay in the system's page
    // cache, and touching them again maps them back. Memory then follows what the views
    // read lately rather than everything ever read. Safe while other threads read.
    void ReleasePages() const;

private:
    MappedFile() = default;
    // Maps the file open as `fd`, which the mapping then owns (and closes on failure).
    static std::shared_ptr<const MappedFile> Adopt(int fd, std::string& error);
    int m_fd = -1;
    const unsigned char* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace ImageReader
