#include "evidence/Measured.h"

#include <algorithm>

#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

VerdictReading Flag(std::int32_t ok) { return {ok != 0 ? Reading::kOk : Reading::kCheck, {}}; }

VerdictReading Unmeasured(const char* reason) { return {Reading::kNotMeasured, reason}; }

bool Has(const std::vector<Finding>& findings, const char* code)
{
    return std::any_of(findings.begin(), findings.end(), [code](const Finding& f) {
        return f.severity == Severity::Warning && f.code == code;
    });
}

// Why the ERL line's figure is no measurement, or nullptr when it is one.
const char* ErlGap(const TestResults& r, const ErlRecord& e)
{
    if (!e.measured) {
        // Without the record, an ERL of exactly 0.0 is the estimator's "nothing chosen".
        return r.erl == 0.0 ? unmeasured::kNoErlBlock : nullptr;
    }
    // Captures longer than 5 s always hold a block after the longest delay the search finds.
    return e.qualifyingBlocks == 0 ? unmeasured::kNoErlBlock : nullptr;
}

// The levels row needs more than kMinLevelBlocks loud frames of each side in the second half;
// Rx counts only where the canceller reported nothing, which far-end speech alone never leaves.
const char* LevelsGap(const std::vector<FrameRecord>& frames)
{
    using testthresholds::kMinLevelBlocks;
    using testthresholds::kSpeechFloor;
    const auto txFrames = std::count_if(frames.begin(), frames.end(), [](const FrameRecord& f) {
        return f.levelFrame && f.txLevel > kSpeechFloor;
    });
    return !frames.empty() && txFrames <= kMinLevelBlocks ? unmeasured::kNoFarEnd : unmeasured::kNoNearEnd;
}

}  // namespace

int Verdicts::Count(Reading reading) const
{
    return static_cast<int>(std::count_if(
        items.begin(), items.end(), [reading](const VerdictReading& v) { return v.reading == reading; }));
}

const char* ReadingWord(Reading reading)
{
    switch (reading) {
    case Reading::kOk:
        return "OK";
    case Reading::kCheck:
        return "CHECK";
    case Reading::kNotMeasured:
        break;
    }
    return nullptr;
}

Verdicts ReadVerdicts(bool ran, const TestResults& r, const AnalysisRecord& a,
                      const std::vector<Finding>& findings)
{
    Verdicts v;
    if (!ran) {
        return v;
    }
    // Swapped first: swapped files also leave no echo after Tx.
    const char* noEcho = Has(findings, "identical-captures") ? unmeasured::kIdentical
                         : Has(findings, "swapped")          ? unmeasured::kSwapped
                         : Has(findings, "no-echo")          ? unmeasured::kNoEcho
                                                             : nullptr;
    const char* erlGap = ErlGap(r, a.erl);
    const bool cancelled = r.erlOk != 0;
    v.items[0] = noEcho != nullptr ? Unmeasured(noEcho) : Flag(r.delayOk);
    v.items[1] = noEcho != nullptr   ? Unmeasured(noEcho)
                 : erlGap != nullptr ? Unmeasured(erlGap)
                                     : Flag(r.erlOk);
    // A pass that ran on an echo and never cancelled 2 dB is a failed measurement, not a gap.
    v.items[2] = !cancelled          ? Unmeasured(unmeasured::kGate)
                 : noEcho != nullptr ? Unmeasured(noEcho)
                                     : Flag(r.residualOk);
    v.items[3] = !cancelled                             ? Unmeasured(unmeasured::kGate)
                 : r.txLevel == 0.0 || r.rxLevel == 0.0 ? Unmeasured(LevelsGap(a.frames))
                                                        : Flag(r.levelsOk);
    return v;
}

std::string CauseFirst(const std::vector<Finding>& findings, const std::string& seedMessage)
{
    static const char* const kCauses[] = {"identical-captures", "swapped", "no-echo", "tx-level-for-erl"};
    for (const Finding& f : findings) {
        if (f.severity != Severity::Warning || std::none_of(std::begin(kCauses), std::end(kCauses),
                                                            [&f](const char* c) { return f.code == c; })) {
            continue;
        }
        // The finding's first clause: what is wrong, before its figures and its advice.
        const std::string cause = f.text.substr(0, f.text.find_first_of(":;,"));
        return seedMessage.empty() ? cause : cause + "; " + seedMessage;
    }
    return seedMessage;
}

}  // namespace tarnwell
