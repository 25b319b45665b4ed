#include "cli/G168Command.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include <CLI/CLI.hpp>

#include "cli/Interrupt.h"
#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "cli/SweepCommand.h"
#include "engine/TextFormat.h"
#include "evidence/G168Models.h"
#include "evidence/G168Signals.h"
#include "evidence/G168Tests.h"

namespace tarnwell {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kNotCertification =
    "G.168-style tests: the canceller under this tool's own versions of G.168's signals and "
    "limits. Not a certification.";

std::string Cell(const g168::CellResult& c)
{
    return text::Format("%s %+.1f", c.passed ? "pass" : "FAIL", c.marginDb);
}

std::string Table(const std::vector<g168::CellResult>& cells, std::size_t models)
{
    std::string table = text::Format("%-12s", "test  ERL");
    for (std::size_t m = 0; m < models; ++m) {
        table += text::Format("%11s", cells[m].model.c_str());
    }
    table += "\n";
    for (std::size_t row = 0; row * models < cells.size(); ++row) {
        const g168::CellResult& first = cells[row * models];
        table += text::Format("%-6s%4.0f  ", first.test.c_str(), first.erlDb);
        for (std::size_t m = 0; m < models; ++m) {
            table += text::Format("%11s", Cell(cells[row * models + m]).c_str());
        }
        table += "\n";
    }
    return table;
}

json CellJson(const g168::CellResult& c)
{
    return json{{"test", c.test},
                {"model", c.model},
                {"erl_db", JsonDouble(c.erlDb)},
                {"passed", c.passed},
                {"margin_db", JsonDouble(c.marginDb)},
                {"worst_dbm0", JsonDouble(c.worstDbm0)},
                {"worst_s", JsonDouble(c.worstSeconds)}};
}

}  // namespace

int G168Main(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
             const PictureWriter& pictures)
{
    CLI::App app{
        std::string("Runs G.168-style tests (2A, 2B, 2C(a), 3A, 3B, 3C, 4, 5, 6, 7) on the canceller with "
                    "the settings given, over the echo path models D.2 to D.9 scaled to each ERL. ") +
            kNotCertification,
        "tarnwell-cli g168"};
    g168::CancellerSetup setup;
    std::string erlText = "6";
    std::vector<std::string> names;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool asJson = false;
    std::string plotsDir;
    app.add_option("--tail", setup.tail, "tail, samples, 0..1024")
        ->check(CLI::Range(0, kMaxTail))
        ->capture_default_str();
    app.add_option("--delay", setup.bulkDelay, "bulk delay, samples, 0..8000")
        ->check(CLI::Range(0, kMaxBulkDelay))
        ->capture_default_str();
    app.add_option("--nlp-diff", setup.nlpDiff, "NLP threshold, dB, 0..100")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    app.add_option("--nlp-shift", setup.nlpShift, "NLP attenuation in 6 dB steps, 0..10")
        ->check(CLI::Range(0, 10))
        ->capture_default_str();
    app.add_option("--erl", erlText, "echo return loss of the models, dB, 6..60: a list or FIRST:LAST:STEP")
        ->capture_default_str();
    std::vector<std::string> known;
    for (const g168::TestCase& t : g168::Tests()) {
        known.push_back(t.name);
    }
    app.add_option("--tests", names, "the tests to run (default: all)")
        ->delimiter(',')
        ->check(CLI::IsMember(known));
    app.add_option("-j,--jobs", jobs, "cells run at once (default: the number of cores)")
        ->check(CLI::Range(1, 1024));
    app.add_flag("--json", asJson, "print one JSON object instead of the table");
    app.add_option("--plots", plotsDir,
                   "draw each cell's Sout level against its limit into this folder (CSV, SVG, PNG)")
        ->check(kNonEmptyPath);
    std::vector<double> erls;
    try {
        app.parse(argc, argv);
        std::string why;
        const auto values = ParseValueList(erlText, 6, 60, why);
        if (!values) {
            throw CLI::ValidationError("--erl", why);
        }
        erls.assign(values->begin(), values->end());
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    std::vector<const g168::TestCase*> tests;
    for (const g168::TestCase& t : g168::Tests()) {
        if (names.empty() || std::find(names.begin(), names.end(), t.name) != names.end()) {
            tests.push_back(&t);
        }
    }

    std::atomic<bool> stop{false};
    const RunnerControl control = InterruptibleControl(jobs, stop, showProgress, err, "cells");
    const std::vector<g168::CellResult> cells = g168::RunTable(tests, setup, erls, control);
    if (showProgress) {
        err << "\r\x1b[K" << std::flush;
    }
    if (const int signal = CaughtSignal(); signal != 0) {
        err << "Interrupted\n";
        return 128 + signal;
    }
    const std::size_t models = g168::Models().size();
    const bool allPassed = std::all_of(cells.begin(), cells.end(),
                                       [](const g168::CellResult& c) { return c.passed; });

    if (!plotsDir.empty()) {
        std::vector<ChartView> views;
        for (const g168::CellResult& c : cells) {
            views.push_back(g168::CellView(c));
        }
        if (std::string error; !WriteViews(views, plotsDir, pictures, error)) {
            err << "tarnwell-cli g168: --plots: " << error << '\n';
            return kExitRunFailed;
        }
    }
    if (asJson) {
        json root{{"note", kNotCertification},
                  {"settings",
                   {{"tail", setup.tail},
                    {"bulk_delay", setup.bulkDelay},
                    {"nlp_diff", setup.nlpDiff},
                    {"nlp_shift", setup.nlpShift}}},
                  {"rin_dbm0", JsonDouble(g168::kRinDbm0)},
                  {"residual_limit_below_rin_db", JsonDouble(g168::kResidualBelowRinDb)},
                  {"passed", allPassed}};
        json described = json::array();
        for (const g168::TestCase* t : tests) {
            described.push_back(json{{"name", t->name}, {"summary", t->summary}, {"nlp", t->nlp}});
        }
        root["tests"] = described;
        json array = json::array();
        for (const g168::CellResult& c : cells) {
            array.push_back(CellJson(c));
        }
        root["cells"] = array;
        out << DumpJson(root) << '\n';
    } else {
        out << Table(cells, models) << '\n';
        for (const g168::TestCase* t : tests) {
            out << text::Format("%-6s %s%s\n", t->name.c_str(), t->summary.c_str(),
                                t->nlp ? "" : " (NLP off)");
        }
        out << text::Format(
                   "Rin %.0f dBm0; the residual limit is Rin - %.0f dB, standing in for G.168's curve.\n",
                   g168::kRinDbm0, g168::kResidualBelowRinDb)
            << kNotCertification << '\n';
    }
    if (!out.flush()) {
        err << "tarnwell-cli g168: cannot write the table\n";
        return kExitRunFailed;
    }
    return allPassed ? kExitOk : kExitRunFailed;
}

}  // namespace tarnwell
