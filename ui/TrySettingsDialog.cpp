#include "ui/TrySettingsDialog.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <thread>

#include "engine/TestMessages.h"
#include "ui/ChartPanel.h"
#include "ui/MainDialog.h"

namespace tarnwell {

namespace {

constexpr int kFirstTail = 16;  // samples; also the step, so 64 tails up to the longest
constexpr int kTailStep = 16;

const char* const kColumns[] = {"",
                                "Tail",
                                "Bulk delay",
                                "NLP diff (dB)",
                                "NLP shift",
                                "Cancellation (dB)",
                                "ERLE 2nd half (dB)",
                                "Residual (dBm0)",
                                "Residual",
                                "Echo in window",
                                "Converged (s)",
                                "NLP frames"};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

// Two decimals, or "-" for a figure the pass could not measure.
QString Figure(double value)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', 2);
}

QStringList RowTexts(const SweepPoint& p, const SweepRecommendation& r, int index)
{
    const TestSettings& s = p.settings;
    const QString mark = index == r.chosen ? QStringLiteral("recommended")
                         : index == r.best ? QStringLiteral("best cancellation")
                                           : QString();
    QStringList texts{mark, QString::number(s.tail), QString::number(s.delay), QString::number(s.nlpDiff),
                      QString::number(s.nlpShift)};
    if (!p.ran) {
        return texts << QStringLiteral("not run");
    }
    const TestResults& results = p.results;
    return texts << Figure(results.cancellation) << Figure(p.erleDb) << Figure(results.residualLevel)
                 << QString::fromStdString(kVerdictWords[results.residualOk != 0 ? 1U : 0U])
                 << (results.delayOk != 0 ? QStringLiteral("yes") : QStringLiteral("no"))
                 << (std::isnan(p.convergedSeconds) ? QStringLiteral("never") : Figure(p.convergedSeconds))
                 << (s.nlpShift == 0 ? QStringLiteral("none") : QString::number(p.nlpFrames));
}

}  // namespace

SweepGrid TrySettingsGrid(const TestSettings& current)
{
    SweepGrid grid;
    for (int tail = kFirstTail; tail <= kMaxTail; tail += kTailStep) {
        grid.tails.push_back(tail);
    }
    // The user's own tail too, so that the table says how it does against the others.
    if (std::find(grid.tails.begin(), grid.tails.end(), current.tail) == grid.tails.end() &&
        current.tail >= 0 && current.tail <= kMaxTail) {
        grid.tails.insert(std::upper_bound(grid.tails.begin(), grid.tails.end(), current.tail), current.tail);
    }
    grid.delays = {current.delay};
    grid.nlpDiffs = {current.nlpDiff};
    grid.nlpShifts = {current.nlpShift};
    grid.withMinimalTail = true;
    return grid;
}

void FillSettingsBoxes(TemplateDialog& window, const TestSettings& settings)
{
    const struct {
        int box;
        int value;
    } boxes[] = {{controlid::kTail, settings.tail},
                 {controlid::kDelay, settings.delay},
                 {controlid::kNlpDiff, settings.nlpDiff},
                 {controlid::kNlpShift, settings.nlpShift}};
    for (const auto& b : boxes) {
        auto* edit = window.ControlAs<QLineEdit>(b.box);
        // A greyed box holds the device's fixed value: it stays as it is.
        if (edit != nullptr && edit->isEnabledTo(&window)) {
            edit->setText(QString::number(b.value));
        }
    }
}

