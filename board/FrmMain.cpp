#include "FrmMain.h"

#include "board/ZoneTable.h"
#include "link/PeerSocket.h"
#include "link/WireMessage.h"
#include "platform/PlatformServices.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>

namespace {

const QString StatusConnected = QStringLiteral("Connected");
const QString StatusDisconnected = QStringLiteral("Disconnected");
const QString StatusWaiting = QStringLiteral("Waiting for connection");

} // namespace

FrmMain::FrmMain(PlatformServices &platform, int port, QWidget *parent)
    : QWidget(parent)
    , W1(new PeerSocket(this))
    , lblStatus(new QLabel(StatusDisconnected, this))
    , m_platform(platform)
    , m_port(port)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Skarnet"));
    W1->setObjectName(QStringLiteral("W1"));
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);

    connect(W1, &PeerSocket::ConnectionRequest, this, &FrmMain::W1_ConnectionRequest);
    connect(W1, &PeerSocket::DataArrival, this, &FrmMain::W1_DataArrival);
    connect(W1, &PeerSocket::CloseEvent, this, &FrmMain::W1_Close);
    connect(W1, &PeerSocket::LinkError, this, &FrmMain::W1_Error);
}

FrmMain::~FrmMain()
{
    sayGoodbyeAndClose();
}

void FrmMain::Form_Load()
{
    m_platform.messageBox(nullptr, QStringLiteral("This program was made thanks to Tarvo"),
                          QStringLiteral("Thanks"));
    W1->Close();
    W1->SetLocalPort(m_port);
    if (W1->Listen()) {
        lblStatus->setText(StatusWaiting);
    } else {
        lblStatus->setText(tr("Cannot listen on port %1: %2").arg(m_port).arg(W1->ListenError()));
    }
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload()
{
    sayGoodbyeAndClose();
    m_platform.endProgram();
}

void FrmMain::sayGoodbyeAndClose()
{
    if (W1->State() != PeerSocket::Connected)
        return;
    W1->SendData(WireMessage::build(WireCode::Status, StatusDisconnected));
    W1->Close();
}

void FrmMain::W1_ConnectionRequest(int requestId)
{
    W1->Close();
    W1->Accept(requestId);
    W1->SendData(WireMessage::build(WireCode::Status, StatusConnected));
    lblStatus->setText(StatusConnected);
}

void FrmMain::W1_DataArrival(qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal)
    GetAll();
}

void FrmMain::W1_Close()
{
    W1->Close();
    // The peer may have gone without saying goodbye; the link is down either way.
    lblStatus->setText(StatusDisconnected);
}

void FrmMain::W1_Error(const QString &description)
{
    lblStatus->setText(description);
}

void FrmMain::GetAll()
{
    QString received;
    while (W1->GetData(received))
        apply(WireMessage::parse(received));
}

void FrmMain::apply(const WireMessage &message)
{
    if (const ZoneMirror *zone = ZoneTable::byCode(message.code)) {
        const QString text = WireMessage::fromWireLineBreaks(message.payload);
        QWidget *display = findChild<QWidget *>(zone->displayName);
        if (auto *label = qobject_cast<QLabel *>(display)) {
            label->setText(text);
        } else if (auto *box = qobject_cast<QPlainTextEdit *>(display)) {
            box->setPlainText(text);
        }
    } else if (message.code == WireCode::Status) {
        lblStatus->setText(message.payload);
    } else if (message.code == WireCode::Announcement) {
        m_platform.announce(this, message.payload, QStringLiteral("Skarnet"));
    }
}
