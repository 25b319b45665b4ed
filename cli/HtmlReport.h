// HtmlReport: a whole batch as one self-contained page, built from the run page's parts
// (evidence/HtmlPage.h): the count line, the ports' table and each port's section.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "evidence/HtmlPage.h"

namespace tarnwell {

struct BatchRow;

// What a batch page says it ran.
struct BatchPageSource {
    std::string input;  // the manifest or folder
    bool manifest = false;
    std::string outDir;
    std::string commandLine;         // the options as given
    std::string comparedWith;        // --compare's earlier batch; empty for none
    nlohmann::ordered_json changes;  // then its changes (see CompareSummaries)
};

// The batch page: the count line, the ports worst first (rows as SortWorstFirst leaves them)
// in a table that sorts by any column on a click, then each port's section. evidence by port
// name; a port missing from it shows a note where its views would be.
std::string BatchPage(const std::vector<BatchRow>& rows, const BatchPageSource& source,
                      const std::map<std::string, PageEvidence>& evidence);

// The words of a command line as a shell would take them back ("tarnwell-cli" first).
std::string CommandLineText(int argc, const char* const* argv);

}  // namespace tarnwell
