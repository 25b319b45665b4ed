// The main window: dialog units, texts, tab order and layout, start state, device presets, the
// data exchange's order, browsing.
#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <stdexcept>

#include "WindowProbe.h"

namespace {

// Delay and tail presets per device row, and the rows whose delay box can be edited.
constexpr int kDelays[] = {100, 80, 80, 80, 100, 80, 80, 180, 80, 80};
constexpr int kTails[] = {64, 48, 128, 64, 64, 48, 128, 64, 128, 128};
const QList<int> kDelayEditable{2, 5, 7, 8, 9};

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void mapsEdgesWithRounding()
    {
        // The platform's classic 8-point bases: 6 across (1.5 px per unit), 13 down (1.625).
        const DialogUnits units(6, 13);
        // 1.5, 4.5 and 6.5 round up; 4.875 and 3.25 to the nearest.
        QCOMPARE((QList<int>{units.X(1), units.X(3), units.Y(4), units.Y(3), units.Y(2)}), (QList<int>{2, 5, 7, 5, 3}));
        // Edges map separately, so a control ending where the next begins still meets it:
        // 1,1,1,1 spans 2..3 both ways, one pixel, not the two a mapped size would give.
        QCOMPARE(units.Map(QRect(1, 1, 1, 1)), QRect(2, 2, 1, 1));
        QCOMPARE(units.Map(QRect(40, 16, 215, 14)), QRect(60, 26, 323, 23));
        QCOMPARE(units.MapSize(321, 210), QSize(482, 341));
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

    void showsItsTextsInTabOrderOnTheTemplatesRectangles()
    {
        WindowProbe probe;
        const DialogTemplate& t = probe.dialog->Template();
        const DialogUnits& units = probe.dialog->Units();
        QCOMPARE(probe.dialog->windowTitle(), QStringLiteral("Tarnwell"));
        QCOMPARE(units.BaseY(), QFontMetrics(probe.dialog->font()).height());
        // The template's width; the row of Cancel and Details below it adds height.
        QCOMPARE(probe.dialog->width(), units.MapSize(t.width, t.height).width());
        // The command line prints its rows under the window's own labels.
        for (const char* label : {kRowLabels.realDelay, kRowLabels.erl, kRowLabels.residual, kRowLabels.levels,
                                  kRowLabels.minimalTail, kRowLabels.txGainDecrease}) {
            QVERIFY2(std::any_of(t.controls.begin(), t.controls.end(),
                                 [&](const ControlTemplate& c) { return c.text == QString::fromUtf8(label); }),
                     label);
        }

        // What the template's area shows; the details area has its own tests.
        const QRect area(QPoint(0, 0), units.MapSize(t.width, t.height));
        const auto inTemplate = [&](const QWidget* w) {
            return w->parentWidget() == probe.dialog.get() && area.contains(w->geometry());
        };
        QStringList texts;
        for (const QLabel* label : probe.dialog->findChildren<QLabel*>()) {
            if (inTemplate(label)) {
                texts << label->text();
            }
        }
        for (const QAbstractButton* button : probe.dialog->findChildren<QAbstractButton*>()) {
            if (inTemplate(button)) {
                texts << button->text();
            }
        }
        for (const QGroupBox* group : probe.dialog->findChildren<QGroupBox*>()) {
            if (inTemplate(group)) {
                texts << group->title();
            }
        }
        texts.removeAll(QString());
        texts.sort();
        QCOMPARE(texts, (QStringList{"Browse Rx", "Browse Tx", "Delay (samples)", "Detected info",
                                     "ERL", "Echo canceller settings", "High pass filter enabled", "Input data",
                                     "Minimal tail (samples)", "NLP diff (dB)", "NLP shift (-6 dB)", "Real Delay",
                                     "Recommended values", "Residual level", "Run", "Rx / Tx level avg.", "Rx file",
                                     "Tail (samples)", "Tx file", "Tx gain decrease (dB)"}));

        using namespace controlid;
        QList<int> tabOrder;
        QWidget* w = probe.Edit(kRxPath);
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && w->objectName().toInt() != 0) {
                tabOrder << w->objectName().toInt();
            }
            w = w->nextInFocusChain();
        } while (w != probe.Edit(kRxPath));
        QCOMPARE(tabOrder, (QList<int>{kRxPath, kTxPath, kBrowseRx, kBrowseTx, kRun, kTail, kDelay, kNlpDiff,
                                        kNlpShift, kRealDelay, kErl, kStatus, kLevels, kResidual, kMinimalTail,
                                        kTxGainDecrease, kDeviceType, kHighPass}));

