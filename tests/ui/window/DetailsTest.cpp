// The details area after a run on the shipped samples: the views, their readout and export, the
// output file, the reasons behind the verdicts, and the way to the About box (the context menu).
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <QScreen>
#include <QValueAxis>
#include <QXYSeries>
#include <cmath>

#include "WindowProbe.h"
#include "charts/ChartRenderer.h"
#include "ui/AboutDialog.h"
#include "ui/DetailsPanel.h"

namespace {

// The levels view of a capture of the given length: a frame every 10 ms, the canceller's mode
// changing about every second, a third of the frames counted.
ChartView LongLevels(int minutes)
{
    static const TestSettings settings;
    AnalysisRecord analysis;
    const int frames = minutes * 6000;
    analysis.sampleCount = frames * 80;
    for (int k = 0; k < frames; ++k) {
        FrameRecord f;
        f.txLevel = static_cast<float>(-30.0 + 15.0 * std::sin(k * 0.031) + 5.0 * std::sin(k * 0.77));
        f.rxLevel = f.txLevel - 12.0F;
        f.outputLevel = static_cast<float>(-70.0 + 8.0 * std::sin(k * 1.3));
        f.cancellation = f.rxLevel - f.outputLevel;
        f.mode = static_cast<std::int8_t>((k / 97) % 4 - 1);
        f.counted = k % 3 == 0;
        analysis.frames.push_back(f);
    }
    return LevelsView({settings, 64, analysis});
}

}  // namespace

class DetailsTest : public QObject {
    Q_OBJECT

private slots:
    // The network delay box judges the shown run's echo at once, and the next run takes it.
    void networkDelayJudgesTheEchoLeft()
    {
        ScratchDir scratch;
        WindowProbe probe;
        DetailsPanel& details = probe.dialog->Details();
        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        const auto findings = [&](const char* start) {
            return details.Findings()->findItems(QString::fromLatin1(start), Qt::MatchStartsWith).size();
        };
        QCOMPARE(details.NetworkDelayBox()->text(), QStringLiteral("not given"));
        RunOnSamples(probe);
        QCOMPARE(findings("Talker echo (an estimate"), 1);
        details.NetworkDelayBox()->setValue(300);
        QCOMPARE(findings("The far talker will likely hear the echo at a one-way network delay of 300 ms"),
                 1);
        QCOMPARE(findings("Talker echo"), 0);
        details.NetworkDelayBox()->setValue(20);
        QCOMPARE(findings("The echo is acceptable at a one-way network delay of 20 ms"), 1);
        details.NetworkDelayBox()->setValue(300);
        RunOnSamples(probe);  // the run's own request carries the delay
        QCOMPARE(findings("The far talker will likely hear"), 1);
        details.NetworkDelayBox()->setValue(-1);
        QCOMPARE(details.NetworkDelay(), std::nullopt);
        QCOMPARE(findings("Talker echo (an estimate"), 1);
    }

    void viewsAndOutputFillAfterARunAndExport()
    {
        ScratchDir scratch;
        WindowProbe probe;
        DetailsPanel& details = probe.dialog->Details();
        const QSize closed = probe.dialog->size();
        QList<QUrl> opened;
        details.SetUrlOpener([&](const QUrl& url) { return opened << url, true; });
        QString saved;
        details.SetSaveChooser([&](QWidget*, const QString& suggested, const QString&) {
            return saved = scratch.File(suggested);
        });
        const QFileInfo out(QStringLiteral("out.pcm"));
        QVERIFY(details.Output()->text().contains(out.absoluteFilePath()) &&
                !details.OpenFolder()->isEnabled());
        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        QVERIFY(details.Views()->isVisible() && details.Findings()->isVisible());
        QVERIFY(!details.View(0)->View().measured);  // nothing run yet

        RunOnSamples(probe);
        const QString seconds = QString::number(double(QFileInfo(out.absoluteFilePath()).size()) / 16000.0,
                                                'f', 2);
        QVERIFY2(details.Output()->text().contains(out.absoluteFilePath()) &&
                     details.Output()->text().contains(seconds + " s"),
                 qPrintable(details.Output()->text()));
        QTest::mouseClick(details.OpenFolder(), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(out.absolutePath())});

