// The whole echo test run: the settings check, then each part in turn, and the one place
// that reports how the run ended.
#include "engine/EchoTester.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "engine/TestMessages.h"
#include "engine/TestRun.h"
#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

using testrun::Failed;
using testrun::Outcome;
using testrun::RunResources;

// Everything of the run after the settings check. Allocation failures propagate to RunTest.
Outcome RunCaptures(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                    TestUi& ui, RunResources& run, AnalysisRecord* analysis)
{
    int count = 0;
    const Outcome read = testrun::ReadCaptures(settings, run, count);
    if (analysis != nullptr) {
        analysis->captureNotes = run.notes;  // kept when the captures are refused, too
    }
    if (read.message != nullptr) {
        return read;
    }
    if (analysis != nullptr) {
        analysis->sampleCount = count;
        CaptureChecks& checks = analysis->captures;
        checks.measured = true;
        testrun::CheckCapture(run.txWork.data(), count, checks.txClipShare, checks.txMean);
        testrun::CheckCapture(run.rxWork.data(), count, checks.rxClipShare, checks.rxMean);
        analysis->txCapture.assign(run.txWork.data(), run.txWork.data() + count);
        analysis->rxCapture.assign(run.rxWork.data(), run.rxWork.data() + count);
    }
    if (settings.highPass != 0) {
        engine.HighPassFilterPair(run.rxWork.data(), run.txWork.data(), count);
    }

    // The Rx capture is not screened: it may be silent.
    const int activity =
        testthresholds::ActivityPercent(testrun::CountVoiceBlocks(engine, run.txWork.data(), count), count);
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

    const Outcome outcome = testrun::RunCancellationPass(engine, settings, results, ui, run, count, analysis);
    if (outcome.result && !run.output.Finish()) {
        run.Detail(settings.outPath, "the WAV header could not be completed");
        return Failed(testmessages::kCannotWrite);
    }
    return outcome;
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
        ui.SetStatus(testmessages::kTestFailed);
        for (const std::string& detail : run.details) {
            ui.AddDetail(detail);
        }
        ui.ShowMessage(outcome.message);
    }
    return outcome.result;
}

}  // namespace tarnwell
