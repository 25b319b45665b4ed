// The fifth view: the echo return loss across the telephone band, as the spectra give it, with
// its third-octave bands and the ERL gate, so that a badly balanced band shows as a dip.
#include "engine/TestThresholds.h"
#include "evidence/ChartData.h"

namespace tarnwell {

ChartView EchoPathByFrequencyView(const ChartInput& input)
{
    const EchoPathSpectrumRecord& e = input.analysis.echoPathSpectrum;
    ChartView view;
    view.stem = "echo-path-by-frequency";
    view.title = "Echo path by frequency: the echo return loss across the band";
    view.xLabel = "Frequency (Hz)";
    view.yLabel = "ERL (dB)";
    view.columns = {"frequency_hz", "erl_db", "coherence"};
    view.measured = e.measured && !e.frequency.empty();
    if (!view.measured) {
        view.unmeasuredReason = "No echo was found after Tx, so the echo path has no spectrum.";
        return view;
    }
    ChartSeries curve{"ERL", {}, {}, false};
    for (std::size_t i = 0; i < e.frequency.size(); ++i) {
        curve.x.push_back(e.frequency[i]);
        curve.y.push_back(-e.gain[i]);
        view.rows.push_back({e.frequency[i], -e.gain[i], e.coherence[i]});
    }
    view.series.push_back(std::move(curve));
    view.series.push_back({"third-octave bands", e.bandCentres, e.bandErl, true});
    const double gate = testthresholds::kErlGate;
    view.series.push_back({"ERL gate", {e.frequency.front(), e.frequency.back()}, {gate, gate}, false});
    return view;
}

}  // namespace tarnwell
