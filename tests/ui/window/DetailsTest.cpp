// The details area after a run on the shipped samples: the three views and what they read
// out, zoom and save, the findings, the reasons behind the verdicts, the output file, and the
// way to the About box.
#include <QChart>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QValueAxis>

#include "SampleRun.h"
#include "ui/AboutDialog.h"
#include "ui/DetailsPanel.h"

namespace {

QValueAxis* XAxis(ChartPanel* view) { return qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).first()); }

// Where a chart value sits in the view's viewport.
QPoint At(ChartPanel* view, QPointF value)
{
    return view->mapFromScene(view->chart()->mapToScene(view->chart()->mapToPosition(value)));
}

bool HasWarningIcon(const QListWidgetItem* item)
{
    const QIcon warning = item->listWidget()->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return item->icon().pixmap(16).toImage() == warning.pixmap(16).toImage();
}

}  // namespace

class DetailsTest : public QObject {
    Q_OBJECT

private slots:
    void viewsFillAfterARunAndSaveThemselves()
    {
        ScratchDir scratch;
        WindowProbe probe;
        DetailsPanel& details = probe.dialog->Details();
        const QSize closed = probe.dialog->size();
        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        QVERIFY(probe.dialog->DetailsShown());
        QVERIFY(details.Views()->isVisible() && details.Findings()->isVisible());
        for (int i = 0; i < details.Views()->count(); ++i) {
            QVERIFY(!details.View(i)->View().measured);   // nothing run yet
        }

        RunOnSamples(probe);
        QVERIFY(details.Findings()->count() > 0);
        QString saved;
        details.SetSaveChooser([&](QWidget*, const QString& suggested, const QString&) {
            return saved = scratch.File(suggested);
        });
        for (int i = 0; i < details.Views()->count(); ++i) {
            ChartPanel* view = details.View(i);
            QVERIFY2(view->View().measured && !view->chart()->series().isEmpty(), qPrintable(QString::number(i)));
            QMenu menu;
            view->AddEntries(menu);
            QStringList files;
            for (QAction* entry : menu.actions()) {
                saved.clear();
                entry->trigger();
                if (!saved.isEmpty()) {
                    files << saved;
                }
            }
            QCOMPARE(files.size(), 3);   // PNG, SVG, CSV
            QVERIFY(!QImage(files[0]).isNull());
            QFile svg(files[1]);
            QVERIFY(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg"));
            QFile csv(files[2]);
            QVERIFY(csv.open(QIODevice::ReadOnly));
            QCOMPARE(csv.readAll().count('\n'), qsizetype(view->View().rows.size() + 1));
        }
        QVERIFY(probe.messages.isEmpty());

        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        QVERIFY(!probe.dialog->DetailsShown());
        QCOMPARE(probe.dialog->size(), closed);
    }

    void viewsReadOutAndZoom()
    {
        // The delay search: pointing at the peak reads its |correlation|; the wheel and a
        // dragged rectangle zoom in, a double click shows the whole view again.
        ScratchDir scratch;
        WindowProbe probe;
        probe.dialog->ShowDetails(true);
        RunOnSamples(probe);
        DetailsPanel& details = probe.dialog->Details();
        details.Views()->setCurrentIndex(1);
        ChartPanel* view = details.View(1);
        QVERIFY(QTest::qWaitForWindowExposed(probe.dialog.get()));
        const ChartSeries& peak = view->View().series.at(1);
        QTest::mouseMove(view->viewport(), At(view, {peak.x[0], peak.y[0]}));
        const QString readout = details.Readout()->text();
        QVERIFY2(readout.contains(QString::number(peak.y[0], 'g', 4)) && readout.contains(QString::number(peak.x[0], 'g', 4)),
                 qPrintable(readout));

        const double whole = XAxis(view)->max() - XAxis(view)->min();
        const QPoint centre = view->viewport()->rect().center();
        const auto wheel = [&] {
            QWheelEvent event(centre, view->viewport()->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(view->viewport(), &event);
        };
        const auto drag = [&] {
            QTest::mousePress(view->viewport(), Qt::LeftButton, {}, centre - QPoint(40, 40));
            QTest::mouseMove(view->viewport(), centre);
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, centre + QPoint(40, 40));
        };
        for (const auto& zoom : {std::function<void()>(wheel), std::function<void()>(drag)}) {
            zoom();
            QVERIFY(XAxis(view)->max() - XAxis(view)->min() < 0.9 * whole);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centre);
            QCOMPARE(XAxis(view)->max() - XAxis(view)->min(), whole);
        }
    }

