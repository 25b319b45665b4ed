// A pcap file as both captures: the call's G.711 streams decoded onto one timeline, Tx chosen
// by the settings or, failing them, as the direction whose signal leads.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>

#include <unistd.h>

#include "engine/PcapReader.h"
#include "engine/RtpStreams.h"
#include "engine/TestMessages.h"
#include "engine/TestRun.h"
#include "engine/TestThresholds.h"

namespace tarnwell::testrun {

bool RxLeads(const std::int16_t* tx, const std::int16_t* rx, int count)
{
    const auto tester = std::make_unique<EchoTester>();
    DelaySearchRecord search;
    tester->EstimateDelay(rx, tx, count, &search);
    return search.bestNegative > search.peak;
}

bool IsPcapFile(const FileHandle& file)
{
    std::uint8_t head[4] = {};
    return ::pread(file.Descriptor(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           IsPcapMagic(head, sizeof head);
}

Outcome ReadPcapCaptures(const TestSettings& settings, RunResources& run, int& count)
{
    const std::string name = std::filesystem::path(settings.txPath).filename().string();
    PcapContents contents;
    if (!ReadPcap(run.tx.Descriptor(), name, contents, run.refusal)) {
        return Failed(run.refusal.c_str());
    }
    const std::vector<RtpStream> streams = FindRtpStreams(contents);
    RtpCall call;
    std::string why;
    if (!ChooseCall(streams, {settings.txSsrc, settings.gateway}, call, why)) {
        run.refusal = name + ": " + why;
        return Failed(run.refusal.c_str());
    }
    std::vector<std::int16_t> tx;
    std::vector<std::int16_t> rx;
    // One sample more than the longest run, so that the length screen below says "too large".
    if (!DecodeCall(contents, streams, call, std::int64_t{testthresholds::kMaxSamples} + 1, tx, rx, run.notes,
                    why)) {
        run.refusal = name + ": " + why;
        return Failed(run.refusal.c_str());
    }
    const std::int64_t samples = static_cast<std::int64_t>(std::min(tx.size(), rx.size()));
    if (!testthresholds::IsLongEnough(samples)) {
        return Failed(testmessages::kCheckSize);
    }
    if (testthresholds::IsTooLong(samples)) {
        return Failed(testmessages::kTooLarge);
    }
    count = static_cast<int>(samples);
    if (!call.directionChosen) {
        // The direction nobody named: the side whose signal leads is Tx.
        if (RxLeads(tx.data(), rx.data(), count)) {
            std::swap(tx, rx);
            std::swap(call.tx, call.rx);
        }
        run.notes.push_back({false, "call-direction",
                             "Tx taken as " + StreamName(streams[call.tx.front()]) +
                                 ", whose signal leads; --tx-ssrc or --gateway says otherwise"});
    }
    run.rxWork = SampleBuffer::ForOverwrite(count);
    run.txWork = SampleBuffer::ForOverwrite(count);
    std::copy_n(tx.begin(), count, run.txWork.data());
    std::copy_n(rx.begin(), count, run.rxWork.data());
    return {true, nullptr};
}

}  // namespace tarnwell::testrun
