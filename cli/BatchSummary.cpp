// A batch's three summaries: the terminal table, summary.csv and summary.json.
#include <algorithm>

#include "cli/Batch.h"
#include "cli/JsonReport.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

using text::Number;

std::string Joined(const std::vector<std::string>& messages)
{
    std::string text;
    for (const std::string& m : messages) {
        text += (text.empty() ? "" : "; ") + m;
    }
    return text;
}

// The rows' figures, each with the verdict it rests on: empty (CSV) or "-" (table) where that
// verdict was not measured. The report lines keep their text; only the figures go.
bool Shown(const BatchRow& row, std::size_t verdict)
{
    return row.run.verdicts.items[verdict].reading != Reading::kNotMeasured;
}
constexpr std::size_t kDelay = 0;
constexpr std::size_t kErl = 1;
constexpr std::size_t kResidual = 2;
constexpr std::size_t kLevels = 3;

std::string NotMeasuredList(const BatchRow& row)
{
    std::string text;
    for (std::size_t i = 0; row.run.ok && i < kVerdictKeys.size(); ++i) {
        if (!Shown(row, i)) {
            text += (text.empty() ? "" : "; ") + std::string(kVerdictKeys[i]);
        }
    }
    return text;
}

bool IsUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// Every byte from 0x80 up as \xNN and a backslash doubled: plain ASCII that gives the name's
// bytes back, for a name that JSON can only show with U+FFFD in it.
std::string EscapedBytes(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        escaped += byte >= 0x80 ? text::Format("\\x%02x", byte)
                   : c == '\\'  ? std::string("\\\\")
                                : std::string(1, c);
    }
    return escaped;
}

}  // namespace

std::string RowMessage(const BatchRow& row)
{
    return CauseFirst(row.run.findings, Joined(row.messages)) +
           (row.run.details.empty() ? "" : "; " + Joined(row.run.details));
}

PortVerdict VerdictOf(const Verdicts& verdicts)
{
    return verdicts.Count(Reading::kCheck) > 0         ? PortVerdict::kCheck
           : verdicts.Count(Reading::kNotMeasured) > 0 ? PortVerdict::kNotMeasured
                                                       : PortVerdict::kOk;
}

const char* VerdictName(PortVerdict verdict)
{
    switch (verdict) {
    case PortVerdict::kOk:
        return "OK";
    case PortVerdict::kNotMeasured:
        return "NOT MEASURED";
    case PortVerdict::kCheck:
        return "CHECK";
    case PortVerdict::kInterrupted:
        return "INTERRUPTED";
    case PortVerdict::kFailed:
        break;
    }
    return "FAILED";
}

std::string SummaryCsv(const std::vector<BatchRow>& rows)
{
    // findings: the codes of the run's findings, "; " between them.
    std::string text = "port,result,checks,status,message,tx,rx,output,device,delay,tail,nlp_diff,nlp_shift,"
                       "high_pass,tx_channel,real_delay,delay_ok,erl,erl_ok,cancellation,residual_level,"
                       "residual_ok,rx_level,tx_level,levels_ok,minimal_tail,tx_gain_decrease,findings,"
                       "not_measured\n";
    for (const BatchRow& row : rows) {
        const TestSettings& s = row.options.settings;
        std::vector<std::string> cells{row.port,
                                       VerdictName(row.verdict),
                                       std::to_string(row.checks),
                                       row.status,
                                       RowMessage(row),
                                       s.txPath,
                                       s.rxPath,
                                       s.outPath,
                                       std::to_string(row.options.deviceType),
                                       std::to_string(s.delay),
                                       std::to_string(s.tail),
                                       std::to_string(s.nlpDiff),
                                       std::to_string(s.nlpShift),
                                       s.highPass != 0 ? "on" : "off",
                                       std::to_string(s.txChannel != 0 ? 1 : 0)};
        if (row.run.ok && row.run.report) {
            const TestResults& r = row.run.results;
            const auto word = [](std::int32_t flag) { return kVerdictWords[flag != 0 ? 1 : 0]; };
            const std::pair<std::size_t, std::string> figures[] = {
                {kDelay, std::to_string(r.delay)},
                {kDelay, word(r.delayOk)},
                {kErl, Number(r.erl)},
                {kErl, word(r.erlOk)},
                {kResidual, Number(r.cancellation)},
                {kResidual, Number(r.residualLevel)},
                {kResidual, word(r.residualOk)},
                {kLevels, Number(r.rxLevel)},
                {kLevels, Number(r.txLevel)},
                {kLevels, word(r.levelsOk)},
                {kDelay, std::to_string(row.run.report->minimalTail)},
                {kLevels, std::to_string(row.run.report->txGainDecrease)}};
            for (const auto& [verdict, cell] : figures) {
                cells.push_back(Shown(row, verdict) ? cell : std::string());
            }
        } else {
            cells.resize(cells.size() + 12);
        }
        std::string findings;
        for (const Finding& f : row.run.findings) {
            findings += (findings.empty() ? "" : "; ") + f.code;
        }
        cells.push_back(findings);
        cells.push_back(NotMeasuredList(row));
        // User text (names, paths, messages) may not pass for a formula; numbers stay numbers.
        static const std::vector<bool> kText{true, false, false, true, true, true, true, true};
        text += text::CsvLine(cells, kText);
    }
    return text;
}

