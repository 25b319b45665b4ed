#include "cli/Batch.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>

#include "cli/BatchCompare.h"
#include "cli/HtmlReport.h"
#include "cli/Interrupt.h"
#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "engine/FileHandle.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace fs = std::filesystem;

namespace {

// Writes text into path whole; on a failure the reason, and no part-written file is left.
bool WriteWhole(const fs::path& path, const std::string& text, std::string& reason)
{
    FileHandle file = FileHandle::OpenRegular(path.string(), O_WRONLY | O_CREAT | O_TRUNC, 0666, &reason);
    if (!file.IsOpen()) {
        return false;
    }
    if (!file.WriteAll(text.data(), text.size())) {
        reason = std::strerror(errno);
        file.Close();
        std::error_code ignored;
        fs::remove(path, ignored);
        return false;
    }
    return true;
}

std::string Duration(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    return text::Format("%lld:%02lld", whole / 60, whole % 60);
}

}  // namespace

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
              const PictureWriter& pictures)
{
    CLI::App app{"Runs one test per port over a site's captures: INPUT is a folder of pairs "
                 "(NAME_tx.* with NAME_rx.*, or tx/NAME.* with rx/NAME.*, or a call in NAME.pcap) or a "
                 "CSV manifest (port,tx,rx, then any of device,delay,tail,nlp_diff,nlp_shift,high_pass,"
                 "stereo,pcap; "
                 "its cells override the options below). Writes OUTDIR/NAME.pcm per port, "
                 "OUTDIR/summary.csv and OUTDIR/summary.json, and prints the ports worst first. "
                 "Exit status 0 when every port is OK or NOT MEASURED (a verdict the captures could not "
                 "measure, such as the levels without near-end speech), 1 when any has a measured CHECK "
                 "or failed, or with --fail-on-unmeasured when any is NOT MEASURED.",
                 "tarnwell-cli batch"};
    app.footer(DeviceList());
    BatchDefaults defaults;
    static_cast<RunRequest&>(defaults.options) = DefaultRunRequest();
    std::string input;
    std::string outDir = "./tarnwell-out";
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    app.add_option("INPUT", input, "folder of captures, or CSV manifest")->required()->check(kNonEmptyPath);
    app.add_option("-j,--jobs", jobs, "tests run at once (default: the number of cores)")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    app.add_option("--out-dir", outDir, "folder for the outputs and the summary")
        ->check(kNonEmptyPath)
        ->capture_default_str();
    bool plots = false;
    app.add_flag("--plots", plots, "also draw each port's views into OUTDIR/NAME/ (CSV, SVG, PNG)");
    std::string htmlPath;
    app.add_option("--html", htmlPath, "also write the site as one self-contained HTML page")
        ->check(kNonEmptyPath);
    std::string comparePath;
    app.add_option("--compare", comparePath,
                   "set each port against an earlier batch (its OUTDIR or summary.json): in the table, "
                   "summary.json, OUTDIR/compare.csv and the page")
        ->check(kNonEmptyPath);
    RunOptions runOptions(app, defaults.options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    runOptions.Apply();
    defaults.delayGiven = runOptions.DelayGiven();
    defaults.tailGiven = runOptions.TailGiven();
    nlohmann::ordered_json earlier;  // read first: OUTDIR may be the earlier batch's own
    if (std::string problem; !comparePath.empty() && !ReadEarlierSummary(comparePath, earlier, problem)) {
        err << "tarnwell-cli batch: --compare: " << problem << '\n';
        return kExitUsage;
    }

    std::error_code error;
    std::vector<BatchPort> ports;
    if (fs::is_directory(input, error)) {
        ports = FindFolderPorts(input, defaults, outDir);
    } else if (fs::is_regular_file(input, error)) {
        std::string problem;
        ports = ReadManifest(input, defaults, outDir, problem);
        if (!problem.empty()) {
            err << "tarnwell-cli batch: " << problem << '\n';
            return kExitUsage;
        }
    } else {
        err << "tarnwell-cli batch: " << input << " is neither a folder nor a manifest\n";
        return kExitUsage;
    }
    if (ports.empty()) {
        err << "tarnwell-cli batch: no ports in " << input << '\n';
        return kExitUsage;
    }
    RefuseClashes(ports, outDir, plots);
    if (fs::create_directories(outDir, error); error) {
        err << "tarnwell-cli batch: cannot make " << outDir << ": " << error.message() << '\n';
        return kExitRunFailed;
    }

    const auto start = std::chrono::steady_clock::now();
    const auto total = static_cast<int>(ports.size());
    std::function<void(int, int)> progress;
    if (showProgress) {
        progress = [&](int done, int failed) {
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            err << "\r\x1b[K" << done << '/' << total << " ports, " << failed << " failed, about "
                << Duration(elapsed.count() / done * (total - done)) << " left" << std::flush;
        };
    }
    // Each port's pictures are drawn as soon as it is done, on this thread (the chart code
    // wants one), and its record let go: memory follows the ports running, not the site.
    // A picture that fails costs that port its pictures, never the batch its summaries.
    std::vector<std::string> pictureFailures;
    const auto draw = [&](BatchRow& row) {
        if (CaughtSignal() == 0 && row.run.analysis.captures.measured) {
            CliOptions options = row.options;
            options.plotsDir = (fs::path(outDir) / row.port).string();
            if (std::string problem; !WritePlots(options, row.run, pictures, problem)) {
                pictureFailures.push_back(row.port + ": --plots: " + problem);
            }
        }
        row.run.analysis = AnalysisRecord{};
    };
    // The page's views are drawn as each port is done, too.
    std::map<std::string, PageEvidence> pageViews;
    const bool keep = plots || !htmlPath.empty();
    const auto finished = [&](BatchRow& row) {
        if (!htmlPath.empty()) {
            pageViews[row.port] = TakeEvidence(row.options, row.run, text::Format("p%zu-", pageViews.size()));
        }
        if (plots) {
            draw(row);
        } else {
            row.run.analysis = AnalysisRecord{};
        }
    };
    std::vector<BatchRow> rows = RunBatch(ports, jobs, progress, keep,
                                          keep ? std::function<void(BatchRow&)>(finished) : nullptr);
    if (showProgress) {
        err << "\r\x1b[K" << std::flush;
    }
    SortWorstFirst(rows);
    const int signal = CaughtSignal();

    const fs::path csvPath = fs::path(outDir) / "summary.csv";
    const fs::path jsonPath = fs::path(outDir) / "summary.json";
    std::string summaryProblem;
    nlohmann::ordered_json summary = SummaryJson(rows);
    std::vector<std::pair<fs::path, std::string>> files{{csvPath, SummaryCsv(rows)}};
    if (!comparePath.empty()) {
        summary["compare"] = CompareSummaries(earlier, summary);
        files.emplace_back(fs::path(outDir) / "compare.csv", ChangesCsv(summary["compare"]));
    }
    files.emplace_back(jsonPath, DumpJson(summary) + '\n');
    for (const auto& [path, text] : files) {
        if (std::string reason; summaryProblem.empty() && !WriteWhole(path, text, reason)) {
            summaryProblem = "cannot write " + path.string() + ": " + reason;
        }
    }

    out << SummaryTable(rows);
    const auto count = [&](PortVerdict v) {
        return std::count_if(rows.begin(), rows.end(), [v](const BatchRow& r) { return r.verdict == v; });
    };
    out << '\n'
        << total << " ports: " << count(PortVerdict::kOk) << " OK, " << count(PortVerdict::kCheck)
        << " CHECK, " << count(PortVerdict::kNotMeasured) << " NOT MEASURED, " << count(PortVerdict::kFailed)
        << " failed";
    if (const auto interrupted = count(PortVerdict::kInterrupted); interrupted > 0) {
        out << ", " << interrupted << " interrupted";
    }
    if (summaryProblem.empty()) {
        out << ". Summary: " << csvPath.string() << ", " << jsonPath.string();
    }
    out << '\n';
    if (!comparePath.empty()) {
        out << "\nChanges since " << comparePath << ":\n" << ChangesTable(summary["compare"]);
    }
    const bool shown = static_cast<bool>(out.flush());
    for (const std::string& failure : pictureFailures) {
        err << "tarnwell-cli batch: " << failure << '\n';
    }
    if (!summaryProblem.empty()) {
        err << "tarnwell-cli batch: " << summaryProblem << '\n';
    }
    if (!shown) {
        err << "tarnwell-cli batch: cannot write the summary table\n";
    }
    // After the table, so that a page that cannot be written loses nothing else.
    std::string pageProblem;
    if (!htmlPath.empty() &&
        !WriteHtmlFile(htmlPath,
                       BatchPage(rows,
                                 {input, !fs::is_directory(input, error), outDir, CommandLineText(argc, argv),
                                  comparePath, summary.value("compare", nlohmann::ordered_json())},
                                 pageViews),
                       pageProblem)) {
        err << "tarnwell-cli batch: --html: " << pageProblem << '\n';
    }
    if (signal != 0) {
        err << "Interrupted\n";
        return 128 + signal;
    }
    const bool clean = shown && summaryProblem.empty() && pictureFailures.empty() && pageProblem.empty();
    // A measured CHECK always fails a batch (--fail-on-check says so again); an unmeasured
    // verdict only with --fail-on-unmeasured.
    const auto passing = count(PortVerdict::kOk) +
                         (defaults.options.failOnUnmeasured ? 0 : count(PortVerdict::kNotMeasured));
    return clean && passing == total ? kExitOk : kExitRunFailed;
}

}  // namespace tarnwell
