#include "ui/MainDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QScreen>
#include <thread>

#include "ui/AboutDialog.h"
#include "engine/TestMessages.h"
#include "evidence/Measured.h"
#include "ui/BackgroundRun.h"
#include "ui/DataExchange.h"
#include "ui/DetailsPanel.h"
#include "ui/SettingsLine.h"
#include "ui/WindowFiles.h"
#include "ui/TrySettingsDialog.h"
#include "ui/VerdictRules.h"

namespace tarnwell {

// Written with "*" for "all files": "*.*" would hide names without a dot on this system.
const QString MainDialog::kBrowseFilter = QStringLiteral(
    "Captures (*.pcm *.raw *.wav *.au *.al *.ul);;All Files (*)");

const QString MainDialog::kStaleStatus = QStringLiteral("Report is for the previous settings");

namespace {

// The one local file a drag carries, or empty: text, several files or remote ones are not a path.
QString DraggedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().front().isLocalFile()) {
        return {};
    }
    return data->urls().front().toLocalFile();
}

// Under the template's controls, in dialog units: the settings advice, then the row where
// Cancel and Details line up with Run.
const QRect kSettingsRect(10, 206, 300, 20);
constexpr int kButtonRowTop = 230;
constexpr int kButtonRowBottom = 250;
const QRect kCancelRect(204, kButtonRowTop, 50, 14);
const QRect kDetailsRect(260, kButtonRowTop, 50, 14);
const QRect kTrySettingsRect(140, kButtonRowTop, 58, 14);
// The details area in dialog units: the notes' height under the report, the views' width
// beside the dialog when they open, and the least the views can be made.
constexpr int kNotesHeight = 100;
constexpr int kDetailsWidth = 400;
constexpr int kDetailsMinimumWidth = 250;

// The boxes whose change makes a report stale, and the report's own boxes.
constexpr int kInputEdits[] = {controlid::kRxPath, controlid::kTxPath,  controlid::kTail,
                               controlid::kDelay,  controlid::kNlpDiff, controlid::kNlpShift};
constexpr int kReportBoxes[] = {controlid::kRealDelay, controlid::kErl,         controlid::kResidual,
                                controlid::kLevels,    controlid::kMinimalTail, controlid::kTxGainDecrease};

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
    connect(ControlAs<QPushButton>(controlid::kBrowseRx), &QPushButton::clicked, this,
            &MainDialog::OnBrowseRx);
    connect(ControlAs<QPushButton>(controlid::kBrowseTx), &QPushButton::clicked, this,
            &MainDialog::OnBrowseTx);
    // Only the user's choices: the list's own updates from the members must not re-apply presets.
    connect(ControlAs<QComboBox>(controlid::kDeviceType), &QComboBox::activated, this,
            &MainDialog::ApplyDevicePreset);
    for (int id : kInputEdits) {
        connect(ControlAs<QLineEdit>(id), &QLineEdit::textChanged, this, &MainDialog::OnInputsChanged);
    }
    connect(ControlAs<QCheckBox>(controlid::kHighPass), &QCheckBox::toggled, this,
            &MainDialog::OnInputsChanged);
    connect(devices, &QComboBox::currentIndexChanged, this, &MainDialog::OnInputsChanged);

    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setGeometry(Units().Map(kCancelRect));
    cancel_->setAutoDefault(false);
    cancel_->setEnabled(false);
    connect(cancel_, &QPushButton::clicked, this, &MainDialog::CancelRun);
    detailsButton_ = new QPushButton(this);
    detailsButton_->setGeometry(Units().Map(kDetailsRect));
    detailsButton_->setAutoDefault(false);
    connect(detailsButton_, &QPushButton::clicked, this, [this] { ShowDetails(!DetailsShown()); });
    trySettingsButton_ = new QPushButton(tr("Try settings..."), this);
    trySettingsButton_->setGeometry(Units().Map(kTrySettingsRect));
    trySettingsButton_->setAutoDefault(false);
    trySettingsButton_->setToolTip(tr("Measure the cancellation of every tail on these captures"));
    connect(trySettingsButton_, &QPushButton::clicked, this, &MainDialog::OnTrySettings);
    details_ = new DetailsPanel(*this);
    details_->SetMessageSink([this](const QString& text) { MessageBox(text); });
    connect(details_, &DetailsPanel::SaveReportRequested, this, &MainDialog::OnSaveReport);
    settingsLine_ = new SettingsLine(this);
    settingsLine_->setGeometry(Units().Map(kSettingsRect));
    connect(settingsLine_, &SettingsLine::Clicked, this, [this] { ShowDetails(true); });
    collapsedHeight_ = Units().MapSize(Template().width, kButtonRowBottom).height();
    outputPath_ = QFileInfo(QString::fromLatin1(kDefaultOutPath)).absoluteFilePath();
    details_->ShowOutput(outputPath_, false);
    ShowDetails(false);
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
        OnCaptureChosen(file);
        drop->acceptProposedAction();
        return true;
    }
    default:
        return false;
    }
}

