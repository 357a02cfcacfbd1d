// The viewer's model driven without a window: state rules, the view pipeline with its
// background work drained by hand, and autoscaling reported rather than applied behind
// the caller's back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <memory>
#include <vector>

#include "Diagnostics.h"
#include "FormulaImage.h"
#include "StopToken.h"
#include "Viewer.h"
#include "ViewerTestKit.h"

using namespace ImageViewer;
using ViewerTestKit::RecomputedBy;

namespace {

// x, y, z = 16 x 12 x 8 with value 100 + x + 20 y + 300 z: every plane's range is known.
std::unique_ptr<FormulaImage> Stack()
{
    return std::make_unique<FormulaImage>(
        std::vector<int>{16, 12, 8}, [](const std::vector<int>& c) { return static_cast<unsigned short>(100 + c[0] + 20 * c[1] + 300 * c[2]); },
        std::vector<std::string>{"x", "y", "z"});
}

// Records the change sets a viewer reports.
struct Changes
{
    std::vector<ChangeSet> seen;
    int ViewsReady() const
    {
        int m = 0;
        for (const ChangeSet& c : seen)
            if (c.Has(ChangeViewReady))
                m |= c.views;
        return m;
    }
    unsigned What() const
    {
        unsigned w = 0;
        for (const ChangeSet& c : seen)
            w |= c.what;
        return w;
    }
};

} // namespace

TEST(Viewer, OpenGivesTheInitialStateAndPictures)
{
    Viewer v;
    Changes changes;
    v.AddListener([&](const ChangeSet& c) { changes.seen.push_back(c); });
    ASSERT_EQ(v.Open(Stack()), "");
    v.Wait();
    const ViewState& s = v.State();
    EXPECT_EQ(s.axes.x, 0);
    EXPECT_EQ(s.axes.y, 1);
    EXPECT_EQ(s.axes.xz, 2); // named z
    EXPECT_EQ(s.axes.yz, 2);
    EXPECT_EQ(s.cursor, V({8, 6, 4}));
    EXPECT_TRUE(changes.What() & ChangeImage);
    EXPECT_EQ(changes.ViewsReady(), ViewAll);
    const ViewPicture& xy = v.Record(kViewXY).picture;
    EXPECT_EQ(xy.width, 16);
    EXPECT_EQ(xy.height, 12);
    const ViewPicture& xz = v.Record(kViewXZ).picture;
    EXPECT_EQ(xz.width, 16);
    EXPECT_EQ(xz.height, 8);
    // Autoscaling found the range of what the views show: XY is plane z = 4, XZ runs
    // through y = 6 and YZ through x = 8 over all z.
    EXPECT_EQ(v.Display().global.min, 100 + 8);                  // YZ at y = 0, z = 0
    EXPECT_EQ(v.Display().global.max, 100 + 8 + 20 * 11 + 300 * 7); // YZ at y = 11, z = 7
}

TEST(Viewer, SettersValidateAndReportWhatChanged)
{
    Viewer v;
    ASSERT_EQ(v.Open(Stack()), "");
    v.Wait();
    Changes changes;
    v.AddListener([&](const ChangeSet& c) { changes.seen.push_back(c); });
    const ViewState before = v.State();
    EXPECT_FALSE(v.SetCursor(2, 8)); // z has 8 positions
    EXPECT_FALSE(v.SetCursor(3, 0)); // no fourth dimension
    EXPECT_FALSE(v.SetAxes(ViewAxes{0, 5, 2, 2}));
    EXPECT_FALSE(v.SetZoom(0, V({0, 0}), false));
    ViewState bad = before;
    bad.cursor = V({8, 6, 9});
    EXPECT_FALSE(v.SetState(bad));
    EXPECT_FALSE(bad.Validate(v.Size()).empty());
    EXPECT_EQ(v.State(), before);
    EXPECT_TRUE(changes.seen.empty());

    // z moves only the XY view's plane; x moves only the YZ view's.
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(2, 1)); }), ViewXY);
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(0, 3)); }), ViewYZ);
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(1, 3)); }), ViewXZ);
    EXPECT_TRUE(changes.What() & ChangeCursor);
    // Projecting z: the XY view only; its picture is then the maximum over z.
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetProjection(ProjectionMode::Max)); }), ViewAll);
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetProjected(2, true)); }), ViewXY);
    EXPECT_EQ(RecomputedBy(v, [&] { EXPECT_TRUE(v.SetCursor(2, 5)); }), 0); // collapsed: nothing to read
    EXPECT_TRUE(changes.What() & ChangeProjection);
}

