// The template layer: dialog units from font metrics, the templates as data, integer parsing.
#include <QFontDatabase>
#include <QFontMetrics>
#include <QTest>

#include "ui/DataExchange.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogUnits.h"

class DialogTemplateTest : public QObject {
    Q_OBJECT

private slots:
    void mapsEdgesWithRounding()
    {
        // The platform's classic 8-point bases: 6 across, 13 down.
        const DialogUnits units(6, 13);
        QCOMPARE(units.X(4), 6);
        QCOMPARE(units.X(1), 2);    // 1.5 rounds up
        QCOMPARE(units.X(3), 5);    // 4.5 rounds up
        QCOMPARE(units.X(2), 3);
        QCOMPARE(units.Y(8), 13);
        QCOMPARE(units.Y(4), 7);    // 6.5 rounds up
        QCOMPARE(units.Y(3), 5);    // 4.875
        QCOMPARE(units.Y(1), 2);    // 1.625
        // Rx path box 40,16,215,14: left 60, top 26, right 255*1.5 = 382.5 -> 383, bottom 30*13/8 -> 49.
        QCOMPARE(units.Map(QRect(40, 16, 215, 14)), QRect(60, 26, 323, 23));
        QCOMPARE(units.MapSize(321, 210), QSize(482, 341));
    }

    void keepsNeighboursAdjacent()
    {
        // Edges map separately: a control ending where the next begins still meets it exactly.
        const DialogUnits units(7, 15);
        for (int x = 0; x < 40; ++x) {
            const QRect a = units.Map(QRect(x, x, 1, 1));
            const QRect b = units.Map(QRect(x + 1, x + 1, 1, 1));
            QCOMPARE(a.x() + a.width(), b.x());
            QCOMPARE(a.y() + a.height(), b.y());
        }
    }

    void basesComeFromTheFont()
    {
        // In a fixed-pitch face every letter is as wide as the average, so the horizontal
        // base is that width; the vertical base is the font's height.
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        for (int size : {8, 12, 20}) {
            mono.setPointSize(size);
            const QFontMetrics metrics(mono);
            if (metrics.horizontalAdvance(QLatin1Char('i')) != metrics.horizontalAdvance(QLatin1Char('W'))) {
                QSKIP("no fixed-pitch face installed");
            }
            const DialogUnits units(mono);
            QCOMPARE(units.BaseX(), metrics.horizontalAdvance(QLatin1Char('x')));
            QCOMPARE(units.BaseY(), metrics.height());
        }
        // A larger font gives a larger layout.
        QFont small(QStringLiteral("Sans"), 8);
        QFont large(QStringLiteral("Sans"), 16);
        QVERIFY(DialogUnits(large).X(321) > DialogUnits(small).X(321));
        QVERIFY(DialogUnits(large).Y(210) > DialogUnits(small).Y(210));
    }

    void aboutTemplate()
    {
        const DialogTemplate& about = LoadDialogTemplate(100);
        QCOMPARE(about.caption, QStringLiteral("About Tarnwell"));
        QCOMPARE(about.width, 235);
        QCOMPARE(about.height, 55);
        QCOMPARE(about.fontFamily, QStringLiteral("MS Sans Serif"));
        QCOMPARE(about.fontPointSize, 8);
        QCOMPARE(int(about.controls.size()), 4);
        QCOMPARE(about.controls[0].kind, ControlKind::Icon);
        QCOMPARE(about.controls[0].rect.topLeft(), QPoint(11, 17));
        QCOMPARE(about.controls[1].text, QStringLiteral("Tarnwell Version 1.1"));
        QCOMPARE(about.controls[1].rect, QRect(40, 10, 119, 8));
        QCOMPARE(about.controls[2].rect.topLeft(), QPoint(40, 25));
        QCOMPARE(about.controls[2].rect.width(), 119);
        const ControlTemplate* ok = about.Find(1);
        QVERIFY(ok != nullptr);
        QCOMPARE(ok->text, QStringLiteral("OK"));
        QCOMPARE(ok->rect, QRect(178, 7, 50, 14));
        QVERIFY(ok->HasStyle(QStringLiteral("default")));
    }

    void stringsAndIcon()
    {
        QCOMPARE(LoadResourceString(101), QStringLiteral("&About Tarnwell..."));
        QVERIFY(LoadResourceString(999).isEmpty());
        const QIcon icon = LoadResourceIcon(128);
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(LoadResourceIcon(7).isNull());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, LoadDialogTemplate(101));
    }

    void parsesIntegersLikeTheIntegerBox_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "64" << true << 64;
        QTest::newRow("blanks around") << "  128\t" << true << 128;
        QTest::newRow("plus") << "+7" << true << 7;
        QTest::newRow("minus") << "-1" << true << -1;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("trailing letters") << "12a" << false << 0;
        QTest::newRow("inner blank") << "1 2" << false << 0;
        QTest::newRow("hex") << "0x10" << false << 0;
        QTest::newRow("decimal point") << "6.5" << false << 0;
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("too small") << "-2147483649" << false << 0;
        QTest::newRow("arabic-indic digit") << QString(QChar(0x0663)) << false << 0;
    }

    void parsesIntegersLikeTheIntegerBox()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const std::optional<int> parsed = DataExchange::ParseInt(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid) {
            QCOMPARE(*parsed, value);
        }
    }
};

QTEST_MAIN(DialogTemplateTest)
#include "DialogTemplateTest.moc"
