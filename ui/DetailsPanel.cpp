#include "ui/DetailsPanel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "evidence/Findings.h"
#include "ui/TemplateDialog.h"

namespace tarnwell {

namespace {

constexpr double kBytesPerSecond = 2 * 8000.0;  // 16-bit samples at 8 kHz

const char* const kReadoutHint =
    "Point at a view to read its values; wheel or drag to zoom, double-click for "
    "the whole view; right-click to save it.";

}  // namespace

DetailsPanel::DetailsPanel(QWidget& window)
    : QObject(&window),
      below_(new QWidget(&window)),
      beside_(new QWidget(&window)),
      findings_(new QListWidget(below_)),
      networkDelay_(new QSpinBox(below_)),
      views_(new QTabWidget(beside_)),
      readout_(new QLabel(QString::fromLatin1(kReadoutHint), beside_)),
      output_(new QLabel(below_)),
      openFolder_(new QPushButton(tr("Open folder"), below_)),
      saveReport_(new QPushButton(tr("Save report\u2026"), below_)),
      openUrl_([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    findings_->setWordWrap(true);
    findings_->setToolTip(tr("Why the verdicts read as they do, and what the captures show"));
    for (const char* title :
         {"Echo path", "Delay search", "Levels over time", "Delay over time", "Echo path by frequency"}) {
        auto* view = new ChartPanel(views_);
        connect(view, &ChartPanel::readoutChanged, this, [this](const QString& text) {
            readout_->setText(text.isEmpty() ? QString::fromLatin1(kReadoutHint) : text);
        });
        views_->addTab(view, tr(title));
    }
    readout_->setWordWrap(true);
    output_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    output_->setWordWrap(true);
    openFolder_->setEnabled(false);
    connect(openFolder_, &QPushButton::clicked, this, &DetailsPanel::OnOpenFolder);
    saveReport_->setEnabled(false);
    saveReport_->setToolTip(tr("The report, findings and views of this run as one page to hand on"));
    connect(saveReport_, &QPushButton::clicked, this, &DetailsPanel::SaveReportRequested);
    auto* hint = new QLabel(tr("How to capture a port: press F1. About Tarnwell: right-click the window."),
                            below_);
    // Below its range's bottom the box says the delay is not given.
    networkDelay_->setRange(-1, kMaxNetworkDelayMs);
    networkDelay_->setValue(-1);
    networkDelay_->setSpecialValueText(tr("not given"));
    networkDelay_->setSuffix(tr(" ms"));
    networkDelay_->setToolTip(tr("The one-way delay between the far talker and this gateway: whether the "
                                 "echo left will be heard there"));
    auto* delayLabel = new QLabel(tr("One-way network delay:"), below_);
    delayLabel->setBuddy(networkDelay_);
    connect(networkDelay_, &QSpinBox::valueChanged, this, [this] {
        if (shownRequest_) {
            shownRequest_->networkDelayMs = NetworkDelay();
            ShowFindings();
        }
    });

    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(output_, 1);
    outputRow->addWidget(openFolder_, 0, Qt::AlignTop);
    outputRow->addWidget(saveReport_, 0, Qt::AlignTop);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(delayLabel);
    delayRow->addWidget(networkDelay_);
    delayRow->addStretch(1);
    auto* notes = new QVBoxLayout(below_);
    notes->setContentsMargins(10, 0, 10, 8);
    notes->addLayout(delayRow);
    notes->addWidget(findings_, 1);
    notes->addLayout(outputRow);
    notes->addWidget(hint);
    auto* side = new QVBoxLayout(beside_);
    side->setContentsMargins(0, 10, 10, 8);
    side->addWidget(views_, 1);
    side->addWidget(readout_);
    SetVisible(false);
}

void DetailsPanel::SetVisible(bool visible)
{
    below_->setVisible(visible);
    beside_->setVisible(visible);
}

ChartPanel* DetailsPanel::View(int index) const { return qobject_cast<ChartPanel*>(views_->widget(index)); }

void DetailsPanel::SetSaveChooser(const ChartPanel::SaveChooser& chooser)
{
    for (int i = 0; i < views_->count(); ++i) {
        View(i)->SetSaveChooser(chooser);
    }
}

void DetailsPanel::SetMessageSink(const ChartPanel::MessageSink& sink)
{
    for (int i = 0; i < views_->count(); ++i) {
        View(i)->SetMessageSink(sink);
    }
}

void DetailsPanel::ShowEvidence(const RunRequest& request, const TestResults& results, const Report& report,
                                const AnalysisRecord& analysis)
{
    shownRequest_ = request;
    shownResults_ = results;
    shownAnalysis_ = analysis;
    ShowFindings();
    const std::vector<ChartView> views = AllViews({request.settings, report.minimalTail, analysis});
    for (std::size_t i = 0; i < views.size(); ++i) {
        View(static_cast<int>(i))->SetView(views[i]);
    }
}

std::optional<int> DetailsPanel::NetworkDelay() const
{
    return networkDelay_->value() < 0 ? std::nullopt : std::optional<int>(networkDelay_->value());
}

void DetailsPanel::ShowFindings()
{
    const RunRequest& request = *shownRequest_;
    findings_->clear();
    shownFindings_ = MakeFindings(request.settings, request.deviceType, true, shownResults_, shownAnalysis_,
                                  request.networkDelayMs);
    saveReport_->setEnabled(true);
    for (const Finding& finding : shownFindings_) {
        const QStyle::StandardPixmap icon = finding.severity == Severity::Warning
                                                ? QStyle::SP_MessageBoxWarning
                                                : QStyle::SP_MessageBoxInformation;
        findings_->addItem(new QListWidgetItem(findings_->style()->standardIcon(icon),
                                               QString::fromStdString(finding.text)));
    }
    if (findings_->count() == 0) {
        findings_->addItem(tr("Nothing to add to the report."));
    }
}

void DetailsPanel::ShowOutput(const QString& absolutePath, bool ran)
{
    const QFileInfo file(absolutePath);
    outputFolder_ = file.absolutePath();
    if (!ran) {
        output_->setText(tr("The cancelled Rx will go to %1").arg(absolutePath));
    } else if (!file.exists()) {
        output_->setText(tr("Cancelled Rx: %1 was not written").arg(absolutePath));
    } else if (file.size() == 0) {
        output_->setText(tr("Cancelled Rx: %1, empty: the run stopped before cancelling").arg(absolutePath));
    } else {
        output_->setText(tr("Cancelled Rx: %1, %2 s")
                             .arg(absolutePath)
                             .arg(static_cast<double>(file.size()) / kBytesPerSecond, 0, 'f', 2));
    }
    openFolder_->setEnabled(ran && file.exists());
}

void DetailsPanel::SetStale(bool stale)
{
    GreyText(*findings_, stale);
    for (int i = 0; i < views_->count(); ++i) {
        View(i)->SetStale(stale);
    }
}

void DetailsPanel::OnOpenFolder() { openUrl_(QUrl::fromLocalFile(outputFolder_)); }

}  // namespace tarnwell
