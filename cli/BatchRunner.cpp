// Running a batch's ports on a pool of threads, each port with its own engine, user side and
// files.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "cli/Batch.h"
#include "cli/Interrupt.h"
#include "engine/FileHandle.h"
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
    bool KeepGoing() override { return CaughtSignal() == 0; }

    std::string status;
    std::vector<std::string> messages;
    std::vector<std::string> details;
};

// Empties a port's output, so that no earlier batch's output passes for this one's; never
// one the clash check kept (a capture, a summary, another port's file). A pipe or a device
// is left as it is.
void EmptyOutput(const BatchPort& port)
{
    const std::string& out = port.options.settings.outPath;
    if (port.keepOutput || out.empty()) {
        return;
    }
    const FileHandle file = FileHandle::OpenOutput(out, O_WRONLY | O_CREAT, 0666);
    if (file.IsRegular()) {
        (void)::ftruncate(file.Descriptor(), 0);  // a failed row already says why
    }
}

// Ends a port that cannot run as a failed run would: "Test failed", its message, and an
// empty output.
void FailWithoutRunning(BatchRow& row, const BatchPort& port, const std::string& message)
{
    row.status = testmessages::kTestFailed;
    row.messages = {message};
    EmptyOutput(port);
}

// A port that a signal stopped, or that never started after one.
void Interrupt(BatchRow& row, const BatchPort& port, const char* message)
{
    row.status = testmessages::kCancelled;
    row.messages = {message};
    row.checks = 0;
    row.verdict = PortVerdict::kInterrupted;
    EmptyOutput(port);
}

BatchRow RunPort(const BatchPort& port, bool keepAnalysis)
{
    BatchRow row{port.name, port.options, {}, {}, {}, 0, PortVerdict::kFailed};
    if (!port.problem.empty()) {
        FailWithoutRunning(row, port, port.problem);
        return row;
    }
    const TestSettings& s = port.options.settings;
    for (const auto& [which, path] : {std::pair{"Tx", &s.txPath}, std::pair{"Rx", &s.rxPath}}) {
        std::error_code error;
        if (!fs::exists(*path, error)) {
            FailWithoutRunning(row, port, std::string(which) + " capture not found: " + *path);
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
        row.verdict = VerdictOf(row.run.verdicts);
    } else if (CaughtSignal() != 0 && ui.status == testmessages::kCancelled) {
        Interrupt(row, port, "interrupted at its next frame; its output is empty");
    } else {
        EmptyOutput(port);  // a row refused for its settings never opened it
    }
    return row;
}

}  // namespace

std::vector<BatchRow> RunBatch(const std::vector<BatchPort>& ports, int jobs,
                               const std::function<void(int done, int failed)>& progress, bool keepAnalysis,
                               const std::function<void(BatchRow& row)>& finished)
{
    std::vector<BatchRow> rows(ports.size());
    std::atomic<std::size_t> next{0};
    std::mutex progressMutex;
    std::condition_variable rowDone;
    std::deque<std::size_t> ready;  // rows done and not yet handed to finished
    int done = 0;
    int failed = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < ports.size(); i = next++) {
            if (CaughtSignal() != 0) {
                rows[i] = BatchRow{ports[i].name, ports[i].options, {}, {}, {}, 0, PortVerdict::kInterrupted};
                Interrupt(rows[i], ports[i], "interrupted before it started");
            } else {
                rows[i] = RunPort(ports[i], keepAnalysis);
            }
            const std::lock_guard lock(progressMutex);
            ++done;
            failed += rows[i].verdict == PortVerdict::kFailed ? 1 : 0;
            if (progress) {
                progress(done, failed);
            }
            ready.push_back(i);
            rowDone.notify_one();
        }
    };
    {
        // Joined at the end of this block, before rows is handed back.
        const auto threads = static_cast<std::size_t>(std::max(1, jobs));
        std::vector<std::jthread> workers;
        // With finished, this thread hands each row over as it comes; otherwise it is one of
        // the workers.
        const std::size_t running = std::min(threads, ports.size());
        const std::size_t helpers = finished || running == 0 ? running : running - 1;
        for (std::size_t t = 0; t < helpers; ++t) {
            workers.emplace_back(work);
        }
        if (!finished) {
            work();
        }
        for (std::size_t handed = 0; finished && handed < ports.size(); ++handed) {
            std::unique_lock lock(progressMutex);
            rowDone.wait(lock, [&] { return !ready.empty(); });
            const std::size_t i = ready.front();
            ready.pop_front();
            lock.unlock();
            finished(rows[i]);
        }
    }
    return rows;
}

}  // namespace tarnwell
