#include "evidence/ChartData.h"

#include <cmath>
#include <cstdio>

#include "canceller/CancellerState.h"
#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

constexpr double kSamplesPerMs = 8.0;
constexpr double kSampleRate = 8000.0;
constexpr double kLevelFloor = -100.0;  // dBm0; silence is drawn here, its CSV keeps -inf

double Drawable(double level) { return std::isfinite(level) ? level : kLevelFloor; }

// A view's names and table columns; measured or, when not, why not.
ChartView NewView(const char* stem, const char* title, const char* xLabel, const char* yLabel,
                  std::vector<std::string> columns, bool measured, const char* reason)
{
    ChartView view;
    view.stem = stem;
    view.title = title;
    view.xLabel = xLabel;
    view.yLabel = yLabel;
    view.columns = std::move(columns);
    view.measured = measured;
    if (!measured) {
        view.unmeasuredReason = reason;
    }
    return view;
}

}  // namespace

ChartView EchoPathView(const ChartInput& input)
{
    const TestSettings& s = input.settings;
    const EchoPathRecord& path = input.analysis.echoPath;
    ChartView view = NewView("echo-path", "Echo path: the canceller's weights at the end of the pass",
                             "Delay (samples; 8 per ms)", "Weight (Q15)",
                             {"delay_samples", "delay_ms", "weight_q15"}, path.measured,
                             "The cancellation pass did not run, so there is no echo path.");
    view.xPerMs = kSamplesPerMs;
    if (!view.measured) {
        return view;
    }
    ChartSeries weights{"weight", {}, {}, false};
    for (std::size_t j = 0; j < path.weights.size(); ++j) {
        const double at = path.bulkDelay + static_cast<double>(j);
        weights.x.push_back(at);
        weights.y.push_back(path.weights[j]);
        view.rows.push_back({at, at / kSamplesPerMs, static_cast<double>(path.weights[j])});
    }
    view.series.push_back(std::move(weights));
    view.spans.push_back({static_cast<double>(path.bulkDelay),
                          static_cast<double>(path.bulkDelay + static_cast<int>(path.weights.size())),
                          "tail window", 0});
    if (path.spanFirst >= 0) {
        view.spans.push_back({static_cast<double>(path.bulkDelay + path.spanFirst),
                              static_cast<double>(path.bulkDelay + path.spanLast), "99 % of the energy", 1});
    }
    view.marks.push_back({static_cast<double>(s.delay), "bulk delay"});
    view.marks.push_back({static_cast<double>(s.delay + input.minimalTail), "recommended tail"});
    return view;
}

ChartView DelaySearchView(const ChartInput& input)
{
    const TestSettings& s = input.settings;
    const DelaySearchRecord& d = input.analysis.delaySearch;
    ChartView view = NewView("delay-search", "Delay search: |correlation| of the Tx template with Rx",
                             "Lag (samples; 8 per ms)", "|correlation|",
                             {"lag_samples", "lag_ms", "abs_correlation"}, d.measured,
                             "No Tx window was loud enough in the upper band, so no lag was searched.");
    if (!view.measured) {
        return view;
    }
    view.fixedY = true;  // |correlation| is read against its whole scale, whatever the peak
    view.yMin = 0.0;
    view.yMax = 1.0;
    view.xPerMs = kSamplesPerMs;
    ChartSeries curve{"|correlation|", {}, {}, false};
    for (std::size_t lag = 0; lag < d.correlation.size(); ++lag) {
        const double ms = static_cast<double>(lag) / kSamplesPerMs;
        const double c = d.correlation[lag];
        curve.x.push_back(static_cast<double>(lag));
        curve.y.push_back(std::isfinite(c) ? c : 0.0);
        view.rows.push_back({static_cast<double>(lag), ms, c});
    }
    view.series.push_back(std::move(curve));
    view.series.push_back({"peak", {static_cast<double>(d.peakLag)}, {d.peak}, true});
    if (d.secondLag >= 0) {
        view.series.push_back({"second peak", {static_cast<double>(d.secondLag)}, {d.second}, true});
    }
    // The window inside which the delay verdict reads OK: bulk < delay < bulk + tail - 48.
    const double first = testthresholds::FirstDelayInWindow(s.delay);
    const double last = testthresholds::LastDelayInWindow(s.delay, s.tail);
    if (first <= last) {
        view.spans.push_back({first, last, "canceller's window", 0});
    }
    return view;
}

