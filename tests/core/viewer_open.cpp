// Opening images without a window: the reader chosen by a file's content, a new image that
// starts afresh whatever the one before was left at, a kept state brought inside a changed
// image, and movie frames that are the views' pictures at each index with one display range
// throughout.
#include <gtest/gtest.h>

#include <cmath>

#include "MovieFrame.h"
#include "OpenImage.h"
#include "ViewerTestKit.h"
#ifdef LUMORA_HAVE_DEMODATA
#include <unistd.h>

#include <filesystem>

#include "DemoData.h"
#include "ICSImageReader.h"
#include "TIFFImageReader.h"
#endif

using namespace ViewerTestKit;

#ifdef LUMORA_HAVE_DEMODATA
namespace {

// The demo image (32 x 24 x 5, 3 channels) written once as ICS and as a TIFF series.
std::filesystem::path Written(const char* name)
{
    static const std::filesystem::path folder = [] {
        const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                          ("lumora-open-" + std::to_string(static_cast<long long>(::getpid())));
        std::filesystem::create_directories(dir);
        const DemoData::Volume cells = DemoData::MakeCells(32, 24, 5);
        EXPECT_TRUE(DemoData::WriteICS(cells, dir / "cells.ics"));
        EXPECT_TRUE(DemoData::WriteTIFFSeries(cells, dir, "cells"));
        std::filesystem::copy_file(dir / "cells.ics", dir / "upper.TIF", std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(dir / "cells_z000_c0.tif", dir / "single7.tiff",
                                   std::filesystem::copy_options::overwrite_existing);
        return dir;
    }();
    return folder / name;
}

struct RemoveWritten : ::testing::Environment
{
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(Written("").parent_path(), ignored);
    }
};
const auto* const removeWritten = ::testing::AddGlobalTestEnvironment(new RemoveWritten);

template <class R>
bool ReadBy(const ImageReader::OpenedImage& opened)
{
    return dynamic_cast<R*>(opened.reader.get()) != nullptr;
}

} // namespace

// The content decides, then the extension; the file's dimension names give the channel
// dimension and its pixel sizes reach the viewer.
TEST(ViewerOpen, ReaderChosenByContentThenExtension)
{
    ImageReader::OpenedImage series = ImageReader::OpenImage(Written("cells_z000_c0.tif"));
    ASSERT_TRUE(ReadBy<ImageReader::TIFFImageReader<unsigned short>>(series)) << series.error;
    Viewer v;
    ASSERT_EQ(v.Open(std::move(series.reader)), "");
    EXPECT_EQ(v.Size(), V({32, 24, 5, 3})); // the whole series from one of its files
    ASSERT_EQ(v.State().channelDim, 3);
    EXPECT_EQ(v.Session().reader->GetDimName(3), "c");
    EXPECT_EQ(v.State().axes.xz, 2);
    EXPECT_EQ(v.Session().reader->GetDimName(2), "z");

    EXPECT_TRUE(ReadBy<ImageReader::TIFFImageReader<unsigned short>>(ImageReader::OpenImage(Written("single7.tiff"))));

    ImageReader::OpenedImage ics = ImageReader::OpenImage(Written("cells.ics"));
    ASSERT_TRUE(ReadBy<ImageReader::ICSImageReader<unsigned short>>(ics)) << ics.error;
    ASSERT_EQ(v.Open(std::move(ics.reader)), "");
    EXPECT_EQ(v.Session().reader->GetDimName(static_cast<unsigned>(v.State().channelDim)), "ch");
    EXPECT_EQ(v.PixelSizes(), (std::vector<double>{100, 100, 300, 0}));

    // An ICS header named .TIF is no TIFF file: refused, with a reason.
    const ImageReader::OpenedImage misnamed = ImageReader::OpenImage(Written("upper.TIF"));
    EXPECT_EQ(misnamed.reader, nullptr);
    EXPECT_FALSE(misnamed.error.empty());
}
#endif

