#include "ui/AboutDialog.h"

#include <QPushButton>

namespace tarnwell {

namespace {
constexpr int kOkButton = 1;
}

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(kAboutDialogTemplate, parent)
{
    connect(ControlAs<QPushButton>(kOkButton), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwell
