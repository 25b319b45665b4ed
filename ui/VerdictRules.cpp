#include "ui/VerdictRules.h"

#include <cstdio>

#include "engine/TestThresholds.h"

namespace tarnwell {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

}  // namespace

VerdictRules MakeVerdictRules(const TestSettings& s)
{
    using namespace testthresholds;
    VerdictRules rules;
    const int first = s.delay + 1;
    const int last = s.delay + s.tail - kTailMargin - 1;
    rules.realDelay = Format("OK when bulk delay %d < delay < %d + tail %d - %d", s.delay, s.delay, s.tail,
                             kTailMargin);
    rules.realDelay += first <= last ? Format(", i.e. %d\u2013%d smp", first, last)
                                     : std::string(": with this tail no delay can be OK");
    rules.erl = Format("OK above %g dB; at %g dB or less the cancellation is not run", kErlGate, kErlGate);
    rules.residual = Format("OK when cancellation > NLP diff %d dB and residual < %g dBm.\n"
                            "The first number is the cancellation in dB, the second the residual "
                            "level in dBm",
                            s.nlpDiff, kResidualLimit);
    rules.levels = Format("OK when %g < Tx < %g dBm and Tx - Rx < %g dB.\n"
                          "The first number is the Rx level, the second the Tx level",
                          kTxLevelLow, kTxLevelHigh, kMaxTxOverRx);
    return rules;
}

}  // namespace tarnwell
