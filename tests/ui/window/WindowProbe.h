// A MainDialog on the offscreen platform with its message box and file dialog replaced, so a
// test never blocks on a modal window and sees what the user would have been shown.
#pragma once

#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <functional>
#include <memory>

#include "ui/MainDialog.h"

using namespace tarnwell;

struct WindowProbe {
    std::unique_ptr<MainDialog> dialog = std::make_unique<MainDialog>();
    QStringList messages;  // every message box, in order
    QStringList filters;   // every file dialog's filter
    QString nextFile;      // what the next file dialog returns ("" = cancelled)

    WindowProbe()
    {
        dialog->SetMessageBoxHook([this](QWidget*, const QString& text) { messages.push_back(text); });
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
    QStringList Texts(const QList<int>& ids) const
    {
        QStringList texts;
        for (int id : ids) {
            texts << Text(id);
        }
        return texts;
    }
    // Clicks a button and, when that started a run, lets the run end as a user would wait.
    void Click(int id) const { QTest::mouseClick(Button(id), Qt::LeftButton), WaitForRun(); }
    bool WaitForRun() const
    {
        return QTest::qWaitFor([this] { return !dialog->Running(); }, 60000);
    }
    void Type(int id, const QString& text) const { Edit(id)->clear(), QTest::keyClicks(Edit(id), text); }
    // Chooses a device row with the keyboard, as a user would.
    void ChooseRow(int row) const
    {
        QComboBox* list = List();
        list->setFocus();
        for (int step = 0; step < 20 && list->currentIndex() != row; ++step) {
            QTest::keyClick(list, list->currentIndex() < row ? Qt::Key_Down : Qt::Key_Up);
        }
    }
    void NameCaptures(const QString& rx, const QString& tx) const
    {
        Type(controlid::kRxPath, rx), Type(controlid::kTxPath, tx);
    }
    // Names both captures, chooses the device row and runs to the end.
    void RunOn(const QString& rx, const QString& tx, int row = 0) const
    {
        ChooseRow(row), NameCaptures(rx, tx), Click(controlid::kRun);
    }
};

// A scratch working directory: each run writes out.pcm into the working directory.
struct ScratchDir {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    ScratchDir() { QDir::setCurrent(dir.path()); }
    ~ScratchDir() { QDir::setCurrent(previous); }
    QString File(const QString& name) const { return dir.filePath(name); }
};

// Closes whatever opens as soon as it shows, so that a wrong box fails the test: a menu by
// choosing its first entry, a modal dialog once `seen` has looked at it.
struct ModalCloser {
    QTimer timer;
    explicit ModalCloser(std::function<void(QDialog*)> seen)
    {
        QObject::connect(&timer, &QTimer::timeout, [seen] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QTest::keyClick(menu, Qt::Key_Down), QTest::keyClick(menu, Qt::Key_Return);
            } else if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                seen(modal), modal->reject();
            }
        });
        timer.start(10);
    }
};

inline QString SampleFile(const char* name)
{
    return QStringLiteral(TARNWELL_SAMPLES_DIR "/") + QLatin1String(name);
}
inline void RunOnSamples(const WindowProbe& probe, int row = 0)
{
    probe.RunOn(SampleFile("rx.pcm"), SampleFile("tx.pcm"), row);
}

inline const QList<int> kReportBoxes{controlid::kRealDelay,   controlid::kErl,
                                     controlid::kResidual,    controlid::kLevels,
                                     controlid::kMinimalTail, controlid::kTxGainDecrease};

// True when every box of the report and the recommendations shows its text greyed.
inline bool ReportGreyed(const WindowProbe& probe)
{
    return std::all_of(kReportBoxes.begin(), kReportBoxes.end(), [&](int id) {
        QLineEdit* box = probe.Edit(id);
        return box->palette().color(QPalette::Text) ==
               QApplication::palette(box).color(QPalette::Disabled, QPalette::Text);
    });
}
