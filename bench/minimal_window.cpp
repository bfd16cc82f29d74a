// The least a Qt Widgets program can do to put a window on screen: the start-up benchmark's
// baseline. One borderless window of the splash's size, with nothing in it, built with the same
// toolkit and flags as the program, so what the program takes beyond this is its own doing.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setFixedSize(472, 352);
    window.show();
    return app.exec();
}
