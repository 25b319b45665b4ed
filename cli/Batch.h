// tarnwell-cli batch: one test per port over a whole site's captures, several at a time. The
// ports come from a folder (NAME_tx.* with NAME_rx.*, or tx/NAME.* with rx/NAME.*) or from a
// CSV manifest (port,tx,rx and any of device, delay, tail, nlp_diff, nlp_shift, high_pass,
// stereo, each overriding the command line for its row). Every run has its own engine, user
// side and files; the summary (a table on stdout, summary.csv and summary.json in the output
// folder) is written once, at the end, worst port first, whatever the pictures do. Exit
// status 0 when every port is OK or NOT MEASURED (OK only, with --fail-on-unmeasured), 1 when
// any has a CHECK or failed or a picture failed, 2 for a usage error, 128 + n after signal n.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"

namespace tarnwell {

// One port to test: its request, or the reason it cannot be run.
struct BatchPort {
    std::string name;
    CliOptions options;   // capture paths, output path, settings and device row
    std::string problem;  // non-empty: a failed row with this message, nothing is run
    // Its output path is a capture, a summary or another port's file: the port never
    // writes, empties or creates it.
    bool keepOutput = false;
};

// The command line's choices for every port; a manifest's cells override them row by row.
struct BatchDefaults {
    CliOptions options;       // settings, device row; paths unused
    bool delayGiven = false;  // otherwise a row's device decides its delay preset
    bool tailGiven = false;   // and its tail preset
};

// Worst first; kInterrupted: a signal stopped the port, or came before it started;
// kNotMeasured: no measured CHECK, but some verdict the captures could not measure.
enum class PortVerdict { kInterrupted, kFailed, kCheck, kNotMeasured, kOk };
inline constexpr int kPortVerdicts = static_cast<int>(PortVerdict::kOk) + 1;  // counts per verdict

// What one port's run left behind.
struct BatchRow {
    std::string port;
    CliOptions options;
    CliRun run;
    std::string status;                 // the run's last status text
    std::vector<std::string> messages;  // every message it showed, in order
    int checks = 0;                     // verdicts that read CHECK, after a true result
    PortVerdict verdict = PortVerdict::kFailed;
};

// Ports found by name in folder, sorted by name; outDir receives NAME.pcm.
std::vector<BatchPort> FindFolderPorts(const std::filesystem::path& folder, const BatchDefaults& defaults,
                                       const std::filesystem::path& outDir);

// Ports listed in a manifest, in its order. A header that cannot be used is a usage error:
// error is set and no port is returned. A bad cell makes its row a failed port.
std::vector<BatchPort> ReadManifest(const std::filesystem::path& manifest, const BatchDefaults& defaults,
                                    const std::filesystem::path& outDir, std::string& error);

// Before any port runs: fails each port whose output, or with plots its pictures' folder,
// is any port's capture (compared by device and inode, or by path while it does not exist),
// one of the summaries or an earlier port's output or folder, with a message naming the
// other; such a port keeps its hands off that path (keepOutput).
void RefuseClashes(std::vector<BatchPort>& ports, const std::filesystem::path& outDir, bool plots);

// Runs every port on up to jobs threads; rows come back in the ports' order. progress, when
// given, is called after each port (from the thread that ran it, one call at a time) with the
// ports done and the failed rows so far. Once an interrupt signal is caught, running ports
// stop at their next frame (their outputs emptied) and the ports not started are skipped;
// both come back as kInterrupted rows.
// keepAnalysis: each row keeps its run's whole analysis record (for pictures); otherwise
// only the findings made from it. finished, when given, is called on the calling thread with
// each row as soon as its port is done (while the others run), one row at a time: the place
// to draw a port's pictures and let its record go.
std::vector<BatchRow> RunBatch(const std::vector<BatchPort>& ports, int jobs,
                               const std::function<void(int done, int failed)>& progress = {},
                               bool keepAnalysis = false,
                               const std::function<void(BatchRow& row)>& finished = {});

// kCheck when a measured verdict reads CHECK, else kNotMeasured when one was not measured,
// else kOk.
PortVerdict VerdictOf(const Verdicts& verdicts);

// "OK", "NOT MEASURED", "CHECK", "FAILED" or "INTERRUPTED".
const char* VerdictName(PortVerdict verdict);

// Interrupted ports first, then failed runs, then CHECK, NOT MEASURED and OK ports; within each,
// most measured CHECK verdicts, then most unmeasured ones, then lowest cancellation; ties by
// port name.
void SortWorstFirst(std::vector<BatchRow>& rows);

std::string SummaryCsv(const std::vector<BatchRow>& rows);
nlohmann::ordered_json SummaryJson(const std::vector<BatchRow>& rows);
std::string SummaryTable(const std::vector<BatchRow>& rows);

// The Message column: the cause a warning finding names first, then the run's messages and
// the detail lines behind them.
std::string RowMessage(const BatchRow& row);

// The whole batch command; argv[0] is "batch".
int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
              const PictureWriter& pictures = {});

}  // namespace tarnwell
