// The Run command and the run in the background: the report it fills, a gate's status, a failing run, a
// refused box, Enter and Escape, stopping a run, edits made meanwhile, and a report that greys as soon as the
// window's inputs no longer match it.
#include "WindowProbe.h"
#include "support/SyntheticCaptures.h"

class RunTest : public QObject {
    Q_OBJECT

private slots:
    void runFillsTheSharedReportAGateNamesItsCauseAndAFailingRunKeepsIt()
    {
        // Ten seconds of speech-like bursts at about -15 dBm0 and their echo 150 samples later,
        // 12 dB down, over faint line noise.
        constexpr int kSamples = 80000;
        ScratchDir dir;
        const testcaptures::Samples bursts = testcaptures::Bursts(kSamples, 2848, 400, 30, 7);
        testcaptures::WritePcm(dir.File("tx.pcm").toStdString(), bursts);
        testcaptures::WritePcm(dir.File("rx.pcm").toStdString(), testcaptures::Echo(bursts, 150, 12.0, 3.0));
        WindowProbe probe;
        QStringList statuses;
        QObject::connect(probe.Edit(controlid::kStatus), &QLineEdit::textChanged,
                         [&](const QString& text) { statuses.push_back(text); });
        for (const int highPass : {0, 1}) {
            probe.HighPass()->setChecked(highPass == 1);
            // Row 2 (ISDN): delay 80, tail 128, so the echo lies inside the window
            // (80 < 150 < 80 + 128 - 48) and the minimal tail is 150 - 80 + 49 = 119.
            probe.RunOn(dir.File("rx.pcm"), dir.File("tx.pcm"), 2);
            QCOMPARE(statuses.mid(statuses.size() - 2),
                     (QStringList{"Please wait, processing...", "Finished"}));
            QVERIFY(probe.Progress()->maximum() == kSamples && probe.Progress()->value() == 0);
            // Each box shows its line of the report the same settings give without the window.
            TestSettings settings = DefaultRunRequest(2).settings;
            std::tie(settings.txPath, settings.rxPath, settings.highPass) = std::tuple(
                dir.File("tx.pcm").toStdString(), dir.File("rx.pcm").toStdString(), highPass);
            TestResults results{};
            const std::optional<Report> report = RunAndReport(settings, 2, *probe.dialog, results);
            QVERIFY(report.has_value());
            QCOMPARE(
                probe.Texts(kReportBoxes),
                (QStringList{QString::fromStdString(report->realDelay), QString::fromStdString(report->erl),
                             QString::fromStdString(report->residual), QString::fromStdString(report->levels),
                             QString::number(report->minimalTail), QString::number(report->txGainDecrease)}));
        }
        QCOMPARE(probe.Text(controlid::kRealDelay) + ' ' + probe.Text(controlid::kMinimalTail),
                 QStringLiteral("150 smp, OK 119"));
        QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(2 * kSamples));

        // Rx with no echo of Tx in it: the ERL gate stops the canceller, for a reason the findings
        // know, and the status names that cause first.
        testcaptures::WritePcm(dir.File("rx.pcm").toStdString(), testcaptures::Noise(kSamples, 2000.0, 99));
        probe.Click(controlid::kRun);
        QCOMPARE(
            probe.Text(controlid::kStatus),
            QStringLiteral("No echo found; Echo Return Loss (ERL) is less than 6 dB. Cancellation stopped"));

