#include "ui/AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "TarnwellVersion.h"

namespace tarnwell {

namespace {
constexpr int kOkButton = 1;
constexpr int kVersionLabel = 1000;  // its template text has %1 where the version goes
}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(kAboutDialogTemplate, parent)
{
    QLabel* version = ControlAs<QLabel>(kVersionLabel);
    version->setText(version->text().arg(QString::fromLatin1(kVersion)));
    connect(ControlAs<QPushButton>(kOkButton), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwell
