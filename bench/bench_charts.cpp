// The details views of a long capture: the levels view of 10 and 60 minutes (60 000 and
// 360 000 frames, the canceller's mode changing every second or so) drawn into the window's
// panel (built, shown and replaced, as after a second run) and into the SVG and PNG pictures.
// Each should take well under a second; the SVG's size is reported and should stay under 1 MB.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>

#include "charts/ChartRenderer.h"
#include "ui/ChartPanel.h"

using namespace tarnwell;

namespace {

ChartView LongLevels(int minutes)
{
    static const TestSettings settings;
    AnalysisRecord analysis;
    const int frames = minutes * 60 * 100;
    analysis.sampleCount = frames * 80;
    for (int k = 0; k < frames; ++k) {
        FrameRecord f;
        const double t = k / 100.0;
        f.txLevel = static_cast<float>(-30.0 + 15.0 * std::sin(t * 3.1) + 5.0 * std::sin(k * 0.77));
        f.rxLevel = f.txLevel - 12.0F;
        f.outputLevel = static_cast<float>(-70.0 + 8.0 * std::sin(k * 1.3));
        f.cancellation = f.rxLevel - f.outputLevel;
        f.mode = static_cast<std::int8_t>((k / 97) % 4 - 1);
        f.counted = k % 3 == 0;
        analysis.frames.push_back(f);
    }
    return LevelsView({settings, 64, analysis});
}

void PanelShowsAndReplaces(benchmark::State& state)
{
    const ChartView view = LongLevels(static_cast<int>(state.range(0)));
    ChartPanel panel;
    panel.resize(600, 560);
    panel.show();
    for (auto _ : state) {
        panel.SetView(view);
        panel.grab();  // paints it
    }
}
BENCHMARK(PanelShowsAndReplaces)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

void Pictures(benchmark::State& state)
{
    const ChartView view = LongLevels(static_cast<int>(state.range(0)));
    const QTemporaryDir dir;
    const QString svg = dir.filePath(QStringLiteral("levels.svg"));
    QString error;
    for (auto _ : state) {
        SaveSvg(view, svg, kPictureSize, error);
        SavePng(view, dir.filePath(QStringLiteral("levels.png")), kPictureSize, error);
    }
    state.counters["svg_bytes"] = static_cast<double>(QFileInfo(svg).size());
}
BENCHMARK(Pictures)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