nlohmann::ordered_json SummaryJson(const std::vector<BatchRow>& rows)
{
    nlohmann::ordered_json summary = nlohmann::ordered_json::object();
    int counts[kPortVerdicts] = {};
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const BatchRow& row : rows) {
        ++counts[static_cast<int>(row.verdict)];
        nlohmann::ordered_json port = nlohmann::ordered_json::object();
        port["port"] = row.port;
        if (!IsUtf8(row.port)) {
            port["portBytes"] = EscapedBytes(row.port);
        }
        port["result"] = VerdictName(row.verdict);
        port["checks"] = row.checks;
        port.update(JsonReport(row.options, row.run, row.status, row.messages));
        port["message"] = RowMessage(row);
        port["settings"]["txChannel"] = row.options.settings.txChannel != 0 ? 1 : 0;
        // The findings stay; the curves belong in each port's own pictures (--plots).
        port["findings"] = std::move(port["analysis"]["findings"]);
        port.erase("analysis");
        ports.push_back(std::move(port));
    }
    summary["ports"] = rows.size();
    summary["ok"] = counts[static_cast<int>(PortVerdict::kOk)];
    summary["check"] = counts[static_cast<int>(PortVerdict::kCheck)];
    summary["notMeasured"] = counts[static_cast<int>(PortVerdict::kNotMeasured)];
    summary["failed"] = counts[static_cast<int>(PortVerdict::kFailed)];
    summary["interrupted"] = counts[static_cast<int>(PortVerdict::kInterrupted)];
    summary["rows"] = std::move(ports);
    return summary;
}

std::string SummaryTable(const std::vector<BatchRow>& rows)
{
    std::vector<std::vector<std::string>> table{{"Port", "Result", "Real delay", "ERL", "Residual",
                                                 "Rx / Tx level", "Min tail", "Tx gain", "Message"}};
    for (const BatchRow& row : rows) {
        std::vector<std::string> line{text::OneLine(row.port), VerdictName(row.verdict)};
        if (row.run.ok && row.run.report) {
            const Report& r = *row.run.report;
            // A recommendation resting on an unmeasured verdict is no figure.
            for (std::string cell : {r.realDelay, r.erl, r.residual, r.levels,
                                     Shown(row, kDelay) ? std::to_string(r.minimalTail) : "-",
                                     Shown(row, kLevels) ? std::to_string(r.txGainDecrease) : "-"}) {
                line.push_back(std::move(cell));
            }
        } else {
            line.resize(line.size() + 6, "-");
        }
        line.push_back(text::OneLine(RowMessage(row)));
        table.push_back(std::move(line));
    }
    return text::Columns(table);
}

}  // namespace tarnwell
