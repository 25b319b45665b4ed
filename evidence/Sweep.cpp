#include "evidence/Sweep.h"

#include <algorithm>
#include <cmath>

#include "engine/PreparedCaptures.h"
#include "engine/TextFormat.h"
#include "ui/Report.h"

namespace tarnwell {

namespace {

constexpr int kFramesPerSecond = 8000 / kFrameLength;

// 10 log10 of the Rx power over the output power, summed over the second half's frames of
// echo alone (those the canceller gave a figure for: the reference well above the near end),
// so that near-end speech, which the canceller passes, does not read as echo left over.
double SecondHalfErle(const std::vector<FrameRecord>& frames)
{
    double rx = 0.0;
    double out = 0.0;
    for (const FrameRecord& f : frames) {
        if (f.levelFrame && f.cancellation != 0.0F) {
            rx += std::pow(10.0, f.rxLevel / 10.0);
            out += std::pow(10.0, f.outputLevel / 10.0);
        }
    }
    return rx > 0.0 ? 10.0 * std::log10(rx / out) : kUnmeasured;
}

SweepPoint MeasurePoint(const EchoTester& engine, const PreparedCaptures& prepared,
                        const TestSettings& settings, const std::atomic<bool>* stop)
{
    SweepPoint point;
    point.settings = settings;
    AnalysisRecord record;
    if (!RunPreparedPass(engine, prepared, settings, point.results, &record, stop)) {
        // Stopped mid-pass: partial figures are no measurement.
        SweepPoint stopped;
        stopped.settings = settings;
        return stopped;
    }
    point.ran = true;
    point.erleDb = SecondHalfErle(record.frames);
    std::vector<float> figures;
    figures.reserve(record.frames.size());
    for (const FrameRecord& f : record.frames) {
        figures.push_back(f.cancellation);
        point.nlpFrames += f.nlpActed && settings.nlpShift > 0 ? 1 : 0;
    }
    point.convergedSeconds = ConvergedSeconds(figures, settings.nlpDiff);
    return point;
}

// A setting may be recommended when a run with it would not flag the delay or the residual.
bool Eligible(const SweepPoint& p) { return p.results.delayOk != 0 && p.results.residualOk != 0; }

std::string Settings(const TestSettings& s)
{
    return text::Format("tail %d, bulk delay %d, NLP diff %d, shift %d", s.tail, s.delay, s.nlpDiff,
                        s.nlpShift);
}

std::string Decibels(double value)
{
    return std::isnan(value) ? std::string("-") : text::Format("%.1f", value);
}

}  // namespace

std::vector<TestSettings> SweepSettings(const TestSettings& base, const SweepGrid& grid)
{
    std::vector<TestSettings> all;
    for (const int delay : grid.delays) {
        for (const int diff : grid.nlpDiffs) {
            for (const int shift : grid.nlpShifts) {
                for (const int tail : grid.tails) {
                    TestSettings s = base;
                    s.tail = tail;
                    s.delay = delay;
                    s.nlpDiff = diff;
                    s.nlpShift = shift;
                    all.push_back(s);
                }
            }
        }
    }
    return all;
}

double ConvergedSeconds(const std::vector<float>& frameCancellation, int nlpDiff)
{
    const int count = static_cast<int>(frameCancellation.size());
    // below[i]: frames with a figure at or under nlpDiff among the first i; figured[i]: with any.
    std::vector<int> below(static_cast<std::size_t>(count) + 1, 0);
    std::vector<int> figured(static_cast<std::size_t>(count) + 1, 0);
    for (int i = 0; i < count; ++i) {
        const float c = frameCancellation[static_cast<std::size_t>(i)];
        const auto k = static_cast<std::size_t>(i);
        figured[k + 1] = figured[k] + (c != 0.0F ? 1 : 0);
        below[k + 1] = below[k] + (c != 0.0F && !(c > static_cast<float>(nlpDiff)) ? 1 : 0);
    }
    for (int i = 0; i + kFramesPerSecond <= count; ++i) {
        const auto a = static_cast<std::size_t>(i);
        const auto b = static_cast<std::size_t>(i + kFramesPerSecond);
        if (frameCancellation[a] != 0.0F && below[b] - below[a] == 0 &&
            figured[b] - figured[a] >= kHoldFrames) {
            return static_cast<double>(i) / kFramesPerSecond;
        }
    }
    return kUnmeasured;
}

SweepRecommendation Recommend(const std::vector<SweepPoint>& points, int minimalTail)
{
    SweepRecommendation r;
    r.minimalTail = minimalTail;
    const auto n = static_cast<int>(points.size());
    for (int i = 0; i < n; ++i) {
        const SweepPoint& p = points[static_cast<std::size_t>(i)];
        if (p.ran && p.results.cancellation > 0.0 &&
            (r.best < 0 ||
             p.results.cancellation > points[static_cast<std::size_t>(r.best)].results.cancellation)) {
            r.best = i;
        }
    }
    if (r.best < 0) {
        r.text = "No setting cancelled any echo: there is nothing to recommend.";
        return r;
    }
    const double bestFigure = points[static_cast<std::size_t>(r.best)].results.cancellation;
    for (int i = 0; i < n; ++i) {
        const SweepPoint& p = points[static_cast<std::size_t>(i)];
        if (!p.ran || p.results.cancellation < bestFigure - kRecommendationMarginDb || !Eligible(p)) {
            continue;
        }
        const SweepPoint* c = r.chosen < 0 ? nullptr : &points[static_cast<std::size_t>(r.chosen)];
        // The smallest tail; among its settings the best cancellation, then the best ERLE (the
        // NLP's share, which the cancellation figure leaves out).
        const bool sameTail = c != nullptr && p.settings.tail == c->settings.tail;
        if (c == nullptr || p.settings.tail < c->settings.tail ||
            (sameTail && p.results.cancellation > c->results.cancellation) ||
            (sameTail && p.results.cancellation == c->results.cancellation && p.erleDb > c->erleDb)) {
            r.chosen = i;
        }
    }
    if (r.chosen < 0) {
        r.text = text::Format(
            "No setting within %.0f dB of the best cancellation (%.1f dB with %s) has its delay "
            "inside the window and its residual OK: there is nothing to recommend.",
            kRecommendationMarginDb, bestFigure,
            Settings(points[static_cast<std::size_t>(r.best)].settings).c_str());
        return r;
    }
    const SweepPoint& chosen = points[static_cast<std::size_t>(r.chosen)];
    for (int i = 0; i < n; ++i) {
        const TestSettings& s = points[static_cast<std::size_t>(i)].settings;
        if (points[static_cast<std::size_t>(i)].ran && s.tail == minimalTail &&
            s.delay == chosen.settings.delay && s.nlpDiff == chosen.settings.nlpDiff &&
            s.nlpShift == chosen.settings.nlpShift) {
            r.atMinimalTail = i;
        }
    }
    r.text = text::Format("Measured: %s cancels %.1f dB, within %.0f dB of the best (%.1f dB with %s), with "
                          "the delay and residual verdicts OK.",
                          Settings(chosen.settings).c_str(), chosen.results.cancellation,
                          kRecommendationMarginDb, bestFigure,
                          Settings(points[static_cast<std::size_t>(r.best)].settings).c_str());
    const int tail = chosen.settings.tail;
    if (r.atMinimalTail < 0) {
        r.text += text::Format(
            " The report's Minimal tail is %d; it was not swept, so the two cannot be compared.",
            minimalTail);
    } else if (tail == minimalTail) {
        r.text += text::Format(" The report's Minimal tail (%d) agrees.", minimalTail);
    } else {
        const SweepPoint& atMinimal = points[static_cast<std::size_t>(r.atMinimalTail)];
        const bool enough = atMinimal.results.cancellation >= bestFigure - kRecommendationMarginDb &&
                            Eligible(atMinimal);
        r.text += text::Format(" The report's Minimal tail (%d) cancels %.1f dB: ", minimalTail,
                               atMinimal.results.cancellation);
        r.text += enough ? text::Format("it would do, but the measured tail is %d samples shorter.",
                                        minimalTail - tail)
                         : std::string("the measurement disagrees, that tail is too short for this echo.");
    }
    return r;
}

SweepOutcome RunSweep(const EchoTester& engine, const TestSettings& base, int deviceType,
                      const SweepGrid& grid, TestUi& ui, const RunnerControl& control)
{
    SweepOutcome outcome;
    PreparedCaptures prepared;
    outcome.ready = PrepareCaptures(engine, base, prepared, ui);
    outcome.delay = prepared.delay;
    outcome.erl = prepared.erl;
    if (!outcome.ready) {
        return outcome;
    }
    const int minimalTail = MinimalTail(deviceType, outcome.delay);
    SweepGrid tried = grid;
    if (grid.withMinimalTail && minimalTail >= 0 && minimalTail <= kMaxTail &&
        std::find(tried.tails.begin(), tried.tails.end(), minimalTail) == tried.tails.end()) {
        const auto at = std::find_if(tried.tails.begin(), tried.tails.end(),
                                     [&](int t) { return t > minimalTail; });
        tried.tails.insert(at, minimalTail);
    }
    const std::vector<TestSettings> settings = SweepSettings(base, tried);
    outcome.points.resize(settings.size());
    for (std::size_t i = 0; i < settings.size(); ++i) {
        outcome.points[i].settings = settings[i];
    }
    RunJobs(
        static_cast<int>(settings.size()),
        [&](int i) {
            const auto k = static_cast<std::size_t>(i);
            outcome.points[k] = MeasurePoint(engine, prepared, settings[k], control.stop);
        },
        control);
    // A pass never started, or stopped at a frame, has no figures.
    outcome.stopped = std::any_of(outcome.points.begin(), outcome.points.end(),
                                  [](const SweepPoint& p) { return !p.ran; });
    outcome.recommendation = Recommend(outcome.points, minimalTail);
    return outcome;
}

std::string SweepCsv(const SweepOutcome& outcome)
{
    std::string csv = text::CsvLine({"tail", "bulk_delay", "nlp_diff", "nlp_shift", "ran", "cancellation_db",
                                     "erle_second_half_db", "residual_dbm0", "residual_ok", "converged_s",
                                     "nlp_frames", "delay_ok"});
    for (const SweepPoint& p : outcome.points) {
        const TestSettings& s = p.settings;
        const TestResults& r = p.results;
        csv += text::CsvLine(
            {std::to_string(s.tail), std::to_string(s.delay), std::to_string(s.nlpDiff),
             std::to_string(s.nlpShift), p.ran ? "1" : "0", p.ran ? text::Number(r.cancellation) : "",
             p.ran ? text::Number(p.erleDb) : "", p.ran ? text::Number(r.residualLevel) : "",
             p.ran ? std::to_string(r.residualOk) : "", p.ran ? text::Number(p.convergedSeconds) : "",
             p.ran ? std::to_string(p.nlpFrames) : "", p.ran ? std::to_string(r.delayOk) : ""});
    }
    return csv;
}

std::string SweepTable(const SweepOutcome& outcome)
{
    std::string table = text::Format("Echo delay %d samples, ERL %.1f dB\n", outcome.delay, outcome.erl);
    table += text::Format("%5s %6s %4s %5s %12s %9s %10s %8s %10s %6s\n", "tail", "delay", "diff", "shift",
                          "cancellation", "ERLE 2nd", "residual", "verdict", "converged", "NLP");
    for (const SweepPoint& p : outcome.points) {
        const TestSettings& s = p.settings;
        if (!p.ran) {
            table += text::Format("%5d %6d %4d %5d   not run (stopped)\n", s.tail, s.delay, s.nlpDiff,
                                  s.nlpShift);
            continue;
        }
        const TestResults& r = p.results;
        const std::string converged = std::isnan(p.convergedSeconds)
                                          ? std::string("never")
                                          : text::Format("%.2f s", p.convergedSeconds);
        const std::string nlp = s.nlpShift == 0 ? std::string("none") : std::to_string(p.nlpFrames);
        table += text::Format("%5d %6d %4d %5d %12s %9s %10s %8s %10s %6s%s\n", s.tail, s.delay, s.nlpDiff,
                              s.nlpShift, Decibels(r.cancellation).c_str(), Decibels(p.erleDb).c_str(),
                              Decibels(r.residualLevel).c_str(),
                              kVerdictWords[r.residualOk != 0 ? 1U : 0U].c_str(), converged.c_str(),
                              nlp.c_str(), r.delayOk != 0 ? "" : "  (echo outside the window)");
    }
    table += outcome.recommendation.text + "\n";
    if (outcome.stopped) {
        table += "Stopped: the rows marked not run have no figures.\n";
    }
    return table;
}

ChartView SweepView(const SweepOutcome& outcome)
{
    ChartView view;
    view.stem = "sweep";
    view.title = "Cancellation against tail";
    view.xLabel = "tail (samples)";
    view.yLabel = "cancellation (dB)";
    view.columns = {"tail (samples)", "bulk delay (samples)", "NLP diff (dB)",
                    "NLP shift",      "cancellation (dB)",    "ERLE second half (dB)"};
    view.measured = outcome.ready;
    if (!view.measured) {
        view.unmeasuredReason = "the captures could not be used";
        return view;
    }
    for (const SweepPoint& p : outcome.points) {
        if (!p.ran) {
            continue;
        }
        const TestSettings& s = p.settings;
        const std::string name = text::Format("delay %d, NLP %d/%d", s.delay, s.nlpDiff, s.nlpShift);
        auto line = std::find_if(view.series.begin(), view.series.end(),
                                 [&](const ChartSeries& c) { return c.name == name; });
        if (line == view.series.end()) {
            view.series.push_back({name, {}, {}, false});
            line = view.series.end() - 1;
        }
        line->x.push_back(s.tail);
        line->y.push_back(p.results.cancellation);
        view.rows.push_back({static_cast<double>(s.tail), static_cast<double>(s.delay),
                             static_cast<double>(s.nlpDiff), static_cast<double>(s.nlpShift),
                             p.results.cancellation, p.erleDb});
    }
    const SweepRecommendation& r = outcome.recommendation;
    if (r.chosen >= 0) {
        view.marks.push_back(
            {static_cast<double>(outcome.points[static_cast<std::size_t>(r.chosen)].settings.tail),
             "measured tail"});
    }
    view.marks.push_back({static_cast<double>(r.minimalTail), "Minimal tail"});
    return view;
}

}  // namespace tarnwell
