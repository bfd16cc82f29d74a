#include "ConnectionsWindow.h"

#include "board/TableProtocol.h"
#include "link/LocalAddresses.h"
#include "link/PeerAddress.h"
#include "link/PeerLink.h"
#include "platform/Fonts.h"
#include "platform/PictureButton.h"
#include "platform/PlatformServices.h"
#include "platform/ValueLabel.h"
#include "platform/ValueLabelAccessible.h"
#include "router/PortMappingScheduler.h"
#include "trust/Invitation.h"
#include "wire/WireMessage.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

const QString MarkChangesSetting = QStringLiteral("board/markOpponentChanges");

PictureButton *pictureButton(QWidget *window, const char *name, const QString &picture,
                             const QRect &area)
{
    auto *button = new PictureButton(QPixmap(picture), QString(), window);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(area);
    return button;
}

// A caption; a ValueLabel for a line whose text the program changes.
template <typename Label = QLabel>
Label *label(QWidget *window, const char *name, const QString &text, const QRect &area,
             const QColor &textColour)
{
    auto *label = new Label(text, window);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(area);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, textColour);
    label->setPalette(palette);
    return label;
}

} // namespace

ConnectionsWindow::ConnectionsWindow(TableProtocol &table, PlatformServices &platform,
                                     const PortMappingScheduler *portMapper)
    : m_table(table)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("frmConnections"));
    setWindowTitle(QStringLiteral("Connections"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));
    setFont(Fonts::windowFont());
    setAttribute(Qt::WA_DeleteOnClose);
    resize(320, 372);
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
    auto *address = m_address = new QLineEdit(this);
    address->setObjectName(QStringLiteral("txtIP"));
    address->setGeometry(56, 88, 257, 17);
    label(this, "Label8", QStringLiteral("Your IP :"), {8, 90, 41, 17}, QColor(0xC0, 0xC0, 0xC0));
    auto *waitButton =
        pictureButton(this, "cmdWait", QStringLiteral(":/assets/cmd_wait.jpg"), {8, 8, 97, 65});
    // The pictures carry no caption of their own; a screen reader names each button by the
    // caption printed under it.
    waitButton->setAccessibleName(QStringLiteral("Wait For Connection"));
    waitButton->setAccessibleDescription(QStringLiteral("Ends the link and listens again"));
    connectButton->setAccessibleName(QStringLiteral("Connect to IP"));
    connectButton->setAccessibleDescription(
        QStringLiteral("Asks for the other player's address and connects to it"));
    closeButton->setAccessibleName(QStringLiteral("Disconnect"));
    closeButton->setAccessibleDescription(
        QStringLiteral("Ends the link and tells the other player"));
    captions->setAccessibleName(QStringLiteral("Wait For Connection, Connect to IP, Disconnect"));
    address->setAccessibleName(QStringLiteral("Your IP address"));
    address->setAccessibleDescription(QStringLiteral("Give it to the other player to connect"));

    // What the other player needs besides txtIP: the port, and the machine's other addresses
    // for when the first one is not reachable from where they are. Both can be selected and
    // copied but not edited.
    QLabel *portCaption = label(this, "lblPort", QStringLiteral("Port :"), {8, 110, 41, 17},
                                QColor(0xC0, 0xC0, 0xC0));
    auto *port = m_portBox = new QLineEdit(this);
    portCaption->setBuddy(port);
    port->setObjectName(QStringLiteral("txtPort"));
    port->setAccessibleName(QStringLiteral("Port this copy listens on"));
    port->setReadOnly(true);
    port->setGeometry(56, 108, 57, 17);
    QLabel *othersCaption = label(this, "lblOtherIPs", QStringLiteral("Others :"), {8, 130, 41, 17},
                                  QColor(0xC0, 0xC0, 0xC0));
    auto *others = m_otherAddresses = new QPlainTextEdit(this);
    othersCaption->setBuddy(others);
    others->setObjectName(QStringLiteral("txtOtherIPs"));
    others->setAccessibleName(QStringLiteral("Other addresses of this machine"));
    others->setReadOnly(true);
    others->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    others->setLineWrapMode(QPlainTextEdit::NoWrap);
    others->setPlaceholderText(QStringLiteral("No other addresses"));
    others->setGeometry(56, 128, 257, 40);

    // What the other player dials from another network, in words: the router's answer.
    auto *internet = m_internet = label<ValueLabel>(this, "lblInternet", QString(),
                                                    {8, 172, 257, 72}, QColor(0xC0, 0xC0, 0xC0));
    internet->setWordWrap(true);
    internet->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    internet->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ValueLabelAccessible::present(internet, QStringLiteral("Internet address"));
    auto *copy = m_copyAddress = new QPushButton(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("cmdCopyAddress"));
    copy->setAccessibleName(QStringLiteral("Copy internet address"));
    copy->setAccessibleDescription(
        QStringLiteral("Copies the address and port the other player dials from the internet"));
    copy->setGeometry(268, 172, 45, 21);

    // The one line to send the other player: where to dial, which copy they will reach, and a
    // ticket that seats them once.
    QLabel *invitationCaption = label(this, "lblInvitation", QStringLiteral("Invitation :"),
                                      {8, 248, 80, 17}, QColor(0xC0, 0xC0, 0xC0));
    auto *invitation = m_invitation = new QLineEdit(this);
    invitationCaption->setBuddy(invitation);
    invitation->setObjectName(QStringLiteral("txtInvitation"));
    invitation->setAccessibleName(QStringLiteral("Invitation"));
    invitation->setAccessibleDescription(
        QStringLiteral("Send this line to the other player; it seats them once"));
    invitation->setReadOnly(true);
    invitation->setGeometry(8, 266, 305, 19);
    auto *copyInvitation = m_copyInvitation = new QPushButton(QStringLiteral("Copy"), this);
    copyInvitation->setObjectName(QStringLiteral("cmdCopyInvitation"));
    copyInvitation->setAccessibleName(QStringLiteral("Copy invitation"));
    copyInvitation->setGeometry(8, 289, 60, 21);
    auto *newInvitation = new QPushButton(QStringLiteral("New invitation"), this);
    newInvitation->setObjectName(QStringLiteral("cmdNewInvitation"));
    newInvitation->setAccessibleDescription(
        QStringLiteral("Makes a new invitation; the one given out before no longer works"));
    newInvitation->setGeometry(72, 289, 100, 21);
    auto *invitedOnly = m_invitedOnly = new QCheckBox(QStringLiteral("Invited only"), this);
    invitedOnly->setObjectName(QStringLiteral("chkInvitedOnly"));
    invitedOnly->setAccessibleDescription(
        QStringLiteral("Seats only the player who comes with this table's invitation"));
    invitedOnly->setGeometry(180, 289, 133, 21);
    invitedOnly->setChecked(table.invitedOnly());
    QPalette checkPalette = invitedOnly->palette();
    checkPalette.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));
    invitedOnly->setPalette(checkPalette);
    auto *protection = m_protection =
        label<ValueLabel>(this, "lblProtection", QString(), {8, 314, 305, 17}, Qt::white);
    ValueLabelAccessible::present(protection, QStringLiteral("Link protection"));
    auto *notice = m_notice = label<ValueLabel>(this, "lblNotice", table.lastNotice(),
                                                {8, 331, 305, 17}, QColor(0xC0, 0xC0, 0xC0));
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ValueLabelAccessible::present(notice, QStringLiteral("Last refused connection"));
    auto *markChanges = new QCheckBox(QStringLiteral("Mark the opponent's changes"), this);
    markChanges->setObjectName(QStringLiteral("chkMarkChanges"));
    markChanges->setAccessibleDescription(QStringLiteral(
        "Colours the caption of each display of the opponent's half for a moment when it changes"));
    markChanges->setGeometry(8, 349, 305, 19);
    markChanges->setChecked(marksOpponentChanges(platform));
    markChanges->setPalette(checkPalette);

    setTabOrder(connectButton, closeButton);
    setTabOrder(closeButton, address);
    setTabOrder(address, port);
    setTabOrder(port, others);
    setTabOrder(others, copy);
    setTabOrder(copy, invitation);
    setTabOrder(invitation, copyInvitation);
    setTabOrder(copyInvitation, newInvitation);
    setTabOrder(newInvitation, invitedOnly);
    setTabOrder(invitedOnly, markChanges);
    setTabOrder(markChanges, waitButton);
    connectButton->setFocus();

    connect(copyInvitation, &QPushButton::clicked, this,
            &ConnectionsWindow::onCopyInvitationClicked);
    connect(newInvitation, &QPushButton::clicked, this, &ConnectionsWindow::onNewInvitationClicked);
    connect(invitedOnly, &QCheckBox::toggled, this,
            [this](bool checked) { m_table.setInvitedOnly(checked); });
    connect(markChanges, &QCheckBox::toggled, this, [this](bool checked) {
        m_platform.remember(MarkChangesSetting,
                            checked ? QStringLiteral("on") : QStringLiteral("off"));
        emit markOpponentChangesToggled(checked);
    });
    connect(&table, &TableProtocol::invitationChanged, this, &ConnectionsWindow::showInvitation);
    connect(&table, &TableProtocol::protectionChanged, this, &ConnectionsWindow::showProtection);
    connect(&table, &TableProtocol::statusNotice, notice, &ValueLabel::setText);
    showProtection();

    connect(connectButton, &QPushButton::clicked, this, &ConnectionsWindow::onConnectClicked);
    connect(closeButton, &QPushButton::clicked, this, &ConnectionsWindow::onDisconnectClicked);
    connect(waitButton, &QPushButton::clicked, this, &ConnectionsWindow::onWaitClicked);
    connect(copy, &QPushButton::clicked, this, &ConnectionsWindow::onCopyAddressClicked);
    if (portMapper) {
        connect(portMapper, &PortMappingScheduler::changed, this, &ConnectionsWindow::showMapping);
        showMapping(portMapper->current());
    } else {
        showMapping(PortMappingResult());
    }
    showAddresses();
}