MainDialog::~MainDialog() = default;

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
    if (!chosen.isEmpty()) {
        OnCaptureChosen(chosen);
    }
}

void MainDialog::OnBrowseRx() { Browse(m_rxPath); }

void MainDialog::OnBrowseTx() { Browse(m_txPath); }

void MainDialog::SetStatus(const std::string& text)
{
    // The status line alone: the window takes input during a run, and writing every member
    // back would undo what the user is typing.
    m_status = QString::fromStdString(text);
    auto* status = ControlAs<QLineEdit>(controlid::kStatus);
    status->setText(m_status);
    status->setCursorPosition(0);  // a text longer than the line shows its start
}

void MainDialog::AddDetail(const std::string& line)
{
    messageDetails_.push_back(QString::fromStdString(line));
    runDetails_.push_back(line);
}

void MainDialog::ShowMessage(const std::string& text)
{
    // The file and the system's reason go under the fixed text, as its informative text.
    runMessages_.push_back(text);
    const QString informative = messageDetails_.join(QLatin1Char('\n'));
    messageDetails_.clear();
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
    ApplyStreamChoice(settings);
    request.networkDelayMs = details_->NetworkDelay();
    return request;
}

void MainDialog::OnRun()
{
    if (running_) {
        return;  // one run at a time: Enter during a run must not start another
    }
    QWidget* run = Control(controlid::kRun);
    const bool runHadFocus = run->hasFocus();
    run->setEnabled(false);

    // A box that does not hold an integer has been pointed out to the user; running on the
    // members' older values would test settings the window no longer shows.
    if (!UpdateData(true)) {
        run->setEnabled(true);
        return;
    }
    const RunRequest request = Request();
    runInputs_ = InputTexts();
    outputPath_ = QFileInfo(QString::fromStdString(request.settings.outPath)).absoluteFilePath();
    running_ = true;
    runMessages_.clear();
    runDetails_.clear();
    cancel_->setEnabled(true);
    if (runHadFocus) {
        cancel_->setFocus();  // rather than the next box in the tab order, text selected
    }
    run_ = std::make_unique<BackgroundRun>(*this, request, m_verdict,
                                           [this](const RunOutcome& outcome) { OnRunDone(outcome); });
}

void MainDialog::CancelRun()
{
    if (run_ != nullptr && running_) {
        run_->Cancel();
    }
}

void MainDialog::EndRunState()
{
    running_ = false;
    SetProgressPos(0);
    QWidget* run = Control(controlid::kRun);
    run->setEnabled(true);
    const bool cancelHadFocus = cancel_->hasFocus();
    cancel_->setEnabled(false);
    if (cancelHadFocus) {
        run->setFocus();
    }
}

void MainDialog::OnRunDone(const RunOutcome& outcome)
{
    finished_ = std::move(run_);
    EndRunState();
    if (const std::optional<Report>& report = outcome.report) {
        m_realDelayText = QString::fromStdString(report->realDelay);
        m_erlText = QString::fromStdString(report->erl);
        m_residualText = QString::fromStdString(report->residual);
        m_levelsText = QString::fromStdString(report->levels);
        m_minimalTail = report->minimalTail;
        m_txGainDecrease = report->txGainDecrease;
        WriteReport();
        ShowVerdictRules(outcome.request.settings);
        details_->ShowEvidence(outcome.request, outcome.results, *report, outcome.analysis);
        settingsLine_->Show(details_->ShownFindings());
        // A gate explained by a warning: the status names the cause, then the run's message.
        std::string said;
        for (const std::string& m : runMessages_) {
            said += (said.empty() ? "" : "; ") + m;
        }
        if (const std::string led = CauseFirst(details_->ShownFindings(), said);
            !said.empty() && led != said) {
            SetStatus(led);
        }
        KeepShownRun(outcome);
        hasReport_ = true;
        reportInputs_ = runInputs_;
        // The user may have changed a box while the test ran on what it read at Run.
        MarkStale(InputTexts() != reportInputs_);
        if (stale_) {
            SetStatus(kStaleStatus.toStdString());
        }
    } else if (hasReport_) {
        MarkStale(true);  // the report kept on screen is not this run's
    }
    details_->ShowOutput(outputPath_, true);
    emit RunFinished();
}

void MainDialog::WriteReport()
{
    // The report's boxes only: the settings boxes may hold newer input than the members.
    DataExchange dx(*this, false);
    dx.Text(controlid::kRealDelay, m_realDelayText);
    dx.Text(controlid::kErl, m_erlText);
    dx.Text(controlid::kResidual, m_residualText);
    dx.Text(controlid::kLevels, m_levelsText);
    dx.Int(controlid::kMinimalTail, m_minimalTail);
    dx.Int(controlid::kTxGainDecrease, m_txGainDecrease);
}

