#include "cli/HtmlReport.h"

#include <cmath>

#include "cli/Batch.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

using json = nlohmann::ordered_json;
using html::Escape;

// Sorts the ports table on a click of a column's header; a second click reverses. Cells carry
// their sort key in data-key; cells without a value sort last either way, and ties keep the
// worst-first order. Without scripts the table simply stays worst first.
constexpr const char* kSortScript = R"(
(function () {
  var table = document.getElementById('ports');
  if (!table) { return; }
  var heads = table.tHead.rows[0].cells;
  Array.prototype.forEach.call(heads, function (th, col) {
    var button = document.createElement('button');
    button.type = 'button';
    button.textContent = th.textContent;
    th.textContent = '';
    th.appendChild(button);
    button.addEventListener('click', function () {
      var up = th.getAttribute('aria-sort') !== 'ascending';
      Array.prototype.forEach.call(heads, function (h) { h.removeAttribute('aria-sort'); });
      th.setAttribute('aria-sort', up ? 'ascending' : 'descending');
      var numeric = th.getAttribute('data-type') === 'num';
      var body = table.tBodies[0];
      var rows = Array.prototype.slice.call(body.rows);
      rows.sort(function (a, b) {
        var x = a.cells[col].getAttribute('data-key'), y = b.cells[col].getAttribute('data-key');
        var order = 0;
        if (x === '' || y === '') {
          order = (x === '') - (y === '');
          if (order !== 0) { return order; }
        } else if (numeric) {
          var p = parseFloat(x), q = parseFloat(y);
          order = p < q ? -1 : (p > q ? 1 : 0);
        } else {
          order = x < y ? -1 : (x > y ? 1 : 0);
        }
        if (!up) { order = -order; }
        return order !== 0 ? order : a.getAttribute('data-rank') - b.getAttribute('data-rank');
      });
      rows.forEach(function (row) { body.appendChild(row); });
    });
  });
})();
)";

// A sort key: the number as the JSON writes it; empty for NaN, which has no place in an order.
std::string NumberKey(double value) { return std::isnan(value) ? std::string() : text::Number(value); }

// Before and after, per port, as compare.csv has it.
std::string ChangesSection(const BatchPageSource& source)
{
    const auto delta = [](const json& value) {
        return value.is_number() ? text::Format("%+.2f dB", value.get<double>()) : std::string("-");
    };
    const auto word = [](const json& value) {
        return value.is_string() ? value.get<std::string>() : std::string("-");
    };
    const auto codes = [](const json& list) {
        std::string text;
        for (const json& code : list) {
            text += "<span class=\"tag\">" + Escape(code.get<std::string>()) + "</span> ";
        }
        return text;
    };
    std::string text =
        "<table id=\"changes\"><caption>Before and after: since " + Escape(source.comparedWith) +
        "</caption><thead><tr><th>Port</th><th>Change</th><th>Result</th><th>ERL</th>"
        "<th>Cancellation</th><th>Residual</th><th>Findings gone</th><th>Findings new</th></tr>"
        "</thead><tbody>\n";
    for (const json& c : source.changes) {
        text += "<tr><td>" + Escape(word(c["port"])) + "</td><td>" + Escape(word(c["change"])) + "</td><td>" +
                Escape(word(c["resultBefore"])) + " \u2192 " + Escape(word(c["resultAfter"])) +
                "</td><td class=\"num\">" + delta(c["erlDelta"]) + "</td><td class=\"num\">" +
                delta(c["cancellationDelta"]) + "</td><td class=\"num\">" + delta(c["residualDelta"]) +
                "</td><td>" + codes(c["findingsGone"]) + "</td><td>" + codes(c["findingsNew"]) +
                "</td></tr>\n";
    }
    return text + "</tbody></table>\n";
}

}  // namespace

