#include "evidence/BandFindings.h"

#include <cmath>
#include <string>

#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

using namespace findingthresholds;
using text::Format;

void BandErlEvidence(const TestResults& r, const EchoPathSpectrumRecord& e, std::vector<Finding>& out)
{
    if (!e.measured || r.erlOk == 0) {
        return;
    }
    std::string bands;
    for (std::size_t i = 0; i < e.bandErl.size(); ++i) {
        const double erl = e.bandErl[i];
        if (erl < kBandErl && e.erl - erl > kBandDip && e.bandCoherence[i] >= kBandCoherence) {
            bands += Format("%s%.2f dB at %.0f Hz", bands.empty() ? "" : ", ", erl, e.bandCentres[i]);
        }
    }
    if (bands.empty()) {
        return;
    }
    out.push_back({"erl-band", Severity::Warning,
                   std::string("The echo returns too loud in part of the band: ERL ") + bands +
                       Format(" (third-octave bands), below %g dB, while the broadband ERL reads %.2f dB "
                              "(%.2f dB over 200\u20133400 Hz from the spectra); the hybrid is badly "
                              "balanced there: tune its balance network for those frequencies",
                              kBandErl, r.erl, e.erl)});
}

}  // namespace

std::vector<Finding> EchoSpectrumFindings(const TestResults& r, const AnalysisRecord& a)
{
    std::vector<Finding> out;
    BandErlEvidence(r, a.echoPathSpectrum, out);
    return out;
}

std::vector<Finding> HumFindings(const TestSettings& s, const AnalysisRecord& a)
{
    std::vector<Finding> out;
    const HumRecord& h = a.hum;
    if (!h.measured) {
        return out;
    }
    const struct {
        const char* name;
        int mains;
        double rise;
        double fundamental;
    } sides[] = {{"Tx", h.txMains, h.txRise, h.txFundamental}, {"Rx", h.rxMains, h.rxRise, h.rxFundamental}};
    for (const auto& side : sides) {
        if (side.rise > kHumRise && side.fundamental > kHumFundamental) {
            out.push_back({"hum", s.highPass != 0 ? Severity::Info : Severity::Warning,
                           Format("%s carries mains hum: %d Hz and its harmonics stand %.1f dB above the "
                                  "rest of the low band; look for an earthing fault%s",
                                  side.name, side.mains, side.rise,
                                  s.highPass != 0 ? " (the high-pass filter keeps it out of the test)"
                                                  : ", or turn the high-pass filter on")});
        }
    }
    return out;
}

}  // namespace tarnwell
