#include "evidence/HtmlPage.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "evidence/JsonReport.h"
#include "engine/TextFormat.h"
#include "TarnwellVersion.h"

namespace tarnwell {

namespace {

using json = nlohmann::ordered_json;

// The views are drawn this wide and shown up to a fifth wider: readable on a laptop, and the
// chart code thins each curve to this many columns, so that a 200-port page stays small.
constexpr int kViewWidth = 720;

SvgDrawer& Drawer()
{
    static SvgDrawer drawer;
    return drawer;
}

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned lowest = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    unsigned code = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

using html::Escape;

std::string Element(const char* tag, const std::string& text, const std::string& attributes = "")
{
    return std::string("<") + tag + (attributes.empty() ? "" : " " + attributes) + ">" + Escape(text) + "</" +
           tag + ">";
}

std::string Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

// A JSON scalar as the page shows it: numbers as the JSON writes them, strings as they are.
std::string Scalar(const json& value)
{
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_null()) {
        return "-";
    }
    return value.dump();
}

// Key and value rows of one JSON object: the settings and results the JSON carries.
std::string KeyValueTable(const char* caption, const json& object)
{
    std::string text = "<table class=\"kv\"><caption>" + Escape(caption) + "</caption><tbody>";
    for (const auto& [key, value] : object.items()) {
        text += "<tr><th scope=\"row\">" + Escape(key) + "</th><td>" + Escape(Scalar(value)) + "</td></tr>";
    }
    return text + "</tbody></table>\n";
}

std::string FileKind(const std::string& path, HeaderlessFormat headerless)
{
    char magic[4] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(magic, sizeof magic);
    const std::string_view head(magic, static_cast<std::size_t>(file.gcount()));
    if (head == "RIFF" || head == "RIFX") {
        return "WAV";
    }
    if (head == ".snd") {
        return "AU";
    }
    if (head == "FORM") {
        return "AIFF";
    }
    const std::string extension = std::filesystem::path(path).extension().string();
    switch (headerless) {
    case HeaderlessFormat::kPcm16:
        return "headerless 16-bit PCM";
    case HeaderlessFormat::kALaw:
        return "headerless A-law";
    case HeaderlessFormat::kULaw:
        return "headerless \u00b5-law";
    case HeaderlessFormat::kByName:
        break;
    }
    if (extension == ".al" || extension == ".alaw") {
        return "headerless A-law (by its name)";
    }
    if (extension == ".ul" || extension == ".ulaw") {
        return "headerless \u00b5-law (by its name)";
    }
    return "headerless 16-bit PCM (by its name)";
}

std::string CaptureRow(const char* which, const std::string& path, const TestSettings& s, int channel)
{
    std::error_code code;
    const std::uintmax_t bytes = std::filesystem::file_size(path, code);
    std::string kind = FileKind(path, s.headerless);
    if (channel >= 0) {
        kind += text::Format(", channel %d of a stereo file", channel);
    }
    return "<tr><th scope=\"row\">" + std::string(which) + "</th><td class=\"path\">" + Escape(path) +
           "</td><td>" +
           (code ? Escape("cannot be read: " + code.message()) : text::Format("%ju bytes", bytes)) +
           "</td><td>" + Escape(kind) + "</td></tr>";
}

// usedTxChannel: the channel the run read Tx from, -1 when it did not read a stereo file.
std::string CapturesTable(const RunRequest& options, int sampleCount, int usedTxChannel)
{
    const TestSettings& s = options.settings;
    const bool stereo = s.txPath == s.rxPath;
    const int txChannel = usedTxChannel >= 0 ? usedTxChannel : stereo ? (s.txChannel > 0 ? 1 : 0) : -1;
    const int rxChannel = stereo ? 1 - txChannel : -1;
    std::string used = sampleCount > 0
                           ? text::Format("%d samples of each capture used (%s s at 8000 samples/s)",
                                          sampleCount, text::Number(sampleCount / 8000.0).c_str())
                           : std::string("no samples used: the run stopped before reading them");
    return "<table class=\"captures\"><caption>Captures: " + Escape(used) +
           "</caption><thead><tr><th></th><th>File</th><th>Size</th><th>Format</th></tr></thead><tbody>" +
           CaptureRow("Tx", s.txPath, s, txChannel) + CaptureRow("Rx", s.rxPath, s, rxChannel) +
           "</tbody></table>\n";
}

}  // namespace

std::string html::VerdictBadge(const char* verdict)
{
    std::string lower = verdict;
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c == ' ' ? '-' : c);
    }
    return std::string("<span class=\"verdict v-") + lower + "\">" + verdict + "</span>";
}

std::string html::FindingLabels(const std::vector<Finding>& findings)
{
    std::string text;
    for (const Finding& f : findings) {
        text += "<span class=\"tag " + std::string(SeverityName(f.severity)) + "\" title=\"" +
                Escape(f.text) + "\">" + Escape(f.code) + "</span> ";
    }
    return text;
}

