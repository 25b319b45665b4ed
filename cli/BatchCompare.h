// Before and after: a batch set against an earlier one's summary.json, port by port by name.
// Each port's change is its result before and after, the ERL, cancellation and residual level
// deltas (after minus before, null unless both were measured) and the finding codes gone and
// new; a port in one batch only is marked "new" or "removed". Built from the two summaries'
// JSON, so it shows the same figures they hold.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace tarnwell {

// The earlier summary: a folder holding summary.json, or the file itself; false with a reason.
bool ReadEarlierSummary(const std::string& path, nlohmann::ordered_json& earlier, std::string& error);

// One object per port: the ports of now in their order, then those only in earlier.
nlohmann::ordered_json CompareSummaries(const nlohmann::ordered_json& earlier,
                                        const nlohmann::ordered_json& now);

// The changes as the terminal shows them, and as compare.csv holds them.
std::string ChangesTable(const nlohmann::ordered_json& changes);
std::string ChangesCsv(const nlohmann::ordered_json& changes);

}  // namespace tarnwell