        for (const ControlTemplate& control : t.controls) {
            if (control.id == kNoControlId) {
                continue;
            }
            const QWidget* widget = probe.dialog->Control(control.id);
            const QRect px = units.Map(control.rect);
            QCOMPARE(widget->pos(), px.topLeft());
            if (control.kind == ControlKind::DropDownList) {
                // The template's height is the opened list's; the closed box is one line.
                QCOMPARE(widget->width(), px.width());
            } else if (control.kind == ControlKind::CheckBox) {
                QCOMPARE(widget->height(), px.height());
            } else {
                QCOMPARE(widget->size(), px.size());
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
            QCOMPARE(probe.Text(controlid::kDelay), QString::number(kDelays[row]));
            QCOMPARE(probe.Text(controlid::kTail), QString::number(kTails[row]));
            QCOMPARE(probe.Text(controlid::kNlpDiff), QStringLiteral("6"));
            QCOMPARE(probe.Text(controlid::kNlpShift), QStringLiteral("3"));
            QCOMPARE(probe.Edit(controlid::kDelay)->isEnabled(), kDelayEditable.contains(row));
            QCOMPARE(probe.HighPass()->isChecked(), row % 2 == 0);
            QCOMPARE(probe.dialog->m_highPass, row % 2 == 0 ? 1 : 0);
        }
    }

    void exchangeReadsInOrderAndStopsAtTheFirstBadInteger()
    {
        using namespace controlid;
        // The boxes a user can change are read in this order: delay, NLP shift, Rx path, tail,
        // Tx path, NLP diff, high pass, device. With one integer box bad, the members read
        // before it take their new values; that one and every later one keep their old ones.
        const struct { int bad; const char* updated; } cases[] = {
            {kDelay, "00000000"}, {kNlpShift, "10000000"}, {kTail, "11100000"}, {kNlpDiff, "11111000"}, {0, "11111111"}};
        for (const auto& c : cases) {
            WindowProbe probe;
            MainDialog& d = *probe.dialog;
            probe.ChooseRow(2);   // delay box editable; presets 80 and 128
            for (const auto& [id, text] : {std::pair{kDelay, "123"}, {kNlpShift, "7"}, {kRxPath, "rx.pcm"},
                                           {kTail, "99"}, {kTxPath, "tx.pcm"}, {kNlpDiff, "9"}}) {
                probe.Type(id, QString::fromLatin1(id == c.bad ? "12x" : text));
            }
            probe.HighPass()->setChecked(false);
            probe.List()->setCurrentIndex(5);

            QCOMPARE(d.UpdateData(true), c.bad == 0);
            QString updated;
            for (const bool now : {d.m_delay == 123, d.m_nlpShift == 7, d.m_rxPath == "rx.pcm", d.m_tail == 99,
                                   d.m_txPath == "tx.pcm", d.m_nlpDiff == 9, d.m_highPass == 0, d.m_deviceType == 5}) {
                updated += now ? '1' : '0';
            }
            QCOMPARE(updated, QString::fromLatin1(c.updated));
            if (c.bad != 0) {
                QCOMPARE(probe.messages, QStringList{QStringLiteral("Please enter an integer.")});
                QCOMPARE(d.focusWidget(), probe.Edit(c.bad));
            }
        }
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