// Whatever the image before was left at, the next one starts from its own initial state:
// zoom 1 without pan, no projection or measurement, the default colours, and no side views
// for a plane.
TEST(ViewerOpen, ANewImageStartsAfresh)
{
    Viewer v;
    ASSERT_EQ(v.Open(Image({16, 16, 4, 3}, {"x", "y", "z", "ch"}, [](const std::vector<int>& c) {
                  return static_cast<unsigned short>(100 * c[3] + c[2]);
              })),
              "");
    v.Wait();
    ChannelDisplay red = v.Display().channels[0];
    red.g = 7;
    red.autoscaling = false;
    red.max = 50;
    ASSERT_TRUE(v.SetChannel(0, red));
    ASSERT_TRUE(v.SetZoom(3, V({12, -4}), false));
    ASSERT_TRUE(v.SetProjection(ProjectionMode::Max));
    ASSERT_TRUE(v.SetProjected(2, true));
    MeasureState line;
    line.type = 2;
    line.start = V({1, 1, 0, 0});
    line.end = V({9, 9, 0, 0});
    ASSERT_TRUE(v.SetMeasurement(line));
    v.Wait();

    ASSERT_EQ(v.Open(Image({40, 30}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0]); })), "");
    v.Wait();
    const ViewState& s = v.State();
    EXPECT_EQ(s.zoom, 1.0);
    EXPECT_FALSE(s.fitted);
    for (int i = 0; i < static_cast<int>(s.pan.size()); ++i)
        EXPECT_EQ(s.pan[i], 0) << i;
    EXPECT_EQ(s.projection, ProjectionMode::None);
    EXPECT_EQ(s.measure.type, 0);
    EXPECT_EQ(s.cursor, V({20, 15}));
    EXPECT_EQ(s.channelDim, -1);
    const std::array<int, 3> defaults[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ASSERT_GE(v.Display().channels.size(), 3u);
    for (size_t c = 0; c < 3; ++c) {
        const ChannelDisplay& ch = v.Display().channels[c];
        EXPECT_EQ((std::array<int, 3>{ch.r, ch.g, ch.b}), defaults[c]) << c;
        EXPECT_TRUE(ch.autoscaling) << c;
    }
    // The plane's own range: x runs over 0 .. 39.
    EXPECT_EQ(v.Display().global.min, 0);
    EXPECT_EQ(v.Display().global.max, 39);
    EXPECT_FALSE(v.Record(kViewXY).picture.IsNull());
    EXPECT_TRUE(v.Record(kViewXZ).picture.IsNull());
    EXPECT_TRUE(v.Record(kViewYZ).picture.IsNull());
}

// A movie through t: each frame is the picture the viewer shows at that index, the XY view
// sits in the bottom right of the three views, and autoscaling only widens the one range the
// frames share, so that brightness means the same in every frame.
TEST(ViewerMovie, FramesAreTheViewersPicturesWithOneRange)
{
    const FormulaImage::Formula series = [](const std::vector<int>& c) {
        return static_cast<unsigned short>(1000 * c[2] + c[0] + c[1]);
    };
    Viewer v;
    ASSERT_EQ(v.Open(Image({16, 12, 4}, {"x", "y", "t"}, series)), "");
    v.Wait();
    ASSERT_EQ(v.State().channelDim, -1);

    // Frames 0 .. 3 from a display that has seen nothing yet.
    DisplayState widening = v.Display();
    widening.global.min = 65535;
    widening.global.max = 0;
    widening.global.autoscaling = true;
    for (int t = 0; t < 4; ++t) {
        const MovieFrame f = RenderMovieFrame(v.Session(), v.State(), widening, v.PixelSizes(), ViewXY, 2, t);
        ASSERT_FALSE(f.picture.IsNull()) << t;
        EXPECT_EQ(widening.global.min, 0) << t;
        EXPECT_EQ(widening.global.max, 1000 * t + 15 + 11) << t;
    }

    // With that range fixed, frame t is the viewer's XY picture with the cursor at t, and the
    // XY part of the three-view frame.
    DisplayState fixed = widening;
    fixed.global.autoscaling = false;
    ASSERT_TRUE(v.SetDisplay(fixed));
    for (int t : {0, 3}) {
        ASSERT_TRUE(v.SetCursor(2, t));
        v.Wait();
        DisplayState d = fixed;
        const MovieFrame xy = RenderMovieFrame(v.Session(), v.State(), d, v.PixelSizes(), ViewXY, 2, t);
        EXPECT_EQ(d, fixed) << "a fixed range stays";
        EXPECT_TRUE(SameBytes(xy.picture, v.Record(kViewXY).picture)) << t;

        const MovieFrame all = RenderMovieFrame(v.Session(), v.State(), d, v.PixelSizes(), ViewAll, 2, t);
        ASSERT_EQ(all.xyWidth, 16);
        ASSERT_EQ(all.xyHeight, 12);
        EXPECT_EQ(all.xyLeft + all.xyWidth, all.picture.width);
        EXPECT_EQ(all.xyTop + all.xyHeight, all.picture.height);
        EXPECT_GT(all.xyLeft, 0);
        EXPECT_GT(all.xyTop, 0);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(Rgb(all.picture, all.xyLeft + x, all.xyTop + y), Rgb(xy.picture, x, y)) << x << "," << y;
    }
}

