#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <utility>

// One UPnP action sent to a device's control URL as a SOAP request over HTTP, from a local
// address of the caller's choosing (a device may judge the request by the address it comes
// from). Blocks for at most `timeoutMs`.
namespace SoapRequest {

using Arguments = QList<std::pair<QByteArray, QByteArray>>;

struct Answer
{
    // False when no HTTP answer came at all.
    bool answered = false;
    // 0 when the device did what it was asked, else its UPnP error code (-1 for an HTTP error
    // without one).
    int errorCode = -1;
    // The answer's arguments, by name.
    QHash<QString, QString> values;

    bool succeeded() const { return answered && errorCode == 0; }
};

Answer send(const QString &controlUrl, const QByteArray &serviceType, const QByteArray &action,
            const Arguments &arguments, const QString &fromAddress, int timeoutMs);
// Reads an HTTP answer to a SOAP request, whole or sent in chunks.
Answer parse(const QByteArray &httpAnswer);

} // namespace SoapRequest
