#include "MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ImageReader {

std::shared_ptr<const MappedFile> MappedFile::Open(const std::filesystem::path& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return Adopt(fd, error);
}

std::shared_ptr<const MappedFile> MappedFile::Open(int fd, std::string& error)
{
    const int own = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        error = fd < 0 ? "no open file" : std::strerror(errno);
        return nullptr;
    }
    return Adopt(own, error);
}

std::shared_ptr<const MappedFile> MappedFile::Adopt(int fd, std::string& error)
{
    std::shared_ptr<MappedFile> file(new MappedFile);
    file->m_fd = fd;
    struct stat st {};
    if (::fstat(file->m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return nullptr;
    }
    file->m_size = static_cast<size_t>(st.st_size);
    if (file->m_size > 0) {
        void* address = ::mmap(nullptr, file->m_size, PROT_READ, MAP_SHARED, file->m_fd, 0);
        if (address == MAP_FAILED) {
            error = std::strerror(errno);
            return nullptr;
        }
        file->m_data = static_cast<const unsigned char*>(address);
    }
    return file;
}

MappedFile::~MappedFile()
{
    if (m_data)
        ::munmap(const_cast<unsigned char*>(m_data), m_size);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool MappedFile::StillHolds(size_t offset, size_t bytes) const
{
    struct stat st {};
    if (offset > m_size || bytes > m_size - offset || ::fstat(m_fd, &st) != 0)
        return false;
    return static_cast<size_t>(st.st_size) >= offset + bytes;
}

void MappedFile::ReleasePages() const
{
    if (m_data && m_size > 0)
        ::madvise(const_cast<unsigned char*>(m_data), m_size, MADV_DONTNEED);
}

} // namespace ImageReader
