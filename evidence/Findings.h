// Findings: the reasons behind a run's verdicts and the warnings its evidence gives, each as
// a code, a severity and one sentence with its figures. Made in this one place from the
// settings, the results and the analysis record, for the window, the plain report and JSON.
// Findings come after the report and never replace its lines or verdicts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "evidence/Advice.h"

namespace tarnwell {

enum class Severity { Info, Warning };

struct Finding {
    std::string code;  // stable, for scripts: "no-echo", "delay-window", ...
    Severity severity = Severity::Info;
    std::string text;  // one sentence with its figures
    // Which way the finding's advice moves each setting; all of them follow the "settings"
    // finding's advice.
    Move bulkDelayMove = Move::None;
    Move tailMove = Move::None;
};

const char* SeverityName(Severity severity);  // "info", "warning"

// Thresholds of the findings, each with its reason.
namespace findingthresholds {
// The single-template figures below decide only when the whitened search did not run.
// The delay peak's |c| over the highest |c| more than 8 samples from it. Noise-burst captures
// with an echo at 90..1300 smp and ERL 3..18 dB: 5.7 to 8.0. Independent Rx (noise, or
// reversed speech) and swapped files: 1.03 to 1.13. Voiced speech repeats at its pitch
// period, so a real speech echo can score as low (the shipped samples: 1.05, the next peak
// 41 smp away); the peak's own height tells those apart.
inline constexpr double kNoEchoConfidence = 2.0;
// The delay peak's |c| for an echo to count as found. Independent captures reach at most 0.16
// (noise) to 0.33 (speech) somewhere in 1800 lags; the echoes above 0.95 to 1.0.
inline constexpr double kEchoCorrelation = 0.5;
// A clean capture touches full scale on fewer than 1 sample in 1000; more is clipping.
inline constexpr double kClipShare = 0.001;
// 1 % of full scale (-40 dBFS): far above a codec's own offset, enough to bias levels.
inline constexpr double kDcOffset = 327.68;
// The echo path is cut off when its 99 % span reaches the last millisecond of the tail.
inline constexpr int kTailEdgeTaps = 8;

// The whitened delay search, measured by scripts/make-evidence-table.py: 15 s of speech
// prompts (espeak-ng, 8 kHz) at -17 dBm0 through each G.168 model D.2..D.9 at ERL 6, 10 and
// 20 dB and bulk delay 0, 100, 300 and 1200 (96 captures, line noise at -62 dBm0), the
// shipped samples and the faults. "far" is the highest peak further from the main one than
// an echo path spans; "line fit" the track's mean distance from its best line (samples).
//
// | captures                                 | peak / median | far / peak  | line fit    |
// |------------------------------------------|---------------|-------------|-------------|
// | D.2, D.6, D.7 (sharp paths), 36 captures | 355 to 432    | 0.02 - 0.06 | 0.11 - 0.3  |
// | D.3, D.4, D.5, D.8, D.9 (dispersive), 60 | 120 to 265    | 0.02 - 0.06 | 0.43 - 1.6  |
// | shipped samples                          | 366           | 0.02        | 0.09        |
// | double talk, near speech at -20 dBm0     | 103           | 0.07        | 0.42        |
// | 50 Hz hum, soft-clipped echo             | 365 to 390    | 0.02        | 0.12 - 0.13 |
// | delay drifting 100 ppm either way        | 43, 43        | 0.25, 0.34  | 0.14, 0.20  |
// | delay jumping 80 smp halfway             | 129           | 0.16        | step: 0.13  |
// | two echoes (106 and 706 smp, 10, 12 dB)  | 265           | 0.58        | 0.12        |
// | independent speech, noise at -30 dBm0    | 7, 6          | 0.98, 0.92  | -           |
// | swapped files (peak at -106 smp)         | 384           | 0.02        | 0.15        |
//
// The whitened peak lies within 3 smp of the model's largest tap plus the bulk delay on all
// 96 (D.3: 3 early, the others exact). The seed's Real Delay minus the whitened peak, by
// model: D.7 0, D.2 1, D.9 3, D.6 5, D.8 14, D.3 16, D.4 21, D.5 51 smp (its template lands on
// the dispersive tail).
//
// The whitened peak stands out (an echo) above this many times the median: 2.3 times the
// highest non-echo, 2.7 times below the lowest echo (a drifting one).
inline constexpr double kWhitenedEcho = 16.0;
// A second echo: a far peak of at least this share of the main one (and standing out on its
// own). Between a drift's smear (0.34) and two echoes 2 dB apart (0.58).
inline constexpr double kSecondEcho = 0.45;
// A peak before Tx means swapped files only when it stands this many times above the best
// peak after Tx: a repeating Tx (the full-scale square waves of compare-builds) peaks as high
// on both sides; swapped speech puts nothing above the floor after Tx.
inline constexpr double kSwapMargin = 2.0;
// The seed's Real Delay and the whitened peak agree within this many samples: past the
// models whose largest tap the template finds (0 to 5), short of the dispersive ones (14+).
inline constexpr int kDelayAgreement = 8;
// The delay over time: a stretch counts when its own peak stands out as above; a jump or a
// drift needs the delay to move by more than 2 samples, with the points within kTrendFit of
// the step or the line (2.4 times the drifts' 0.20, 1.4 times below the closest a dispersive
// path's wandering lobes come to a line, 0.72); a jump when the step fits closer than the line.
inline constexpr double kTrackEcho = kWhitenedEcho;
// The ERL line and the echo loss over all qualifying blocks disagree beyond this, dB. On the
// 96 G.168 captures the all-blocks figure lies within -0.6..+0.3 dB of the true ERL; the ERL
// line within -0.7..+0.9 dB on D.2, D.4, D.6, D.7, D.8, and off by +5.1..+5.3 (D.3),
// +2.3..+2.5 (D.5), -2.4..-2.6 dB (D.9), where this finding names it.
inline constexpr double kErlAgreement = 2.0;
// Near-end speech through the whole capture makes Rx louder in every block and the all-blocks
// figure low, so that no block can be told apart as double talk; it shows where Tx is quiet.
// The share of quiet-Tx blocks whose Rx carries speech (above -40 dBm0), and the two ERLs, at
// a true ERL of 10 dB where not named (scripts/make-evidence-table.py):
//
// | captures                                           | near end alone | ERL line | all blocks |
// |----------------------------------------------------|----------------|----------|------------|
// | the 96 G.168 captures, drift, jump, two echoes     | 0.00           |          |            |
// | D.3, D.5, D.9 among them (the finding's own cases) | 0.00           | as above | as above   |
// | shipped samples (near end while Tx is quiet)       | 0.75           | 12.05    | 11.97      |
// | D.2 + near speech at -20 dBm0, with pauses         | 1.00           | 9.70     | 5.89       |
// | D.2 + near speech at -20 dBm0 throughout, no pause | 0.73           | 9.52     | 4.68       |
// | D.3 + near speech at -20 dBm0                      | 1.00           | 8.69     | 5.66       |
// | D.5, D.9 + near speech at -20 dBm0 (gate stopped)  | 1.00, 1.00     | 3.10 2.98| 5.82 5.81  |
// | 50 Hz hum at -35 dBm0 in Rx                        | 1.00           | 9.50     | 9.29       |
//
// Above this share the near end talks through the capture, and an all-blocks figure below
// the line is that speech, not the echo: no warning. Between 0.00 and the lowest near-end
// capture's 0.73, with 2.4 times margin above it. An all-blocks figure above the line is not
// explained by near-end speech (D.5, D.9 with the gate stopped): those still warn.
inline constexpr double kNearEndShare = 0.3;
inline constexpr double kDelayMove = 2.0;
inline constexpr double kTrendFit = 0.5;

// The echo path by frequency and mains hum, measured by scripts/make-evidence-table.py (the
// same 96 G.168 captures and faults as above). "Worst band": the third-octave band with the
// lowest ERL; "dip": the ERL over 200..3400 Hz minus it. Hum: how far the 50 or 60 Hz family
// (4 lines) stands above the spectrum 8..25 Hz around each line, and its fundamental alone.
//
// | captures                                 | worst band ERL | dip          | hum lines / fundamental |
// |------------------------------------------|----------------|--------------|-------------------------|
// | 96 G.168 (D.8 3150 Hz, D.9 2500 Hz worst)| -4.2 and up    | 0.6 to 9.85  | Tx 7.2 / 0.5, Rx 6.5 / 2.2 |
// | shipped samples                          | 11.1           | 0.57         | 1.9 / -0.2, 1.4 / 0.1   |
// | D.2 ERL 12, +20 dB peak at 2.5 kHz       | -6.0           | 13.0         | -                       |
// | D.2 ERL 12, +10 dB at 2 kHz, +12 at 500  | 3.4, 1.0       | 7.8, 6.2     | -                       |
// | D.2 ERL 12, -20 dB notch at 1 kHz        | 11.5           | 1.1          | -                       |
// | two echoes, drift, jump, double talk     | 7.4 to 12.4    | 0.4 to 1.7   | Rx 4.8 to 9.3 / <= 1.2  |
// | 50 Hz -35 dBm0 in Rx (3 lines)           | -              | -            | Rx 21.7 / 26.0          |
// | 50, 60 Hz -40 dBm0 in Tx and Rx          | -              | -            | Tx 10.2, 8.8 / 24, 23;
// Rx 18.3, 23.8 / 26, 29 | | 150 Hz alone in Rx                       | -              | -            |
// Rx 18.3 / 0.3           |
//
// A band's ERL below this, while the ERL line passes, is a badly balanced band...
inline constexpr double kBandErl = 6.0;
// ...when it lies this far under the broadband figure too: the G.168 hybrids themselves dip
// by up to 9.85 dB (D.8 at 3150 Hz, where speech carries little Tx); 1.65 dB above that, 1.5
// dB under the +20 dB peak (13.0).
inline constexpr double kBandDip = 11.5;
// A band's figure counts only where Rx is mostly linear in Tx (all 96 G.168: above 0.97).
inline constexpr double kBandCoherence = 0.5;
// Mains hum: 2 times (dB: 4.7) above the highest non-hum (two echoes' 9.3), 4.3 dB under the
// weakest hum in Rx (18.3); a hum 23 dB under loud Tx speech (Tx 10.2) is not named.
inline constexpr double kHumRise = 14.0;
// ...with its fundamental's own line standing out: voiced speech at a steady 100 or 120 Hz
// pitch has lines at the harmonics of 50 or 60 Hz, never at 50 or 60 Hz. Non-hum at most 2.3,
// hum at least 23.
inline constexpr double kHumFundamental = 10.0;
}  // namespace findingthresholds

// The advice the "settings" finding gives, with its setting as numbers.
Advice RunAdvice(const TestSettings& settings, int deviceType, bool ran, const TestResults& results,
                 const AnalysisRecord& analysis);

// ran: the run returned true (a report is shown); deviceType selects the presets row;
// networkDelayMs: the one-way delay to the far talker, when the user gave it.
std::vector<Finding> MakeFindings(const TestSettings& settings, int deviceType, bool ran,
                                  const TestResults& results, const AnalysisRecord& analysis,
                                  std::optional<int> networkDelayMs = std::nullopt);

}  // namespace tarnwell
