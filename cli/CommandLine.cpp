#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CliUi.h"
#include "cli/Interrupt.h"
#include "cli/JsonReport.h"

namespace tarnwell {

namespace {

// Numbers are decimal: "0x10" or "1e3" is a typing slip, not 16 or 1000.
const CLI::Validator kDecimal(
    [](std::string& text) {
        std::size_t digits = text.size();
        std::size_t first = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
        for (std::size_t i = first; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') {
                digits = 0;
            }
        }
        return digits > first ? std::string() : "not a decimal integer: " + text;
    },
    "DECIMAL");

std::string DeviceList()
{
    std::string text = "Device rows (--device):\n";
    for (int row = 0; row < kDeviceCount; ++row) {
        char line[96];
        std::snprintf(line, sizeof line, "  %d  %-24s delay %3d, tail %3d\n", row,
                      kDeviceNames[static_cast<std::size_t>(row)], DelayPreset(row),
                      TailPreset(row));
        text += line;
    }
    return text;
}

std::string Row(const char* label, const std::string& value)
{
    char line[64];
    std::snprintf(line, sizeof line, "%-24s", label);
    return line + value + "\n";
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err)
{
    CLI::App app{"Runs the echo test on a Tx/Rx capture pair (raw 16-bit little-endian mono PCM, "
                 "8000 samples/s) and prints the report."};
    app.footer(DeviceList());

    CliOptions options;
    static_cast<RunRequest&>(options) = DefaultRunRequest();
    TestSettings& s = options.settings;
    std::string highPass = "on";

    app.add_option("--tx", s.txPath, "Tx capture: sent towards the line")->required();
    app.add_option("--rx", s.rxPath, "Rx capture: back from the line, with the echo")->required();
    app.add_option("--device", options.deviceType, "device preset row")
        ->check(kDecimal)
        ->check(CLI::Range(0, kDeviceCount - 1))
        ->capture_default_str();
    CLI::Option* delay =
        app.add_option("--delay", s.delay, "bulk delay, samples, 0..8000 (default: the device's preset)")
            ->check(kDecimal);
    CLI::Option* tail =
        app.add_option("--tail", s.tail, "tail, samples, 0..1024 (default: the device's preset)")
            ->check(kDecimal);
    app.add_option("--nlp-diff", s.nlpDiff, "NLP threshold, dB, 0..100")->check(kDecimal)->capture_default_str();
    app.add_option("--nlp-shift", s.nlpShift, "NLP attenuation in 6 dB steps, 0..10")
        ->check(kDecimal)
        ->capture_default_str();
    app.add_option("--high-pass", highPass, "high-pass both captures first")
        ->check(CLI::IsMember({"on", "off"}))
        ->capture_default_str();
    app.add_option("--out", s.outPath, "output file: the cancelled Rx")->capture_default_str();
    app.add_flag("--json", options.json, "print one JSON object instead of the report rows");
    app.add_flag("--fail-on-check", options.failOnCheck,
                 "exit with 1 when any verdict is CHECK or the ERL gate stopped the cancellation");
    app.add_option("--plots", options.plotsDir,
                   "write the echo path, delay search and levels views into this folder (CSV, SVG, PNG)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help ends in a "success" that is not a run; every other parse error is a usage error.
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitOk : kExitUsage};
    }

    if (delay->count() == 0) {
        s.delay = DelayPreset(options.deviceType);
    }
    if (tail->count() == 0) {
        s.tail = TailPreset(options.deviceType);
    }
    s.highPass = highPass == "on" ? 1 : 0;
    return {options, kExitOk};
}

CliRun RunCommandLine(const CliOptions& options, CliUi& ui)
{
    CliRun run;
    run.report = RunAndReport(options.settings, options.deviceType, ui, run.results, kVerdictWords,
                              &run.analysis);
    run.ok = run.report.has_value();
    run.findings = MakeFindings(options.settings, options.deviceType, run.ok, run.results, run.analysis);
    return run;
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

bool WritePlots(const CliOptions& options, const CliRun& run, const PictureWriter& writer,
                std::string& error)
{
    const int minimalTail = run.report ? run.report->minimalTail : 0;
    const std::vector<ChartView> views =
        AllViews({options.settings, minimalTail, run.analysis});
    std::error_code code;
    std::filesystem::create_directories(options.plotsDir, code);
    if (code) {
        error = options.plotsDir + ": " + code.message();
        return false;
    }
    for (const ChartView& view : views) {
        const std::string path = (std::filesystem::path(options.plotsDir) / (view.stem + ".csv")).string();
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
    return writer(views, options.plotsDir, error);
}

bool AnyCheck(const TestResults& r)
{
    return r.delayOk == 0 || r.erlOk == 0 || r.levelsOk == 0 || r.residualOk == 0;
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
        const CliRun run = RunCommandLine(options, ui);
        ui.EndProgress();
        if (const int signal = CaughtSignal(); signal != 0) {
            err << "Interrupted\n";
            err.flush();
            return 128 + signal;
        }
        if (!options.plotsDir.empty()) {
            std::string error;
            if (!WritePlots(options, run, pictures, error)) {
                err << "tarnwell-cli: --plots: " << error << '\n';
                return kExitRunFailed;
            }
        }
        errno = 0;
        if (options.json) {
            out << DumpJson(JsonReport(options, run, ui.Status(), ui.Messages())) << '\n';
        } else {
            out << PlainReport(run, ui.Status());
        }
        if (!Delivered(out)) {
            return ReportLost(err, "report");
        }
        if (!Delivered(err)) {
            return kExitRunFailed;  // the messages were lost; there is nowhere left to say so
        }
        if (!run.ok || (options.failOnCheck && AnyCheck(run.results))) {
            return kExitRunFailed;
        }
        return kExitOk;
    } catch (const std::exception& e) {
        err << "tarnwell-cli: " << e.what() << '\n';
        return kExitRunFailed;
    }
}

}  // namespace tarnwell
