#include "engine/EchoTester.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "canceller/FixedPoint.h"
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

// The second peak of the lag curve must lie further than this from the first: nearer lags
// are the same echo, smeared by the echo path and the template's own autocorrelation.
constexpr int kSecondPeakDistance = 8;

// Full scale as a capture shows it: either extreme of the int16 range (and -32767, the
// canceller's own negative limit, which a clipping recorder may also use).
constexpr bool AtFullScale(std::int16_t x) { return x >= 32767 || x <= -32767; }

void CheckCapture(const std::int16_t* samples, int count, double& clipShare, double& mean)
{
    std::int64_t sum = 0;  // exact: at most 2^30 samples of at most 2^15
    std::int64_t clipped = 0;
    for (int i = 0; i < count; ++i) {
        sum += samples[i];
        clipped += AtFullScale(samples[i]) ? 1 : 0;
    }
    clipShare = count > 0 ? static_cast<double>(clipped) / count : 0.0;
    mean = count > 0 ? static_cast<double>(sum) / count : 0.0;
}

// The weights as the filter applies them, and where the echo path's energy lies.
void RecordEchoPath(const CancellerState& state, EchoPathRecord& path)
{
    path.measured = true;
    path.bulkDelay = state.bulkDelay;
    path.weights.resize(static_cast<std::size_t>(state.tail));
    double energy = 0.0;
    std::int32_t peak = 0;
    for (int j = 0; j < state.tail; ++j) {
        const std::int16_t w = fixedpoint::SaturateInt16(state.coefficients[j] >> 4);
        path.weights[static_cast<std::size_t>(j)] = w;
        energy += static_cast<double>(w) * w;
        if (fixedpoint::Magnitude(w) > peak) {
            peak = fixedpoint::Magnitude(w);
            path.peakTap = j;
        }
    }
    if (energy <= 0.0) {
        return;
    }
    // 0.5 % of the energy may lie before the span and 0.5 % after it.
    double cumulative = 0.0;
    for (int j = 0; j < state.tail; ++j) {
        const double w = path.weights[static_cast<std::size_t>(j)];
        cumulative += w * w;
        if (path.spanFirst < 0 && cumulative > 0.005 * energy) {
            path.spanFirst = j;
        }
        if (cumulative >= 0.995 * energy) {
            path.spanLast = j;
            break;
        }
    }
}

// Everything one run holds. Its destructor is the one place that lets go of it, so every way
// out of the run releases the buffers and then closes the Rx capture, the Tx capture and the
// output file, in that order.
struct RunResources {
    FileHandle tx;
    FileHandle rx;
    OutputFile output;
    SampleBuffer rxWork;
    SampleBuffer txWork;
    SampleBuffer outputBlock;
    std::string refusal;  // a capture's own refusal text, which the run's Outcome points at
    std::vector<std::string> details;  // each "file: reason" behind a failure's message

    RunResources() = default;
    RunResources(const RunResources&) = delete;
    // Notes "path: why" behind the failure that follows.
    void Detail(const std::string& path, const std::string& why) { details.push_back(path + ": " + why); }
    RunResources& operator=(const RunResources&) = delete;
    ~RunResources()
    {
        outputBlock.Release();
        rxWork.Release();
        txWork.Release();
        rx.Close();
        tx.Close();
        output.Close();
    }
};

