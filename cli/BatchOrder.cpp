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
        // Interrupted, then failed; the ports with results are ordered by what they found.
        const auto rank = [](const BatchRow& row) { return std::min(row.verdict, PortVerdict::kCheck); };
        if (rank(a) != rank(b)) {
            return rank(a) < rank(b);
        }
        if (a.checks != b.checks) {
            return a.checks > b.checks;
        }
        if (cancellation(a) != cancellation(b)) {
            return cancellation(a) < cancellation(b);
        }
        return a.port < b.port;
    });
}

}  // namespace tarnwell
