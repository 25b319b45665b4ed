// The screens and gates of a test run as named predicates. Every decision is a strict
// comparison, so NaN and -inf fail each of them: a silent block is never active, never
// qualifies for the ERL, and an ERL that could not be measured never passes the gate.
#pragma once

#include <climits>
#include <cstdint>

namespace tarnwell {

namespace testthresholds {

inline constexpr int kSampleRate = 8000;            // samples per second of every capture read
inline constexpr std::int64_t kMinSamples = 40000;  // 5 s at 8 kHz; a capture must be longer

// Longest capture the run takes, in samples (about 37 hours). Keeps N, every frame offset
// p + 80, the progress range and the activity numerator 100 * (N / 80) inside an int, and
// 2N bytes inside a size_t.
inline constexpr int kMaxSamples = 1 << 30;
static_assert(kMaxSamples <= INT_MAX - 80);
static_assert(static_cast<std::int64_t>(kMaxSamples / 80) * 100 <= INT_MAX);

inline constexpr int kScreenBlock = 80;  // samples per voice-activity block (10 ms)

constexpr bool IsLongEnough(std::int64_t samples) { return samples > kMinSamples; }
constexpr bool IsTooLong(std::int64_t samples) { return samples > kMaxSamples; }

// A 10 ms Tx block carries voice when its level is above -50 dBm0.
constexpr bool IsVoiceBlock(double level) { return level > -50.0; }

// Percentage of active blocks over all whole blocks of the capture, both divisions rounding down.
constexpr int ActivityPercent(int activeBlocks, int samples)
{
    const int wholeBlocks = samples / kScreenBlock;
    return wholeBlocks > 0 ? activeBlocks * 100 / wholeBlocks : 0;
}
// At least 11 percent.
constexpr bool HasEnoughActivity(int percent) { return percent > 10; }

// The last 48 taps of the tail cannot hold the echo's peak: its decay needs them.
inline constexpr int kTailMargin = 48;

// Delay inside the canceller's window: bulkDelay < delay < bulkDelay + tail - 48.
constexpr bool DelayInWindow(int delay, int bulkDelay, int tail)
{
    return bulkDelay < delay && delay < bulkDelay + tail - kTailMargin;
}

// The window's first and last delay (none when last < first), and what brings a delay into
// it: the least tail for a bulk delay, or the least bulk delay for a tail.
constexpr int FirstDelayInWindow(int bulkDelay) { return bulkDelay + 1; }
constexpr int LastDelayInWindow(int bulkDelay, int tail) { return bulkDelay + tail - kTailMargin - 1; }
constexpr int TailForDelay(int delay, int bulkDelay) { return delay - bulkDelay + kTailMargin + 1; }
constexpr int BulkDelayForDelay(int delay, int tail) { return delay - tail + kTailMargin + 1; }
static_assert(DelayInWindow(LastDelayInWindow(100, 64), 100, 64) &&
              !DelayInWindow(LastDelayInWindow(100, 64) + 1, 100, 64));
static_assert(DelayInWindow(200, 100, TailForDelay(200, 100)) &&
              !DelayInWindow(200, 100, TailForDelay(200, 100) - 1));
static_assert(DelayInWindow(1300, BulkDelayForDelay(1300, 1024), 1024) &&
              !DelayInWindow(1300, BulkDelayForDelay(1300, 1024) - 1, 1024));

// A Tx block takes part in the ERL estimate when it lies strictly between these levels.
inline constexpr double kErlTxLow = -20.0;   // dBm0
inline constexpr double kErlTxHigh = -10.0;  // dBm0
constexpr bool QualifiesForErl(double txLevel) { return txLevel > kErlTxLow && txLevel < kErlTxHigh; }

// The run cancels only when the ERL is above 6 dB; 6.0 itself stops it.
inline constexpr double kErlGate = 6.0;  // dB
constexpr bool PassesErlGate(double erl) { return erl > kErlGate; }

// The residual and levels verdicts of the pass (each bound strict).
inline constexpr double kResidualLimit = -50.0;  // dBm0: the residual must stay below
inline constexpr double kTxLevelLow = -40.0;     // dBm0: the Tx average must lie between
inline constexpr double kTxLevelHigh = -3.0;     // dBm0
inline constexpr double kMaxTxOverRx = 6.0;      // dB: Tx may exceed Rx by less than this

// What the pass averages: frames that adapted at normal or fast speed and measured more
// cancellation than this; second-half blocks louder than the speech floor, and each level
// only from more blocks than kMinLevelBlocks.
inline constexpr double kCountedCancellation = 2.0;  // dB
inline constexpr double kSpeechFloor = -40.0;        // dBm0
inline constexpr int kMinLevelBlocks = 10;

}  // namespace testthresholds

}  // namespace tarnwell
