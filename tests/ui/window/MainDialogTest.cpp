// The main window: dialog units, layout, start state, device presets, data exchange, browsing.
#include "WindowProbe.h"
#include "ui/DataExchange.h"

#include <QJsonDocument>
#include <algorithm>
#include <stdexcept>

namespace {

struct ExpectedControl {
    int id;
    ControlKind kind;
    const char* text;
    QRect rect;   // dialog units
};

// Template 102, in tab order.
using enum ControlKind;
const std::vector<ExpectedControl> kWindowControls{
    {1000, Edit, "", {40, 16, 215, 14}}, {1001, Edit, "", {40, 32, 214, 14}},
    {1002, PushButton, "Browse Rx", {258, 16, 50, 14}}, {1003, PushButton, "Browse Tx", {258, 32, 50, 14}},
    {1016, PushButton, "Run", {260, 73, 50, 14}}, {1017, Edit, "", {83, 104, 40, 14}},
    {1009, Edit, "", {83, 119, 40, 14}}, {1011, Edit, "", {83, 134, 40, 14}},
    {1012, Edit, "", {83, 149, 40, 14}}, {-1, GroupBox, "", {7, 89, 308, 81}},
    {-1, GroupBox, "Detected info", {132, 95, 179, 72}}, {1004, Edit, "", {202, 103, 103, 14}},
    {1005, Edit, "", {202, 119, 104, 14}}, {-1, GroupBox, "Echo canceller settings", {13, 95, 114, 72}},
    {-1, Label, "Tail (samples)", {19, 106, 44, 8}}, {-1, Label, "Delay (samples)", {19, 120, 50, 8}},
    {-1, Label, "NLP diff (dB)", {19, 136, 41, 8}}, {-1, Label, "NLP shift (-6 dB)", {19, 153, 52, 8}},
    {1014, Edit, "", {130, 57, 179, 14}}, {1015, ProgressBar, "", {130, 74, 122, 14}},
    {-1, GroupBox, "Input data", {7, 7, 307, 43}}, {-1, Label, "Rx file", {13, 18, 20, 8}},
    {-1, Label, "Tx file", {14, 32, 20, 8}}, {-1, Label, "Rx / Tx level avg.", {137, 136, 58, 8}},
    {-1, Label, "Residual level", {137, 153, 45, 8}}, {-1, Label, "Real Delay", {137, 106, 36, 8}},
    {-1, Label, "ERL", {137, 120, 15, 8}}, {1018, Edit, "", {202, 134, 104, 14}},
    {1020, Edit, "", {202, 149, 104, 14}}, {-1, GroupBox, "Recommended values", {7, 172, 307, 31}},
    {1021, Edit, "", {95, 184, 63, 14}}, {-1, Label, "Minimal tail (samples)", {17, 187, 66, 8}},
    {1023, Edit, "", {246, 184, 62, 14}}, {-1, Label, "Tx gain decrease (dB)", {171, 187, 70, 8}},
    {1024, DropDownList, "", {15, 58, 107, 145}},
    {1025, CheckBox, "High pass filter enabled", {15, 76, 89, 10}}, {-1, GroupBox, "", {7, 48, 307, 43}},
};

// Delay and tail presets per device row, and whether the delay box can be edited.
const struct {
    int delay;
    int tail;
    bool delayEditable;
} kPresets[10] = {{100, 64, false}, {80, 48, false}, {80, 128, true}, {80, 64, false},
                  {100, 64, false}, {80, 48, true},  {80, 128, false}, {180, 64, true},
                  {80, 128, true},  {80, 128, true}};

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void mapsEdgesWithRounding()
    {
        // The platform's classic 8-point bases: 6 across (1.5 px per unit), 13 down (1.625).
        const DialogUnits units(6, 13);
        QCOMPARE(units.X(1), 2);   // 1.5 rounds up
        QCOMPARE(units.X(3), 5);   // 4.5 rounds up
        QCOMPARE(units.Y(4), 7);   // 6.5 rounds up
        QCOMPARE(units.Y(3), 5);   // 4.875
        QCOMPARE(units.Y(2), 3);   // 3.25
        // Edges map separately, so a control ending where the next begins still meets it:
        // 1,1,1,1 spans 2..3 both ways, one pixel, not the two a mapped size would give.
        QCOMPARE(units.Map(QRect(1, 1, 1, 1)), QRect(2, 2, 1, 1));
        QCOMPARE(units.Map(QRect(40, 16, 215, 14)), QRect(60, 26, 323, 23));
        QCOMPARE(units.MapSize(321, 210), QSize(482, 341));
    }

