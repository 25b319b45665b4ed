// BackgroundRun: one test run on a thread of its own, so the window keeps drawing and taking
// input meanwhile. The run's status, progress and messages reach the window's TestUi on the
// window's thread, in the order the run made them; a message holds the run until the user
// has closed its box, as it would on one thread. Destroying the object stops the run at its
// next frame and waits for the thread: nothing of the run outlives it.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/AnalysisRecord.h"
#include "engine/TestUi.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"

namespace tarnwell {

struct RunOutcome {
    RunRequest request;
    TestResults results{};
    AnalysisRecord analysis;
    std::optional<Report> report;  // only when the run returned true
    bool cancelled = false;        // stopped on request before it made a report
};

class BackgroundRun final : public TestUi {
public:
    // done is called on the window's thread once the run has ended, with its outcome; the
    // object may be destroyed from then on, but not from inside done.
    using Done = std::function<void(const RunOutcome&)>;

    BackgroundRun(TestUi& window, RunRequest request, VerdictWords words, Done done);
    ~BackgroundRun() override;
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Asks the run to stop at its next frame; returns at once.
    void Cancel();

    // TestUi, called by the run on its own thread.
    void SetStatus(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void AddDetail(const std::string& line) override;
    void SetProgressRange(int count) override;
    void SetProgressPos(int position) override;
    bool KeepGoing() override;

private:
    void Run(VerdictWords words);
    template <class Call>
    void Post(Call call);

    TestUi& window_;
    Done done_;
    RunOutcome outcome_;
    // Calls posted to the window's thread go through this object: they are dropped with it.
    std::unique_ptr<QObject> relay_ = std::make_unique<QObject>();
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable messageClosed_;
    bool messageOpen_ = false;
    // The run moves the bar every frame; the window needs only the latest position.
    std::atomic<int> position_{0};
    std::atomic<bool> positionPosted_{false};
    std::thread thread_;  // last: starts once everything above is in place
};

}  // namespace tarnwell
