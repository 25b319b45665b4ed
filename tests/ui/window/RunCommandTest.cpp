// The Run command: a test on generated captures, failing runs, the two mends (a bad integer
// stops the command; refused settings say so), Enter, Escape and closing the window.
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "WindowProbe.h"
#include "engine/TestMessages.h"
#include "tests/support/TestCaptures.h"

namespace {

// The run writes out.pcm into the working directory: give each test a fresh one.
class WorkingDir {
public:
    WorkingDir() : previous_(QDir::currentPath()) { QDir::setCurrent(QString::fromStdString(dir_.path().string())); }
    ~WorkingDir() { QDir::setCurrent(previous_); }
    WorkingDir(const WorkingDir&) = delete;
    WorkingDir& operator=(const WorkingDir&) = delete;
    std::string File(const std::string& name) const { return dir_.File(name); }

private:
    testcaptures::TempDir dir_;
    QString previous_;
};

// Ten seconds of speech-like bursts at about -15 dBm0 and their echo 150 samples later,
// 12 dB down, over faint line noise.
constexpr int kSamples = 80000;
constexpr int kEchoDelay = 150;

void WriteCaptures(const WorkingDir& dir, int delay = kEchoDelay, double lossDb = 12.0)
{
    const testcaptures::Samples tx = testcaptures::Bursts(kSamples, 2848, 400, 30, 7);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, delay, lossDb, 3.0));
}

void UseCaptures(const WindowProbe& probe, const WorkingDir& dir)
{
    probe.Type(ControlId::kRxPath, QString::fromStdString(dir.File("rx.pcm")));
    probe.Type(ControlId::kTxPath, QString::fromStdString(dir.File("tx.pcm")));
}

QStringList ReportTexts(const WindowProbe& probe)
{
    QStringList out;
    for (int id : {ControlId::kRealDelay, ControlId::kErl, ControlId::kResidual, ControlId::kLevels,
                   ControlId::kMinimalTail, ControlId::kTxGainDecrease}) {
        out.push_back(probe.Text(id));
    }
    return out;
}

}  // namespace

class RunCommandTest : public QObject {
    Q_OBJECT

private slots:
    void runOnGeneratedCapturesFillsTheReport()
    {
        WorkingDir dir;
        WriteCaptures(dir);
        WindowProbe probe;
        QStringList statuses;
        connect(probe.Edit(ControlId::kStatus), &QLineEdit::textChanged,
                [&](const QString& text) { statuses.push_back(text); });

        // Row 2 (ISDN): delay 80, tail 128, so a 150-sample echo lies inside the window
        // (80 < 150 < 80 + 128 - 48) and the minimal tail is 150 - 80 + 49 = 119.
        probe.ChooseRow(2);
        UseCaptures(probe, dir);
        // Unfiltered, the Tx average is the bursts' own level.
        probe.dialog->ControlAs<QCheckBox>(ControlId::kHighPass)->setChecked(false);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);

        QCOMPARE(probe.messages, QStringList());
        QVERIFY(statuses.contains(QStringLiteral("Please wait, processing...")));
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Finished"));
        QCOMPARE(probe.Text(ControlId::kRealDelay), QStringLiteral("150 smp, OK"));

        const QRegularExpressionMatch erl =
            QRegularExpression(QStringLiteral("^(\\d+\\.\\d\\d) dB, OK$")).match(probe.Text(ControlId::kErl));
        QVERIFY2(erl.hasMatch(), qPrintable(probe.Text(ControlId::kErl)));
        QVERIFY(std::abs(erl.captured(1).toDouble() - 12.0) < 1.5);

        const QRegularExpression twoLevels(QStringLiteral("^(-?\\d+\\.\\d\\d) / (-?\\d+\\.\\d\\d) dBm, (OK|CHECK)$"));
        QVERIFY2(twoLevels.match(probe.Text(ControlId::kResidual)).hasMatch(),
                 qPrintable(probe.Text(ControlId::kResidual)));
        const QRegularExpressionMatch levels = twoLevels.match(probe.Text(ControlId::kLevels));
        QVERIFY2(levels.hasMatch(), qPrintable(probe.Text(ControlId::kLevels)));
        const double rx = levels.captured(1).toDouble();
        const double tx = levels.captured(2).toDouble();
        QVERIFY2(std::abs(tx - -15.0) < 2.0, qPrintable(probe.Text(ControlId::kLevels)));   // the bursts' level, second half of the capture
        QVERIFY(rx < tx);                      // Rx first: the echo comes back quieter

