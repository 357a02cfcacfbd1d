// The viewer's refresh path on real files through the real window (offscreen): a full
// RefreshPictures and an XY-only one on the demo image, and z slider steps on a
// 1024 x 1024 x 100 x 3 image with a warm and a cold slice cache, each next to a same-run
// baseline that touches the same bytes.
#include <QApplication>
#include <QSettings>
#include <QMouseEvent>
#include <QSlider>
#include <QTemporaryDir>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "DemoData.h"
#include "Diagnostics.h"
#include "PictureBox.h"
#include "formImageViewer.h"

namespace {

struct Files
{
    QTemporaryDir dir;
    std::filesystem::path demo;
    std::filesystem::path big;
    Files()
    {
        const std::filesystem::path root(dir.path().toStdString());
        demo = root / "cells.ics";
        big = root / "big.ics";
        DemoData::WriteICS(DemoData::MakeCells(256, 256, 48), demo);
        DemoData::WriteICS(DemoData::MakeCells(1024, 1024, 100, 7), big);
    }
};

Files& files()
{
    static Files f;
    return f;
}

std::unique_ptr<ImageViewer::formImageViewer> openWindow(const std::filesystem::path& file)
{
    auto window = std::make_unique<ImageViewer::formImageViewer>();
    ImageReader::SetDiagnosticHandler([](const std::string&) {});
    window->model->Diagnostics()->Set([](const std::string&) {});
    window->show();
    QApplication::processEvents();
    window->LoadImageW(QString::fromStdString(file.string()));
    window->WaitForViews();
    QApplication::processEvents();
    return window;
}

void refreshDemo(benchmark::State& state, int mask)
{
    auto window = openWindow(files().demo);
    window->RefreshPictures(mask); // warm: every plane the views need is cached
    for (auto _ : state)
        window->RefreshPictures(mask);
    const auto size = window->image->GetSize();
    state.counters["views"] = mask == 7 ? 3 : 1;
    state.SetBytesProcessed(state.iterations() * int64_t(size[0]) * size[1] * 4);
}

void BM_RefreshPicturesMask7Demo(benchmark::State& state)
{
    refreshDemo(state, 7);
}

void BM_RefreshPicturesMask1Demo(benchmark::State& state)
{
    refreshDemo(state, 1);
}

// The bytes a refresh of one view must at least touch: copying the colour picture and one
// plain read pass over its three 16-bit channel planes.
void copyPictureReadPlanes(benchmark::State& state, size_t pixels)
{
    std::vector<unsigned char> src(pixels * 4, 1), dst(pixels * 4);
    std::vector<uint16_t> planes(pixels * 3, 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        unsigned sum = 0;
        for (const uint16_t v : planes)
            sum += v;
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(pixels) * 4);
}

// Baseline of the XY refresh of the 256 x 256 demo image.
void BM_BaselineDemoXYBytes(benchmark::State& state)
{
    copyPictureReadPlanes(state, 256 * 256);
}

// Views recomputed since `before`, so that a run shows which views a step redraws.
void countRecomputes(benchmark::State& state, const ImageViewer::formImageViewer& window,
                     const std::array<int, 3>& before)
{
    const auto& now = window.recomputeCount;
    state.counters["xy_recomputes"] = now[0] - before[0];
    state.counters["side_recomputes"] = now[1] + now[2] - before[1] - before[2];
}

void sliderSteps(benchmark::State& state, bool cold)
{
    auto window = openWindow(files().big);
    QSlider* z = window->trackDim[2];
    const int depth = z->maximum() + 1;
    for (int i = 0; i < depth; ++i) // every z plane read once
        z->setValue(i);
    int next = 0;
    const auto before = window->recomputeCount;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            window->image->Clear();
            state.ResumeTiming();
        }
        next = (next + 1) % depth;
        z->setValue(next);
        window->WaitForViews();
    }
    countRecomputes(state, *window, before);
    state.SetBytesProcessed(state.iterations() * int64_t(1024) * 1024 * 4);
}

void BM_SliderStepZWarm1024(benchmark::State& state)
{
    sliderSteps(state, false);
}

void BM_SliderStepZCold1024(benchmark::State& state)
{
    sliderSteps(state, true);
}

// Dragging the cursor across the XY view: every mouse move recomputes the XZ and YZ views
// (each a projection through all 100 cached planes of three channels).
void BM_DragStepXYWarm1024(benchmark::State& state)
{
    auto window = openWindow(files().big);
    for (int i = 0; i <= window->trackDim[2]->maximum(); ++i)
        window->trackDim[2]->setValue(i);
    QWidget* xy = window->pictureXY;
    const auto send = [&](QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(x, x), xy->mapToGlobal(QPointF(x, x)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(xy, &event);
    };
    send(QEvent::MouseButtonPress, 100, Qt::LeftButton, Qt::LeftButton);
    int x = 100;
    const auto before = window->recomputeCount;
    for (auto _ : state) {
        x = x == 100 ? 200 : 100;
        send(QEvent::MouseMove, x, Qt::NoButton, Qt::LeftButton);
        window->WaitForViews(); // the side views are computed on the worker
    }
    send(QEvent::MouseButtonRelease, x, Qt::LeftButton, Qt::NoButton);
    countRecomputes(state, *window, before);
}

// Baseline of a warm step on the 1024 x 1024 image.
void BM_BaselineStepBytes1024(benchmark::State& state)
{
    copyPictureReadPlanes(state, 1024 * 1024);
}

// Baseline of a cold step: reading the three 2 MB planes of one z from the same file.
void BM_BaselineReadPlanes1024(benchmark::State& state)
{
    const size_t plane = size_t(1024) * 1024 * 2;
    const auto fileSize = std::filesystem::file_size(files().big);
    const size_t header = fileSize - plane * 300;
    std::vector<char> buffer(plane);
    FILE* f = std::fopen(files().big.c_str(), "rb");
    int z = 0;
    for (auto _ : state) {
        z = (z + 1) % 100;
        for (int c = 0; c < 3; ++c) {
            std::fseek(f, long(header + (size_t(c) * 100 + size_t(z)) * plane), SEEK_SET);
            benchmark::DoNotOptimize(std::fread(buffer.data(), 1, plane, f));
        }
    }
    std::fclose(f);
    state.SetBytesProcessed(state.iterations() * int64_t(plane) * 3);
}

} // namespace

BENCHMARK(BM_RefreshPicturesMask7Demo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshPicturesMask1Demo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineDemoXYBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SliderStepZWarm1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SliderStepZCold1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragStepXYWarm1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineStepBytes1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadPlanes1024)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Opening files records them as recent: keep that out of the user's settings.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
