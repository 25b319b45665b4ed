// A MainDialog on the offscreen platform with its message box and file dialog replaced, so a
// test never blocks on a modal window and sees what the user would have been shown.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "ui/MainDialog.h"

using namespace tarnwell;

struct WindowProbe {
    std::unique_ptr<MainDialog> dialog = std::make_unique<MainDialog>();
    QStringList messages;            // every message box, in order
    QList<bool> runEnabledWhenShown; // the Run button's state as each message box opened
    QStringList filters;             // every file dialog's filter
    QString nextFile;                // what the next file dialog returns ("" = cancelled)

    WindowProbe()
    {
        dialog->SetMessageBoxHook([this](QWidget*, const QString& text) {
            messages.push_back(text);
            runEnabledWhenShown.push_back(Button(controlid::kRun)->isEnabled());
        });
        dialog->SetFileChooser([this](QWidget*, const QString& filter) {
            filters.push_back(filter);
            return nextFile;
        });
        dialog->show();
    }

    QLineEdit* Edit(int id) const { return dialog->ControlAs<QLineEdit>(id); }
    QPushButton* Button(int id) const { return dialog->ControlAs<QPushButton>(id); }
    QCheckBox* HighPass() const { return dialog->ControlAs<QCheckBox>(controlid::kHighPass); }
    QComboBox* List() const { return dialog->ControlAs<QComboBox>(controlid::kDeviceType); }
    QProgressBar* Progress() const { return dialog->ControlAs<QProgressBar>(controlid::kProgress); }
    QString Text(int id) const { return Edit(id)->text(); }
    // Clicks a button and, when that started a run, lets the run end as a user would wait.
    void Click(int id) const
    {
        QTest::mouseClick(Button(id), Qt::LeftButton);
        WaitForRun();
    }

    bool WaitForRun() const { return QTest::qWaitFor([this] { return !dialog->Running(); }, 60000); }

    void Type(int id, const QString& text) const
    {
        Edit(id)->clear();
        QTest::keyClicks(Edit(id), text);
    }

    // Chooses a device row with the keyboard, as a user would.
    void ChooseRow(int row) const
    {
        QComboBox* list = List();
        list->setFocus();
        for (int step = 0; step < 20 && list->currentIndex() != row; ++step) {
            QTest::keyClick(list, list->currentIndex() < row ? Qt::Key_Down : Qt::Key_Up);
        }
    }
};
