// The window's lines and files beyond the report itself: the settings advice under the
// report, the F1 help and the README's copy of it, the About box, captures named at start, the saved report
// page against the command line's, and the test signal against the signal verb's.
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

// A pcap of calls, the n-th a pair of PCMA streams (Tx ssrc 0xn1, Rx ssrc 0xn2) with its own far
// end, 50 packets of 20 ms each way; or, with calls 0, a truncated one.
QString WritePcap(const QString& path, int calls)
{
    QByteArray file = calls > 0 ? QByteArray()
                                : QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000") +
                                      "\x10\x00";
    for (std::uint32_t call = 1; call <= std::uint32_t(calls); ++call) {
        testpcap::CallWriter writer;
        writer.farEnd = static_cast<std::uint8_t>(2 * call - 1);
        std::vector<testpcap::RtpPacket> packets;
        for (std::uint16_t i = 0; i < 50; ++i) {
            for (bool towards : {true, false}) {
                packets.push_back({towards, i, i * 160u, 16 * call + (towards ? 1 : 2), 8, false, i * 20000,
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

}  // namespace

class WindowFilesTest : public QObject {
    Q_OBJECT

private slots:
    void settingsLineShowsTheSettingsFindingWithItsWarnings()
    {
        const Finding settings{"settings", Severity::Info, kAdvice};
        const Finding info{"delay-window", Severity::Info, "The delay lies in the window."};
        const Finding warning{"tail-edge", Severity::Warning, "The echo path reaches the tail's end."};
        const struct {
            const char* name;
            std::vector<Finding> findings;
            bool shown, warns;
        } cases[] = {{"no findings", {}, false, false},
                     {"settings alone", {settings}, true, false},
                     {"behind it an info", {info, settings}, true, false},
                     {"behind it a warning", {warning, settings}, true, true},
                     {"a warning, no settings", {warning, info}, false, false}};
        for (const auto& c : cases) {
            WindowProbe probe;
            SettingsLine* line = probe.dialog->Settings();
            // A line from an earlier run goes when the next run has none.
            line->Show({settings, warning});
            line->Show(c.findings);
            QVERIFY2(line->Text() == (c.shown ? QString::fromUtf8(kAdvice) : QString()) &&
                         line->Warns() == c.warns &&
                         line->toolTip().contains(QStringLiteral("reaches the tail's end")) == c.warns,
                     c.name);
            // Shown under the report without Details; a click opens them when there is advice.
            QVERIFY(!probe.dialog->DetailsShown() && probe.dialog->rect().contains(line->geometry()));
            QTest::mouseClick(line, Qt::LeftButton);
            QVERIFY2(probe.dialog->DetailsShown() == c.shown, c.name);
        }
    }

    // F1 is the help's; About is the context menu's first entry.
    void f1OpensTheHelpTheMenuAboutAndTheReadmeHoldsTheHelpsText()
    {
        WindowProbe probe;
        QStringList seen;  // each dialog's title, then its texts
        ModalCloser closer([&](QDialog* modal) {
            seen << modal->windowTitle();
            for (const QLabel* label : modal->findChildren<QLabel*>())
                seen << label->text();
            if (auto* help = qobject_cast<HelpDialog*>(modal)) seen << help->Browser()->toPlainText();
        });
        QTest::keyClick(probe.dialog.get(), Qt::Key_F1);
        QVERIFY(seen.value(0) == QStringLiteral("How to capture a port") &&
                seen.last().contains("At least 20 s"));
        seen.clear();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                probe.dialog->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(probe.dialog.get(), &event);
        // The version the build was configured with, not one written into the template.
        QVERIFY2(seen.value(0) == QStringLiteral("About Tarnwell") &&
                     seen.contains(QStringLiteral("Tarnwell Version " TARNWELL_PROJECT_VERSION)),
                 qPrintable(seen.join(QLatin1Char('|'))));
        // One text: the README's section is the help's source, word for word.
        const QString readme = QString::fromUtf8(
            ReadAll(QStringLiteral(TARNWELL_SAMPLES_DIR "/../README.md")));
        const QString help = CaptureHelpText();
        QVERIFY(help.startsWith(QStringLiteral("## How to capture a port\n")));
        QVERIFY2(readme.contains(QStringLiteral("-->\n") + help +
                                 QStringLiteral("<!-- End of docs/capture.md -->")),
                 "README.md's \"How to capture a port\" differs from docs/capture.md: copy it over");
    }

    void startArgumentsFillTheBoxes()
    {
        const QString here = QDir::currentPath() + QLatin1Char('/');
        const struct {
            QStringList arguments;
            QString tx, rx;  // empty: no captures
            bool refused;
        } cases[] = {{{}, "", "", false},
                     {{"t.pcm", "/r.pcm"}, here + "t.pcm", "/r.pcm", false},
                     {{"call.pcap"}, here + "call.pcap", here + "call.pcap", false},
                     {{"--", "-t.pcm", "r"}, here + "-t.pcm", here + "r", false},
                     {{"a", "b", "c"}, "", "", true},
                     {{"a", "-x"}, "", "", true},
                     {{"a", ""}, "", "", true}};
        for (const auto& c : cases) {
            QString error;
            const std::optional<StartCaptures> captures = ParseStartArguments(c.arguments, error);
            QVERIFY2(!error.isEmpty() == c.refused && captures.has_value() == !c.tx.isEmpty(),
                     qPrintable(c.arguments.join(' ')));
            if (captures) {
                WindowProbe probe;
                probe.dialog->SetCapturePaths(captures->tx, captures->rx);
                QCOMPARE(probe.Texts({controlid::kTxPath, controlid::kRxPath}), (QStringList{c.tx, c.rx}));
            }
        }
    }

    void saveReportAndTestSignalWriteWhatTheCommandLineWrites()
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

        // The test signal is what the signal verb writes, in every format.
        for (const QString name : {"signal.wav", "signal.pcm", "signal.al", "signal.ul"}) {
            QVERIFY(probe.dialog->SaveTestSignalTo(scratch.File("window-" + name)));
            QCOMPARE(RunCli(scratch.dir.path(), {"signal", "cli-" + name}), 0);
            const QByteArray window = ReadAll(scratch.File("window-" + name));
            QVERIFY2(window.size() > 8000 * 20 && window == ReadAll(scratch.File("cli-" + name)),
                     qPrintable(name));
        }
        QCOMPARE(probe.messages.size(), 3);
    }

    void aPcapGoesIntoBothBoxesAndItsTxStreamIsPickedOrItSaysWhyNot()
    {
        const struct {
            int calls, pick, offered;  // pick: the line the user picks; -1: cancels
            qint64 txSsrc;             // -1: none, the run finds the direction
        } cases[] = {{1, 0, 0, -1}, {2, 2, 4, 0x21}, {2, 1, 4, 0x12}, {2, -1, 4, -1}};
        for (const auto& c : cases) {
            ScratchDir scratch;
            const QString pcap = WritePcap(scratch.File("call.pcap"), c.calls);
            QVERIFY(!pcap.isEmpty());
            WindowProbe probe;
            QStringList lines;
            probe.dialog->SetStreamChooser(
                [&](QWidget*, const QStringList& streams) { return lines = streams, c.pick; });
            probe.nextFile = pcap;
            probe.Click(controlid::kBrowseRx);
            QCOMPARE(probe.Texts({controlid::kRxPath, controlid::kTxPath}), (QStringList{pcap, pcap}));
            QCOMPARE(lines.size(), c.offered);
            QVERIFY(probe.messages.isEmpty());
            const std::optional<std::uint32_t> chosen = probe.dialog->Request().settings.txSsrc;
            QCOMPARE(chosen ? qint64{*chosen} : qint64{-1}, c.txSsrc);
            // The pick belongs to that file in both boxes: another Tx file drops it.
            probe.nextFile = SampleFile("tx.pcm");
            probe.Click(controlid::kBrowseTx);
            QVERIFY(!probe.dialog->Request().settings.txSsrc.has_value());
            QCOMPARE(probe.Text(controlid::kRxPath), pcap);
        }
        // One that cannot be tested says why.
        ScratchDir scratch;
        WindowProbe probe;
        probe.nextFile = WritePcap(scratch.File("cut.pcap"), 0);
        probe.Click(controlid::kBrowseTx);
        QCOMPARE(probe.messages, QStringList{QStringLiteral("This pcap file cannot be tested as it is")});
        QCOMPARE(probe.Text(controlid::kRxPath), probe.nextFile);
    }

private:
    static constexpr const char* kAdvice =
        "Set bulk delay 1190 and tail 64: they cover 99 % of the echo path (1203\u20131241)";
};

QTEST_MAIN(WindowFilesTest)
#include "WindowFilesTest.moc"
