#include "evidence/Advice.h"

#include <algorithm>
#include <climits>

#include "canceller/CancellerState.h"
#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"
#include "evidence/Findings.h"
#include "ui/Report.h"

namespace tarnwell {

namespace {

using namespace advicethresholds;
using testthresholds::kTailMargin;
using text::Format;

// What a setting must cover: a bulk delay at most latest, a window ending at end or later.
struct Need {
    int latest = 0;
    int end = 0;
    int first = 0;  // the earliest and latest witness of the delay, for the sentence
    int last = 0;
};

// Each witness's delay inside the window with the tail's margin after it (the delay verdict's
// rule), and the echo path's span inside the window.
Need NeedOf(const EchoEvidence& e, bool withRealDelay)
{
    Need need{INT_MAX, INT_MIN, INT_MAX, INT_MIN};
    const int span[] = {withRealDelay ? e.realDelay : -1, e.whitenedPeak, e.pathPeak};
    for (const int delay : span) {
        if (delay >= 0) {
            need.first = std::min(need.first, delay);
            need.last = std::max(need.last, delay);
        }
    }
    if (need.first == INT_MAX) {
        return need;
    }
    need.latest = need.first - 1;
    need.end = need.last + kTailMargin + 1;
    if (e.spanFirst >= 0) {
        need.latest = std::min(need.latest, e.spanFirst);
        // The span clear of the window's last taps, where it would read as cut off. A path cut
        // off by its window runs on for an unknown length: ask for as much again as was seen,
        // and at least the tail's margin, so a long path is reached in a few runs.
        const int seen = e.spanLast - e.spanFirst + 1;
        need.end = std::max(need.end,
                            e.spanLast + 1 +
                                (e.cutOff ? std::max(kTailMargin, seen) : findingthresholds::kTailEdgeTaps));
    }
    return need;
}

bool HasWitness(const Need& need) { return need.first != INT_MAX; }

// The setting that covers need on a device, placed just before the echo with the shortest
// tail; false when the device cannot cover it.
bool Cover(const Need& need, const DeviceLimits& limits, int& bulkDelay, int& tail)
{
    if (need.latest < limits.minBulkDelay) {
        return false;
    }
    if (limits.bulkDelayFixed) {
        bulkDelay = limits.minBulkDelay;
    } else {
        const int latest = std::min(need.latest, limits.maxBulkDelay);
        const int early = std::max(latest - kLead, 0);
        bulkDelay = std::max(
            {early - early % kBulkDelayStep, need.end - limits.maxTail, limits.minBulkDelay});
        if (bulkDelay > latest) {
            return false;
        }
    }
    const int least = std::max(need.end - bulkDelay, 0);
    if (least > limits.maxTail) {
        return false;
    }
    tail = std::min((least + kTailStep - 1) / kTailStep * kTailStep, limits.maxTail);
    return true;
}

bool Covers(const Need& need, const DeviceLimits& limits, int bulkDelay, int tail)
{
    return bulkDelay >= limits.minBulkDelay && bulkDelay <= limits.maxBulkDelay && tail >= 0 &&
           tail <= limits.maxTail && bulkDelay <= need.latest && bulkDelay + tail >= need.end;
}

Move MoveFrom(int from, int to) { return to > from ? Move::Raise : to < from ? Move::Lower : Move::None; }

std::string Smp(int first, int last)
{
    return first == last ? Format("%d smp", first) : Format("%d\u2013%d smp", first, last);
}

// What a setting covers, in words.
std::string Covered(const EchoEvidence& e, const Need& need, bool withRealDelay)
{
    std::string text;
    if (e.spanFirst < 0) {
        return Format("the echo at %s and the %d smp after it that the tail needs",
                      Smp(need.first, need.last).c_str(), kTailMargin);
    }
    if (e.cutOff) {
        text = Format("the echo path from %d smp, cut off at %d smp by the tail in use, and as much again",
                      e.spanFirst, e.spanLast);
    } else {
        text = Format("99 %% of the echo path (%d\u2013%d)", e.spanFirst, e.spanLast);
    }
    if (withRealDelay && e.realDelay >= 0 && (e.realDelay < e.spanFirst || e.realDelay > e.spanLast)) {
        text += Format(" and Real Delay %d smp", e.realDelay);
    }
    return text;
}

const char* MoveWord(Move move) { return move == Move::Raise ? "raise" : "lower"; }

std::string MoveClause(const Advice& a, const DeviceLimits& limits, int deviceType)
{
    std::string text;
    if (a.bulkDelayMove != Move::None) {
        text = Format("%s the bulk delay to %d", MoveWord(a.bulkDelayMove), a.bulkDelay);
    }
    if (a.tailMove != Move::None) {
        text += Format("%s%s the tail to %d", text.empty() ? "" : " and ", MoveWord(a.tailMove), a.tail);
    }
    if (text.empty()) {
        text = Format("set bulk delay %d and tail %d", a.bulkDelay, a.tail);
    }
    if (limits.bulkDelayFixed) {
        text += Format(" (%s fixes the bulk delay at %d)", kDeviceNames[static_cast<std::size_t>(deviceType)],
                       limits.minBulkDelay);
    }
    return "; " + text;
}

std::string Rows(const std::vector<int>& rows)
{
    std::string text;
    for (const int row : rows) {
        text += Format("%s%d (%s)", text.empty() ? "" : ", ", row,
                       kDeviceNames[static_cast<std::size_t>(row)]);
    }
    return text;
}

// What to fix in the captures when they give no setting.
void NoSetting(const EchoEvidence& e, Advice& a)
{
    a.kind = Advice::Kind::NoSetting;
    using State = EchoEvidence::State;
    switch (e.state) {
    case State::None:
        a.text =
            "No setting to advise: Rx holds no echo of Tx, so no bulk delay or tail can be read from these "
            "captures; if the port should echo, give as Rx the capture that comes back from the line, "
            "recorded at the same time as Tx";
        a.clause = "; no echo was found, so no bulk delay or tail would change this";
        return;
    case State::Swapped:
        if (e.source == CaptureSource::kStereoFile) {
            a.fix = e.txChannel < 0 ? "name the Tx channel with --tx-channel"
                                    : Format("give --tx-channel %d", e.txChannel > 0 ? 0 : 1);
            a.clause = "; the channels look swapped: " + a.fix + " before changing a setting";
        } else if (e.source == CaptureSource::kCall) {
            a.fix = "name the Tx stream with --tx-ssrc or --gateway";
            a.clause = "; the streams look swapped: " + a.fix + " before changing a setting";
        } else {
            a.fix = "exchange the two files";
            a.clause = "; the files look swapped: exchange them before changing a setting";
        }
        a.text =
            "No setting until the captures are the right way round: the echo arrives in Tx, not in Rx; " +
            a.fix;
        return;
    case State::Repeating:
        a.text = "No setting to advise: Tx repeats itself (a tone, a periodic signal), so no one echo delay "
                 "can be "
                 "read; test with speech or noise";
        a.clause = "; Tx repeats itself, so no one delay can be read: test with speech or noise";
        return;
    case State::Identical:
        a.text = Format("No setting to advise: Tx and Rx hold the same %d samples (%s), one signal and not a "
                        "port's two directions; give as Rx the capture that comes back from the line",
                        e.sampleCount,
                        e.samePath                             ? "one file given as both"
                        : e.source == CaptureSource::kTwoFiles ? "two files with the same samples"
                                                               : "both channels alike");
        a.clause = "; Tx and Rx hold the same samples, so no bulk delay or tail would change this";
        return;
    case State::Found:
    case State::Unmeasured:
        break;
    }
    a.kind = Advice::Kind::Unmeasured;
}

}  // namespace

DeviceLimits LimitsOf(int deviceType)
{
    DeviceLimits limits;
    limits.bulkDelayFixed = DelayPresetFixed(deviceType);
    limits.minBulkDelay = limits.bulkDelayFixed ? DelayPreset(deviceType) : 0;
    limits.maxBulkDelay = limits.bulkDelayFixed ? DelayPreset(deviceType) : kMaxBulkDelay;
    limits.maxTail = kMaxTail;
    return limits;
}

Advice Advise(const EchoEvidence& e, int bulkDelay, int tail, int deviceType)
{
    Advice a;
    if (e.state != EchoEvidence::State::Found) {
        NoSetting(e, a);
        return a;
    }
    // The Real Delay is the weakest witness: when no row covers it with the others (the
    // template landed on a far echo or the voice's pitch), the others decide.
    bool withRealDelay = true;
    Need need = NeedOf(e, true);
    const auto anyRowCovers = [](const Need& n) {
        for (int row = 0; row < kDeviceCount; ++row) {
            int b = 0;
            int t = 0;
            if (Cover(n, LimitsOf(row), b, t)) {
                return true;
            }
        }
        return false;
    };
    if (!HasWitness(need) || !anyRowCovers(need)) {
        withRealDelay = false;
        need = NeedOf(e, false);
    }
    if (!HasWitness(need)) {
        return a;
    }
    a.latestBulkDelay = need.latest;
    a.windowEnd = need.end;
    const DeviceLimits limits = LimitsOf(deviceType);
    const char* device = kDeviceNames[static_cast<std::size_t>(deviceType)];
    const std::string covered = Covered(e, need, withRealDelay);
    if (Covers(need, limits, bulkDelay, tail)) {
        a.kind = Advice::Kind::Keep;
        a.bulkDelay = bulkDelay;
        a.tail = tail;
        a.text = Format("Keep bulk delay %d and tail %d: they cover %s", bulkDelay, tail, covered.c_str());
        a.clause = Format("; bulk delay %d and tail %d, in use, cover the echo: keep them", bulkDelay, tail);
        return a;
    }
    if (Cover(need, limits, a.bulkDelay, a.tail)) {
        a.kind = Advice::Kind::Set;
        a.bulkDelayMove = limits.bulkDelayFixed ? Move::None : MoveFrom(bulkDelay, a.bulkDelay);
        a.tailMove = MoveFrom(tail, a.tail);
        a.text = limits.bulkDelayFixed
                     ? Format("Set tail %d with the bulk delay of %d that %s fixes: together they cover %s",
                              a.tail, a.bulkDelay, device, covered.c_str())
                     : Format("Set bulk delay %d and tail %d: they cover %s", a.bulkDelay, a.tail,
                              covered.c_str());
        a.clause = MoveClause(a, limits, deviceType);
        return a;
    }
    a.kind = Advice::Kind::OutOfReach;
    for (int row = 0; row < kDeviceCount; ++row) {
        int b = 0;
        int t = 0;
        if (Cover(need, LimitsOf(row), b, t)) {
            a.rowsThatReach.push_back(row);
        }
    }
    std::string why;
    if (need.latest < limits.minBulkDelay) {
        const int start = e.spanFirst >= 0 && e.spanFirst < need.first ? e.spanFirst : need.first;
        why = Format("%s fixes the bulk delay at %d, after the echo's start at %d smp, so no tail covers %s",
                     device, limits.minBulkDelay, start, covered.c_str());
    } else {
        why = Format(
            "%s fixes the bulk delay at %d, so a tail of %d, above the canceller's %d, would be needed to "
            "cover %s",
            device, limits.minBulkDelay, need.end - limits.minBulkDelay, limits.maxTail, covered.c_str());
    }
    a.text = why + (a.rowsThatReach.empty() ? "; no device row can"
                                            : "; device rows that can: " + Rows(a.rowsThatReach));
    a.clause = Format("; no tail reaches the echo while %s fixes the bulk delay at %d: choose a row that can",
                      device, limits.minBulkDelay);
    return a;
}

}  // namespace tarnwell
