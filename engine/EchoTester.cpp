#include "engine/EchoTester.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/CaptureReader.h"
#include "engine/FileHandle.h"
#include "engine/OutputFile.h"
#include "engine/PassStatistics.h"
#include "engine/SampleBuffer.h"
#include "engine/TestMessages.h"
#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

// Delay search: 600-sample Tx windows every 300 samples (half overlap), 1800 lags (0..224.875 ms).
constexpr int kSegmentStep = 300;
constexpr int kLagCount = 1800;
constexpr double kLevelFloor = -100.0;  // dBm0; a window must be louder to be chosen

constexpr int kErlBlock = 800;  // samples per ERL block pair (100 ms)

// Everything one run holds. Its destructor is the one place that lets go of it, so every way
// out of the run releases the buffers and then closes the Rx capture, the Tx capture and the
// output file, in that order.
struct RunResources {
    FileHandle tx;
    FileHandle rx;
    OutputFile output;
    SampleBuffer rawRx;
    SampleBuffer rawTx;
    SampleBuffer rxWork;
    SampleBuffer txWork;
    SampleBuffer frame;
    std::string refusal;  // a capture's own refusal text, which the run's Outcome points at

    RunResources() = default;
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;
    ~RunResources()
    {
        frame.Release();
        rawRx.Release();
        rawTx.Release();
        rxWork.Release();
        txWork.Release();
        rx.Close();
        tx.Close();
        output.Close();
    }
};

// How a run ends: its result, and the message shown under "Test failed" (none when it went well).
struct Outcome {
    bool result = false;
    const char* message = nullptr;
};

constexpr Outcome Failed(const char* message) { return {false, message}; }

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameFile(const FileHandle& a, const FileHandle& b)
{
    struct stat aInfo {};
    struct stat bInfo {};
    return a.Stat(aInfo) && b.Stat(bInfo) && SameFile(aInfo, bInfo);
}

// Opens both captures and the output file; all three are tried before anything is judged, so
// the output is emptied even when a capture is missing. An output that is one of the captures,
// whatever the spelling of its path, is refused before it is truncated.
bool OpenFiles(const TestSettings& settings, RunResources& run)
{
    run.tx = FileHandle::OpenRegular(settings.txPath, O_RDONLY);
    run.rx = FileHandle::OpenRegular(settings.rxPath, O_RDONLY);
    run.output = OutputFile(FileHandle::OpenRegular(settings.outPath, O_RDWR | O_CREAT, 0666),
                            settings.outPath);

    struct stat outputInfo {};
    if (!run.output.Handle().Stat(outputInfo)) {
        return false;
    }
    for (const FileHandle* capture : {&run.tx, &run.rx}) {
        struct stat captureInfo {};
        if (capture->Stat(captureInfo) && SameFile(captureInfo, outputInfo)) {
            return false;
        }
    }
    if (::ftruncate(run.output.Handle().Descriptor(), 0) != 0) {
        return false;
    }
    return run.tx.IsOpen() && run.rx.IsOpen();
}

// Opens the three files, then decodes the first count samples of each capture into the raw
// buffers; count, N, is the shorter capture in decoded samples, screened for length before
// any buffer is allocated. One file named as both captures is a stereo pair: Tx in the
// settings' channel, Rx in the other.
Outcome ReadCaptures(const TestSettings& settings, RunResources& run, int& count)
{
    if (!OpenFiles(settings, run)) {
        return Failed(testmessages::kCheckFiles);
    }
    const bool stereo = SameFile(run.tx, run.rx);
    const int txChannel = settings.txChannel != 0 ? 1 : 0;
    CaptureReader tx;
    CaptureReader rx;
    if (!tx.Open(run.tx, settings.txPath, settings.headerless,
                 stereo ? txChannel : CaptureReader::kWholeFile, run.refusal) ||
        !rx.Open(run.rx, settings.rxPath, settings.headerless,
                 stereo ? 1 - txChannel : CaptureReader::kWholeFile, run.refusal)) {
        return Failed(run.refusal.c_str());
    }
    // The longer capture's excess is ignored.
    const std::int64_t samples = std::min(tx.SampleCount(), rx.SampleCount());
    if (!testthresholds::IsLongEnough(samples)) {
        return Failed(testmessages::kCheckSize);
    }
    if (testthresholds::IsTooLong(samples)) {
        return Failed(testmessages::kTooLarge);
    }
    count = static_cast<int>(samples);

    run.rawRx = SampleBuffer(count);
    run.rawTx = SampleBuffer(count);
    if (!rx.Read(run.rawRx.data(), count) || !tx.Read(run.rawTx.data(), count)) {
        return Failed(testmessages::kCheckFiles);
    }
    return {true, nullptr};
}

