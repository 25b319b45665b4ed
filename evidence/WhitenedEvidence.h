// The evidence computed from the run's captures after the run: the whitened delay search and
// the delay over time. It fills the record's spectral fields and lets go of the captures it
// kept. It only reads the run: no result, report line or output byte depends on it.
#pragma once

#include "engine/AnalysisRecord.h"

namespace tarnwell {

void AddWhitenedEvidence(AnalysisRecord& analysis);

}  // namespace tarnwell
