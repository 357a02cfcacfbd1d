#include "MappedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace ImageReader {

// The live mappings and the SIGBUS handler that repairs faults inside them. The handler
// runs on the faulting thread, in the middle of whatever read touched the page, so it only
// takes a spin lock (never held around a touch of mapped memory), makes system calls and
// stores atomics. The spin lock, not a mutex: the handler may interrupt any code. Faults outside every mapping go on to the handler that was there before,
// or end the program as they would have.
struct MappingGuard
{
    struct Region
    {
        std::uintptr_t begin;
        std::uintptr_t end; // page-rounded
        const MappedFile* file;
    };

    static MappingGuard& Instance()
    {
        static MappingGuard* guard = new MappingGuard; // outlives every mapping, never freed
        return *guard;
    }

    void Add(const MappedFile* file)
    {
        std::call_once(m_installed, [this] { Install(); });
        const auto begin = reinterpret_cast<std::uintptr_t>(file->m_data);
        const std::uintptr_t end = begin + (file->m_size + m_pageSize - 1) / m_pageSize * m_pageSize;
        // Growing the list under the spin lock is fine: a fault on another thread waits for
        // it, and this thread touches no mapped memory while it holds the lock.
        Lock();
        m_regions.push_back({begin, end, file});
        Unlock();
    }

    void Remove(const MappedFile* file)
    {
        Lock();
        const auto it = std::find_if(m_regions.begin(), m_regions.end(), [file](const Region& r) { return r.file == file; });
        if (it != m_regions.end()) {
            *it = m_regions.back();
            m_regions.pop_back();
        }
        Unlock();
    }

private:
    void Lock()
    {
        while (m_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    void Unlock() { m_lock.clear(std::memory_order_release); }

    void Install()
    {
        m_pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGE_SIZE));
        struct sigaction action {};
        action.sa_sigaction = &MappingGuard::OnBus;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &m_previous);
    }

    static void OnBus(int signal, siginfo_t* info, void* context)
    {
        MappingGuard& guard = Instance();
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        bool repaired = false;
        guard.Lock();
        for (const Region& r : guard.m_regions) {
            if (address < r.begin || address >= r.end)
                continue;
            const std::uintptr_t page = address / guard.m_pageSize * guard.m_pageSize;
            // Zero pages in place of the file's from here on: the read goes on, and the
            // reader learns from CutAt that the data is gone.
            const long mapped = syscall(SYS_mmap, page, r.end - page, PROT_READ,
                                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            repaired = mapped == static_cast<long>(page);
            std::atomic<size_t>& cut = r.file->m_cutAt;
            size_t seen = cut.load(std::memory_order_relaxed);
            const size_t at = page - r.begin;
            while (at < seen && !cut.compare_exchange_weak(seen, at, std::memory_order_release))
            {
            }
            break;
        }
        guard.Unlock();
        if (repaired)
            return;
        const struct sigaction& previous = guard.m_previous;
        if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
            previous.sa_sigaction(signal, info, context);
        } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
            previous.sa_handler(signal);
        } else {
            // Returning retries the access, which now ends the program as it always would.
            struct sigaction fallback {};
            fallback.sa_handler = SIG_DFL;
            sigemptyset(&fallback.sa_mask);
            sigaction(SIGBUS, &fallback, nullptr);
        }
    }

    std::once_flag m_installed;
    std::atomic_flag m_lock = ATOMIC_FLAG_INIT;
    std::vector<Region> m_regions;
    std::uintptr_t m_pageSize = 4096;
    struct sigaction m_previous {};
};

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
        MappingGuard::Instance().Add(file.get());
    }
    return file;
}

MappedFile::~MappedFile()
{
    if (m_data) {
        MappingGuard::Instance().Remove(this);
        ::munmap(const_cast<unsigned char*>(m_data), m_size);
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

bool MappedFile::StillHolds(size_t offset, size_t bytes) const
{
    struct stat st {};
    if (offset > m_size || bytes > m_size - offset || offset + bytes > CutAt() || ::fstat(m_fd, &st) != 0)
        return false;
    return static_cast<size_t>(st.st_size) >= offset + bytes;
}

void MappedFile::Populate(size_t offset, size_t bytes) const
{
#ifdef MADV_POPULATE_READ
    if (!m_data || offset >= m_size)
        return;
    bytes = std::min(bytes, m_size - offset);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGE_SIZE));
    const size_t first = offset / page * page;
    ::madvise(const_cast<unsigned char*>(m_data) + first, offset + bytes - first, MADV_POPULATE_READ);
#else
    (void)offset;
    (void)bytes;
#endif
}

bool MappedFile::StillLent(const void* data, size_t bytes) const
{
    const auto at = reinterpret_cast<std::uintptr_t>(data), begin = reinterpret_cast<std::uintptr_t>(m_data);
    if (at < begin || at - begin > m_size || bytes > m_size - (at - begin))
        return false;
    return at - begin + bytes <= CutAt();
}

void MappedFile::ReleasePages() const
{
    if (m_data && m_size > 0)
        ::madvise(const_cast<unsigned char*>(m_data), m_size, MADV_DONTNEED);
}

} // namespace ImageReader
