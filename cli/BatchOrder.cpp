// The order a batch's rows are shown in: worst port first.
#include <algorithm>
#include <cmath>

#include "cli/Batch.h"

namespace tarnwell {

void SortWorstFirst(std::vector<BatchRow>& rows)
{
    // NaN counts as the lowest cancellation, so that the order stays a strict weak ordering.
    const auto cancellation = [](const BatchRow& row) {
        const double c = row.run.results.cancellation;
        return std::isnan(c) ? -INFINITY : c;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const BatchRow& a, const BatchRow& b) {
        if (a.verdict != b.verdict) {
            return a.verdict < b.verdict;
        }
        // Within a verdict, by what the ports found.
        for (const Reading reading : {Reading::kCheck, Reading::kNotMeasured}) {
            const int countA = a.run.verdicts.Count(reading);
            const int countB = b.run.verdicts.Count(reading);
            if (countA != countB) {
                return countA > countB;
            }
        }
        if (cancellation(a) != cancellation(b)) {
            return cancellation(a) < cancellation(b);
        }
        return a.port < b.port;
    });
}

}  // namespace tarnwell