void MainDialog::ShowVerdictRules(const TestSettings& settings)
{
    const VerdictRules rules = MakeVerdictRules(settings);
    const struct {
        int box;
        const char* label;
        const std::string& rule;
    } rows[] = {{controlid::kRealDelay, kRowLabels.realDelay, rules.realDelay},
                {controlid::kErl, kRowLabels.erl, rules.erl},
                {controlid::kResidual, kRowLabels.residual, rules.residual},
                {controlid::kLevels, kRowLabels.levels, rules.levels}};
    const QList<QLabel*> labels = findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    for (const auto& row : rows) {
        const QString tip = QString::fromStdString(row.rule);
        Control(row.box)->setToolTip(tip);
        for (QLabel* label : labels) {
            if (label->text() == QString::fromUtf8(row.label)) {
                label->setToolTip(tip);
            }
        }
    }
}

QStringList MainDialog::InputTexts() const
{
    QStringList texts;
    for (int id : kInputEdits) {
        texts << ControlAs<QLineEdit>(id)->text();
    }
    texts << QString::number(ControlAs<QCheckBox>(controlid::kHighPass)->isChecked())
          << QString::number(ControlAs<QComboBox>(controlid::kDeviceType)->currentIndex());
    return texts;
}

void MainDialog::OnInputsChanged()
{
    // During a run the status line is the run's; its end compares the inputs itself.
    if (!hasReport_ || running_ || InputTexts() == reportInputs_) {
        return;
    }
    MarkStale(true);
    if (m_status != kStaleStatus) {
        SetStatus(kStaleStatus.toStdString());
    }
}

void MainDialog::MarkStale(bool stale)
{
    stale_ = stale;
    for (int id : kReportBoxes) {
        GreyText(*Control(id), stale);
    }
    details_->SetStale(stale);
    settingsLine_->SetStale(stale);
}

void MainDialog::ShowDetails(bool shown)
{
    details_->SetVisible(shown);
    detailsButton_->setText(shown ? tr("<< Details") : tr("Details >>"));
    const int width = Units().MapSize(Template().width, Template().height).width();
    if (shown) {
        // Open, the window may be made larger for the views; closed, it keeps its one size.
        setMinimumSize(width + Units().X(kDetailsMinimumWidth), collapsedHeight_ + Units().Y(kNotesHeight));
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(width + Units().X(kDetailsWidth), collapsedHeight_ + Units().Y(kNotesHeight));
        // The views open to the right and below: keep what fits of the window on its screen.
        if (isVisible() && screen() != nullptr) {
            const QRect free = screen()->availableGeometry();
            const QRect frame = frameGeometry();
            const int dx = std::min(0, free.right() - frame.right());
            const int dy = std::min(0, free.bottom() - frame.bottom());
            move(std::max(free.left(), frame.left() + dx), std::max(free.top(), frame.top() + dy));
        }
    } else {
        setFixedSize(width, collapsedHeight_);
    }
}

bool MainDialog::DetailsShown() const { return details_->IsVisible(); }

void MainDialog::resizeEvent(QResizeEvent* event)
{
    if (details_ != nullptr) {
        // The notes under the report, as wide as the dialog; the views beside it, full height.
        const int left = Units().MapSize(Template().width, Template().height).width();
        details_->Below()->setGeometry(0, collapsedHeight_, left, std::max(0, height() - collapsedHeight_));
        details_->Beside()->setGeometry(left, 0, std::max(0, width() - left), height());
    }
    TemplateDialog::resizeEvent(event);
}

void MainDialog::OnTrySettings()
{
    // A box that does not hold an integer has been pointed out; nothing is swept.
    if (!UpdateData(true)) {
        return;
    }
    if (trySettings_ == nullptr) {
        trySettings_ = new TrySettingsDialog(this,
                                             [this](const TestSettings& s) { FillSettingsBoxes(*this, s); });
    }
    trySettings_->Start(Request(), static_cast<int>(std::max(1U, std::thread::hardware_concurrency())));
}

void MainDialog::done(int result)
{
    if (trySettings_ != nullptr) {
        trySettings_->close();  // stops its sweep and waits for it
    }
    if (run_ != nullptr) {
        run_.reset();  // stops the run at its next frame and waits for the thread
        if (running_) {
            EndRunState();
        }
    }
    TemplateDialog::done(result);
}

void MainDialog::OnOK() { OnRun(); }

void MainDialog::accept() { OnOK(); }

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        ShowHelp();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A focused push button takes Enter as its own click; anywhere else Enter is OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled()) {
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
    AddWindowEntries(menu);
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
