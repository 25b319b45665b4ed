// The main window: start state, device presets, the data exchange's
// order, and the two ways to fill a path box (browsing and dropping a file).
#include "WindowProbe.h"

namespace {

// Delay and tail presets per device row, and the rows whose delay box can be edited.
constexpr int kDelays[] = {100, 80, 80, 80, 100, 80, 80, 180, 80, 80};
constexpr int kTails[] = {64, 48, 128, 64, 64, 48, 128, 64, 128, 128};
const QList<int> kDelayEditable{2, 5, 7, 8, 9};

// Drags URLs onto the box and drops them there, as a file manager would.
void Drop(QWidget* box, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint centre = box->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &enter);
    if (enter.isAccepted()) {
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &drop);
    }
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void startsOnRowZeroAndEveryRowAppliesItsPreset()
    {
        using namespace controlid;
        WindowProbe probe;
        QVERIFY(probe.List()->currentIndex() == 0 && probe.List()->count() == 10);
        QCOMPARE(probe.List()->itemText(3) + '|' + probe.List()->itemText(9),
                 QStringLiteral("Vestra B - FXO (rev 1)|Vestra D - E1/T1"));
        QCOMPARE(probe.Texts({kDelay, kTail, kNlpDiff, kNlpShift, kMinimalTail, kTxGainDecrease}),
                 (QStringList{"100", "64", "6", "3", "0", "0"}));
        QVERIFY(!probe.Edit(kDelay)->isEnabled() && probe.HighPass()->isChecked());
        for (int id : {kRealDelay, kErl, kResidual, kLevels, kStatus}) {
            QVERIFY2(probe.Text(id).isEmpty() && probe.Edit(id)->isReadOnly(),
                     qPrintable(QString::number(id)));
        }
        QVERIFY(probe.Button(kRun)->isEnabled() && !probe.Button(kRun)->isDefault());

        for (int row : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 7}) {
            // Values the user typed are overwritten; the high-pass box is left alone.
            for (int id : {kTail, kNlpDiff, kNlpShift, kDelay}) {
                if (probe.Edit(id)->isEnabled()) probe.Type(id, QStringLiteral("9"));
            }
            probe.HighPass()->setChecked(row % 2 == 0);
            probe.ChooseRow(row);
            QCOMPARE(probe.Texts({kDelay, kTail, kNlpDiff, kNlpShift}),
                     (QStringList{QString::number(kDelays[row]), QString::number(kTails[row]), "6", "3"}));
            QVERIFY2(probe.dialog->m_deviceType == row &&
                         probe.Edit(kDelay)->isEnabled() == kDelayEditable.contains(row) &&
                         probe.HighPass()->isChecked() == (row % 2 == 0) &&
                         probe.dialog->m_highPass == 1 - row % 2,
                     qPrintable(QString::number(row)));
        }
    }

    void exchangeReadsInOrderAndStopsAtTheFirstBadInteger()
    {
        using namespace controlid;
        // Read order: delay, NLP shift, Rx path, tail, Tx path, NLP diff, high pass, device. With
        // one integer box bad, the members before it take their new values, it and the rest do not.
        for (const auto& [bad, updated] : {std::pair{kDelay, "00000000"},
                                           {kNlpShift, "10000000"},
                                           {kTail, "11100000"},
                                           {kNlpDiff, "11111000"},
                                           {0, "11111111"}}) {
            WindowProbe probe;
            MainDialog& d = *probe.dialog;
            probe.ChooseRow(2);  // delay box editable; presets 80 and 128
            for (const auto& [id, text] : {std::pair{kDelay, "123"},
                                           {kNlpShift, "7"},
                                           {kRxPath, "rx.pcm"},
                                           {kTail, "99"},
                                           {kTxPath, "tx.pcm"},
                                           {kNlpDiff, "9"}}) {
                probe.Type(id, QString::fromLatin1(id == bad ? "12x" : text));
            }
            probe.HighPass()->setChecked(false);
            probe.List()->setCurrentIndex(5);

            QCOMPARE(d.UpdateData(true), bad == 0);
            QString read;
            for (const bool now :
                 {d.m_delay == 123, d.m_nlpShift == 7, d.m_rxPath == "rx.pcm", d.m_tail == 99,
                  d.m_txPath == "tx.pcm", d.m_nlpDiff == 9, d.m_highPass == 0, d.m_deviceType == 5}) {
                read += now ? '1' : '0';
            }
            QCOMPARE(read, QString::fromLatin1(updated));
            QCOMPARE(probe.messages,
                     bad ? QStringList{QStringLiteral("Please enter an integer.")} : QStringList{});
        }
    }

    void browsingOrDroppingFillsOnlyThatPathBox()
    {
        using namespace controlid;
        // Each fills its box and keeps a value typed elsewhere but not yet read into the members; a
        // cancelled file dialog, two files or a web address leave the box as typed.
        const QUrl wav = QUrl::fromLocalFile(QStringLiteral("/site/port 1/rx.wav"));
        const struct {
            int box;
            QList<QUrl> dropped;  // empty: browses to path instead
            QString path, shown;
        } cases[] = {{kRxPath, {}, wav.toLocalFile(), wav.toLocalFile()},
                     {kRxPath, {wav}, "", wav.toLocalFile()},
                     {kTxPath, {QUrl::fromLocalFile("/site/tx.al")}, "", "/site/tx.al"},
                     {kRxPath, {}, "", "typed.pcm"},
                     {kRxPath, {wav, QUrl::fromLocalFile("/b.wav")}, "", "typed.pcm"},
                     {kTxPath, {QUrl(QStringLiteral("https://example.com/rx.wav"))}, "", "typed.pcm"}};
        for (const auto& c : cases) {
            WindowProbe probe;
            const int other = c.box == kRxPath ? kTxPath : kRxPath;
            probe.Type(kTail, QStringLiteral("77"));
            probe.Type(other, QStringLiteral("typed.pcm"));
            probe.Type(c.box, QStringLiteral("typed.pcm"));
            if (!c.dropped.isEmpty()) {
                Drop(probe.Edit(c.box), c.dropped);
            } else {
                probe.nextFile = c.path;
                probe.Click(c.box == kRxPath ? kBrowseRx : kBrowseTx);
                QVERIFY(probe.filters.value(0).startsWith(
                    QStringLiteral("Captures (*.pcm *.raw *.wav *.au *.al *.ul);;All Files")));
            }
            QCOMPARE(probe.Texts({c.box, other, kTail}), (QStringList{c.shown, "typed.pcm", "77"}));
            if (c.shown != "typed.pcm") {  // filling the box read the other into the members
                QCOMPARE(QString::fromStdString(probe.dialog->Request().settings.txPath),
                         c.box == kTxPath ? c.shown : "typed.pcm");
            }
        }
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
