#include "ui/StartArguments.h"

#include <QFileInfo>

namespace tarnwell {

std::optional<StartCaptures> ParseStartArguments(const QStringList& arguments, QString& error)
{
    error.clear();
    QStringList paths;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            error = QStringLiteral("unknown option %1 (tarnwell --help lists them)").arg(argument);
            return std::nullopt;
        } else if (argument.isEmpty()) {
            error = QStringLiteral("an empty file name");
            return std::nullopt;
        } else {
            paths << argument;
        }
    }
    if (paths.size() > 2) {
        error = QStringLiteral("%1 files given: name the Tx capture, then the Rx capture").arg(paths.size());
        return std::nullopt;
    }
    if (paths.isEmpty()) {
        return std::nullopt;
    }
    const auto absolute = [](const QString& path) { return QFileInfo(path).absoluteFilePath(); };
    const QString tx = absolute(paths.front());
    return StartCaptures{tx, paths.size() == 2 ? absolute(paths.back()) : tx};
}

}  // namespace tarnwell
