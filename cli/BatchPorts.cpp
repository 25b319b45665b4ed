// Where a batch's ports come from: capture pairs found by name in a folder, or the rows of a
// CSV manifest.
#include <charconv>
#include <iterator>
#include <string_view>
#include <fstream>
#include <map>
#include <set>

#include "cli/Batch.h"
#include "cli/RunOptions.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace fs = std::filesystem;

namespace {

std::string ListOf(const std::vector<fs::path>& paths)
{
    std::string text;
    for (const fs::path& p : paths) {
        text += (text.empty() ? "" : ", ") + p.filename().string();
    }
    return text;
}

// A port named name, writing to outDir/name.pcm, or a problem when the name cannot be a file
// of its own there.
BatchPort NewPort(const std::string& name, const CliOptions& options, const fs::path& outDir)
{
    BatchPort port{name, options, {}};
    port.options.settings.txPath.clear();
    port.options.settings.rxPath.clear();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        port.options.settings.outPath.clear();
        port.problem = "port name '" + name + "' cannot name an output file";
    } else {
        port.options.settings.outPath = (outDir / (name + ".pcm")).string();
    }
    return port;
}

struct Pair {
    std::vector<fs::path> tx;
    std::vector<fs::path> rx;
};

void Collect(const fs::path& folder, const std::function<void(const fs::path&)>& take)
{
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error)) {
            take(entry.path());
        }
    }
}

// One record of a manifest: its cells and the line it starts on.
struct Record {
    std::vector<std::string> cells;
    int line = 0;
};

// Splits a whole manifest into records (RFC 4180): commas separate cells, a line break (LF or
// CRLF) ends a record, and double quotes enclose a cell that holds commas, quotes or line
// breaks, a doubled quote inside them being one quote. A UTF-8 byte order mark, which
// spreadsheets write, is skipped. A quote left open is reported with the line it opened on.
std::vector<Record> SplitCsv(std::string_view text, std::string& error)
{
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::vector<Record> records;
    Record record{{std::string()}, 1};
    int line = 1;
    int quoteLine = 0;  // the line an open quote started on; 0 outside quotes
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& cell = record.cells.back();
        if (quoteLine != 0) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoteLine = 0;
            } else {
                line += c == '\n' ? 1 : 0;
                cell += c;
            }
        } else if (c == '"') {
            quoteLine = line;
        } else if (c == ',') {
            record.cells.emplace_back();
        } else if (c == '\n') {
            if (cell.ends_with('\r')) {
                cell.pop_back();
            }
            records.push_back(std::move(record));
            record = Record{{std::string()}, ++line};
        } else {
            cell += c;
        }
    }
    if (quoteLine != 0) {
        error = "line " + std::to_string(quoteLine) + ": a quote opened there is never closed";
        return {};
    }
    if (record.cells.size() > 1 || !record.cells.front().empty()) {
        records.push_back(std::move(record));
    }
    return records;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<int> WholeNumber(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || last != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

const std::set<std::string> kManifestColumns{"port",     "tx",        "rx",        "device", "delay", "tail",
                                             "nlp_diff", "nlp_shift", "high_pass", "stereo", "pcap"};

// A call captured as a pcap or pcapng file: both captures of one port.
bool IsPcapName(const fs::path& file)
{
    const std::string extension = file.extension().string();
    return extension == ".pcap" || extension == ".pcapng";
}

}  // namespace

