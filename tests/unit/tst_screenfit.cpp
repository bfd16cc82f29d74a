// How much smaller the board is drawn on a screen with less room than it needs.
#include "platform/ScreenFit.h"

#include <QtTest>

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void factorToFit_data();
    void factorToFit();
    void scaledFactorSetting_data();
    void scaledFactorSetting();
};

void TestScreenFit::factorToFit_data()
{
    QTest::addColumn<QSize>("available");
    QTest::addColumn<double>("factor"); // 0: drawn as it is

    // The board with a frame needs 1022 x 746.
    QTest::newRow("a large screen") << QSize(1920, 1050) << 0.0;
    QTest::newRow("exactly enough") << QSize(1022, 746) << 0.0;
    QTest::newRow("a laptop with a panel") << QSize(1366, 728) << 0.975;
    QTest::newRow("1280 x 720") << QSize(1280, 720) << 0.965;
    QTest::newRow("narrow rather than low") << QSize(1000, 900) << 0.978;
    QTest::newRow("scaled 150 % on 1920 x 1080") << QSize(1280, 720) << 0.965;
    QTest::newRow("too small to read, held at three quarters") << QSize(640, 480) << 0.75;
    QTest::newRow("no screen size known") << QSize() << 0.0;
}

void TestScreenFit::factorToFit()
{
    QFETCH(QSize, available);
    QFETCH(double, factor);
    const std::optional<double> fit = ScreenFit::factorToFit(available, QSize(1022, 746));
    QCOMPARE(fit.value_or(0.0), factor);
    // Drawn at that factor, the board fits, unless held at the smallest readable size.
    if (fit && *fit > ScreenFit::SmallestFactor) {
        QVERIFY(1022 * *fit <= available.width());
        QVERIFY(746 * *fit <= available.height());
    }
}

void TestScreenFit::scaledFactorSetting_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QByteArray>("setting");
    QTest::newRow("not set") << QByteArray() << QByteArray("0.965");
    QTest::newRow("the player's 150 %") << QByteArray("1.5") << QByteArray("1.4475");
    QTest::newRow("unreadable") << QByteArray("large") << QByteArray("0.965");
    QTest::newRow("zero") << QByteArray("0") << QByteArray("0.965");
}

void TestScreenFit::scaledFactorSetting()
{
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, setting);
    QCOMPARE(ScreenFit::scaledFactorSetting(current, 0.965), setting);
}

QTEST_GUILESS_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
