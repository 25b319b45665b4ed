// The advice over a grid of echoes, settings in use and device rows: within the row's limits,
// covering the echo when the row can, a fixed point after one step, and every finding of a run
// advising the way the settings finding does.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "engine/TestThresholds.h"
#include "evidence/Advice.h"
#include "evidence/Findings.h"
#include "ui/Report.h"

using namespace tarnwell;
using testthresholds::DelayInWindow;

namespace {

struct EchoCase {
    int whitened, real;       // the whitened peak and the Real Delay
    int spanFirst, spanLast;  // the echo path's 99 % span; -1: not known
    bool cutOff;
};

std::vector<EchoCase> EchoGrid()
{
    std::vector<EchoCase> grid;
    for (const int d : {1, 7, 50, 81, 92, 100, 106, 150, 288, 700, 1203, 1263, 1300, 1800, 7990}) {
        for (const int late : {0, 5, 51, 1100}) {  // 1100: the template on a far echo
            grid.push_back({d, d + late, -1, -1, false});
            for (const int length : {20, 60, 400}) {
                const int first = std::max(d - 3, 0);
                grid.push_back({d, d + late, first, first + length, false});
                grid.push_back({d, d + late, first, first + length, true});
            }
        }
    }
    return grid;
}

struct Setting {
    int bulkDelay, tail;
};

EchoEvidence Evidence(const EchoCase& c)
{
    EchoEvidence e;
    e.state = EchoEvidence::State::Found;
    e.whitenedPeak = c.whitened;
    e.realDelay = c.real;
    if (c.spanFirst >= 0)
        std::tie(e.pathPeak, e.spanFirst, e.spanLast, e.cutOff) = std::tie(c.whitened, c.spanFirst,
                                                                           c.spanLast, c.cutOff);
    return e;
}

// Whether a setting covers the echo: each delay inside the delay verdict's window, the span
// inside the window clear of its last 8 taps, and past a cut-off span as much again (48 at least).
bool Covers(const EchoCase& c, Setting s, bool withRealDelay)
{
    bool ok = DelayInWindow(c.whitened, s.bulkDelay, s.tail) &&
              (!withRealDelay || DelayInWindow(c.real, s.bulkDelay, s.tail));
    if (c.spanFirst >= 0) {
        const int more = c.cutOff ? std::max(48, c.spanLast - c.spanFirst + 1) : 8;
        ok = ok && s.bulkDelay <= c.spanFirst && c.spanLast + more < s.bulkDelay + s.tail;
    }
    return ok;
}

bool WithinLimits(int row, Setting s)
{
    return (DelayPresetFixed(row) ? s.bulkDelay == DelayPreset(row)
                                  : s.bulkDelay >= 0 && s.bulkDelay <= 8000) &&
           s.tail >= 0 && s.tail <= 1024;
}

Move Toward(int from, int to) { return to > from ? Move::Raise : to < from ? Move::Lower : Move::None; }

std::string Where(const EchoCase& c, int row, Setting now)
{
    return "echo " + std::to_string(c.whitened) + "/" + std::to_string(c.real) + " span " +
           std::to_string(c.spanFirst) + "-" + std::to_string(c.spanLast) + (c.cutOff ? " cut" : "") +
           " row " + std::to_string(row) + " at " + std::to_string(now.bulkDelay) + "/" +
           std::to_string(now.tail);
}

TEST(Advice, WithinTheRowsLimitsCoversTheEchoAndIsAFixedPointAfterOneStep)
{
    int set = 0;
    int outOfReach = 0;
    for (const EchoCase& c : EchoGrid()) {
        const EchoEvidence e = Evidence(c);
        for (int row = 0; row < kDeviceCount; ++row) {
            for (const Setting now : {Setting{DelayPreset(row), TailPreset(row)}, Setting{288, 64},
                                      Setting{288, 1024}, Setting{0, 0}, Setting{8000, 1024}}) {
                const std::string where = Where(c, row, now);
                const Advice a = Advise(e, now.bulkDelay, now.tail, row);
                // The Real Delay may be left out only where no row could cover it too.
                const bool realCoverable = c.real - c.whitened <= 51;
                if (a.kind == Advice::Kind::OutOfReach) {
                    ++outOfReach;
                    EXPECT_TRUE(DelayPresetFixed(row) && !a.rowsThatReach.empty()) << where;
                    for (int other = 0; other < kDeviceCount; ++other) {
                        const bool listed = std::count(a.rowsThatReach.begin(), a.rowsThatReach.end(),
                                                       other) > 0;
                        const Advice there = Advise(e, DelayPreset(other), TailPreset(other), other);
                        EXPECT_EQ(listed, there.kind != Advice::Kind::OutOfReach)
                            << where << " other " << other;
                    }
                    // No tail on this row covers it.
                    for (int tail = 0; tail <= 1024; tail += 16)
                        EXPECT_FALSE(Covers(c, {DelayPreset(row), tail}, realCoverable))
                            << where << " " << tail;
                    EXPECT_NE(a.text.find(kDeviceNames[static_cast<std::size_t>(row)]), std::string::npos);
                    continue;
                }
                ASSERT_TRUE(a.kind == Advice::Kind::Keep || a.kind == Advice::Kind::Set) << where;
                const Setting advised{a.bulkDelay, a.tail};
                EXPECT_TRUE(WithinLimits(row, advised)) << where;
                EXPECT_TRUE(Covers(c, advised, realCoverable))
                    << where << " advised " << a.bulkDelay << "/" << a.tail;
                if (a.kind == Advice::Kind::Keep) {
                    EXPECT_TRUE(WithinLimits(row, now) && Covers(c, now, realCoverable) &&
                                a.bulkDelay == now.bulkDelay && a.tail == now.tail)
                        << where;
                    continue;
                }
                ++set;
                EXPECT_EQ(a.bulkDelayMove,
                          DelayPresetFixed(row) ? Move::None : Toward(now.bulkDelay, a.bulkDelay))
                    << where;
                EXPECT_EQ(a.tailMove, Toward(now.tail, a.tail)) << where;
                const Advice next = Advise(e, a.bulkDelay, a.tail, row);
                EXPECT_EQ(next.kind, Advice::Kind::Keep)
                    << where << " advised " << a.bulkDelay << "/" << a.tail;
            }
        }
    }
    EXPECT_GT(set, 1000);
    EXPECT_GT(outOfReach, 100);
}

TEST(Advice, NamesWhatToFixInTheCaptureWhenThereIsNoSetting)
{
    using State = EchoEvidence::State;
    const std::tuple<State, CaptureSource, int, const char*> cases[] = {
        {State::Swapped, CaptureSource::kTwoFiles, 0, "exchange the two files"},
        {State::Swapped, CaptureSource::kStereoFile, 0, "give --tx-channel 1"},
        {State::Swapped, CaptureSource::kStereoFile, 1, "give --tx-channel 0"},
        {State::Swapped, CaptureSource::kCall, 0, "--tx-ssrc or --gateway"},
        {State::None, CaptureSource::kTwoFiles, 0, "Rx holds no echo of Tx"},
        {State::Repeating, CaptureSource::kTwoFiles, 0, "test with speech or noise"},
        {State::Identical, CaptureSource::kTwoFiles, 0, "Tx and Rx hold the same"},
    };
    for (const auto& [state, source, txChannel, fix] : cases) {
        EchoEvidence e;
        std::tie(e.state, e.source, e.txChannel) = std::tie(state, source, txChannel);
        const Advice a = Advise(e, 80, 128, 9);
        EXPECT_EQ(a.kind, Advice::Kind::NoSetting) << fix;
        EXPECT_TRUE(a.text.find(fix) != std::string::npos && a.bulkDelayMove == Move::None &&
                    a.tailMove == Move::None)
            << a.text;
    }
}

// A run's record as the canceller would leave it for an echo at whitened with its span, on the
// settings in use: the path holds the part of the span inside its window.
AnalysisRecord Record(const EchoCase& c, Setting s)
{
    AnalysisRecord a;
    a.sampleCount = 80000;
    a.captures.measured = true;
    WhitenedDelayRecord& w = a.whitenedDelay;
    w.measured = true;
    w.peakLag = w.positiveLag = c.whitened;
    w.peak = w.positive = 1.0;
    w.median = 0.01;
    std::tie(a.delaySearch.measured, a.delaySearch.peakLag, a.delaySearch.peak,
             a.delaySearch.confidence) = std::tuple{true, c.real, 0.9, 5.0};
    a.erl.measured = true;
    a.erl.qualifyingBlocks = 20;
    EchoPathRecord& path = a.echoPath;
    path.measured = true;
    path.bulkDelay = s.bulkDelay;
    path.weights.assign(static_cast<std::size_t>(s.tail), 0);
    const int first = std::max(c.spanFirst, s.bulkDelay);
    const int last = std::min(c.spanLast, s.bulkDelay + s.tail - 1);
    if (first <= last) {
        path.spanFirst = first - s.bulkDelay;
        path.spanLast = last - s.bulkDelay;
        path.peakTap = std::clamp(c.whitened, first, last) - s.bulkDelay;
    }
    return a;
}

// Every verdict passed but the delay's, which follows the window.
TestResults Results(const EchoCase& c, Setting s)
{
    return {c.real, 30.0, 12.0, -20.0, -30.0, -70.0, DelayInWindow(c.real, s.bulkDelay, s.tail) ? 1 : 0,
            1,      1,    1};
}

TestSettings SettingsOf(Setting s)
{
    TestSettings settings;
    std::tie(settings.delay, settings.tail, settings.nlpDiff) = std::tuple{s.bulkDelay, s.tail, 6};
    return settings;
}

TEST(Advice, EveryFindingOfARunAdvisesTheWayTheSettingsFindingDoesAndFollowingItEnds)
{
    int steps = 0;
    for (const EchoCase& c : EchoGrid()) {
        if (c.spanFirst < 0 || c.cutOff || c.real > 1800) {
            continue;  // the path is the record's; the Real Delay lies in the template's lags
        }
        for (int row = 0; row < kDeviceCount; ++row) {
            for (Setting now :
                 {Setting{DelayPreset(row), TailPreset(row)}, Setting{288, 64}, Setting{288, 1024}}) {
                std::vector<std::pair<int, int>> seen;
                for (int step = 0;; ++step) {
                    const std::string where = Where(c, row, now);
                    const std::vector<Finding> findings = MakeFindings(SettingsOf(now), row, true,
                                                                       Results(c, now), Record(c, now));
                    ASSERT_FALSE(findings.empty()) << where;
                    const Finding& settings = findings.front();
                    ASSERT_EQ(settings.code, "settings") << where;
                    for (const Finding& f : findings) {
                        EXPECT_TRUE(
                            (f.bulkDelayMove == Move::None || f.bulkDelayMove == settings.bulkDelayMove) &&
                            (f.tailMove == Move::None || f.tailMove == settings.tailMove))
                            << where << ": " << f.code << ": " << f.text;
                    }
                    const Advice a = RunAdvice(SettingsOf(now), row, true, Results(c, now), Record(c, now));
                    EXPECT_EQ(settings.text, a.text);
                    if (a.kind != Advice::Kind::Set) break;
                    // Follow it: the span seen through a window that missed or cut the echo is
                    // new evidence, so more steps may follow: the window at least doubles each
                    // time, so a few, and never back.
                    ASSERT_LT(step, 5) << where << ": " << settings.text;
                    seen.emplace_back(now.bulkDelay, now.tail);
                    now = {a.bulkDelay, a.tail};
                    ASSERT_EQ(std::count(seen.begin(), seen.end(), std::pair{now.bulkDelay, now.tail}), 0)
                        << where;
                    ++steps;
                }
            }
        }
    }
    EXPECT_GT(steps, 100);
}

}  // namespace
