// The delay over time read as a trend: a step (the echo delay changes once and stays
// changed, as when a recorder loses sync between its two files) or a steady slope (the two
// captures run on different clocks). Only stretches whose whitened peak stands out count.
#pragma once

#include <vector>

#include "engine/AnalysisRecord.h"

namespace tarnwell {

struct DelayTrend {
    int points = 0;         // stretches that count; fewer than 4: nothing below is measured
    double jumpFrom = 0.0;  // samples: the median delay before and after the step
    double jumpTo = 0.0;
    double jumpTime = 0.0;    // s, between the last point before and the first after
    double slope = 0.0;       // samples per second of the fitted line
    double spread = 0.0;      // mean |distance| of the points from the line (the farthest
                              // left out), samples
    double stepSpread = 0.0;  // the same from the best step
    double duration = 0.0;    // s, from the first point to the last
};

// minimumPeakToMedian: a stretch counts when its peak stands this far above its floor.
DelayTrend ReadDelayTrend(const std::vector<DelayTrackPoint>& track, double minimumPeakToMedian);

}  // namespace tarnwell
