#include "cli/SweepCommand.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <fstream>
#include <thread>

#include <CLI/CLI.hpp>

#include "cli/CliUi.h"
#include "cli/Interrupt.h"
#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "engine/TextFormat.h"
#include "evidence/Sweep.h"

namespace tarnwell {

namespace {

using json = nlohmann::ordered_json;

// More passes than this is a typing slip (a step of 1 over every axis), not a sweep.
constexpr std::size_t kMaxPasses = 65536;

std::optional<int> Decimal(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, code] = std::from_chars(text.data(), end, value);
    if (text.empty() || code != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

json PointJson(const SweepPoint& p)
{
    const TestSettings& s = p.settings;
    json point{{"tail", s.tail},
               {"bulk_delay", s.delay},
               {"nlp_diff", s.nlpDiff},
               {"nlp_shift", s.nlpShift},
               {"ran", p.ran}};
    if (!p.ran) {
        return point;
    }
    const TestResults& r = p.results;
    point["cancellation_db"] = JsonDouble(r.cancellation);
    point["erle_second_half_db"] = p.erleDb != p.erleDb ? json(nullptr) : JsonDouble(p.erleDb);
    point["residual_dbm0"] = JsonDouble(r.residualLevel);
    point["residual_ok"] = r.residualOk != 0;
    point["converged_s"] = p.convergedSeconds != p.convergedSeconds ? json(nullptr)
                                                                    : JsonDouble(p.convergedSeconds);
    point["nlp_frames"] = p.nlpFrames;  // 0 with a shift of 0: the NLP takes nothing off
    point["nlp_attenuates"] = s.nlpShift > 0;
    point["delay_ok"] = r.delayOk != 0;
    return point;
}

json SweepJson(const SweepOutcome& o, const std::string& status, const std::vector<std::string>& messages)
{
    json root{{"ready", o.ready},     {"stopped", o.stopped}, {"status", status},
              {"messages", messages}, {"delay", o.delay},     {"erl", JsonDouble(o.erl)}};
    json points = json::array();
    for (const SweepPoint& p : o.points) {
        points.push_back(PointJson(p));
    }
    root["points"] = points;
    const SweepRecommendation& r = o.recommendation;
    const auto index = [](int i) { return i < 0 ? json(nullptr) : json(i); };
    root["recommendation"] = json{{"best", index(r.best)},
                                  {"chosen", index(r.chosen)},
                                  {"minimal_tail", r.minimalTail},
                                  {"at_minimal_tail", index(r.atMinimalTail)},
                                  {"text", r.text}};
    return root;
}

}  // namespace

std::optional<std::vector<int>> ParseValueList(const std::string& text, int lo, int hi, std::string& why)
{
    std::vector<int> values;
    const auto inRange = [&](int v) {
        if (v < lo || v > hi) {
            why = text::Format("%d is outside %d..%d", v, lo, hi);
            return false;
        }
        return true;
    };
    const std::vector<std::string> range = Split(text, ':');
    if (range.size() == 3) {
        const auto first = Decimal(range[0]);
        const auto last = Decimal(range[1]);
        const auto step = Decimal(range[2]);
        if (!first || !last || !step) {
            why = "not FIRST:LAST:STEP in decimal integers: " + text;
            return std::nullopt;
        }
        if (*step <= 0 || *first > *last) {
            why = "a range needs FIRST <= LAST and a STEP above 0: " + text;
            return std::nullopt;
        }
        if (!inRange(*first) || !inRange(*last)) {
            return std::nullopt;
        }
        for (int v = *first; v <= *last; v += *step) {
            values.push_back(v);
            if (*last - v < *step) {
                break;  // the next step would pass LAST (and might overflow)
            }
        }
        return values;
    }
    if (range.size() != 1) {
        why = "a range is FIRST:LAST:STEP: " + text;
        return std::nullopt;
    }
    for (const std::string& item : Split(text, ',')) {
        const auto v = Decimal(item);
        if (!v) {
            why = "not a decimal integer: '" + item + "' in " + text;
            return std::nullopt;
        }
        if (!inRange(*v)) {
            return std::nullopt;
        }
        values.push_back(*v);
    }
    return values;
}

int SweepMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
              const PictureWriter& pictures)
{
    CLI::App app{"Runs the cancellation pass once per setting over one capture pair, read and filtered "
                 "once, and recommends the smallest tail within 1 dB of the best cancellation. Each "
                 "pass's figures are those of a single run with its settings.",
                 "tarnwell-cli sweep"};
    app.footer(DeviceList());
    CliOptions options;
    static_cast<RunRequest&>(options) = DefaultRunRequest();
    TestSettings& s = options.settings;
    std::string stereo;
    std::string tails;
    std::string delays;
    std::string diffs = std::to_string(s.nlpDiff);
    std::string shifts = std::to_string(s.nlpShift);
    std::string csvPath;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const auto [tx, rx] = AddCaptureOptions(app, s, stereo);
    RunOptions runOptions(app, options, RunOptions::Settings::kLists);
    app.add_option(
        "--tails", tails,
        "tails to try, samples, 0..1024: FIRST:LAST:STEP or a list (default: the device's preset)");
    app.add_option("--delays", delays, "bulk delays to try, samples, 0..8000 (default: the device's preset)");
    app.add_option("--nlp-diff", diffs, "NLP thresholds to try, dB, 0..100")->capture_default_str();
    app.add_option("--nlp-shift", shifts, "NLP attenuations to try, 6 dB steps, 0..10")
        ->capture_default_str();
    app.add_option("-j,--jobs", jobs, "passes run at once (default: the number of cores)")
        ->check(CLI::Range(1, 1024));
    app.add_flag("--json", options.json, "print one JSON object instead of the table");
    app.add_option("--csv", csvPath, "also write a row per setting into this CSV file")->check(kNonEmptyPath);
    std::string plotsDir;
    app.add_option("--plots", plotsDir, "draw cancellation against tail into this folder (CSV, SVG, PNG)")
        ->check(kNonEmptyPath);

    SweepGrid grid;
    try {
        app.parse(argc, argv);
        if (stereo.empty() && (tx->count() == 0 || rx->count() == 0)) {
            throw CLI::RequiredError("Both --tx and --rx, or --stereo, are required",
                                     CLI::ExitCodes::RequiredError);
        }
        runOptions.Apply();
        const struct {
            const char* name;
            const std::string& text;
            int preset;
            int hi;
            std::vector<int>& values;
        } axes[] = {{"--tails", tails, TailPreset(options.deviceType), kMaxTail, grid.tails},
                    {"--delays", delays, DelayPreset(options.deviceType), kMaxBulkDelay, grid.delays},
                    {"--nlp-diff", diffs, 0, 100, grid.nlpDiffs},
                    {"--nlp-shift", shifts, 0, 10, grid.nlpShifts}};
        std::size_t passes = 1;
        for (const auto& axis : axes) {
            std::string why;
            const auto values = axis.text.empty() ? std::optional(std::vector<int>{axis.preset})
                                                  : ParseValueList(axis.text, 0, axis.hi, why);
            if (!values) {
                throw CLI::ValidationError(axis.name, why);
            }
            axis.values = *values;
            passes *= values->size();
            if (passes > kMaxPasses) {
                throw CLI::ValidationError(axis.name, text::Format("more than %zu passes", kMaxPasses));
            }
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    if (!stereo.empty()) {
        s.txPath = stereo;
        s.rxPath = stereo;
    }

    CliUi ui(err, false);
    std::atomic<bool> stop{false};
    const RunnerControl control = InterruptibleControl(jobs, stop, showProgress, err, "passes");
    const EchoTester engine;
    const SweepOutcome outcome = RunSweep(engine, s, options.deviceType, grid, ui, control);
    if (showProgress) {
        err << "\r\x1b[K" << std::flush;
    }
    if (!csvPath.empty() && outcome.ready) {
        std::ofstream csv(csvPath, std::ios::binary | std::ios::trunc);
        csv << SweepCsv(outcome);
        if (!csv.flush()) {
            err << "tarnwell-cli sweep: cannot write " << csvPath << '\n';
            return kExitRunFailed;
        }
    }
    if (!plotsDir.empty() && outcome.ready) {
        if (std::string error; !WriteViews({SweepView(outcome)}, plotsDir, pictures, error)) {
            err << "tarnwell-cli sweep: --plots: " << error << '\n';
            return kExitRunFailed;
        }
    }
    if (options.json) {
        out << DumpJson(SweepJson(outcome, ui.Status(), ui.Messages())) << '\n';
    } else if (outcome.ready) {
        out << SweepTable(outcome);
    }
    if (!out.flush()) {
        err << "tarnwell-cli sweep: cannot write the table\n";
        return kExitRunFailed;
    }
    if (const int signal = CaughtSignal(); signal != 0) {
        err << "Interrupted\n";
        return 128 + signal;
    }
    return outcome.ready && !outcome.stopped ? kExitOk : kExitRunFailed;
}

}  // namespace tarnwell
