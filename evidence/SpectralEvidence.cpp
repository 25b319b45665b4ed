#include "evidence/SpectralEvidence.h"

#include "evidence/WhitenedDelay.h"

namespace tarnwell {

void AddSpectralEvidence(AnalysisRecord& a)
{
    WhitenedSearch search = SearchWhitenedDelay(a.txCapture, a.rxCapture);
    a.whitenedDelay = search.delay;
    a.delayTrack = std::move(search.track);
    a.txCapture = {};
    a.rxCapture = {};
}

}  // namespace tarnwell
