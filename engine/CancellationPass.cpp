// The cancellation pass over the whole capture, its output file and its record.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "canceller/FixedPoint.h"
#include "engine/PassStatistics.h"
#include "engine/TestMessages.h"
#include "engine/TestRun.h"

namespace tarnwell::testrun {

namespace {

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

// The output file written a block of frames at a time: a write per frame costs about as much
// as the canceller's work on the frame at short tails. The frames go straight into the block.
class OutputBlocks {
public:
    static constexpr int kFrames = 100;  // one second

    // Without a file the frames are kept only until the block is full.
    OutputBlocks(OutputFile* file, SampleBuffer& block) : file_(file), block_(block)
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
        return file_ == nullptr || file_->WriteAll(block_.data(), bytes);
    }

private:
    OutputFile* file_;
    SampleBuffer& block_;
    int used_ = 0;
};

}  // namespace

Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                            TestUi& ui, RunResources& run, int count, AnalysisRecord* analysis)
{
    const PassInput input{run.rxWork.data(), run.txWork.data(), count, &run.output};
    return RunCancellationPass(engine, settings, input, results, ui, run, analysis);
}

Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings, const PassInput& input,
                            TestResults& results, TestUi& ui, RunResources& run, AnalysisRecord* analysis)
{
    const int count = input.count;
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

    OutputBlocks output(input.output, run.outputBlock);
    results.cancellation = 0.0;

    const std::int16_t* rx = input.rx;
    const std::int16_t* tx = input.tx;
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
        double txLevel = 0.0;  // wanted whenever the Rx level is
        double rxLevel = 0.0;
        if (rxApplies || recording) {
            engine.BlockLevelPair(referenceFrame, nearFrame, kFrameLength, txLevel, rxLevel);
        } else if (secondHalf) {
            txLevel = engine.BlockLevel(referenceFrame, kFrameLength);
        }
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

}  // namespace tarnwell::testrun
