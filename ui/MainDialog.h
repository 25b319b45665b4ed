// MainDialog: Tarnwell's one working window (template 102). It owns every value the user sets
// or reads, runs a test with them (OnRun) and is the test run's user-interface side (TestUi):
// the status line, the message box and the progress bar. Choosing one stereo file for both
// path boxes tests its two channels, Tx in the first.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

#include "engine/TestUi.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"
#include "ui/TemplateDialog.h"

class QProgressBar;
class QMenu;

namespace tarnwell {


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
inline constexpr int kAboutCommand = 0x10;   // the About entry's command id

class MainDialog : public TemplateDialog, public TestUi {
    Q_OBJECT

public:
    // Shows an open-file dialog with the given filter; the chosen full path, or empty on cancel.
    using FileChooser = std::function<QString(QWidget* parent, const QString& filter)>;

    // The Browse filter: the capture files Tarnwell reads first, then everything.
    static const QString kBrowseFilter;

    explicit MainDialog(QWidget* parent = nullptr);

    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // TestUi
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

    // Members in their declaration order; each is exchanged with the control named beside it.
    VerdictWords m_verdict = kVerdictWords;
    QProgressBar* m_progress = nullptr;   // 1015
    int m_delay = 80;                     // 1009, samples
    QString m_erlText;                    // 1005
    int m_nlpShift = kDefaultNlpShift;    // 1012, steps of 6 dB
    QString m_realDelayText;              // 1004
    QString m_residualText;               // 1020
    QString m_rxPath;                     // 1000
    QString m_status;                     // 1014
    int m_tail = 64;                      // 1017, samples
    QString m_txPath;                     // 1001
    int m_nlpDiff = kDefaultNlpDiff;      // 1011, dB
    int m_highPass = 1;                   // 1025, 0 or 1
    int m_deviceType = 0;                 // 1024, row of DevicePresetTable
    int m_txGainDecrease = 0;             // 1023, dB
    int m_minimalTail = 0;                // 1021, samples
    QString m_levelsText;                 // 1018
    QIcon m_hIcon;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // A file dropped on either path box fills that box.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Browse(QString& path);

    FileChooser chooseFile_;
    QStringList details_;   // the lines for the next message box
};

}  // namespace tarnwell
