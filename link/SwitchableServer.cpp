#include "SwitchableServer.h"

#include <QSslSocket>

void SwitchableServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (socket->setSocketDescriptor(descriptor))
        addPendingConnection(socket);
    else
        delete socket;
}
