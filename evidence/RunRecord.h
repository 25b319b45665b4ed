// RunRecord: what one run left behind, as the report's writers (JSON, the page) read it: its
// result, what it filled in, the report on a true result, its evidence and findings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "evidence/Findings.h"
#include "evidence/Measured.h"
#include "ui/Report.h"

namespace tarnwell {

struct RunRecord {
    bool ok = false;
    TestResults results;
    std::optional<Report> report;
    AnalysisRecord analysis;           // the run's evidence
    std::vector<Finding> findings;     // made from it, shown after the report
    Verdicts verdicts;                 // which verdicts were measured, from both
    std::vector<std::string> details;  // "file: reason" lines behind its messages
};

}  // namespace tarnwell
