// The details area after a run on the shipped samples: the views, their readout and export, the
// output file, and the reasons behind the verdicts.
#include <QXYSeries>
#include <cmath>

#include "WindowProbe.h"
#include "charts/ChartRenderer.h"
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
        const auto tx = static_cast<float>(-30.0 + 15.0 * std::sin(k * 0.031) + 5.0 * std::sin(k * 0.77));
        const auto out = static_cast<float>(-70.0 + 8.0 * std::sin(k * 1.3));
        analysis.frames.push_back({.txLevel = tx,
                                   .rxLevel = tx - 12.0F,
                                   .outputLevel = out,
                                   .cancellation = tx - 12.0F - out,
                                   .mode = static_cast<std::int8_t>((k / 97) % 4 - 1),
                                   .counted = k % 3 == 0});
    }
    return LevelsView({settings, 64, analysis});
}

}  // namespace

class DetailsTest : public QObject {
    Q_OBJECT

private slots:
    // One run on the samples: the output's line, every view with its export, the readout, and a
    // network delay box that judges the shown run's echo at once and goes with the next run.
    void aRunFillsTheViewsOutputAndTheEchoThatIsLeft()
    {
        ScratchDir scratch;
        WindowProbe probe;
        DetailsPanel& details = probe.dialog->Details();
        QList<QUrl> opened;
        details.SetUrlOpener([&](const QUrl& url) { return opened << url, true; });
        QString saved;
        details.SetSaveChooser([&](QWidget*, const QString& suggested, const QString&) {
            return saved = scratch.File(suggested);
        });
        const auto findings = [&](const char* start) {
            return details.Findings()->findItems(QString::fromLatin1(start), Qt::MatchStartsWith).size();
        };
        const QFileInfo out(QStringLiteral("out.pcm"));
        QVERIFY(details.Output()->text().contains(out.absoluteFilePath()) &&
                !details.OpenFolder()->isEnabled());
        QCOMPARE(details.NetworkDelayBox()->text(), QStringLiteral("not given"));
        QTest::mouseClick(probe.dialog->DetailsButton(), Qt::LeftButton);
        QVERIFY(details.Views()->isVisible() && !details.View(0)->View().measured);  // nothing run yet

        RunOnSamples(probe);
        QVERIFY2(details.Output()->text().contains(
                     out.absoluteFilePath() + ", " +
                     QString::number(double(QFileInfo(out.absoluteFilePath()).size()) / 16000.0, 'f', 2) +
                     " s"),
                 qPrintable(details.Output()->text()));
        QTest::mouseClick(details.OpenFolder(), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(out.absolutePath())});
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
        QVERIFY(details.NetworkDelay() == std::nullopt && findings("Talker echo (an estimate") == 1);

        for (int i = 0; i < details.Views()->count(); ++i) {
            ChartPanel* view = details.View(i);
            QVERIFY2(view->View().measured && !view->chart()->series().isEmpty(),
                     qPrintable(QString::number(i)));
            QMenu menu;
            view->AddEntries(menu);
            QStringList files;  // PNG, SVG, CSV
            for (QAction* entry : menu.actions()) {
                saved.clear(), entry->trigger();
                files << saved;
            }
            files.removeAll(QString());
            QFile svg(files.value(1)), csv(files.value(2));
            QVERIFY(files.size() == 3 && !QImage(files[0]).isNull() && svg.open(QIODevice::ReadOnly) &&
                    svg.readAll().contains("<svg") && csv.open(QIODevice::ReadOnly));
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
    }

    void longCapturesDrawThinAndStopBetweenPictures()
    {
        ChartView levels = LongLevels(60);
        ChartPanel panel;
        panel.resize(1200, 600);
        panel.show();
        panel.SetView(levels);
        qsizetype drawn = 0;
        for (QAbstractSeries* series : panel.chart()->series()) {
            if (auto* xy = qobject_cast<QXYSeries*>(series)) drawn += xy->count();
        }
        const qsizetype columns = panel.screen()->size().expandedTo(kPictureSize).width();
        QVERIFY2(drawn < 4 * 4 * columns + 500 + 1000,
                 qPrintable(QString::number(drawn)));  // four curves, the marks, the fills

        ScratchDir scratch;
        QString error;
        QVERIFY(SaveSvg(LongLevels(60), scratch.File("long.svg"), kPictureSize, error));
        QVERIFY2(QFileInfo(scratch.File("long.svg")).size() < 1'000'000,
                 qPrintable(QString::number(QFileInfo(scratch.File("long.svg")).size())));

        // A signal stops the pictures between one and the next.
        std::string reason;
        QVERIFY(!SavePictures({LongLevels(1)}, scratch.dir.path().toStdString(), reason, [] {
            static int allowed = 1;
            return allowed-- > 0;
        }));
        QCOMPARE(reason, std::string("interrupted"));
        QVERIFY(QFileInfo::exists(scratch.File("levels.svg")) &&
                !QFileInfo::exists(scratch.File("levels.png")));
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
            const QImage warning =
                probe.dialog->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16).toImage();
            const QList<QListWidgetItem*> items = probe.dialog->Details().Findings()->findItems(
                QStringLiteral("Real Delay"), Qt::MatchStartsWith);
            QCOMPARE(std::any_of(items.begin(), items.end(),
                                 [&](auto* item) { return item->icon().pixmap(16).toImage() == warning; }),
                     !inside);
            const QString residual = probe.Edit(controlid::kResidual)->toolTip();
            QVERIFY2(residual.contains(QStringLiteral("NLP diff %1 dB").arg(nlpDiff)) &&
                         residual.contains(QStringLiteral("first number is the cancellation")),
                     qPrintable(residual));
            QVERIFY(probe.Edit(controlid::kErl)->toolTip().startsWith(QStringLiteral("OK ")) &&
                    probe.Edit(controlid::kLevels)->toolTip().startsWith(QStringLiteral("OK ")));
        }
    }
};

QTEST_MAIN(DetailsTest)
#include "DetailsTest.moc"