// How a run ends: its result, and the message shown under "Test failed" (none when it went
// well, or when the user stopped it).
struct Outcome {
    bool result = false;
    const char* message = nullptr;
    bool cancelled = false;
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
    std::string txWhy;
    std::string rxWhy;
    std::string outputWhy;
    run.tx = FileHandle::OpenRegular(settings.txPath, O_RDONLY, 0, &txWhy);
    run.rx = FileHandle::OpenRegular(settings.rxPath, O_RDONLY, 0, &rxWhy);
    // A pipe or a device may take the output; only a regular file is emptied and compared.
    run.output = OutputFile(FileHandle::OpenOutput(settings.outPath, O_WRONLY | O_CREAT, 0666, &outputWhy),
                            settings.outPath);
    if (!run.tx.IsOpen()) {
        run.Detail(settings.txPath, txWhy);
    }
    if (!run.rx.IsOpen()) {
        run.Detail(settings.rxPath, rxWhy);
    }
    if (!run.output.Handle().IsOpen()) {
        run.Detail(settings.outPath, outputWhy);
        return false;
    }
    if (run.output.Handle().IsRegular()) {
        const struct {
            const FileHandle* file;
            const char* name;
        } captures[] = {{&run.tx, "is the Tx capture"}, {&run.rx, "is the Rx capture"}};
        for (const auto& capture : captures) {
            if (SameFile(*capture.file, run.output.Handle())) {
                run.output.Close();  // it is a capture: nothing may empty it
                run.Detail(settings.outPath, capture.name);
                return false;
            }
        }
        if (::ftruncate(run.output.Handle().Descriptor(), 0) != 0) {
            run.Detail(settings.outPath, std::strerror(errno));
            return false;
        }
    }
    return run.tx.IsOpen() && run.rx.IsOpen();
}

// Opens the three files, then decodes the first count samples of each capture into the work
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

    // One buffer per capture: the high-pass filter works in place.
    run.rxWork = SampleBuffer::ForOverwrite(count);
    run.txWork = SampleBuffer::ForOverwrite(count);
    for (auto [reader, buffer, path] : {std::tuple{&rx, &run.rxWork, &settings.rxPath},
                                        std::tuple{&tx, &run.txWork, &settings.txPath}}) {
        if (!reader->Read(buffer->data(), count)) {
            run.Detail(*path, "ended before its " + std::to_string(count) + " samples");
            return Failed(testmessages::kCheckFiles);
        }
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

// The output file written a block of frames at a time: a write per frame costs about as much
// as the canceller's work on the frame at short tails. The frames go straight into the block.
class OutputBlocks {
public:
    static constexpr int kFrames = 100;  // one second

    OutputBlocks(OutputFile& file, SampleBuffer& block) : file_(file), block_(block)
    {
        block_ = SampleBuffer(kFrames * kFrameLength);
    }

    std::int16_t* NextFrame() { return block_.data() + used_; }

    // Takes the frame NextFrame gave; false when a full block could not be written.
    bool FrameDone()
    {
        used_ += kFrameLength;
        return used_ < block_.size() || Flush();
    }

    // Writes what is left; false on a write error.
    bool Flush()
    {
        ConvertLittleEndian(block_.data(), used_);
        const auto bytes = static_cast<std::size_t>(used_) * sizeof(std::int16_t);
        used_ = 0;
        return file_.WriteAll(block_.data(), bytes);
    }

private:
    OutputFile& file_;
    SampleBuffer& block_;
    int used_ = 0;
};

// The cancellation pass: configures the canceller, runs it over the whole capture frame by
// frame, writes the output file, moves the progress bar and fills the statistics. It takes
// over the open files and both working buffers (count samples each) once the ERL gate has
// been passed; whatever it allocates belongs in RunResources so that the run releases it.
Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings,
                            TestResults& results, TestUi& ui, RunResources& run, int count,
                            AnalysisRecord* analysis)
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

    OutputBlocks output(run.output, run.outputBlock);
    results.cancellation = 0.0;

    const std::int16_t* rx = run.rxWork.data();
    const std::int16_t* tx = run.txWork.data();
    // The last frame may run past the end of the captures: the canceller and the level
    // statistics see zeros there, and nothing beyond the captures is read.
    std::array<std::int16_t, kFrameLength> rxTail{};
    std::array<std::int16_t, kFrameLength> txTail{};

    PassStatistics stats;
    if (analysis != nullptr) {
        analysis->frames.reserve(static_cast<std::size_t>(count / kFrameLength + 1));
    }
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
        std::int16_t* outputFrame = output.NextFrame();
        engine.ProcessFrame(state, nearFrame, referenceFrame, outputFrame, kFrameLength, report);
        stats.CountFrame(report, results);
        // Each level is measured once, for the statistics and the record alike.
        const bool secondHalf = PassStatistics::InSecondHalf(p, count);
        const bool rxApplies = secondHalf && PassStatistics::RxLevelApplies(report);
        const bool recording = analysis != nullptr;
        const double txLevel = secondHalf || recording ? engine.BlockLevel(referenceFrame, kFrameLength) : 0.0;
        const double rxLevel = rxApplies || recording ? engine.BlockLevel(nearFrame, kFrameLength) : 0.0;
        if (secondHalf) {
            if (rxApplies) {
                stats.AddRxLevel(rxLevel);
            }
            stats.AddTxLevel(txLevel);
        }

        if (recording) {
            FrameRecord frame;
            frame.txLevel = static_cast<float>(txLevel);
            frame.rxLevel = static_cast<float>(rxLevel);
            // The canceller measured its output already when it reported the frame.
            frame.outputLevel = static_cast<float>(
                report.valid != 0 ? report.residualLevel : engine.BlockLevel(outputFrame, kFrameLength));
            frame.cancellation = static_cast<float>(report.cancellation);
            frame.mode = static_cast<std::int8_t>(state.mode);
            frame.adaptState = static_cast<std::int8_t>(state.adaptState);
            frame.nlpActed = report.nlpActed != 0;
            frame.counted = PassStatistics::Counts(report);
            frame.levelFrame = secondHalf;
            frame.rxLevelFrame = rxApplies;
            frame.nearEndAlone = report.nearEndAlone != 0;
            analysis->frames.push_back(frame);
        }

        // A lost output frame would be corrupted data reported as a finished run.
        if (!output.FrameDone()) {
            run.Detail(settings.outPath, std::strerror(errno));
            return Failed(testmessages::kCannotWrite);
        }
        ui.SetProgressPos(p);
        if (!ui.KeepGoing()) {
            return {false, nullptr, true};
        }
    }
    if (!output.Flush()) {
        run.Detail(settings.outPath, std::strerror(errno));
        return Failed(testmessages::kCannotWrite);
    }

    stats.Finish(settings, results);
    if (analysis != nullptr) {
        RecordEchoPath(state, analysis->echoPath);
    }
    return {true, nullptr};
}

