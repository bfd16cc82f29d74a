#include "board/FrmMain.h"
#include "platform/QtPlatformServices.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarnet"));
    QApplication::setApplicationVersion(QStringLiteral("1.3.0.2"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));

    QtPlatformServices platform;
    FrmMain frmMain(platform);
    frmMain.Form_Load();
    frmMain.show();
    return app.exec();
}