        QCOMPARE(probe.Text(ControlId::kMinimalTail), QStringLiteral("119"));
        QCOMPARE(probe.Text(ControlId::kTxGainDecrease), QString::number(TxGainDecrease(tx, rx)));
        QCOMPARE(probe.dialog->m_minimalTail, 119);

        // The run drove the progress bar over the samples; the command put it back to 0.
        QCOMPARE(probe.Progress()->maximum(), kSamples);
        QCOMPARE(probe.Progress()->value(), 0);
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
        QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(2 * kSamples));

        // The high-pass box reaches the run: filtered captures measure differently.
        const QString unfiltered = probe.Text(ControlId::kLevels);
        probe.dialog->ControlAs<QCheckBox>(ControlId::kHighPass)->setChecked(true);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Finished"));
        QVERIFY(probe.Text(ControlId::kLevels) != unfiltered);
    }

    void deviceRowJudgesTheDelay_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("delayLine");
        QTest::addColumn<QString>("minimalTail");
        // An echo 110 samples late. Row 0's fixed delay 100 and tail 64 take it (100 < 110 < 116)
        // although its delay box is disabled; row 7 starts at 180, past the echo.
        QTest::newRow("row 0") << 0 << "110 smp, OK" << "59";    // 110 - 100 + 49
        QTest::newRow("row 7") << 7 << "110 smp, CHECK" << "50"; // preset above the delay
        QTest::newRow("row 1") << 1 << "110 smp, CHECK" << "79"; // 80 + 48 - 48 = 80 < 110
    }

    void deviceRowJudgesTheDelay()
    {
        QFETCH(int, row);
        QFETCH(QString, delayLine);
        QFETCH(QString, minimalTail);
        WorkingDir dir;
        WriteCaptures(dir, 110);
        WindowProbe probe;
        probe.ChooseRow(row);
        UseCaptures(probe, dir);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.Text(ControlId::kRealDelay), delayLine);
        QCOMPARE(probe.Text(ControlId::kMinimalTail), minimalTail);
    }

    void erlGateStillReportsDelayAndErl()
    {
        WorkingDir dir;
        WriteCaptures(dir, kEchoDelay, 3.0);
        WindowProbe probe;
        probe.ChooseRow(2);
        UseCaptures(probe, dir);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);

        QCOMPARE(probe.messages, QStringList{QString::fromLatin1(TestMessages::kErlGate)});
        QCOMPARE(probe.statusWhenShown, QStringList{QStringLiteral("Test failed")});
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Finished"));
        QCOMPARE(probe.Text(ControlId::kRealDelay), QStringLiteral("150 smp, OK"));
        QVERIFY2(probe.Text(ControlId::kErl).endsWith(QStringLiteral(" dB, CHECK")), qPrintable(probe.Text(ControlId::kErl)));
        QCOMPARE(probe.Text(ControlId::kResidual), QStringLiteral("Not Available"));
        QCOMPARE(probe.Text(ControlId::kLevels), QStringLiteral("Not Available"));
        QCOMPARE(probe.Text(ControlId::kMinimalTail), QStringLiteral("119"));
        QCOMPARE(probe.Text(ControlId::kTxGainDecrease), QStringLiteral("0"));
        QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(0));
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
    }

    void failingRunKeepsThePreviousReport()
    {
        WorkingDir dir;
        WriteCaptures(dir);
        WindowProbe probe;
        probe.ChooseRow(2);
        probe.Type(ControlId::kRxPath, QString::fromStdString(dir.File("rx.pcm")));
        probe.Type(ControlId::kTxPath, QString::fromStdString(dir.File("tx.pcm")));
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Finished"));
        const QStringList report = ReportTexts(probe);
        QCOMPARE(report[0], QStringLiteral("150 smp, OK"));

        probe.Type(ControlId::kRxPath, QString::fromStdString(dir.File("missing.pcm")));
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Check the files")});
        QCOMPARE(probe.statusWhenShown, QStringList{QStringLiteral("Test failed")});
        QCOMPARE(probe.runEnabledWhenShown, QList<bool>{false});
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Test failed"));
        QCOMPARE(ReportTexts(probe), report);
        QCOMPARE(probe.Progress()->value(), 0);
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
    }

    void emptyRxPathLeavesTheEmptyReport()
    {
        WorkingDir dir;
        WindowProbe probe;
        const QStringList before = ReportTexts(probe);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Check the files")});
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Test failed"));
        QCOMPARE(ReportTexts(probe), before);
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
    }

    void badIntegerStopsTheRun()
    {
        WorkingDir dir;
        WindowProbe probe;
        probe.dialog->SetStatus("Finished");
        probe.Type(ControlId::kTail, QStringLiteral("sixty-four"));
        probe.Type(ControlId::kRxPath, QStringLiteral("rx.pcm"));
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);

        QCOMPARE(probe.messages, QStringList{QStringLiteral("Please enter an integer.")});
        QCOMPARE(probe.runEnabledWhenShown, QList<bool>{false});
        // No run: the status is as it was and no output file was created.
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Finished"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("out.pcm")));
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
        QCOMPARE(probe.Progress()->value(), 0);
        QCOMPARE(probe.Text(ControlId::kTail), QStringLiteral("sixty-four"));
    }

    void refusedSettingsSayWhy_data()
    {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("value");
        QTest::newRow("tail 1025") << ControlId::kTail << "1025";
        QTest::newRow("tail -1") << ControlId::kTail << "-1";
        QTest::newRow("NLP diff 101") << ControlId::kNlpDiff << "101";
        QTest::newRow("NLP shift 11") << ControlId::kNlpShift << "11";
        QTest::newRow("NLP shift -1") << ControlId::kNlpShift << "-1";
    }

    void refusedSettingsSayWhy()
    {
        QFETCH(int, box);
        QFETCH(QString, value);
        WorkingDir dir;
        WindowProbe probe;
        const QStringList before = ReportTexts(probe);
        probe.Type(box, value);
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);

        QCOMPARE(probe.messages, QStringList{QString::fromLatin1(TestMessages::kCheckSettings)});
        QCOMPARE(probe.messages[0], QStringLiteral("Check the settings: tail 0 to 1024, delay 0 to 8000, "
                                                   "NLP diff 0 to 100, NLP shift 0 to 10"));
        QCOMPARE(probe.statusWhenShown, QStringList{QStringLiteral("Test failed")});
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Test failed"));
        QCOMPARE(ReportTexts(probe), before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("out.pcm")));
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
    }

    void refusedDelayFromAnEditableRow()
    {
        WorkingDir dir;
        WindowProbe probe;
        probe.ChooseRow(9);
        probe.Type(ControlId::kDelay, QStringLiteral("8001"));
        QTest::mouseClick(probe.Button(ControlId::kRun), Qt::LeftButton);
        QCOMPARE(probe.messages, QStringList{QString::fromLatin1(TestMessages::kCheckSettings)});
        QCOMPARE(probe.dialog->m_delay, 8001);
    }

    void enterRunsATestAndKeepsTheWindowOpen()
    {
        WorkingDir dir;
        WindowProbe probe;
        probe.Type(ControlId::kTail, QStringLiteral("2000"));
        QTest::keyClick(probe.Edit(ControlId::kTail), Qt::Key_Return);
        QCOMPARE(probe.messages, QStringList{QString::fromLatin1(TestMessages::kCheckSettings)});
        QVERIFY(probe.dialog->isVisible());

        QTest::keyClick(probe.dialog.get(), Qt::Key_Enter);
        QCOMPARE(probe.messages.size(), 2);
        QVERIFY(probe.dialog->isVisible());
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());

        // On a focused push button Enter is that button's click, not a run.
        probe.Button(ControlId::kBrowseRx)->setFocus();
        QTest::keyClick(probe.Button(ControlId::kBrowseRx), Qt::Key_Return);
        QCOMPARE(probe.filters.size(), 1);
        QCOMPARE(probe.messages.size(), 2);
        QVERIFY(probe.dialog->isVisible());
    }

    void escapeAndCloseEndTheDialog()
    {
        WindowProbe escaped;
        QTest::keyClick(escaped.dialog.get(), Qt::Key_Escape);
        QVERIFY(!escaped.dialog->isVisible());
        QCOMPARE(escaped.dialog->result(), int(QDialog::Rejected));

        WindowProbe closed;
        QVERIFY(closed.dialog->close());
        QVERIFY(!closed.dialog->isVisible());
        QVERIFY(escaped.messages.isEmpty() && closed.messages.isEmpty());
    }
};

QTEST_MAIN(RunCommandTest)
#include "RunCommandTest.moc"
