#pragma once

#include <array>
#include <atomic>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "ImageSlice.h"
#include "Volume.h"
#include "VolumeCamera.h"

namespace ImageViewer {

enum class VolumeMode
{
    Maximum,
    Minimum,
    Average,
    // Front to back, each sample's opacity ramping from 0 at its channel's ramp.lo to
    // `opacity` at ramp.hi and above; the result is the blended display value.
    Alpha,
};

enum class VolumeSampling
{
    Nearest,
    Bilinear,
};

// Everything one frame needs: a snapshot the window hands to its worker.
struct VolumeRenderParams
{
    Rotation rotation;
    // Output pixels per physical unit of the volume's spacing (see FitScale).
    double scale = 1;
    // Output pixels the volume's centre sits right of / below the picture's centre.
    double panX = 0;
    double panY = 0;
    int width = 512;
    int height = 512;
    VolumeMode mode = VolumeMode::Maximum;
    VolumeSampling sampling = VolumeSampling::Bilinear;
    // Only voxels in [clipMin, clipMax) along x, y, z count (clipping to the cursor's planes:
    // clipMin = the cursor keeps the part beyond them). Clamped to the volume.
    std::array<int, 3> clipMin{0, 0, 0};
    std::array<int, 3> clipMax{INT_MAX, INT_MAX, INT_MAX};
    // Alpha mode: per channel (the last one repeats; none: the full 16-bit range) the values
    // where opacity starts and reaches `opacity`, normally the channel's display range.
    std::vector<std::pair<int, int>> ramps;
    // Alpha mode: the opacity of one voxel-thick layer at the top of the ramp.
    double opacity = 0.05;
    // 0: one per core.
    unsigned threads = 0;
    // Set by another thread to abandon the frame (a newer one is wanted), e.g. a
    // ProjectionControl's cancel; checked between bands of rows. The calling thread's stop
    // token (ImageReader::StopRequested) is checked between channels.
    const std::atomic<bool>* cancel = nullptr;
};

// One width x height plane of 16-bit display values per volume, in the volumes' order, to be
// coloured exactly as a slice view's planes are (ranges, gamma, colours). Pixels no ray of
// the volume reaches are 0; a null or empty volume gives an empty plane, as does an output
// size below 1 or a scale that is not positive. A cancelled frame gives only empty planes.
//
// Shear-warp: every slice across the axis nearest the viewing direction is added into an
// intermediate picture with whole-row operations, shifted by the ray's shear, then that
// picture is warped to the output once. Rows of the intermediate picture are shared out
// among the threads. May run on any thread; volumes may be shared by concurrent calls.
std::vector<ImageReader::ImageSlice<unsigned short>>
RenderVolume(const VolumeRenderParams& params, const std::vector<std::shared_ptr<const Volume>>& volumes);

// The scale at which the volume, seen under `rotation`, just fits a width x height picture.
// With the identity this is the XY view's fit; a window keeps that scale times its zoom while
// rotating, so that the picture does not pump.
double FitScale(const Volume& volume, const Rotation& rotation, int width, int height);

// The parameters for a camera's view of `volume` in a width x height picture: the scale is
// the axis-aligned fit times the camera's zoom. Mode, sampling, clip and ramps stay default.
VolumeRenderParams CameraParams(const VolumeCamera& camera, const Volume& volume, int width, int height);

// A 2 x 2 x 2 maximum of the volume (odd sizes keep their last voxel), with twice the
// spacing: the coarser copy to show while dragging.
std::shared_ptr<Volume> HalveVolume(const Volume& volume);

// The volume's bounding box on the screen. Corner i is the voxel-grid corner with x, y, z at
// their far end for bits 0, 1, 2 of i; positions are in output pixels (pixel centres at .5),
// depth (physical units from the centre) grows away from the viewer.
struct ProjectedBox
{
    std::array<std::array<double, 2>, 8> corners{};
    std::array<double, 8> depth{};
    // The 12 edges as corner pairs; edges 0, 1, 2 are the x, y and z axes from corner 0.
    static constexpr int edges[12][2] = {{0, 1}, {0, 2}, {0, 4}, {1, 3}, {1, 5}, {2, 3},
                                         {2, 6}, {4, 5}, {4, 6}, {3, 7}, {5, 7}, {6, 7}};
};
ProjectedBox ProjectVolumeBox(const VolumeRenderParams& params, const Volume& volume);

} // namespace ImageViewer
