#include "cli/Batch.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "engine/TestMessages.h"

namespace tarnwell {

namespace fs = std::filesystem;

namespace {

// One run's user side: keeps the last status and every message; shows nothing, so that
// runs on several threads never write over one another.
class CollectingUi : public TestUi {
public:
    void SetStatus(const std::string& text) override { status = text; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void AddDetail(const std::string& line) override { details.push_back(line); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}

    std::string status;
    std::vector<std::string> messages;
    std::vector<std::string> details;
};

// Ends a port that cannot run as a failed run would: "Test failed", its message, and an
// empty output so that no earlier batch's output passes for this one's.
void FailWithoutRunning(BatchRow& row, const std::string& message)
{
    row.status = testmessages::kTestFailed;
    row.messages = {message};
    if (const std::string& out = row.options.settings.outPath; !out.empty()) {
        std::ofstream(out, std::ios::binary | std::ios::trunc);
    }
}

BatchRow RunPort(const BatchPort& port, bool keepAnalysis)
{
    BatchRow row{port.name, port.options, {}, {}, {}, 0, PortVerdict::kFailed};
    if (!port.problem.empty()) {
        FailWithoutRunning(row, port.problem);
        return row;
    }
    const TestSettings& s = port.options.settings;
    for (const auto& [which, path] : {std::pair{"Tx", &s.txPath}, std::pair{"Rx", &s.rxPath}}) {
        std::error_code error;
        if (!fs::exists(*path, error)) {
            FailWithoutRunning(row, std::string(which) + " capture not found: " + *path);
            return row;
        }
    }
    CollectingUi ui;
    try {
        row.run = RunCommandLine(port.options, ui);
        if (!keepAnalysis) {
            row.run.analysis = AnalysisRecord{};  // a site's curves would not fit in memory
        }
    } catch (const std::exception& e) {
        row.run = CliRun{};
        ui.SetStatus(testmessages::kTestFailed);
        ui.ShowMessage(e.what());
    }
    row.status = ui.status;
    row.messages = ui.messages;
    row.run.details = ui.details;
    if (row.run.ok) {
        row.checks = CheckCount(row.run.results);
        row.verdict = row.checks > 0 ? PortVerdict::kCheck : PortVerdict::kOk;
    }
    return row;
}

const char* VerdictName(PortVerdict verdict)
{
    switch (verdict) {
    case PortVerdict::kOk:
        return "OK";
    case PortVerdict::kCheck:
        return "CHECK";
    case PortVerdict::kFailed:
        break;
    }
    return "FAILED";
}

std::string Joined(const std::vector<std::string>& messages)
{
    std::string text;
    for (const std::string& m : messages) {
        text += (text.empty() ? "" : "; ") + m;
    }
    return text;
}

// Shortest text that reads back to the same double; non-finite values by name, as in JSON.
std::string Number(double value)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0.0 ? "Infinity" : "-Infinity";
    }
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string CsvCell(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Duration(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::vector<BatchRow> RunBatch(const std::vector<BatchPort>& ports, int jobs,
                               const std::function<void(int done, int failed)>& progress,
                               bool keepAnalysis)
{
    std::vector<BatchRow> rows(ports.size());
    std::atomic<std::size_t> next{0};
    std::mutex progressMutex;
    int done = 0;
    int failed = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < ports.size(); i = next++) {
            rows[i] = RunPort(ports[i], keepAnalysis);
            const std::lock_guard lock(progressMutex);
            ++done;
            failed += rows[i].verdict == PortVerdict::kFailed ? 1 : 0;
            if (progress) {
                progress(done, failed);
            }
        }
    };
    {
        // Joined at the end of this block, before rows is handed back.
        const auto threads = static_cast<std::size_t>(std::max(1, jobs));
        std::vector<std::jthread> workers;
        for (std::size_t t = 1; t < std::min(threads, ports.size()); ++t) {
            workers.emplace_back(work);
        }
        work();  // this thread is one of the workers
    }
    return rows;
}

void SortWorstFirst(std::vector<BatchRow>& rows)
{
    // NaN counts as the lowest cancellation, so that the order stays a strict weak ordering.
    const auto cancellation = [](const BatchRow& row) {
        const double c = row.run.results.cancellation;
        return std::isnan(c) ? -INFINITY : c;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const BatchRow& a, const BatchRow& b) {
        if ((a.verdict == PortVerdict::kFailed) != (b.verdict == PortVerdict::kFailed)) {
            return a.verdict == PortVerdict::kFailed;
        }
        if (a.checks != b.checks) {
            return a.checks > b.checks;
        }
        if (cancellation(a) != cancellation(b)) {
            return cancellation(a) < cancellation(b);
        }
        return a.port < b.port;
    });
}

std::string SummaryCsv(const std::vector<BatchRow>& rows)
{
    // findings: the codes of the run's findings, "; " between them.
    std::string text =
        "port,result,checks,status,message,tx,rx,output,device,delay,tail,nlp_diff,nlp_shift,"
        "high_pass,tx_channel,real_delay,delay_ok,erl,erl_ok,cancellation,residual_level,"
        "residual_ok,rx_level,tx_level,levels_ok,minimal_tail,tx_gain_decrease,findings\n";
    for (const BatchRow& row : rows) {
        const TestSettings& s = row.options.settings;
        std::vector<std::string> cells{row.port,
                                       VerdictName(row.verdict),
                                       std::to_string(row.checks),
                                       row.status,
                                       Joined(row.messages) +
                                           (row.run.details.empty() ? "" : "; " + Joined(row.run.details)),
                                       s.txPath,
                                       s.rxPath,
                                       s.outPath,
                                       std::to_string(row.options.deviceType),
                                       std::to_string(s.delay),
                                       std::to_string(s.tail),
                                       std::to_string(s.nlpDiff),
                                       std::to_string(s.nlpShift),
                                       s.highPass != 0 ? "on" : "off",
                                       std::to_string(s.txChannel != 0 ? 1 : 0)};
        if (row.run.ok && row.run.report) {
            const TestResults& r = row.run.results;
            const auto word = [](std::int32_t flag) { return kVerdictWords[flag != 0 ? 1 : 0]; };
            for (std::string cell :
                 {std::to_string(r.delay), word(r.delayOk), Number(r.erl), word(r.erlOk),
                  Number(r.cancellation), Number(r.residualLevel), word(r.residualOk),
                  Number(r.rxLevel), Number(r.txLevel), word(r.levelsOk),
                  std::to_string(row.run.report->minimalTail),
                  std::to_string(row.run.report->txGainDecrease)}) {
                cells.push_back(std::move(cell));
            }
        } else {
            cells.resize(cells.size() + 12);
        }
        std::string findings;
        for (const Finding& f : row.run.findings) {
            findings += (findings.empty() ? "" : "; ") + f.code;
        }
        cells.push_back(findings);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            text += (i == 0 ? "" : ",") + CsvCell(cells[i]);
        }
        text += '\n';
    }
    return text;
}

