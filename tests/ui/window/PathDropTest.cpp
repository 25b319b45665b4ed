// Dropping a file on a path box: one local file fills that box (and only it), keeping what
// the user typed elsewhere; anything else is not taken for a path.
#include <QMimeData>
#include <QUrl>

#include "WindowProbe.h"

class PathDropTest : public QObject {
    Q_OBJECT

    // Drags data onto the box and drops it there, as a file manager would; true when the
    // box accepted the drag.
    static bool Drop(QWidget* box, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint centre = box->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &drop);
        return drop.isAccepted();
    }

private slots:
    void aDroppedFileFillsItsBoxOnly()
    {
        WindowProbe probe;
        probe.Type(controlid::kTail, QStringLiteral("77"));  // typed, not yet read into the members
        QVERIFY(Drop(probe.Edit(controlid::kRxPath), {QUrl::fromLocalFile(QStringLiteral("/site/port 1/rx.wav"))}));
        QCOMPARE(probe.Text(controlid::kRxPath), QStringLiteral("/site/port 1/rx.wav"));
        QVERIFY(probe.Text(controlid::kTxPath).isEmpty());
        QCOMPARE(probe.Text(controlid::kTail), QStringLiteral("77"));

        QVERIFY(Drop(probe.Edit(controlid::kTxPath), {QUrl::fromLocalFile(QStringLiteral("/site/tx.al"))}));
        QCOMPARE(probe.Text(controlid::kTxPath), QStringLiteral("/site/tx.al"));
        QCOMPARE(probe.dialog->Request().settings.txPath, std::string("/site/tx.al"));
    }

    void twoFilesOrARemoteOneAreNotAPath()
    {
        WindowProbe probe;
        const QList<QUrl> refused[] = {
            {QUrl::fromLocalFile(QStringLiteral("/a.wav")), QUrl::fromLocalFile(QStringLiteral("/b.wav"))},
            {QUrl(QStringLiteral("https://example.com/rx.wav"))}};
        for (const QList<QUrl>& urls : refused) {
            Drop(probe.Edit(controlid::kRxPath), urls);
            QVERIFY(!probe.Text(controlid::kRxPath).endsWith(QStringLiteral(".wav")));
        }
    }
};

QTEST_MAIN(PathDropTest)
#include "PathDropTest.moc"
