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
}  // namespace findingthresholds

// ran: the run returned true (a report is shown); deviceType selects the presets row.
std::vector<Finding> MakeFindings(const TestSettings& settings, int deviceType, bool ran,
                                  const TestResults& results, const AnalysisRecord& analysis);

}  // namespace tarnwell