        for (int i = 0; i < details.Views()->count(); ++i) {
            ChartPanel* view = details.View(i);
            QVERIFY2(view->View().measured && !view->chart()->series().isEmpty(),
                     qPrintable(QString::number(i)));
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
            QCOMPARE(files.size(), 3);  // PNG, SVG, CSV
            QFile svg(files[1]), csv(files[2]);
            QVERIFY(!QImage(files[0]).isNull() && svg.open(QIODevice::ReadOnly) &&
                    svg.readAll().contains("<svg"));
            QVERIFY(csv.open(QIODevice::ReadOnly));
            QCOMPARE(csv.readAll().count('\n'), qsizetype(view->View().rows.size() + 1));
        }
        QVERIFY(probe.messages.isEmpty());

        // Pointing at the delay search's peak reads out its lag and |correlation|.
        details.Views()->setCurrentIndex(1);
        ChartPanel* view = details.View(1);
        QVERIFY(QTest::qWaitForWindowExposed(probe.dialog.get()));
        const ChartSeries& peak = view->View().series.at(1);
        const QPointF at = view->chart()->mapToScene(view->chart()->mapToPosition({peak.x[0], peak.y[0]}));
        QTest::mouseMove(view->viewport(), view->mapFromScene(at));
        const QString readout = details.Readout()->text();
        QVERIFY2(readout.contains(QString::number(peak.y[0], 'g', 4)) &&
                     readout.contains(QString::number(peak.x[0], 'g', 4) + " (" +
                                      QString::number(peak.x[0] / 8, 'g', 4) + " ms)"),
                 qPrintable(readout));
        // |correlation| on its whole scale, ticks on round values.
        const auto* y = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Vertical).at(0));
        QVERIFY(y->min() == 0.0 && y->max() == 1.0 && y->tickType() == QValueAxis::TicksDynamic);
        QCOMPARE(y->tickInterval(), 0.2);

        // Changed inputs grey the views with the report; a run brings them back.
        details.SetStale(true);
        QVERIFY(details.View(0)->IsStale() && details.View(2)->IsStale());
        details.SetStale(false);
        QVERIFY(!details.View(0)->IsStale());

        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        QCOMPARE(probe.dialog->size(), closed);
    }

    void longCapturesDrawThinAndTheLegendFits()
    {
        ChartView levels = LongLevels(60);
        ChartPanel panel;
        panel.resize(1200, 600);
        panel.show();
        panel.SetView(levels);
        qsizetype drawn = 0;
        QColor tx;
        for (QAbstractSeries* series : panel.chart()->series()) {
            if (auto* xy = qobject_cast<QXYSeries*>(series)) {
                drawn += xy->count();
                tx = xy->name() == "Tx" ? xy->color() : tx;
            }
        }
        const qsizetype columns = panel.screen()->size().expandedTo(kPictureSize).width();
        QVERIFY2(drawn < 4 * 4 * columns + 500 + 1000,
                 qPrintable(QString::number(drawn)));  // four curves, the marks, the fills
        QCOMPARE(panel.chart()->legend()->alignment(), Qt::AlignBottom);
        panel.resize(300, 600);
        QCOMPARE(panel.chart()->legend()->alignment(), Qt::AlignRight);  // a row would be cut off

        // Tx keeps its colour whatever else the view holds.
        levels.spans.clear();
        levels.series.erase(levels.series.begin() + 1);
        panel.SetView(levels);
        for (QAbstractSeries* series : panel.chart()->series()) {
            if (series->name() == "Tx") {
                QCOMPARE(qobject_cast<QXYSeries*>(series)->color(), tx);
            }
        }

        ScratchDir scratch;
        QString error;
        QVERIFY(SaveSvg(LongLevels(60), scratch.File("levels.svg"), kPictureSize, error));
        QVERIFY2(QFileInfo(scratch.File("levels.svg")).size() < 1'000'000,
                 qPrintable(QString::number(QFileInfo(scratch.File("levels.svg")).size())));

        // A signal stops the pictures between one and the next.
        std::string reason;
        QVERIFY(QDir().mkpath(scratch.File("stopped")));
        QVERIFY(!SavePictures({LongLevels(1)}, scratch.File("stopped").toStdString(), reason, [] {
            static int allowed = 1;
            return allowed-- > 0;
        }));
        QCOMPARE(reason, std::string("interrupted"));
        QVERIFY(QFileInfo::exists(scratch.File("stopped/levels.svg")) &&
                !QFileInfo::exists(scratch.File("stopped/levels.png")));
    }

    void verdictsSayTheirRules()
    {
        // The samples' echo is 107 smp late: inside row 0's window (bulk delay 100, tail 64),
        // outside row 7's (bulk delay 180). The tooltip's window must agree with the verdict.
        const QRegularExpression window(QStringLiteral("i\\.e\\. (\\d+)\u2013(\\d+) smp"));
        const QRegularExpression line(QStringLiteral("^(\\d+) smp, (OK|CHECK)$"));
        for (const auto& [row, nlpDiff] : {std::pair{0, 6}, {7, 9}}) {
            ScratchDir scratch;
            WindowProbe probe;
            probe.ChooseRow(row);
            probe.Type(controlid::kNlpDiff, QString::number(nlpDiff));
            RunOnSamples(probe, row);

            const QString tip = probe.Edit(controlid::kRealDelay)->toolTip();
            const QRegularExpressionMatch range = window.match(tip);
            const QRegularExpressionMatch verdict = line.match(probe.Text(controlid::kRealDelay));
            QVERIFY2(range.hasMatch() && verdict.hasMatch(), qPrintable(tip));
            const int delay = verdict.captured(1).toInt();
            const bool inside = range.captured(1).toInt() <= delay && delay <= range.captured(2).toInt();
            QCOMPARE(inside, row == 0);
            QCOMPARE(inside, verdict.captured(2) == QStringLiteral("OK"));
            // A CHECK is explained in the findings, as a warning.
            const QIcon warning = probe.dialog->style()->standardIcon(QStyle::SP_MessageBoxWarning);
            bool explained = false;
            for (const QListWidgetItem* item : probe.dialog->Details().Findings()->findItems(
                     QStringLiteral("Real Delay"), Qt::MatchStartsWith)) {
                explained |= item->icon().pixmap(16).toImage() == warning.pixmap(16).toImage();
            }
            QCOMPARE(explained, !inside);

            const QString residual = probe.Edit(controlid::kResidual)->toolTip();
            QVERIFY2(residual.contains(QStringLiteral("NLP diff %1 dB").arg(nlpDiff)) &&
                         residual.contains(QStringLiteral("first number is the cancellation")),
                     qPrintable(residual));
            for (int id : {controlid::kErl, controlid::kLevels}) {
                QVERIFY(probe.Edit(id)->toolTip().startsWith(QStringLiteral("OK ")));
            }
        }
    }

    void aboutOpensFromTheContextMenu()
    {
        WindowProbe probe;
        QString shown;
        QStringList labels;
        // Whatever opens is closed as soon as it shows: the menu by choosing About, the box by OK.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QTest::keyClick(menu, Qt::Key_Down);
                QTest::keyClick(menu, Qt::Key_Return);
            } else if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                shown = about->windowTitle();
                for (const QLabel* label : about->findChildren<QLabel*>()) {
                    labels << label->text();
                }
                about->accept();
            }
        });
        closer.start(10);
        // F1 is the help's; About is the menu's first entry.
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                probe.dialog->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(probe.dialog.get(), &event);
        QCOMPARE(shown, QStringLiteral("About Tarnwell"));
        // The version the build was configured with, not one written into the template.
        QVERIFY2(labels.contains(QStringLiteral("Tarnwell Version " TARNWELL_PROJECT_VERSION)),
                 qPrintable(labels.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(DetailsTest)
#include "DetailsTest.moc"
