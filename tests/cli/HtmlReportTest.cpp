// The page writer's own rules: what escaping makes of hostile and broken text, and what a
// batch page holds for rows made up here (the whole command, its ports' order, links and
// sections are checked by check_html.py).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Batch.h"
#include "cli/HtmlReport.h"

using namespace tarnwell;

namespace {

TEST(Escape, LeavesNoMarkupAndOnlyUtf8)
{
    const std::pair<const char*, const char*> cases[] = {
        {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {"a&b \"c\"", "a&amp;b &quot;c&quot;"},
        {"tab\tand\nline", "tab\tand\nline"},
        {"bell\a del\x7f nul", "bell\uFFFD del\uFFFD nul"},  // control characters
        {"\u00b5-law \u2014 \U0001F600", "\u00b5-law \u2014 \U0001F600"},
        {"latin-1 \xb5 cut \xe2\x80", "latin-1 \uFFFD cut \uFFFD\uFFFD"},
        {"overlong \xc0\xaf surrogate \xed\xa0\x80", "overlong \uFFFD\uFFFD surrogate \uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(html::Escape(in), out) << in;
    }
}

BatchRow Row(const std::string& port, PortVerdict verdict)
{
    BatchRow row;
    row.port = port;
    row.verdict = verdict;
    row.run.findings.push_back({"no-echo", Severity::Warning, "No echo <here>."});
    return row;
}

TEST(BatchPage, CountsThePortsAndEscapesTheirTexts)
{
    SetSvgDrawer({});
    const std::vector<BatchRow> rows{Row("<b>x</b>", PortVerdict::kFailed), Row("a", PortVerdict::kFailed),
                                     Row("b", PortVerdict::kCheck), Row("n", PortVerdict::kNotMeasured),
                                     Row("c", PortVerdict::kOk)};
    const std::string page = BatchPage(rows, {"site/<m>.csv", true, "out", "tarnwell-cli batch", "", nullptr},
                                       {});
    EXPECT_NE(page.find(">5 ports: 1 OK, 1 CHECK, 1 NOT MEASURED, 2 FAILED</p>"), std::string::npos);
    // One class per verdict, so that its style applies (a space would make two).
    EXPECT_NE(page.find("<span class=\"verdict v-not-measured\">NOT MEASURED</span>"), std::string::npos);
    EXPECT_EQ(page.find("<b>x"), std::string::npos);
    EXPECT_EQ(page.find("<m>"), std::string::npos);
    EXPECT_EQ(page.find("No echo <here>"), std::string::npos);
    EXPECT_NE(page.find("The views of this run were not kept."), std::string::npos);
}

TEST(CommandLineText, QuotesWhatAShellWouldSplit)
{
    const char* argv[] = {"batch", "my site", "--html", "r.html", "a'b"};
    EXPECT_EQ(CommandLineText(5, argv), "tarnwell-cli batch 'my site' --html r.html 'a'\\''b'");
}

}  // namespace
