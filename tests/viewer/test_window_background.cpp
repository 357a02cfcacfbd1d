// The window's data flow: missing and oversized planes said in the status bar, where the
// memory budget comes from, Esc cancels, and the window answers while a projection runs.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <chrono>
#include <thread>

#include "CacheBudget.h"
#include "MemoryBudget.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;

namespace {

unsigned short Ramp(const std::vector<int>& p)
{
    return static_cast<unsigned short>((p[0] * 37 + p[1] * 11 + p[2] * 101 + (p.size() > 3 ? p[3] * 1000 : 0)) % 4000);
}

FormulaImage& Source(formImageViewer& w)
{
    return *dynamic_cast<FormulaImage*>(w.model->Session().reader.get());
}

} // namespace

// What the views could not show is said in the status bar: a missing plane once per image,
// a view refused for the memory budget.
TEST(Background, StatusBarSaysWhatCouldNotBeShown)
{
    auto w = MakeWindow();
    auto source = std::make_unique<FormulaImage>(std::vector<int>{8, 8, 5}, [](const std::vector<int>&) {
        return static_cast<unsigned short>(500);
    }, std::vector<std::string>{"x", "y", "z"});
    source->failing.insert({2});
    w->LoadReader(std::move(source), QStringLiteral("missing"));
    EXPECT_TRUE(w->statusBar()->currentMessage().contains(QStringLiteral("could not be read")));
    w->statusBar()->clearMessage();
    Source(*w).failing.clear();
    w->findChild<QSlider*>(QStringLiteral("trackDim2"))->setValue(3);
    w->findChild<QSlider*>(QStringLiteral("trackDim2"))->setValue(2);
    EXPECT_NE(w->GDIImageXY.pixel(3, 3) & 0xffffff, 0u) << "a plane that failed is asked for again";
    EXPECT_TRUE(w->statusBar()->currentMessage().isEmpty()) << "said once per image";

    ImageViewer::SetCacheBudgetOverrideMB(1);
    Load(*w, {1024, 600, 2}, {"x", "y", "z"}, Ramp); // one plane is 1.2 MB
    ImageViewer::SetCacheBudgetOverrideMB(0);
    ImageReader::SetProcessMemoryBudget(0); // the window set it from the override
    EXPECT_EQ(Source(*w).reads, 0) << "nothing attempted";
    EXPECT_TRUE(w->GDIImageXY.isNull());
    EXPECT_TRUE(w->statusBar()->currentMessage().contains(QStringLiteral("memory budget")));
}

TEST(Background, BudgetFromCommandLineThenPreferencesThenDefault)
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    const size_t mib = size_t(1) << 20;
    const size_t fallback = ImageReader::SliceCache<unsigned short>::DefaultBudget();
    struct Case
    {
        size_t commandLine;
        int stored; // -1: not set
        size_t expected;
    };
    const Case cases[] = {
        {0, -1, fallback},
        {0, 0, fallback}, // 0 in the preferences means the default
        {0, 300, 300 * mib},
        {50, 300, 50 * mib},
        {50, -1, 50 * mib},
    };
    for (const Case& c : cases) {
        QSettings settings;
        if (c.stored < 0)
            settings.remove(QStringLiteral("cacheBudgetMB"));
        else
            settings.setValue(QStringLiteral("cacheBudgetMB"), c.stored);
        settings.sync();
        ImageViewer::SetCacheBudgetOverrideMB(c.commandLine);
        EXPECT_EQ(ImageViewer::CacheBudgetBytes(), c.expected) << c.commandLine << " " << c.stored;
    }
    auto w = Open({8, 8, 2}, {"x", "y", "z"}, Ramp);
    EXPECT_EQ(w->image->GetBudget(), 50 * mib);
    ImageViewer::SetCacheBudgetOverrideMB(0);
    w->ApplyCacheBudget();
    EXPECT_EQ(w->image->GetBudget(), fallback) << "the preferences' change reaches the open image";
}

// A source slow enough that its projections take a while.
Voxel Slow()
{
    return [](const std::vector<int>& p) {
        if (p[0] == 0 && p[1] == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        return static_cast<unsigned short>(p[0] + p[1] + p[2]);
    };
}

TEST(Background, EscCancelsLongWork)
{
    auto w = MakeWindow();
    w->model->inlineLimitBytes = 0;
    Load(*w, {32, 32, 500}, {"x", "y", "z"}, Slow());
    ASSERT_TRUE(w->model->Work().IsBusy());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QElapsedTimer clock;
    clock.start();
    w->model->Work().Wait();
    EXPECT_FALSE(w->model->Work().IsBusy());
    // Loose, so that sanitizer builds on a busy machine pass: uncancelled, the work runs for seconds.
    EXPECT_LT(clock.elapsed(), 1000) << "the running projection stops within a plane or so";
    EXPECT_TRUE(w->statusBar()->currentMessage().contains(QStringLiteral("Cancelled")));
}

TEST(Background, WindowAnswersWhileAProjectionRuns)
{
    auto w = MakeWindow();
    w->model->inlineLimitBytes = 0;
    Load(*w, {32, 32, 300}, {"x", "y", "z"}, Slow()); // about 2 x 1.2 s of side views
    ASSERT_TRUE(w->model->Work().IsBusy());
    // An event every 10 ms; each must be handled soon after it was due.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
        ++ticks;
    });
    timer.start();
    while (w->model->Work().IsBusy() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    timer.stop();
    RecordProperty("worst_gap_ms", static_cast<int>(worst));
    std::printf("event gap during the projection: worst %lld ms over %d ticks\n", static_cast<long long>(worst), ticks);
    EXPECT_GT(ticks, 20);
    // The target is 50 ms (see the printed figure); the bound is loose for sanitizer builds on a
    // busy machine, and still far below the seconds a blocked window would show.
    EXPECT_LT(worst, 300);
    w->WaitForViews();
    EXPECT_FALSE(w->GDIImageXZ.isNull());
}

LUMORA_VIEWER_TEST_MAIN()
