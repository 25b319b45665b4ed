// WindowFiles: what the window writes beside the run's own output, each callable with a path
// so that tests need no file dialog: the test signal (as the signal verb writes it) and the
// page of the run on screen (as the command line's --html writes it); and the streams of a
// pcap file chosen as a capture.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "evidence/RunRecord.h"
#include "ui/RunRequest.h"

namespace tarnwell {

// The test signal's length and level from the window: the signal verb's defaults.
inline constexpr int kWindowSignalSeconds = 30;
inline constexpr double kWindowSignalLevel = -15.0;  // dBm0

// Writes the test signal to path, coded by its name as the signal verb does; false with
// "path: reason".
bool WriteTestSignal(const QString& path, QString& error);

// The run a report on screen came from, with what its page shows.
struct ShownRun {
    RunRequest request;
    RunRecord record;
    std::string status;
    std::vector<std::string> messages;
};

// Writes the run's page (the views drawn through the window's chart code); false with
// "path: reason".
bool WriteRunPage(const QString& path, const ShownRun& run, QString& error);

// A pcap file's G.711 streams for the user to pick the one sent towards the line, when the
// file alone does not say which call to take. Empty streams and a refusal when the file
// cannot be read or holds nothing to pick from; empty both when no pick is needed.
struct PcapPick {
    QStringList names;                 // one line per G.711 stream, as the user reads it
    std::vector<std::uint32_t> ssrcs;  // beside each line
    QString refusal;                   // why the file cannot be a capture pair
};

bool IsPcapPath(const QString& path);
PcapPick StreamsToPick(const QString& path);

}  // namespace tarnwell
