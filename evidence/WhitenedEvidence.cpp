#include "evidence/WhitenedEvidence.h"

#include "evidence/AllBlocksErl.h"
#include "evidence/EchoPathBands.h"
#include "evidence/NonlinearEcho.h"
#include "evidence/WhitenedDelay.h"

namespace tarnwell {

void AddWhitenedEvidence(AnalysisRecord& a)
{
    WhitenedSearch search = SearchWhitenedDelay(a.txCapture, a.rxCapture);
    a.whitenedDelay = search.delay;
    a.delayTrack = std::move(search.track);
    a.echoPathSpectrum = ReadEchoPathSpectrum(search.spectra);
    a.hum = ReadHum(search.spectra);
    if (a.whitenedDelay.measured && a.whitenedDelay.peakLag > 0) {
        a.allBlocksErl = MeasureAllBlocksErl(a.txCapture, a.rxCapture, a.whitenedDelay.peakLag);
        a.nonlinearEcho = MeasureNonlinearEcho(a.txCapture, a.rxCapture, a.echoPath);
    }
    a.txCapture = {};
    a.rxCapture = {};
}

}  // namespace tarnwell
