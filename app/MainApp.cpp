#include "app/MainApp.h"

#include <QApplication>

#include "TarnwellVersion.h"
#include "ui/DialogTemplate.h"
#include "ui/MainDialog.h"

namespace tarnwell {

int MainApp::Run(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwell"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setWindowIcon(LoadResourceIcon(kApplicationIcon));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwell"));
    InitInstance();
    return 0;
}

bool MainApp::InitInstance()
{
    MainDialog dialog;
    dialog.exec();   // the outcome does not matter: closing the window ends the program
    return false;
}

}  // namespace tarnwell
