// HtmlReport: a run, or a whole batch, as one self-contained UTF-8 page to hand on: inline
// styles, the views as inline SVG, no request to anywhere. It is a view over the run data the
// JSON carries (the report lines, the settings and results, the findings), never a second
// set of figures. Every text that comes from a user (paths, manifest cells, port names) is
// escaped.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"

namespace tarnwell {

struct BatchRow;

// Each view as the text of one SVG element drawn width pixels wide, ids prefixed with prefix;
// false with a reason. The picture module provides it.
using SvgDrawer =
    std::function<bool(const std::vector<ChartView>& views, int width, const std::string& prefix,
                       std::vector<std::string>& svgs, std::string& error)>;

// The drawer pages use; main() registers the picture module's. Without one, a page still
// writes, with a note where each view would be.
void SetSvgDrawer(SvgDrawer drawer);

namespace html {

// Text safe in an element or a quoted attribute: & < > " ' as references, bytes that are not
// UTF-8 and control characters other than tab and line feed as U+FFFD.
std::string Escape(std::string_view text);

}  // namespace html

// What a page shows of a run's evidence, taken while the analysis record is alive (a batch
// lets each port's record go as soon as it is done).
struct PageEvidence {
    int sampleCount = 0;              // samples of each capture the run used
    int txChannel = -1;               // of a stereo file: the channel read as Tx; -1: none
    std::vector<std::string> titles;  // each view's title
    std::vector<std::string> svgs;    // its SVG, or empty when note says why not
    std::string note;                 // why the views are not drawn; empty when they are
};

// The views of the run, drawn through the registered drawer; prefix keeps ids unique in a page.
PageEvidence TakeEvidence(const CliOptions& options, const CliRun& run, const std::string& prefix);

// One run's page: the tool's version, the date, the captures, the settings, the report lines,
// the findings in full and the views.
std::string RunPage(const CliOptions& options, const CliRun& run, const std::string& status,
                    const std::vector<std::string>& messages, const PageEvidence& evidence);

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

// Writes the page; false with "path: reason".
bool WriteHtmlFile(const std::string& path, const std::string& page, std::string& error);

}  // namespace tarnwell