    void verdictsSayTheirRules()
    {
        // The samples' echo is 107 smp late: inside row 0's window (bulk delay 100, tail 64),
        // outside row 7's (bulk delay 180). The tooltip's window must agree with the verdict.
        const struct {
            int row;
            int nlpDiff;
        } cases[] = {{0, 6}, {7, 9}};
        const QRegularExpression window(QStringLiteral("i\\.e\\. (\\d+)\u2013(\\d+) smp"));
        const QRegularExpression line(QStringLiteral("^(\\d+) smp, (OK|CHECK)$"));
        for (const auto& c : cases) {
            ScratchDir scratch;
            WindowProbe probe;
            probe.ChooseRow(c.row);
            probe.Type(controlid::kNlpDiff, QString::number(c.nlpDiff));
            probe.Type(controlid::kRxPath, SampleFile("rx.pcm"));
            probe.Type(controlid::kTxPath, SampleFile("tx.pcm"));
            probe.Click(controlid::kRun);

            const QRegularExpressionMatch range = window.match(probe.Edit(controlid::kRealDelay)->toolTip());
            const QRegularExpressionMatch verdict = line.match(probe.Text(controlid::kRealDelay));
            QVERIFY2(range.hasMatch() && verdict.hasMatch(), qPrintable(probe.Edit(controlid::kRealDelay)->toolTip()));
            const int delay = verdict.captured(1).toInt();
            const bool inside = range.captured(1).toInt() <= delay && delay <= range.captured(2).toInt();
            QCOMPARE(inside, verdict.captured(2) == QStringLiteral("OK"));

            // A CHECK is explained in the findings, as a warning.
            QListWidget* findings = probe.dialog->Details().Findings();
            bool explained = false;
            for (int i = 0; i < findings->count(); ++i) {
                const QListWidgetItem* item = findings->item(i);
                explained |= item->text().startsWith(QStringLiteral("Real Delay")) && HasWarningIcon(item);
            }
            QCOMPARE(explained, !inside);

            const QString residual = probe.Edit(controlid::kResidual)->toolTip();
            QVERIFY2(residual.contains(QStringLiteral("NLP diff %1 dB").arg(c.nlpDiff)) &&
                         residual.contains(QStringLiteral("first number is the cancellation")),
                     qPrintable(residual));
            for (int id : {controlid::kErl, controlid::kLevels}) {
                QVERIFY(probe.Edit(id)->toolTip().startsWith(QStringLiteral("OK ")));
            }
        }
    }

    void outputFileIsShownAndItsFolderOpens()
    {
        ScratchDir scratch;
        WindowProbe probe;
        DetailsPanel& details = probe.dialog->Details();
        QList<QUrl> opened;
        details.SetUrlOpener([&](const QUrl& url) {
            opened << url;
            return true;
        });
        const QFileInfo out(QStringLiteral("out.pcm"));
        QVERIFY(details.Output()->text().contains(out.absoluteFilePath()));   // where it will go
        QVERIFY(!details.OpenFolder()->isEnabled());

        RunOnSamples(probe);
        const QString seconds = QString::number(static_cast<double>(QFileInfo(out.absoluteFilePath()).size()) / 16000.0, 'f', 2);
        QVERIFY2(details.Output()->text().contains(out.absoluteFilePath()) &&
                     details.Output()->text().contains(seconds + QStringLiteral(" s")),
                 qPrintable(details.Output()->text()));
        probe.dialog->ShowDetails(true);
        QTest::mouseClick(details.OpenFolder(), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(out.absolutePath())});
    }

    void aboutOpensFromF1AndTheContextMenu()
    {
        for (bool fromMenu : {false, true}) {
            WindowProbe probe;
            QString shown;
            // Whatever opens is closed as soon as it shows: the menu by choosing About, the box by OK.
            QTimer closer;
            QObject::connect(&closer, &QTimer::timeout, [&] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    QTest::keyClick(menu, Qt::Key_Down);
                    QTest::keyClick(menu, Qt::Key_Return);
                } else if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                    shown = about->windowTitle();
                    about->accept();
                }
            });
            closer.start(10);
            if (fromMenu) {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), probe.dialog->mapToGlobal(QPoint(5, 5)));
                QApplication::sendEvent(probe.dialog.get(), &event);
            } else {
                QTest::keyClick(probe.dialog.get(), Qt::Key_F1);
            }
            QCOMPARE(shown, QStringLiteral("About Tarnwell"));
        }
    }
};

QTEST_MAIN(DetailsTest)
#include "DetailsTest.moc"
