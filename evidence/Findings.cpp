#include "evidence/Findings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "canceller/CancellerState.h"
#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"
#include "evidence/DelayTrend.h"
#include "evidence/EchoAudibility.h"
#include "evidence/Measured.h"
#include "evidence/NonlinearEcho.h"
#include "evidence/BandFindings.h"
#include "ui/Report.h"

namespace tarnwell {

namespace {

using namespace findingthresholds;

using text::Format;

// The findings of one run, in the order a reader should meet them.
class FindingList {
public:
    void Add(const char* code, Severity severity, std::string text)
    {
        list_.push_back({code, severity, std::move(text)});
    }
    // A finding that advises a setting: its moves are the advice's.
    void Add(const char* code, Severity severity, std::string text, const Advice& advice)
    {
        list_.push_back({code, severity, std::move(text), advice.bulkDelayMove, advice.tailMove});
    }
    void Add(std::vector<Finding> more) { list_.insert(list_.end(), more.begin(), more.end()); }
    std::vector<Finding> Take() { return std::move(list_); }
    const std::vector<Finding>& List() const { return list_; }

private:
    std::vector<Finding> list_;
};

// The delay verdict's rule: bulk < delay < bulk + tail - 48, and what the advice makes of it.
void DelayReason(const TestSettings& s, const TestResults& r, const Advice& advice, FindingList& out)
{
    using namespace testthresholds;
    const int first = FirstDelayInWindow(s.delay);
    const int last = LastDelayInWindow(s.delay, s.tail);
    std::string text;
    if (first <= last) {
        text = Format("Real Delay %d smp is outside %d\u2013%d smp, the window that bulk delay %d "
                      "and tail %d cover",
                      r.delay, first, last, s.delay, s.tail);
    } else {
        text = Format("Real Delay %d smp cannot be inside the canceller's window: with bulk delay %d, "
                      "tail %d leaves no delay more than %d smp before its end",
                      r.delay, s.delay, s.tail, kTailMargin);
    }
    out.Add("delay-window", Severity::Warning, text + advice.clause, advice);
}

void ErlReasons(const TestResults& r, const AnalysisRecord& a, FindingList& out)
{
    out.Add("erl-gate", Severity::Warning,
            Format("Cancellation did not run: ERL %.2f dB is not above %g dB, so the canceller was "
                   "stopped and the output file is empty",
                   r.erl, testthresholds::kErlGate));
    if (a.erl.measured && a.erl.qualifyingBlocks == 0) {
        using testthresholds::kErlTxHigh;
        using testthresholds::kErlTxLow;
        const bool tooLoud = a.erl.loudestTxBlock >= kErlTxHigh;
        out.Add("tx-level-for-erl", Severity::Warning,
                Format("No 100 ms Tx block lies between %g and %g dBm0 (the loudest is %.1f dBm0), "
                       "so the ERL could not be measured; %s the Tx level of the test signal",
                       kErlTxLow, kErlTxHigh, a.erl.loudestTxBlock, tooLoud ? "lower" : "raise"));
    }
}

void ResidualReason(const TestSettings& s, const TestResults& r, FindingList& out)
{
    if (r.residualLevel == 0.0) {
        out.Add("residual-check", Severity::Warning,
                Format("Residual level not available: no frame measured more than %g dB of "
                       "cancellation while the canceller adapted at normal or fast speed",
                       testthresholds::kCountedCancellation));
        return;
    }
    std::string text;
    if (!(r.cancellation > static_cast<double>(s.nlpDiff))) {
        text = Format("cancellation %.2f dB is not above NLP diff %d dB", r.cancellation, s.nlpDiff);
    }
    if (r.residualLevel >=
        testthresholds::kResidualLimit) {  // NaN and -inf count as below, as the verdict takes them
        text += Format("%sresidual %.2f dBm is not below %g dBm", text.empty() ? "" : "; ", r.residualLevel,
                       testthresholds::kResidualLimit);
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    out.Add("residual-check", Severity::Warning,
            "Residual level CHECK: " + text +
                Format(" (OK needs cancellation above %d dB and residual "
                       "below %g dBm)",
                       s.nlpDiff, testthresholds::kResidualLimit));
}

void LevelsReason(const TestResults& r, FindingList& out)
{
    if (r.txLevel == 0.0 || r.rxLevel == 0.0) {
        out.Add("levels-check", Severity::Warning,
                Format("Levels not available: the second half of the captures has %d or fewer "
                       "speech blocks above %g dBm in Tx, or in the Rx frames the canceller left alone",
                       testthresholds::kMinLevelBlocks, testthresholds::kSpeechFloor));
        return;
    }
    std::string text;
    using namespace testthresholds;
    if (!(kTxLevelLow < r.txLevel && r.txLevel < kTxLevelHigh)) {
        text = Format("Tx level %.2f dBm is outside %g to %g dBm", r.txLevel, kTxLevelLow, kTxLevelHigh);
    }
    if (!(r.txLevel - r.rxLevel < kMaxTxOverRx)) {
        text += Format("%sTx is %.1f dB above Rx; OK needs less than %g dB", text.empty() ? "" : "; ",
                       r.txLevel - r.rxLevel, kMaxTxOverRx);
    }
    out.Add("levels-check", Severity::Warning, "Levels CHECK: " + text);
}

// What the whitened search says about an echo; Unmeasured when it did not run. Repeating:
// peaks as high at many lags, so no one delay (a tone, a square wave).
enum class Echo { Unmeasured, None, Swapped, Repeating, Found };

Echo WhitenedEcho(const WhitenedDelayRecord& w)
{
    if (!w.measured) {
        return Echo::Unmeasured;
    }
    if (!(w.peak > kWhitenedEcho * w.median)) {
        return Echo::None;
    }
    if (w.third >= kSecondEcho * w.peak) {
        return Echo::Repeating;
    }
    if (w.peakLag < 0) {
        return w.peak >= kSwapMargin * w.positive ? Echo::Swapped : Echo::Repeating;
    }
    return Echo::Found;
}

// True when the single-template search found nothing better than chance.
bool NoTemplateEcho(const DelaySearchRecord& d)
{
    return d.measured && d.confidence < kNoEchoConfidence && d.peak < kEchoCorrelation;
}

// False when the evidence says there is no echo after Tx: none at all, or files swapped.
bool EchoFound(const AnalysisRecord& a)
{
    const Echo whitened = WhitenedEcho(a.whitenedDelay);
    if (whitened != Echo::Unmeasured) {
        return whitened == Echo::Found || whitened == Echo::Repeating;
    }
    return !NoTemplateEcho(a.delaySearch);
}

double StandsOut(const WhitenedDelayRecord& w) { return w.median > 0.0 ? w.peak / w.median : INFINITY; }

void TemplateDelayEvidence(const TestResults& r, const DelaySearchRecord& d, const Advice& advice,
                           FindingList& out)
{
    if (!d.measured) {
        return;
    }
    // Rx ahead of Tx only when the match there is itself an echo, not chance.
    if (d.bestNegative > d.peak && d.bestNegative >= kEchoCorrelation) {
        out.Add("swapped", Severity::Warning,
                Format("Tx and Rx look swapped: Rx matches Tx %d smp ahead of it (|c| %.2f) better "
                       "than at any delay after it (|c| %.2f); %s",
                       d.bestNegativeLag, d.bestNegative, d.peak, advice.fix.c_str()));
    }
    if (NoTemplateEcho(d)) {
        out.Add("no-echo", Severity::Warning,
                Format("No echo found: the best match of Rx with Tx (|c| %.2f at %d smp) is no better "
                       "than chance (%.2f times the next highest, |c| %.2f at %d smp), so Real Delay "
                       "%d smp is not a measurement",
                       d.peak, d.peakLag, d.confidence, d.second, d.secondLag, r.delay));
    }
}

void DelayTrendEvidence(const std::vector<DelayTrackPoint>& track, FindingList& out)
{
    const DelayTrend t = ReadDelayTrend(track, kTrackEcho);
    if (t.points < 4) {
        return;
    }
    const double step = t.jumpTo - t.jumpFrom;
    const double drift = t.slope * t.duration;
    if (std::fabs(step) > kDelayMove && t.stepSpread <= kTrendFit && t.stepSpread < t.spread) {
        out.Add("delay-jump", Severity::Warning,
                Format("The echo delay jumps from %.0f to %.0f smp at about %.1f s and stays there: the "
                       "two captures lost sync; record them again, or test each part on its own",
                       t.jumpFrom, t.jumpTo, t.jumpTime));
    } else if (std::fabs(drift) > kDelayMove && t.spread <= kTrendFit) {
        out.Add("delay-drift", Severity::Warning,
                Format("The echo delay drifts by %+.1f smp over %.0f s (%+.0f ppm): the two captures "
                       "run on different clocks; record both from one clock",
                       drift, t.duration, t.slope / 8000.0 * 1e6));
    }
}

void DelayEvidence(const TestSettings& s, bool ran, const TestResults& r, const AnalysisRecord& a,
                   const Advice& advice, FindingList& out)
{
    const WhitenedDelayRecord& w = a.whitenedDelay;
    const Echo echo = WhitenedEcho(w);
    if (echo == Echo::Unmeasured) {
        TemplateDelayEvidence(r, a.delaySearch, advice, out);
        return;
    }
    if (echo == Echo::Swapped) {
        out.Add("swapped", Severity::Warning,
                Format("Tx and Rx look swapped: the echo arrives in Tx %d smp after Rx (the whitened "
                       "peak stands %.0f times above its floor at lag %d); %s",
                       -w.peakLag, StandsOut(w), w.peakLag, advice.fix.c_str()));
        return;
    }
    if (echo == Echo::None) {
        std::string text = Format("No echo found: the whitened correlation of Rx with Tx stands at most "
                                  "%.1f times above its floor (at %d smp), where an echo stands more "
                                  "than %g times above it",
                                  StandsOut(w), w.peakLag, kWhitenedEcho);
        if (r.delay > 0 && a.erl.measured) {
            text += Format(", so the report's Real Delay %d smp and ERL %.2f dB are not measurements",
                           r.delay, r.erl);
        } else if (r.delay > 0) {
            text += Format(", so the report's Real Delay %d smp is not a measurement", r.delay);
        }
        out.Add("no-echo", Severity::Warning, text);
        return;
    }
    if (echo == Echo::Repeating) {
        out.Add("delay-ambiguous", Severity::Info,
                Format("Tx repeats itself (a tone, a periodic signal): the whitened correlation peaks "
                       "nearly as high at many lags (%d, %d smp and more), so no one delay can be read "
                       "from it; test with speech or noise",
                       w.peakLag, w.farLag));
        return;
    }
    if (w.far >= kSecondEcho * w.peak && w.far > kWhitenedEcho * w.median && w.farLag > 0) {
        out.Add("delay-ambiguous", Severity::Info,
                Format("Two echoes: the whitened correlation peaks at %d smp and again at %d smp "
                       "(%.0f %% of the height), further apart than one echo path spans; the "
                       "canceller can cover only the one its window holds",
                       w.peakLag, w.farLag, 100.0 * w.far / w.peak));
    }
    if (r.delay > 0 && std::abs(r.delay - w.peakLag) > kDelayAgreement) {
        std::string text = Format("Real Delay %d smp and the whitened delay search (%d smp) differ by "
                                  "%d smp",
                                  r.delay, w.peakLag, std::abs(r.delay - w.peakLag));
        const EchoPathRecord& path = a.echoPath;
        if (path.measured && path.peakTap >= 0) {
            text += Format("; the echo path's largest tap lies at %d smp", path.bulkDelay + path.peakTap);
        }
        // A warning when the two delays give different delay verdicts.
        const bool whitenedInWindow = testthresholds::DelayInWindow(w.peakLag, s.delay, s.tail);
        const bool differ = ran && whitenedInWindow != (r.delayOk != 0);
        if (differ) {
            text += Format("; at %d smp the delay verdict would read %s", w.peakLag,
                           whitenedInWindow ? "OK" : "CHECK");
        } else {
            text += ": a dispersive echo path spreads the echo, and the template lands on its later part";
        }
        out.Add("delay-disagrees", differ ? Severity::Warning : Severity::Info, text);
    }
    DelayTrendEvidence(a.delayTrack, out);
}

void EchoPathEvidence(const TestSettings& s, const TestResults& r, const AnalysisRecord& a,
                      const Advice& advice, FindingList& out)
{
    const EchoPathRecord& path = a.echoPath;
    const int taps = static_cast<int>(path.weights.size());
    const bool cutOff = path.measured && path.spanLast >= 0 && path.spanLast >= taps - kTailEdgeTaps;
    const bool beyond = r.delay > s.delay + s.tail;
    if (beyond) {
        out.Add("echo-past-tail", Severity::Warning,
                Format("The echo runs past the tail: Real Delay %d smp lies beyond bulk delay %d + "
                       "tail %d",
                       r.delay, s.delay, s.tail) +
                    advice.clause,
                advice);
    } else if (cutOff) {
        out.Add("echo-past-tail", Severity::Warning,
                Format("The echo runs past the tail: 99 %% of the echo path's energy lies in taps "
                       "%d\u2013%d of %d",
                       path.spanFirst, path.spanLast, taps) +
                    advice.clause,
                advice);
    }
}

void CaptureEvidence(const TestSettings& s, const AnalysisRecord& a, FindingList& out)
{
    const CaptureChecks& c = a.captures;
    if (!c.measured) {
        return;
    }
    const struct {
        const char* name;
        double share;
        double mean;
    } sides[] = {{"Tx", c.txClipShare, c.txMean}, {"Rx", c.rxClipShare, c.rxMean}};
    for (const auto& side : sides) {
        if (side.share > kClipShare) {
            out.Add("clipping", Severity::Warning,
                    Format("%s clips: %.2f %% of its samples are at full scale; lower the recording level",
                           side.name, 100.0 * side.share));
        }
    }
    for (const auto& side : sides) {
        if (std::fabs(side.mean) > kDcOffset) {
            const double dbfs = 20.0 * std::log10(std::fabs(side.mean) / 32768.0);
            out.Add("dc-offset", s.highPass != 0 ? Severity::Info : Severity::Warning,
                    Format("%s has a DC offset of %.0f (%.1f dBFS)%s", side.name, side.mean, dbfs,
                           s.highPass != 0 ? "; the high-pass filter removes it"
                                           : "; turn the high-pass filter on"));
        }
    }
}

// Near-end speech where Tx is quiet, in most such blocks, and the all-blocks figure below the
// line's: it rests on double talk.
bool NearEndTalksThroughout(const AllBlocksErlRecord& all, double lineErl)
{
    return all.txQuietBlocks > 0 && all.nearEndBlocks > kNearEndShare * all.txQuietBlocks &&
           all.erl < lineErl;
}

void ErlEvidence(const TestResults& r, const AnalysisRecord& a, FindingList& out)
{
    const AllBlocksErlRecord& all = a.allBlocksErl;
    if (!all.measured || !a.erl.measured || a.erl.qualifyingBlocks == 0 ||
        !(std::fabs(r.erl - all.erl) > kErlAgreement) || NearEndTalksThroughout(all, r.erl)) {
        return;
    }
    std::string text = Format("The ERL line's %.2f dB rests on one 100 ms block; all %d qualifying blocks, "
                              "at the whitened delay %d smp, give %.2f dB",
                              r.erl, all.blocks, all.delay, all.erl);
    if (r.erlOk == 0 && testthresholds::PassesErlGate(all.erl)) {
        text += Format(": the gate stopped the canceller on that one block, where all blocks would have "
                       "passed its %g dB",
                       testthresholds::kErlGate);
    }
    out.Add("erl-disagrees", Severity::Warning, text);
}

// The echo as the advice reads it from the record.
EchoEvidence ReadEchoEvidence(const TestSettings& s, bool ran, const TestResults& r, const AnalysisRecord& a)
{
    using State = EchoEvidence::State;
    EchoEvidence e;
    e.source = a.captures.source;
    e.txChannel = s.txChannel;
    e.sampleCount = a.sampleCount;
    e.samePath = s.txPath == s.rxPath;
    if (a.captures.measured && a.captures.identical) {
        e.state = State::Identical;
        return e;
    }
    const WhitenedDelayRecord& w = a.whitenedDelay;
    const DelaySearchRecord& d = a.delaySearch;
    switch (WhitenedEcho(w)) {
    case Echo::None:
        e.state = State::None;
        break;
    case Echo::Swapped:
        e.state = State::Swapped;
        break;
    case Echo::Repeating:
        e.state = State::Repeating;
        break;
    case Echo::Found:
        e.state = State::Found;
        e.whitenedPeak = w.peakLag;
        break;
    case Echo::Unmeasured:
        e.state = !d.measured                                                     ? State::Unmeasured
                  : d.bestNegative > d.peak && d.bestNegative >= kEchoCorrelation ? State::Swapped
                  : NoTemplateEcho(d)                                             ? State::None
                                                                                  : State::Found;
        break;
    }
    if (e.state != State::Found) {
        return e;
    }
    if (!ran || r.delay <= 0) {
        e.state = State::Unmeasured;
        return e;
    }
    e.realDelay = r.delay;
    // The path tells only when its window held the echo.
    const EchoPathRecord& path = a.echoPath;
    const int taps = static_cast<int>(path.weights.size());
    const int echo = e.whitenedPeak >= 0 ? e.whitenedPeak : e.realDelay;
    if (path.measured && path.peakTap >= 0 && echo >= path.bulkDelay && echo < path.bulkDelay + taps) {
        e.pathPeak = path.bulkDelay + path.peakTap;
        e.spanFirst = path.bulkDelay + path.spanFirst;
        e.spanLast = path.bulkDelay + path.spanLast;
        e.cutOff = path.spanLast >= taps - kTailEdgeTaps;
    }
    return e;
}

// Whether the far talker will hear what is left of the echo.
void AudibilityEvidence(const TestResults& r, const AnalysisRecord& a, std::optional<int> networkDelayMs,
                        FindingList& out)
{
    if (std::optional<Finding> finding = EchoAudibilityFinding(r, a, networkDelayMs)) {
        out.Add(finding->code.c_str(), finding->severity, std::move(finding->text));
    }
}

// What reading the captures noticed (a call's lost or reordered packets, a guessed format):
// first, since it qualifies everything measured after it.
void CaptureNoteEvidence(const AnalysisRecord& a, FindingList& out)
{
    for (const CaptureNote& note : a.captureNotes) {
        out.Add(note.code.c_str(), note.warning ? Severity::Warning : Severity::Info, note.text);
    }
}

// Each verdict the run could not measure, with what the capture lacks: for information, since
// a gap in the capture is no fault of the port.
void NotMeasuredEvidence(bool ran, const TestResults& r, const AnalysisRecord& a, FindingList& out)
{
    if (!ran) {
        return;
    }
    const Verdicts v = ReadVerdicts(ran, r, a, out.List());
    static const char* const kWhat[] = {"Real Delay (and so the minimal tail)", "ERL", "Residual level",
                                        "Rx / Tx level avg. (and so the Tx gain decrease)"};
    for (std::size_t i = 0; i < v.items.size(); ++i) {
        if (v.items[i].reading == Reading::kNotMeasured) {
            out.Add((std::string(kVerdictKeys[i]) + "-not-measured").c_str(), Severity::Info,
                    std::string(kWhat[i]) + " not measured: " + v.items[i].reason);
        }
    }
}

}  // namespace

Advice RunAdvice(const TestSettings& s, int deviceType, bool ran, const TestResults& r,
                 const AnalysisRecord& a)
{
    return Advise(ReadEchoEvidence(s, ran, r, a), s.delay, s.tail, deviceType);
}

const char* SeverityName(Severity severity) { return severity == Severity::Warning ? "warning" : "info"; }

std::vector<Finding> MakeFindings(const TestSettings& s, int deviceType, bool ran, const TestResults& r,
                                  const AnalysisRecord& a, std::optional<int> networkDelayMs)
{
    FindingList out;
    // What to set comes first: the findings after it say why.
    const Advice advice = RunAdvice(s, deviceType, ran, r, a);
    if (advice.kind != Advice::Kind::Unmeasured) {
        out.Add("settings", advice.kind == Advice::Kind::Keep ? Severity::Info : Severity::Warning,
                advice.text, advice);
    }
    CaptureNoteEvidence(a, out);
    if (a.captures.measured && a.captures.identical) {
        out.Add(
            "identical-captures", Severity::Warning,
            Format("Tx and Rx hold the same %d samples%s: one signal given as both captures, so there is no "
                   "echo to measure and no delay to find",
                   a.sampleCount, s.txPath == s.rxPath ? " (one file named as both)" : ""));
    } else {
        DelayEvidence(s, ran, r, a, advice, out);
    }
    // Without an echo, the delay and the weights say nothing about the echo path.
    const bool echoFound = EchoFound(a);
    if (ran) {
        if (r.delayOk == 0) {
            DelayReason(s, r, advice, out);
        }
        if (echoFound) {
            ErlEvidence(r, a, out);
        }
        if (r.erlOk == 0) {
            ErlReasons(r, a, out);
        } else {
            if (r.residualOk == 0 && echoFound) {  // else not measured
                ResidualReason(s, r, out);
            }
            if (r.levelsOk == 0 && r.txLevel != 0.0 && r.rxLevel != 0.0) {  // else not measured
                LevelsReason(r, out);
            }
        }
        if (echoFound) {
            EchoPathEvidence(s, r, a, advice, out);
            out.Add(EchoSpectrumFindings(r, a));
            out.Add(NonlinearEchoFindings(a.nonlinearEcho, out.List()));
        }
        const int minimalTail = MinimalTail(deviceType, r.delay);
        if (echoFound && minimalTail > kMaxTail) {
            out.Add("tail-above-max", Severity::Warning,
                    Format("The recommended tail of %d smp is above the canceller's %d taps", minimalTail,
                           kMaxTail) +
                        advice.clause,
                    advice);
        }
        if (echoFound) {
            AudibilityEvidence(r, a, networkDelayMs, out);
        }
        if (r.erlOk != 0 && std::none_of(a.frames.begin(), a.frames.end(),
                                         [](const FrameRecord& f) { return f.nearEndAlone; })) {
            out.Add("no-near-end", Severity::Info,
                    "No near-end speech found: the Tx gain advice rests on the echo alone");
        }
    }
    CaptureEvidence(s, a, out);
    out.Add(HumFindings(s, a));
    NotMeasuredEvidence(ran, r, a, out);
    return out.Take();
}

}  // namespace tarnwell