        const QStringList report = probe.Texts(kReportBoxes);
        probe.messages.clear();  // the gate's own
        probe.Edit(controlid::kRxPath)->clear();
        probe.Click(controlid::kRun);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Check the files")});
        QCOMPARE(probe.Text(controlid::kStatus), QStringLiteral("Test failed"));
        QVERIFY(probe.Texts(kReportBoxes) == report && probe.Button(controlid::kRun)->isEnabled());
    }

    void refusedBoxHasTheFocusWhileThePromptShowsAndNothingRuns()
    {
        using namespace controlid;
        for (int box : {kTail, kDelay, kNlpDiff, kNlpShift}) {
            ScratchDir dir;
            WindowProbe probe;
            probe.ChooseRow(2);  // delay box editable
            probe.dialog->SetStatus("Finished");
            probe.Type(box, QStringLiteral("abc"));
            probe.Type(kRxPath, QStringLiteral("rx.pcm"));
            QStringList shown;  // the prompt, whether the box had the focus, its selection, Run enabled
            probe.dialog->SetMessageBoxHook([&](QWidget*, const QString& text) {
                shown << QStringList{text, QString::number(probe.dialog->focusWidget() == probe.Edit(box)),
                                     probe.Edit(box)->selectedText(),
                                     QString::number(probe.Button(kRun)->isEnabled())}
                             .join(' ');
            });
            probe.Click(kRun);
            QCOMPARE(shown, QStringList{QStringLiteral("Please enter an integer. 1 abc 0")});
            QVERIFY(probe.Text(kStatus) == QStringLiteral("Finished") && probe.Button(kRun)->isEnabled() &&
                    !QFileInfo::exists(QStringLiteral("out.pcm")));
        }
    }

    void stoppingALongRunEmptiesTheOutput()
    {
        // Four minutes of noise and its echo at tail 1024: a run long enough to stop midway.
        const testcaptures::Samples tx = testcaptures::Noise(240 * 8000, 2848, 11);
        for (bool byClosing : {false, true}) {
            ScratchDir scratch;
            testcaptures::WritePcm(scratch.File("tx.pcm").toStdString(), tx);
            testcaptures::WritePcm(scratch.File("rx.pcm").toStdString(), testcaptures::Echo(tx, 150, 12.0));
            WindowProbe probe;
            RunOnSamples(probe);
            const QStringList report = probe.Texts(kReportBoxes);
            probe.NameCaptures(scratch.File("rx.pcm"), scratch.File("tx.pcm"));
            probe.Type(controlid::kTail, QStringLiteral("1024"));
            if (!byClosing) {  // once it has started
                QTimer::singleShot(0, probe.dialog->CancelButton(), &QPushButton::click);
            }
            QTest::mouseClick(probe.Button(controlid::kRun), Qt::LeftButton);
            QVERIFY(probe.dialog->Running() && !probe.Button(controlid::kRun)->isEnabled() &&
                    probe.dialog->CancelButton()->isEnabled());
            if (byClosing) {
                // Closing once some output is written must stop the run and wait for it.
                QProgressBar* bar = probe.Progress();
                QVERIFY(QTest::qWaitFor(
                    [&] { return bar->value() > bar->maximum() / 20 || !probe.dialog->Running(); }, 60000));
                if (!probe.dialog->Running()) {
                    QSKIP("the run ended before it could be stopped");
                }
                probe.dialog->close();
                QVERIFY(!probe.dialog->isVisible() && !probe.dialog->Running());
            } else {
                QVERIFY(probe.WaitForRun() && probe.messages.isEmpty() && probe.Progress()->value() == 0);
                QVERIFY(probe.Button(controlid::kRun)->isEnabled() &&
                        !probe.dialog->CancelButton()->isEnabled());
                QCOMPARE(probe.Text(controlid::kStatus), QStringLiteral("Test cancelled"));
                QVERIFY(probe.Texts(kReportBoxes) == report && probe.dialog->ReportStale() &&
                        ReportGreyed(probe));
            }
            QVERIFY(QFileInfo::exists(QStringLiteral("out.pcm")));
            QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(0));
        }
    }

    void enterRunsATestButNoSecondOneAndEscapeEndsTheDialog()
    {
        ScratchDir scratch;
        WindowProbe probe;
        probe.NameCaptures(SampleFile("rx.pcm"), SampleFile("tx.pcm"));
        QSignalSpy finished(probe.dialog.get(), &MainDialog::RunFinished);
        QTest::keyClick(probe.dialog.get(), Qt::Key_Enter);
        QVERIFY(probe.dialog->Running());
        // The run read tail 64; the user types another and presses Enter in the box.
        probe.Type(controlid::kTail, QStringLiteral("2000"));
        QTest::keyClick(probe.Edit(controlid::kTail), Qt::Key_Return);
        QVERIFY(probe.WaitForRun() && finished.size() == 1 && probe.messages.isEmpty());
        QVERIFY(probe.Edit(controlid::kRealDelay)->toolTip().contains(QStringLiteral("tail 64")) &&
                probe.Text(controlid::kTail) == QStringLiteral("2000"));
        QVERIFY(probe.dialog->ReportStale() && ReportGreyed(probe) &&
                probe.Text(controlid::kStatus) == MainDialog::kStaleStatus);
        // Enter in the box once the run is over runs a test on what it holds: refused.
        QTest::keyClick(probe.Edit(controlid::kTail), Qt::Key_Return);
        QVERIFY(probe.WaitForRun());
        QCOMPARE(probe.messages,
                 QStringList{QStringLiteral("Check the settings: tail 0 to 1024, delay 0 to 8000, "
                                            "NLP diff 0 to 100, NLP shift 0 to 10")});
        QTest::keyClick(probe.dialog.get(), Qt::Key_Escape);
        QVERIFY(!probe.dialog->isVisible() && probe.dialog->result() == QDialog::Rejected);
    }

    void reportGreysOnceAnInputChanges()
    {
        using namespace controlid;
        const std::function<void(WindowProbe&)> changes[] = {
            [](WindowProbe& p) { p.Type(kRxPath, QStringLiteral(TARNWELL_SAMPLES_DIR "/./rx.pcm")); },
            [](WindowProbe& p) { p.ChooseRow(5); },
            [](WindowProbe& p) { p.Type(kNlpShift, QStringLiteral("4")); },
            [](WindowProbe& p) { p.HighPass()->click(); },
        };
        for (int change = 0; change < int(std::size(changes)); ++change) {
            ScratchDir scratch;
            WindowProbe probe;
            RunOnSamples(probe);
            QVERIFY(!ReportGreyed(probe) && !probe.dialog->ReportStale());
            changes[change](probe);
            QVERIFY2(ReportGreyed(probe) && probe.Text(kStatus) == MainDialog::kStaleStatus,
                     qPrintable(QString::number(change)));
            probe.Click(kRun);  // a run on the new inputs makes the report current again
            QVERIFY2(!ReportGreyed(probe), qPrintable(probe.Text(kStatus)));
        }
    }
};

QTEST_MAIN(RunTest)
#include "RunTest.moc"
