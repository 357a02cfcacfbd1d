#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ImageViewer {

// One channel of a 3-D block of 16-bit display values, x fastest, then y, then z, with the
// physical size of a voxel along each axis (any unit, the same for all three; only ratios
// matter to the picture, the scale of the renderer is per unit).
//
// Threads: immutable once built, except for the x-major copy the renderer makes on the first
// view that looks mostly along x; that copy is built under a lock, so one volume may be
// rendered from several threads.
class Volume
{
public:
    Volume() = default;
    // Zero-filled; sizes below 1 or spacings not above 0 give an empty volume / spacing 1, as
    // does a size whose memory cannot be had.
    Volume(int nx, int ny, int nz, double sx = 1, double sy = 1, double sz = 1);
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    bool IsEmpty() const { return m_count == 0; }
    const std::array<int, 3>& Size() const { return m_size; }
    const std::array<double, 3>& Spacing() const { return m_spacing; }
    size_t VoxelCount() const { return m_count; }
    size_t Bytes() const { return m_count * sizeof(std::uint16_t); }

    std::uint16_t* Data() { return m_voxels.get(); }
    const std::uint16_t* Data() const { return m_voxels.get(); }
    // Position of voxel (x, y, z) in Data().
    size_t Index(int x, int y, int z) const
    {
        return (static_cast<size_t>(z) * static_cast<size_t>(m_size[1]) + static_cast<size_t>(y)) *
                   static_cast<size_t>(m_size[0]) +
               static_cast<size_t>(x);
    }
    std::uint16_t& At(int x, int y, int z) { return Data()[Index(x, y, z)]; }
    std::uint16_t At(int x, int y, int z) const { return Data()[Index(x, y, z)]; }

    // The same voxels laid out y fastest, then z, then x (slices of constant x are contiguous
    // planes), built on the first call; null when its memory cannot be had. A renderer looking mostly along x composites those
    // slices with whole-row operations; rows along x would be strided gathers.
    const std::uint16_t* XMajor() const;
    // Drops the x-major copy (after the voxels were changed, or to give the memory back).
    void DropXMajor();

private:
    // A block of `count` voxels (zero-filled on request) on huge pages where the system offers
    // them on request: a frame walks the whole volume, and small pages cost it a TLB miss every
    // 4 KiB.
    using Block = std::unique_ptr<std::uint16_t[], void (*)(void*)>;
    static Block Allocate(size_t count, bool zero);

    std::array<int, 3> m_size{0, 0, 0};
    std::array<double, 3> m_spacing{1, 1, 1};
    size_t m_count = 0;
    Block m_voxels{nullptr, nullptr};
    mutable std::mutex m_copyLock;
    mutable Block m_xMajor{nullptr, nullptr};
};

} // namespace ImageViewer
