#include "NetworkSettingsDialog.h"

#include "link/PeerAddress.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

constexpr int RelayPort = 3478;

} // namespace

NetworkSettingsDialog::NetworkSettingsDialog(const IceSettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_stunServers(new QPlainTextEdit(this))
    , m_relay(new QLineEdit(this))
    , m_relayUser(new QLineEdit(this))
    , m_relayPassword(new QLineEdit(this))
{
    setObjectName(QStringLiteral("dlgNetwork"));
    setWindowTitle(QStringLiteral("STUN and relay"));
    auto *form = new QFormLayout(this);
    auto *explanation = new QLabel(
        QStringLiteral("Used only when the other player cannot dial this copy's port directly. "
                       "The STUN servers tell this copy its outside address; the relay carries "
                       "the link where no direct path works."),
        this);
    explanation->setWordWrap(true);
    form->addRow(explanation);

    m_stunServers->setObjectName(QStringLiteral("txtStunServers"));
    m_stunServers->setAccessibleName(QStringLiteral("STUN servers, one per line"));
    m_stunServers->setTabChangesFocus(true);
    m_stunServers->setPlainText(settings.stunServers.join(QLatin1Char('\n')));
    m_stunServers->setPlaceholderText(QStringLiteral("None: only this machine's own addresses"));
    form->addRow(QStringLiteral("STUN servers :"), m_stunServers);

    m_relay->setObjectName(QStringLiteral("txtRelay"));
    m_relay->setAccessibleName(QStringLiteral("Relay address"));
    m_relay->setPlaceholderText(QStringLiteral("host:port (none)"));
    if (settings.hasRelay()) {
        const bool ipv6 = settings.relayHost.contains(QLatin1Char(':'));
        m_relay->setText(
            (ipv6 ? QLatin1Char('[') + settings.relayHost + QLatin1Char(']') : settings.relayHost) +
            QLatin1Char(':') +
            QString::number(settings.relayPort ? settings.relayPort : RelayPort));
    }
    form->addRow(QStringLiteral("Relay :"), m_relay);
    m_relayUser->setObjectName(QStringLiteral("txtRelayUser"));
    m_relayUser->setAccessibleName(QStringLiteral("Relay user"));
    m_relayUser->setText(settings.relayUser);
    form->addRow(QStringLiteral("User :"), m_relayUser);
    m_relayPassword->setObjectName(QStringLiteral("txtRelayPassword"));
    m_relayPassword->setAccessibleName(QStringLiteral("Relay password"));
    m_relayPassword->setEchoMode(QLineEdit::Password);
    m_relayPassword->setText(settings.relayPassword);
    form->addRow(QStringLiteral("Password :"), m_relayPassword);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

IceSettings NetworkSettingsDialog::settings() const
{
    IceSettings settings;
    for (const QString &line : m_stunServers->toPlainText().split(QLatin1Char('\n'))) {
        const QString server = line.trimmed();
        if (!server.isEmpty() && !server.contains(QLatin1Char(' ')))
            settings.stunServers.append(server);
    }
    const PeerAddress relay = PeerAddress::parse(m_relay->text().trimmed(), RelayPort);
    if (!m_relay->text().trimmed().isEmpty() && relay.isValid()) {
        settings.relayHost = relay.host;
        settings.relayPort = relay.port;
        settings.relayUser = m_relayUser->text();
        settings.relayPassword = m_relayPassword->text();
    }
    return settings;
}

#include "moc_NetworkSettingsDialog.cpp"
