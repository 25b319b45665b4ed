#include "app/MainApp.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QMessageBox>

#include "canceller/TapLoop.h"

#include "TarnwellVersion.h"
#include "ui/DialogTemplate.h"
#include "ui/MainDialog.h"
#include "ui/StartArguments.h"

namespace tarnwell {

int MainApp::Run(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwell"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setWindowIcon(LoadResourceIcon(kApplicationIcon));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwell"));
    // A loop name mistyped in the environment would otherwise run the CPU's own choice unseen.
    if (const std::string refused = taploop::RequestError(std::getenv("TARNWELL_TAP_LOOP"));
        !refused.empty()) {
        std::fprintf(stderr, "tarnwell: %s\n", refused.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("Tarnwell"), QString::fromStdString(refused));
        return 2;
    }
    // The toolkit has taken its own options (-platform, -style ...) out of the arguments.
    QString usage;
    const std::optional<StartCaptures> captures = ParseStartArguments(QApplication::arguments().mid(1),
                                                                      usage);
    if (!usage.isEmpty()) {
        std::fprintf(stderr, "tarnwell: %s\n", qPrintable(usage));
        return 2;
    }
    InitInstance(captures);
    return 0;
}

bool MainApp::InitInstance(const std::optional<StartCaptures>& captures)
{
    MainDialog dialog;
    if (captures) {
        dialog.SetCapturePaths(captures->tx, captures->rx);
    }
    dialog.exec();  // the outcome does not matter: closing the window ends the program
    return false;
}

}  // namespace tarnwell
