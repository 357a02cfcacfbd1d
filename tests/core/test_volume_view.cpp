// The model's 3-D view: its frames against the slice views' own maximum projection, the
// camera and the newest-request rule, the level it settles for, and its state in files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "FormulaImage.h"
#include "StateJson.h"
#include "ViewRender.h"
#include "Viewer.h"
#include "VolumeView.h"

using namespace ImageViewer;

namespace {

// x, y, z, t, ch = 16 x 12 x 8 x 2 x 2 whose maxima along z fall on scattered planes.
std::unique_ptr<FormulaImage> Stack()
{
    return std::make_unique<FormulaImage>(
        std::vector<int>{16, 12, 8, 2, 2},
        [](const std::vector<int>& c) {
            const unsigned h = static_cast<unsigned>(c[0] * 73856093u) ^ static_cast<unsigned>(c[1] * 19349663u) ^
                               static_cast<unsigned>(c[2] * 83492791u) ^ static_cast<unsigned>(c[3] * 2654435761u);
            return static_cast<unsigned short>((h % 1000) * (c[4] + 1) + 30 * c[4]);
        },
        std::vector<std::string>{"x", "y", "z", "t", "ch"});
}

bool samePixels(const ViewPicture& a, const ViewPicture& b)
{
    return !a.IsNull() && !b.IsNull() && a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels.get(), b.pixels.get(), static_cast<size_t>(a.width) * a.height * 4) == 0;
}

struct Model
{
    std::shared_ptr<QueuePoster> poster = std::make_shared<QueuePoster>();
    Viewer viewer{poster};
    std::unique_ptr<VolumeView> volume;

    explicit Model(size_t budget = 0)
    {
        EXPECT_EQ(viewer.Open(Stack(), budget), "");
        viewer.Wait();
        volume = std::make_unique<VolumeView>(viewer, poster);
        volume->SetSize(16, 12);
        volume->SetShown(true);
        viewer.Wait();
    }
};

} // namespace

TEST(VolumeView, AxisAlignedFrameIsTheXYMaximumProjection)
{
    Model m;
    ASSERT_EQ(m.viewer.State().channelDim, 4);
    ViewState projected = m.viewer.State();
    projected.projection = ProjectionMode::Max;
    projected.projected[2] = true;
    DisplayState display = m.viewer.Display();
    display.channels[1].gamma = 3; // a non-trivial display reaches both alike
    display.channels[0].r = 40;
    ASSERT_TRUE(m.viewer.SetDisplay(display));
    m.viewer.Wait();
    const ColouredView xy = RenderView(m.viewer.Session(), projected, m.viewer.Display(), kViewXY);
    ASSERT_FALSE(xy.picture.IsNull());
    const VolumeFrame& frame = m.volume->Frame();
    EXPECT_EQ(frame.level, 0);
    EXPECT_TRUE(samePixels(frame.picture, xy.picture));
    // The plane at the cursor alone is another picture: the maxima lie on other planes.
    EXPECT_FALSE(samePixels(frame.picture, RenderView(m.viewer.Session(), m.viewer.State(), m.viewer.Display(),
                                                      kViewXY).picture));
    // The command line's frame, made at once, is the view's.
    EXPECT_TRUE(samePixels(RenderVolumeFrame(m.viewer.Session(), m.viewer.State(), m.viewer.Display(),
                                             m.viewer.PixelSizes(), 16, 12, 1 << 20)
                               .picture,
                           xy.picture));

    // Nearest sampling gives the same picture; one channel switched off leaves it out alike.
    VolumeViewState vs = m.viewer.State().volume;
    vs.sampling = VolumeSampling::Nearest;
    ASSERT_TRUE(m.viewer.SetVolume(vs));
    display.channels[0].enabled = false;
    ASSERT_TRUE(m.viewer.SetDisplay(display));
    m.viewer.Wait();
    EXPECT_TRUE(samePixels(m.volume->Frame().picture,
                           RenderView(m.viewer.Session(), projected, m.viewer.Display(), kViewXY).picture));
}

