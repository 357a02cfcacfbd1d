#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "ImageBase.h"
#include "Volume.h"

namespace ImageViewer {

// One resolution level of an image: its source (normally the level's slice cache) and size.
struct VolumeLevel
{
    ImageReader::ImageBase<unsigned short>* source = nullptr;
    ImageReader::Vector size;
};

// What the 3-D view shows: three image dimensions at the cursor's position in all others.
struct VolumeRequest
{
    // Image dimensions shown as the volume's x, y and z (distinct).
    std::array<int, 3> dims{0, 1, 2};
    // A full position in level-0 coordinates; only the dimensions not shown are used.
    ImageReader::Vector cursor;
    // The channel dimension (-1: none) and the channel indices to build, one volume each
    // (ignored without a channel dimension: one volume at the cursor).
    int channelDim = -1;
    std::vector<int> channels;
    // Level-0 pixel sizes of the three shown dimensions (0 or less: 1).
    std::array<double, 3> spacing{1, 1, 1};
    // The most bytes the volumes together may take. Rendering views that look mostly along x
    // adds an x-major copy of each (Volume::XMajor), and the dragging copy (HalveVolume) an
    // eighth: a caller bounding all of it passes a little under half of its allowance.
    size_t budgetBytes = 0;
};

struct VolumeBuild
{
    // One per requested channel, in the request's order (an unreadable plane stays 0); empty
    // when cancelled, when nothing fits the budget or the request is invalid.
    std::vector<std::shared_ptr<const Volume>> volumes;
    // The level read and the step taken along each shown dimension within it (1: every
    // voxel; a decimated copy of a single level takes every step-th).
    int level = -1;
    int step = 1;
    // Volume voxels per level-0 pixel along x, y, z: voxel floor(c * this) holds level-0
    // coordinate c (the cursor's planes for clipping, the cursor's mark).
    std::array<double, 3> voxelsPerPixel{1, 1, 1};
    // Planes that could not be read (shown as 0).
    size_t missingPlanes = 0;
};

// The volume the request asks for from `levels` (finest first; normally the image's slice
// caches): the finest level whose volume fits the budget, else a copy of the coarsest level
// decimated by the smallest step that fits (every step-th voxel along each shown dimension,
// the one in the middle of its block). Reads each plane it needs once, one at a time, so it
// holds no more than the budget besides the cache's own; reads nothing when nothing fits.
//
// Runs on a worker: `control` (may be null) counts the planes and cancels; so does the
// calling thread's stop token (ImageReader::StopRequested). Either gives an empty result.
VolumeBuild BuildVolume(const std::vector<VolumeLevel>& levels, const VolumeRequest& request,
                        ImageReader::ProjectionControl* control = nullptr);

} // namespace ImageViewer
