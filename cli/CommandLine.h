// The command line's front end over the engine: options in, one run through the same
// sequence as the window (RunAndReport), the report out as labelled rows or as one JSON
// object. Exit status 0 when the run returned true, 1 when it returned false, 2 for a
// usage error.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/TestSettings.h"
#include "engine/AnalysisRecord.h"
#include "evidence/ChartData.h"
#include "evidence/Findings.h"
#include "evidence/Measured.h"
#include "evidence/RunRecord.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"

namespace tarnwell {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRunFailed = 1;
inline constexpr int kExitUsage = 2;

// The run request (as the window fills it right after start, unless overridden) and the
// command line's own choices.
struct CliOptions : RunRequest {
    bool json = false;
    std::string plotsDir;           // --plots: where the pictures go; empty for none
    std::string htmlPath;           // --html: the page to write; empty for none
    bool failOnCheck = false;       // --fail-on-check: any measured CHECK exits 1
    bool failOnUnmeasured = false;  // --fail-on-unmeasured: any CHECK or unmeasured verdict exits 1
    bool samplesToStdout = false;   // --out -: the report goes to the error stream instead
};

// Either the options of a run, or the exit status when there is nothing to run: a usage
// error (its text already written to err) or --help (the help written to out).
struct ParsedCommandLine {
    std::optional<CliOptions> options;
    int exitStatus = kExitOk;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// What one run left behind (the JSON and the page read it too).
using CliRun = RunRecord;

// Draws the views into dir as SVG and PNG; false with a reason on failure. The window's chart
// code provides it; the command line itself stays free of any display.
using PictureWriter =
    std::function<bool(const std::vector<ChartView>& views, const std::string& dir, std::string& error)>;

// True when the verdicts fail the run under --fail-on-check or --fail-on-unmeasured.
bool FailsOnVerdicts(const CliOptions& options, const Verdicts& verdicts);

// One run with its report and findings; the batch runs each port through it too.
CliRun RunCommandLine(const CliOptions& options, TestUi& ui);

// The six report rows as the window labels them (only after a true result), then the status,
// then the findings.
std::string PlainReport(const CliRun& run, const std::string& status);

// Writes each view's CSV into dir, and its pictures through writer; false with a reason.
bool WritePlots(const CliOptions& options, const CliRun& run, const PictureWriter& writer,
                std::string& error);
bool WriteViews(const std::vector<ChartView>& views, const std::string& dir, const PictureWriter& writer,
                std::string& error);

// The single run: parse, run, print.
int RunMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
            const PictureWriter& pictures = {});

// The whole command: a verb's own main, or the single run when argv[1] names no verb. main()
// only adds the real streams and the terminal test.
int CommandLineMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress, const PictureWriter& pictures = {});

}  // namespace tarnwell
