// Findings: the reasons behind a run's verdicts and the warnings its evidence gives, each as
// a code, a severity and one sentence with its figures. Made in this one place from the
// settings, the results and the analysis record, for the window, the plain report and JSON.
// Findings come after the report and never replace its lines or verdicts.
#pragma once

#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"

namespace tarnwell {

enum class Severity { Info, Warning };

struct Finding {
    std::string code;   // stable, for scripts: "no-echo", "delay-window", ...
    Severity severity = Severity::Info;
    std::string text;   // one sentence with its figures
};

const char* SeverityName(Severity severity);   // "info", "warning"

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
// prompts at -17 dBm0 through each G.168 model D.2..D.9 at ERL 6, 10 and 20 dB and bulk
// delay 0, 100, 300 and 1200 (96 captures, line noise at -62 dBm0), the shipped samples and
// the faults. "far" is the highest peak further from the main one than an echo path spans.
//
// | captures                                 | peak / median | far / peak  | seed - whitened |
// |------------------------------------------|---------------|-------------|-----------------|
// | D.2..D.9, 96 captures                    | 219 to 1739   | 0.01 - 0.03 | see below       |
// | shipped samples                          | 375           | 0.03        | 1               |
// | double talk, near speech at -20 dBm0     | 164           | 0.04        | 1               |
// | hum, soft-clipped echo                   | 888 to 1045   | 0.01        | 1               |
// | delay drifting 100 ppm either way        | 41, 52        | 0.29, 0.34  | 0, 2            |
// | delay jumping 80 smp halfway             | 196           | 0.23        | 81              |
// | two echoes (106 and 706 smp, 10, 12 dB)  | 552           | 0.56        | 1               |
// | independent speech, noise at -30 dBm0    | 7, 5          | 0.98, 0.99  | -               |
// | swapped files (peak at -106 smp)         | 978           | 0.01        | -               |
//
// The seed's Real Delay against the whitened peak, by model: D.7 0, D.2 1, D.9 3, D.6 5,
// D.3 and D.8 13 to 14, D.4 21, D.5 51 smp (its template lands on the dispersive tail).
//
// The whitened peak stands out (an echo) above this many times the median: 2.3 times the
// highest non-echo, 2.6 times below the lowest echo (a drifting one).
inline constexpr double kWhitenedEcho = 16.0;
// A second echo: a far peak of at least this share of the main one (and standing out on its
// own). Between a drift's smear (0.34) and two echoes 2 dB apart (0.56).
inline constexpr double kSecondEcho = 0.45;
// The seed's Real Delay and the whitened peak agree within this many samples: past the
// models whose largest tap the template finds (0 to 5), short of the dispersive ones (13+).
inline constexpr int kDelayAgreement = 8;
// The delay over time: a stretch counts when its own peak stands out as above; a jump or a
// drift needs the delay to move by more than 2 samples, with the points within 1 sample of
// the step or the line, and a step that fits at least 3 times closer than the line.
inline constexpr double kTrackEcho = kWhitenedEcho;
inline constexpr double kDelayMove = 2.0;
inline constexpr double kTrendFit = 1.0;
inline constexpr double kStepOverLine = 3.0;
}  // namespace findingthresholds

// ran: the run returned true (a report is shown); deviceType selects the presets row.
std::vector<Finding> MakeFindings(const TestSettings& settings, int deviceType, bool ran,
                                  const TestResults& results, const AnalysisRecord& analysis);

}  // namespace tarnwell
