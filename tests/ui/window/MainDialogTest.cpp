// The main window: its controls and layout, start state, device presets, data exchange,
// browsing, the status line, the progress bar and the About entry.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include "WindowProbe.h"
#include "app/AboutDialog.h"
#include "ui/DataExchange.h"

namespace {

struct ExpectedControl {
    int id;
    ControlKind kind;
    const char* text;
    QRect rect;
};

// Template 102 as the window's layout gives it, in tab order.
const std::vector<ExpectedControl> kWindowControls{
    {1000, ControlKind::Edit, "", {40, 16, 215, 14}},
    {1001, ControlKind::Edit, "", {40, 32, 214, 14}},
    {1002, ControlKind::PushButton, "Browse Rx", {258, 16, 50, 14}},
    {1003, ControlKind::PushButton, "Browse Tx", {258, 32, 50, 14}},
    {1016, ControlKind::PushButton, "Run", {260, 73, 50, 14}},
    {1017, ControlKind::Edit, "", {83, 104, 40, 14}},
    {1009, ControlKind::Edit, "", {83, 119, 40, 14}},
    {1011, ControlKind::Edit, "", {83, 134, 40, 14}},
    {1012, ControlKind::Edit, "", {83, 149, 40, 14}},
    {-1, ControlKind::GroupBox, "", {7, 89, 308, 81}},
    {-1, ControlKind::GroupBox, "Detected info", {132, 95, 179, 72}},
    {1004, ControlKind::Edit, "", {202, 103, 103, 14}},
    {1005, ControlKind::Edit, "", {202, 119, 104, 14}},
    {-1, ControlKind::GroupBox, "Echo canceller settings", {13, 95, 114, 72}},
    {-1, ControlKind::Label, "Tail (samples)", {19, 106, 44, 8}},
    {-1, ControlKind::Label, "Delay (samples)", {19, 120, 50, 8}},
    {-1, ControlKind::Label, "NLP diff (dB)", {19, 136, 41, 8}},
    {-1, ControlKind::Label, "NLP shift (-6 dB)", {19, 153, 52, 8}},
    {1014, ControlKind::Edit, "", {130, 57, 179, 14}},
    {1015, ControlKind::ProgressBar, "", {130, 74, 122, 14}},
    {-1, ControlKind::GroupBox, "Input data", {7, 7, 307, 43}},
    {-1, ControlKind::Label, "Rx file", {13, 18, 20, 8}},
    {-1, ControlKind::Label, "Tx file", {14, 32, 20, 8}},
    {-1, ControlKind::Label, "Rx / Tx level avg.", {137, 136, 58, 8}},
    {-1, ControlKind::Label, "Residual level", {137, 153, 45, 8}},
    {-1, ControlKind::Label, "Real Delay", {137, 106, 36, 8}},
    {-1, ControlKind::Label, "ERL", {137, 120, 15, 8}},
    {1018, ControlKind::Edit, "", {202, 134, 104, 14}},
    {1020, ControlKind::Edit, "", {202, 149, 104, 14}},
    {-1, ControlKind::GroupBox, "Recommended values", {7, 172, 307, 31}},
    {1021, ControlKind::Edit, "", {95, 184, 63, 14}},
    {-1, ControlKind::Label, "Minimal tail (samples)", {17, 187, 66, 8}},
    {1023, ControlKind::Edit, "", {246, 184, 62, 14}},
    {-1, ControlKind::Label, "Tx gain decrease (dB)", {171, 187, 70, 8}},
    {1024, ControlKind::DropDownList, "", {15, 58, 107, 145}},
    {1025, ControlKind::CheckBox, "High pass filter enabled", {15, 76, 89, 10}},
    {-1, ControlKind::GroupBox, "", {7, 48, 307, 43}},
};

const QStringList kDeviceRows{
    "Vestra A - FXO", "Vestra A - FXS", "Vestra A - ISDN", "Vestra B - FXO (rev 1)",
    "Vestra B - FXO (rev 2)", "Vestra B - FXS", "Vestra B - ISDN", "Vestra C - FXO",
    "Vestra C - ISDN", "Vestra D - E1/T1"};

struct Preset {
    int delay;
    int tail;
    bool delayEditable;
};
const Preset kPresets[10] = {{100, 64, false}, {80, 48, false}, {80, 128, true}, {80, 64, false},
                             {100, 64, false}, {80, 48, true},  {80, 128, false}, {180, 64, true},
                             {80, 128, true},  {80, 128, true}};

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void templateHoldsEveryControlInTabOrder()
    {
        const DialogTemplate& t = LoadDialogTemplate(102);
        QCOMPARE(t.caption, QStringLiteral("Tarnwell"));
        QCOMPARE(t.width, 321);
        QCOMPARE(t.height, 210);
        QCOMPARE(t.fontFamily, QStringLiteral("MS Sans Serif"));
        QCOMPARE(t.fontPointSize, 8);
        QCOMPARE(t.controls.size(), kWindowControls.size());
        for (std::size_t i = 0; i < kWindowControls.size(); ++i) {
            const ControlTemplate& got = t.controls[i];
            const ExpectedControl& want = kWindowControls[i];
            QCOMPARE(got.id, want.id);
            QCOMPARE(got.kind, want.kind);
            QCOMPARE(got.text, QString::fromUtf8(want.text));
            QCOMPARE(got.rect, want.rect);
        }
        QVERIFY(t.Find(1004)->HasStyle(QStringLiteral("read-only")));
        QVERIFY(!t.Find(1000)->HasStyle(QStringLiteral("read-only")));
        QCOMPARE(t.Find(1024)->items, kDeviceRows);
    }

