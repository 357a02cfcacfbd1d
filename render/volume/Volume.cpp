#include "Volume.h"

#include <algorithm>

namespace ImageViewer {

Volume::Volume(int nx, int ny, int nz, double sx, double sy, double sz)
{
    if (nx < 1 || ny < 1 || nz < 1)
        return;
    m_size = {nx, ny, nz};
    m_spacing = {sx > 0 ? sx : 1, sy > 0 ? sy : 1, sz > 0 ? sz : 1};
    m_voxels.assign(static_cast<size_t>(nx) * static_cast<size_t>(ny) * static_cast<size_t>(nz), 0);
}

const std::uint16_t* Volume::XMajor() const
{
    const std::lock_guard<std::mutex> hold(m_copyLock);
    if (m_xMajor.size() == m_voxels.size())
        return m_xMajor.data();
    const size_t nx = static_cast<size_t>(m_size[0]), ny = static_cast<size_t>(m_size[1]);
    const size_t nz = static_cast<size_t>(m_size[2]);
    m_xMajor.resize(m_voxels.size());
    // Blocks of x so that the strided writes of one block stay within a few cache lines per
    // destination plane.
    constexpr size_t block = 16;
    for (size_t z = 0; z < nz; ++z)
        for (size_t x0 = 0; x0 < nx; x0 += block) {
            const size_t x1 = std::min(nx, x0 + block);
            for (size_t y = 0; y < ny; ++y) {
                const std::uint16_t* row = m_voxels.data() + (z * ny + y) * nx;
                for (size_t x = x0; x < x1; ++x)
                    m_xMajor[(x * nz + z) * ny + y] = row[x];
            }
        }
    return m_xMajor.data();
}

void Volume::DropXMajor()
{
    const std::lock_guard<std::mutex> hold(m_copyLock);
    std::vector<std::uint16_t>().swap(m_xMajor);
}

} // namespace ImageViewer