TEST(VolumeView, DragRotatesAndHalvesUntilReleased)
{
    Model m;
    const auto first = m.volume->FramePtr();
    const ViewPicture& aligned = first->picture;
    const int builds = m.volume->builds;
    m.volume->SetDragging(true);
    m.volume->Drag(6, 0);
    m.volume->Drag(0, 4);
    m.viewer.Wait();
    const VolumeViewState& vs = m.viewer.State().volume;
    EXPECT_NE(vs.camera.rotation.m, Rotation().m);
    // The newest request wins, and the frame carries the state it was made from.
    const VolumeFrame& dragged = m.volume->Frame();
    EXPECT_TRUE(dragged.halved);
    EXPECT_EQ(dragged.picture.width, 8);
    EXPECT_EQ(dragged.picture.height, 6);
    EXPECT_EQ(dragged.state.volume, vs);

    m.volume->SetDragging(false);
    m.viewer.Wait();
    const VolumeFrame& released = m.volume->Frame();
    EXPECT_FALSE(released.halved);
    ASSERT_EQ(released.picture.width, 16);
    EXPECT_FALSE(samePixels(released.picture, aligned));
    EXPECT_EQ(m.volume->builds, builds); // the camera only renders again

    m.volume->Reset();
    m.viewer.Wait();
    EXPECT_EQ(m.viewer.State().volume.camera.rotation.m, Rotation().m);
    EXPECT_TRUE(samePixels(m.volume->Frame().picture, aligned));
}

TEST(VolumeView, BuildsAgainOnlyForTheCursorOutsideItsDimensions)
{
    Model m;
    const int builds = m.volume->builds;
    const int frames = m.volume->frames;
    ASSERT_TRUE(m.viewer.SetCursor(0, 3)); // x: shown, nothing to do without clipping
    m.viewer.Wait();
    EXPECT_EQ(m.volume->frames, frames);
    ASSERT_TRUE(m.viewer.SetCursor(3, 0)); // t: another volume
    m.viewer.Wait();
    EXPECT_EQ(m.volume->builds, builds + 1);

    // Clipping to the cursor's planes drops what lies before them: with the cursor at the
    // far corner only the last voxel row along each axis is left.
    const auto before = m.volume->FramePtr();
    const ViewPicture& whole = before->picture;
    VolumeViewState vs = m.viewer.State().volume;
    vs.clip = true;
    ASSERT_TRUE(m.viewer.SetVolume(vs));
    ASSERT_TRUE(m.viewer.SetCursor(0, 15));
    m.viewer.Wait();
    const ViewPicture& clipped = m.volume->Frame().picture;
    ASSERT_FALSE(clipped.IsNull());
    EXPECT_FALSE(samePixels(clipped, whole));
    const auto* px = reinterpret_cast<const std::uint32_t*>(clipped.pixels.get());
    EXPECT_EQ(px[0] & 0xffffffu, 0u);           // x = 0 lies before the plane: black
    EXPECT_NE(px[15 + 6 * 16] & 0xffffffu, 0u); // x = 15 is kept
}

TEST(VolumeView, SmallBudgetTakesACoarserCopyAndSaysSo)
{
    // 16 x 12 x 8 voxels of two channels are 6 KiB; the volume's share of this budget is less.
    Model m(8 * 1024);
    const VolumeFrame& frame = m.volume->Frame();
    ASSERT_FALSE(frame.IsNull());
    EXPECT_GT(frame.step, 1);
    EXPECT_LT(frame.voxels[0], 16);
    EXPECT_NE(m.volume->Status().find("one voxel in"), std::string::npos) << m.volume->Status();
}

