// The least two Qt Widgets programs can do to show on one screen what is typed on another: the
// keystroke benchmark's baseline, built with the same toolkit and flags as the program.
//
//   minimal_link receive PORT   one label, titled "Minimal receiver", that listens on
//                               127.0.0.1:PORT and shows the last whole line that arrived
//   minimal_link send PORT      one line edit, titled "Minimal sender", that connects to
//                               127.0.0.1:PORT and sends its whole text and a line break at
//                               every change
//
// Both sockets have Nagle's algorithm off (TCP_NODELAY), and the sender flushes each line, so
// it leaves at once instead of on the socket's next turn in the event loop, after the line
// edit has repainted. Qt's own options such as -geometry place the window.
#include <QApplication>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

int receive(QApplication &app, quint16 port)
{
    QLabel label;
    label.setWindowTitle(QStringLiteral("Minimal receiver"));
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label.setWordWrap(true);

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "minimal_link: cannot listen on port %u: %s\n", unsigned(port),
                     qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &label, [&] {
        QTcpSocket *peer = server.nextPendingConnection();
        peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(peer, &QTcpSocket::readyRead, &label, [peer, &label] {
            QByteArray line;
            while (peer->canReadLine())
                line = peer->readLine();
            if (!line.isEmpty()) {
                line.chop(1);
                label.setText(QString::fromUtf8(line));
            }
        });
    });
    label.show();
    return app.exec();
}

int send(QApplication &app, quint16 port)
{
    QLineEdit edit;
    edit.setWindowTitle(QStringLiteral("Minimal sender"));

    QTcpSocket socket;
    const auto dial = [&socket, port] {
        socket.connectToHost(QHostAddress::LocalHost, port);
    };
    QObject::connect(&socket, &QTcpSocket::connected, &edit,
                     [&socket] { socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    // The receiver may not listen yet.
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &edit,
                     [dial] { QTimer::singleShot(100, dial); });
    QObject::connect(&edit, &QLineEdit::textChanged, &edit, [&socket](const QString &text) {
        socket.write(text.toUtf8() + '\n');
        socket.flush();
    });
    dial();
    edit.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool valid = arguments.size() == 3;
    const uint port = valid ? arguments[2].toUInt(&valid) : 0;
    if (!valid || port == 0 || port > 65535 ||
        (arguments[1] != QLatin1String("receive") && arguments[1] != QLatin1String("send"))) {
        std::fprintf(stderr, "usage: minimal_link receive|send PORT [Qt options]\n");
        return 2;
    }
    return arguments[1] == QLatin1String("receive") ? receive(app, quint16(port))
                                                    : send(app, quint16(port));
}
