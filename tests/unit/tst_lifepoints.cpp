// The life point calculator's arithmetic: which amounts it takes, how texts read as numbers,
// how totals are written, and the add and subtract steps, without any window.
#include "board/LifePoints.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();
}

class TestLifePoints : public QObject
{
    Q_OBJECT

private slots:
    void isNumeric_data();
    void isNumeric();
    void valueOf_data();
    void valueOf();
    void toText_data();
    void toText();
    void step_data();
    void step();
};

void TestLifePoints::isNumeric_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    const QStringList yes{"500",    "-500",  "+5",       "0",     "1.5",    ".5",
                          "-.5",    "5.",    "1e3",      "1E-2",  "1e+3",   "2d2",
                          "1D-1",   "&H10",  "&hFf",     "&o17",  "&O0",    "  500  ",
                          "\t-5\t", "1,000", "1,000.25", "1,,0,", "1,000e3"};
    const QStringList no{
        "",      "   ",   "abc",   "5x",    "x5",  "1e",
        "1e+",   "1E-",   "e5",    "&H",    "&O8", "&H1G",
        "&X10",  "&",     "-&H10", "1.2.3", ",5",  "-,5",
        "1.0,5", "1e3,0", "1e3.5", "-",     "+",   ".",
        "-.",    "5 0",   "- 5",   "5-",    "\n5", QStringLiteral("\uFF15") /* full-width digit */};
    for (const QString &text : yes)
        QTest::addRow("yes '%s'", qPrintable(text)) << text << true;
    for (const QString &text : no)
        QTest::addRow("no '%s'", qPrintable(text)) << text << false;
}

void TestLifePoints::isNumeric()
{
    QFETCH(QString, text);
    QTEST(LifePoints::isNumeric(text), "numeric");
}

void TestLifePoints::valueOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    // Amounts read whole.
    QTest::newRow("thousands") << "1,000" << 1000.0;
    QTest::newRow("thousands and fraction") << " 1,000.25 " << 1000.25;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("negative exponent") << "1E-2" << 0.01;
    QTest::newRow("d exponent") << "-2D2" << -200.0;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("point last") << "5." << 5.0;
    QTest::newRow("hex") << "&H10" << 16.0;
    QTest::newRow("hex any case") << "&hfF" << 255.0;
    QTest::newRow("hex has no sign bit") << "&HFFFFFFFF" << 4294967295.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal wide") << "&O777777777777777777777" << 9223372036854775808.0;
    // Everything else: the longest leading number.
    QTest::newRow("trailing letters") << "8000x" << 8000.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("digits later") << "12abc34" << 12.0;
    QTest::newRow("exponent without digits") << "1e" << 1.0;
    QTest::newRow("exponent sign without digits") << "1e+x" << 1.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("blanks inside") << "1 2" << 12.0;
    QTest::newRow("blanks everywhere") << " - 1 . 5 e 2 x" << -150.0;
    QTest::newRow("comma ends a non-amount") << "1,000x" << 1.0;
    QTest::newRow("second point ends") << "1.2.3" << 1.2;
    QTest::newRow("hex ends at non-digit") << "&H1G" << 1.0;
    QTest::newRow("octal ends at 8") << "&O78" << 7.0;
    QTest::newRow("bare prefix") << "&H" << 0.0;
    QTest::newRow("sign before hex") << "-&H10" << 0.0;
    // Rounded correctly, however the number is written.
    QTest::newRow("tenth") << "0.1" << 0.1;
    QTest::newRow("beyond 2^53 ties to even") << "9007199254740993" << 9007199254740992.0;
    QTest::newRow("hex beyond 2^53 ties to even") << "&H20000000000001" << 9007199254740992.0;
    QTest::newRow("hex rounded once, not digit by digit")
        << "&H200000000000011" << 144115188075855904.0;
    QTest::newRow("octal beyond 2^53 rounds up") << "&O400000000000000003" << 9007199254740996.0;
    QTest::newRow("many digits") << "123456789012345678901234567890" << 1.2345678901234568e29;
    QTest::newRow("largest double") << "1.7976931348623157e308" << 1.7976931348623157e308;
    QTest::newRow("smallest double") << "4.9406564584124654e-324" << 4.9406564584124654e-324;
    QTest::newRow("leading zeros offset exponent") << "0." + QString(400, u'0') + "1e401" << 1.0;
    QTest::newRow("trailing zeros offset exponent") << "1" + QString(400, u'0') + "e-400" << 1.0;
    // Out of range: infinity above, zero below, no overflow on the way.
    QTest::newRow("overflow") << "1e309" << Inf;
    QTest::newRow("negative overflow") << "-1,000e400" << -Inf;
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("huge exponent") << "1e99999999999999999999999" << Inf;
    QTest::newRow("huge negative exponent") << "-1e-99999999999999999999x" << 0.0;
    QTest::newRow("zero with huge exponent") << "0e99999999999999999999999" << 0.0;
    QTest::newRow("long digits") << QString(400, u'9') << Inf;
    QTest::newRow("long hex") << "&H" + QString(300, u'F') << Inf;
    QTest::newRow("long octal") << "&O" + QString(400, u'7') << Inf;
    QTest::newRow("wide hex in range") << "&H1" + QString(255, u'0') << std::ldexp(1.0, 1020);
}

