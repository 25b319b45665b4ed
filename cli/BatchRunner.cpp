// Running a batch's ports on the shared runner of many passes, each port with its own engine,
// user side and files.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "cli/Batch.h"
#include "cli/Interrupt.h"
#include "engine/FileHandle.h"
#include "engine/TestMessages.h"
#include "evidence/PassRunner.h"

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
    std::mutex progressMutex;
    std::condition_variable rowDone;
    std::deque<std::size_t> ready;  // rows done and not yet handed to finished
    int done = 0;
    int failed = 0;
    bool ended = false;  // the runner has returned or thrown: no further row comes
    // Every port is a job, even after a signal: one not started then comes back interrupted,
    // so the runner is never stopped and each row is filled.
    const auto job = [&](int index) {
        const auto i = static_cast<std::size_t>(index);
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
    };
    RunnerControl control;
    control.threads = std::max(1, jobs);
    const int total = static_cast<int>(ports.size());
    if (!finished) {
        RunJobs(total, job, control);  // this thread is one of the workers
        return rows;
    }
    // With finished, this thread hands each row over as it comes while the runner's own
    // threads run the ports.
    std::exception_ptr error;
    {
        const std::jthread runner([&] {
            try {
                RunJobs(total, job, control);
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard lock(progressMutex);
            ended = true;
            rowDone.notify_one();
        });
        for (;;) {
            std::unique_lock lock(progressMutex);
            rowDone.wait(lock, [&] { return !ready.empty() || ended; });
            if (ready.empty()) {
                break;
            }
            const std::size_t i = ready.front();
            ready.pop_front();
            lock.unlock();
            finished(rows[i]);
        }
    }  // the runner is joined here, before error and rows are read
    if (error) {
        std::rethrow_exception(error);
    }
    return rows;
}

}  // namespace tarnwell
