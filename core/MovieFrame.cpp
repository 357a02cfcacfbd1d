#include "MovieFrame.h"

namespace ImageViewer {

MovieFrame RenderMovieFrame(ImageSession& session, ViewState state, DisplayState& display,
                            const std::vector<double>& pixelSizes, int views, int dim, int index)
{
    MovieFrame frame;
    if (dim >= 0 && dim < static_cast<int>(state.cursor.size()))
        state.cursor[dim] = index;
    const bool all = views == ViewAll;
    std::vector<ViewPicture> p = RenderViews(session, state, display, pixelSizes, all ? ViewAll : ViewXY);
    if (p.empty() || p[kViewXY].IsNull())
        return frame;
    const ViewPicture& xy = p[kViewXY];
    frame.xyWidth = xy.width;
    frame.xyHeight = xy.height;
    if (!all) {
        frame.picture = std::move(p[kViewXY]);
        return frame;
    }
    // Laid out as the window does: XZ above the XY view, YZ to its left, 6 pixels apart.
    constexpr int gap = 6;
    const ViewPicture xz = ScaleViewPicture(p[kViewXZ], xy.width, p[kViewXZ].height);
    const ViewPicture yz = ScaleViewPicture(p[kViewYZ], p[kViewYZ].width, xy.height);
    frame.xyLeft = yz.IsNull() ? 0 : yz.width + gap;
    frame.xyTop = xz.IsNull() ? 0 : xz.height + gap;
    frame.picture = ComposeViewPictures(xy, xz, yz, gap);
    return frame;
}

} // namespace ImageViewer
