// "Try settings": the sweep in the background with its progress, Cancel and closing, the table
// against the sweep called directly, and a double click that fills the window's boxes.
#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <cmath>

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

// Two doubles the same to the bit, unmeasured (NaN) included.
bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Column of the table, by its heading.
int Column(const QTableWidget& table, const QString& heading)
{
    for (int c = 0; c < table.columnCount(); ++c) {
        if (table.horizontalHeaderItem(c)->text() == heading) {
            return c;
        }
    }
    return -1;
}

// Row whose tail column reads tail, or -1.
int RowOfTail(const QTableWidget& table, int tailColumn, const QString& tail)
{
    for (int r = 0; r < table.rowCount(); ++r) {
        if (table.item(r, tailColumn)->text() == tail) {
            return r;
        }
    }
    return -1;
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
        probe.Type(controlid::kRxPath, SampleFile("rx.pcm"));
        probe.Type(controlid::kTxPath, SampleFile("tx.pcm"));
        probe.Type(controlid::kTail, QStringLiteral("100"));  // not on the grid: swept as well
        probe.Type(controlid::kNlpDiff, QStringLiteral("9"));
        QTest::mouseClick(probe.dialog->TrySettingsButton(), Qt::LeftButton);
        TrySettingsDialog* trial = probe.dialog->TrySettings();
        QVERIFY(trial != nullptr && trial->isVisible() && trial->Running());
        QList<int> progress;
        QObject::connect(trial->Progress(), &QProgressBar::valueChanged, [&](int v) { progress << v; });
        QVERIFY(WaitForSweep(*trial));
        QVERIFY(!trial->CancelButton()->isEnabled());
        QVERIFY(std::any_of(progress.begin(), progress.end(), [](int v) { return v > 0; }));
        QVERIFY(std::is_sorted(progress.begin(), progress.end() - 1));  // the last is the reset to 0
        QVERIFY(trial->Status()->text().startsWith(QStringLiteral("Finished: 66 settings")));

        // The same figures as the sweep called directly on what the window asked for.
        const RunRequest request = probe.dialog->Request();
        SilentUi ui;
        const EchoTester engine;
        const SweepOutcome direct = RunSweep(engine, request.settings, 0, TrySettingsGrid(request.settings),
                                             ui, RunnerControl{});
        const SweepOutcome& shown = trial->Outcome();
        QCOMPARE(shown.points.size(), direct.points.size());
        const QTableWidget& table = *trial->Table();
        QCOMPARE(table.rowCount(), 66);  // 64 tails, the window's and the Minimal tail
        const int cancellation = Column(table, QStringLiteral("Cancellation (dB)"));
        const int tailColumn = Column(table, QStringLiteral("Tail"));
        for (std::size_t i = 0; i < direct.points.size(); ++i) {
            const SweepPoint& a = shown.points[i];
            const SweepPoint& b = direct.points[i];
            QVERIFY(a.ran && b.ran && a.settings.tail == b.settings.tail);
            QVERIFY(Same(a.results.cancellation, b.results.cancellation) && Same(a.erleDb, b.erleDb) &&
                    Same(a.results.residualLevel, b.results.residualLevel) &&
                    Same(a.convergedSeconds, b.convergedSeconds) && a.nlpFrames == b.nlpFrames);
            const int row = static_cast<int>(i);
            QCOMPARE(table.item(row, tailColumn)->text(), QString::number(b.settings.tail));
            QCOMPARE(table.item(row, cancellation)->text(), QString::number(b.results.cancellation, 'f', 2));
        }
        QCOMPARE(RowOfTail(table, tailColumn, QStringLiteral("100")), 7);  // 16..48, Minimal 56, 64..96
        const int chosen = direct.recommendation.chosen;
        QVERIFY2(chosen >= 0, direct.recommendation.text.c_str());
        QCOMPARE(shown.recommendation.chosen, chosen);
        QCOMPARE(table.item(chosen, 0)->text(), QStringLiteral("recommended"));
        QVERIFY(table.item(chosen, 0)->font().bold());
        QCOMPARE(trial->Recommendation()->text(), QString::fromStdString(direct.recommendation.text));
        QVERIFY(trial->View()->View().measured);

        // A double click on the 256 row puts its tail and NLP back into the boxes.
        probe.Type(controlid::kTail, QStringLiteral("64"));
        probe.Type(controlid::kNlpDiff, QStringLiteral("6"));
        const int row = RowOfTail(table, tailColumn, QStringLiteral("256"));
        QVERIFY(row > 0);
        trial->Table()->scrollToItem(table.item(row, cancellation));
        const QRect cell = table.visualItemRect(table.item(row, cancellation));
        QVERIFY(table.viewport()->rect().contains(cell.center()));
        // As a user's double click arrives: a press, then the double click on the same cell.
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(probe.Text(controlid::kTail), QStringLiteral("256"));
        QCOMPARE(probe.Text(controlid::kNlpDiff), QStringLiteral("9"));
        QCOMPARE(probe.Text(controlid::kNlpShift), QStringLiteral("3"));
        QCOMPARE(probe.Text(controlid::kDelay), QStringLiteral("100"));
    }

    void aRowFillsTheBoxesButADeviceGreyedDelay_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("delay");
        QTest::newRow("row 0: delay fixed at 100") << 0 << QStringLiteral("100");
        QTest::newRow("row 2: delay editable") << 2 << QStringLiteral("333");
    }
    void aRowFillsTheBoxesButADeviceGreyedDelay()
    {
        QFETCH(int, row);
        QFETCH(QString, delay);
        WindowProbe probe;
        probe.ChooseRow(row);
        TestSettings s;
        s.tail = 512;
        s.delay = 333;
        s.nlpDiff = 12;
        FillSettingsBoxes(*probe.dialog, s);
        QCOMPARE(probe.Text(controlid::kDelay), delay);
        QCOMPARE((QStringList{probe.Text(controlid::kTail), probe.Text(controlid::kNlpDiff),
                              probe.Text(controlid::kNlpShift)}),
                 (QStringList{"512", "12", "0"}));
    }

    void cancelAndClosingStopTheSweepAndLeaveNoFigures_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("closing the dialog") << 1;
        QTest::newRow("closing the window") << 2;
    }
    void cancelAndClosingStopTheSweepAndLeaveNoFigures()
    {
        // A minute of noise and its echo: 65 passes up to tail 1024 take seconds.
        QFETCH(int, how);
        ScratchDir dir;
        const testcaptures::Samples tx = testcaptures::Noise(60 * 8000, 2848, 11);
        testcaptures::WritePcm(dir.File("tx.pcm").toStdString(), tx);
        testcaptures::WritePcm(dir.File("rx.pcm").toStdString(), testcaptures::Echo(tx, 150, 12.0));
        WindowProbe probe;
        probe.Type(controlid::kRxPath, dir.File("rx.pcm"));
        probe.Type(controlid::kTxPath, dir.File("tx.pcm"));
        probe.dialog->OnTrySettings();
        TrySettingsDialog* trial = probe.dialog->TrySettings();
        QSignalSpy finished(trial, &TrySettingsDialog::SweepFinished);
        QVERIFY(QTest::qWaitFor([&] { return trial->Progress()->value() > 0 || !trial->Running(); }, 60000));
        if (!trial->Running()) {
            QSKIP("the sweep ended before it could be stopped");
        }
        if (how == 0) {
            QTest::mouseClick(trial->CancelButton(), Qt::LeftButton);
            QVERIFY(WaitForSweep(*trial));
            QCOMPARE(finished.count(), 1);
            QVERIFY(trial->Status()->text().startsWith(QStringLiteral("Cancelled after ")));
            QVERIFY(trial->isVisible() && !trial->CancelButton()->isEnabled());
        } else {
            if (how == 1) {
                trial->close();
            } else {
                probe.dialog->close();
            }
            // Closed means stopped and joined: nothing runs on behind the closed window.
            QVERIFY(!trial->Running() && !trial->isVisible());
            QCOMPARE(finished.count(), 0);
        }
        QCOMPARE(trial->Table()->rowCount(), 0);
        QVERIFY(trial->Outcome().points.empty() && !trial->View()->View().measured);
        QCOMPARE(trial->Progress()->value(), 0);
    }

    void capturesThatCannotBeUsedSayWhyAndShowNothing()
    {
        ScratchDir dir;
        WindowProbe probe;
        probe.Type(controlid::kTxPath, dir.File("missing.pcm"));
        probe.dialog->OnTrySettings();
        TrySettingsDialog* trial = probe.dialog->TrySettings();
        QVERIFY(WaitForSweep(*trial));
        QVERIFY2(
            trial->Status()->text().startsWith(QStringLiteral("Test failed: Check the files\n")) &&
                trial->Status()->text().contains(QStringLiteral("missing.pcm: No such file or directory")),
            qPrintable(trial->Status()->text()));
        QCOMPARE(trial->Table()->rowCount(), 0);
        QVERIFY(probe.messages.isEmpty());  // said in the dialog, not in a box over it
    }
};

QTEST_MAIN(TrySettingsTest)
#include "TrySettingsTest.moc"
