#include "board/FrmMain.h"
#include "platform/QtPlatformServices.h"
#include "startup/FrmSplash.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarnet"));
    QApplication::setApplicationVersion(QStringLiteral("1.3.0.2"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));

    QtPlatformServices platform;
    std::unique_ptr<FrmMain> frmMain;
    auto *splash = new FrmSplash;
    QObject::connect(splash, &FrmSplash::dismissed, [&] {
        frmMain = std::make_unique<FrmMain>(platform);
        frmMain->Form_Load();
        frmMain->show();
    });
    splash->show();
    const int status = app.exec();
    // Closing the window said goodbye; the socket finishes delivering it as it goes.
    frmMain.reset();
    return status;
}