    void controlsSitOnTheirRectangles()
    {
        WindowProbe probe;
        const DialogUnits& units = probe.dialog->Units();
        QCOMPARE(probe.dialog->size(), units.MapSize(321, 210));
        for (const ExpectedControl& want : kWindowControls) {
            if (want.id < 0) {
                continue;
            }
            QWidget* w = probe.dialog->Control(want.id);
            QVERIFY2(w != nullptr, qPrintable(QString::number(want.id)));
            const QRect px = units.Map(want.rect);
            QCOMPARE(w->pos(), px.topLeft());
            if (want.kind == ControlKind::DropDownList) {
                // The template's height is the opened list's; the closed box is one line.
                QCOMPARE(w->width(), px.width());
                QVERIFY(w->height() < px.height());
            } else if (want.kind == ControlKind::CheckBox) {
                QVERIFY(w->width() >= px.width());
                QCOMPARE(w->height(), px.height());
            } else {
                QCOMPARE(w->size(), px.size());
            }
        }
        // The Rx path box ends left of its Browse button; the device list sits left of the status line.
        QVERIFY(probe.dialog->Control(1000)->geometry().right() < probe.dialog->Control(1002)->x());
        QVERIFY(probe.dialog->Control(1024)->geometry().right() < probe.dialog->Control(1014)->x());
    }

    void tabOrderFollowsTheTemplate()
    {
        WindowProbe probe;
        const QList<int> expected{1000, 1001, 1002, 1003, 1016, 1017, 1009, 1011, 1012, 1004,
                                  1005, 1014, 1018, 1020, 1021, 1023, 1024, 1025};
        QList<int> seen;
        QWidget* w = probe.dialog->Control(1000);
        for (int guard = 0; guard < 200; ++guard) {
            bool numbered = false;
            const int id = w->objectName().toInt(&numbered);
            if (numbered && (w->focusPolicy() & Qt::TabFocus)) {
                if (!seen.isEmpty() && id == seen.front()) {
                    break;
                }
                seen.push_back(id);
            }
            w = w->nextInFocusChain();
        }
        QCOMPARE(seen, expected);
    }

    void startsOnRowZero()
    {
        WindowProbe probe;
        MainDialog& d = *probe.dialog;
        QCOMPARE(d.windowTitle(), QStringLiteral("Tarnwell"));
        QCOMPARE(probe.List()->count(), 10);
        for (int row = 0; row < 10; ++row) {
            QCOMPARE(probe.List()->itemText(row), kDeviceRows[row]);
            QCOMPARE(probe.List()->itemText(row), QString::fromUtf8(kDeviceNames[row]));
        }
        QCOMPARE(probe.List()->currentIndex(), 0);
        QCOMPARE(probe.Text(ControlId::kDelay), QStringLiteral("100"));
        QVERIFY(!probe.Edit(ControlId::kDelay)->isEnabled());
        QCOMPARE(probe.Text(ControlId::kTail), QStringLiteral("64"));
        QCOMPARE(probe.Text(ControlId::kNlpDiff), QStringLiteral("6"));
        QCOMPARE(probe.Text(ControlId::kNlpShift), QStringLiteral("3"));
        QVERIFY(d.ControlAs<QCheckBox>(ControlId::kHighPass)->isChecked());
        QCOMPARE(probe.Text(ControlId::kMinimalTail), QStringLiteral("0"));
        QCOMPARE(probe.Text(ControlId::kTxGainDecrease), QStringLiteral("0"));
        for (int id : {ControlId::kRxPath, ControlId::kTxPath, ControlId::kStatus, ControlId::kRealDelay,
                       ControlId::kErl, ControlId::kResidual, ControlId::kLevels}) {
            QVERIFY2(probe.Text(id).isEmpty(), qPrintable(QString::number(id)));
        }
        for (int id : {ControlId::kRealDelay, ControlId::kErl, ControlId::kResidual, ControlId::kLevels,
                       ControlId::kStatus, ControlId::kMinimalTail, ControlId::kTxGainDecrease}) {
            QVERIFY(probe.Edit(id)->isReadOnly());
        }
        QVERIFY(!probe.Edit(ControlId::kTail)->isReadOnly());
        QCOMPARE(probe.Progress()->value(), 0);
        QVERIFY(probe.Button(ControlId::kRun)->isEnabled());
        QVERIFY(!probe.Button(ControlId::kRun)->isDefault());
        QCOMPARE(d.m_verdict[0], std::string("CHECK"));
        QCOMPARE(d.m_verdict[1], std::string("OK"));
        // No OK or Cancel button: the window's buttons are the two Browse buttons and Run.
        QCOMPARE(d.findChildren<QPushButton*>().size(), 3);
        const QList<QSize> sizes = d.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(probe.messages.isEmpty());
    }

