// The run in the background: it can be stopped, a second one cannot start over it, edits made
// meanwhile are kept; a refused box is pointed out before its prompt; a report greys as soon
// as the window's inputs no longer match it.
#include <QSignalSpy>
#include <QTimer>

#include "SampleRun.h"
#include "support/SyntheticCaptures.h"

class BackgroundRunTest : public QObject {
    Q_OBJECT

private slots:
    void stoppingALongRunEmptiesTheOutput()
    {
        // Four minutes of noise and its echo at tail 1024: a run long enough to stop midway.
        constexpr int kSamples = 240 * 8000;
        const testcaptures::Samples tx = testcaptures::Noise(kSamples, 2848, 11);
        for (bool byClosing : {false, true}) {
            ScratchDir scratch;
            testcaptures::WritePcm(scratch.File("tx.pcm").toStdString(), tx);
            testcaptures::WritePcm(scratch.File("rx.pcm").toStdString(), testcaptures::Echo(tx, 150, 12.0));
            WindowProbe probe;
            RunOnSamples(probe);
            const QStringList report = ReportTexts(probe);
            probe.Type(controlid::kRxPath, scratch.File("rx.pcm"));
            probe.Type(controlid::kTxPath, scratch.File("tx.pcm"));
            probe.Type(controlid::kTail, QStringLiteral("1024"));

            if (!byClosing) {
                // From the event loop, once the run has started.
                QTimer::singleShot(0, probe.dialog->CancelButton(), &QPushButton::click);
            }
            QTest::mouseClick(probe.Button(controlid::kRun), Qt::LeftButton);
            QVERIFY(probe.dialog->Running());
            QVERIFY(!probe.Button(controlid::kRun)->isEnabled() && probe.dialog->CancelButton()->isEnabled());
            if (byClosing) {
                // Closed once the pass has written some of the output: closing must stop the run
                // and wait for it, so the output is empty the moment the window has gone.
                QProgressBar* bar = probe.Progress();
                QVERIFY(QTest::qWaitFor([&] { return bar->value() > bar->maximum() / 20 || !probe.dialog->Running(); }, 60000));
                if (!probe.dialog->Running()) {
                    QSKIP("the run ended before it could be stopped");
                }
                probe.dialog->close();
                QVERIFY(!probe.dialog->isVisible() && !probe.dialog->Running());
                QVERIFY(QFileInfo::exists(QStringLiteral("out.pcm")));
                QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(0));
                continue;
            }
            QVERIFY(QTest::qWaitFor([&] { return !probe.dialog->Running(); }, 60000));
            QCOMPARE(QFileInfo(QStringLiteral("out.pcm")).size(), qint64(0));
            QVERIFY(probe.messages.isEmpty());
            QVERIFY(probe.Button(controlid::kRun)->isEnabled() && !probe.dialog->CancelButton()->isEnabled());
            QCOMPARE(probe.Text(controlid::kStatus), QStringLiteral("Test cancelled"));
            QCOMPARE(ReportTexts(probe), report);
            QVERIFY(probe.dialog->ReportStale() && ReportGreyed(probe));
            QCOMPARE(probe.Progress()->value(), 0);
        }
    }

    void editsDuringARunAreKeptAndEnterStartsNoSecondRun()
    {
        ScratchDir scratch;
        WindowProbe probe;
        probe.Type(controlid::kRxPath, SampleFile("rx.pcm"));
        probe.Type(controlid::kTxPath, SampleFile("tx.pcm"));
        QSignalSpy finished(probe.dialog.get(), &MainDialog::RunFinished);
        QTest::mouseClick(probe.Button(controlid::kRun), Qt::LeftButton);
        // The run read tail 64; the user types another and presses Enter in the box.
        probe.Type(controlid::kTail, QStringLiteral("128"));
        probe.Edit(controlid::kTail)->setFocus();
        QTest::keyClick(probe.Edit(controlid::kTail), Qt::Key_Return);
        QVERIFY(probe.WaitForRun());

        QCOMPARE(finished.size(), 1);
        QVERIFY(probe.Edit(controlid::kRealDelay)->toolTip().contains(QStringLiteral("tail 64")));
        QCOMPARE(probe.Text(controlid::kTail), QStringLiteral("128"));
        QVERIFY(probe.dialog->ReportStale() && ReportGreyed(probe));
        QCOMPARE(probe.Text(controlid::kStatus), MainDialog::kStaleStatus);
    }

    void refusedBoxHasTheFocusWhileThePromptShows()
    {
        using namespace controlid;
        for (int box : {kTail, kDelay, kNlpDiff, kNlpShift}) {
            WindowProbe probe;
            probe.ChooseRow(2);   // delay box editable
            probe.Type(box, QStringLiteral("abc"));
            QWidget* focused = nullptr;
            QString selected;
            probe.dialog->SetMessageBoxHook([&](QWidget*, const QString&) {
                focused = probe.dialog->focusWidget();
                selected = probe.Edit(box)->selectedText();
            });
            probe.Click(kRun);
            QVERIFY2(focused == probe.Edit(box), qPrintable(QString::number(box)));
            QCOMPARE(selected, QStringLiteral("abc"));
        }
    }

    void reportGreysOnceAnInputChanges()
    {
        using namespace controlid;
        const std::function<void(WindowProbe&)> changes[] = {
            [](WindowProbe& p) { p.Type(kRxPath, QStringLiteral(TARNWELL_SAMPLES_DIR "/./rx.pcm")); },
            [](WindowProbe& p) { p.ChooseRow(5); },
            [](WindowProbe& p) { p.Type(kNlpShift, QStringLiteral("4")); },
            [](WindowProbe& p) { p.HighPass()->click(); },
            [](WindowProbe& p) {
                p.nextFile = QStringLiteral(TARNWELL_SAMPLES_DIR "/./tx.pcm");
                p.Click(kBrowseTx);
            },
        };
        int change = 0;
        for (const auto& apply : changes) {
            ScratchDir scratch;
            WindowProbe probe;
            RunOnSamples(probe);
            QVERIFY(!ReportGreyed(probe) && !probe.dialog->ReportStale());
            apply(probe);
            QVERIFY2(ReportGreyed(probe), qPrintable(QString::number(change)));
            QCOMPARE(probe.Text(kStatus), MainDialog::kStaleStatus);
            // A run on the new inputs makes the report current again.
            probe.Click(kRun);
            QVERIFY2(!ReportGreyed(probe), qPrintable(probe.Text(kStatus)));
            ++change;
        }
    }
};

QTEST_MAIN(BackgroundRunTest)
#include "BackgroundRunTest.moc"
