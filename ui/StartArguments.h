// StartArguments: the window's command line after the toolkit has taken its own options:
// "tarnwell TX RX" fills both path boxes; "tarnwell FILE" puts one stereo or pcap file in
// both, as choosing it twice would.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnwell {

struct StartCaptures {
    QString tx;  // absolute paths, as Browse gives them
    QString rx;
};

// arguments without the program's name. Nothing: no captures given. A usage error sets error
// and returns nothing.
std::optional<StartCaptures> ParseStartArguments(const QStringList& arguments, QString& error);

}  // namespace tarnwell
