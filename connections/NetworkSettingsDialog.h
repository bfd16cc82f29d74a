#pragma once

#include "ice/IceSettings.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

// "STUN and relay": the servers this copy asks for its outside address, one per line (none is
// allowed), and the relay that carries the link where no direct path works (optional: host, user
// and password, as the relay's owner gave them).
class NetworkSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    NetworkSettingsDialog(const IceSettings &settings, QWidget *parent = nullptr);

    // What the player entered; a relay whose address cannot be read is left out.
    IceSettings settings() const;

private:
    QPlainTextEdit *m_stunServers;
    QLineEdit *m_relay;
    QLineEdit *m_relayUser;
    QLineEdit *m_relayPassword;
};
