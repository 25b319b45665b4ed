// MainDialog: Tarnwell's one working window (template 102). It owns every value the user sets
// or reads, runs a test with them (OnRun) in the background and is the test run's
// user-interface side (TestUi): the status line, the message box and the progress bar.
// Below the template's controls: the settings advice (SettingsLine), then Cancel and the
// Details button that opens the details area.
// Choosing one stereo file for both path boxes tests its two channels, Tx in the first.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/TestUi.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"
#include "ui/TemplateDialog.h"

class QProgressBar;
class QMenu;
class QPushButton;

namespace tarnwell {

class BackgroundRun;
class DetailsPanel;
class SettingsLine;
class TrySettingsDialog;
struct RunOutcome;
struct ShownRun;

namespace controlid {
inline constexpr int kRxPath = 1000;
inline constexpr int kTxPath = 1001;
inline constexpr int kBrowseRx = 1002;
inline constexpr int kBrowseTx = 1003;
inline constexpr int kRealDelay = 1004;
inline constexpr int kErl = 1005;
inline constexpr int kDelay = 1009;
inline constexpr int kNlpDiff = 1011;
inline constexpr int kNlpShift = 1012;
inline constexpr int kStatus = 1014;
inline constexpr int kProgress = 1015;
inline constexpr int kRun = 1016;
inline constexpr int kTail = 1017;
inline constexpr int kLevels = 1018;
inline constexpr int kResidual = 1020;
inline constexpr int kMinimalTail = 1021;
inline constexpr int kTxGainDecrease = 1023;
inline constexpr int kDeviceType = 1024;
inline constexpr int kHighPass = 1025;
}  // namespace controlid

inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kAboutEntryString = 101;
inline constexpr int kApplicationIcon = 128;
inline constexpr int kAboutCommand = 0x10;  // the About entry's command id

class MainDialog : public TemplateDialog, public TestUi {
    Q_OBJECT

public:
    // Shows an open-file dialog with the given filter; the chosen full path, or empty on cancel.
    using FileChooser = std::function<QString(QWidget* parent, const QString& filter)>;

    // The Browse filter: the capture files Tarnwell reads first, then everything.
    static const QString kBrowseFilter;

