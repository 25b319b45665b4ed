#include "cli/CommandLine.h"

#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Batch.h"
#include "cli/CliUi.h"
#include "cli/JsonReport.h"
#include "cli/RunOptions.h"

namespace tarnwell {

namespace {

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
    CLI::App app{"Runs the echo test on a Tx/Rx capture pair and prints the report. Captures are "
                 "16-bit PCM, A-law or u-law at 8000 samples/s: WAV, AU or AIFF files, or raw "
                 "headerless ones. 'tarnwell-cli batch --help' runs a whole site."};
    app.footer(DeviceList());

    CliOptions options;
    static_cast<RunRequest&>(options) = DefaultRunRequest();
    TestSettings& s = options.settings;
    std::string stereo;

    CLI::Option* tx = app.add_option("--tx", s.txPath, "Tx capture: sent towards the line");
    CLI::Option* rx = app.add_option("--rx", s.rxPath, "Rx capture: back from the line, with the echo");
    app.add_option("--stereo", stereo, "one stereo file holding both captures (see --tx-channel)")
        ->excludes(tx)
        ->excludes(rx);
    RunOptions runOptions(app, options);
    app.add_option("--out", s.outPath, "output file: the cancelled Rx (a WAV file when it ends in .wav)")
        ->capture_default_str();
    app.add_flag("--json", options.json, "print one JSON object instead of the report rows");

    try {
        app.parse(argc, argv);
        if (stereo.empty() && (tx->count() == 0 || rx->count() == 0)) {
            throw CLI::RequiredError("Both --tx and --rx, or --stereo, are required",
                                     CLI::ExitCodes::RequiredError);
        }
    } catch (const CLI::ParseError& e) {
        // --help ends in a "success" that is not a run; every other parse error is a usage error.
        const int status = app.exit(e, out, err);
        return {std::nullopt, status == 0 ? kExitOk : kExitUsage};
    }

    runOptions.Apply();
    if (!stereo.empty()) {
        s.txPath = stereo;
        s.rxPath = stereo;
    }
    return {options, kExitOk};
}

CliRun RunCommandLine(const CliOptions& options, CliUi& ui)
{
    CliRun run;
    run.report = RunAndReport(options.settings, options.deviceType, ui, run.results);
    run.ok = run.report.has_value();
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
    return text;
}

int CommandLineMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress)
{
    if (argc > 1 && std::string(argv[1]) == "batch") {
        return BatchMain(argc - 1, argv + 1, out, err, showProgress);
    }
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, out, err);
    if (!parsed.options) {
        return parsed.exitStatus;
    }
    const CliOptions& options = *parsed.options;
    try {
        CliUi ui(err, showProgress);
        const CliRun run = RunCommandLine(options, ui);
        ui.EndProgress();
        if (options.json) {
            out << DumpJson(JsonReport(options, run, ui.Status(), ui.Messages())) << '\n';
        } else {
            out << PlainReport(run, ui.Status());
        }
        out.flush();
        return run.ok ? kExitOk : kExitRunFailed;
    } catch (const std::exception& e) {
        err << "tarnwell-cli: " << e.what() << '\n';
        return kExitRunFailed;
    }
}

}  // namespace tarnwell