TEST(Viewer, RenderingReportsWideningWithoutChangingTheDisplayGiven)
{
    Viewer v;
    ASSERT_EQ(v.Open(Stack()), "");
    v.Wait();
    ViewState s = v.State();
    s.cursor = V({0, 0, 2});
    DisplayState d; // a fresh display: empty range, autoscaling
    const DisplayState given = d;
    ColouredView c = RenderView(v.Session(), s, d, kViewXY);
    EXPECT_EQ(d, given);
    EXPECT_TRUE(c.widened);
    EXPECT_EQ(c.display.global.min, 100 + 600);
    EXPECT_EQ(c.display.global.max, 100 + 15 + 220 + 600);
    // Coloured again with the found range, nothing widens and the brightest pixel is white.
    ColouredView again = RenderView(v.Session(), s, c.display, kViewXY);
    EXPECT_FALSE(again.widened);
    ASSERT_FALSE(again.picture.IsNull());
    const unsigned char* last = again.picture.pixels.get() + 4 * (16 * 12 - 1);
    EXPECT_EQ(last[0], 255);
    EXPECT_EQ(last[1], 255);
    EXPECT_EQ(last[2], 255);
    const unsigned char* first = again.picture.pixels.get();
    EXPECT_EQ(first[0], 0);
}

TEST(Viewer, BackgroundJobsDeliverThroughThePoster)
{
    auto poster = std::make_shared<QueuePoster>();
    Viewer v(poster);
    v.inlineLimitBytes = 0; // every read goes to the worker
    Changes changes;
    v.AddListener([&](const ChangeSet& c) { changes.seen.push_back(c); });
    ASSERT_EQ(v.Open(Stack()), "");
    // Nothing arrives before the model's thread drains the poster.
    v.Work().Wait();
    EXPECT_EQ(changes.ViewsReady(), 0);
    EXPECT_GT(poster->Pending(), 0u);
    v.Wait();
    EXPECT_EQ(poster->Pending(), 0u);
    EXPECT_EQ(changes.ViewsReady(), ViewAll);
    EXPECT_FALSE(v.Record(kViewXY).picture.IsNull());
    // The worker's result equals the same view read at once.
    DisplayState d = v.Display();
    ColouredView direct = RenderView(v.Session(), v.State(), d, kViewXY);
    ASSERT_FALSE(direct.picture.IsNull());
    EXPECT_EQ(std::memcmp(direct.picture.pixels.get(), v.Record(kViewXY).picture.pixels.get(), 16 * 12 * 4), 0);
}

TEST(Viewer, FitsTheViewsToATable)
{
    Viewer v;
    ASSERT_EQ(v.Open(std::make_unique<FormulaImage>(std::vector<int>{256, 128}, FormulaImage::Formula(
                                                        [](const std::vector<int>&) -> unsigned short { return 7; }))),
              "");
    // Without side views the picture fills the table less the 3-pixel gap and is centred.
    ASSERT_TRUE(v.Fit(515, 515));
    EXPECT_DOUBLE_EQ(v.State().zoom, 2.0);
    EXPECT_TRUE(v.State().fitted);
    EXPECT_EQ(v.State().pan, V({1, 1 + (515 - 256) / 2 - 1}));
}

TEST(Viewer, ChannelsComeFromTheChannelDimension)
{
    Viewer v;
    auto image = std::make_unique<FormulaImage>(
        std::vector<int>{8, 8, 2, 3}, [](const std::vector<int>& c) { return static_cast<unsigned short>(1000 * (c[3] + 1)); },
        std::vector<std::string>{"x", "y", "z", "ch"});
    ASSERT_EQ(v.Open(std::move(image)), "");
    v.Wait();
    EXPECT_EQ(v.State().channelDim, 3);
    ASSERT_GE(v.Display().channels.size(), 3u);
    // Each channel's range is its own plane's single value, widened to two values.
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(v.Display().channels[static_cast<size_t>(c)].min, 1000 * (c + 1)) << c;
    // Switching a channel off only re-colours: no plane is read again.
    ChannelDisplay off = v.Display().channels[1];
    off.enabled = false;
    const int reads = static_cast<FormulaImage&>(*v.Session().reader).reads;
    EXPECT_TRUE(v.SetChannel(1, off));
    v.Wait();
    EXPECT_EQ(static_cast<FormulaImage&>(*v.Session().reader).reads, reads);
}

