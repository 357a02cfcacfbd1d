#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "DemoData.h"
#include "FittedPicture.h"
#include "OffscreenGui.h"
#include "OpenImage.h"
#include "RenderCommand.h"
#include "ViewRender.h"
#include "Viewer.h"

using namespace ImageViewer;
namespace fs = std::filesystem;

namespace {

::testing::Environment* const gui = ::testing::AddGlobalTestEnvironment(new OffscreenGui);

constexpr int W = 48, H = 32, Z = 5, T = 6;

// Sample (x, y, z, t): a ramp that differs in every dimension, and a bright voxel whose
// place moves with t.
uint16_t Sample(int x, int y, int z, int t)
{
    if (x == 5 + 4 * t && y == 7 + t && z == 2)
        return 20000;
    return static_cast<uint16_t>(((x * 7 + y * 13 + z * 29 + t * 41) % 200) * 50);
}

// x, y, z at 100 nm, t every 0.5 s.
DemoData::Volume Stack()
{
    DemoData::Volume v;
    v.dims = {W, H, Z, T};
    v.names = {"x", "y", "z", "t"};
    v.pixelsize = {100, 100, 100, 0.5};
    v.units = {"nm", "nm", "nm", "s"};
    for (int t = 0; t < T; ++t)
        for (int z = 0; z < Z; ++z)
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    v.data.push_back(Sample(x, y, z, t));
    return v;
}

struct Outcome
{
    int code = 0;
    std::string err;
};

class RenderCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("lumora_render_cmd_" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        ASSERT_TRUE(DemoData::WriteICS(Stack(), File()));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string File() const { return (m_dir / "stack.ics").string(); }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    static Outcome Run(const std::vector<std::string>& args, const std::atomic<bool>* cancel = nullptr)
    {
        std::ostringstream out, err;
        Outcome o;
        o.code = RunRender(args, out, err, cancel);
        o.err = err.str();
        return o;
    }

    fs::path m_dir;
};

// The model's own picture of the XY view at position t, with the range fixed at 0-20000.
QImage ModelPicture(const std::string& file, int t, int w = 0, int h = 0)
{
    ImageReader::OpenedImage opened = ImageReader::OpenImage(file);
    Viewer viewer;
    viewer.autoRefresh = false;
    EXPECT_EQ(viewer.Open(std::move(opened.reader)), "");
    ViewState state = viewer.State();
    state.cursor[3] = t;
    DisplayState display = viewer.Display();
    display.global.min = 0;
    display.global.max = 20000;
    display.global.autoscaling = false;
    const ViewPicture p = RenderPicture(viewer.Session(), state, display, viewer.PixelSizes(), ViewXY, w, h);
    return QImage(p.pixels.get(), p.width, p.height, 4 * p.width, QImage::Format_RGB32).copy();
}

// Pixels whose RGB differs.
int Differences(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += (a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff);
    return n;
}

std::string RunProgram(const std::string& command)
{
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p))
            text += buffer;
        pclose(p);
    }
    return text;
}

bool HaveFfprobe()
{
    return std::system("ffprobe -version > /dev/null 2>&1") == 0;
}

// width, height, r_frame_rate and nb_read_frames of the first video stream.
std::map<std::string, std::string> Probe(const std::string& path)
{
    std::istringstream text(RunProgram("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                       "stream=width,height,r_frame_rate,nb_read_frames -of default=noprint_wrappers=1 '" +
                                       path + "'"));
    std::map<std::string, std::string> fields;
    std::string line;
    while (std::getline(text, line))
        if (line.find('=') != std::string::npos)
            fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return fields;
}

TEST_F(RenderCommandTest, MovieFramesAreTheModelsPicturesOfEachPosition)
{
    const std::string dir = Path("frames") + "/";
    const Outcome o = Run({File(), "--movie", "t:1:4", "--no-stamp", "--no-scale-bar", "--channel", "0:white:0-20000", "-o", dir});
    ASSERT_EQ(o.code, 0) << o.err;
    for (int k = 0; k < 4; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, "frame_%06d.png", k);
        const QImage frame(QString::fromStdString(dir + name));
        ASSERT_FALSE(frame.isNull()) << name;
        EXPECT_EQ(Differences(frame, ModelPicture(File(), 1 + k)), 0) << "frame " << k;
    }
    EXPECT_FALSE(fs::exists(dir + "frame_000004.png"));
}

