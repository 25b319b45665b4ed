// The whole echo test run: the settings check, then each part in turn, and the one place
// that reports how the run ended.
#include "engine/EchoTester.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/PreparedCaptures.h"
#include "engine/TestMessages.h"
#include "engine/TestRun.h"
#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

using testrun::Failed;
using testrun::Outcome;
using testrun::RunResources;

// The run up to the cancellation pass: the captures read, screened and filtered in the work
// buffers, the delay and the ERL in results. A message when the run ends here.
Outcome Prepare(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                RunResources& run, AnalysisRecord* analysis, int& count, bool withOutput)
{
    const Outcome read = testrun::ReadCaptures(settings, run, count, withOutput);
    if (analysis != nullptr) {
        analysis->captureNotes = run.notes;  // kept when the captures are refused, too
        analysis->txChannel = run.txChannel;
    }
    if (read.message != nullptr) {
        return read;
    }
    if (analysis != nullptr) {
        analysis->sampleCount = count;
        CaptureChecks& checks = analysis->captures;
        checks.measured = true;
        checks.source = !testrun::SameFile(run.tx, run.rx) ? CaptureSource::kTwoFiles
                        : testrun::IsPcapFile(run.tx)      ? CaptureSource::kCall
                                                           : CaptureSource::kStereoFile;
        checks.identical = std::memcmp(run.txWork.data(), run.rxWork.data(),
                                       static_cast<std::size_t>(count) * sizeof(std::int16_t)) == 0;
        testrun::CheckCapture(run.txWork.data(), count, checks.txClipShare, checks.txMean);
        testrun::CheckCapture(run.rxWork.data(), count, checks.rxClipShare, checks.rxMean);
        analysis->txCapture.assign(run.txWork.data(), run.txWork.data() + count);
        analysis->rxCapture.assign(run.rxWork.data(), run.rxWork.data() + count);
    }
    if (settings.highPass != 0) {
        engine.HighPassFilterPair(run.rxWork.data(), run.txWork.data(), count);
    }

    // The Rx capture is not screened: it may be silent.
    const int activity = testthresholds::ActivityPercent(
        testrun::CountVoiceBlocks(engine, run.txWork.data(), count), count);
    if (!testthresholds::HasEnoughActivity(activity)) {
        return Failed(testmessages::kLowActivity);
    }

    // Stored even when it is a failure.
    results.delay = engine.EstimateDelay(run.rxWork.data(), run.txWork.data(), count,
                                         analysis != nullptr ? &analysis->delaySearch : nullptr);
    if (results.delay <= 0) {
        return Failed(testmessages::kDelayFailed);
    }
    if (testthresholds::DelayInWindow(results.delay, settings.delay, settings.tail)) {
        results.delayOk = 1;
    }

    results.erl = engine.EstimateErl(run.txWork.data(), run.rxWork.data(), count, results.delay,
                                     analysis != nullptr ? &analysis->erl : nullptr);
    if (!testthresholds::PassesErlGate(results.erl)) {
        // The one failure that still reports: the delay and the ERL are worth showing.
        return {true, testmessages::kErlGate};
    }
    results.erlOk = 1;
    return {true, nullptr};
}

// Everything of the run after the settings check. Allocation failures propagate to RunTest.
Outcome RunCaptures(const EchoTester& engine, const TestSettings& settings, TestResults& results, TestUi& ui,
                    RunResources& run, AnalysisRecord* analysis)
{
    int count = 0;
    if (const Outcome prepared = Prepare(engine, settings, results, run, analysis, count, true);
        prepared.message != nullptr) {
        return prepared;
    }
    const Outcome outcome = testrun::RunCancellationPass(engine, settings, results, ui, run, count, analysis);
    if (outcome.result && !run.output.Finish()) {
        run.Detail(settings.outPath, "the WAV header could not be completed");
        return Failed(testmessages::kCannotWrite);
    }
    return outcome;
}

// What a run shows when it ends with a message: "Test failed", the files and reasons, the message.
void ShowFailure(const Outcome& outcome, const RunResources& run, TestUi& ui)
{
    ui.SetStatus(testmessages::kTestFailed);
    for (const std::string& detail : run.details) {
        ui.AddDetail(detail);
    }
    ui.ShowMessage(outcome.message);
}

}  // namespace

bool EchoTester::RunTest(const TestSettings& settings, TestResults& results, TestUi& ui,
                         AnalysisRecord* analysis) const
{
    // Out-of-range settings end the run silently: no status, no message, no file touched.
    if (!SettingsInRange(settings)) {
        return false;
    }
    RunResources run;
    Outcome outcome;
    try {
        outcome = RunCaptures(*this, settings, results, ui, run, analysis);
    } catch (const std::bad_alloc&) {
        outcome = Failed(testmessages::kNoMemory);
    }
    // A run that did not finish leaves no partial output that could pass for a result.
    if (!outcome.result && !run.output.Discard()) {
        outcome.message = testmessages::kCannotWrite;
        run.Detail(settings.outPath, std::strerror(errno));
    }
    if (outcome.cancelled && outcome.message == nullptr) {
        ui.SetStatus(testmessages::kCancelled);
    } else if (outcome.message != nullptr) {
        ShowFailure(outcome, run, ui);
    }
    return outcome.result;
}

bool PrepareCaptures(const EchoTester& engine, const TestSettings& settings, PreparedCaptures& prepared,
                     TestUi& ui, AnalysisRecord* analysis)
{
    RunResources run;
    TestResults found;
    Outcome outcome;
    try {
        outcome = Prepare(engine, settings, found, run, analysis, prepared.count, false);
    } catch (const std::bad_alloc&) {
        outcome = Failed(testmessages::kNoMemory);
    }
    prepared.delay = found.delay;
    prepared.erl = found.erl;
    if (outcome.message != nullptr) {
        ShowFailure(outcome, run, ui);
        return false;
    }
    prepared.rx = std::move(run.rxWork);
    prepared.tx = std::move(run.txWork);
    return true;
}

namespace {

// A pass's user side: a pass over prepared captures cannot fail and shows nothing; it stops at
// the next frame once the stop flag is up.
class QuietUi : public TestUi {
public:
    explicit QuietUi(const std::atomic<bool>* stop) : stop_(stop) {}
    bool KeepGoing() override { return stop_ == nullptr || !stop_->load(std::memory_order_relaxed); }
    void SetStatus(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}

private:
    const std::atomic<bool>* stop_;
};

}  // namespace

bool RunPreparedPass(const EchoTester& engine, const PreparedCaptures& prepared, const TestSettings& settings,
                     TestResults& results, AnalysisRecord* analysis, const std::atomic<bool>* stop)
{
    assert(SettingsInRange(settings));
    results.delay = prepared.delay;
    results.delayOk = testthresholds::DelayInWindow(prepared.delay, settings.delay, settings.tail) ? 1 : 0;
    results.erl = prepared.erl;
    results.erlOk = 1;
    RunResources run;
    QuietUi ui(stop);
    const testrun::PassInput input{prepared.rx.data(), prepared.tx.data(), prepared.count, nullptr};
    return testrun::RunCancellationPass(engine, settings, input, results, ui, run, analysis).result;
}

}  // namespace tarnwell