// A state kept from another image (a reload of a file that changed, a state file of another
// image) is brought inside the new one: what still fits stays, the rest takes the new
// image's values, and the viewer takes the result.
TEST(ViewerOpen, AStateFromAnotherImageIsBroughtInside)
{
    ViewState kept;
    kept.axes = ViewAxes{0, 1, 3, 2};
    kept.channelDim = 3;
    kept.profileDim = 2;
    kept.cursor = V({300, 10, 30, 2});
    kept.projection = ProjectionMode::Max;
    kept.projected = {false, false, true, true};
    kept.zoom = std::nan("");
    kept.pan = V({5, 6, 7});
    kept.spectrum = SpectrumCalibration(4, 500, 4, 600);
    kept.measure = MeasureState{2, V({1, 1, 0, 0}), V({9, 9, 0, 0})};

    // The same dimensions, fewer planes: each coordinate comes inside.
    ViewState same = kept;
    same.zoom = 2;
    same.pan = V({5, 6});
    same.Clamp(V({64, 48, 8, 3}));
    EXPECT_EQ(same.Validate(V({64, 48, 8, 3})), "");
    EXPECT_EQ(same.cursor, V({63, 10, 7, 2}));
    EXPECT_EQ(same.axes.xz, 3);
    EXPECT_EQ(same.channelDim, 3);
    EXPECT_EQ(same.projected, (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(same.zoom, 2.0);
    EXPECT_EQ(same.pan, V({5, 6}));
    EXPECT_EQ(same.measure.type, 2);

    // A plane of x and y: what names the missing dimensions goes, the cursor is the centre.
    ViewState plane = kept;
    plane.Clamp(V({40, 30}));
    EXPECT_EQ(plane.Validate(V({40, 30})), "");
    EXPECT_EQ(plane.axes.x, 0);
    EXPECT_EQ(plane.axes.y, 1);
    EXPECT_EQ(plane.axes.xz, -1);
    EXPECT_EQ(plane.axes.yz, -1);
    EXPECT_EQ(plane.channelDim, -1);
    EXPECT_EQ(plane.profileDim, -1);
    EXPECT_EQ(plane.cursor, V({20, 15}));
    EXPECT_EQ(plane.projected.size(), 2u);
    EXPECT_EQ(plane.zoom, 1.0);
    EXPECT_EQ(plane.pan, V({0, 0}));
    EXPECT_EQ(plane.measure.type, 0);

    Viewer v;
    ASSERT_EQ(v.Open(Image({40, 30}, {"x", "y"}, [](const std::vector<int>& c) { return static_cast<unsigned short>(c[0]); })), "");
    EXPECT_FALSE(v.SetState(kept)) << "unclamped, it does not fit";
    EXPECT_TRUE(v.SetState(plane));
    v.Wait();
    EXPECT_EQ(v.State().cursor, V({20, 15}));
    EXPECT_FALSE(v.Record(kViewXY).picture.IsNull());
}