std::string BatchPage(const std::vector<BatchRow>& rows, const BatchPageSource& source,
                      const std::map<std::string, PageEvidence>& evidence)
{
    int counts[kPortVerdicts] = {};
    for (const BatchRow& row : rows) {
        ++counts[static_cast<int>(row.verdict)];
    }
    std::string page = html::PageStart("Tarnwell site report: " + source.input);
    page += "<h1>Echo tests of " + Escape(source.input) + "</h1>\n" + html::Generated();
    page += "<table class=\"kv\"><tbody><tr><th scope=\"row\">" +
            std::string(source.manifest ? "Manifest" : "Folder") + "</th><td class=\"path\">" +
            Escape(source.input) + "</td></tr><tr><th scope=\"row\">Output folder</th><td class=\"path\">" +
            Escape(source.outDir) + "</td></tr><tr><th scope=\"row\">Command</th><td class=\"path\"><code>" +
            Escape(source.commandLine) + "</code></td></tr></tbody></table>\n";
    const int interrupted = counts[static_cast<int>(PortVerdict::kInterrupted)];
    page += text::Format("<p class=\"count\" id=\"count\">%zu ports: %d OK, %d CHECK, %d NOT MEASURED, %d "
                         "FAILED%s</p>\n",
                         rows.size(), counts[static_cast<int>(PortVerdict::kOk)],
                         counts[static_cast<int>(PortVerdict::kCheck)],
                         counts[static_cast<int>(PortVerdict::kNotMeasured)],
                         counts[static_cast<int>(PortVerdict::kFailed)],
                         interrupted > 0 ? text::Format(", %d INTERRUPTED", interrupted).c_str() : "");

    if (!source.comparedWith.empty()) {
        page += ChangesSection(source);
    }
    page +=
        "<div class=\"wide\"><table id=\"ports\"><thead><tr><th>Port</th><th data-type=\"num\">Result</th>"
        "<th data-type=\"num\">Real delay</th><th data-type=\"num\">ERL</th>"
        "<th data-type=\"num\">Residual</th><th data-type=\"num\">Rx / Tx level</th>"
        "<th data-type=\"num\">Min tail</th><th data-type=\"num\">Tx gain</th><th>Findings</th>"
        "<th>Message</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        const std::string rank = std::to_string(i);
        page += "<tr data-rank=\"" + rank + "\"><td data-key=\"" + Escape(row.port) + "\"><a href=\"#port-" +
                rank + "\">" + Escape(row.port) + "</a></td>";
        page += "<td data-key=\"" + rank + "\">" + html::VerdictBadge(VerdictName(row.verdict)) + "</td>";
        const auto cell = [&](const std::string& key, const std::string& shown) {
            page += "<td class=\"num\" data-key=\"" + key + "\">" + Escape(shown) + "</td>";
        };
        if (row.run.ok && row.run.report) {
            const Report& r = *row.run.report;
            const TestResults& res = row.run.results;
            cell(std::to_string(res.delay), r.realDelay);
            cell(NumberKey(res.erl), r.erl);
            cell(NumberKey(res.cancellation), r.residual);
            cell(NumberKey(res.rxLevel), r.levels);
            // As the terminal's table: no recommendation that rests on an unmeasured verdict.
            const auto shown = [&](const VerdictReading& v, int value) {
                const bool measured = v.reading != Reading::kNotMeasured;
                cell(measured ? std::to_string(value) : "", measured ? std::to_string(value) : "-");
            };
            shown(row.run.verdicts.delay(), r.minimalTail);
            shown(row.run.verdicts.levels(), r.txGainDecrease);
        } else {
            for (int k = 0; k < 6; ++k) {
                cell("", "-");
            }
        }
        std::string codes;
        std::string message;
        for (const Finding& f : row.run.findings) {
            codes += (codes.empty() ? "" : " ") + f.code;
        }
        for (const std::string& m : row.messages) {
            message += (message.empty() ? "" : "; ") + m;
        }
        message = CauseFirst(row.run.findings, message);
        page += "<td data-key=\"" + Escape(codes) + "\">" + html::FindingLabels(row.run.findings) + "</td>";
        page += "<td class=\"message\" data-key=\"" + Escape(message) + "\">" + Escape(message) +
                "</td></tr>\n";
    }
    page += "</tbody></table></div>\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        const auto found = evidence.find(row.port);
        page += html::Section("port-" + std::to_string(i), row.port, VerdictName(row.verdict), row.options,
                              row.run, row.status, row.messages,
                              found != evidence.end() ? &found->second : nullptr);
    }
    page += std::string("<script>") + kSortScript + "</script>\n";
    return page + "</body>\n</html>\n";
}

std::string CommandLineText(int argc, const char* const* argv)
{
    std::string text = "tarnwell-cli";
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        const bool plain = !word.empty() && word.find_first_of(" \t\n'\"\\$`*?;&|<>()") == std::string::npos;
        std::string quoted = "'";
        for (const char c : word) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        text += " " + (plain ? word : quoted + "'");
    }
    return text;
}

}  // namespace tarnwell
