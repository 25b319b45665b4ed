// Advice: the one place that turns a run's evidence about the echo into the bulk delay and tail
// to set on the chosen device, or into why no setting can be given. Every finding that advises
// a setting takes its advice from here, so no two of them point different ways.
#pragma once

#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"

namespace tarnwell {

// Which way advice moves one setting; None when it leaves it as it is.
enum class Move { None, Raise, Lower };

// What a device row allows: its bulk delay is fixed at minBulkDelay, or editable up to
// maxBulkDelay; its tail is editable on every row, up to the canceller's taps.
struct DeviceLimits {
    bool bulkDelayFixed = false;
    int minBulkDelay = 0;  // samples
    int maxBulkDelay = 0;
    int maxTail = 0;
};

DeviceLimits LimitsOf(int deviceType);

// What the captures say about the echo, as the advice needs it.
struct EchoEvidence {
    enum class State {
        Found,      // an echo after Tx, at the delays below
        None,       // no echo in Rx
        Swapped,    // the echo arrives in Tx: the captures are the wrong way round
        Repeating,  // Tx repeats itself: no one delay can be read
        Identical,  // Tx and Rx hold the same samples
        Unmeasured  // the run ended before the echo was looked for
    };
    State state = State::Unmeasured;
    // The witnesses of the echo's delay, samples; -1 where one has nothing to say.
    int realDelay = -1;     // the report's Real Delay
    int whitenedPeak = -1;  // the whitened correlation's peak
    int pathPeak = -1;      // the echo path's largest tap
    // The echo path's 99 % energy span, samples after Tx; -1 when the path cannot tell (it did
    // not run, or its window did not hold the echo). cutOff: the span reaches the end of the
    // window the path was measured in, so the echo runs on past spanLast.
    int spanFirst = -1;
    int spanLast = -1;
    bool cutOff = false;
    // For what to change in the capture when there is no setting.
    CaptureSource source = CaptureSource::kTwoFiles;
    int txChannel = 0;  // as the run was given it: 0, 1, or negative when found by the run
    int sampleCount = 0;
    bool samePath = false;  // Tx and Rx named by one path
};

struct Advice {
    enum class Kind {
        Keep,        // the settings in use cover the echo
        Set,         // set bulkDelay and tail
        OutOfReach,  // the device's fixed bulk delay keeps every tail away from the echo
        NoSetting,   // no echo to set for, or captures to fix first
        Unmeasured   // nothing to advise on
    };
    Kind kind = Kind::Unmeasured;
    int bulkDelay = 0;  // Keep and Set: the setting to use, samples
    int tail = 0;
    Move bulkDelayMove = Move::None;  // from the settings in use to the ones advised
    Move tailMove = Move::None;
    // What a setting must cover: a bulk delay at most latestBulkDelay, and a window that ends
    // (bulk delay + tail) at windowEnd or later.
    int latestBulkDelay = 0;
    int windowEnd = 0;
    std::vector<int> rowsThatReach;  // OutOfReach: the device rows that can cover the echo
    std::string text;                // the settings finding's sentence
    std::string clause;              // "; raise the tail to 128", for a finding that advises too
    std::string fix;                 // swapped captures: what puts them right, "give --tx-channel 1"
};

// The samples a setting leaves before the echo, and the steps bulk delay and tail are set in.
// Followed from a row's presets by scripts/measure-advice.py over the 96 G.168 captures of
// make-evidence-table.py (speech through D.2..D.9, ERL 6/10/20 dB, bulk delay 0/100/300/1200):
//
// | row                    | Keep at once | after 1 run | after 2 runs | out of reach | delay verdict at the
// end |
// |------------------------|--------------|-------------|--------------|--------------|--------------------------|
// | 9, editable (80 / 128) | 21           | 69          | 6            | 0            | OK on all 96 | | 0,
// fixed (100 / 64)    | 3            | 45          | 0            | 48           | OK on the 48 reached     |
//
// The second run: D.7 at ERL 10 and 20, whose path, first seen through the advised window,
// runs on past it. Out of reach: the echo before the fixed 100 (bulk delay 0) or past 100 +
// 1024 (bulk delay 1200); rows 2, 5, 7, 8 and 9 named for each.
namespace advicethresholds {
inline constexpr int kLead = 8;  // 1 ms before the echo's first sample
inline constexpr int kBulkDelayStep = 10;
inline constexpr int kTailStep = 16;  // 2 ms; 1024 is a whole number of steps
}  // namespace advicethresholds

// The advice for the settings in use (bulkDelay, tail) on deviceType's row.
Advice Advise(const EchoEvidence& evidence, int bulkDelay, int tail, int deviceType);

}  // namespace tarnwell
