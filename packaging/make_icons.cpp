// Draws the program's icon as the PNG files a freedesktop icon theme looks for:
// OUTPUT_DIR/<size>x<size>/apps/skarnet.png for every size given.
//
// usage: make_icons ICON_FILE OUTPUT_DIR SIZE...

#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The application object gives the image reader its plugin directories (for the ICO file).
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: make_icons ICON_FILE OUTPUT_DIR SIZE...\n", stderr);
        return 2;
    }
    QImage icon(arguments.at(1));
    if (icon.isNull()) {
        std::fprintf(stderr, "make_icons: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    icon = icon.convertToFormat(QImage::Format_ARGB32);
    for (const QString &sizeText : arguments.mid(3)) {
        bool isNumber = false;
        const int size = sizeText.toInt(&isNumber);
        if (!isNumber || size < 1) {
            std::fprintf(stderr, "make_icons: bad size %s\n", qPrintable(sizeText));
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(arguments.at(2)).arg(size);
        const QImage scaled =
            icon.size() == QSize(size, size)
                ? icon
                : icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString file = dir + QStringLiteral("/skarnet.png");
        if (!QDir().mkpath(dir) || !scaled.save(file, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
