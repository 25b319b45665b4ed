// TestSettings: what the Run command hands to a test run; TestResults: what the run fills in.
// The caller zeroes TestResults before the run ({}); the run adds into some of its members.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "canceller/CancellerState.h"

namespace tarnwell {

// How a capture without a recognised header (WAV, AU, AIFF) is read; one with a header says
// for itself.
enum class HeaderlessFormat : std::int32_t {
    kByName,  // .al and .alaw: A-law; .ul and .ulaw: µ-law; any other name: 16-bit PCM
    kPcm16,   // 16-bit little-endian PCM
    kALaw,
    kULaw,
};

// An output path that means the process's standard output as it is: written through
// descriptor 1, never reopened or truncated.
inline constexpr const char* kStandardOutputPath = "/dev/stdout";

struct TestSettings {
    std::string txPath;          // Tx capture: sent towards the line, the canceller's reference
    std::string rxPath;          // Rx capture: back from the line, carries the echo
    std::string outPath;         // cancelled Rx output, created or truncated by the run
    std::int32_t delay = 0;      // bulk delay, samples, 0..8000
    std::int32_t tail = 0;       // filter length, samples, 0..1024
    std::int32_t nlpEnable = 0;  // passed to the canceller; the front ends give 1
    std::int32_t nlpDiff = 0;    // NLP threshold, dB, 0..100
    std::int32_t nlpShift = 0;   // NLP attenuation in 6 dB steps, 0..10
    std::int32_t highPass = 0;   // non-zero: high-pass both captures first
    // A two-channel file named as both captures carries Tx in this channel (0; positive: 1)
    // and Rx in the other; negative: in the channel whose signal leads.
    std::int32_t txChannel = 0;
    HeaderlessFormat headerless = HeaderlessFormat::kByName;
    // A pcap file named as both captures holds a call: Tx is this SSRC's stream, or the one
    // sent to this gateway address; with neither, the stream whose signal leads.
    // Non-zero: a capture with a header at another rate or sample type is converted to 16-bit
    // at 8000 samples/s; zero: it is refused.
    std::int32_t resample = 1;
    std::optional<std::uint32_t> txSsrc{};
    std::string gateway{};
};

// The canceller's state is sized for the largest tail and delay; beyond them it cannot run.
static_assert(kMaxTail == 1024 && kMaxBulkDelay == 8000, "the settings message names these limits");

// True when tail, delay, nlpDiff and nlpShift lie within their accepted ranges (bounds included).
inline bool SettingsInRange(const TestSettings& s)
{
    return s.tail >= 0 && s.tail <= kMaxTail && s.delay >= 0 && s.delay <= kMaxBulkDelay && s.nlpDiff >= 0 &&
           s.nlpDiff <= 100 && s.nlpShift >= 0 && s.nlpShift <= 10;
}

struct TestResults {
    std::int32_t delay = 0;       // detected echo delay, samples
    double cancellation = 0.0;    // average cancellation over the counted frames, dB
    double erl = 0.0;             // echo return loss, dB
    double txLevel = 0.0;         // average Tx block level, second half, dBm0
    double rxLevel = 0.0;         // average Rx block level, second half, dBm0
    double residualLevel = 0.0;   // average output level over the counted frames, dBm0
    std::int32_t delayOk = 0;     // 1: delay inside the canceller's window
    std::int32_t erlOk = 0;       // 1: ERL above 6 dB
    std::int32_t levelsOk = 0;    // 1: Tx and Rx levels in range
    std::int32_t residualOk = 0;  // 1: cancellation and residual meet their limits
};

}  // namespace tarnwell
