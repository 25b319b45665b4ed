#include "ui/MainDialog.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "ui/AboutDialog.h"
#include "engine/TestMessages.h"
#include "ui/DataExchange.h"

namespace tarnwell {

// Written with "*" for "all files": "*.*" would hide names without a dot on this system.
const QString MainDialog::kBrowseFilter =
    QStringLiteral("Captures (*.pcm *.raw *.wav *.au *.al *.ul);;All Files (*)");

namespace {

// The one local file a drag carries, or empty: text, several files or remote ones are not a path.
QString DraggedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile()) {
        return {};
    }
    return data->urls().front().toLocalFile();
}

QString DefaultChooseFile(QWidget* parent, const QString& filter)
{
    // Open mode: only existing files; no read-only box exists here to hide.
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : TemplateDialog(kMainDialogTemplate, parent),
      m_hIcon(LoadResourceIcon(kApplicationIcon)),
      chooseFile_(DefaultChooseFile)
{
    auto* devices = ControlAs<QComboBox>(controlid::kDeviceType);
    for (const char* name : kDeviceNames) {
        devices->addItem(QString::fromUtf8(name));
    }
    connect(ControlAs<QPushButton>(controlid::kRun), &QPushButton::clicked, this, &MainDialog::OnRun);
    connect(ControlAs<QPushButton>(controlid::kBrowseRx), &QPushButton::clicked, this, &MainDialog::OnBrowseRx);
    connect(ControlAs<QPushButton>(controlid::kBrowseTx), &QPushButton::clicked, this, &MainDialog::OnBrowseTx);
    // Only the user's choices: the list's own updates from the members must not re-apply presets.
    connect(ControlAs<QComboBox>(controlid::kDeviceType), &QComboBox::activated, this,
            &MainDialog::ApplyDevicePreset);
    Control(controlid::kRxPath)->installEventFilter(this);
    Control(controlid::kTxPath)->installEventFilter(this);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event)
{
    const bool rx = watched == Control(controlid::kRxPath);
    if (!rx && watched != Control(controlid::kTxPath)) {
        return TemplateDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        // Anything but one local file is left to the box itself (dropped text, say).
        if (DraggedFile(drag->mimeData()).isEmpty()) {
            return false;
        }
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = DraggedFile(drop->mimeData());
        if (file.isEmpty()) {
            return false;
        }
        // The other controls keep what the user typed: read them first, as Browse does.
        UpdateData(true);
        (rx ? m_rxPath : m_txPath) = file;
        UpdateData(false);
        drop->acceptProposedAction();
        return true;
    }
    default:
        return false;
    }
}

void MainDialog::DoDataExchange(DataExchange& dx)
{
    dx.Control(controlid::kProgress, m_progress);
    dx.Int(controlid::kDelay, m_delay);
    dx.Text(controlid::kErl, m_erlText);
    dx.Int(controlid::kNlpShift, m_nlpShift);
    dx.Text(controlid::kRealDelay, m_realDelayText);
    dx.Text(controlid::kResidual, m_residualText);
    dx.Text(controlid::kRxPath, m_rxPath);
    dx.Text(controlid::kStatus, m_status);
    dx.Int(controlid::kTail, m_tail);
    dx.Text(controlid::kTxPath, m_txPath);
    dx.Int(controlid::kNlpDiff, m_nlpDiff);
    dx.Check(controlid::kHighPass, m_highPass);
    dx.ListIndex(controlid::kDeviceType, m_deviceType);
    dx.Int(controlid::kTxGainDecrease, m_txGainDecrease);
    dx.Int(controlid::kMinimalTail, m_minimalTail);
    dx.Text(controlid::kLevels, m_levelsText);
}

bool MainDialog::OnInitDialog()
{
    TemplateDialog::OnInitDialog();
    // The window manager's system menu is not ours to extend here: the About entry lives in the
    // window's context menu instead (AddSystemMenuEntries). The icon serves every size.
    setWindowIcon(m_hIcon);
    ApplyDevicePreset();
    return true;
}

