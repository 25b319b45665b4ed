// VerdictRules: the rule and the limits behind each report row's OK or CHECK, in words, for
// the settings a run used. The window shows them where the verdicts are read.
#pragma once

#include <string>

#include "engine/TestSettings.h"

namespace tarnwell {

struct VerdictRules {
    std::string realDelay;
    std::string erl;
    std::string residual;  // also says which of the row's two numbers is which
    std::string levels;
};

VerdictRules MakeVerdictRules(const TestSettings& settings);

}  // namespace tarnwell
