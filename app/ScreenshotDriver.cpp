// Opens the window on the current display, runs a test on the given captures and, once the
// report and the details area are on screen, prints the window's id; it then stays open until
// it is killed. scripts/screenshot.sh drives it under Xvfb.
// Usage: window_screenshot_driver RX.pcm TX.pcm [device-row]
// TARNWELL_SCREENSHOT_COLLAPSED=1 leaves the details area closed.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/MainDialog.h"

using namespace tarnwell;

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwell"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RX.pcm TX.pcm [device-row]\n", argv[0]);
        return 2;
    }
    MainDialog dialog;
    dialog.SetMessageBoxHook(
        [](QWidget*, const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    dialog.show();
    if (argc > 3) {
        dialog.ControlAs<QComboBox>(controlid::kDeviceType)
            ->setCurrentIndex(QString::fromLocal8Bit(argv[3]).toInt());
        dialog.ApplyDevicePreset();
    }
    dialog.ControlAs<QLineEdit>(controlid::kRxPath)->setText(QString::fromLocal8Bit(argv[1]));
    dialog.ControlAs<QLineEdit>(controlid::kTxPath)->setText(QString::fromLocal8Bit(argv[2]));

    QObject::connect(&dialog, &MainDialog::RunFinished, &dialog, [&dialog] {
        const char* collapsed = std::getenv("TARNWELL_SCREENSHOT_COLLAPSED");
        dialog.ShowDetails(collapsed == nullptr || std::string(collapsed) != "1");
        // Give the window a moment to paint the report and the views before anyone looks.
        QTimer::singleShot(1000, &dialog, [&dialog] {
            std::printf("%llu\n", static_cast<unsigned long long>(dialog.winId()));
            std::fflush(stdout);
        });
    });
    QTimer::singleShot(300, &dialog, [&dialog] { dialog.OnRun(); });
    return application.exec();
}