void MainDialog::ApplyDevicePreset()
{
    UpdateData(true);
    m_delay = DelayPreset(m_deviceType);
    m_tail = TailPreset(m_deviceType);
    m_nlpDiff = kDefaultNlpDiff;
    m_nlpShift = kDefaultNlpShift;
    Control(controlid::kDelay)->setEnabled(!DelayPresetFixed(m_deviceType));
    UpdateData(false);
}

void MainDialog::Browse(QString& path)
{
    UpdateData(true);
    const QString chosen = chooseFile_(this, kBrowseFilter);
    if (!chosen.isEmpty()) {
        path = chosen;
    }
    UpdateData(false);
}

void MainDialog::OnBrowseRx() { Browse(m_rxPath); }

void MainDialog::OnBrowseTx() { Browse(m_txPath); }

void MainDialog::SetStatus(const std::string& text)
{
    m_status = QString::fromStdString(text);
    UpdateData(false);
    // The run keeps this thread busy: paint the status line now rather than on the next event.
    auto* status = ControlAs<QLineEdit>(controlid::kStatus);
    status->setText(m_status);
    status->repaint();
}

void MainDialog::AddDetail(const std::string& line) { details_.push_back(QString::fromStdString(line)); }

void MainDialog::ShowMessage(const std::string& text)
{
    // The file and the system's reason go under the fixed text, as its informative text.
    const QString informative = details_.join(QLatin1Char('\n'));
    details_.clear();
    MessageBox(QString::fromStdString(text), informative);
}

void MainDialog::SetProgressRange(int count) { m_progress->setRange(0, count); }

void MainDialog::SetProgressPos(int position) { m_progress->setValue(position); }

RunRequest MainDialog::Request() const
{
    RunRequest request = DefaultRunRequest(m_deviceType);
    TestSettings& settings = request.settings;
    settings.txPath = m_txPath.toStdString();
    settings.rxPath = m_rxPath.toStdString();
    settings.delay = m_delay;
    settings.tail = m_tail;
    settings.nlpDiff = m_nlpDiff;
    settings.nlpShift = m_nlpShift;
    settings.highPass = m_highPass;
    return request;
}

void MainDialog::OnRun()
{
    TestResults results{};
    QWidget* run = Control(controlid::kRun);
    run->setEnabled(false);

    // A box that does not hold an integer has been pointed out to the user; running on the
    // members' older values would test settings the window no longer shows.
    if (UpdateData(true)) {
        const RunRequest request = Request();
        if (const std::optional<Report> report =
                RunAndReport(request.settings, request.deviceType, *this, results, m_verdict)) {
            m_realDelayText = QString::fromStdString(report->realDelay);
            m_erlText = QString::fromStdString(report->erl);
            m_residualText = QString::fromStdString(report->residual);
            m_levelsText = QString::fromStdString(report->levels);
            m_minimalTail = report->minimalTail;
            m_txGainDecrease = report->txGainDecrease;
            UpdateData(false);
        }
    }

    SetProgressPos(0);
    run->setEnabled(true);
}

void MainDialog::OnOK() { OnRun(); }

void MainDialog::accept() { OnOK(); }

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A focused push button takes Enter as its own click; anywhere else Enter is OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && button->isEnabled()) {
            button->click();
        } else {
            OnOK();
        }
        event->accept();
        return;
    }
    TemplateDialog::keyPressEvent(event);
}

void MainDialog::AddSystemMenuEntries(QMenu& menu)
{
    const QString about = LoadResourceString(kAboutEntryString);
    if (about.isEmpty()) {
        return;
    }
    if (!menu.isEmpty()) {
        menu.addSeparator();
    }
    QAction* entry = menu.addAction(about);
    entry->setData(kAboutCommand);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    AddSystemMenuEntries(menu);
    if (menu.isEmpty()) {
        return;
    }
    if (QAction* chosen = menu.exec(event->globalPos())) {
        OnSysCommand(chosen->data().toInt());
    }
}

void MainDialog::OnSysCommand(int id)
{
    // The low four bits of a system command are the system's own.
    if ((id & 0xFFF0) == kAboutCommand) {
        AboutDialog about(this);
        about.exec();
    }
}

}  // namespace tarnwell
