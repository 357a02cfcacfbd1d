#include "Volume.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace ImageViewer {

Volume::Volume(int nx, int ny, int nz, double sx, double sy, double sz)
{
    if (nx < 1 || ny < 1 || nz < 1)
        return;
    m_spacing = {sx > 0 ? sx : 1, sy > 0 ? sy : 1, sz > 0 ? sz : 1};
    const size_t plane = static_cast<size_t>(nx) * static_cast<size_t>(ny);
    if (static_cast<size_t>(nz) > SIZE_MAX / 2 / plane)
        return;
    const size_t count = plane * static_cast<size_t>(nz);
    m_voxels = Allocate(count);
    if (!m_voxels)
        return;
    m_size = {nx, ny, nz};
    m_count = count;
}

Volume::Block Volume::Allocate(size_t count)
{
    constexpr size_t huge = size_t(2) << 20;
    if (count == 0 || count > SIZE_MAX / sizeof(std::uint16_t) - huge)
        return Block(nullptr, std::free);
    const size_t bytes = count * sizeof(std::uint16_t);
    void* p = nullptr;
    if (bytes >= huge) {
        const size_t rounded = (bytes + huge - 1) / huge * huge;
        if (posix_memalign(&p, huge, rounded) != 0)
            p = nullptr;
#ifdef MADV_HUGEPAGE
        else
            madvise(p, rounded, MADV_HUGEPAGE);
#endif
    } else {
        p = std::malloc(bytes);
    }
    if (p)
        std::memset(p, 0, bytes);
    return Block(static_cast<std::uint16_t*>(p), std::free);
}

const std::uint16_t* Volume::XMajor() const
{
    const std::lock_guard<std::mutex> hold(m_copyLock);
    if (m_xMajor || m_count == 0)
        return m_xMajor.get();
    const size_t nx = static_cast<size_t>(m_size[0]), ny = static_cast<size_t>(m_size[1]);
    const size_t nz = static_cast<size_t>(m_size[2]);
    Block copy = Allocate(m_count);
    if (!copy)
        return nullptr;
    // Blocks of x so that the strided writes of one block stay within a few cache lines per
    // destination plane.
    constexpr size_t block = 16;
    for (size_t z = 0; z < nz; ++z)
        for (size_t x0 = 0; x0 < nx; x0 += block) {
            const size_t x1 = std::min(nx, x0 + block);
            for (size_t y = 0; y < ny; ++y) {
                const std::uint16_t* row = Data() + (z * ny + y) * nx;
                for (size_t x = x0; x < x1; ++x)
                    copy[(x * nz + z) * ny + y] = row[x];
            }
        }
    m_xMajor = std::move(copy);
    return m_xMajor.get();
}

void Volume::DropXMajor()
{
    const std::lock_guard<std::mutex> hold(m_copyLock);
    m_xMajor.reset();
}

} // namespace ImageViewer
