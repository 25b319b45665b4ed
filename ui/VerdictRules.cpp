#include "ui/VerdictRules.h"

#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

// A limit as people write it: -50, 6, -3.
std::string Limit(double value) { return text::Format("%g", value); }

std::string Int(int value) { return std::to_string(value); }

}  // namespace

VerdictRules MakeVerdictRules(const TestSettings& s)
{
    using namespace testthresholds;
    VerdictRules rules;
    const int first = FirstDelayInWindow(s.delay);
    const int last = LastDelayInWindow(s.delay, s.tail);
    rules.realDelay = "OK when bulk delay " + Int(s.delay) + " < delay < " + Int(s.delay) + " + tail " +
                      Int(s.tail) + " - " + Int(kTailMargin);
    rules.realDelay += first <= last ? ", i.e. " + Int(first) + "\u2013" + Int(last) + " smp"
                                     : std::string(": with this tail no delay can be OK");
    rules.erl = "OK above " + Limit(kErlGate) + " dB; at " + Limit(kErlGate) +
                " dB or less the cancellation is not run";
    rules.residual =
        "OK when cancellation > NLP diff " + Int(s.nlpDiff) + " dB and residual < " + Limit(kResidualLimit) +
        " dBm.\nThe first number is the cancellation in dB, the second the residual level in dBm";
    rules.levels = "OK when " + Limit(kTxLevelLow) + " < Tx < " + Limit(kTxLevelHigh) +
                   " dBm and Tx - Rx < " + Limit(kMaxTxOverRx) +
                   " dB.\nThe first number is the Rx level, the second the Tx level";
    return rules;
}

}  // namespace tarnwell
