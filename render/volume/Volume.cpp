#include "Volume.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "Parallel.h"

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
    m_voxels = Allocate(count, true);
    if (!m_voxels)
        return;
    m_size = {nx, ny, nz};
    m_count = count;
}

Volume::Block Volume::Allocate(size_t count, bool zero)
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
    if (p && zero)
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
    Block copy = Allocate(m_count, false);
    if (!copy)
        return nullptr;
    // Tiles of 64 x 64 voxels of each z plane, so that both the rows read and the runs written
    // fill whole cache lines; planes are shared out among the cores.
    constexpr size_t tile = 64;
    std::uint16_t* out = copy.get();
    const std::uint16_t* in = Data();
    ParallelFor(nz, 1, CoreCount(), [=](size_t z0, size_t z1) {
        for (size_t z = z0; z < z1; ++z)
            for (size_t y0 = 0; y0 < ny; y0 += tile)
                for (size_t x0 = 0; x0 < nx; x0 += tile) {
                    const size_t y1 = std::min(ny, y0 + tile), x1 = std::min(nx, x0 + tile);
                    for (size_t x = x0; x < x1; ++x) {
                        std::uint16_t* o = out + (x * nz + z) * ny;
                        for (size_t y = y0; y < y1; ++y)
                            o[y] = in[(z * ny + y) * nx + x];
                    }
                }
    });
    m_xMajor = std::move(copy);
    return m_xMajor.get();
}

void Volume::DropXMajor()
{
    const std::lock_guard<std::mutex> hold(m_copyLock);
    m_xMajor.reset();
}

} // namespace ImageViewer