void TestLifePoints::valueOf()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    // Exact: QCOMPARE on doubles would forgive the last bits.
    const double read = LifePoints::valueOf(text);
    QVERIFY2(read == value, qPrintable(QString::number(read, 'g', 17)));
}

void TestLifePoints::toText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 7500.0 << "7500";
    QTest::newRow("negative") << -200.0 << "-200";
    QTest::newRow("half") << 7999.5 << "7999.5";
    QTest::newRow("sum of tenths") << 0.1 + 0.2 << "0.3";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("third") << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("two thirds round up") << -2.0 / 3 << "-0.666666666666667";
    QTest::newRow("15 digits stay plain") << 123456789012345.0 << "123456789012345";
    QTest::newRow("rounds to 15 digits") << 12345678901234.56 << "12345678901234.6";
    QTest::newRow("rounds up to 1E+15") << 999999999999999.9 << "1E+15";
    QTest::newRow("large") << 1.5e15 << "1.5E+15";
    QTest::newRow("very large") << -1e300 << "-1E+300";
    QTest::newRow("small stays plain") << 0.0001 << "0.0001";
    QTest::newRow("rounds up to 0.0001") << 0.00009999999999999999 << "0.0001";
    QTest::newRow("smaller") << 1.5e-5 << "1.5E-05";
    QTest::newRow("smallest") << -4.9406564584124654e-324 << "-4.94065645841247E-324";
}

void TestLifePoints::toText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(LifePoints::toText(value), text);
    // Every total can be typed back as an amount and reads as what is shown.
    QVERIFY(LifePoints::isNumeric(text));
    QCOMPARE(LifePoints::toText(LifePoints::valueOf(text)), text);
}

void TestLifePoints::step_data()
{
    QTest::addColumn<QString>("lifePoints");
    QTest::addColumn<bool>("adding");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("result"); // empty: the step does not apply
    const auto row = [](const char *name, const char *lifePoints, bool adding, const char *amount,
                        const char *result) {
        QTest::newRow(name) << QString(lifePoints) << adding << QString(amount) << QString(result);
    };
    row("add", "8000", true, "1000", "9000");
    row("subtract", "8000", false, "500", "7500");
    row("add a half", "8000", true, "0.5", "8000.5");
    row("emptied life points", "", true, "100", "100");
    row("thousands separator", "8000", false, "1,000", "7000");
    row("add negative", "8000", true, "-500", "7500");
    row("subtract negative", "8000", false, " -500 ", "8500");
    row("below zero", "100", false, "500", "-400");
    row("down to zero", "-0", false, "0", "0");
    row("life points not a number", "abc", true, "100", "100");
    row("life points with letters", "8000x", false, "1", "7999");
    row("life points with blanks", "8 000", false, "1", "7999");
    row("tenths", "0.1", true, "0.2", "0.3");
    row("hex amount", "0", true, "&H10", "16");
    row("large total", "8000", true, "1e15", "1.000000000008E+15");
    row("amount not a number", "8000", true, "5x", "");
    row("amount empty", "8000", false, "", "");
    row("amount with inner blank", "8000", false, "1 000", "");
    row("sum overflows", "1e308", true, "1e308", "");
    row("difference overflows", "-1e308", false, "1e308", "");
    row("amount out of range", "8000", true, "1e400", "");
    row("life points out of range", "1e400", false, "1", "");
    row("infinities cancel", "-1e400", true, "1e400", "");
}

void TestLifePoints::step()
{
    QFETCH(QString, lifePoints);
    QFETCH(bool, adding);
    QFETCH(QString, amount);
    QFETCH(QString, result);
    const std::optional<QString> total =
        adding ? LifePoints::add(lifePoints, amount) : LifePoints::subtract(lifePoints, amount);
    QCOMPARE(total.has_value(), !result.isEmpty());
    if (total)
        QCOMPARE(*total, result);
}

QTEST_APPLESS_MAIN(TestLifePoints)
#include "tst_lifepoints.moc"
