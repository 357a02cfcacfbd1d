#pragma once

#include <vector>

#include "ViewRender.h"

namespace ImageViewer {

// One frame of a movie through dimension `dim`: the views at that index, and where the XY
// view lies in the picture (for overlays drawn over it afterwards).
struct MovieFrame
{
    ViewPicture picture;
    int xyLeft = 0;
    int xyTop = 0;
    int xyWidth = 0;
    int xyHeight = 0;
};

// The picture of `views` (ViewXY or ViewAll) at the picture's own resolution (one pixel per
// image pixel of the smallest pixel size), with the cursor at `index` in `dim` and the rest of
// the state as given. The window's export and the command line render the same frames from
// the same state. `display` takes what autoscaling widened, so later frames keep the range.
MovieFrame RenderMovieFrame(ImageSession& session, ViewState state, DisplayState& display,
                            const std::vector<double>& pixelSizes, int views, int dim, int index);

} // namespace ImageViewer
