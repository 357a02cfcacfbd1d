// Playing a dimension through the real window, stepping keys over the views, the position
// stamp and movie export.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>

#include "PlayerPanel.h"
#include "ViewerTestUtil.h"

using namespace ViewerTest;
using ImageViewer::PlayerPanel;

namespace {

// A time series with the time between frames given (its planes come from the worker: the
// player must wait for them, whatever the clock says).
class Series : public FormulaImage
{
public:
    Series(std::vector<int> size, std::vector<std::string> names, double interval)
        : FormulaImage(std::move(size), [](const std::vector<int>& c) { return static_cast<unsigned short>(
                                                                            c[0] * 50 + c[1] * 20 + c[2] * 1000); },
                       std::move(names)),
          m_interval(interval)
    {
    }
    double GetDimInterval(unsigned int d) override { return d == 2 ? m_interval : 0.0; }

private:
    double m_interval;
};

struct FakeClock : Core::PlayClock
{
    double t = 100.0;
    double Now() override { return t; }
};

std::unique_ptr<formImageViewer> OpenSeries(int frames, double interval = 0.0, int width = 24, int height = 16,
                                            std::set<std::vector<int>> failing = {})
{
    auto w = MakeWindow();
    // Every view goes through the worker, as a slow disk's would.
    w->model->inlineLimitBytes = 0;
    auto series = std::make_unique<Series>(std::vector<int>{width, height, frames},
                                               std::vector<std::string>{"x", "y", "t"}, interval);
    series->failing = std::move(failing);
    w->LoadReader(std::move(series), QStringLiteral("series"));
    w->WaitForViews();
    return w;
}

template <class T>
T* child(formImageViewer& w, const char* name)
{
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// Plays dimension 2 until the player stops, `step` seconds of the fake clock per round, and
// returns the positions the t slider went through.
std::vector<int> playToEnd(formImageViewer& w, FakeClock& clock, double step)
{
    std::vector<int> shown;
    QSlider* t = w.trackDim[2];
    QObject::connect(t, &QSlider::valueChanged, t, [&shown](int v) { shown.push_back(v); });
    w.player->SetClock(&clock);
    QTest::mouseClick(child<QToolButton>(w, "buttonDimPlay2"), Qt::LeftButton);
    EXPECT_TRUE(w.player->IsPlaying());
    for (int round = 0; round < 2000 && w.player->IsPlaying(); ++round) {
        w.WaitForViews();
        clock.t += step;
        w.player->TickNow();
    }
    EXPECT_FALSE(w.player->IsPlaying());
    QObject::disconnect(t, nullptr, t, nullptr);
    return shown;
}

} // namespace

TEST(Player, EveryFrameShowsEachIndexOnceInOrderAndWaitsForItsPicture)
{
    // A plane that cannot be read shows as missing; it does not stall playing.
    auto w = OpenSeries(12, 0.0, 24, 16, {{5}});
    child<QComboBox>(*w, "comboPlayMode")->setCurrentIndex(1);   // every frame
    child<QComboBox>(*w, "comboPlayRepeat")->setCurrentIndex(2); // once
    child<QDoubleSpinBox>(*w, "spinFps")->setValue(100);
    w->trackDim[2]->setValue(0);
    FakeClock clock;
    // The clock runs far ahead of the reads: every frame still comes, none twice.
    std::vector<int> expected;
    for (int i = 1; i < 12; ++i)
        expected.push_back(i);
    EXPECT_EQ(playToEnd(*w, clock, 0.05), expected);
    EXPECT_EQ(w->player->Engine().Skipped(), 0);
    // The last frame's picture is the one on the screen.
    EXPECT_EQ(w->model->Record(0).shown.image, w->model->Session().serial);
    EXPECT_EQ(w->curslice[2], 11);
}

TEST(Player, RealTimeSkipsLateFramesCountsThemAndEndsOnTheRangeEnd)
{
    auto w = OpenSeries(30);
    child<QComboBox>(*w, "comboPlayRepeat")->setCurrentIndex(2); // once, real time
    child<QDoubleSpinBox>(*w, "spinFps")->setValue(10);
    FakeClock clock;
    // Ticks three frame periods apart: two of every three frames are late.
    QTest::mouseClick(child<QToolButton>(*w, "buttonDimPlay2"), Qt::LeftButton); // sets the range up
    QTest::mouseClick(child<QToolButton>(*w, "buttonDimPlay2"), Qt::LeftButton); // pause
    child<QSpinBox>(*w, "spinFirst")->setValue(4);
    child<QSpinBox>(*w, "spinLast")->setValue(25);
    w->trackDim[2]->setValue(4);
    const std::vector<int> shown = playToEnd(*w, clock, 0.3);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 25);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_GE(shown.front(), 4);
    const long long skipped = w->player->Engine().Skipped();
    EXPECT_GT(skipped, 10);
    // Shown and skipped frames add up to the range after the first frame.
    EXPECT_EQ(static_cast<long long>(shown.size()) + skipped, 25 - 4);
    EXPECT_TRUE(child<QLabel>(*w, "labelPlaySkipped")->text().startsWith(QString::number(skipped)));
}

