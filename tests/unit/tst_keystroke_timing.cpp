// The arithmetic of the keystroke benchmark's timing tool, without any display: the rectangles
// it watches, how keys are paired with the drawings that follow them, and the figures made of
// many keys' timings.
#include "KeyLatency.h"
#include "LatencySummary.h"
#include "ScreenArea.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using Latencies = std::vector<std::optional<double>>;
using Times = std::vector<double>;
Q_DECLARE_METATYPE(Latencies)
Q_DECLARE_METATYPE(Times)

namespace {
constexpr double NeverDrawn = std::numeric_limits<double>::infinity();

// Equal, or both not a number.
bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}
} // namespace

class TestKeystrokeTiming : public QObject
{
    Q_OBJECT

private slots:
    void parseArea_data();
    void parseArea();
    void overlaps_data();
    void overlaps();
    void match_data();
    void match();
    void figures_data();
    void figures();
    void reportLine_data();
    void reportLine();
};

void TestKeystrokeTiming::parseArea_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QRect>("area");
    QTest::newRow("monster display") << "113x129+392+216" << true << QRect(392, 216, 113, 129);
    QTest::newRow("at the corner") << "1x1+0+0" << true << QRect(0, 0, 1, 1);
    QTest::newRow("six digits") << "999999x1+0+0" << true << QRect(0, 0, 999999, 1);
    QTest::newRow("seven digits") << "1000000x1+0+0" << false << QRect();
    QTest::newRow("no width") << "0x10+5+5" << false << QRect();
    QTest::newRow("no height") << "10x0+5+5" << false << QRect();
    QTest::newRow("negative place") << "10x10-5+5" << false << QRect();
    QTest::newRow("signed size") << "+10x10+5+5" << false << QRect();
    QTest::newRow("blank inside") << "10x 10+5+5" << false << QRect();
    QTest::newRow("no place") << "10x10" << false << QRect();
    QTest::newRow("half a place") << "10x10+5" << false << QRect();
    QTest::newRow("trailing text") << "10x10+5+5px" << false << QRect();
    QTest::newRow("capital X") << "10X10+5+5" << false << QRect();
    QTest::newRow("empty") << "" << false << QRect();
}

void TestKeystrokeTiming::parseArea()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QRect, area);
    const std::optional<ScreenArea> parsed = ScreenArea::parse(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (parsed)
        QCOMPARE(QRect(parsed->left, parsed->top, parsed->width, parsed->height), area);
}

void TestKeystrokeTiming::overlaps_data()
{
    QTest::addColumn<QRect>("drawn");
    QTest::addColumn<bool>("overlaps");
    // Against the area 10,20 of 30 x 40 (x 10..39, y 20..59).
    QTest::newRow("inside") << QRect(15, 25, 5, 5) << true;
    QTest::newRow("around it") << QRect(0, 0, 100, 100) << true;
    QTest::newRow("the same") << QRect(10, 20, 30, 40) << true;
    QTest::newRow("its last pixel") << QRect(39, 59, 1, 1) << true;
    QTest::newRow("its first pixel") << QRect(9, 19, 2, 2) << true;
    QTest::newRow("touching on the left") << QRect(0, 20, 10, 40) << false;
    QTest::newRow("touching on the right") << QRect(40, 20, 10, 40) << false;
    QTest::newRow("touching above") << QRect(10, 0, 30, 20) << false;
    QTest::newRow("touching below") << QRect(10, 60, 30, 5) << false;
    QTest::newRow("beside, same rows") << QRect(100, 20, 30, 40) << false;
    QTest::newRow("below, same columns (a caret)") << QRect(20, 200, 1, 15) << false;
}

void TestKeystrokeTiming::overlaps()
{
    QFETCH(QRect, drawn);
    QFETCH(bool, overlaps);
    const ScreenArea area{10, 20, 30, 40};
    const ScreenArea other{drawn.x(), drawn.y(), drawn.width(), drawn.height()};
    QCOMPARE(area.overlaps(other), overlaps);
    QCOMPARE(other.overlaps(area), overlaps);
}

void TestKeystrokeTiming::match_data()
{
    QTest::addColumn<Times>("keys");
    QTest::addColumn<Times>("drawings");
    QTest::addColumn<Latencies>("latencies");
    QTest::addColumn<int>("overtaken");
    // A limit of 100 ms throughout.
    QTest::newRow("one drawing per key")
        << Times{0, 30, 60} << Times{3, 34, 62} << Latencies{3.0, 4.0, 2.0} << 0;
    QTest::newRow("a drawing before the first key is not its")
        << Times{10} << Times{5, 12} << Latencies{2.0} << 0;
    QTest::newRow("a drawing at the press is not its")
        << Times{10} << Times{10, 15} << Latencies{5.0} << 0;
    QTest::newRow("two drawings for one key: the first counts")
        << Times{0, 30} << Times{2, 4, 33} << Latencies{2.0, 3.0} << 0;
    QTest::newRow("one drawing for two keys: both end there, the first overtaken")
        << Times{0, 30} << Times{35} << Latencies{35.0, 5.0} << 1;
    QTest::newRow("late drawings: the first key overtaken, each takes the first after it")
        << Times{0, 30, 60} << Times{40, 70, 90} << Latencies{40.0, 10.0, 10.0} << 1;
    QTest::newRow("nothing drawn") << Times{0, 30} << Times{} << Latencies{{}, {}} << 0;
    QTest::newRow("the last key not drawn") << Times{0, 30} << Times{5} << Latencies{5.0, {}} << 0;
    QTest::newRow("past the limit is not drawn")
        << Times{0} << Times{100.5} << Latencies{std::nullopt} << 0;
    QTest::newRow("at the limit is drawn") << Times{0} << Times{100} << Latencies{100.0} << 0;
    QTest::newRow("no keys") << Times{} << Times{1, 2} << Latencies{} << 0;
}

