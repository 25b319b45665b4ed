// Runs on the shipped sample captures from a scratch working directory (each run writes
// out.pcm into the working directory), and how the window shows a report that is stale.
#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "WindowProbe.h"

struct ScratchDir {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    ScratchDir() { QDir::setCurrent(dir.path()); }
    ~ScratchDir() { QDir::setCurrent(previous); }
    QString File(const QString& name) const { return dir.filePath(name); }
};

inline QString SampleFile(const char* name) { return QStringLiteral(TARNWELL_SAMPLES_DIR "/") + QLatin1String(name); }

// Names the samples, chooses the device row and runs to the end.
inline void RunOnSamples(const WindowProbe& probe, int row = 0)
{
    probe.ChooseRow(row);
    probe.Type(controlid::kRxPath, SampleFile("rx.pcm"));
    probe.Type(controlid::kTxPath, SampleFile("tx.pcm"));
    probe.Click(controlid::kRun);
}

inline constexpr int kReportBoxes[] = {controlid::kRealDelay, controlid::kErl,         controlid::kResidual,
                                       controlid::kLevels,    controlid::kMinimalTail, controlid::kTxGainDecrease};

// True when every box of the report and the recommendations shows its text greyed.
inline bool ReportGreyed(const WindowProbe& probe)
{
    for (int id : kReportBoxes) {
        QLineEdit* box = probe.Edit(id);
        if (box->palette().color(QPalette::Text) != QApplication::palette(box).color(QPalette::Disabled, QPalette::Text)) {
            return false;
        }
    }
    return true;
}

inline QStringList ReportTexts(const WindowProbe& probe)
{
    QStringList texts;
    for (int id : kReportBoxes) {
        texts << probe.Text(id);
    }
    return texts;
}