std::vector<BatchPort> FindFolderPorts(const fs::path& folder, const BatchDefaults& defaults,
                                       const fs::path& outDir)
{
    std::map<std::string, Pair> pairs;  // sorted by name
    std::map<std::string, fs::path> calls;
    Collect(folder, [&](const fs::path& file) {
        const std::string stem = file.stem().string();
        if (IsPcapName(file)) {
            pairs[stem];
            calls[stem] = file;
        } else if (stem.size() > 3 && stem.ends_with("_tx")) {
            pairs[stem.substr(0, stem.size() - 3)].tx.push_back(file);
        } else if (stem.size() > 3 && stem.ends_with("_rx")) {
            pairs[stem.substr(0, stem.size() - 3)].rx.push_back(file);
        }
    });
    Collect(folder / "tx", [&](const fs::path& file) { pairs[file.stem().string()].tx.push_back(file); });
    Collect(folder / "rx", [&](const fs::path& file) { pairs[file.stem().string()].rx.push_back(file); });

    std::vector<BatchPort> ports;
    for (const auto& [name, pair] : pairs) {
        BatchPort port = NewPort(name, defaults.options, outDir);
        if (const auto call = calls.find(name); call != calls.end()) {
            if (!pair.tx.empty() || !pair.rx.empty()) {
                port.problem = "port " + name + " has both a pcap file and Tx or Rx captures";
            }
            port.options.settings.txPath = call->second.string();
            port.options.settings.rxPath = call->second.string();
            ports.push_back(std::move(port));
            continue;
        }
        for (const auto* side : {&pair.tx, &pair.rx}) {
            const char* which = side == &pair.tx ? "Tx" : "Rx";
            if (side->empty()) {
                port.problem = std::string("no ") + which + " capture for port " + name;
            } else if (side->size() > 1) {
                port.problem = std::string("more than one ") + which + " capture for port " + name + ": " +
                               ListOf(*side);
            }
        }
        // Shown in the summary even when the pair is incomplete.
        port.options.settings.txPath = pair.tx.empty() ? "" : pair.tx.front().string();
        port.options.settings.rxPath = pair.rx.empty() ? "" : pair.rx.front().string();
        ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<BatchPort> ReadManifest(const fs::path& manifest, const BatchDefaults& defaults,
                                    const fs::path& outDir, std::string& error)
{
    std::ifstream file(manifest, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    if (!file) {
        error = manifest.string() + ": cannot read the manifest";
        return {};
    }
    std::string malformed;
    const std::vector<Record> records = SplitCsv(text, malformed);
    if (!malformed.empty()) {
        error = manifest.string() + ": " + malformed;
        return {};
    }
    if (records.empty()) {
        error = manifest.string() + ": the manifest is empty";
        return {};
    }
    const std::vector<std::string>& header = records.front().cells;
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = Trim(header[i]);
        if (kManifestColumns.count(name) == 0 || column.count(name) != 0) {
            error = manifest.string() + ": unknown or repeated column '" + text::OneLine(name) + "'";
            return {};
        }
        column[name] = i;
    }
    if (column.count("port") == 0 ||
        ((column.count("tx") == 0 || column.count("rx") == 0) && column.count("pcap") == 0)) {
        error = manifest.string() + ": the header needs the columns port, tx and rx (or pcap)";
        return {};
    }

    const fs::path base = manifest.parent_path();
    std::set<std::string> seen;
    std::vector<BatchPort> ports;
    for (auto record = records.begin() + 1; record != records.end(); ++record) {
        std::vector<std::string> cells = record->cells;
        if (cells.size() == 1 && Trim(cells.front()).empty()) {
            continue;
        }
        const int row = record->line;
        const std::size_t given = cells.size();
        cells.resize(std::max(cells.size(), header.size()));
        const auto cell = [&](const char* name) {
            const auto found = column.find(name);
            return found == column.end() ? std::string() : Trim(cells[found->second]);
        };
        const auto path = [&](const std::string& text) { return (base / text).string(); };

        BatchPort port = NewPort(cell("port"), defaults.options, outDir);
        std::string& problem = port.problem;
        const std::string where = "manifest row " + std::to_string(row) + ": ";
        if (given > header.size()) {
            problem = where + "more cells than the header has columns";
        } else if (!problem.empty() || !seen.insert(port.name).second) {
            problem = where + (problem.empty() ? "port " + port.name + " appears twice" : problem);
        }

        TestSettings& s = port.options.settings;
        const std::string stereo = cell("stereo");
        const std::string pcap = cell("pcap");
        if (!stereo.empty() || !pcap.empty()) {
            // One file is both captures: a stereo file or a call.
            if (!cell("tx").empty() || !cell("rx").empty() || (!stereo.empty() && !pcap.empty())) {
                problem = where + "give tx and rx, or stereo, or pcap: only one of them";
            }
            s.txPath = path(stereo.empty() ? pcap : stereo);
            s.rxPath = s.txPath;
        } else if (cell("tx").empty() || cell("rx").empty()) {
            problem = where + "tx and rx are both needed (or stereo, or pcap)";
        } else {
            s.txPath = path(cell("tx"));
            s.rxPath = path(cell("rx"));
        }

        // The row's device brings its own presets unless the row or the command line gives a value.
        if (const std::string device = cell("device"); !device.empty()) {
            const std::optional<int> value = WholeNumber(device);
            if (!value || *value < 0 || *value >= kDeviceCount) {
                problem = where + "device '" + device + "' is not a row from 0 to " +
                          std::to_string(kDeviceCount - 1);
            } else {
                port.options.deviceType = *value;
                if (!defaults.delayGiven) {
                    s.delay = DelayPreset(*value);
                }
                if (!defaults.tailGiven) {
                    s.tail = TailPreset(*value);
                }
            }
        }
        for (const SettingRange& range : kSettingRanges) {
            if (const std::string text = cell(range.column); !text.empty()) {
                const std::optional<int> value = WholeNumber(text);
                if (!value) {
                    problem = where + range.column + " '" + text + "' is not a whole number";
                } else if (*value < range.min || *value > range.max) {
                    problem = where + range.column + " '" + text + "' is not from " +
                              std::to_string(range.min) + " to " + std::to_string(range.max);
                } else {
                    s.*range.member = *value;
                }
            }
        }
        if (const std::string text = cell("high_pass"); !text.empty()) {
            if (const std::optional<int> value = HighPassWord(text)) {
                s.highPass = *value;
            } else {
                problem = where + "high_pass '" + text + "' is not on or off";
            }
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace tarnwell
