// How much smaller the board is drawn on a screen with less room than it needs.
#include "platform/ScreenFit.h"

#include <QtTest>

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void factorToFit_data();
    void factorToFit();
    void scaledRectangles_data();
    void scaledRectangles();
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

// Two controls side by side at the normal size, the right one overlapping the left by a pixel,
// as neighbouring zone frames do.
const QRect LeftControl(64, 1, 129, 153);
const QRect RightControl(192, 1, 129, 153);

void TestScreenFit::scaledRectangles_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<QRect>("left");
    QTest::addColumn<QRect>("right");
    QTest::newRow("the normal size") << 1.0 << LeftControl << RightControl;
    QTest::newRow("1280 x 720") << 0.965 << QRect(62, 1, 124, 148) << QRect(185, 1, 125, 148);
    QTest::newRow("three quarters") << 0.75 << QRect(48, 1, 97, 115) << QRect(144, 1, 97, 115);
}

void TestScreenFit::scaledRectangles()
{
    QFETCH(double, factor);
    QFETCH(QRect, left);
    QFETCH(QRect, right);
    QCOMPARE(ScreenFit::scaled(LeftControl, factor), left);
    QCOMPARE(ScreenFit::scaled(RightControl, factor), right);
    // Each edge is rounded on its own, so the overlap is kept whatever the factor.
    QCOMPARE(left.right(), right.left());
}

QTEST_GUILESS_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