// Active 10 ms blocks of the Tx capture. A block is examined only when it ends before the
// last sample, so a capture that is a whole number of blocks leaves its final block out.
int CountVoiceBlocks(const DspToolkit& dsp, const std::int16_t* tx, int count)
{
    int active = 0;
    for (int offset = 0; offset < count - testthresholds::kScreenBlock;
         offset += testthresholds::kScreenBlock) {
        if (testthresholds::IsVoiceBlock(dsp.BlockLevel(tx + offset, testthresholds::kScreenBlock))) {
            ++active;
        }
    }
    return active;
}

// The cancellation pass: configures the canceller, runs it over the whole capture frame by
// frame, writes the output file, moves the progress bar and fills the statistics. It takes
// over the open files and both working buffers (count samples each) once the ERL gate has
// been passed; whatever it allocates belongs in RunResources so that the run releases it.
Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings,
                            TestResults& results, TestUi& ui, RunResources& run, int count)
{
    ui.SetProgressRange(count);
    ui.SetProgressPos(0);

    CancellerConfig config;
    config.tail = settings.tail;
    config.bulkDelay = settings.delay;
    config.nlpEnable = settings.nlpEnable;
    config.nlpDiff = settings.nlpDiff;
    config.nlpShift = settings.nlpShift;
    CancellerState state;  // fixed size, on this run's own stack
    engine.InitCanceller(state, config);

    run.frame = SampleBuffer(kFrameLength);
    results.cancellation = 0.0;

    const std::int16_t* rx = run.rxWork.data();
    const std::int16_t* tx = run.txWork.data();
    // The last frame may run past the end of the captures: the canceller and the level
    // statistics see zeros there, and nothing beyond the captures is read.
    std::array<std::int16_t, kFrameLength> rxTail{};
    std::array<std::int16_t, kFrameLength> txTail{};

    PassStatistics stats;
    for (int p = 0; p < count; p += kFrameLength) {
        const std::int16_t* nearFrame = rx + p;
        const std::int16_t* referenceFrame = tx + p;
        if (count - p < kFrameLength) {
            std::copy_n(rx + p, count - p, rxTail.begin());
            std::copy_n(tx + p, count - p, txTail.begin());
            nearFrame = rxTail.data();
            referenceFrame = txTail.data();
        }

        FrameReport report{};
        engine.ProcessFrame(state, nearFrame, referenceFrame, run.frame.data(), kFrameLength,
                            report);
        stats.CountFrame(report, results);
        if (PassStatistics::InSecondHalf(p, count)) {
            if (PassStatistics::RxLevelApplies(report)) {
                stats.AddRxLevel(engine.BlockLevel(nearFrame, kFrameLength));
            }
            stats.AddTxLevel(engine.BlockLevel(referenceFrame, kFrameLength));
        }

        // A lost output frame would be corrupted data reported as a finished run.
        ConvertLittleEndian(run.frame.data(), run.frame.size());
        if (!run.output.WriteAll(run.frame.data(), run.frame.ByteSize())) {
            return Failed(testmessages::kCannotWrite);
        }
        ui.SetProgressPos(p);
    }

    stats.Finish(settings, results);
    return {true, nullptr};
}

// Everything of the run after the settings check. Allocation failures propagate to RunTest.
Outcome RunCaptures(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                    TestUi& ui, RunResources& run)
{
    int count = 0;
    if (const Outcome read = ReadCaptures(settings, run, count); read.message != nullptr) {
        return read;
    }
    run.rxWork = SampleBuffer(count);
    run.txWork = SampleBuffer(count);
    if (settings.highPass != 0) {
        engine.HighPassFilter(run.rawRx.data(), run.rxWork.data(), count);
        engine.HighPassFilter(run.rawTx.data(), run.txWork.data(), count);
    } else {
        std::copy_n(run.rawRx.data(), count, run.rxWork.data());
        std::copy_n(run.rawTx.data(), count, run.txWork.data());
    }
    run.rawRx.Release();
    run.rawTx.Release();

    // The Rx capture is not screened: it may be silent.
    const int activity =
        testthresholds::ActivityPercent(CountVoiceBlocks(engine, run.txWork.data(), count), count);
    if (!testthresholds::HasEnoughActivity(activity)) {
        return Failed(testmessages::kLowActivity);
    }

    // Stored even when it is a failure.
    results.delay = engine.EstimateDelay(run.rxWork.data(), run.txWork.data(), count);
    if (results.delay <= 0) {
        return Failed(testmessages::kDelayFailed);
    }
    if (testthresholds::DelayInWindow(results.delay, settings.delay, settings.tail)) {
        results.delayOk = 1;
    }

    results.erl = engine.EstimateErl(run.txWork.data(), run.rxWork.data(), count, results.delay);
    if (!testthresholds::PassesErlGate(results.erl)) {
        // The one failure that still reports: the delay and the ERL are worth showing.
        return {true, testmessages::kErlGate};
    }
    results.erlOk = 1;

    const Outcome outcome = RunCancellationPass(engine, settings, results, ui, run, count);
    if (outcome.message == nullptr && !run.output.Finish()) {
        return Failed(testmessages::kCannotWrite);
    }
    return outcome;
}

}  // namespace

