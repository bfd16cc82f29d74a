#pragma once

#include <QByteArray>
#include <QDir>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

// This installation's TLS identity: a P-256 key and a self-signed certificate for it, kept as
// PEM files in a folder of their own (the key readable by its owner only). They are made on
// the first start and read on every start after, so that the other player's copy, which knows
// this one by the certificate's fingerprint, knows it again.
class Identity
{
public:
    static constexpr char KeyFileName[] = "identity.key";
    static constexpr char CertificateFileName[] = "identity.crt";

    // Loads the key and certificate kept in `folder`, making them on first use (creating the
    // folder, mode 0700). Files that cannot be read, or a key and certificate that do not
    // belong together, are renamed aside (never over another file) and a new pair is made.
    static Identity loadOrCreate(const QString &folder);

    // False only when nothing could be made or written; error() says why in words.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    QSslCertificate certificate() const { return m_certificate; }
    QSslKey privateKey() const { return m_key; }
    // The SHA-256 of the certificate's DER form (32 bytes).
    QByteArray fingerprint() const { return m_fingerprint; }

    // A sentence for the player, non-empty only on the start that set an unreadable identity
    // aside and made a new one: the opponent needs a new invitation.
    QString notice() const { return m_notice; }

private:
    Identity() = default;
    // A new pair in `folder`; the notice names the files set aside for it, if any.
    static Identity made(const QDir &folder, const QStringList &setAsidePaths);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QByteArray m_fingerprint;
    QString m_error;
    QString m_notice;
};
