// Sweep: the canceller's settings tried over a user's own capture. The captures are read,
// filtered and searched for the delay once; then one pass per setting (tail x bulk delay x NLP
// diff x NLP shift) runs on the shared runner. Per setting: the pass's cancellation and
// residual with its verdict, the ERLE over the second half and how fast it converged; and a
// recommendation by measurement set against the report's Minimal tail.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "engine/EchoTester.h"
#include "engine/TestSettings.h"
#include "engine/TestUi.h"
#include "evidence/ChartData.h"
#include "evidence/PassRunner.h"

namespace tarnwell {

// The values tried along each axis; every combination is one pass.
struct SweepGrid {
    std::vector<int> tails;      // taps, 0..1024
    std::vector<int> delays;     // bulk delay, samples, 0..8000
    std::vector<int> nlpDiffs;   // dB, 0..100
    std::vector<int> nlpShifts;  // 6 dB steps, 0..10
    // Also the report's Minimal tail for the delay found, in its place among the tails, so
    // that the recommendation can be set against it.
    bool withMinimalTail = false;
};

inline constexpr double kUnmeasured = std::numeric_limits<double>::quiet_NaN();

struct SweepPoint {
    TestSettings settings;        // the base settings with this point's tail, delay and NLP
    bool ran = false;             // false: the sweep was stopped before this pass
    TestResults results;          // as a single run with these settings reports them
    double erleDb = kUnmeasured;  // Rx over output power, second half, frames of echo alone; NaN: none
    double convergedSeconds = kUnmeasured;  // NaN: the cancellation never held above the NLP diff
    int nlpFrames = 0;                      // frames the NLP attenuated; a shift of 0 attenuates none
};

// The smallest tail within kRecommendationMarginDb of the best cancellation, among the settings
// whose delay and residual verdicts are OK.
inline constexpr double kRecommendationMarginDb = 1.0;

struct SweepRecommendation {
    int best = -1;        // point with the highest cancellation; -1: no pass cancelled
    int chosen = -1;      // the recommended point
    int minimalTail = 0;  // the report's Minimal tail for the delay found
    int atMinimalTail =
        -1;            // the point at the Minimal tail with the chosen point's other settings; -1: not swept
    std::string text;  // the finding, in words
};

struct SweepOutcome {
    bool ready = false;              // false: the captures could not be used (the message went to the ui)
    bool stopped = false;            // stopped before every pass ran
    int delay = 0;                   // echo delay found, samples
    double erl = 0.0;                // dB
    std::vector<SweepPoint> points;  // delay, then NLP diff, then NLP shift, then tail, each as given
    SweepRecommendation recommendation;
};

// Every setting of the grid over base (tail fastest), in the order the points are reported.
std::vector<TestSettings> SweepSettings(const TestSettings& base, const SweepGrid& grid);

// The whole sweep. ui hears the preparation's status and message; control gives the threads,
// the progress (passes done) and the stop flag.
SweepOutcome RunSweep(const EchoTester& engine, const TestSettings& base, int deviceType,
                      const SweepGrid& grid, TestUi& ui, const RunnerControl& control);

// The recommendation over points that ran; minimalTail is the report's for the delay found.
SweepRecommendation Recommend(const std::vector<SweepPoint>& points, int minimalTail);

// Time in seconds from which the canceller's frame cancellation holds above nlpDiff: the
// first frame after which a whole second of frames with a figure (at least kHoldFrames of
// them) are all above it. NaN when it never does.
inline constexpr int kHoldFrames = 10;
double ConvergedSeconds(const std::vector<float>& frameCancellation, int nlpDiff);

// One CSV with a header line: a row per point.
std::string SweepCsv(const SweepOutcome& outcome);

// The terminal table and the recommendation.
std::string SweepTable(const SweepOutcome& outcome);

// Cancellation against tail, one line per bulk delay and NLP setting, with the measured tail
// and the Minimal tail marked; its table is a row per pass that ran.
ChartView SweepView(const SweepOutcome& outcome);

}  // namespace tarnwell
