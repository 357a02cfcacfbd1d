#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "ImageSession.h"
#include "ViewRender.h"
#include "VolumeCamera.h"
#include "VolumeSource.h"

// The 3-D view's picture from the model's state without a window: the volume of the XY
// view's axes and the side views' depth axis at the cursor, coloured through the same
// display as the slice views.
namespace ImageViewer {

class VolumeView
{
public:
    // Bytes the volumes may take: a little under half of what the slice cache may hold,
    // which leaves room for the renderer's x-major copy.
    static size_t DefaultBudget();

    // The picture under `rotation` (from the axis-aligned view, which matches the XY view's
    // maximum projection), w x h pixels (0: the XY view's natural size), with the box and
    // axis names when `box`. Ranges that autoscaling widens come back in `display`; the
    // output pixel size along x (nm, 0 unknown) in `nmPerPixel`. Null with `error` set when
    // the state has no three distinct dimensions or no volume fits `budget`.
    ViewPicture Render(ImageSession& session, const ViewState& state, DisplayState& display,
                       const std::vector<double>& pixelSizes, const Rotation& rotation, int w, int h, bool box,
                       double& nmPerPixel, std::string& error, size_t budget = DefaultBudget());

    // The last build: its level and decimation step (for telling the user).
    const VolumeBuild& Build() const { return m_build; }

private:
    // The volume is built again only when what it holds changes.
    VolumeRequest m_request;
    ImageReader::Vector m_cursor;
    VolumeBuild m_build;
};

} // namespace ImageViewer
