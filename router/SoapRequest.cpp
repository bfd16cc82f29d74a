#include "SoapRequest.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>
#include <QXmlStreamReader>

#include <optional>

namespace {

constexpr int HttpOk = 200;
constexpr quint16 HttpPort = 80;
// Answers to the actions sent here are a few hundred bytes.
constexpr qsizetype LargestHttpAnswer = 64 * 1024;

// The head of an HTTP answer.
struct HttpHead
{
    int status = 0; // 0 when the first line is not an HTTP status line
    bool chunked = false;
    qsizetype contentLength = -1;
    qsizetype bodyStart = 0;
};

// The head, once all of it has come.
std::optional<HttpHead> httpHead(const QByteArray &answer)
{
    const qsizetype end = answer.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> lines = answer.left(end).split('\n');
    const QList<QByteArray> statusLine = lines.first().simplified().split(' ');
    HttpHead head;
    head.bodyStart = end + 4;
    if (statusLine.size() < 2 || !statusLine.first().startsWith("HTTP/"))
        return head;
    head.status = statusLine.at(1).toInt();
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-length") {
            bool valid = false;
            const qsizetype length = value.toLongLong(&valid);
            if (valid)
                head.contentLength = length;
        } else if (name == "transfer-encoding") {
            head.chunked = value.contains("chunked");
        }
    }
    return head;
}

// The body of an answer sent in chunks, put back together, as far as it goes.
QByteArray joinedChunks(const QByteArray &chunks)
{
    QByteArray body;
    qsizetype at = 0;
    for (;;) {
        const qsizetype lineEnd = chunks.indexOf("\r\n", at);
        if (lineEnd < 0)
            break;
        // A chunk's size, in hexadecimal, may be followed by extensions after a semicolon.
        bool valid = false;
        const qsizetype size =
            chunks.mid(at, lineEnd - at).split(';').first().trimmed().toLongLong(&valid, 16);
        if (!valid || size <= 0)
            break;
        body += chunks.mid(lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    return body;
}

// Whether all of the answer has come, for a device that keeps the connection open after it.
bool isWholeAnswer(const QByteArray &answer)
{
    const std::optional<HttpHead> head = httpHead(answer);
    if (!head)
        return false;
    const QByteArray body = answer.mid(head->bodyStart);
    if (head->chunked)
        return body.startsWith("0\r\n\r\n") || body.endsWith("\r\n0\r\n\r\n");
    return head->contentLength >= 0 && body.size() >= head->contentLength;
}

QByteArray soapEnvelope(const QByteArray &serviceType, const QByteArray &action,
                        const SoapRequest::Arguments &arguments)
{
    QByteArray body = "<?xml version=\"1.0\"?>\r\n"
                      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
                      action + " xmlns:u=\"" + serviceType + "\">";
    for (const auto &[name, value] : arguments)
        body += '<' + name + '>' + value + "</" + name + '>';
    return body + "</u:" + action + "></s:Body></s:Envelope>\r\n";
}

} // namespace

namespace SoapRequest {

Answer send(const QString &controlUrl, const QByteArray &serviceType, const QByteArray &action,
            const Arguments &arguments, const QString &fromAddress, int timeoutMs)
{
    const QUrl url(controlUrl);
    const QHostAddress device(url.host());
    QTcpSocket socket;
    if (device.isNull() || !socket.bind(QHostAddress(fromAddress)))
        return {};
    const QDeadlineTimer deadline(timeoutMs);
    socket.connectToHost(device, quint16(url.port(HttpPort)));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return {};

    QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/";
    if (url.hasQuery())
        path += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    const QByteArray body = soapEnvelope(serviceType, action, arguments);
    socket.write("POST " + path + " HTTP/1.1\r\nHost: " + url.authority().toUtf8() +
                 "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nSOAPAction: \"" + serviceType +
                 '#' + action + "\"\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body);
    QByteArray answer;
    while (!isWholeAnswer(answer) && answer.size() < LargestHttpAnswer &&
           socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    answer += socket.readAll();
    return parse(answer);
}

Answer parse(const QByteArray &httpAnswer)
{
    Answer answer;
    const std::optional<HttpHead> head = httpHead(httpAnswer);
    if (!head || head->status == 0)
        return answer;
    answer.answered = true;
    QByteArray body = httpAnswer.mid(head->bodyStart);
    if (head->chunked)
        body = joinedChunks(body);
    // The arguments are the innermost elements, in the action's answer or in the fault's
    // UPnPError; their namespace prefixes differ from device to device.
    QXmlStreamReader xml(body);
    QString name;
    QString text;
    bool innermost = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            name = xml.name().toString();
            text.clear();
            innermost = true;
            break;
        case QXmlStreamReader::Characters:
            text += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (innermost)
                answer.values.insert(name, text.trimmed());
            innermost = false;
            break;
        default:
            break;
        }
    }
    const QString code = answer.values.value(QStringLiteral("errorCode"));
    bool valid = false;
    const int errorCode = code.toInt(&valid);
    if (valid)
        answer.errorCode = errorCode;
    else
        answer.errorCode = head->status == HttpOk ? 0 : -1;
    return answer;
}

} // namespace SoapRequest