namespace {

// A source whose every plane takes seconds, as a stalled server does, unless a stop is
// requested; counts the planes it finished.
class StallingImage : public ImageReader::ImageReaderBase<unsigned short>
{
public:
    explicit StallingImage(std::vector<int> size, std::vector<std::string> names) : m_size(std::move(size)), m_names(std::move(names)) {}
    ImageReader::Vector GetSize() override
    {
        ImageReader::Vector v;
        for (int s : m_size)
            v.push_back(s);
        return v;
    }
    ImageReader::ImageSlice<unsigned short> GetSlice(const ImageReader::Vector&) override
    {
        for (int k = 0; k < 5000; ++k) {
            if (ImageReader::StopRequested())
                return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        auto* buf = static_cast<unsigned short*>(std::calloc(static_cast<size_t>(m_size[0]) * m_size[1], 2));
        return ImageReader::ImageSlice<unsigned short>(ImageReader::Vector(m_size[0], m_size[1]), buf);
    }
    bool IsRemote() override { return true; }
    void Open(const std::filesystem::path&) override {}
    void Close() override {}
    std::string GetDimName(unsigned int d) override { return d < m_names.size() ? m_names[d] : std::string(); }
    double GetDimPixelSize(unsigned int) override { return 0; }

private:
    std::vector<int> m_size;
    std::vector<std::string> m_names;
};

} // namespace

TEST(Viewer, ClosingDuringAStalledReadDoesNotWaitForIt)
{
    Viewer v;
    ASSERT_EQ(v.Open(std::make_unique<StallingImage>(std::vector<int>{8, 8, 4}, std::vector<std::string>{"x", "y", "z"})), "");
    // The reads may wait: they all went to the worker, which is now inside one.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(v.Work().IsBusy());
    const auto start = std::chrono::steady_clock::now();
    v.Close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0); // a plane takes 5 s
    EXPECT_FALSE(v.Work().IsBusy());
}

TEST(Viewer, DiagnosticsGoToTheViewersSinkUntilDetached)
{
    std::vector<std::string> mine, process;
    const ImageReader::DiagnosticHandler previous =
        ImageReader::SetDiagnosticHandler([&](const std::string& t) { process.push_back(t); });
    {
        Viewer v;
        v.Diagnostics()->Set([&](const std::string& t) { mine.push_back(t); });
        // A job on the viewer's worker reports to its sink; another thread to the default.
        v.Work().Submit(0, [](ImageReader::ProjectionControl&, std::uint64_t) { ImageReader::ReportDiagnostic("job"); });
        v.Work().Wait();
        std::thread([] { ImageReader::ReportDiagnostic("other"); }).join();
        v.Diagnostics()->Detach();
        v.Work().Submit(0, [](ImageReader::ProjectionControl&, std::uint64_t) { ImageReader::ReportDiagnostic("late"); });
        v.Work().Wait();
    }
    ImageReader::SetDiagnosticHandler(previous);
    EXPECT_EQ(mine, std::vector<std::string>{"job"});
    EXPECT_EQ(process, (std::vector<std::string>{"other", "late"}));
}

TEST(Viewer, ListenersChangingListenersWhileTheyAreTold)
{
    Viewer v;
    ASSERT_EQ(v.Open(Stack()), "");
    v.Wait();
    std::vector<std::string> heard;
    int second = 0, late = 0;
    int first = 0;
    // The first listener removes itself and the second one, and adds a third: the second is
    // not told any more, the third only of later changes.
    first = v.AddListener([&](const ChangeSet& c) {
        if (!c.Has(ChangeCursor))
            return;
        heard.push_back("first");
        v.RemoveListener(first);
        v.RemoveListener(second);
        late = v.AddListener([&](const ChangeSet& d) {
            if (d.Has(ChangeCursor))
                heard.push_back("late");
        });
    });
    second = v.AddListener([&](const ChangeSet& c) {
        if (c.Has(ChangeCursor))
            heard.push_back("second");
    });
    ASSERT_TRUE(v.SetCursor(2, 1));
    EXPECT_EQ(heard, std::vector<std::string>{"first"});
    ASSERT_TRUE(v.SetCursor(2, 2));
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "late"}));
    v.RemoveListener(late);

    // Pixel sizes handed in unchanged (the window does on every refresh) are no news.
    Changes changes;
    v.AddListener([&](const ChangeSet& c) { changes.seen.push_back(c); });
    v.SetPixelSizes({100, 100, 300});
    EXPECT_EQ(changes.What(), unsigned(ChangeZoom));
    changes.seen.clear();
    v.SetPixelSizes({100, 100, 300});
    EXPECT_TRUE(changes.seen.empty());
}