TEST(Player, SpaceAndTheViewMenuToggleTheLastUsedDimension)
{
    auto w = Open({8, 8, 5, 7}, {"x", "y", "z", "t"});
    w->trackDim[3]->setValue(2); // the user moves t
    QAction* play = child<QAction>(*w, "playToolStripMenuItem");
    EXPECT_EQ(play->shortcut(), QKeySequence(Qt::Key_Space));
    play->trigger();
    EXPECT_TRUE(w->player->IsPlaying());
    EXPECT_EQ(w->player->PlayingDim(), 3);
    EXPECT_EQ(child<QToolButton>(*w, "buttonDimPlay3")->text(), QStringLiteral("\u275A\u275A"));
    // Moved by hand while playing, it plays on from there.
    w->trackDim[3]->setValue(5);
    EXPECT_TRUE(w->player->IsPlaying());
    EXPECT_EQ(w->player->Engine().Shown(), 5);
    play->trigger();
    EXPECT_FALSE(w->player->IsPlaying());
    EXPECT_EQ(w->trackDim[3]->value(), 5);
    // Another image, playing: its rows get their own buttons and playing stops for it.
    play->trigger();
    Load(*w, {8, 8, 4}, {"x", "y", "z"});
    EXPECT_FALSE(w->player->IsPlaying());
    EXPECT_EQ(w->findChild<QToolButton*>(QStringLiteral("buttonDimPlay3")), nullptr);
    ASSERT_NE(w->findChild<QToolButton*>(QStringLiteral("buttonDimPlay2")), nullptr);
    play->trigger();
    EXPECT_EQ(w->player->PlayingDim(), 2);
    play->trigger();
}