nlohmann::ordered_json SummaryJson(const std::vector<BatchRow>& rows)
{
    nlohmann::ordered_json summary = nlohmann::ordered_json::object();
    int counts[3] = {};
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const BatchRow& row : rows) {
        ++counts[static_cast<int>(row.verdict)];
        nlohmann::ordered_json port = nlohmann::ordered_json::object();
        port["port"] = row.port;
        port["result"] = VerdictName(row.verdict);
        port["checks"] = row.checks;
        port.update(JsonReport(row.options, row.run, row.status, row.messages));
        port["settings"]["txChannel"] = row.options.settings.txChannel != 0 ? 1 : 0;
        // The findings stay; the curves belong in each port's own pictures (--plots).
        port["findings"] = std::move(port["analysis"]["findings"]);
        port.erase("analysis");
        ports.push_back(std::move(port));
    }
    summary["ports"] = rows.size();
    summary["ok"] = counts[static_cast<int>(PortVerdict::kOk)];
    summary["check"] = counts[static_cast<int>(PortVerdict::kCheck)];
    summary["failed"] = counts[static_cast<int>(PortVerdict::kFailed)];
    summary["rows"] = std::move(ports);
    return summary;
}

std::string SummaryTable(const std::vector<BatchRow>& rows)
{
    std::vector<std::vector<std::string>> table{
        {"Port", "Result", "Real delay", "ERL", "Residual", "Rx / Tx level", "Min tail", "Tx gain",
         "Message"}};
    for (const BatchRow& row : rows) {
        std::vector<std::string> line{row.port, VerdictName(row.verdict)};
        if (row.run.ok && row.run.report) {
            const Report& r = *row.run.report;
            for (std::string cell : {r.realDelay, r.erl, r.residual, r.levels,
                                     std::to_string(r.minimalTail), std::to_string(r.txGainDecrease)}) {
                line.push_back(std::move(cell));
            }
        } else {
            line.resize(line.size() + 6, "-");
        }
        line.push_back(Joined(row.messages));
        table.push_back(std::move(line));
    }
    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto& line : table) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], line[i].size());
        }
    }
    std::string text;
    for (const auto& line : table) {
        std::string printed;
        for (std::size_t i = 0; i < line.size(); ++i) {
            printed += line[i];
            if (i + 1 < line.size()) {
                printed += std::string(widths[i] - line[i].size() + 2, ' ');
            }
        }
        text += printed.substr(0, printed.find_last_not_of(' ') + 1) + '\n';
    }
    return text;
}

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              bool showProgress, const PictureWriter& pictures)
{
    CLI::App app{"Runs one test per port over a site's captures: INPUT is a folder of pairs "
                 "(NAME_tx.* with NAME_rx.*, or tx/NAME.* with rx/NAME.*) or a CSV manifest "
                 "(port,tx,rx, then any of device,delay,tail,nlp_diff,nlp_shift,high_pass,stereo; "
                 "its cells override the options below). Writes OUTDIR/NAME.pcm per port, "
                 "OUTDIR/summary.csv and OUTDIR/summary.json, and prints the ports worst first. "
                 "Exit status 0 when every port is OK, 1 when any has a CHECK or failed.",
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
    std::vector<BatchRow> rows = RunBatch(ports, jobs, progress, plots);
    if (showProgress) {
        err << "\r\x1b[K" << std::flush;
    }
    SortWorstFirst(rows);
    // Pictures are drawn here, one port after another: the chart code wants one thread.
    for (BatchRow& row : rows) {
        if (!plots || !row.run.analysis.captures.measured) {
            continue;
        }
        CliOptions options = row.options;
        options.plotsDir = (fs::path(outDir) / row.port).string();
        if (std::string problem; !WritePlots(options, row.run, pictures, problem)) {
            err << "tarnwell-cli batch: " << row.port << ": --plots: " << problem << '\n';
            return kExitRunFailed;
        }
        row.run.analysis = AnalysisRecord{};
    }

    const fs::path csvPath = fs::path(outDir) / "summary.csv";
    const fs::path jsonPath = fs::path(outDir) / "summary.json";
    std::ofstream csv(csvPath, std::ios::binary | std::ios::trunc);
    csv << SummaryCsv(rows);
    std::ofstream json(jsonPath, std::ios::binary | std::ios::trunc);
    json << DumpJson(SummaryJson(rows)) << '\n';
    if (!csv.flush() || !json.flush()) {
        err << "tarnwell-cli batch: cannot write the summary in " << outDir << '\n';
        return kExitRunFailed;
    }

    out << SummaryTable(rows);
    const auto count = [&](PortVerdict v) {
        return std::count_if(rows.begin(), rows.end(), [v](const BatchRow& r) { return r.verdict == v; });
    };
    out << '\n' << total << " ports: " << count(PortVerdict::kOk) << " OK, " << count(PortVerdict::kCheck)
        << " CHECK, " << count(PortVerdict::kFailed) << " failed. Summary: " << csvPath.string() << ", "
        << jsonPath.string() << '\n';
    if (!out.flush()) {
        err << "tarnwell-cli batch: cannot write the summary table\n";
        return kExitRunFailed;
    }
    return count(PortVerdict::kOk) == total ? kExitOk : kExitRunFailed;
}

}  // namespace tarnwell