void ConnectionsWindow::showAddresses()
{
    const QStringList addresses = LocalAddresses::all();
    m_address->setText(addresses.isEmpty() ? m_table.link().localAddress() : addresses.first());
    m_portBox->setText(QString::number(m_table.link().localPort()));
    m_otherAddresses->setPlainText(addresses.mid(1).join(QLatin1Char('\n')));
}

void ConnectionsWindow::showMapping(const PortMappingResult &mapping)
{
    // The router's reason is its own text: shown as plain text like everything else.
    m_internet->setText(mapping.sentence());
    m_dialAddress = mapping.dialAddress();
    m_copyAddress->setEnabled(!m_dialAddress.isEmpty());
    showInvitation();
}

// The address in the invitation is the one the router opened when it did, else this
// machine's best one.
void ConnectionsWindow::showInvitation()
{
    Invitation invitation;
    const PeerAddress routed = PeerAddress::parse(m_dialAddress, m_table.port());
    if (!m_dialAddress.isEmpty() && routed.isValid()) {
        invitation.host = routed.host;
        invitation.port = routed.port;
    } else {
        invitation.host = m_table.link().localAddress();
        invitation.port =
            m_table.link().isListening() ? m_table.link().localPort() : m_table.port();
    }
    invitation.fingerprint = m_table.fingerprint().left(Invitation::FingerprintBytes);
    invitation.ticket = m_table.tickets().current();
    const QString line = invitation.fingerprint.isEmpty() ? QString() : invitation.line();
    m_invitation->setText(line);
    m_copyInvitation->setEnabled(!line.isEmpty());
}

