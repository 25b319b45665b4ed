// Where a batch's ports come from: capture pairs found by name in a folder, or the rows of a
// CSV manifest.
#include <charconv>
#include <fstream>
#include <map>
#include <set>

#include "cli/Batch.h"
#include "cli/RunOptions.h"

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

// Splits one CSV line into cells: commas separate, double quotes enclose a cell that holds
// commas or quotes, and a doubled quote inside them is one quote.
std::vector<std::string> SplitCsv(const std::string& line)
{
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cells.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    return cells;
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

const std::set<std::string> kManifestColumns{"port",     "tx",        "rx",       "device",
                                             "delay",    "tail",      "nlp_diff", "nlp_shift",
                                             "high_pass", "stereo",   "pcap"};

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
                port.problem = std::string("more than one ") + which + " capture for port " + name +
                               ": " + ListOf(*side);
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
    std::ifstream file(manifest);
    std::string line;
    if (!file || !std::getline(file, line)) {
        error = manifest.string() + ": cannot read the manifest";
        return {};
    }
    std::vector<std::string> header = SplitCsv(line);
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = Trim(header[i]);
        if (kManifestColumns.count(name) == 0 || column.count(name) != 0) {
            error = manifest.string() + ": unknown or repeated column '" + name + "'";
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
    for (int row = 2; std::getline(file, line); ++row) {
        if (Trim(line).empty()) {
            continue;
        }
        std::vector<std::string> cells = SplitCsv(line);
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
                problem = where + "device '" + device + "' is not a row from 0 to " + std::to_string(kDeviceCount - 1);
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
        const std::pair<const char*, std::int32_t*> numbers[] = {
            {"delay", &s.delay}, {"tail", &s.tail}, {"nlp_diff", &s.nlpDiff}, {"nlp_shift", &s.nlpShift}};
        for (const auto& [name, member] : numbers) {
            if (const std::string text = cell(name); !text.empty()) {
                if (const std::optional<int> value = WholeNumber(text)) {
                    *member = *value;
                } else {
                    problem = where + name + " '" + text + "' is not a whole number";
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