    // The status line while the report on screen belongs to settings the window no longer shows.
    static const QString kStaleStatus;

    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // TestUi, on the window's thread: a background run passes the run's calls on to these.
    void SetStatus(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void AddDetail(const std::string& line) override;
    void SetProgressRange(int count) override;
    void SetProgressPos(int position) override;

    void OnRun();
    void OnOK();
    void ApplyDevicePreset();
    void OnBrowseRx();
    void OnBrowseTx();
    void OnSysCommand(int id);

    // The entries this window adds to its context menu (the About entry), in order.
    void AddSystemMenuEntries(QMenu& menu);

    // The run the window's members ask for now.
    RunRequest Request() const;

    // Enter runs a test; the dialog stays open. Only Escape and closing the window end it.
    void accept() override;
    // Ending the dialog stops a run and waits for its thread first.
    void done(int result) override;

    // A run is going on (between Run and the end of its report).
    bool Running() const { return running_; }
    // Asks the run to stop at its next frame; its end arrives as usual.
    void CancelRun();

    void ShowDetails(bool shown);
    bool DetailsShown() const;
    DetailsPanel& Details() const { return *details_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* DetailsButton() const { return detailsButton_; }

    // "Try settings": sweeps the settings over the captures named now, in a dialog of its own.
    void OnTrySettings();
    QPushButton* TrySettingsButton() const { return trySettingsButton_; }
    TrySettingsDialog* TrySettings() const { return trySettings_; }  // nullptr before the first

    // The report and recommendations on screen are not those of the settings shown.
    bool ReportStale() const { return stale_; }

    // Shows a save-file dialog with a caption and a filter; the chosen path, or empty on cancel.
    using SaveChooser =
        std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;
    // Picks one of the lines (a pcap file's streams); its index, or -1 on cancel.
    using StreamChooser = std::function<int(QWidget* parent, const QStringList& streams)>;
    void SetSaveChooser(SaveChooser chooser) { chooseSaveFile_ = std::move(chooser); }
    void SetStreamChooser(StreamChooser chooser) { chooseStream_ = std::move(chooser); }

    // Fills the Tx and Rx boxes, as the command line's "tarnwell TX RX" asks.
    void SetCapturePaths(const QString& tx, const QString& rx);
    // F1: "How to capture a port".
    void ShowHelp();
    // "Save test signal…": asks where, then writes it; SaveTestSignalTo tells the user of a failure.
    void OnSaveTestSignal();
    bool SaveTestSignalTo(const QString& path);
    // "Save report…": the page of the run whose report is on screen, as --html writes it.
    void OnSaveReport();
    bool SaveReportTo(const QString& path);
    // The settings advice under the report.
    SettingsLine* Settings() const { return settingsLine_; }

    // Members in their declaration order; each is exchanged with the control named beside it.
    VerdictWords m_verdict = kVerdictWords;
    QProgressBar* m_progress = nullptr;  // 1015
    int m_delay = 80;                    // 1009, samples
    QString m_erlText;                   // 1005
    int m_nlpShift = kDefaultNlpShift;   // 1012, steps of 6 dB
    QString m_realDelayText;             // 1004
    QString m_residualText;              // 1020
    QString m_rxPath;                    // 1000
    QString m_status;                    // 1014
    int m_tail = 64;                     // 1017, samples
    QString m_txPath;                    // 1001
    int m_nlpDiff = kDefaultNlpDiff;     // 1011, dB
    int m_highPass = 1;                  // 1025, 0 or 1
    int m_deviceType = 0;                // 1024, row of DevicePresetTable
    int m_txGainDecrease = 0;            // 1023, dB
    int m_minimalTail = 0;               // 1021, samples
    QString m_levelsText;                // 1018
    QIcon m_hIcon;

signals:
    // A run has ended and the window shows its outcome.
    void RunFinished();

protected:
    bool OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // A file dropped on either path box fills that box.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Browse(QString& path);
    void OnRunDone(const RunOutcome& outcome);
    void EndRunState();
    void WriteReport();
    void ShowVerdictRules(const TestSettings& settings);
    void OnInputsChanged();
    void MarkStale(bool stale);
    QStringList InputTexts() const;
    // In MainDialogFiles.cpp: the window's own entries of the context menu; a capture chosen
    // in a path box (a pcap file goes into both); the pcap stream the user picked, if any; the
    // run on screen kept for its page.
    void AddWindowEntries(QMenu& menu);
    void OnCaptureChosen(const QString& path);
    void ApplyStreamChoice(TestSettings& settings) const;
    void KeepShownRun(const RunOutcome& outcome);

    FileChooser chooseFile_;
    QPushButton* cancel_ = nullptr;
    QPushButton* detailsButton_ = nullptr;
    DetailsPanel* details_ = nullptr;
    QPushButton* trySettingsButton_ = nullptr;
    TrySettingsDialog* trySettings_ = nullptr;  // a child: it stops its sweep as it goes
    int collapsedHeight_ = 0;                   // pixels: the template and the button row below it
    bool running_ = false;
    bool hasReport_ = false;
    bool stale_ = false;
    QStringList runInputs_;     // the inputs as the running test read them
    QStringList reportInputs_;  // the inputs of the report on screen
    QString outputPath_;        // absolute, as the last run resolved it
    // The run that has ended, kept until the next one ends: its end is reported from inside
    // it, and whoever hears of the end may start the next run at once.
    std::unique_ptr<BackgroundRun> finished_;
    std::unique_ptr<BackgroundRun> run_;  // last: stopped and joined before the rest goes
    QStringList messageDetails_;          // the lines for the next message box
    SettingsLine* settingsLine_ = nullptr;
    SaveChooser chooseSaveFile_;
    StreamChooser chooseStream_;
    QString pickedPcap_;  // the pcap file whose Tx stream the user picked
    std::uint32_t pickedSsrc_ = 0;
    std::vector<std::string> runMessages_;  // every message box of the current run
    std::vector<std::string> runDetails_;   // and the lines behind them
    std::unique_ptr<ShownRun> shownRun_;    // the run whose report is on screen
};

}  // namespace tarnwell
