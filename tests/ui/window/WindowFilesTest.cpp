// The window's lines and files beyond the report itself: the settings advice under the
// report, the F1 help and the README's copy of it, captures named at start, the saved report
// page against the command line's, and the test signal against the signal verb's.
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTextBrowser>
#include <QTimer>

#include "WindowProbe.h"
#include "support/PcapWriter.h"
#include "ui/DetailsPanel.h"
#include "ui/HelpDialog.h"
#include "ui/SettingsLine.h"
#include "ui/StartArguments.h"

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs tarnwell-cli in dir with the arguments; its exit status.
int RunCli(const QString& dir, const QStringList& arguments)
{
    QProcess cli;
    cli.setWorkingDirectory(dir);
    cli.start(QStringLiteral(TARNWELL_CLI), arguments);
    return cli.waitForFinished(60000) ? cli.exitCode() : -1;
}

// A page with the program that wrote it and the minute it was written taken out.
QByteArray WithoutWriterAndDate(QByteArray page)
{
    for (const char* program : {"tarnwell-cli ", "tarnwell "}) {
        page.replace(QByteArray("content=\"") + program, "content=\"");
        page.replace(QByteArray("Written by ") + program, "Written by ");
    }
    const qsizetype on = page.indexOf(" on 20");
    return on < 0 ? page : page.left(on) + page.mid(page.indexOf(".</p>", on));
}

// A pcap of calls, each a pair of PCMA streams (Tx ssrc, Rx ssrc) with its own far end, 50
// packets of 20 ms each way.
QString WritePcap(const QString& path, const QList<std::pair<std::uint32_t, std::uint32_t>>& calls)
{
    QByteArray file;
    std::uint8_t farEnd = 1;
    for (const auto& [tx, rx] : calls) {
        testpcap::CallWriter writer;
        writer.farEnd = farEnd;
        farEnd = static_cast<std::uint8_t>(farEnd + 2);
        std::vector<testpcap::RtpPacket> packets;
        for (std::uint16_t i = 0; i < 50; ++i) {
            for (bool towards : {true, false}) {
                packets.push_back({towards, i, i * 160u, towards ? tx : rx, 8, false, i * 20000,
                                   std::vector<std::uint8_t>(160, 0xD5)});
            }
        }
        const std::vector<std::uint8_t> bytes = writer.File(packets);
        // One file header; the next call's packets follow the first's.
        const int skip = file.isEmpty() ? 0 : 24;
        file.append(reinterpret_cast<const char*>(bytes.data()) + skip,
                    static_cast<qsizetype>(bytes.size()) - skip);
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size() ? path : QString();
}

Finding Make(const char* code, Severity severity, const char* text) { return {code, severity, text}; }

}  // namespace

class WindowFilesTest : public QObject {
    Q_OBJECT

private slots:
    void settingsLineShowsTheSettingsFindingWithItsWarnings_data()
    {
        QTest::addColumn<QList<int>>("findings");  // indexes into kFindings below
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("warns");
        QTest::newRow("no findings") << QList<int>{} << QString() << false;
        QTest::newRow("settings alone") << QList<int>{0} << QString::fromUtf8(kAdvice) << false;
        QTest::newRow("behind it an info") << QList<int>{1, 0} << QString::fromUtf8(kAdvice) << false;
        QTest::newRow("behind it a warning") << QList<int>{2, 0} << QString::fromUtf8(kAdvice) << true;
        QTest::newRow("a warning, no settings") << QList<int>{2, 1} << QString() << false;
    }
    void settingsLineShowsTheSettingsFindingWithItsWarnings()
    {
        QFETCH(QList<int>, findings);
        QFETCH(QString, shown);
        QFETCH(bool, warns);
        const Finding all[] = {Make("settings", Severity::Info, kAdvice),
                               Make("delay-window", Severity::Info, "The delay lies in the window."),
                               Make("tail-edge", Severity::Warning, "The echo path reaches the tail's end.")};
        std::vector<Finding> list;
        for (int i : findings) {
            list.push_back(all[i]);
        }
        WindowProbe probe;
        SettingsLine* line = probe.dialog->Settings();
        // A line from an earlier run goes when the next run has none.
        line->Show({all[0], all[2]});
        line->Show(list);
        QCOMPARE(line->Text(), shown);
        QCOMPARE(line->Warns(), warns);
        QCOMPARE(line->toolTip().contains(QStringLiteral("reaches the tail's end")), warns);
        // Shown under the report without Details; a click opens them when there is advice.
        QVERIFY(!probe.dialog->DetailsShown());
        QVERIFY(probe.dialog->rect().contains(line->geometry()));
        QTest::mouseClick(line, Qt::LeftButton);
        QCOMPARE(probe.dialog->DetailsShown(), !shown.isEmpty());
    }

