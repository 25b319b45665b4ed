// MainDialog's files beyond the run itself: captures given at start or chosen as a pcap, the
// help, the test signal and the page of the report on screen.
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>

#include "ui/BackgroundRun.h"
#include "ui/DetailsPanel.h"
#include "ui/HelpDialog.h"
#include "ui/MainDialog.h"
#include "ui/WindowFiles.h"

namespace tarnwell {

namespace {

const QString kSignalFilter = QStringLiteral("WAV (*.wav);;Raw 16-bit PCM (*.pcm *.raw);;A-law (*.al "
                                             "*.alaw);;\u00b5-law (*.ul *.ulaw);;All Files (*)");
const QString kPageFilter = QStringLiteral("Web page (*.html *.htm);;All Files (*)");

QString AskSavePath(const MainDialog::SaveChooser& chooser, QWidget* parent, const QString& caption,
                    const QString& filter)
{
    return chooser ? chooser(parent, caption, filter)
                   : QFileDialog::getSaveFileName(parent, caption, {}, filter);
}

}  // namespace

void MainDialog::SetCapturePaths(const QString& tx, const QString& rx)
{
    UpdateData(true);
    m_txPath = tx;
    m_rxPath = rx;
    UpdateData(false);
}

void MainDialog::ShowHelp()
{
    HelpDialog help(this);
    help.exec();
}

void MainDialog::AddWindowEntries(QMenu& menu)
{
    if (!menu.isEmpty()) {
        menu.addSeparator();
    }
    menu.addAction(tr("How to capture a port\tF1"), this, &MainDialog::ShowHelp);
    menu.addAction(tr("Save test signal\u2026"), this, &MainDialog::OnSaveTestSignal);
}

void MainDialog::OnSaveTestSignal()
{
    const QString caption = tr("Save test signal (%1 s, active parts at %2 dBm0)")
                                .arg(kWindowSignalSeconds)
                                .arg(kWindowSignalLevel);
    const QString path = AskSavePath(chooseSaveFile_, this, caption, kSignalFilter);
    if (!path.isEmpty()) {
        SaveTestSignalTo(path);
    }
}

bool MainDialog::SaveTestSignalTo(const QString& path)
{
    QString error;
    if (!WriteTestSignal(path, error)) {
        MessageBox(tr("The test signal was not saved"), error);
        return false;
    }
    return true;
}

void MainDialog::OnSaveReport()
{
    const QString path = AskSavePath(chooseSaveFile_, this, tr("Save report"), kPageFilter);
    if (!path.isEmpty()) {
        SaveReportTo(path);
    }
}

bool MainDialog::SaveReportTo(const QString& path)
{
    if (shownRun_ == nullptr) {
        MessageBox(tr("There is no report to save yet: run a test first."));
        return false;
    }
    QString error;
    if (!WriteRunPage(path, *shownRun_, error)) {
        MessageBox(tr("The report was not saved"), error);
        return false;
    }
    return true;
}

void MainDialog::KeepShownRun(const RunOutcome& outcome)
{
    auto shown = std::make_unique<ShownRun>();
    shown->request = outcome.request;
    shown->record.ok = outcome.report.has_value();
    shown->record.results = outcome.results;
    shown->record.report = outcome.report;
    shown->record.analysis = outcome.analysis;
    shown->record.findings = details_->ShownFindings();
    shown->record.verdicts = ReadVerdicts(shown->record.ok, shown->record.results, shown->record.analysis,
                                          shown->record.findings);
    shown->record.details = runDetails_;
    shown->status = m_status.toStdString();
    shown->messages = runMessages_;
    shownRun_ = std::move(shown);
}

void MainDialog::OnCaptureChosen(const QString& path)
{
    if (!IsPcapPath(path)) {
        return;
    }
    // A pcap holds both directions: it is both captures, as one stereo file is.
    SetCapturePaths(path, path);
    const PcapPick pick = StreamsToPick(path);
    if (!pick.refusal.isEmpty()) {
        MessageBox(tr("This pcap file cannot be tested as it is"), pick.refusal);
        return;
    }
    if (pick.names.isEmpty()) {
        return;  // one call: the run finds which way it goes
    }
    const int chosen = chooseStream_ ? chooseStream_(this, pick.names) : [&] {
        bool ok = false;
        const QString item = QInputDialog::getItem(
            this, tr("Choose the call"),
            tr("%1 holds more than one call. Choose the stream the gateway sends "
               "towards the line (Tx); the stream coming back is Rx.")
                .arg(QFileInfo(path).fileName()),
            pick.names, 0, false, &ok);
        return ok ? static_cast<int>(pick.names.indexOf(item)) : -1;
    }();
    if (chosen >= 0 && chosen < static_cast<int>(pick.ssrcs.size())) {
        pickedPcap_ = path;
        pickedSsrc_ = pick.ssrcs[static_cast<std::size_t>(chosen)];
    }
}

void MainDialog::ApplyStreamChoice(TestSettings& settings) const
{
    const std::string picked = pickedPcap_.toStdString();
    if (!pickedPcap_.isEmpty() && settings.txPath == picked && settings.rxPath == picked) {
        settings.txSsrc = pickedSsrc_;
    }
}

}  // namespace tarnwell