// Everything of the run after the settings check. Allocation failures propagate to RunTest.
Outcome RunCaptures(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                    TestUi& ui, RunResources& run, AnalysisRecord* analysis)
{
    int count = 0;
    if (const Outcome read = ReadCaptures(settings, run, count); read.message != nullptr) {
        return read;
    }
    if (analysis != nullptr) {
        analysis->sampleCount = count;
        CaptureChecks& checks = analysis->captures;
        checks.measured = true;
        CheckCapture(run.txWork.data(), count, checks.txClipShare, checks.txMean);
        CheckCapture(run.rxWork.data(), count, checks.rxClipShare, checks.rxMean);
    }
    if (settings.highPass != 0) {
        engine.HighPassFilterPair(run.rxWork.data(), run.txWork.data(), count);
    }

    // The Rx capture is not screened: it may be silent.
    const int activity =
        testthresholds::ActivityPercent(CountVoiceBlocks(engine, run.txWork.data(), count), count);
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

    const Outcome outcome = RunCancellationPass(engine, settings, results, ui, run, count, analysis);
    if (outcome.result && !run.output.Finish()) {
        run.Detail(settings.outPath, "the WAV header could not be completed");
        return Failed(testmessages::kCannotWrite);
    }
    return outcome;
}

}  // namespace

