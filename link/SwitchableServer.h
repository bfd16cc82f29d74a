#pragma once

#include <QTcpServer>

// A TCP server whose connections can switch to TLS once they are under way: each is a
// QSslSocket, unencrypted until its owner starts the server side of TLS.
class SwitchableServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};
