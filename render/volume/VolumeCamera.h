#pragma once

#include <array>
#include <string>

namespace ImageViewer {

// The orientation of a volume on the screen: row 0 is the screen's right direction, row 1
// its down direction and row 2 the viewing direction (into the screen), each written in the
// volume's axes (x, y, z). The identity is the axis-aligned view, which shows x to the right
// and y down, looking along z, as the XY view does.
struct Rotation
{
    std::array<std::array<double, 3>, 3> m{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

    // Volume axes to screen axes: q = m p.
    std::array<double, 3> Apply(const std::array<double, 3>& p) const;
    // Screen axes to volume axes (the transpose).
    std::array<double, 3> Unapply(const std::array<double, 3>& q) const;
    // this then `after` (after * this).
    Rotation Then(const Rotation& after) const;
};

// A turn by `degrees` about `axis` (any length but 0), counter-clockwise seen from its tip.
Rotation AxisRotation(std::array<double, 3> axis, double degrees);

// The view `lumora-render --rotate AZ,EL` asks for: from the axis-aligned view, the volume
// turns by `az` degrees about the screen's vertical axis, its right side going away from the
// viewer (as a drag to the right turns it), then by `el` degrees about the horizontal axis, its
// bottom going away (as a drag down does). el = 90 looks down on the y = 0 face; az = 90 shows
// y down and z to the left, looking along x.
Rotation AzElRotation(double az, double el);
// "AZ,EL" (two finite numbers of degrees, e.g. "30,-15") into `out`; false, and `out`
// untouched, for anything else.
bool ParseAzEl(const std::string& text, Rotation& out);

// The trackball: a drag by (dx, dy) pixels over a view whose shorter side is `viewSize`
// pixels turns the volume about the screen axis perpendicular to the drag, half a turn for a
// drag across the view, the side under the mouse following it. Re-orthonormalised, so that
// long drags do not accumulate drift.
Rotation TrackballDrag(const Rotation& current, double dx, double dy, double viewSize);

// Frame `frame` of `frames` of a movie turning the volume once around one of its own axes
// (0 x, 1 y, 2 z) or, for axis -1, the screen's vertical axis, starting from `start`.
Rotation TurntableFrame(const Rotation& start, int axis, int frame, int frames = 360);

// What the 3-D view's mouse changes, as plain values a model can hold: the rotation, a zoom
// relative to the axis-aligned fit and a pan in output pixels.
struct VolumeCamera
{
    Rotation rotation;
    double zoom = 1;
    double panX = 0;
    double panY = 0;

    // The axis-aligned view, fitted (double-click, View > Reset).
    void Reset() { *this = VolumeCamera(); }
    // A left drag by (dx, dy) pixels in a view whose shorter side is viewSize (TrackballDrag).
    void Drag(double dx, double dy, double viewSize) { rotation = TrackballDrag(rotation, dx, dy, viewSize); }
    // Wheel notches at (x, y) of a width x height view: 8 notches double the zoom, and the
    // point under the mouse stays where it is.
    void Wheel(double notches, double x, double y, int width, int height);
    // A middle drag.
    void Pan(double dx, double dy)
    {
        panX += dx;
        panY += dy;
    }
};

} // namespace ImageViewer
