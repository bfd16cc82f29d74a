#include "FrmConnections.h"

#include "board/FrmMain.h"
#include "board/PictureButton.h"
#include "link/PeerSocket.h"
#include "link/WireMessage.h"
#include "platform/Fonts.h"
#include "platform/PlatformServices.h"

#include <QLabel>
#include <QLineEdit>

namespace {

PictureButton *pictureButton(QWidget *window, const char *name, const QString &picture,
                             const QRect &area)
{
    auto *button = new PictureButton(QPixmap(picture), QString(), window);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(area);
    return button;
}

QLabel *label(QWidget *window, const char *name, const QString &text, const QRect &area,
              const QColor &textColour)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(area);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, textColour);
    label->setPalette(palette);
    return label;
}

} // namespace

FrmConnections::FrmConnections(FrmMain &main, PlatformServices &platform)
    : m_main(main)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("frmConnections"));
    setWindowTitle(QStringLiteral("Connections"));
    setWindowIcon(main.windowIcon());
    setFont(Fonts::windowFont());
    setAttribute(Qt::WA_DeleteOnClose);
    resize(320, 114);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    auto *connectButton = pictureButton(
        this, "cmdConnect", QStringLiteral(":/assets/cmd_connect.jpg"), {112, 8, 97, 65});
    auto *closeButton =
        pictureButton(this, "cmdClose", QStringLiteral(":/assets/cmd_close.jpg"), {216, 8, 97, 65});
    QLabel *captions = label(
        this, "Label1", QStringLiteral("Wait For Connection  Connect to IP             Disconnect"),
        {8, 72, 305, 17}, Qt::white);
    captions->setAutoFillBackground(true);
    auto *address = new QLineEdit(this);
    address->setObjectName(QStringLiteral("txtIP"));
    address->setGeometry(56, 88, 257, 17);
    label(this, "Label8", QStringLiteral("Your IP :"), {8, 90, 41, 17}, QColor(0xC0, 0xC0, 0xC0));
    auto *waitButton =
        pictureButton(this, "cmdWait", QStringLiteral(":/assets/cmd_wait.jpg"), {8, 8, 97, 65});

    setTabOrder(connectButton, closeButton);
    setTabOrder(closeButton, address);
    setTabOrder(address, waitButton);
    connectButton->setFocus();

    connect(connectButton, &QPushButton::clicked, this, &FrmConnections::cmdConnect_Click);
    connect(closeButton, &QPushButton::clicked, this, &FrmConnections::cmdClose_Click);
    connect(waitButton, &QPushButton::clicked, this, &FrmConnections::cmdWait_Click);
    Form_Load();
}

void FrmConnections::Form_Load()
{
    findChild<QLineEdit *>(QStringLiteral("txtIP"))->setText(m_main.W1->LocalIP());
}

void FrmConnections::cmdConnect_Click()
{
    PeerSocket &link = *m_main.W1;
    link.Close();
    const QString answer =
        m_platform.inputBox(this, QStringLiteral("Enter an IP address to connect to"),
                            QStringLiteral("Connect"), QStringLiteral("127.0.0.1"));
    if (answer.isEmpty())
        return;
    link.SetRemotePort(m_main.port());
    m_main.lblStatus->setText(StatusText::WaitingForResponse);
    // The address is used exactly as the player typed it.
    link.Connect(answer, link.RemotePort());
}

void FrmConnections::cmdClose_Click()
{
    PeerSocket &link = *m_main.W1;
    // Fails, and is skipped, when nothing is connected.
    link.SendData(WireMessage::build(WireCode::Status, StatusText::Disconnected));
    link.Close();
    m_main.lblStatus->setText(StatusText::Disconnected);
}

// Ends whatever the link is doing and listens again, so a copy whose link ended can be
// reached once more without a restart.
void FrmConnections::cmdWait_Click()
{
    PeerSocket &link = *m_main.W1;
    if (link.State() == PeerSocket::Connected)
        link.SendData(WireMessage::build(WireCode::Status, StatusText::Disconnected));
    m_main.startListening();
}