int EchoTester::FindLoudestSegment(const std::int16_t* tx, int count, DelayTemplate& segment) const
{
    SampleBuffer filtered(count);
    UpperBandFilter(tx, filtered.data(), count);

    // Windows from the middle of the capture to 1800 samples before the end of its third
    // quarter, so that every lag of the search stays inside the Rx capture.
    const int bound = count - count / 4 - kLagCount;
    double bestLevel = kLevelFloor;
    int chosen = 0;
    for (int start = count / 2; start < bound; start += kSegmentStep) {
        const double level = BlockLevel(filtered.data() + start, kSegmentLength);
        if (level > bestLevel) {  // strict: the earliest of equally loud windows wins
            bestLevel = level;
            std::copy_n(tx + start, kSegmentLength, segment.begin());
            chosen = start;
        }
    }
    return chosen;
}

int EchoTester::EstimateDelay(const std::int16_t* rx, const std::int16_t* tx, int count) const
{
    DelayTemplate segment{};
    const int origin = FindLoudestSegment(tx, count, segment);
    if (origin <= 0) {
        return 0;
    }
    double bestCorrelation = 0.0;
    int delay = 0;
    for (int lag = 0; lag < kLagCount; ++lag) {
        const double c = std::fabs(BlockCorrelation(rx + origin + lag, segment.data(), kSegmentLength));
        if (c > bestCorrelation) {  // strict: the smallest of equal lags wins; NaN never does
            bestCorrelation = c;
            delay = lag;
        }
    }
    return delay;
}

double EchoTester::EstimateErl(const std::int16_t* tx, const std::int16_t* rx, int count,
                               int delay) const
{
    if (delay < 0) {
        return 0.0;  // never read before the start of the Rx capture
    }
    const std::int64_t span = static_cast<std::int64_t>(count) - delay;
    if (span - kErlBlock <= 0) {
        return 0.0;
    }
    // One pair fewer than would fit when span is a multiple of 800: the last Rx sample read
    // is at most count - 2.
    const int blocks = static_cast<int>((span - 1) / kErlBlock);
    double bestCorrelation = 0.0;
    double erl = 0.0;
    for (int k = 0; k < blocks; ++k) {
        const std::int16_t* t = tx + k * kErlBlock;
        const std::int16_t* r = rx + delay + k * kErlBlock;
        const double txLevel = BlockLevel(t, kErlBlock);
        const double rxLevel = BlockLevel(r, kErlBlock);
        if (testthresholds::QualifiesForErl(txLevel)) {
            const double c = std::fabs(BlockCorrelation(t, r, kErlBlock));
            if (c > bestCorrelation) {  // strict: the earliest of equal pairs wins
                bestCorrelation = c;
                erl = txLevel - rxLevel;
            }
        }
    }
    return erl;
}

bool EchoTester::RunTest(const TestSettings& settings, TestResults& results, TestUi& ui) const
{
    // Out-of-range settings end the run silently: no status, no message, no file touched.
    if (!SettingsInRange(settings)) {
        return false;
    }
    RunResources run;
    Outcome outcome;
    try {
        outcome = RunCaptures(*this, settings, results, ui, run);
    } catch (const std::bad_alloc&) {
        outcome = Failed(testmessages::kNoMemory);
    }
    if (outcome.message != nullptr) {
        ui.SetStatus(testmessages::kTestFailed);
        ui.ShowMessage(outcome.message);
    }
    return outcome.result;
}

}  // namespace tarnwell
