// SettingsLine: under the report, without opening Details, the one line a user reads first:
// the text of the run's "settings" finding (the bulk delay and tail to use), with a warning
// icon when a warning finding stands behind it. Its tooltip gives those warnings; a click asks
// for the details area. Without a "settings" finding it shows nothing.
#pragma once

#include <QWidget>
#include <vector>

#include "evidence/Findings.h"

class QLabel;

namespace tarnwell {

inline constexpr const char* kSettingsFindingCode = "settings";

class SettingsLine : public QWidget {
    Q_OBJECT

public:
    explicit SettingsLine(QWidget* parent = nullptr);

    // Shows the "settings" finding among these, or nothing.
    void Show(const std::vector<Finding>& findings);
    // A report of settings the window no longer shows greys it, as the report is.
    void SetStale(bool stale);

    // What the line says; empty when it shows nothing.
    QString Text() const;
    // The warning icon is up.
    bool Warns() const;

signals:
    // The user asked for what stands behind the line.
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* icon_;
    QLabel* text_;
};

}  // namespace tarnwell