// One sweep on threads of its own. The preparation's status and messages are kept for the
// end; progress and the end reach the dialog on its thread, in the order they happened.
class TrySettingsDialog::Worker final : public TestUi {
public:
    Worker(TrySettingsDialog& dialog, const RunRequest& request, int threads) : dialog_(dialog)
    {
        thread_ = std::thread(&Worker::Run, this, request, threads);
    }
    ~Worker() override
    {
        stop_ = true;
        thread_.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Cancel() { stop_ = true; }
    bool Cancelled() const { return stop_; }

    // Read on the dialog's thread once the end has been posted.
    SweepOutcome outcome;
    std::string status;
    std::vector<std::string> messages;
    std::vector<std::string> details;

    void SetStatus(const std::string& text) override { status = text; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void AddDetail(const std::string& line) override { details.push_back(line); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    bool KeepGoing() override { return !stop_; }

private:
    template <class Call>
    void Post(Call call)
    {
        QMetaObject::invokeMethod(relay_.get(), std::move(call), Qt::QueuedConnection);
    }

    void Run(const RunRequest& request, int threads)
    {
        RunnerControl control;
        control.threads = threads;
        control.stop = &stop_;
        control.progress = [this](int done, int total) {
            Post([this, done, total] { dialog_.OnProgress(done, total); });
        };
        try {
            const EchoTester engine;
            outcome = RunSweep(engine, request.settings, request.deviceType,
                               TrySettingsGrid(request.settings), *this, control);
        } catch (const std::exception& e) {
            outcome = SweepOutcome{};
            status = testmessages::kTestFailed;
            messages.emplace_back(e.what());
        }
        // The outcome is complete before the call is queued, and the queue orders the two.
        Post([this] { dialog_.OnFinished(); });
    }

    TrySettingsDialog& dialog_;
    // Calls posted to the dialog's thread go through this object: they are dropped with it.
    std::unique_ptr<QObject> relay_ = std::make_unique<QObject>();
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: starts once everything above is in place
};

TrySettingsDialog::TrySettingsDialog(QWidget* parent, Choose choose)
    : QDialog(parent),
      choose_(std::move(choose)),
      inputs_(new QLabel(this)),
      progress_(new QProgressBar(this)),
      cancel_(new QPushButton(tr("Cancel"), this)),
      status_(new QLabel(this)),
      view_(new ChartPanel(this)),
      table_(new QTableWidget(0, kColumnCount, this)),
      recommendation_(new QLabel(this))
{
    setWindowTitle(tr("Try settings"));
    inputs_->setWordWrap(true);
    inputs_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    recommendation_->setWordWrap(true);
    recommendation_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cancel_->setAutoDefault(false);
    cancel_->setEnabled(false);
    connect(cancel_, &QPushButton::clicked, this, &TrySettingsDialog::Cancel);
    view_->SetMessageSink([this](const QString& text) { status_->setText(text); });
    view_->setMinimumHeight(300);

    QStringList headers;
    for (const char* title : kColumns) {
        headers << tr(title);
    }
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->setVisible(false);
    table_->setToolTip(tr("Double-click a row to put its settings into the window"));
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OnRowActivated(row); });

    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(cancel_);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(view_);
    split->addWidget(table_);
    split->setStretchFactor(0, 3);  // the view the taller: its axes need the room
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(inputs_);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addWidget(split, 1);
    layout->addWidget(recommendation_);
    resize(960, 820);
}

TrySettingsDialog::~TrySettingsDialog() = default;

bool TrySettingsDialog::Running() const { return worker_ != nullptr; }

void TrySettingsDialog::Start(const RunRequest& request, int threads)
{
    show();
    raise();
    activateWindow();
    if (Running()) {
        return;
    }
    const TestSettings& s = request.settings;
    const SweepGrid grid = TrySettingsGrid(s);
    const bool ownTail = s.tail % kTailStep != 0 || s.tail < kFirstTail;
    inputs_->setText(tr("Rx: %1\nTx: %2\nDevice: %3, high-pass filter %4; bulk delay %5, NLP diff %6, "
                        "NLP shift %7; tails %8 to %9 in steps of %10%11 and the report's Minimal tail")
                         .arg(QString::fromStdString(s.rxPath), QString::fromStdString(s.txPath),
                              QString::fromUtf8(kDeviceNames[static_cast<std::size_t>(request.deviceType)]),
                              s.highPass != 0 ? tr("on") : tr("off"))
                         .arg(s.delay)
                         .arg(s.nlpDiff)
                         .arg(s.nlpShift)
                         .arg(kFirstTail)
                         .arg(kMaxTail)
                         .arg(kTailStep)
                         .arg(ownTail ? tr(", %1 from the window").arg(s.tail) : QString()));
    outcome_ = SweepOutcome{};
    ShowOutcome();
    progress_->setRange(0, static_cast<int>(SweepSettings(s, grid).size()));
    progress_->setValue(0);
    status_->setText(tr("Reading the captures and finding the echo delay..."));
    cancel_->setEnabled(true);
    worker_ = std::make_unique<Worker>(*this, request, std::max(1, threads));
}

void TrySettingsDialog::Cancel()
{
    if (worker_ != nullptr && !worker_->Cancelled()) {
        worker_->Cancel();
        status_->setText(tr("Stopping after the passes running now..."));
    }
}

void TrySettingsDialog::done(int result)
{
    worker_.reset();  // stops the sweep before its next pass and waits for its threads
    cancel_->setEnabled(false);
    progress_->setValue(0);
    QDialog::done(result);
}

void TrySettingsDialog::OnProgress(int done, int total)
{
    progress_->setRange(0, total);
    progress_->setValue(done);
    if (!worker_->Cancelled()) {
        status_->setText(tr("%1 of %2 settings measured").arg(done).arg(total));
    }
}

void TrySettingsDialog::OnFinished()
{
    finished_ = std::move(worker_);
    cancel_->setEnabled(false);
    const Worker& w = *finished_;
    outcome_ = w.outcome;
    const auto ran = std::count_if(outcome_.points.begin(), outcome_.points.end(),
                                   [](const SweepPoint& p) { return p.ran; });
    if (!outcome_.ready) {
        QString text = QString::fromStdString(w.status.empty() ? std::string(testmessages::kTestFailed)
                                                               : w.status);
        for (const std::string& m : w.messages) {
            text += QStringLiteral(": ") + QString::fromStdString(m);
        }
        for (const std::string& d : w.details) {
            text += QLatin1Char('\n') + QString::fromStdString(d);
        }
        status_->setText(text);
        outcome_ = SweepOutcome{};
    } else if (outcome_.stopped) {
        // A part of a sweep would pass for the whole: nothing of it is shown.
        status_->setText(tr("Cancelled after %1 of %2 settings; nothing is shown of a stopped sweep.")
                             .arg(ran)
                             .arg(outcome_.points.size()));
        outcome_ = SweepOutcome{};
    } else {
        status_->setText(tr("Finished: %1 settings measured; echo delay %2 samples, ERL %3 dB. "
                            "Double-click a row to put its settings into the window.")
                             .arg(ran)
                             .arg(outcome_.delay)
                             .arg(outcome_.erl, 0, 'f', 2));
    }
    progress_->setValue(0);
    ShowOutcome();
    emit SweepFinished();
}

void TrySettingsDialog::ShowOutcome()
{
    const SweepRecommendation& r = outcome_.recommendation;
    table_->setRowCount(0);
    table_->setRowCount(static_cast<int>(outcome_.points.size()));
    QFont bold = table_->font();
    bold.setBold(true);
    for (int row = 0; row < table_->rowCount(); ++row) {
        const QStringList texts = RowTexts(outcome_.points[static_cast<std::size_t>(row)], r, row);
        for (int column = 0; column < texts.size(); ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            item->setTextAlignment(column == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
            if (row == r.chosen) {
                item->setFont(bold);
            }
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
    if (r.chosen >= 0) {
        table_->selectRow(r.chosen);
        table_->scrollToItem(table_->item(r.chosen, 0), QAbstractItemView::PositionAtCenter);
    }
    recommendation_->setText(QString::fromStdString(r.text));
    ChartView view = SweepView(outcome_);
    if (!outcome_.ready) {
        view.unmeasuredReason = "no sweep has run to its end";
    }
    view_->SetView(view);
}

void TrySettingsDialog::OnRowActivated(int row)
{
    if (row < 0 || row >= static_cast<int>(outcome_.points.size())) {
        return;
    }
    const SweepPoint& point = outcome_.points[static_cast<std::size_t>(row)];
    if (!point.ran || !choose_) {
        return;
    }
    choose_(point.settings);
    status_->setText(tr("Tail %1, bulk delay %2, NLP diff %3, shift %4 put into the window "
                        "(a greyed box keeps the device's value).")
                         .arg(point.settings.tail)
                         .arg(point.settings.delay)
                         .arg(point.settings.nlpDiff)
                         .arg(point.settings.nlpShift));
}

}  // namespace tarnwell