TEST(Keys, StepTheLastUsedDimensionAndAltTheNextOne)
{
    auto w = Open({8, 8, 30, 5}, {"x", "y", "z", "t"});
    QWidget* view = w->pictureXY;
    const auto z = [&] { return w->trackDim[2]->value(); };
    const auto t = [&] { return w->trackDim[3]->value(); };
    w->trackDim[3]->setValue(0);
    w->trackDim[2]->setValue(5); // z is the dimension last used
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_EQ(z(), 6);
    QTest::keyClick(view, Qt::Key_PageUp);
    EXPECT_EQ(z(), 16);
    QTest::keyClick(view, Qt::Key_PageDown);
    QTest::keyClick(view, Qt::Key_PageDown);
    EXPECT_EQ(z(), 0);
    QTest::keyClick(view, Qt::Key_Comma);
    EXPECT_EQ(z(), 0);
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(z(), 29);
    QTest::keyClick(view, Qt::Key_Period);
    EXPECT_EQ(z(), 29);
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(z(), 0);
    // Alt steps the next dimension and leaves the last used one as it was.
    QTest::keyClick(view, Qt::Key_Right, Qt::AltModifier);
    QTest::keyClick(view, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(t(), 2);
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_EQ(z(), 1);
    // Moving t's slider makes it the one the keys step; Alt then wraps round to z.
    w->trackDim[3]->setValue(4);
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(t(), 3);
    QTest::keyClick(view, Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(z(), 0);
    EXPECT_EQ(t(), 3);
    // The views show what the keys chose.
    w->WaitForViews();
    EXPECT_EQ(w->curslice[3], 3);
}

TEST(Stamp, TimeFromTheFileOnTheViewAndInTheExport)
{
    auto w = OpenSeries(6, 1.5, 160, 120);
    QAction* stamp = child<QAction>(*w, "timeStampToolStripMenuItem");
    EXPECT_TRUE(stamp->isChecked()); // on by default: the file gives the interval
    w->trackDim[2]->setValue(3);
    w->WaitForViews();
    EXPECT_EQ(w->player->StampText(), QStringLiteral("t = 00:00:04.5"));
    const QImage stamped = w->ViewImage(false);
    stamp->setChecked(false);
    EXPECT_TRUE(w->player->StampText().isEmpty());
    const QImage plain = w->ViewImage(false);
    ASSERT_EQ(stamped.size(), plain.size());
    // The stamp lies in the picture's top left corner only.
    int changedTop = 0, changedBottom = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (stamped.pixel(x, y) != plain.pixel(x, y))
                ++(y < plain.height() / 2 ? changedTop : changedBottom);
    EXPECT_GT(changedTop, 0);
    EXPECT_EQ(changedBottom, 0);
}

namespace {

QImage frameOf(const QString& folder, int i)
{
    return QImage(QDir(folder).filePath(QStringLiteral("frame_%1.png").arg(i, 6, 10, QLatin1Char('0'))))
        .convertToFormat(QImage::Format_RGB32);
}

// A movie through t from `first` to `last`, views read at once as for a local file.
ImageViewer::MovieExportSettings throughT(formImageViewer& w, int first, int last)
{
    w.model->inlineLimitBytes = 32.0 * 1024 * 1024;
    ImageViewer::MovieExportSettings s;
    s.dim = 2;
    s.first = first;
    s.last = last;
    return s;
}

} // namespace

TEST(MovieExport, FramesAreTheWindowsPicturesAtEachIndexStampedInXYOnly)
{
    auto w = OpenSeries(7, 0.5);
    QTemporaryDir dir;
    ImageViewer::MovieExportSettings s = throughT(*w, 2, 5);
    s.stamp = false;
    s.scaleBar = false;
    s.output = dir.filePath(QStringLiteral("frames/"));
    const Core::MovieResult r = w->player->ExportMovie(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames, 4);
    EXPECT_EQ(QDir(s.output).entryList(QDir::Files).size(), 4);
    // Each frame is what the window shows at that index, exported as a still.
    child<QAction>(*w, "timeStampToolStripMenuItem")->setChecked(false);
    for (int i : {0, 3}) {
        w->trackDim[2]->setValue(2 + i);
        w->WaitForViews();
        const QImage still = w->ViewImage(false).convertToFormat(QImage::Format_RGB32);
        const QImage frame = frameOf(s.output, i);
        ASSERT_EQ(frame.size(), still.size());
        EXPECT_EQ(frame, still) << "frame " << i;
    }

    // All three views with the stamp: it changes the XY view's top left only (the writers of
    // every format are tested on their own).
    s.first = 0;
    s.last = 1;
    s.allViews = true;
    s.stamp = true;
    child<QAction>(*w, "timeStampToolStripMenuItem")->setChecked(true);
    s.output = dir.filePath(QStringLiteral("stamped/"));
    ASSERT_TRUE(w->player->ExportMovie(s).ok);
    s.stamp = false;
    s.output = dir.filePath(QStringLiteral("plain/"));
    ASSERT_TRUE(w->player->ExportMovie(s).ok);
    const QImage a = frameOf(dir.filePath(QStringLiteral("stamped/")), 1);
    const QImage b = frameOf(dir.filePath(QStringLiteral("plain/")), 1);
    ASSERT_FALSE(a.isNull());
    ASSERT_EQ(a.size(), b.size());
    int outside = 0, inside = 0;
    const int xyLeft = a.width() - 24, xyTop = a.height() - 16;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++(x >= xyLeft && y >= xyTop ? inside : outside);
    EXPECT_GT(inside, 0);
    EXPECT_EQ(outside, 0);
    // An impossible movie leaves nothing behind.
    s.output = dir.filePath(QStringLiteral("m.xyz"));
    EXPECT_FALSE(w->player->ExportMovie(s).ok);
    EXPECT_FALSE(QFileInfo::exists(s.output));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
