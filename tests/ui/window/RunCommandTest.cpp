// The Run command: a test on generated captures, a failing run, the two mends (a bad integer
// stops the command; refused settings say so), Enter and Escape.
#include <QDir>
#include <QFileInfo>

#include "WindowProbe.h"
#include "support/SyntheticCaptures.h"

namespace {

// The run writes out.pcm into the working directory: give each test a fresh one.
struct WorkingDir {
    testcaptures::TempDir dir;
    QString previous = QDir::currentPath();
    WorkingDir() { QDir::setCurrent(QString::fromStdString(dir.path().string())); }
    ~WorkingDir() { QDir::setCurrent(previous); }
    QString File(const std::string& name) const { return QString::fromStdString(dir.File(name)); }
};

QStringList ReportTexts(const WindowProbe& probe)
{
    using namespace controlid;
    QStringList out;
    for (int id : {kRealDelay, kErl, kResidual, kLevels, kMinimalTail, kTxGainDecrease}) {
        out.push_back(probe.Text(id));
    }
    return out;
}

const QString kCheckSettings = QStringLiteral(
    "Check the settings: tail 0 to 1024, delay 0 to 8000, NLP diff 0 to 100, NLP shift 0 to 10");

}  // namespace

class RunCommandTest : public QObject {
    Q_OBJECT

private slots:
    void runFillsTheReportAndAFailingRunKeepsIt()
    {
        // Ten seconds of speech-like bursts at about -15 dBm0 and their echo 150 samples
        // later, 12 dB down, over faint line noise.
        constexpr int kSamples = 80000;
        WorkingDir dir;
        const testcaptures::Samples bursts = testcaptures::Bursts(kSamples, 2848, 400, 30, 7);
        testcaptures::WritePcm(dir.File("tx.pcm").toStdString(), bursts);
        testcaptures::WritePcm(dir.File("rx.pcm").toStdString(), testcaptures::Echo(bursts, 150, 12.0, 3.0));
        WindowProbe probe;
        QStringList statuses;
        QObject::connect(probe.Edit(controlid::kStatus), &QLineEdit::textChanged,
                         [&](const QString& text) { statuses.push_back(text); });

        // Row 2 (ISDN): delay 80, tail 128, so the echo lies inside the window
        // (80 < 150 < 80 + 128 - 48) and the minimal tail is 150 - 80 + 49 = 119.
        probe.ChooseRow(2);
        probe.Type(controlid::kRxPath, dir.File("rx.pcm"));
        probe.Type(controlid::kTxPath, dir.File("tx.pcm"));
        for (const int highPass : {0, 1}) {
            probe.HighPass()->setChecked(highPass == 1);
            probe.Click(controlid::kRun);
            QCOMPARE(statuses.mid(statuses.size() - 2),
                     (QStringList{QStringLiteral("Please wait, processing..."), QStringLiteral("Finished")}));
            // The run drove the progress bar over the samples; the command put it back to 0.
            QCOMPARE(probe.Progress()->maximum(), kSamples);
            QCOMPARE(probe.Progress()->value(), 0);
            // Each box shows its line of the report the same settings give without the window.
            TestSettings settings = DefaultRunRequest(2).settings;
            settings.txPath = dir.File("tx.pcm").toStdString();
            settings.rxPath = dir.File("rx.pcm").toStdString();
            settings.highPass = highPass;
            TestResults results{};
            const std::optional<Report> report = RunAndReport(settings, 2, *probe.dialog, results);
            QVERIFY(report.has_value());
            QCOMPARE(ReportTexts(probe), (QStringList{QString::fromStdString(report->realDelay),
                QString::fromStdString(report->erl), QString::fromStdString(report->residual),
                QString::fromStdString(report->levels), QString::number(report->minimalTail),
                QString::number(report->txGainDecrease)}));
        }
        QCOMPARE(probe.Text(controlid::kRealDelay), QStringLiteral("150 smp, OK"));
        QCOMPARE(probe.Text(controlid::kMinimalTail), QStringLiteral("119"));
        QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(2 * kSamples));

        // A failing run leaves the last report on screen.
        const QStringList report = ReportTexts(probe);
        probe.Edit(controlid::kRxPath)->clear();
        probe.Click(controlid::kRun);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Check the files")});
        QCOMPARE(probe.runEnabledWhenShown, QList<bool>{false});
        QCOMPARE(probe.Text(controlid::kStatus), QStringLiteral("Test failed"));
        QCOMPARE(ReportTexts(probe), report);
        QVERIFY(probe.Button(controlid::kRun)->isEnabled());
    }

    void badIntegerStopsTheRun()
    {
        WorkingDir dir;
        WindowProbe probe;
        probe.dialog->SetStatus("Finished");
        probe.Type(controlid::kTail, QStringLiteral("sixty-four"));
        probe.Type(controlid::kRxPath, QStringLiteral("rx.pcm"));
        probe.Click(controlid::kRun);

        QCOMPARE(probe.messages, QStringList{QStringLiteral("Please enter an integer.")});
        QCOMPARE(probe.runEnabledWhenShown, QList<bool>{false});
        // No run: the status is as it was and no output file was created.
        QCOMPARE(probe.Text(controlid::kStatus), QStringLiteral("Finished"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("out.pcm")));
        QVERIFY(probe.Button(controlid::kRun)->isEnabled());
        QCOMPARE(probe.Text(controlid::kTail), QStringLiteral("sixty-four"));
    }

    void enterRunsATestAndEscapeEndsTheDialog()
    {
        WorkingDir dir;
        WindowProbe probe;
        probe.Type(controlid::kTail, QStringLiteral("2000"));   // refused: the run shows a message
        QTest::keyClick(probe.Edit(controlid::kTail), Qt::Key_Return);
        QVERIFY(probe.WaitForRun());
        QCOMPARE(probe.messages, QStringList{kCheckSettings});
        QVERIFY(probe.dialog->isVisible());
        QTest::keyClick(probe.dialog.get(), Qt::Key_Enter);
        QVERIFY(probe.WaitForRun());
        QCOMPARE(probe.messages.size(), 2);
        QVERIFY(probe.dialog->isVisible());

        QTest::keyClick(probe.dialog.get(), Qt::Key_Escape);
        QVERIFY(!probe.dialog->isVisible());
        QCOMPARE(probe.dialog->result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(RunCommandTest)
#include "RunCommandTest.moc"

