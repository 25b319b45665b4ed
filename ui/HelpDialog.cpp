#include "ui/HelpDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tarnwell {

QString CaptureHelpText()
{
    QFile file(QStringLiteral(":/tarnwell/capture.md"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this))
{
    setWindowTitle(tr("How to capture a port"));
    browser_->setOpenExternalLinks(true);
    browser_->setMarkdown(CaptureHelpText());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    // Wide enough for the report's rows and their explanation side by side with the window.
    resize(640, 560);
}

}  // namespace tarnwell
