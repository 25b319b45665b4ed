// "Try settings": the sweep in the background, Cancel, closing and a missing capture, the table
// against the sweep called directly, and a double click that fills the window's boxes.
#include "WindowProbe.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"
#include "ui/ChartPanel.h"
#include "ui/TrySettingsDialog.h"

namespace {

// A sweep's end as the user waits for it.
bool WaitForSweep(const TrySettingsDialog& dialog)
{
    return QTest::qWaitFor([&] { return !dialog.Running(); }, 120000);
}

}  // namespace

class TrySettingsTest : public QObject {
    Q_OBJECT

private slots:
    void aFullSweepShowsTheSweepsOwnFiguresAndADoubleClickFillsTheBoxes()
    {
        // The shipped samples, whose echo (107 samples) asks for more than the shortest tails; a
        // pure delay of a generated capture would leave no tail that the delay verdict passes.
        ScratchDir dir;
        WindowProbe probe;
        probe.ChooseRow(0);  // delay fixed at 100, tail 64
        probe.NameCaptures(SampleFile("rx.pcm"), SampleFile("tx.pcm"));
        probe.Type(controlid::kTail, QStringLiteral("100"));  // not on the grid: swept as well
        probe.Type(controlid::kNlpDiff, QStringLiteral("9"));
        QTest::mouseClick(probe.dialog->TrySettingsButton(), Qt::LeftButton);
        TrySettingsDialog* trial = probe.dialog->TrySettings();
        QVERIFY(trial != nullptr && trial->isVisible() && trial->Running());
        QVERIFY(WaitForSweep(*trial));
        QVERIFY(!trial->CancelButton()->isEnabled() && trial->Progress()->value() == 0 &&
                trial->Status()->text().startsWith(QStringLiteral("Finished: 66 settings")));

        // The same figures as the sweep called directly on what the window asked for.
        const RunRequest request = probe.dialog->Request();
        SilentUi ui;
        const SweepOutcome direct = RunSweep(EchoTester{}, request.settings, 0,
                                             TrySettingsGrid(request.settings), ui, RunnerControl{});
        const QTableWidget& table = *trial->Table();
        QCOMPARE(table.rowCount(), 66);  // 64 tails, the window's and the Minimal tail
        QCOMPARE(trial->Outcome().points.size(), direct.points.size());
        const int tailColumn = 1, cancellation = 5;
        QStringList tails;
        for (std::size_t i = 0; i < direct.points.size(); ++i) {
            const SweepPoint& b = direct.points[i];
            tails << table.item(int(i), tailColumn)->text();
            QCOMPARE(tails.last() + ' ' + table.item(int(i), cancellation)->text(),
                     QString::number(b.settings.tail) + ' ' +
                         QString::number(b.results.cancellation, 'f', 2));
            QVERIFY(trial->Outcome().points[i].ran && b.ran);
        }
        QCOMPARE(tails.indexOf("100"), 7);  // 16..48, Minimal 56, 64..96
        const int chosen = direct.recommendation.chosen;
        QVERIFY2(chosen >= 0, direct.recommendation.text.c_str());
        QVERIFY(table.item(chosen, 0)->text() == QStringLiteral("recommended") &&
                table.item(chosen, 0)->font().bold());
        QCOMPARE(trial->Recommendation()->text(), QString::fromStdString(direct.recommendation.text));
        QVERIFY(trial->View()->View().measured);

        // A double click on the 256 row puts its tail and NLP back into the boxes.
        probe.Type(controlid::kTail, QStringLiteral("64"));
        probe.Type(controlid::kNlpDiff, QStringLiteral("6"));
        const int row = int(tails.indexOf("256"));
        QVERIFY(row > 0);
        trial->Table()->scrollToItem(table.item(row, cancellation));
        const QRect cell = table.visualItemRect(table.item(row, cancellation));
        QVERIFY(table.viewport()->rect().contains(cell.center()));
        // As a user's double click arrives: a press, then the double click on the same cell.
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(
            probe.Texts({controlid::kTail, controlid::kNlpDiff, controlid::kNlpShift, controlid::kDelay}),
            (QStringList{"256", "9", "3", "100"}));
    }

    void aRowFillsTheBoxesButADeviceGreyedDelay()
    {
        for (const auto& [row, delay] : {std::pair{0, "100"}, {2, "333"}}) {  // row 0's delay is fixed
            WindowProbe probe;
            probe.ChooseRow(row);
            TestSettings s;
            std::tie(s.tail, s.delay, s.nlpDiff) = std::tuple(512, 333, 12);
            FillSettingsBoxes(*probe.dialog, s);
            QCOMPARE(
                probe.Texts({controlid::kDelay, controlid::kTail, controlid::kNlpDiff, controlid::kNlpShift}),
                (QStringList{delay, "512", "12", "0"}));
        }
    }

    void cancelClosingOrAMissingCaptureLeaveNoFigures_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("closing the dialog") << 1;
        QTest::newRow("closing the window") << 2;
        QTest::newRow("a missing capture") << 3;
    }
    void cancelClosingOrAMissingCaptureLeaveNoFigures()
    {
        // A minute of noise and its echo: 65 passes up to tail 1024 take seconds.
        QFETCH(int, how);
        ScratchDir dir;
        const testcaptures::Samples tx = testcaptures::Noise(60 * 8000, 2848, 11);
        testcaptures::WritePcm(dir.File("tx.pcm").toStdString(), tx);
        testcaptures::WritePcm(dir.File("rx.pcm").toStdString(), testcaptures::Echo(tx, 150, 12.0));
        WindowProbe probe;
        probe.NameCaptures(dir.File("rx.pcm"), dir.File(how == 3 ? "missing.pcm" : "tx.pcm"));
        probe.dialog->OnTrySettings();
        TrySettingsDialog* trial = probe.dialog->TrySettings();
        QSignalSpy finished(trial, &TrySettingsDialog::SweepFinished);
        QVERIFY(QTest::qWaitFor([&] { return trial->Progress()->value() > 0 || !trial->Running(); }, 60000));
        const QString status = trial->Status()->text();
        if (how == 3) {  // said in the dialog, not in a box over it
            QVERIFY2(status.startsWith(QStringLiteral("Test failed: Check the files\n")) &&
                         status.contains(QStringLiteral("missing.pcm: No such file or directory")) &&
                         probe.messages.isEmpty(),
                     qPrintable(status));
        } else if (!trial->Running()) {
            QSKIP("the sweep ended before it could be stopped");
        } else if (how == 0) {
            QTest::mouseClick(trial->CancelButton(), Qt::LeftButton);
            QVERIFY(WaitForSweep(*trial) && finished.count() == 1 && trial->isVisible() &&
                    !trial->CancelButton()->isEnabled());
            QVERIFY(trial->Status()->text().startsWith(QStringLiteral("Cancelled after ")));
        } else {
            (how == 1 ? static_cast<QWidget*>(trial) : probe.dialog.get())->close();
            // Closed means stopped and joined: nothing runs on behind the closed window.
            QVERIFY(!trial->Running() && !trial->isVisible() && finished.count() == 0);
        }
        QVERIFY(trial->Table()->rowCount() == 0 && trial->Outcome().points.empty() &&
                !trial->View()->View().measured && trial->Progress()->value() == 0);
    }
};

QTEST_MAIN(TrySettingsTest)
#include "TrySettingsTest.moc"
