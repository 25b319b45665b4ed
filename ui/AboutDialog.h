// AboutDialog: the About box (template 100): the icon, the program's name and version, and
// an OK button. OK, Enter and Escape close it.
#pragma once

#include "ui/TemplateDialog.h"

namespace tarnwell {

inline constexpr int kAboutDialogTemplate = 100;

class AboutDialog : public TemplateDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tarnwell