TEST_F(RenderCommandTest, StampAndScaleBarMarkOnlyTheirCorners)
{
    const std::string dir = Path("stamped") + "/";
    // Movies stamp the position and draw the scale bar unless told not to.
    const Outcome o =
        Run({File(), "--movie", "t:2:2", "--size", "480", "480", "--channel", "0:white:0-20000", "-o", dir});
    ASSERT_EQ(o.code, 0) << o.err;
    const QImage frame(QString::fromStdString(dir + "frame_000000.png"));
    const QImage plain = ModelPicture(File(), 2, 480, 480);
    ASSERT_EQ(frame.size(), plain.size());
    int topLeft = 0, bottomRight = 0, elsewhere = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            if ((frame.pixel(x, y) & 0xffffff) == (plain.pixel(x, y) & 0xffffff))
                continue;
            if (x < frame.width() / 2 && y < frame.height() / 2)
                ++topLeft;
            else if (x >= frame.width() / 2 && y >= frame.height() / 2)
                ++bottomRight;
            else
                ++elsewhere;
        }
    EXPECT_GT(topLeft, 20);
    EXPECT_GT(bottomRight, 20);
    EXPECT_EQ(elsewhere, 0);
}

TEST_F(RenderCommandTest, EncodedMoviesHaveTheFramesSizeAndRate)
{
    if (!HaveFfprobe())
        GTEST_SKIP() << "ffprobe is not installed";
    for (const char* ext : {"mp4", "avi", "webp", "gif"}) {
        const std::string out = Path(std::string("m.") + ext);
        const Outcome o = Run({File(), "--movie", "t", "--fps", "5", "-o", out});
        ASSERT_EQ(o.code, 0) << ext << ": " << o.err;
        if (std::string(ext) == "webp")
            continue; // ffprobe does not read animated WebP
        const auto probe = Probe(out);
        EXPECT_EQ(probe.count("width") ? probe.at("width") : "", std::to_string(W)) << ext;
        EXPECT_EQ(probe.count("height") ? probe.at("height") : "", std::to_string(H)) << ext;
        EXPECT_EQ(probe.count("nb_read_frames") ? probe.at("nb_read_frames") : "", std::to_string(T)) << ext;
        EXPECT_EQ(probe.count("r_frame_rate") ? probe.at("r_frame_rate") : "", "5/1") << ext;
    }
}

TEST_F(RenderCommandTest, GifFramesDecodeToTheModelsPictures)
{
    const std::string out = Path("m.gif");
    const Outcome o = Run({File(), "--movie", "t", "--no-stamp", "--channel", "0:white:0-20000", "-o", out});
    ASSERT_EQ(o.code, 0) << o.err;
    QImageReader reader(QString::fromStdString(out));
    ASSERT_TRUE(reader.supportsAnimation());
    for (int t = 0; t < T; ++t) {
        const QImage frame = reader.read().convertToFormat(QImage::Format_RGB32);
        const QImage model = ModelPicture(File(), t);
        ASSERT_EQ(frame.size(), model.size()) << "frame " << t;
        // The writer's palette holds a grey picture within a few levels.
        int worst = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                worst = std::max(worst, std::abs(qGray(frame.pixel(x, y)) - qGray(model.pixel(x, y))));
        EXPECT_LE(worst, 4) << "frame " << t;
    }
    EXPECT_TRUE(reader.read().isNull());
}

TEST_F(RenderCommandTest, CancelledMovieLeavesNoFile)
{
    const std::atomic<bool> cancel{true};
    const Outcome o = Run({File(), "--movie", "t", "-o", Path("c.avi")}, &cancel);
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("cancelled"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(Path("c.avi")));
}

TEST_F(RenderCommandTest, BadMoviesFailWithAReasonAndLeaveNothing)
{
    Outcome o = Run({File(), "--movie", "q", "-o", Path("q.avi")});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("no dimension q"), std::string::npos) << o.err;
    o = Run({File(), "--movie", "t:2:9", "-o", Path("r.avi")});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("runs from 0 to 5"), std::string::npos) << o.err;
    o = Run({File(), "--movie", "t", "-o", Path("m.mov")});
    EXPECT_EQ(o.code, 1);
    o = Run({File(), "--rotate", "10,10", "-o", Path("r.png")});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("--view 3d"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(Path("q.avi")));
    EXPECT_FALSE(fs::exists(Path("r.avi")));
    EXPECT_FALSE(fs::exists(Path("m.mov")));
}

TEST_F(RenderCommandTest, AxisAlignedVolumeIsTheMaximumProjection)
{
    const std::string volume = Path("v.png"), projection = Path("p.png");
    Outcome o = Run({File(), "--view", "3d", "--rotate", "0,0", "--no-box", "--cursor", "t=3", "-o", volume});
    ASSERT_EQ(o.code, 0) << o.err;
    o = Run({File(), "--project", "z", "--cursor", "t=3", "-o", projection});
    ASSERT_EQ(o.code, 0) << o.err;
    const QImage v(QString::fromStdString(volume)), p(QString::fromStdString(projection));
    ASSERT_EQ(v.size(), QSize(W, H));
    EXPECT_EQ(Differences(v, p), 0);
    // The bright voxel of t = 3 is the brightest pixel of both.
    EXPECT_EQ(qGray(v.pixel(5 + 4 * 3, 7 + 3)), 255);
}

TEST_F(RenderCommandTest, TurnStartsAtTheStillAndMovesTheBrightVoxel)
{
    const std::string dir = Path("turn") + "/", still = Path("still.png");
    Outcome o = Run({File(), "--movie", "turn", "--frames", "4", "--no-box", "--no-scale-bar", "-o", dir});
    ASSERT_EQ(o.code, 0) << o.err;
    o = Run({File(), "--view", "3d", "--no-box", "-o", still});
    ASSERT_EQ(o.code, 0) << o.err;
    const QImage first(QString::fromStdString(dir + "frame_000000.png"));
    EXPECT_EQ(Differences(first, QImage(QString::fromStdString(still))), 0);
    // A quarter turn about the vertical axis: the voxel is no longer where it was.
    const QImage quarter(QString::fromStdString(dir + "frame_000001.png"));
    ASSERT_EQ(quarter.size(), first.size());
    EXPECT_GT(Differences(first, quarter), W * H / 4);
    EXPECT_FALSE(fs::exists(dir + "frame_000004.png"));
}

// Cells of a CSV without quoted commas, by header name.
std::vector<std::map<std::string, std::string>> ReadCsv(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::map<std::string, std::string>> rows;
    std::vector<std::string> header;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream parts(line);
        while (std::getline(parts, cell, ','))
            cells.push_back(cell);
        if (header.empty()) {
            header = cells;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < header.size() && i < cells.size(); ++i)
            row[header[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

TEST_F(RenderCommandTest, MeasuresRegionsAtTheCursorWithoutAPicture)
{
    // A 4 x 5 pixel box from (2, 3) and a line across row 10, in the view state's form.
    const std::string rois = Path("rois.json"), csv = Path("m.csv");
    std::ofstream(rois) << R"([{"kind": "rectangle", "points": [[2, 3], [6, 8]], "name": "box"},
                                {"kind": "line", "points": [[1, 10.5], [31, 10.5]], "name": "cut"}])";
    const int z = 1, t = 4;
    const Outcome o = Run({File(), "--rois", rois, "--measure", csv, "--cursor", "z=1,t=4"});
    ASSERT_EQ(o.code, 0) << o.err;
    const auto rows = ReadCsv(csv);
    ASSERT_EQ(rows.size(), 2u);
    double sum = 0, lo = 1e9, hi = -1e9;
    for (int y = 3; y < 8; ++y)
        for (int x = 2; x < 6; ++x) {
            const double v = Sample(x, y, z, t);
            sum += v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    const auto& box = rows[0];
    EXPECT_EQ(box.at("Label"), "box");
    EXPECT_EQ(box.at("Slice"), "2"); // 1-based, as ImageJ counts
    EXPECT_EQ(box.at("Frame"), "5");
    EXPECT_NEAR(std::stod(box.at("Area")), 20 * 0.1 * 0.1, 1e-9); // µm² at 100 nm pixels
    EXPECT_NEAR(std::stod(box.at("Mean")), sum / 20, 1e-4);
    EXPECT_EQ(std::stod(box.at("Min")), lo);
    EXPECT_EQ(std::stod(box.at("Max")), hi);
    EXPECT_NEAR(std::stod(box.at("RawIntDen")), sum, 1e-6);
    EXPECT_NEAR(std::stod(box.at("X")), 0.4, 1e-9); // the box's centre, (4, 5.5) px
    EXPECT_NEAR(std::stod(box.at("Y")), 0.55, 1e-9);
    const auto& cut = rows[1];
    EXPECT_EQ(cut.at("Label"), "cut");
    EXPECT_NEAR(std::stod(cut.at("Length")), 3.0, 1e-9);
    EXPECT_NEAR(std::stod(cut.at("Angle")), 0.0, 1e-9);
    EXPECT_FALSE(fs::exists(Path("m.png")));
}

TEST_F(RenderCommandTest, MeasuringNeedsRegionsAndReadableOnes)
{
    Outcome o = Run({File(), "--measure", Path("m.csv")});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("--rois"), std::string::npos) << o.err;
    std::ofstream(Path("bad.json")) << "[{\"kind\": \"blob\"}]";
    o = Run({File(), "--rois", Path("bad.json"), "--measure", Path("m.csv")});
    EXPECT_EQ(o.code, 1);
    EXPECT_FALSE(fs::exists(Path("m.csv")));
}

TEST_F(RenderCommandTest, RegionsAreOutlinedOnThePicture)
{
    const std::string rois = Path("rois.json"), outlined = Path("o.png");
    std::ofstream(rois) << R"([{"kind": "rectangle", "points": [[10, 8], [30, 24]], "color": "#ffff0000"}])";
    const Outcome o = Run({File(), "--rois", rois, "--cursor", "t=2", "--channel", "0:white:0-20000", "-o", outlined});
    ASSERT_EQ(o.code, 0) << o.err;
    const QImage picture(QString::fromStdString(outlined));
    const QImage plain = ModelPicture(File(), 2);
    ASSERT_EQ(picture.size(), plain.size());
    // Red on the box's edges; the middle of the box and the corners of the picture untouched.
    EXPECT_GT(qRed(picture.pixel(20, 8)), 200);
    EXPECT_LT(qGreen(picture.pixel(20, 8)), 100);
    for (const QPoint p : {QPoint(20, 16), QPoint(2, 2), QPoint(45, 30)})
        EXPECT_EQ(picture.pixel(p) & 0xffffff, plain.pixel(p) & 0xffffff) << p.x() << "," << p.y();
}

} // namespace

// The fitted picture coloured only where it is shown is RenderPicture's, pixel for pixel,
// with the same autoscaled ranges: cells with channels sampled 3x coarser in z (aspect
// stretches, side views widening the ranges), and the plain stack without channels; small,
// odd, upscaled and one-pixel-wide outputs.
TEST_F(RenderCommandTest, FittedPictureIsRenderPicturesPixelForPixel)
{
    ASSERT_TRUE(DemoData::WriteICS(DemoData::MakeCells(53, 41, 17), Path("cells.ics")));
    const std::pair<int, int> sizes[] = {{200, 150}, {31, 90}, {301, 277}, {1, 64}, {1200, 9}};
    for (const std::string& file : {Path("cells.ics"), File()}) {
        ImageReader::OpenedImage opened = ImageReader::OpenImage(file);
        Viewer viewer;
        viewer.autoRefresh = false;
        ASSERT_EQ(viewer.Open(std::move(opened.reader)), "");
        ViewState state = viewer.State();
        state.cursor[2] = 3;
        for (const int views : {int(ViewAll), int(ViewXY), int(ViewXZ), int(ViewYZ)}) {
            for (const auto& [w, h] : sizes) {
                SCOPED_TRACE(file + " views " + std::to_string(views) + " " + std::to_string(w) + "x" +
                             std::to_string(h));
                DisplayState before = viewer.Display(), after = viewer.Display();
                const ViewPicture old = RenderPicture(viewer.Session(), state, before, viewer.PixelSizes(), views, w, h);
                const ViewPicture fitted =
                    RenderFittedPicture(viewer.Session(), state, after, viewer.PixelSizes(), views, w, h);
                ASSERT_FALSE(old.IsNull());
                ASSERT_FALSE(fitted.IsNull());
                ASSERT_EQ(fitted.width, w);
                ASSERT_EQ(fitted.height, h);
                EXPECT_EQ(std::memcmp(fitted.pixels.get(), old.pixels.get(), 4 * size_t(w) * size_t(h)), 0);
                EXPECT_TRUE(after == before);
            }
        }
    }
}
