#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>
#include <unistd.h>

#include "canceller/TapLoop.h"
#include "cli/CliUi.h"
#include "cli/HtmlReport.h"
#include "cli/Interrupt.h"
#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "cli/Verbs.h"
#include "engine/TextFormat.h"
#include "evidence/WhitenedEvidence.h"
#include "TarnwellVersion.h"

namespace tarnwell {

namespace {

constexpr const char* kStandardOutput = "-";

std::string Row(const char* label, const std::string& value)
{
    return text::Format("%-24s", label) + value + "\n";
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CLI::App app{"Runs the echo test on a Tx/Rx capture pair and prints the report. Captures are "
                 "WAV, AU or AIFF files (other rates and sample types are converted to 16-bit at "
                 "8000 samples/s), raw headerless 16-bit PCM, A-law or u-law at 8000 samples/s, or "
                 "a call's G.711 RTP streams in a pcap file.",
                 "tarnwell-cli"};
    app.footer(VerbList() + "\n" + DeviceList());
    app.set_version_flag("--version", std::string("tarnwell-cli ") + kVersion);

    CliOptions options;
    static_cast<RunRequest&>(options) = DefaultRunRequest();
    TestSettings& s = options.settings;
    std::string stereo;
    std::string pcap;

    const auto [tx, rx] = AddCaptureOptions(app, s, stereo);
    app.add_option("--pcap", pcap,
                   "a pcap or pcapng file of the call: its G.711 RTP streams are both captures "
                   "(see --tx-ssrc, --gateway, and the streams verb)")
        ->check(kNonEmptyPath)
        ->excludes(tx)
        ->excludes(rx)
        ->excludes("--stereo");
    RunOptions runOptions(app, options, RunOptions::Settings::kSingle, true);
    app.add_option("--out", s.outPath,
                   "output file: the cancelled Rx (a WAV file when it ends in .wav; - for stdout, "
                   "a FIFO or a device such as /dev/null also serve)")
        ->check(kNonEmptyPath)
        ->capture_default_str();
    app.add_flag("--json", options.json, "print one JSON object instead of the report rows");
    app.add_option("--plots", options.plotsDir,
                   "write the echo path, delay search and levels views into this folder (CSV, SVG, PNG)")
        ->check(kNonEmptyPath);
    app.add_option("--html", options.htmlPath,
                   "also write the run as one self-contained HTML page: report, findings, views")
        ->check(kNonEmptyPath);

    try {
        app.parse(argc, argv);
        if (stereo.empty() && pcap.empty() && (tx->count() == 0 || rx->count() == 0)) {
            throw CLI::RequiredError("Both --tx and --rx, or --stereo, or --pcap, are required",
                                     CLI::ExitCodes::RequiredError);
        }
        if (s.outPath == kStandardOutput && options.json) {
            throw CLI::ValidationError("--out -", "the samples and the JSON cannot both go to stdout");
        }
        if (s.outPath == kStandardOutput && ::isatty(STDOUT_FILENO) == 1) {
            throw CLI::ValidationError("--out -", "stdout is a terminal; pipe it into a player or a file");
        }
    } catch (const CLI::ParseError& e) {
        // --help ends in a "success" that is not a run; every other parse error is a usage error.
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitOk : kExitUsage};
    }

    runOptions.Apply();
    if (s.outPath == kStandardOutput) {
        s.outPath = kStandardOutputPath;
        options.samplesToStdout = true;
    }
    // A stereo file and a call are both captures in one file; the run tells them apart by
    // their first bytes.
    for (const std::string* both : {&stereo, &pcap}) {
        if (!both->empty()) {
            s.txPath = *both;
            s.rxPath = *both;
        }
    }
    return {options, kExitOk};
}

CliRun RunCommandLine(const CliOptions& options, TestUi& ui)
{
    CliRun run;
    run.report = RunAndReport(options.settings, options.deviceType, ui, run.results, kVerdictWords,
                              &run.analysis);
    run.ok = run.report.has_value();
    AddWhitenedEvidence(run.analysis);
    run.findings = MakeFindings(options.settings, options.deviceType, run.ok, run.results, run.analysis,
                                options.networkDelayMs);
    run.verdicts = ReadVerdicts(run.ok, run.results, run.analysis, run.findings);
    return run;
}

bool FailsOnVerdicts(const CliOptions& options, const Verdicts& verdicts)
{
    const int checks = verdicts.Count(Reading::kCheck);
    const int unmeasured = verdicts.Count(Reading::kNotMeasured);
    return ((options.failOnCheck || options.failOnUnmeasured) && checks > 0) ||
           (options.failOnUnmeasured && unmeasured > 0);
}

std::string PlainReport(const CliRun& run, const std::string& status)
{
    std::string text;
    if (run.report) {
        const Report& r = *run.report;
        text += Row(kRowLabels.realDelay, r.realDelay);
        text += Row(kRowLabels.erl, r.erl);
        text += Row(kRowLabels.residual, r.residual);
        text += Row(kRowLabels.levels, r.levels);
        text += Row(kRowLabels.minimalTail, std::to_string(r.minimalTail));
        text += Row(kRowLabels.txGainDecrease, std::to_string(r.txGainDecrease));
    }
    text += Row("Status", status);
    if (!run.findings.empty()) {
        text += "Findings\n";
        for (const Finding& f : run.findings) {
            text += std::string("  ") + SeverityName(f.severity) + " " + f.code + ": " + f.text + "\n";
        }
    }
    return text;
}

bool WritePlots(const CliOptions& options, const CliRun& run, const PictureWriter& writer, std::string& error)
{
    const int minimalTail = run.report ? run.report->minimalTail : 0;
    return WriteViews(AllViews({options.settings, minimalTail, run.analysis}), options.plotsDir, writer,
                      error);
}

bool WriteViews(const std::vector<ChartView>& views, const std::string& dir, const PictureWriter& writer,
                std::string& error)
{
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code) {
        error = dir + ": " + code.message();
        return false;
    }
    for (const ChartView& view : views) {
        const std::string path = (std::filesystem::path(dir) / (view.stem + ".csv")).string();
        std::ofstream csv(path, std::ios::binary);
        csv << ToCsv(view);
        csv.close();
        if (!csv) {
            error = path + ": cannot be written";
            return false;
        }
    }
    if (!writer) {
        error = "this build draws no pictures";
        return false;
    }
    return writer(views, dir, error);
}