    void everyRowAppliesItsPreset()
    {
        WindowProbe probe;
        for (int row : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 7}) {
            // Values the user typed are overwritten; the high-pass box is left alone.
            probe.Type(ControlId::kTail, QStringLiteral("500"));
            probe.Type(ControlId::kNlpDiff, QStringLiteral("20"));
            probe.Type(ControlId::kNlpShift, QStringLiteral("9"));
            if (probe.Edit(ControlId::kDelay)->isEnabled()) {
                probe.Type(ControlId::kDelay, QStringLiteral("4000"));
            }
            auto* highPass = probe.dialog->ControlAs<QCheckBox>(ControlId::kHighPass);
            highPass->setChecked(row % 2 == 0);
            probe.ChooseRow(row);
            QCOMPARE(probe.List()->currentIndex(), row);
            QCOMPARE(probe.dialog->m_deviceType, row);
            QCOMPARE(probe.Text(ControlId::kDelay), QString::number(kPresets[row].delay));
            QCOMPARE(probe.Text(ControlId::kTail), QString::number(kPresets[row].tail));
            QCOMPARE(probe.Text(ControlId::kNlpDiff), QStringLiteral("6"));
            QCOMPARE(probe.Text(ControlId::kNlpShift), QStringLiteral("3"));
            QCOMPARE(probe.Edit(ControlId::kDelay)->isEnabled(), kPresets[row].delayEditable);
            QCOMPARE(highPass->isChecked(), row % 2 == 0);
            QCOMPARE(probe.dialog->m_highPass, row % 2 == 0 ? 1 : 0);
        }
        QVERIFY(probe.messages.isEmpty());
    }

    void exchangeStopsAtTheFirstBadInteger()
    {
        WindowProbe probe;
        MainDialog& d = *probe.dialog;
        probe.ChooseRow(2);   // delay box editable
        // Exchange order: delay, ERL, NLP shift, real delay, residual, Rx path, status, tail, Tx
        // path, NLP diff, high pass, device, gain, minimal tail, levels.
        probe.Type(ControlId::kDelay, QStringLiteral("123"));
        probe.Type(ControlId::kNlpShift, QStringLiteral("7"));
        probe.Type(ControlId::kRxPath, QStringLiteral("rx.pcm"));
        probe.Type(ControlId::kTail, QStringLiteral("12x"));
        probe.Type(ControlId::kTxPath, QStringLiteral("tx.pcm"));
        probe.Type(ControlId::kNlpDiff, QStringLiteral("9"));
        d.ControlAs<QCheckBox>(ControlId::kHighPass)->setChecked(false);

        QVERIFY(!d.UpdateData(true));
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Please enter an integer.")});
        QCOMPARE(d.m_delay, 123);
        QCOMPARE(d.m_nlpShift, 7);
        QCOMPARE(d.m_rxPath, QStringLiteral("rx.pcm"));
        QCOMPARE(d.m_tail, 128);         // the bad box keeps its member's value
        QVERIFY(d.m_txPath.isEmpty());   // and so does everything after it
        QCOMPARE(d.m_nlpDiff, 6);
        QCOMPARE(d.m_highPass, 1);
        QCOMPARE(d.m_deviceType, 2);
        QCOMPARE(d.focusWidget(), probe.Edit(ControlId::kTail));

        // Once the box holds an integer again, the whole exchange goes through.
        probe.Type(ControlId::kTail, QStringLiteral(" 256 "));
        QVERIFY(d.UpdateData(true));
        QCOMPARE(d.m_tail, 256);
        QCOMPARE(d.m_txPath, QStringLiteral("tx.pcm"));
        QCOMPARE(d.m_nlpDiff, 9);
        QCOMPARE(d.m_highPass, 0);
        QCOMPARE(probe.messages.size(), 1);

        // Writing back never fails and shows the members.
        d.m_minimalTail = -17;
        QVERIFY(d.UpdateData(false));
        QCOMPARE(probe.Text(ControlId::kMinimalTail), QStringLiteral("-17"));
    }

    void browseReadsTheControlsFirstAndCancelKeepsThePath()
    {
        WindowProbe probe;
        MainDialog& d = *probe.dialog;
        int tailSeen = 0;
        probe.onFileDialog = [&] { tailSeen = d.m_tail; };

        probe.Type(ControlId::kTail, QStringLiteral("77"));
        probe.nextFile = QStringLiteral("/captures/port3-rx.pcm");
        QTest::mouseClick(probe.Button(ControlId::kBrowseRx), Qt::LeftButton);
        QCOMPARE(tailSeen, 77);
        QCOMPARE(probe.Text(ControlId::kTail), QStringLiteral("77"));
        QCOMPARE(d.m_rxPath, QStringLiteral("/captures/port3-rx.pcm"));
        QCOMPARE(probe.Text(ControlId::kRxPath), QStringLiteral("/captures/port3-rx.pcm"));
        QVERIFY(probe.Text(ControlId::kTxPath).isEmpty());

        probe.Type(ControlId::kTxPath, QStringLiteral("typed-tx.pcm"));
        probe.nextFile.clear();   // the user cancels
        QTest::mouseClick(probe.Button(ControlId::kBrowseTx), Qt::LeftButton);
        QCOMPARE(probe.Text(ControlId::kTxPath), QStringLiteral("typed-tx.pcm"));
        QCOMPARE(d.m_txPath, QStringLiteral("typed-tx.pcm"));

        probe.nextFile = QStringLiteral("/captures/port3-tx.pcm");
        QTest::mouseClick(probe.Button(ControlId::kBrowseTx), Qt::LeftButton);
        QCOMPARE(probe.Text(ControlId::kTxPath), QStringLiteral("/captures/port3-tx.pcm"));
        QCOMPARE(probe.Text(ControlId::kRxPath), QStringLiteral("/captures/port3-rx.pcm"));

        QCOMPARE(probe.filters.size(), 3);
        for (const QString& filter : probe.filters) {
            QVERIFY(filter.startsWith(QStringLiteral("pcm files (*.pcm);;All Files")));
        }
    }

    void testUiReachesTheStatusLineAndProgressBar()
    {
        WindowProbe probe;
        MainDialog& d = *probe.dialog;
        probe.Type(ControlId::kTail, QStringLiteral("99"));
        d.SetStatus("Please wait, processing...");
        QCOMPARE(probe.Text(ControlId::kStatus), QStringLiteral("Please wait, processing..."));
        QCOMPARE(d.m_status, QStringLiteral("Please wait, processing..."));
        // Members go back to the controls with the status: an untransferred typed value is replaced.
        QCOMPARE(probe.Text(ControlId::kTail), QStringLiteral("64"));

        TestUi& ui = d;
        ui.SetProgressRange(48000);
        ui.SetProgressPos(47920);
        QCOMPARE(probe.Progress()->minimum(), 0);
        QCOMPARE(probe.Progress()->maximum(), 48000);
        QCOMPARE(probe.Progress()->value(), 47920);
        ui.ShowMessage("Check the files");
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Check the files")});
    }

    void aboutEntryOpensTheAboutBox()
    {
        WindowProbe probe;
        QMenu menu;
        probe.dialog->AddSystemMenuEntries(menu);
        QCOMPARE(menu.actions().size(), 1);
        QCOMPARE(menu.actions()[0]->text(), QStringLiteral("&About Tarnwell..."));
        QCOMPARE(menu.actions()[0]->data().toInt(), 16);

        QString caption;
        QStringList lines;
        bool okIsDefault = false;
        int opened = 0;
        // The About box is modal: look at it and close it from inside its own loop.
        const auto inspectAndClose = [&] {
            auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
            if (about == nullptr) {
                return;
            }
            ++opened;
            caption = about->windowTitle();
            for (QLabel* label : about->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    lines.push_back(label->text());
                }
            }
            auto* ok = about->ControlAs<QPushButton>(1);
            okIsDefault = ok->isDefault();
            QTest::mouseClick(ok, Qt::LeftButton);
        };
        QTimer::singleShot(0, inspectAndClose);
        probe.dialog->OnSysCommand(0x13);   // the low four bits belong to the system
        QCOMPARE(opened, 1);
        QCOMPARE(caption, QStringLiteral("About Tarnwell"));
        QVERIFY(lines.contains(QStringLiteral("Tarnwell Version 1.1")));
        QVERIFY(okIsDefault);

        QTimer::singleShot(0, inspectAndClose);
        probe.dialog->OnSysCommand(0x20);
        QTest::qWait(20);
        QCOMPARE(opened, 1);
        QVERIFY(probe.dialog->isVisible());
    }

    void escapeClosesTheAboutBox()
    {
        AboutDialog about;
        about.show();
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(!about.isVisible());
        about.show();
        QTest::keyClick(&about, Qt::Key_Return);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