void ConnectionsWindow::showProtection()
{
    m_protection->setText(QStringLiteral("Link : ") +
                          TableProtocol::protectionText(m_table.protection()));
}

void ConnectionsWindow::onCopyInvitationClicked()
{
    if (!m_invitation->text().isEmpty())
        QGuiApplication::clipboard()->setText(m_invitation->text());
}

void ConnectionsWindow::onNewInvitationClicked()
{
    m_table.renewInvitation();
}

void ConnectionsWindow::onCopyAddressClicked()
{
    if (!m_dialAddress.isEmpty())
        QGuiApplication::clipboard()->setText(m_dialAddress);
}

// Only a confirmed, readable address ends what the link was doing: a cancelled or empty answer
// leaves it listening, or linked, as it was.
void ConnectionsWindow::onConnectClicked()
{
    // The address dialled last time, in this run or an earlier one.
    const QString lastAddress = m_platform.remembered(QStringLiteral("connect/lastAddress"));
    const QString answer = m_platform.inputBox(
        this,
        QStringLiteral("Paste the invitation the other player sent, or enter an IP address or "
                       "host name to connect to (add :port for a port other than %1; IPv6 with "
                       "a port as [address]:port)")
            .arg(m_table.port()),
        QStringLiteral("Connect"),
        lastAddress.isEmpty() ? QStringLiteral("127.0.0.1") : lastAddress);
    if (answer.isEmpty())
        return;
    const QString problem = dialAnswer(m_table, answer);
    if (!problem.isEmpty()) {
        m_platform.messageBox(this, problem, QStringLiteral("Connect"));
        return;
    }
    // An invitation works once, so only a bare address is offered again next time.
    Invitation unused;
    if (Invitation::read(answer, &unused) == Invitation::Reading::BareAddress)
        m_platform.remember(QStringLiteral("connect/lastAddress"), answer.trimmed());
}

QString ConnectionsWindow::dialAnswer(TableProtocol &table, const QString &answer)
{
    Invitation invitation;
    switch (Invitation::read(answer, &invitation)) {
    case Invitation::Reading::Invitation:
        table.dial(invitation);
        return {};
    case Invitation::Reading::Damaged:
        return QStringLiteral("The invitation is damaged: check that the whole line was pasted, "
                              "from \"skarnet://\" to its last character, or ask the other "
                              "player to send it again.");
    case Invitation::Reading::CutShort:
        return QStringLiteral("The invitation is cut short: ask the other player to send the "
                              "whole line again, in one piece.");
    case Invitation::Reading::BareAddress:
        break;
    }
    // Without a port the other copy is taken to listen on the same port as this one.
    const PeerAddress address = PeerAddress::parse(answer, table.port());
    if (!address.isValid())
        return address.problemText();
    table.dial(address.host, address.port);
    return {};
}

bool ConnectionsWindow::marksOpponentChanges(const PlatformServices &platform)
{
    return platform.remembered(MarkChangesSetting) != QLatin1String("off");
}

void ConnectionsWindow::onDisconnectClicked()
{
    m_table.hangUp();
}

// Ends whatever the link is doing and listens again, so a copy whose link ended can be
// reached once more without a restart.
void ConnectionsWindow::onWaitClicked()
{
    m_table.leave();
    m_table.listen();
}