    void parsesIntegersLikeTheIntegerBox()
    {
        const struct {
            QString text;
            std::optional<int> value;
        } cases[] = {
            {"  128\t", 128}, {"+7", 7}, {"-1", -1},
            {"2147483647", 2147483647}, {"-2147483648", int(-2147483647 - 1)},
            {"2147483648", {}}, {"-2147483649", {}},
            {"", {}}, {"-", {}}, {"12a", {}}, {"1 2", {}}, {"6.5", {}},
            {QString(QChar(0x0663)), {}},   // an Arabic-Indic three is not an ASCII digit
        };
        for (const auto& c : cases) {
            QVERIFY2(DataExchange::ParseInt(c.text) == c.value, qPrintable("\"" + c.text + "\""));
        }
    }

    void refusesTemplatesWithoutSizeOrFont()
    {
        const auto parse = [](const char* json) {
            return ParseDialogTemplate(QJsonDocument::fromJson(json).object());
        };
        const char* good = R"({"id": 7, "size": [10, 20], "font": ["Sans", 8], "controls": []})";
        QCOMPARE(parse(good).height, 20);
        for (const char* bad : {R"({"id": 7, "font": ["Sans", 8]})", R"({"id": 7, "size": [10], "font": ["Sans", 8]})",
                                R"({"id": 7, "size": [10, 0], "font": ["Sans", 8]})", R"({"id": 7, "size": [10, 20]})",
                                R"({"id": 7, "size": [10, 20], "font": ["Sans"]})",
                                R"({"id": 7, "size": [10, 20], "font": ["Sans", 8], "controls": [{"kind": "knob"}]})"}) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, parse(bad));
        }
    }

    void controlsSitOnTheirRectangles()
    {
        const DialogTemplate& t = LoadDialogTemplate(102);
        QCOMPARE(t.caption, QStringLiteral("Tarnwell"));
        QCOMPARE(QSize(t.width, t.height), QSize(321, 210));
        QCOMPARE(t.controls.size(), kWindowControls.size());
        WindowProbe probe;
        const DialogUnits& units = probe.dialog->Units();
        QCOMPARE(units.BaseY(), QFontMetrics(probe.dialog->font()).height());
        QCOMPARE(probe.dialog->width(), units.MapSize(321, 210).width());
        // The command line prints its rows under the window's own labels.
        for (const char* label : {kRowLabels.realDelay, kRowLabels.erl, kRowLabels.residual, kRowLabels.levels,
                                  kRowLabels.minimalTail, kRowLabels.txGainDecrease}) {
            QVERIFY2(std::any_of(t.controls.begin(), t.controls.end(),
                                 [&](const ControlTemplate& c) { return c.text == QString::fromUtf8(label); }),
                     label);
        }
        for (std::size_t i = 0; i < kWindowControls.size(); ++i) {
            const ExpectedControl& want = kWindowControls[i];
            const ControlTemplate& got = t.controls[i];
            QVERIFY2(got.id == want.id && got.kind == want.kind && got.rect == want.rect
                         && got.text == QString::fromUtf8(want.text),
                     qPrintable(QString("control %1").arg(i)));
            if (want.id < 0) {
                continue;
            }
            QWidget* w = probe.dialog->Control(want.id);
            const QRect px = units.Map(want.rect);
            QCOMPARE(w->pos(), px.topLeft());
            if (want.kind == ControlKind::DropDownList) {
                // The template's height is the opened list's; the closed box is one line.
                QCOMPARE(w->width(), px.width());
            } else if (want.kind == ControlKind::CheckBox) {
                QCOMPARE(w->height(), px.height());
            } else {
                QCOMPARE(w->size(), px.size());
            }
        }
    }

    void startsOnRowZeroAndEveryRowAppliesItsPreset()
    {
        using namespace controlid;
        WindowProbe probe;
        QStringList names;
        for (int row = 0; row < probe.List()->count(); ++row) {
            names << probe.List()->itemText(row);
        }
        QCOMPARE(names, (QStringList{"Vestra A - FXO", "Vestra A - FXS", "Vestra A - ISDN",
                                     "Vestra B - FXO (rev 1)", "Vestra B - FXO (rev 2)", "Vestra B - FXS",
                                     "Vestra B - ISDN", "Vestra C - FXO", "Vestra C - ISDN",
                                     "Vestra D - E1/T1"}));
        QCOMPARE(probe.List()->currentIndex(), 0);
        QCOMPARE((QStringList{probe.Text(kDelay), probe.Text(kTail), probe.Text(kNlpDiff), probe.Text(kNlpShift),
                              probe.Text(kMinimalTail), probe.Text(kTxGainDecrease)}),
                 (QStringList{"100", "64", "6", "3", "0", "0"}));
        QVERIFY(!probe.Edit(kDelay)->isEnabled());
        QVERIFY(probe.HighPass()->isChecked());
        for (int id : {kRealDelay, kErl, kResidual, kLevels, kStatus}) {
            QVERIFY2(probe.Text(id).isEmpty() && probe.Edit(id)->isReadOnly(), qPrintable(QString::number(id)));
        }
        QVERIFY(probe.Button(kRun)->isEnabled() && !probe.Button(kRun)->isDefault());

        for (int row : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 7}) {
            // Values the user typed are overwritten; the high-pass box is left alone.
            probe.Type(controlid::kTail, QStringLiteral("500"));
            probe.Type(controlid::kNlpDiff, QStringLiteral("20"));
            probe.Type(controlid::kNlpShift, QStringLiteral("9"));
            if (probe.Edit(controlid::kDelay)->isEnabled()) {
                probe.Type(controlid::kDelay, QStringLiteral("4000"));
            }
            probe.HighPass()->setChecked(row % 2 == 0);
            probe.ChooseRow(row);
            QCOMPARE(probe.dialog->m_deviceType, row);
            QCOMPARE(probe.Text(controlid::kDelay), QString::number(kPresets[row].delay));
            QCOMPARE(probe.Text(controlid::kTail), QString::number(kPresets[row].tail));
            QCOMPARE(probe.Text(controlid::kNlpDiff), QStringLiteral("6"));
            QCOMPARE(probe.Text(controlid::kNlpShift), QStringLiteral("3"));
            QCOMPARE(probe.Edit(controlid::kDelay)->isEnabled(), kPresets[row].delayEditable);
            QCOMPARE(probe.HighPass()->isChecked(), row % 2 == 0);
            QCOMPARE(probe.dialog->m_highPass, row % 2 == 0 ? 1 : 0);
        }
    }

    void exchangeStopsAtTheFirstBadInteger()
    {
        WindowProbe probe;
        MainDialog& d = *probe.dialog;
        probe.ChooseRow(2);   // delay box editable
        // Exchange order: delay, ERL, NLP shift, real delay, residual, Rx path, status, tail,
        // Tx path, NLP diff, high pass, device, ...
        probe.Type(controlid::kDelay, QStringLiteral("123"));
        probe.Type(controlid::kNlpShift, QStringLiteral("7"));
        probe.Type(controlid::kRxPath, QStringLiteral("rx.pcm"));
        probe.Type(controlid::kTail, QStringLiteral("12x"));
        probe.Type(controlid::kTxPath, QStringLiteral("tx.pcm"));
        probe.Type(controlid::kNlpDiff, QStringLiteral("9"));
        probe.HighPass()->setChecked(false);

        QVERIFY(!d.UpdateData(true));
        QCOMPARE(probe.messages, QStringList{QStringLiteral("Please enter an integer.")});
        QCOMPARE(d.m_delay, 123);
        QCOMPARE(d.m_nlpShift, 7);
        QCOMPARE(d.m_rxPath, QStringLiteral("rx.pcm"));
        QCOMPARE(d.m_tail, 128);         // the bad box keeps its member's value
        QVERIFY(d.m_txPath.isEmpty());   // and so does everything after it
        QCOMPARE(d.m_nlpDiff, 6);
        QCOMPARE(d.m_highPass, 1);
        QCOMPARE(d.focusWidget(), probe.Edit(controlid::kTail));
    }

    void browseReadsTheControlsFirstAndCancelKeepsThePath()
    {
        WindowProbe probe;
        // Had Browse not read the controls first, writing the members back would undo this.
        probe.Type(controlid::kTail, QStringLiteral("77"));
        probe.nextFile = QStringLiteral("/captures/rx.pcm");
        probe.Click(controlid::kBrowseRx);
        QCOMPARE(probe.Text(controlid::kTail), QStringLiteral("77"));
        QCOMPARE(probe.Text(controlid::kRxPath), QStringLiteral("/captures/rx.pcm"));
        QVERIFY(probe.Text(controlid::kTxPath).isEmpty());

        probe.Type(controlid::kTxPath, QStringLiteral("typed-tx.pcm"));
        probe.nextFile.clear();   // the user cancels
        probe.Click(controlid::kBrowseTx);
        QCOMPARE(probe.Text(controlid::kTxPath), QStringLiteral("typed-tx.pcm"));
        QCOMPARE(probe.filters.size(), 2);
        QVERIFY(probe.filters[1].startsWith(QStringLiteral("Captures (*.pcm *.raw *.wav *.au *.al *.ul);;All Files")));
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"

