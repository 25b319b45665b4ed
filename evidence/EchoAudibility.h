// EchoAudibility: whether the talker at the far end will hear the echo that is left, from the
// talker echo loudness rating (TELR) and the one-way delay, through the talker-echo part of
// the ITU-T G.107 E-model with its default values. An estimate: the run measures levels in
// dBm0, not loudness-weighted ratings.
#pragma once

#include <optional>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "evidence/Findings.h"

namespace tarnwell {

namespace emodel {
// G.107 (clause 3.7, default values): send and receive loudness ratings of the talker's set.
inline constexpr double kSlr = 8.0;
inline constexpr double kRlr = 2.0;
// The acceptability limit: the talker echo impairment Idte at most 10 R points. G.131
// (11/2003, clause 3, Figure 1) draws the talker echo tolerance as TELR against the mean
// one-way transmission time T; its "acceptable" curve (about 1 % of talkers object) reads
// near 38 dB at 25 ms, 55 dB at 150 ms and 60 dB at 300 ms, and Idte = 10 on the E-model's
// defaults traces it within about 1 dB there (tests/evidence/EchoAudibilityTest.cpp).
inline constexpr double kIdteAcceptable = 10.0;
// Longest one-way delay the limit is searched to; past it the echo counts as acceptable at any
// delay (the E-model's echo term saturates: TELR 66 dB and more never reach the limit).
inline constexpr double kLongestDelayMs = 5000.0;

// G.107 clause 3.4: the talker echo impairment for a TELR (dB) at a mean one-way delay T (ms).
double TalkerEchoImpairment(double telr, double oneWayMs);
// The longest one-way delay (ms) at which telr stays acceptable; nullopt: at any delay up to
// kLongestDelayMs.
std::optional<double> DelayLimitMs(double telr);
// The smallest TELR (dB) that is acceptable at a one-way delay (ms).
double TelrNeeded(double oneWayMs);
}  // namespace emodel

// The run's echo as the talker hears it, or nullopt when there is nothing to rest on (no echo
// found, no ERL measured). networkDelayMs: the one-way delay between the far talker and the
// gateway, when the user gave it.
std::optional<Finding> EchoAudibilityFinding(const TestResults& results, const AnalysisRecord& analysis,
                                             std::optional<int> networkDelayMs);

}  // namespace tarnwell
