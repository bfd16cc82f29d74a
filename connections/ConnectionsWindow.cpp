#include "ConnectionsWindow.h"

#include "NetworkSettingsDialog.h"
#include "board/TableProtocol.h"
#include "ice/IceSettings.h"
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
#include "trust/InvitationReply.h"
#include "wire/WireMessage.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

const QString MarkChangesSetting = QStringLiteral("board/markOpponentChanges");
const QString StunSetting = QStringLiteral("network/stunServers");
const QString RelaySetting = QStringLiteral("network/relay");
const QString RelayUserSetting = QStringLiteral("network/relayUser");
const QString RelayPasswordSetting = QStringLiteral("network/relayPassword");
// What the STUN setting holds when the player emptied the list, told apart from never set.
const QString NoServers = QStringLiteral("none");

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
    resize(320, 420);
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
    // The reply: pasted here by the inviting player, shown here to the joining one.
    QLabel *replyCaption = label(this, "lblReply", QStringLiteral("Reply :"), {8, 314, 48, 17},
                                 QColor(0xC0, 0xC0, 0xC0));
    auto *reply = m_reply = new QLineEdit(this);
    replyCaption->setBuddy(reply);
    reply->setObjectName(QStringLiteral("txtReply"));
    reply->setGeometry(56, 312, 209, 19);
    auto *replyButton = m_replyButton = new QPushButton(this);
    replyButton->setObjectName(QStringLiteral("cmdReply"));
    replyButton->setGeometry(268, 311, 45, 21);
    auto *protection = m_protection =
        label<ValueLabel>(this, "lblProtection", QString(), {8, 337, 305, 17}, Qt::white);
    ValueLabelAccessible::present(protection, QStringLiteral("Link protection"));
    auto *notice = m_notice = label<ValueLabel>(this, "lblNotice", table.lastNotice(),
                                                {8, 354, 305, 17}, QColor(0xC0, 0xC0, 0xC0));
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ValueLabelAccessible::present(notice, QStringLiteral("Last refused connection"));
    auto *markChanges = new QCheckBox(QStringLiteral("Mark the opponent's changes"), this);
    markChanges->setObjectName(QStringLiteral("chkMarkChanges"));
    markChanges->setAccessibleDescription(QStringLiteral(
        "Colours the caption of each display of the opponent's half for a moment when it changes"));
    markChanges->setGeometry(8, 372, 305, 19);
    markChanges->setChecked(marksOpponentChanges(platform));
    markChanges->setPalette(checkPalette);
    auto *network = new QPushButton(QStringLiteral("STUN and relay…"), this);
    network->setObjectName(QStringLiteral("cmdNetwork"));
    network->setAccessibleDescription(QStringLiteral(
        "Where this copy finds its outside address, and the relay for when no direct path works"));
    network->setGeometry(8, 395, 130, 21);

    setTabOrder(connectButton, closeButton);
    setTabOrder(closeButton, address);
    setTabOrder(address, port);
    setTabOrder(port, others);
    setTabOrder(others, copy);
    setTabOrder(copy, invitation);
    setTabOrder(invitation, copyInvitation);
    setTabOrder(copyInvitation, newInvitation);
    setTabOrder(newInvitation, invitedOnly);
    setTabOrder(invitedOnly, reply);
    setTabOrder(reply, replyButton);
    setTabOrder(replyButton, markChanges);
    setTabOrder(markChanges, network);
    setTabOrder(network, waitButton);
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
    connect(&table, &TableProtocol::pathChanged, this, &ConnectionsWindow::showProtection);
    connect(&table, &TableProtocol::replyChanged, this, &ConnectionsWindow::showReply);
    connect(replyButton, &QPushButton::clicked, this, &ConnectionsWindow::onReplyClicked);
    connect(reply, &QLineEdit::returnPressed, this, &ConnectionsWindow::onReplyClicked);
    connect(network, &QPushButton::clicked, this, &ConnectionsWindow::onNetworkSettingsClicked);
    showReply();
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
    const QString line = m_table.invitationLine(invitation.host, invitation.port);
    m_invitation->setText(line);
    if (line.isEmpty() && !m_table.fingerprint().isEmpty() && !m_table.directPathServes()) {
        const QString trouble = m_table.invitationTrouble();
        m_invitation->setPlaceholderText(
            trouble.isEmpty() ? QStringLiteral("Finding this machine's outside address…")
                              : trouble);
    }
    m_copyInvitation->setEnabled(!line.isEmpty());
}

