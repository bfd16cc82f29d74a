// The picture files in assets/: the windows load them by name and lay them out by their exact
// sizes, and the headers must stay in the plain forms every image reader understands.
#include <QFile>
#include <QList>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray readAsset(const QString &name)
{
    QFile file(QStringLiteral(SKARNET_ASSETS_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Readers for header fields. Offsets past the end read as zero so that a truncated file fails
// a comparison instead of reading out of bounds.
quint8 u8(const QByteArray &bytes, qsizetype at)
{
    return at >= 0 && at < bytes.size() ? quint8(bytes.at(at)) : 0;
}

quint16 le16(const QByteArray &bytes, qsizetype at)
{
    return at + 2 <= bytes.size() ? qFromLittleEndian<quint16>(bytes.constData() + at) : 0;
}

quint32 le32(const QByteArray &bytes, qsizetype at)
{
    return at + 4 <= bytes.size() ? qFromLittleEndian<quint32>(bytes.constData() + at) : 0;
}

qint32 sle32(const QByteArray &bytes, qsizetype at)
{
    return qint32(le32(bytes, at));
}

quint16 be16(const QByteArray &bytes, qsizetype at)
{
    return at + 2 <= bytes.size() ? qFromBigEndian<quint16>(bytes.constData() + at) : 0;
}

// Bytes in one row of 24-bit pixels, padded to a 4-byte boundary as bitmaps store them.
qint64 bitmapStride(int width)
{
    return (qint64(width) * 3 + 3) / 4 * 4;
}

constexpr qsizetype BitmapInfoHeaderSize = 40;

} // namespace

class tst_Assets : public QObject
{
    Q_OBJECT

private slots:
    void windowIcon();
    void bitmaps_data();
    void bitmaps();
    void splashInset();
    void jpegs_data();
    void jpegs();
};

void tst_Assets::windowIcon()
{
    const QByteArray ico = readAsset(QStringLiteral("skarnet.ico"));
    QVERIFY2(ico.size() >= 22 + BitmapInfoHeaderSize, "skarnet.ico is missing or truncated");

    // Icon directory with a single entry: 32x32, true colour.
    QCOMPARE(le16(ico, 0), 0);
    QCOMPARE(le16(ico, 2), 1);
    QCOMPARE(le16(ico, 4), 1);
    QCOMPARE(u8(ico, 6), 32);
    QCOMPARE(u8(ico, 7), 32);
    QCOMPARE(le16(ico, 12), 24);
    const quint32 imageSize = le32(ico, 14);
    const quint32 imageOffset = le32(ico, 18);
    QCOMPARE(qint64(imageOffset) + imageSize, qint64(ico.size()));

    // The image is a bitmap, not an embedded PNG; its height counts the colour rows and the
    // transparency mask rows together.
    QCOMPARE(le32(ico, imageOffset), quint32(BitmapInfoHeaderSize));
    QCOMPARE(sle32(ico, imageOffset + 4), 32);
    QCOMPARE(sle32(ico, imageOffset + 8), 64);
    QCOMPARE(le16(ico, imageOffset + 12), 1);
    QCOMPARE(le16(ico, imageOffset + 14), 24);
    QCOMPARE(le32(ico, imageOffset + 16), 0u);

    const qint64 colourBytes = 32 * bitmapStride(32);
    const qint64 maskBytes = 32 * 4;
    QCOMPARE(qint64(imageSize), BitmapInfoHeaderSize + colourBytes + maskBytes);
    // A set mask bit would punch a hole in the icon: every pixel must be opaque.
    const QByteArray mask = ico.sliced(imageOffset + BitmapInfoHeaderSize + colourBytes);
    QCOMPARE(mask, QByteArray(maskBytes, '\0'));
}

void tst_Assets::bitmaps_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("board decoration") << QStringLiteral("decor.bmp") << 135 << 295;
    QTest::newRow("splash background") << QStringLiteral("splash.bmp") << 472 << 352;
}

void tst_Assets::bitmaps()
{
    QFETCH(QString, file);
    QFETCH(int, width);
    QFETCH(int, height);

    const QByteArray bmp = readAsset(file);
    QVERIFY2(bmp.size() >= 14 + BitmapInfoHeaderSize,
             qPrintable(file + " is missing or truncated"));

    QCOMPARE(bmp.first(2), QByteArray("BM"));
    QCOMPARE(qint64(le32(bmp, 2)), qint64(bmp.size()));
    const quint32 pixelOffset = le32(bmp, 10);
    QVERIFY(pixelOffset >= 14 + BitmapInfoHeaderSize);

    QCOMPARE(le32(bmp, 14), quint32(BitmapInfoHeaderSize));
    QCOMPARE(sle32(bmp, 18), width);
    // A positive height means the rows are stored bottom-up.
    QCOMPARE(sle32(bmp, 22), height);
    QCOMPARE(le16(bmp, 26), 1);
    QCOMPARE(le16(bmp, 28), 24);
    QCOMPARE(le32(bmp, 30), 0u);
    QCOMPARE(bmp.size() - qint64(pixelOffset), height * bitmapStride(width));
}

void tst_Assets::splashInset()
{
    constexpr int TableEntries = 64;
    constexpr int ClearIndex = 63;
    const QByteArray gif = readAsset(QStringLiteral("splash_inset.gif"));
    QVERIFY2(gif.size() > 13 + 3 * TableEntries, "splash_inset.gif is missing or truncated");

    QCOMPARE(gif.first(6), QByteArray("GIF89a"));
    QCOMPARE(le16(gif, 6), 269);
    QCOMPARE(le16(gif, 8), 94);
    const quint8 screenFlags = u8(gif, 10);
    QVERIFY2(screenFlags & 0x80, "no global colour table");
    QCOMPARE(screenFlags & 0x07, 5); // 2^(5 + 1) = 64 entries
    QCOMPARE(u8(gif, 11), ClearIndex);

    // Walk the blocks that follow the colour table up to the trailer.
    qsizetype at = 13 + 3 * TableEntries;
    const auto skipSubBlocks = [&] {
        while (at < gif.size() && u8(gif, at) != 0)
            at += 1 + u8(gif, at);
        ++at;
    };
    int images = 0;
    int transparentIndex = -1;
    while (at < gif.size() && u8(gif, at) != 0x3B) {
        const quint8 introducer = u8(gif, at);
        if (introducer == 0x21) {
            if (u8(gif, at + 1) == 0xF9) {
                QVERIFY2(images == 0, "graphic control extension must precede the image");
                QCOMPARE(u8(gif, at + 2), 4);
                QVERIFY2(u8(gif, at + 3) & 0x01, "transparency flag not set");
                transparentIndex = u8(gif, at + 6);
            }
            at += 2;
            skipSubBlocks();
        } else if (introducer == 0x2C) {
            ++images;
            QCOMPARE(le16(gif, at + 1), 0);
            QCOMPARE(le16(gif, at + 3), 0);
            QCOMPARE(le16(gif, at + 5), 269);
            QCOMPARE(le16(gif, at + 7), 94);
            const quint8 imageFlags = u8(gif, at + 9);
            at += 10;
            if (imageFlags & 0x80)
                at += 3 * (2 << (imageFlags & 0x07));
            ++at; // LZW minimum code size
            skipSubBlocks();
        } else {
            QFAIL(qPrintable(QStringLiteral("unexpected block 0x%1 at offset %2")
                                 .arg(introducer, 2, 16, QLatin1Char('0'))
                                 .arg(at)));
        }
    }
    QVERIFY2(at < gif.size(), "no trailer");
    QCOMPARE(images, 1);
    QCOMPARE(transparentIndex, ClearIndex);
}

void tst_Assets::jpegs_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("connections button") << QStringLiteral("connections_button.jpg") << 112 << 58;
    QTest::newRow("wait for connection") << QStringLiteral("cmd_wait.jpg") << 101 << 95;
    QTest::newRow("connect to ip") << QStringLiteral("cmd_connect.jpg") << 101 << 65;
    QTest::newRow("disconnect") << QStringLiteral("cmd_close.jpg") << 91 << 85;
}