TEST(VolumeView, StateRoundTripsThroughJsonAndOldFilesStillLoad)
{
    Model m;
    VolumeViewState vs;
    vs.shown = true;
    vs.dims = {0, 3, 2};
    vs.mode = VolumeMode::Alpha;
    vs.sampling = VolumeSampling::Nearest;
    vs.clip = true;
    vs.camera.rotation = AzElRotation(30, -15);
    vs.camera.zoom = 2.5;
    vs.camera.panX = -7;
    vs.camera.panY = 3.25;
    ViewState state = m.viewer.State();
    state.volume = vs;
    const ImageDescription im{m.viewer.Size(), m.viewer.Session().DimensionNames(), m.viewer.PixelSizes()};
    const std::string text = StateToJson(state, m.viewer.Display(), im);
    EXPECT_NE(text.find("\"blend\""), std::string::npos);

    ViewState back = m.viewer.State();
    DisplayState display = m.viewer.Display();
    ASSERT_EQ(StateFromJson(text, im, back, display), "");
    EXPECT_EQ(back.volume, vs);

    // A file written before the 3-D view keeps the current 3-D state.
    nlohmann::json old = nlohmann::json::parse(text);
    old["view"].erase("volume");
    ViewState kept = state;
    ASSERT_EQ(StateFromJsonValue(old, im, kept, display), "");
    EXPECT_EQ(kept.volume, vs);

    // A matrix that is no rotation, or an unknown mode, is refused and changes nothing.
    nlohmann::json bad = nlohmann::json::parse(text);
    bad["view"]["volume"]["rotation"][0] = {2, 0, 0};
    ViewState untouched = m.viewer.State();
    EXPECT_NE(StateFromJsonValue(bad, im, untouched, display), "");
    EXPECT_EQ(untouched, m.viewer.State());
    bad = nlohmann::json::parse(text);
    bad["view"]["volume"]["mode"] = "sum";
    EXPECT_NE(StateFromJsonValue(bad, im, untouched, display), "");
}

TEST(VolumeView, ShowingTakesTheViewsAxesWhenItsOwnCannotBeDrawn)
{
    // x, y, channel, z: the default x, y and third dimension would be the channels.
    auto poster = std::make_shared<QueuePoster>();
    Viewer viewer(poster);
    ASSERT_EQ(viewer.Open(std::make_unique<FormulaImage>(
                  std::vector<int>{8, 6, 2, 5},
                  [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0] + 10 * c[3]); },
                  std::vector<std::string>{"x", "y", "c", "z"})),
              "");
    ASSERT_EQ(viewer.State().channelDim, 2);
    VolumeView volume(viewer, poster);
    volume.SetSize(8, 6);
    volume.SetShown(true);
    viewer.Wait();
    EXPECT_EQ(viewer.State().volume.dims, (std::array<int, 3>{0, 1, 3}));
    ASSERT_FALSE(volume.Frame().IsNull());
    EXPECT_EQ(volume.Frame().voxels, (std::array<int, 3>{8, 6, 5}));

    // Dimensions that cannot be drawn leave no picture behind.
    VolumeViewState vs = viewer.State().volume;
    vs.dims = {0, 0, 3};
    ASSERT_TRUE(viewer.SetVolume(vs));
    viewer.Wait();
    EXPECT_TRUE(volume.Frame().IsNull());
}

TEST(VolumeView, SpectralChannelsAreFoldedAsInTheSliceViews)
{
    // 12 wavelengths make the channel dimension spectral; one plane along z makes the 3-D
    // view's axis-aligned frame the XY view's own plane.
    auto poster = std::make_shared<QueuePoster>();
    Viewer viewer(poster);
    ASSERT_EQ(viewer.Open(std::make_unique<FormulaImage>(
                  std::vector<int>{10, 7, 1, 12},
                  [](const std::vector<int>& c) {
                      return static_cast<unsigned short>(100 + 80 * c[0] * (c[3] % 4) + 45 * c[1] * (c[3] / 4));
                  },
                  std::vector<std::string>{"x", "y", "z", "lambda"})),
              "");
    ASSERT_TRUE(viewer.State().IsSpectral(viewer.Size()));
    viewer.Wait();
    VolumeView volume(viewer, poster);
    volume.SetSize(10, 7);
    volume.SetShown(true);
    viewer.Wait();
    const ColouredView xy = RenderView(viewer.Session(), viewer.State(), viewer.Display(), kViewXY);
    EXPECT_TRUE(samePixels(volume.Frame().picture, xy.picture));
}
