#include "VolumeSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "StopToken.h"

namespace ImageViewer {

using ImageReader::ImageSlice;
using ImageReader::Vector;

namespace {

bool Valid(const std::vector<VolumeLevel>& levels, const VolumeRequest& r)
{
    if (levels.empty())
        return false;
    const int n = static_cast<int>(levels[0].size.size());
    if (n < 3 || static_cast<int>(r.cursor.size()) < n || r.channelDim >= n)
        return false;
    for (int a = 0; a < 3; ++a) {
        if (r.dims[a] < 0 || r.dims[a] >= n || r.dims[a] == r.channelDim || r.dims[a] == r.dims[(a + 1) % 3])
            return false;
    }
    for (const VolumeLevel& level : levels) {
        if (!level.source || static_cast<int>(level.size.size()) != n)
            return false;
        for (int d = 0; d < n; ++d)
            if (level.size[d] < 1)
                return false;
    }
    return true;
}

size_t VoxelsAt(const Vector& size, const std::array<int, 3>& dims, int step)
{
    size_t voxels = 1;
    for (int d : dims)
        voxels *= static_cast<size_t>((size[d] + step - 1) / step);
    return voxels;
}

bool Stopped(ImageReader::ProjectionControl* control)
{
    return (control && control->cancel.load(std::memory_order_relaxed)) || ImageReader::StopRequested();
}

} // namespace

VolumeBuild BuildVolume(const std::vector<VolumeLevel>& levels, const VolumeRequest& request,
                        ImageReader::ProjectionControl* control)
{
    VolumeBuild result;
    if (!Valid(levels, request))
        return result;
    const std::array<int, 3>& dims = request.dims;
    const std::vector<int> channels = request.channelDim < 0 ? std::vector<int>{0} : request.channels;
    if (channels.empty())
        return result;
    const size_t perVoxel = channels.size() * sizeof(std::uint16_t);

    // The finest level that fits whole, else the coarsest decimated.
    int level = -1, step = 1;
    for (size_t L = 0; L < levels.size() && level < 0; ++L)
        if (VoxelsAt(levels[L].size, dims, 1) <= request.budgetBytes / perVoxel)
            level = static_cast<int>(L);
    if (level < 0) {
        level = static_cast<int>(levels.size()) - 1;
        const Vector& size = levels.back().size;
        const int largest = std::max({size[dims[0]], size[dims[1]], size[dims[2]]});
        for (step = 2; step <= largest && VoxelsAt(size, dims, step) > request.budgetBytes / perVoxel; ++step) {
        }
        if (step > largest || VoxelsAt(size, dims, step) > request.budgetBytes / perVoxel)
            return result;
    }
    const Vector& full = levels[0].size;
    const Vector& size = levels[static_cast<size_t>(level)].size;
    ImageReader::ImageBase<unsigned short>& source = *levels[static_cast<size_t>(level)].source;
    const int n = static_cast<int>(size.size());

    // The volume's voxel i along axis a is the image's coordinate coord[a][i].
    std::array<int, 3> extent{};
    std::array<std::vector<int>, 3> coord;
    std::array<double, 3> spacing{};
    for (int a = 0; a < 3; ++a) {
        const int d = dims[a];
        extent[a] = (size[d] + step - 1) / step;
        for (int i = 0; i < extent[a]; ++i)
            coord[a].push_back(std::min(i * step + step / 2, size[d] - 1));
        const double s0 = request.spacing[a] > 0 ? request.spacing[a] : 1;
        spacing[a] = s0 * full[d] / size[d] * step;
        result.voxelsPerPixel[a] = static_cast<double>(size[d]) / full[d] / step;
    }
    // The other dimensions at the cursor, in this level's coordinates.
    Vector at;
    for (int d = 0; d < n; ++d)
        at.push_back(std::clamp(static_cast<int>(static_cast<long long>(request.cursor[d]) * size[d] / full[d]), 0,
                                size[d] - 1));

    std::vector<std::shared_ptr<Volume>> volumes;
    for (int c : channels) {
        const bool exists = request.channelDim < 0 || (c >= 0 && c < size[request.channelDim]);
        volumes.push_back(exists ? std::make_shared<Volume>(extent[0], extent[1], extent[2], spacing[0], spacing[1],
                                                            spacing[2])
                                 : nullptr);
    }

    // Axes shown by the plane's own dimensions, and those that select planes.
    int axisOf[2] = {-1, -1};
    std::vector<int> planeAxes;
    for (int a = 0; a < 3; ++a) {
        if (dims[a] < 2)
            axisOf[dims[a]] = a;
        else
            planeAxes.push_back(a);
    }
    const std::array<size_t, 3> stride{1, static_cast<size_t>(extent[0]),
                                       static_cast<size_t>(extent[0]) * static_cast<size_t>(extent[1])};
    size_t planes = channels.size();
    for (int a : planeAxes)
        planes *= static_cast<size_t>(extent[a]);
    if (control)
        control->total += planes;

    std::array<int, 3> index{0, 0, 0};
    for (;;) {
        for (size_t c = 0; c < channels.size(); ++c) {
            if (Stopped(control))
                return VolumeBuild();
            if (!volumes[c])
                continue;
            Vector position = at;
            if (request.channelDim >= 0)
                position[request.channelDim] = channels[c];
            size_t base = 0;
            for (int a : planeAxes) {
                position[dims[a]] = coord[a][static_cast<size_t>(index[a])];
                base += static_cast<size_t>(index[a]) * stride[a];
            }
            const ImageSlice<unsigned short> plane = source.GetSlice(position(2, Vector::end));
            if (control)
                control->done.fetch_add(1, std::memory_order_relaxed);
            const Vector got = plane.GetSize();
            if (plane.IsEmpty() || got.size() < 2 || got[0] != size[0] || got[1] != size[1]) {
                ++result.missingPlanes;
                continue;
            }
            std::uint16_t* out = volumes[c]->Data() + base;
            const size_t W = static_cast<size_t>(size[0]);
            const int ax = axisOf[0], ay = axisOf[1];
            const int rows = ay >= 0 ? extent[ay] : 1, cols = ax >= 0 ? extent[ax] : 1;
            for (int j = 0; j < rows; ++j) {
                const size_t y = static_cast<size_t>(ay >= 0 ? coord[ay][static_cast<size_t>(j)] : at[1]);
                const std::uint16_t* row = plane.GetData() + y * W;
                std::uint16_t* o = out + (ay >= 0 ? static_cast<size_t>(j) * stride[ay] : 0);
                if (ax == 0 && step == 1) {
                    std::memcpy(o, row, W * sizeof(std::uint16_t));
                    continue;
                }
                const size_t so = ax >= 0 ? stride[ax] : 0;
                for (int i = 0; i < cols; ++i)
                    o[static_cast<size_t>(i) * so] = row[ax >= 0 ? coord[ax][static_cast<size_t>(i)] : at[0]];
            }
        }
        // Odometer over the plane-selecting axes.
        size_t k = 0;
        for (; k < planeAxes.size(); ++k) {
            const int a = planeAxes[k];
            if (++index[a] < extent[a])
                break;
            index[a] = 0;
        }
        if (k == planeAxes.size())
            break;
    }
    result.level = level;
    result.step = step;
    result.volumes.assign(volumes.begin(), volumes.end());
    return result;
}

} // namespace ImageViewer
