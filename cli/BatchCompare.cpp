#include "cli/BatchCompare.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <vector>

#include "cli/JsonReport.h"
#include "engine/TextFormat.h"

namespace tarnwell {

using json = nlohmann::ordered_json;

namespace {

const json* FindPort(const json& summary, const std::string& port)
{
    for (const json& row : summary["rows"]) {
        if (row.value("port", "") == port) {
            return &row;
        }
    }
    return nullptr;
}

// after - before of one result, when both runs reported it as a number.
json Delta(const json& before, const json& after, const char* key)
{
    // As the report reads them: no residual level, no cancellation or residual measured
    // (the ERL gate stopped the pass). A summary that says which verdicts were measured also
    // leaves out what rests on nothing (no echo, no block for the ERL).
    const bool afterPass = std::string_view(key) != "erl";
    const char* verdict = afterPass ? "residual" : "erl";
    const auto measured = [key, afterPass, verdict](const json& row) {
        const bool unmeasured = row.contains("verdicts") && row["verdicts"].is_object() &&
                                row["verdicts"].value(verdict, json()).is_null();
        return row.contains("report") && !row["report"].is_null() && row["results"][key].is_number() &&
               !(afterPass && row["results"].value("residualLevel", 0.0) == 0.0) && !unmeasured;
    };
    if (!measured(before) || !measured(after)) {
        return nullptr;
    }
    return JsonDouble(after["results"][key].get<double>() - before["results"][key].get<double>());
}

std::set<std::string> Codes(const json& row)
{
    std::set<std::string> codes;
    for (const json& finding : row.value("findings", json::array())) {
        codes.insert(finding.value("code", ""));
    }
    return codes;
}

json Minus(const std::set<std::string>& a, const std::set<std::string>& b)
{
    json list = json::array();
    for (const std::string& code : a) {
        if (b.count(code) == 0) {
            list.push_back(code);
        }
    }
    return list;
}

json Change(const std::string& port, const json* before, const json* after)
{
    json change = json::object();
    change["port"] = port;
    change["change"] = before == nullptr ? "new" : after == nullptr ? "removed" : "compared";
    change["resultBefore"] = before != nullptr ? (*before)["result"] : json(nullptr);
    change["resultAfter"] = after != nullptr ? (*after)["result"] : json(nullptr);
    const json none = json::object();
    const json& b = before != nullptr ? *before : none;
    const json& a = after != nullptr ? *after : none;
    change["erlDelta"] = Delta(b, a, "erl");
    change["cancellationDelta"] = Delta(b, a, "cancellation");
    change["residualDelta"] = Delta(b, a, "residualLevel");
    change["findingsGone"] = Minus(Codes(b), Codes(a));
    change["findingsNew"] = Minus(Codes(a), Codes(b));
    return change;
}

std::string DeltaText(const json& delta)
{
    return delta.is_number() ? text::Format("%+.2f dB", delta.get<double>()) : std::string("-");
}

std::string Joined(const json& codes, const char* between = " ")
{
    std::string text;
    for (const json& code : codes) {
        text += (text.empty() ? "" : between) + code.get<std::string>();
    }
    return text;
}

std::string ResultText(const json& change)
{
    const auto word = [](const json& result) { return result.is_string() ? result.get<std::string>() : "-"; };
    return word(change["resultBefore"]) + " -> " + word(change["resultAfter"]);
}

}  // namespace

bool ReadEarlierSummary(const std::string& path, json& earlier, std::string& error)
{
    std::error_code code;
    const std::filesystem::path file = std::filesystem::is_directory(path, code)
                                           ? std::filesystem::path(path) / "summary.json"
                                           : std::filesystem::path(path);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file.string() + ": cannot be read";
        return false;
    }
    earlier = json::parse(in, nullptr, false);
    if (earlier.is_discarded() || !earlier.is_object() || !earlier.contains("rows") ||
        !earlier["rows"].is_array()) {
        error = file.string() + ": not a batch's summary.json";
        return false;
    }
    return true;
}

json CompareSummaries(const json& earlier, const json& now)
{
    json changes = json::array();
    for (const json& row : now["rows"]) {
        const std::string port = row.value("port", "");
        changes.push_back(Change(port, FindPort(earlier, port), &row));
    }
    for (const json& row : earlier["rows"]) {
        const std::string port = row.value("port", "");
        if (FindPort(now, port) == nullptr) {
            changes.push_back(Change(port, &row, nullptr));
        }
    }
    return changes;
}

std::string ChangesTable(const json& changes)
{
    std::vector<std::vector<std::string>> table{
        {"Port", "Change", "Result", "ERL", "Cancellation", "Residual", "Findings gone", "Findings new"}};
    for (const json& c : changes) {
        table.push_back({c["port"].get<std::string>(), c["change"].get<std::string>(), ResultText(c),
                         DeltaText(c["erlDelta"]), DeltaText(c["cancellationDelta"]),
                         DeltaText(c["residualDelta"]), Joined(c["findingsGone"]), Joined(c["findingsNew"])});
    }
    return text::Columns(table);
}

std::string ChangesCsv(const json& changes)
{
    std::string text = "port,change,result_before,result_after,erl_delta,cancellation_delta,residual_delta,"
                       "findings_gone,findings_new\n";
    for (const json& c : changes) {
        const auto cell = [](const json& value) {
            return value.is_string()   ? value.get<std::string>()
                   : value.is_number() ? text::Number(value.get<double>())
                                       : "";
        };
        // Codes as summary.csv joins them.
        const std::string gone = Joined(c["findingsGone"], "; ");
        const std::string added = Joined(c["findingsNew"], "; ");
        text += text::CsvLine({cell(c["port"]), cell(c["change"]), cell(c["resultBefore"]),
                               cell(c["resultAfter"]), cell(c["erlDelta"]), cell(c["cancellationDelta"]),
                               cell(c["residualDelta"]), gone, added});
    }
    return text;
}

}  // namespace tarnwell