int EchoTester::FindLoudestSegment(const std::int16_t* tx, int count, DelayTemplate& segment) const
{
    // Windows from the middle of the capture to 1800 samples before the end of its third
    // quarter, so that every lag of the search stays inside the Rx capture.
    const int first = count / 2;
    const int bound = count - count / 4 - kLagCount;
    if (first >= bound) {
        return 0;
    }
    // The filter runs from the start of the capture but stops after the last window; only the
    // part the windows read is kept.
    const int last = first + (bound - 1 - first) / kSegmentStep * kSegmentStep;
    SampleBuffer filtered(last + kSegmentLength - first);
    UpperBandFilter(tx, filtered.data(), first, last + kSegmentLength);

    double bestLevel = kLevelFloor;
    int chosen = 0;
    for (int start = first; start < bound; start += kSegmentStep) {
        const double level = BlockLevel(filtered.data() + (start - first), kSegmentLength);
        if (level > bestLevel) {  // strict: the earliest of equally loud windows wins
            bestLevel = level;
            std::copy_n(tx + start, kSegmentLength, segment.begin());
            chosen = start;
        }
    }
    return chosen;
}

int EchoTester::EstimateDelay(const std::int16_t* rx, const std::int16_t* tx, int count,
                              DelaySearchRecord* record) const
{
    DelayTemplate segment{};
    const int origin = FindLoudestSegment(tx, count, segment);
    if (origin <= 0) {
        return 0;
    }
    if (record != nullptr) {
        record->measured = true;
        record->windowStart = origin;
        record->correlation.assign(kLagCount, 0.0);
    }
    double bestCorrelation = 0.0;
    int delay = 0;
    for (int lag = 0; lag < kLagCount; ++lag) {
        const double c = std::fabs(BlockCorrelation(rx + origin + lag, segment.data(), kSegmentLength));
        if (record != nullptr) {
            record->correlation[static_cast<std::size_t>(lag)] = c;
        }
        if (c > bestCorrelation) {  // strict: the smallest of equal lags wins; NaN never does
            bestCorrelation = c;
            delay = lag;
        }
    }
    if (record != nullptr) {
        record->peakLag = delay;
        record->peak = bestCorrelation;
        for (int lag = 0; lag < kLagCount; ++lag) {
            const double c = record->correlation[static_cast<std::size_t>(lag)];
            if (std::abs(lag - delay) > kSecondPeakDistance && c > record->second) {
                record->second = c;
                record->secondLag = lag;
            }
        }
        if (bestCorrelation > 0.0) {
            record->confidence = record->second > 0.0 ? bestCorrelation / record->second
                                                      : std::numeric_limits<double>::infinity();
        }
        // Rx ahead of Tx: a window starts at count / 2 or later, so origin - lag stays >= 0.
        for (int lag = 1; lag < kLagCount; ++lag) {
            const double c = std::fabs(BlockCorrelation(rx + origin - lag, segment.data(), kSegmentLength));
            if (c > record->bestNegative) {
                record->bestNegative = c;
                record->bestNegativeLag = lag;
            }
        }
    }
    return delay;
}

double EchoTester::EstimateErl(const std::int16_t* tx, const std::int16_t* rx, int count,
                               int delay, ErlRecord* record) const
{
    if (record != nullptr) {
        record->measured = true;
        record->loudestTxBlock = -std::numeric_limits<double>::infinity();
    }
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
    const std::int16_t* bestRx = nullptr;
    double bestTxLevel = 0.0;
    for (int k = 0; k < blocks; ++k) {
        const std::int16_t* t = tx + k * kErlBlock;
        const std::int16_t* r = rx + delay + k * kErlBlock;
        const double txLevel = BlockLevel(t, kErlBlock);
        if (record != nullptr) {
            ++record->blocks;
            record->qualifyingBlocks += testthresholds::QualifiesForErl(txLevel) ? 1 : 0;
            record->loudestTxBlock = std::max(record->loudestTxBlock, txLevel);
        }
        if (testthresholds::QualifiesForErl(txLevel)) {
            const double c = std::fabs(BlockCorrelation(t, r, kErlBlock));
            if (c > bestCorrelation) {  // strict: the earliest of equal pairs wins
                bestCorrelation = c;
                bestRx = r;
                bestTxLevel = txLevel;
            }
        }
    }
    // Only the kept pair's Rx level is ever used.
    return bestRx != nullptr ? bestTxLevel - BlockLevel(bestRx, kErlBlock) : 0.0;
}

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
