// TrySettingsDialog: the main window's "Try settings". It sweeps the canceller's settings over
// the window's captures and device on threads of its own (the sweep of tarnwell-cli sweep),
// with a progress bar and Cancel, then shows cancellation against tail and a row per setting
// with its measured figures, the recommended one marked. A double click on a row hands that
// row's settings back to the window. Cancelling, or closing the dialog, stops the sweep before
// its next pass and waits for its threads; a stopped sweep shows no figures.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "evidence/Sweep.h"
#include "ui/RunRequest.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace tarnwell {

class ChartPanel;
class TemplateDialog;

// What the window tries: tails 16 to 1024 in steps of 16, the tail in its box and the report's
// Minimal tail, at the bulk delay and NLP in its boxes.
SweepGrid TrySettingsGrid(const TestSettings& current);

// Puts a row's tail and NLP into the window's boxes, and its bulk delay unless the device
// greys that box (its delay is fixed).
void FillSettingsBoxes(TemplateDialog& window, const TestSettings& settings);

class TrySettingsDialog : public QDialog {
    Q_OBJECT

public:
    // Called with a row's settings when the user double-clicks it.
    using Choose = std::function<void(const TestSettings& settings)>;

    TrySettingsDialog(QWidget* parent, Choose choose);
    ~TrySettingsDialog() override;  // stops a sweep and waits for it

    // Shows the dialog and sweeps request's captures (threads: passes run at once); while a
    // sweep runs, only brings the dialog forward.
    void Start(const RunRequest& request, int threads);
    // Asks the sweep to stop before its next pass; its end arrives as usual.
    void Cancel();
    bool Running() const;

    // The figures on show: the last sweep's when it ran to its end, otherwise none.
    const SweepOutcome& Outcome() const { return outcome_; }

    // Closing the dialog stops a sweep first.
    void done(int result) override;

    QProgressBar* Progress() const { return progress_; }
    QPushButton* CancelButton() const { return cancel_; }
    QTableWidget* Table() const { return table_; }
    ChartPanel* View() const { return view_; }
    QLabel* Status() const { return status_; }
    QLabel* Recommendation() const { return recommendation_; }

signals:
    // A sweep has ended (run through, stopped or failed) and the dialog shows its outcome.
    void SweepFinished();

private:
    class Worker;
    void OnProgress(int done, int total);
    void OnFinished();
    void ShowOutcome();
    void OnRowActivated(int row);

    Choose choose_;
    SweepOutcome outcome_;
    QLabel* inputs_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QLabel* status_;
    ChartPanel* view_;
    QTableWidget* table_;
    QLabel* recommendation_;
    // The sweep that has ended, kept until the next ends: its end is reported from inside it.
    std::unique_ptr<Worker> finished_;
    std::unique_ptr<Worker> worker_;  // last: stopped and joined before the rest goes
};

}  // namespace tarnwell