void TestKeystrokeTiming::match()
{
    QFETCH(Times, keys);
    QFETCH(Times, drawings);
    QFETCH(Latencies, latencies);
    QFETCH(int, overtaken);
    const KeyLatency::Matched matched = KeyLatency::match(keys, drawings, 100);
    QCOMPARE(matched.latencies, latencies);
    QCOMPARE(matched.overtaken, overtaken);
}

void TestKeystrokeTiming::figures_data()
{
    QTest::addColumn<Latencies>("latencies");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("p99");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("notDrawn");
    const double nan = std::numeric_limits<double>::quiet_NaN();

    Latencies twoHundred;
    for (int i = 200; i >= 1; --i) // given out of order
        twoHundred.emplace_back(double(i));
    Latencies hundred;
    for (int i = 1; i <= 100; ++i)
        hundred.emplace_back(double(i));
    Latencies twoHundredOneMissing = twoHundred;
    twoHundredOneMissing[0] = std::nullopt; // in place of 200
    Latencies threeMissing = twoHundred;
    threeMissing[0] = threeMissing[1] = threeMissing[2] = std::nullopt;

    QTest::newRow("none") << Latencies{} << nan << nan << nan << 0;
    QTest::newRow("one") << Latencies{4.0} << 4.0 << 4.0 << 4.0 << 0;
    QTest::newRow("odd count: the middle one")
        << Latencies{9.0, 1.0, 5.0} << 5.0 << 9.0 << 9.0 << 0;
    QTest::newRow("even count: between the middle two")
        << Latencies{1.0, 2.0, 4.0, 10.0} << 3.0 << 10.0 << 10.0 << 0;
    // Nearest rank: 99 % of 200 keys is 198 keys, so the 198th smallest.
    QTest::newRow("200 keys: p99 is the 198th") << twoHundred << 100.5 << 198.0 << 200.0 << 0;
    QTest::newRow("100 keys: p99 is the 99th") << hundred << 50.5 << 99.0 << 100.0 << 0;
    QTest::newRow("a key not drawn is the slowest")
        << twoHundredOneMissing << 100.5 << 198.0 << NeverDrawn << 1;
    QTest::newRow("three keys not drawn reach p99")
        << threeMissing << 100.5 << NeverDrawn << NeverDrawn << 3;
    QTest::newRow("more than half not drawn: so is the median")
        << Latencies{{}, {}, 1.0} << NeverDrawn << NeverDrawn << NeverDrawn << 2;
}

void TestKeystrokeTiming::figures()
{
    QFETCH(Latencies, latencies);
    QFETCH(double, median);
    QFETCH(double, p99);
    QFETCH(double, maximum);
    QFETCH(int, notDrawn);
    LatencySummary summary;
    for (const std::optional<double> &latency : latencies)
        summary.add(latency);
    QCOMPARE(summary.keys(), int(latencies.size()));
    QCOMPARE(summary.notDrawn(), notDrawn);
    QVERIFY2(same(summary.median(), median), qPrintable(QString::number(summary.median())));
    QVERIFY2(same(summary.percentile(0.99), p99),
             qPrintable(QString::number(summary.percentile(0.99))));
    QVERIFY2(same(summary.maximum(), maximum), qPrintable(QString::number(summary.maximum())));
}

void TestKeystrokeTiming::reportLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("notDrawn");
    QTest::addColumn<int>("overtaken");
    QTest::addColumn<double>("maximum");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("a drawn key") << "key 3 BackSpace 2.125" << true << 1 << 0 << 0 << 2.125;
    QTest::newRow("a key not drawn") << "key 3 a -" << true << 1 << 1 << 0 << NeverDrawn;
    QTest::newRow("the closing line")
        << "keys 10 drawings 9 overtaken 2" << true << 0 << 0 << 2 << nan;
    QTest::newRow("negative time") << "key 1 a -2.0" << false << 0 << 0 << 0 << nan;
    QTest::newRow("time with a unit") << "key 1 a 2.0ms" << false << 0 << 0 << 0 << nan;
    QTest::newRow("time not a number") << "key 1 a nan" << false << 0 << 0 << 0 << nan;
    QTest::newRow("infinite time") << "key 1 a inf" << false << 0 << 0 << 0 << nan;
    QTest::newRow("no time") << "key 1 a" << false << 0 << 0 << 0 << nan;
    QTest::newRow("a word too many") << "key 1 a 2.0 x" << false << 0 << 0 << 0 << nan;
    QTest::newRow("closing line misspelt")
        << "keys 10 drawing 9 overtaken 2" << false << 0 << 0 << 0 << nan;
    QTest::newRow("closing line cut short") << "keys 10 drawings 9" << false << 0 << 0 << 0 << nan;
    QTest::newRow("an error message") << "keystroke_timer: no key x" << false << 0 << 0 << 0 << nan;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0 << nan;
}

void TestKeystrokeTiming::reportLine()
{
    QFETCH(QString, line);
    QFETCH(bool, taken);
    LatencySummary summary;
    QCOMPARE(summary.addReportLine(line.toStdString()), taken);
    QTEST(summary.keys(), "keys");
    QTEST(summary.notDrawn(), "notDrawn");
    QTEST(summary.overtaken(), "overtaken");
    QFETCH(double, maximum);
    QVERIFY(same(summary.maximum(), maximum));
}

QTEST_APPLESS_MAIN(TestKeystrokeTiming)
#include "tst_keystroke_timing.moc"
