// The --json form of a run: one object with the run's result, its last status, every
// message, the settings, every TestResults member and the report (null after a false
// result). Doubles read back to the identical double; non-finite ones become the strings
// "NaN", "Infinity" and "-Infinity", which plain JSON numbers cannot carry.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/AnalysisRecord.h"
#include "evidence/Findings.h"
#include "evidence/RunRecord.h"
#include "ui/RunRequest.h"

namespace tarnwell {

nlohmann::ordered_json JsonDouble(double value);

// The analysis object: the captures' checks, the delay curve, the ERL blocks, the echo path,
// the per-frame series (one array per quantity) and the findings.
nlohmann::ordered_json JsonAnalysis(const AnalysisRecord& analysis, const std::vector<Finding>& findings);

// Keys in the order of the records they come from.
nlohmann::ordered_json JsonReport(const RunRequest& options, const RunRecord& run, const std::string& status,
                                  const std::vector<std::string>& messages);

// Indented text; bytes that are not UTF-8 (a path can hold any) become U+FFFD instead of
// making the dump throw.
// Beside the report's verdict flags, which verdicts were measured: "verdicts" (each "OK",
// "CHECK" or null when not measured) and "notMeasured" ([{verdict, reason}]).
void AddVerdicts(const Verdicts& verdicts, nlohmann::ordered_json& object);

std::string DumpJson(const nlohmann::ordered_json& object);

}  // namespace tarnwell
