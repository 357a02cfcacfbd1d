#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "ImageSlice.h"

namespace ImageReader {

// A read-only memory mapping of a whole file. Readers of uncompressed data serve planes from
// it, so that a view costs only the pages it touches; slices borrow from it and keep it alive
// through a shared pointer.
//
// A file cut short while it is mapped (a program still writing or re-saving it) would end
// the program at the first touch of a page past its new end (SIGBUS), and planes are read
// long after they were handed out. So every mapping is guarded: a fault inside it puts
// zero pages in place of the lost ones, from the faulting page to the mapping's end, and
// marks the mapping cut there (CutAt). The read carries on with zeros; StillHolds then says
// the plane is gone, so a reader that copies checks again afterwards and drops the plane, and
// whoever holds a plane lent from here asks it (ImageSlice::IsIntact) after reading it.
class MappedFile final : public Lender
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
    // False too for bytes at or past a place where a read has already found the file cut.
    bool StillHolds(size_t offset, size_t bytes) const;
    // Offset of the first page a read found cut from the file (zeros from there on); SIZE_MAX
    // while none has.
    size_t CutAt() const { return m_cutAt.load(std::memory_order_acquire); }
    // Whether the `bytes` at `data` (inside the mapping) lie before any cut a read has found:
    // a plane lent from here and read later is checked after the read (ImageSlice::IsIntact).
    bool StillLent(const void* data, size_t bytes) const override;
    // Drops the mapped pages from this process's memory; they stay in the system's page
    // cache, and touching them again maps them back. Memory then follows what the views
    // read lately rather than everything ever read. Safe while other threads read.
    void ReleasePages() const;
    // Maps in the pages of [offset, offset + bytes) at once, for a read that will touch all
    // of them (a column through a plane): one call instead of a fault every few pages. Only
    // a hint: pages the file no longer holds are left to the guard.
    void Populate(size_t offset, size_t bytes) const;

private:
    MappedFile() = default;
    // Maps the file open as `fd`, which the mapping then owns (and closes on failure).
    static std::shared_ptr<const MappedFile> Adopt(int fd, std::string& error);
    friend struct MappingGuard;
    int m_fd = -1;
    const unsigned char* m_data = nullptr;
    size_t m_size = 0;
    mutable std::atomic<size_t> m_cutAt{SIZE_MAX}; // set by the fault handler
};

} // namespace ImageReader
