// The fourth view: the whitened delay of each stretch over time, beside the whole capture's
// peak and the canceller's window, so that a jump or a drift shows as a shape.
#include <cmath>

#include "engine/TestThresholds.h"
#include "evidence/ChartData.h"
#include "evidence/Findings.h"

namespace tarnwell {

ChartView DelayOverTimeView(const ChartInput& input)
{
    const WhitenedDelayRecord& w = input.analysis.whitenedDelay;
    const std::vector<DelayTrackPoint>& track = input.analysis.delayTrack;
    ChartView view;
    view.stem = "delay-over-time";
    view.title = "Delay over time: the whitened peak of each second with Tx active";
    view.xLabel = "Time (s)";
    view.yLabel = "Delay (samples; 8 per ms)";
    view.columns = {"time_s", "delay_samples", "peak_to_median", "counts"};
    view.measured = w.measured && !track.empty();
    if (!view.measured) {
        view.unmeasuredReason = "No second of the captures had Tx active, so no delay was tracked.";
        return view;
    }
    ChartSeries counted{"delay (peak stands out)", {}, {}, true};
    ChartSeries weak{"delay (peak in the floor)", {}, {}, true};
    for (const DelayTrackPoint& p : track) {
        const bool counts = p.peakToMedian >= findingthresholds::kTrackEcho;
        ChartSeries& series = counts ? counted : weak;
        series.x.push_back(p.time);
        series.y.push_back(p.lag);
        view.rows.push_back({p.time, p.lag, p.peakToMedian, counts ? 1.0 : 0.0});
    }
    view.series.push_back(std::move(counted));
    if (!weak.x.empty()) {
        view.series.push_back(std::move(weak));
    }
    const double start = 0.0;
    const double end = track.back().time + 0.5;
    view.series.push_back({"whole capture's peak",
                           {start, end},
                           {static_cast<double>(w.peakLag), static_cast<double>(w.peakLag)},
                           false});
    return view;
}

}  // namespace tarnwell