void ConnectionsWindow::showProtection()
{
    QString text = QStringLiteral("Link : ") + TableProtocol::protectionText(m_table.protection());
    const QString path = m_table.pathText();
    if (!path.isEmpty())
        text += QStringLiteral(", ") + path;
    m_protection->setText(text);
}

// A joining copy shows the reply its player sends back; otherwise the field takes the reply the
// other player sent.
void ConnectionsWindow::showReply()
{
    const QString own = m_table.replyLine();
    const bool joining = !own.isEmpty();
    m_reply->setReadOnly(joining);
    m_reply->setText(own);
    m_reply->setPlaceholderText(joining ? QString()
                                        : QStringLiteral("Paste the other player's reply here"));
    m_reply->setAccessibleName(joining ? QStringLiteral("Your reply")
                                       : QStringLiteral("The other player's reply"));
    m_reply->setAccessibleDescription(
        joining ? QStringLiteral("Send this line back to the player who invited you")
                : QStringLiteral("Paste the line the other player sent back to your invitation"));
    m_replyButton->setText(joining ? QStringLiteral("Copy") : QStringLiteral("Use"));
    m_replyButton->setAccessibleName(joining ? QStringLiteral("Copy your reply")
                                             : QStringLiteral("Use the other player's reply"));
    if (joining)
        m_reply->selectAll();
}

void ConnectionsWindow::onReplyClicked()
{
    if (!m_table.replyLine().isEmpty()) {
        QGuiApplication::clipboard()->setText(m_table.replyLine());
        return;
    }
    const QString text = m_reply->text().trimmed();
    if (text.isEmpty())
        return;
    const QString problem = m_table.acceptReply(text);
    if (!problem.isEmpty()) {
        m_platform.messageBox(this, problem, QStringLiteral("Reply"));
        return;
    }
    m_reply->clear();
    m_notice->setText(QStringLiteral("Looking for a path to the other player…"));
}

void ConnectionsWindow::onNetworkSettingsClicked()
{
    NetworkSettingsDialog dialog(iceSettings(m_platform), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    rememberIceSettings(m_platform, dialog.settings());
    m_table.setIceSettings(iceSettings(m_platform));
}

IceSettings ConnectionsWindow::iceSettings(const PlatformServices &platform)
{
    IceSettings settings;
    const QString servers = platform.remembered(StunSetting);
    if (servers.isEmpty())
        settings.stunServers = IceSettings::defaultStunServers();
    else if (servers != NoServers)
        settings.stunServers = servers.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString relay = platform.remembered(RelaySetting);
    const PeerAddress relayAddress = PeerAddress::parse(relay, 3478);
    if (!relay.isEmpty() && relayAddress.isValid()) {
        settings.relayHost = relayAddress.host;
        settings.relayPort = relayAddress.port;
        settings.relayUser = platform.remembered(RelayUserSetting);
        settings.relayPassword = platform.remembered(RelayPasswordSetting);
    }
    return IceSettings::fromEnvironment(settings);
}

void ConnectionsWindow::rememberIceSettings(PlatformServices &platform, const IceSettings &settings)
{
    platform.remember(StunSetting, settings.stunServers.isEmpty()
                                       ? NoServers
                                       : settings.stunServers.join(QLatin1Char(' ')));
    QString relay;
    if (settings.hasRelay()) {
        const bool ipv6 = settings.relayHost.contains(QLatin1Char(':'));
        relay =
            (ipv6 ? QLatin1Char('[') + settings.relayHost + QLatin1Char(']') : settings.relayHost) +
            QLatin1Char(':') + QString::number(settings.relayPort ? settings.relayPort : 3478);
    }
    platform.remember(RelaySetting, relay);
    platform.remember(RelayUserSetting, settings.hasRelay() ? settings.relayUser : QString());
    platform.remember(RelayPasswordSetting,
                      settings.hasRelay() ? settings.relayPassword : QString());
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
    // A reply pasted here, or clicked, is taken as if pasted into the reply field.
    InvitationReply reply;
    const InvitationReply::Reading replyReading = InvitationReply::read(answer, &reply);
    if (replyReading != InvitationReply::Reading::Invitation &&
        replyReading != InvitationReply::Reading::NotAReply)
        return table.acceptReply(answer);
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

#include "moc_ConnectionsWindow.cpp"