void tst_Assets::jpegs()
{
    QFETCH(QString, file);
    QFETCH(int, width);
    QFETCH(int, height);

    const QByteArray jpg = readAsset(file);
    QVERIFY2(jpg.size() > 20, qPrintable(file + " is missing or truncated"));

    QCOMPARE(be16(jpg, 0), 0xFFD8);
    QCOMPARE(be16(jpg, 2), 0xFFE0);
    QCOMPARE(jpg.sliced(6, 5), QByteArray("JFIF", 5));

    // Every frame header comes before the first scan. Exactly one is allowed, and it must be
    // the baseline kind: progressive or lossless frames are not read everywhere.
    QList<int> frames;
    qsizetype at = 2;
    while (at + 4 <= jpg.size() && u8(jpg, at + 1) != 0xDA) {
        QCOMPARE(u8(jpg, at), 0xFF);
        const quint8 marker = u8(jpg, at + 1);
        const bool isFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (isFrame) {
            frames.append(marker);
            QCOMPARE(u8(jpg, at + 4), 8);
            QCOMPARE(be16(jpg, at + 5), height);
            QCOMPARE(be16(jpg, at + 7), width);
            QCOMPARE(u8(jpg, at + 9), 3);
        }
        at += 2 + be16(jpg, at + 2);
    }
    QVERIFY2(at + 4 <= jpg.size(), "no scan");
    QCOMPARE(frames, QList<int>{0xC0});
}

QTEST_APPLESS_MAIN(tst_Assets)
#include "tst_assets.moc"
