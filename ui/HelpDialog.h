// HelpDialog: "How to capture a port", the window's F1 help. Its text is docs/capture.md,
// compiled in: the README carries the same section, and a test holds the two equal.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace tarnwell {

// The help's text as written (Markdown), from the window's resources.
QString CaptureHelpText();

class HelpDialog : public QDialog {
    Q_OBJECT

public:
    explicit HelpDialog(QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace tarnwell
