#include "evidence/DelayTrend.h"

#include <algorithm>
#include <cmath>

namespace tarnwell {

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The mean distance with the farthest point left out: the one stretch that straddles a jump
// holds either delay. A median would be too lenient: lobes that trade places in half the
// stretches would fit a step.
double Spread(const std::vector<double>& residual)
{
    double sum = 0.0;
    double largest = 0.0;
    for (const double r : residual) {
        sum += r;
        largest = std::max(largest, r);
    }
    return (sum - largest) / static_cast<double>(residual.size() - 1);
}

}  // namespace

DelayTrend ReadDelayTrend(const std::vector<DelayTrackPoint>& track, double minimumPeakToMedian)
{
    DelayTrend trend;
    std::vector<double> t;
    std::vector<double> lag;
    for (const DelayTrackPoint& p : track) {
        if (p.peakToMedian >= minimumPeakToMedian) {
            t.push_back(p.time);
            lag.push_back(p.lag);
        }
    }
    const int n = static_cast<int>(t.size());
    trend.points = n;
    if (n < 4) {
        return trend;
    }
    // Least-squares line.
    double meanT = 0.0;
    double meanLag = 0.0;
    for (int i = 0; i < n; ++i) {
        meanT += t[static_cast<std::size_t>(i)] / n;
        meanLag += lag[static_cast<std::size_t>(i)] / n;
    }
    double stt = 0.0;
    double stl = 0.0;
    for (int i = 0; i < n; ++i) {
        const double dt = t[static_cast<std::size_t>(i)] - meanT;
        stt += dt * dt;
        stl += dt * (lag[static_cast<std::size_t>(i)] - meanLag);
    }
    trend.slope = stt > 0.0 ? stl / stt : 0.0;
    trend.duration = t.back() - t.front();
    std::vector<double> residual(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        residual[k] = std::fabs(lag[k] - (meanLag + trend.slope * (t[k] - meanT)));
    }
    trend.spread = Spread(residual);
    // The single step with two points or more on each side closest to the points in sum (a
    // median would let a step anywhere fit as long as the misplaced points are a minority).
    double bestSum = INFINITY;
    for (int split = 2; split <= n - 2; ++split) {
        const std::vector<double> before(lag.begin(), lag.begin() + split);
        const std::vector<double> after(lag.begin() + split, lag.end());
        const double from = Median(before);
        const double to = Median(after);
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            residual[k] = std::fabs(lag[k] - (i < split ? from : to));
        }
        double sum = 0.0;
        for (const double r : residual)
            sum += r;
        if (sum < bestSum) {
            bestSum = sum;
            trend.stepSpread = Spread(residual);
            trend.jumpFrom = from;
            trend.jumpTo = to;
            trend.jumpTime = 0.5 *
                             (t[static_cast<std::size_t>(split - 1)] + t[static_cast<std::size_t>(split)]);
        }
    }
    return trend;
}

}  // namespace tarnwell
