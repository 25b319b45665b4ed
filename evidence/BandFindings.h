// The findings that rest on the echo path by frequency and the captures' spectra: a band whose
// echo returns too loud, and mains hum. Made from the analysis record; MakeFindings places them
// among the others.
#pragma once

#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "evidence/Findings.h"

namespace tarnwell {

// Needs the pass to have run and the echo to be found: the bands' ERL describes an echo path
// only then.
std::vector<Finding> EchoSpectrumFindings(const TestResults& results, const AnalysisRecord& analysis);
// From the captures alone.
std::vector<Finding> HumFindings(const TestSettings& settings, const AnalysisRecord& analysis);

}  // namespace tarnwell
