#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ImageSession.h"
#include "Poster.h"
#include "ViewRender.h"
#include "ViewState.h"
#include "VolumeRenderer.h"

namespace ImageViewer {

class Viewer;

// One picture of the 3-D view and what it was made from.
struct VolumeFrame
{
    ViewPicture picture; // width x height of the request, or half that while dragging
    ViewState state;     // the snapshot the frame was rendered from
    DisplayState display;
    ProjectedBox box;    // the volume's outline in picture pixels
    int level = -1;      // the resolution level read, and the step taken within it
    int step = 1;
    std::array<int, 3> voxels{0, 0, 0};
    bool halved = false; // rendered from the dragging copy
    bool refused = false; // nothing fits the memory budget
    bool IsNull() const { return picture.IsNull(); }
};

// The 3-D view of a model: builds the volume of the state's three dimensions on the model's
// worker (again only when the dimensions, the cursor outside them, the channels or the image
// change) and renders a frame for each change of the camera, the newest request winning.
// Frames arrive through `poster` on the model's thread; `onFrame` is called for each.
class VolumeView
{
public:
    // The worker slot of the 3-D jobs.
    static constexpr int kSlot = 8;

    VolumeView(Viewer& viewer, std::shared_ptr<Poster> poster);
    ~VolumeView();
    VolumeView(const VolumeView&) = delete;
    VolumeView& operator=(const VolumeView&) = delete;

    // The picture size in pixels (the widget's).
    void SetSize(int width, int height);
    // While dragging, frames come from the halved volume at half the size; the release
    // asks for the full frame.
    void SetDragging(bool dragging);
    bool Dragging() const { return m_dragging; }

    // Camera changes through the model's state (each asks for a frame when shown).
    void Drag(double dx, double dy);
    void Wheel(double notches, double x, double y);
    void Pan(double dx, double dy);
    void Reset();
    // Showing the view with dimensions it cannot draw takes the XY view's axes and its depth.
    void SetShown(bool shown);
    void SetMode(VolumeMode mode);
    void SetClip(bool clip);

    // Asks for a frame of the current state (nothing while hidden; an empty frame when the
    // dimensions cannot be drawn).
    void Refresh();
    const VolumeFrame& Frame() const { return *m_frame; }
    // The frame itself, which stays valid when the next one arrives.
    std::shared_ptr<const VolumeFrame> FramePtr() const { return m_frame; }
    // Which level the frame shows, for the status bar; empty without a frame.
    std::string Status() const;
    // Blocks until the frame asked for last has arrived (tests, exports).
    void Wait();

    std::function<void()> onFrame;
    // Frames delivered so far, and builds of the volume.
    int frames = 0;
    int builds = 0;
    // The share of the image's cache budget the volumes may take (BuildVolume's caller
    // bound: the x-major and dragging copies come on top).
    double budgetShare = 0.4;

    struct Held; // the built volume, shared with the worker

private:
    void changeVolume(const std::function<void(VolumeViewState&)>& change);

    Viewer& m_viewer;
    std::shared_ptr<Poster> m_poster;
    std::shared_ptr<Held> m_held;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_listener = -1;
    int m_width = 512;
    int m_height = 512;
    bool m_dragging = false;
    std::shared_ptr<const VolumeFrame> m_frame = std::make_shared<const VolumeFrame>();
};

// One frame of the 3-D view of `state` made at once on the calling thread, the volume read
// within `budgetBytes`: for the command line, exports and tests. A view that cannot be drawn
// gives a null picture.
VolumeFrame RenderVolumeFrame(ImageSession& session, const ViewState& state, const DisplayState& display,
                              const std::vector<double>& pixelSizes, int width, int height, size_t budgetBytes);

} // namespace ImageViewer
