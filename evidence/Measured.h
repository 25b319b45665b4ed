// Measured: for each of the report's four verdicts, whether the run measured it (OK or CHECK)
// or could not (the reason, in words). The report's lines keep their text; this is what the
// batch's Result, the JSON, summary.csv and the exit status read, so that a figure resting on
// nothing is never counted as a failed measurement. The cause-first message is here too, for
// every front end that shows a run's message.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "evidence/Findings.h"

namespace tarnwell {

enum class Reading { kNotMeasured, kCheck, kOk };

struct VerdictReading {
    Reading reading = Reading::kNotMeasured;
    std::string reason;  // what the capture lacks, when not measured; empty otherwise
};

// The reasons a verdict is not measured, as the findings and the JSON give them.
namespace unmeasured {
inline constexpr const char* kNoNearEnd =
    "no near-end speech in the second half: talk at the far end of the line for the last third of the "
    "capture, or ignore the levels row";
inline constexpr const char* kNoFarEnd =
    "no Tx speech above -40 dBm0 in the second half: keep far-end speech or the test signal going to the "
    "end of the capture";
inline constexpr const char* kNoErlBlock =
    "no 100 ms Tx block lies between -20 and -10 dBm0, so no block pair could be measured: play the far-end "
    "speech or the test signal at -20..-10 dBm0";
inline constexpr const char* kGate = "the ERL gate stopped the cancellation before it ran";
inline constexpr const char* kNoEcho = "no echo was found, so it rests on nothing: check that Rx carries the "
                                       "line's return and that the far end was connected";
// What puts swapped captures right depends on where they came from: the settings finding says it.
inline constexpr const char* kSwapped =
    "the captures look swapped, so it rests on no echo after Tx: the settings finding says what to fix";
inline constexpr const char* kIdentical =
    "Tx and Rx hold the same samples, so there is no echo for it to rest on";
inline constexpr const char* kNoRun = "the run ended before it could be measured";
}  // namespace unmeasured

// The four verdicts in the report's order: delay, ERL, residual, levels.
inline constexpr std::array<const char*, 4> kVerdictKeys{"delay", "erl", "residual", "levels"};

struct Verdicts {
    // In kVerdictKeys' order; none measured until a run says otherwise.
    std::array<VerdictReading, 4> items{{{Reading::kNotMeasured, unmeasured::kNoRun},
                                         {Reading::kNotMeasured, unmeasured::kNoRun},
                                         {Reading::kNotMeasured, unmeasured::kNoRun},
                                         {Reading::kNotMeasured, unmeasured::kNoRun}}};

    const VerdictReading& delay() const { return items[0]; }  // also what the minimal tail rests on
    const VerdictReading& erl() const { return items[1]; }
    const VerdictReading& residual() const { return items[2]; }
    const VerdictReading& levels() const { return items[3]; }  // also the Tx gain decrease's
    int Count(Reading reading) const;
};

// "OK", "CHECK", or nullptr when not measured.
const char* ReadingWord(Reading reading);

// ran: the run returned true. findings: MakeFindings' (a no-echo or swapped finding means the
// delay, the ERL and the cancellation rest on no echo).
Verdicts ReadVerdicts(bool ran, const TestResults& results, const AnalysisRecord& analysis,
                      const std::vector<Finding>& findings);

// The message a user reads first: when a warning finding explains a refusal or a gate (no
// echo, swapped or identical captures, a Tx too quiet or loud for the ERL), its first clause, then the seed's
// message ("No echo found; Echo Return Loss (ERL) is less than 6 dB. Cancellation stopped").
// Otherwise the seed's message as it is.
std::string CauseFirst(const std::vector<Finding>& findings, const std::string& seedMessage);

}  // namespace tarnwell
