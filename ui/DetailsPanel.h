// DetailsPanel: the window's details area, in two parts. Under the report: the findings of
// the report's run as a list (a warning icon on warnings), where the cancelled Rx went with
// its length and a button to open its folder, and a line pointing to the About box. Beside
// the dialog: the three views of the run's evidence, with the readout under them.
#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

#include "engine/AnalysisRecord.h"
#include "evidence/Findings.h"
#include "ui/ChartPanel.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"

class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace tarnwell {

class DetailsPanel : public QObject {
    Q_OBJECT

public:
    // Opens a URL in the desktop's own program; false when nothing could.
    using UrlOpener = std::function<bool(const QUrl& url)>;

    // Both parts are children of window, hidden until shown.
    explicit DetailsPanel(QWidget& window);

    QWidget* Below() const { return below_; }
    QWidget* Beside() const { return beside_; }
    void SetVisible(bool visible);
    bool IsVisible() const { return !below_->isHidden(); }

    // The findings and the views of a run that made a report.
    void ShowEvidence(const RunRequest& request, const TestResults& results, const Report& report,
                      const AnalysisRecord& analysis);
    // Where the cancelled Rx goes; ran: a run has written (or emptied) it.
    void ShowOutput(const QString& absolutePath, bool ran);
    // Findings and views of settings the window no longer shows are greyed, as the report is.
    void SetStale(bool stale);

    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    void SetSaveChooser(const ChartPanel::SaveChooser& chooser);
    void SetMessageSink(const ChartPanel::MessageSink& sink);

    // The one-way network delay to the far talker that the findings judge the echo at; nullopt
    // when the box says "not given". A change remakes the shown run's findings.
    std::optional<int> NetworkDelay() const;
    QSpinBox* NetworkDelayBox() const { return networkDelay_; }

    QListWidget* Findings() const { return findings_; }
    QTabWidget* Views() const { return views_; }
    ChartPanel* View(int index) const;
    QLabel* Readout() const { return readout_; }
    QLabel* Output() const { return output_; }
    QPushButton* OpenFolder() const { return openFolder_; }
    QPushButton* SaveReport() const { return saveReport_; }
    // The findings of the run shown (empty before the first report).
    const std::vector<Finding>& ShownFindings() const { return shownFindings_; }

signals:
    // "Save report…" was pressed.
    void SaveReportRequested();

private:
    void OnOpenFolder();
    void ShowFindings();

    QWidget* below_;
    QWidget* beside_;
    QListWidget* findings_;
    QSpinBox* networkDelay_;
    QTabWidget* views_;
    QLabel* readout_;
    QLabel* output_;
    QPushButton* openFolder_;
    QPushButton* saveReport_;
    std::vector<Finding> shownFindings_;
    QString outputFolder_;
    UrlOpener openUrl_;
    // What the shown findings were made from, to make them again at another network delay.
    std::optional<RunRequest> shownRequest_;
    TestResults shownResults_;
    AnalysisRecord shownAnalysis_;
};

}  // namespace tarnwell