    void f1OpensTheHelpAndTheReadmeHoldsTheSameText()
    {
        WindowProbe probe;
        QString title;
        QString text;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            // Whatever opens is closed as soon as it shows, so that a wrong box fails the test.
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                title = modal->windowTitle();
                if (auto* help = qobject_cast<HelpDialog*>(modal)) {
                    text = help->Browser()->toPlainText();
                }
                modal->reject();
            }
        });
        closer.start(10);
        QTest::keyClick(probe.dialog.get(), Qt::Key_F1);
        QCOMPARE(title, QStringLiteral("How to capture a port"));
        QVERIFY(text.contains(QLatin1String("At least 20 s")));
        // One text: the README's section is the help's source, word for word.
        const QString readme = QString::fromUtf8(
            ReadAll(QStringLiteral(TARNWELL_SAMPLES_DIR "/../README.md")));
        const QString help = CaptureHelpText();
        QVERIFY(help.startsWith(QStringLiteral("## How to capture a port\n")));
        QVERIFY2(readme.contains(QStringLiteral("-->\n") + help +
                                 QStringLiteral("<!-- End of docs/capture.md -->")),
                 "README.md's \"How to capture a port\" differs from docs/capture.md: copy it over");
    }

    void startArgumentsFillTheBoxes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("tx");
        QTest::addColumn<QString>("rx");
        QTest::addColumn<bool>("refused");
        const QString here = QDir::currentPath() + QLatin1Char('/');
        QTest::newRow("none") << QStringList{} << QString() << QString() << false;
        QTest::newRow("tx then rx") << QStringList{"t.pcm", "/r.pcm"} << here + "t.pcm"
                                    << "/r.pcm" << false;
        QTest::newRow("one file in both")
            << QStringList{"call.pcap"} << here + "call.pcap" << here + "call.pcap" << false;
        QTest::newRow("a name after --")
            << QStringList{"--", "-t.pcm", "r"} << here + "-t.pcm" << here + "r" << false;
        QTest::newRow("three files") << QStringList{"a", "b", "c"} << QString() << QString() << true;
        QTest::newRow("an option") << QStringList{"--tail", "64"} << QString() << QString() << true;
        QTest::newRow("a short option") << QStringList{"a", "-x"} << QString() << QString() << true;
        QTest::newRow("an empty name") << QStringList{"a", ""} << QString() << QString() << true;
    }
    void startArgumentsFillTheBoxes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, tx);
        QFETCH(QString, rx);
        QFETCH(bool, refused);
        QString error;
        const std::optional<StartCaptures> captures = ParseStartArguments(arguments, error);
        QCOMPARE(!error.isEmpty(), refused);
        QCOMPARE(captures.has_value(), !tx.isEmpty());
        if (captures) {
            WindowProbe probe;
            probe.dialog->SetCapturePaths(captures->tx, captures->rx);
            QCOMPARE(probe.Text(controlid::kTxPath), tx);
            QCOMPARE(probe.Text(controlid::kRxPath), rx);
        }
    }

    void saveReportWritesTheCommandLinesPage()
    {
        ScratchDir scratch;
        WindowProbe probe;
        QVERIFY(!probe.dialog->SaveReportTo(scratch.File("early.html")));
        QCOMPARE(probe.messages.value(0),
                 QStringLiteral("There is no report to save yet: run a test first."));
        QVERIFY(!probe.dialog->Details().SaveReport()->isEnabled());

        RunOnSamples(probe);
        QVERIFY(probe.dialog->Details().SaveReport()->isEnabled());
        const QString path = scratch.File("window.html");
        QVERIFY(probe.dialog->SaveReportTo(path));
        const QByteArray page = ReadAll(path);
        QVERIFY(page.contains("Written by tarnwell "));
        QCOMPARE(RunCli(scratch.dir.path(), {"--tx", SampleFile("tx.pcm"), "--rx", SampleFile("rx.pcm"),
                                             "--out", "./out.pcm", "--html", "cli.html"}),
                 0);
        QCOMPARE(WithoutWriterAndDate(page), WithoutWriterAndDate(ReadAll(scratch.File("cli.html"))));

        // A file that cannot be written says so, and leaves nothing behind.
        const QString nowhere = scratch.File("no-such-folder/window.html");
        QVERIFY(!probe.dialog->SaveReportTo(nowhere));
        QCOMPARE(probe.messages.last(), QStringLiteral("The report was not saved"));
        QVERIFY(!QFile::exists(nowhere));
        QVERIFY(!probe.dialog->SaveTestSignalTo(scratch.dir.path()));  // a folder
        QCOMPARE(probe.messages.last(), QStringLiteral("The test signal was not saved"));
    }

    void saveTestSignalWritesWhatTheSignalVerbWrites_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"signal.wav", "signal.pcm", "signal.al", "signal.ul"}) {
            QTest::newRow(name) << QString::fromLatin1(name);
        }
    }
    void saveTestSignalWritesWhatTheSignalVerbWrites()
    {
        QFETCH(QString, name);
        ScratchDir scratch;
        WindowProbe probe;
        QVERIFY(probe.dialog->SaveTestSignalTo(scratch.File("window-" + name)));
        QCOMPARE(RunCli(scratch.dir.path(), {"signal", "cli-" + name}), 0);
        const QByteArray window = ReadAll(scratch.File("window-" + name));
        QVERIFY(window.size() > 8000 * 20);
        QCOMPARE(window, ReadAll(scratch.File("cli-" + name)));
        QVERIFY(probe.messages.isEmpty());
    }

    void aPcapGoesIntoBothBoxesAndItsTxStreamIsPicked_data()
    {
        QTest::addColumn<int>("calls");
        QTest::addColumn<int>("pick");  // the line the user picks; -1: cancels
        QTest::addColumn<int>("offered");
        QTest::addColumn<qint64>("txSsrc");  // -1: none, the run finds the direction
        QTest::newRow("one call: nothing to pick") << 1 << 0 << 0 << qint64{-1};
        QTest::newRow("two calls, the second's Tx") << 2 << 2 << 4 << qint64{0x21};
        QTest::newRow("two calls, the first's Rx") << 2 << 1 << 4 << qint64{0x12};
        QTest::newRow("two calls, cancelled") << 2 << -1 << 4 << qint64{-1};
    }
    void aPcapGoesIntoBothBoxesAndItsTxStreamIsPicked()
    {
        QFETCH(int, calls);
        QFETCH(int, pick);
        QFETCH(int, offered);
        QFETCH(qint64, txSsrc);
        ScratchDir scratch;
        const QString pcap = WritePcap(
            scratch.File("call.pcap"),
            QList<std::pair<std::uint32_t, std::uint32_t>>{{0x11, 0x12}, {0x21, 0x22}}.mid(0, calls));
        QVERIFY(!pcap.isEmpty());
        WindowProbe probe;
        QStringList lines;
        probe.dialog->SetStreamChooser([&](QWidget*, const QStringList& streams) {
            lines = streams;
            return pick;
        });
        probe.nextFile = pcap;
        probe.Click(controlid::kBrowseRx);
        QCOMPARE(probe.Text(controlid::kRxPath), pcap);
        QCOMPARE(probe.Text(controlid::kTxPath), pcap);
        QCOMPARE(lines.size(), offered);
        QVERIFY(probe.messages.isEmpty());
        const std::optional<std::uint32_t> chosen = probe.dialog->Request().settings.txSsrc;
        QCOMPARE(chosen ? qint64{*chosen} : qint64{-1}, txSsrc);
        // The pick belongs to that file in both boxes: another Tx file drops it.
        probe.nextFile = SampleFile("tx.pcm");
        probe.Click(controlid::kBrowseTx);
        QVERIFY(!probe.dialog->Request().settings.txSsrc.has_value());
        QCOMPARE(probe.Text(controlid::kRxPath), pcap);
    }

    void aPcapThatCannotBeTestedSaysWhy()
    {
        ScratchDir scratch;
        QFile truncated(scratch.File("cut.pcap"));
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write(QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000") + "\x10\x00");
        truncated.close();
        WindowProbe probe;
        probe.nextFile = truncated.fileName();
        probe.Click(controlid::kBrowseTx);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("This pcap file cannot be tested as it is")});
        QCOMPARE(probe.Text(controlid::kRxPath), truncated.fileName());
    }

private:
    static constexpr const char* kAdvice =
        "Set bulk delay 1190 and tail 64: they cover 99 % of the echo path (1203\u20131241)";
};

QTEST_MAIN(WindowFilesTest)
#include "WindowFilesTest.moc"
