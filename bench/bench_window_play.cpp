// Every-frame playback through the window: the player, its read-ahead on the view worker and
// the views drawn for each frame, from a memory-mapped ICS time series larger than the cache
// budget, against pread of the same bytes in the same run.
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QSpinBox>

#include <benchmark/benchmark.h>

#include <chrono>

#include "PlaybackFiles.h"
#include "PlayerPanel.h"
#include "formImageViewer.h"

namespace {

void BM_PreadTimeSeries(benchmark::State& state)
{
    const int fd = open(pfs::path(IcsFile()).replace_extension(".ids").c_str(), O_RDONLY);
    std::vector<unsigned char> frame(kFrameBytes);
    for (auto _ : state)
        for (int i = 0; i < kPlayFrames; ++i)
            if (!PreadFrame(fd, 0, i, frame.data()))
                state.SkipWithError("cannot read the frames file");
    close(fd);
    state.counters["fps"] = benchmark::Counter(kPlayFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PreadTimeSeries)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowPlayEveryFrame(benchmark::State& state)
{
    ImageViewer::formImageViewer w;
    w.resize(1000, 800);
    w.show();
    w.LoadImageW(QString::fromStdString(IcsFile().string()));
    if (!w.image || w.trackDim.size() != 4) {
        state.SkipWithError("cannot open the time series");
        return;
    }
    w.image->SetBudget(kBudget);
    w.WaitForViews();
    w.findChild<QComboBox*>(QStringLiteral("comboPlayMode"))->setCurrentIndex(1);
    w.findChild<QComboBox*>(QStringLiteral("comboPlayRepeat"))->setCurrentIndex(2);
    w.findChild<QDoubleSpinBox*>(QStringLiteral("spinFps"))->setValue(1000); // the read path sets the rate
    long long shown = 0;
    for (auto _ : state) {
        w.trackDim[3]->setValue(0);
        w.WaitForViews();
        w.player->TogglePlay(3);
        while (w.player->IsPlaying())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        shown += w.player->Engine().ShownCount();
        w.WaitForViews();
    }
    if (shown != static_cast<long long>(state.iterations()) * (kPlayFrames - 1))
        state.SkipWithError("not every frame was shown");
    state.counters["fps"] = benchmark::Counter(kPlayFrames - 1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WindowPlayEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