// One run's section: the report lines, the findings in full, the captures, settings and
// results, the views.
std::string html::Section(const std::string& id, const std::string& heading, const char* verdict,
                          const RunRequest& options, const RunRecord& run, const std::string& status,
                          const std::vector<std::string>& messages, const PageEvidence* evidence)
{
    const json data = JsonReport(options, run, status, messages);
    std::string text = "<section class=\"port\" id=\"" + id + "\">\n<h2>" + Escape(heading) + " " +
                       VerdictBadge(verdict) + "</h2>\n";
    text += "<table class=\"kv report\"><caption>Report</caption><tbody>";
    const auto row = [&](const char* label, const std::string& value) {
        text += "<tr><th scope=\"row\">" + Escape(label) + "</th><td>" + Escape(value) + "</td></tr>";
    };
    if (run.report) {
        const Report& r = *run.report;
        row(kRowLabels.realDelay, r.realDelay);
        row(kRowLabels.erl, r.erl);
        row(kRowLabels.residual, r.residual);
        row(kRowLabels.levels, r.levels);
        row(kRowLabels.minimalTail, std::to_string(r.minimalTail));
        row(kRowLabels.txGainDecrease, std::to_string(r.txGainDecrease));
    }
    row("Status", status);
    text += "</tbody></table>\n";
    if (!messages.empty() || !run.details.empty()) {
        text += "<h3>Messages</h3><ul class=\"messages\">";
        for (const std::string& m : messages) {
            text += Element("li", m);
        }
        for (const std::string& d : run.details) {
            text += Element("li", d, "class=\"detail\"");
        }
        text += "</ul>\n";
    }
    text += "<h3>Findings</h3>\n";
    if (run.findings.empty()) {
        text += "<p>None.</p>\n";
    } else {
        text += "<ul class=\"findings\">";
        for (const Finding& f : run.findings) {
            text += "<li><span class=\"tag " + std::string(SeverityName(f.severity)) + "\">" +
                    Escape(f.code) + "</span> " + SeverityName(f.severity) + ": " + Escape(f.text) + "</li>";
        }
        text += "</ul>\n";
    }
    text += CapturesTable(options, evidence != nullptr ? evidence->sampleCount : 0,
                          evidence != nullptr ? evidence->txChannel : -1);
    text += "<div class=\"tables\">" + KeyValueTable("Settings", data["settings"]) +
            KeyValueTable("Results", data["results"]) + "</div>\n";
    // Its own sheet in print: the report, findings and tables on one, the views on the next.
    text += "<div class=\"views\">\n<h3>Views</h3>\n";
    if (evidence == nullptr) {
        text += "<p class=\"note\">The views of this run were not kept.</p>\n";
    } else {
        for (std::size_t i = 0; i < evidence->titles.size(); ++i) {
            text += "<figure class=\"view\">";
            if (i < evidence->svgs.size() && !evidence->svgs[i].empty()) {
                // Drawn by the chart code, which escapes its texts; the title is in the view.
                text += evidence->svgs[i];
            } else {
                text += Element("figcaption", evidence->titles[i]) +
                        Element("p", "Not drawn: " + evidence->note, "class=\"note\"");
            }
            text += "</figure>\n";
        }
    }
    return text + "</div>\n</section>\n";
}