ChartView LevelsView(const ChartInput& input)
{
    const std::vector<FrameRecord>& frames = input.analysis.frames;
    ChartView view = NewView("levels", "Levels over time", "Time (s)", "Level (dBm0) / cancellation (dB)",
                             {"time_s", "tx_dBm0", "rx_dBm0", "output_dBm0", "cancellation_dB", "mode",
                              "adapt_state", "nlp_acted", "counted", "level_frame", "rx_level_frame"},
                             !frames.empty(),
                             "The cancellation pass did not run, so there are no frame levels.");
    if (!view.measured) {
        return view;
    }
    ChartSeries tx{"Tx", {}, {}, false};
    ChartSeries rx{"Rx", {}, {}, false};
    ChartSeries output{"output", {}, {}, false};
    ChartSeries cancellation{"cancellation", {}, {}, false};
    ChartSeries counted{"frames in the averages", {}, {}, true};
    int bandStart = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const FrameRecord& f = frames[k];
        const double t = static_cast<double>(k) * kFrameLength / kSampleRate;
        tx.x.push_back(t);
        tx.y.push_back(Drawable(f.txLevel));
        rx.x.push_back(t);
        rx.y.push_back(Drawable(f.rxLevel));
        output.x.push_back(t);
        output.y.push_back(Drawable(f.outputLevel));
        cancellation.x.push_back(t);
        cancellation.y.push_back(f.cancellation);
        if (f.counted) {
            counted.x.push_back(t);
            counted.y.push_back(f.cancellation);
        }
        view.rows.push_back({t, f.txLevel, f.rxLevel, f.outputLevel, f.cancellation,
                             static_cast<double>(f.mode), static_cast<double>(f.adaptState),
                             f.nlpActed ? 1.0 : 0.0, f.counted ? 1.0 : 0.0, f.levelFrame ? 1.0 : 0.0,
                             f.rxLevelFrame ? 1.0 : 0.0});
        // One band per run of frames in the same canceller mode.
        const bool last = k + 1 == frames.size();
        if (last || frames[k + 1].mode != f.mode) {
            static const char* const kModeNames[] = {"idle", "hold", "training", "converged"};
            const int mode = f.mode;
            const double from = static_cast<double>(bandStart) * kFrameLength / kSampleRate;
            const double to = static_cast<double>(k + 1) * kFrameLength / kSampleRate;
            if (mode >= ModeIdle && mode <= ModeConverged) {
                view.spans.push_back({from, to, kModeNames[mode + 1], 2 + mode + 1});
            }
            bandStart = static_cast<int>(k) + 1;
        }
    }
    view.series = {std::move(tx), std::move(rx), std::move(output), std::move(cancellation),
                   std::move(counted)};
    view.marks.push_back(
        {static_cast<double>(input.analysis.sampleCount / 2) / kSampleRate, "level averages from here"});
    return view;
}

std::vector<ChartView> AllViews(const ChartInput& input)
{
    return {EchoPathView(input), DelaySearchView(input), LevelsView(input), DelayOverTimeView(input),
            EchoPathByFrequencyView(input)};
}

std::string ToCsv(const ChartView& view)
{
    std::string table = text::CsvLine(view.columns);
    std::vector<std::string> cells;
    for (const std::vector<double>& row : view.rows) {
        cells.clear();
        for (double v : row) {
            cells.push_back(text::Number(v));
        }
        table += text::CsvLine(cells);
    }
    return table;
}

}  // namespace tarnwell