namespace {

// The stream's state after a final flush: a report lost to a full disk or a closed pipe is a
// failure, never a silent success.
bool Delivered(std::ostream& stream)
{
    stream.flush();
    return static_cast<bool>(stream);
}

int ReportLost(std::ostream& err, const char* what)
{
    const int code = errno;
    err << "tarnwell-cli: cannot write the " << what << ": "
        << (code != 0 ? std::strerror(code) : "write error") << '\n';
    err.flush();
    return kExitRunFailed;
}

}  // namespace

int CommandLineMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress, const PictureWriter& pictures)
{
    // A loop name mistyped in the environment would otherwise run the CPU's own choice unseen.
    if (const std::string refused = taploop::RequestError(std::getenv("TARNWELL_TAP_LOOP"));
        !refused.empty()) {
        err << "tarnwell-cli: " << refused << '\n';
        return kExitUsage;
    }
    if (argc > 1) {
        if (const Verb* verb = FindVerb(argv[1])) {
            return verb->main(argc - 1, argv + 1, out, err, showProgress, pictures);
        }
    }
    return RunMain(argc, argv, out, err, showProgress, pictures);
}

int RunMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
            const PictureWriter& pictures)
{
    errno = 0;
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, out, err);
    if (!parsed.options) {
        if (!Delivered(out)) {
            return ReportLost(err, "help");
        }
        return Delivered(err) ? parsed.exitStatus : kExitRunFailed;
    }
    const CliOptions& options = *parsed.options;
    try {
        CliUi ui(err, showProgress);
        CliRun run = RunCommandLine(options, ui);
        run.details = ui.Details();
        ui.EndProgress();
        const auto interrupted = [&err] {
            const int signal = CaughtSignal();
            if (signal != 0) {
                err << "Interrupted\n";
                err.flush();
            }
            return signal;
        };
        if (const int signal = interrupted(); signal != 0) {
            return 128 + signal;
        }
        // A picture that fails costs the pictures, never the report: it is said after it.
        std::string plotsProblem;
        if (!options.plotsDir.empty() && !WritePlots(options, run, pictures, plotsProblem) &&
            plotsProblem.empty()) {
            plotsProblem = "the pictures failed";
        }
        // The pictures stop at a signal; that is an interrupted run, not a failed one.
        if (const int signal = interrupted(); signal != 0) {
            return 128 + signal;
        }
        if (!options.htmlPath.empty()) {
            const std::string page = RunPage(options, run, ui.Status(), ui.Messages(),
                                             TakeEvidence(options, run, "v-"));
            if (std::string error; !WriteHtmlFile(options.htmlPath, page, error)) {
                err << "tarnwell-cli: --html: " << error << '\n';
                return kExitRunFailed;
            }
        }
        errno = 0;
        // With the samples on stdout, the report goes with the messages.
        std::ostream& report = options.samplesToStdout ? err : out;
        if (options.json) {
            report << DumpJson(JsonReport(options, run, ui.Status(), ui.Messages())) << '\n';
        } else {
            report << PlainReport(run, ui.Status());
        }
        if (!Delivered(report)) {
            return ReportLost(err, "report");
        }
        if (!plotsProblem.empty()) {
            err << "tarnwell-cli: --plots: " << plotsProblem << '\n';
        }
        if (!Delivered(err)) {
            return kExitRunFailed;  // the messages were lost; there is nowhere left to say so
        }
        if (!plotsProblem.empty() || !run.ok || FailsOnVerdicts(options, run.verdicts)) {
            return kExitRunFailed;
        }
        return kExitOk;
    } catch (const std::exception& e) {
        err << "tarnwell-cli: " << e.what() << '\n';
        return kExitRunFailed;
    }
}

}  // namespace tarnwell
