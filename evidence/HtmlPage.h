// HtmlPage: a run as one self-contained UTF-8 page to hand on: inline styles, the views as
// inline SVG, no request to anywhere. It is a view over the run data the JSON carries (the
// report lines, the settings and results, the findings), never a second set of figures. Every
// text that comes from a user (paths, port names) is escaped. The command line's batch page
// is built from the same parts (cli/HtmlReport.h); the window saves the run page.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "evidence/ChartData.h"
#include "evidence/Findings.h"
#include "evidence/RunRecord.h"
#include "ui/RunRequest.h"

namespace tarnwell {

// Each view as the text of one SVG element drawn width pixels wide, ids prefixed with prefix;
// false with a reason. The picture module (or the window's chart code) provides it.
using SvgDrawer =
    std::function<bool(const std::vector<ChartView>& views, int width, const std::string& prefix,
                       std::vector<std::string>& svgs, std::string& error)>;

// The drawer pages use; the front end registers one. Without one, a page still writes, with
// a note where each view would be.
void SetSvgDrawer(SvgDrawer drawer);

// The program a page says wrote it, unless told otherwise.
inline constexpr const char* kPageWriter = "tarnwell-cli";

// What a page shows of a run's evidence, taken while the analysis record is alive (a batch
// lets each port's record go as soon as it is done).
struct PageEvidence {
    int sampleCount = 0;              // samples of each capture the run used
    int txChannel = -1;               // of a stereo file: the channel read as Tx; -1: none
    std::vector<std::string> titles;  // each view's title
    std::vector<std::string> svgs;    // its SVG, or empty when note says why not
    std::string note;                 // why the views are not drawn; empty when they are
};

namespace html {

// Text safe in an element or a quoted attribute: & < > " ' as references, bytes that are not
// UTF-8 and control characters other than tab and line feed as U+FFFD.
std::string Escape(std::string_view text);

// The parts a page is made of, for the batch page.
// The document up to and including <body>, with the inline styles.
std::string PageStart(const std::string& title, const char* program = kPageWriter);
// "Written by ... on <date>."
std::string Generated(const char* program = kPageWriter);
// A verdict word as a coloured label.
std::string VerdictBadge(const char* verdict);
// The findings' codes as short labels, each with its text as the title.
std::string FindingLabels(const std::vector<Finding>& findings);
// One run's section: the report lines, the findings in full, the captures, settings and
// results, the views (a note when evidence is null).
std::string Section(const std::string& id, const std::string& heading, const char* verdict,
                    const RunRequest& options, const RunRecord& run, const std::string& status,
                    const std::vector<std::string>& messages, const PageEvidence* evidence);

}  // namespace html

// The views of the run, drawn through the registered drawer; prefix keeps ids unique in a page.
PageEvidence TakeEvidence(const RunRequest& options, const RunRecord& run, const std::string& prefix);

// One run's page: the tool's version, the date, the captures, the settings, the report lines,
// the findings in full and the views.
std::string RunPage(const RunRequest& options, const RunRecord& run, const std::string& status,
                    const std::vector<std::string>& messages, const PageEvidence& evidence,
                    const char* program = kPageWriter);

// Writes the page; false with "path: reason".
bool WriteHtmlFile(const std::string& path, const std::string& page, std::string& error);

}  // namespace tarnwell