namespace {

constexpr const char* kStyle = R"(
:root { color-scheme: light; }
body { font: 15px/1.45 "DejaVu Sans", system-ui, sans-serif; margin: 1.5em auto; max-width: 1280px; padding: 0 1em; color: #1b1b1b; }
h1 { font-size: 1.5em; margin-bottom: .2em; }
h2 { font-size: 1.25em; border-bottom: 1px solid #bbb; padding-bottom: .2em; margin-top: 2em; }
h3 { font-size: 1.05em; margin: 1.2em 0 .4em; }
table { border-collapse: collapse; margin: .5em 0 1em; }
caption { text-align: left; font-weight: bold; padding: .2em 0; }
th, td { border: 1px solid #ccc; padding: .25em .5em; text-align: left; vertical-align: top; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
.kv th { background: #f4f4f4; font-weight: normal; white-space: nowrap; }
.tables { display: flex; flex-wrap: wrap; gap: 0 2em; }
.path { word-break: break-all; }
.meta { color: #444; }
.count { font-size: 1.1em; font-weight: bold; }
.wide { overflow-x: auto; }
#ports { font-size: .9em; }
#ports thead th { background: #eee; }
#ports td.message { min-width: 16em; }
#ports th button { font: inherit; font-weight: bold; border: 0; background: none; padding: 0; cursor: pointer; }
#ports th[aria-sort=ascending] button::after { content: " \25B2"; }
#ports th[aria-sort=descending] button::after { content: " \25BC"; }
.verdict { display: inline-block; min-width: 4.5em; text-align: center; padding: 0 .4em; border-radius: 3px; font-size: .9em; }
.v-ok { background: #d9f0d9; color: #0c4a0c; border: 1px solid #7bbf7b; }
.v-check { background: #fff0c2; color: #5c4100; border: 2px dashed #b58900; font-weight: bold; }
.v-not-measured { background: #e6edf5; color: #1f3a5f; border: 1px dotted #3f6288; }
.v-failed { background: #9b1c1c; color: #fff; border: 2px solid #000; font-weight: bold; }
.tag { display: inline-block; white-space: nowrap; font: .8em monospace; padding: 0 .35em; border-radius: 2px; border: 1px solid #999; background: #f2f2f2; margin: 0 .15em .1em 0; }
.tag.warning { border-color: #b35c00; background: #ffe8cc; font-weight: bold; }
.note { color: #444; font-style: italic; border-left: 3px solid #999; padding-left: .5em; }
.detail { color: #555; }
/* Sections out of sight are laid out when scrolled to: a 200-port page opens at once. */
section.port { content-visibility: auto; contain-intrinsic-size: auto 2600px; }
figure.view { margin: 1em 0; }
figure.view svg { width: 100%; max-width: 720px; height: auto; display: block; }
figcaption { color: #444; font-size: .9em; }
@media print {
  @page { size: A4; margin: 1.2cm; }
  body { max-width: none; margin: 0; font-size: 9pt; }
  /* Two sheets a port: its report, findings and tables; then its views, two abreast. */
  section.port { break-before: page; page-break-before: always; content-visibility: visible; }
  p.meta + section.port { break-before: auto; page-break-before: auto; }  /* a single run's page */
  section.port > h2 { margin-top: 0; }
  div.views { break-before: page; page-break-before: always; display: grid; grid-template-columns: 1fr 1fr; gap: .4cm; align-content: start; }
  div.views > h3, div.views > p { grid-column: 1 / -1; margin: 0; }
  figure.view { break-inside: avoid; page-break-inside: avoid; margin: 0; }
  figure.view svg { max-width: 100%; max-height: 7.5cm; }
  #ports th button::after { content: none; }
  a { color: inherit; text-decoration: none; }
}
)";

}  // namespace

std::string html::PageStart(const std::string& title, const char* program)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"generator\" content=\"" +
           std::string(program) + " " + kVersion + "\">\n" + Element("title", title) + "\n<style>" + kStyle +
           "</style>\n</head>\n<body>\n";
}

std::string html::Generated(const char* program)
{
    return "<p class=\"meta\">Written by " + std::string(program) + " " + Escape(kVersion) + " on " + Now() +
           ".</p>\n";
}

void SetSvgDrawer(SvgDrawer drawer) { Drawer() = std::move(drawer); }

std::string html::Escape(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        const char c = text[i];
        const bool control = length == 1 && ((c >= 0 && c < 0x20 && c != '\t' && c != '\n') || c == 0x7F);
        if (length == 0 || control) {
            escaped += "\uFFFD";
            i += 1;
            continue;
        }
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped.append(text.substr(i, length));
        }
        i += length;
    }
    return escaped;
}

PageEvidence TakeEvidence(const RunRequest& options, const RunRecord& run, const std::string& prefix)
{
    PageEvidence evidence;
    evidence.sampleCount = run.analysis.sampleCount;
    evidence.txChannel = run.analysis.txChannel;
    const int minimalTail = run.report ? run.report->minimalTail : 0;
    const std::vector<ChartView> views = AllViews({options.settings, minimalTail, run.analysis});
    for (const ChartView& view : views) {
        evidence.titles.push_back(view.title);
    }
    if (!Drawer()) {
        evidence.note = "this build draws no views (no picture module)";
    } else if (!Drawer()(views, kViewWidth, prefix, evidence.svgs, evidence.note)) {
        evidence.svgs.clear();
    }
    return evidence;
}

std::string RunPage(const RunRequest& options, const RunRecord& run, const std::string& status,
                    const std::vector<std::string>& messages, const PageEvidence& evidence,
                    const char* program)
{
    const char* verdict = !run.ok                                         ? "FAILED"
                          : run.verdicts.Count(Reading::kCheck) > 0       ? "CHECK"
                          : run.verdicts.Count(Reading::kNotMeasured) > 0 ? "NOT MEASURED"
                                                                          : "OK";
    const std::string name = std::filesystem::path(options.settings.rxPath).filename().string();
    std::string page = html::PageStart("Tarnwell echo test: " + name, program);
    page += "<h1>Echo test of " + Escape(name) + "</h1>\n" + html::Generated(program);
    page += html::Section("run", "Result", verdict, options, run, status, messages, &evidence);
    return page + "</body>\n</html>\n";
}

bool WriteHtmlFile(const std::string& path, const std::string& page, std::string& error)
{
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << page;
    file.close();
    if (!file) {
        const int code = errno;
        error = path + ": cannot be written" + (code != 0 ? std::string(": ") + std::strerror(code) : "");
        return false;
    }
    return true;
}

}  // namespace tarnwell
