#include "Identity.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>
#include <optional>

namespace {

// OpenSSL objects, each freed by its own function.
struct OpenSslFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
    void operator()(BIGNUM *number) const { BN_free(number); }
    void operator()(BASIC_CONSTRAINTS *constraints) const { BASIC_CONSTRAINTS_free(constraints); }
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
    void operator()(X509 *certificate) const { X509_free(certificate); }
};
template <typename T> using Owned = std::unique_ptr<T, OpenSslFree>;

constexpr char CommonName[] = "Skarnet player";
constexpr int ValidYears = 20;
// Far more than a PEM key or certificate takes; a larger file is not one.
constexpr qint64 LargestFile = 64 * 1024;

// Never asks for a pass phrase: a key that has one is not ours.
int noPassPhrase(char *, int, int, void *)
{
    return -1;
}

struct PemPair
{
    QByteArray key;
    QByteArray certificate;
};

QByteArray pemOf(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, qsizetype(size)) : QByteArray();
}

bool setTime(ASN1_TIME *field, const QDateTime &when)
{
    return ASN1_TIME_set(field, std::time_t(when.toSecsSinceEpoch())) != nullptr;
}

// A fresh P-256 key and a self-signed certificate for it.
std::optional<PemPair> makePair()
{
    const Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    const Owned<X509> certificate(X509_new());
    const Owned<BIGNUM> serial(BN_new());
    const Owned<BASIC_CONSTRAINTS> constraints(BASIC_CONSTRAINTS_new());
    if (!key || !certificate || !serial || !constraints)
        return std::nullopt;

    // A random, positive, non-zero serial of 127 bits, well within the 20 bytes allowed.
    const QDateTime from = QDateTime::currentDateTimeUtc().addDays(-1);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    // The certificate is its own authority, so that the other copy may trust it as one.
    constraints->ca = 1;
    const bool made = X509_set_version(certificate.get(), X509_VERSION_3) &&
                      BN_rand(serial.get(), 127, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) &&
                      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) &&
                      setTime(X509_getm_notBefore(certificate.get()), from) &&
                      setTime(X509_getm_notAfter(certificate.get()), from.addYears(ValidYears)) &&
                      X509_NAME_add_entry_by_txt(
                          name, "CN", MBSTRING_UTF8,
                          reinterpret_cast<const unsigned char *>(CommonName), -1, -1, 0) &&
                      X509_set_issuer_name(certificate.get(), name) &&
                      X509_set_pubkey(certificate.get(), key.get()) &&
                      X509_add1_ext_i2d(certificate.get(), NID_basic_constraints, constraints.get(),
                                        1, X509V3_ADD_DEFAULT) == 1 &&
                      X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    if (!made)
        return std::nullopt;

    const Owned<BIO> keyBio(BIO_new(BIO_s_mem()));
    const Owned<BIO> certificateBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certificateBio ||
        !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certificateBio.get(), certificate.get()))
        return std::nullopt;
    return PemPair{pemOf(keyBio.get()), pemOf(certificateBio.get())};
}

// The whole file, if it can be read and is no larger than a PEM file can be.
std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > LargestFile)
        return std::nullopt;
    return file.readAll();
}

Owned<BIO> bioOver(const QByteArray &bytes)
{
    return Owned<BIO>(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

// Writes the file whole or not at all. A secret file is made readable by its owner only
// before a byte of it is written.
QString writeFile(const QString &path, const QByteArray &bytes, bool secret)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (secret && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return {};
}

// Renames the file to a name no start reads and no file has yet; empty if it cannot be.
QString setAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = path + QStringLiteral(".unreadable-") + stamp;
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + QStringLiteral("-%1").arg(n);
    // QFile::rename never replaces an existing file, should one appear meanwhile.
    return QFile::rename(path, aside) ? aside : QString();
}

bool makeFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QFileInfo info(folder);
    return QDir().mkpath(info.absolutePath()) &&
           QDir().mkdir(info.absoluteFilePath(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Whether both parse and the certificate holds the key's public half.
bool belongTogether(const QByteArray &keyPem, const QByteArray &certificatePem)
{
    const Owned<BIO> keyBio = bioOver(keyPem);
    const Owned<BIO> certificateBio = bioOver(certificatePem);
    if (!keyBio || !certificateBio)
        return false;
    const Owned<EVP_PKEY> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassPhrase, nullptr));
    const Owned<X509> certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, noPassPhrase, nullptr));
    return key && certificate && EVP_PKEY_eq(X509_get0_pubkey(certificate.get()), key.get()) == 1;
}

} // namespace

Identity Identity::loadOrCreate(const QString &folder)
{
    Identity identity;
    const QDir dir(QDir::cleanPath(folder));
    const QString keyPath = dir.filePath(QLatin1String(KeyFileName));
    const QString certificatePath = dir.filePath(QLatin1String(CertificateFileName));
    if (!QFileInfo::exists(keyPath) && !QFileInfo::exists(certificatePath))
        return made(dir, {});

    const std::optional<QByteArray> keyPem = readSmallFile(keyPath);
    const std::optional<QByteArray> certificatePem = readSmallFile(certificatePath);
    if (keyPem && certificatePem && belongTogether(*keyPem, *certificatePem)) {
        identity.m_key = QSslKey(*keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
        identity.m_certificate = QSslCertificate(*certificatePem, QSsl::Pem);
        if (!identity.m_key.isNull() && !identity.m_certificate.isNull()) {
            identity.m_fingerprint = identity.m_certificate.digest(QCryptographicHash::Sha256);
            return identity;
        }
    }

    // One of them cannot be read, lacks its partner or belongs to another: neither can serve,
    // so both are kept aside as they are, for whoever wants to look into them.
    QStringList setAsidePaths;
    for (const QString &path : {keyPath, certificatePath}) {
        if (!QFileInfo::exists(path))
            continue;
        const QString aside = setAside(path);
        if (aside.isEmpty()) {
            Identity failed;
            failed.m_error = QStringLiteral("The identity file %1 cannot be read, nor renamed "
                                            "out of the way so that a new one can be made.")
                                 .arg(QDir::toNativeSeparators(path));
            return failed;
        }
        setAsidePaths.append(QDir::toNativeSeparators(aside));
    }
    return made(dir, setAsidePaths);
}

Identity Identity::made(const QDir &folder, const QStringList &setAsidePaths)
{
    Identity identity;
    const auto fail = [&identity](const QString &reason) {
        identity.m_error = reason;
        return identity;
    };
    if (!makeFolder(folder.path()))
        return fail(QStringLiteral("The folder %1 cannot be made.")
                        .arg(QDir::toNativeSeparators(folder.path())));
    const std::optional<PemPair> pair = makePair();
    if (!pair)
        return fail(QStringLiteral("No key could be made for this copy's identity."));
    const QString keyPath = folder.filePath(QLatin1String(KeyFileName));
    const QString certificatePath = folder.filePath(QLatin1String(CertificateFileName));
    QString reason = writeFile(keyPath, pair->key, true);
    if (reason.isEmpty())
        reason = writeFile(certificatePath, pair->certificate, false);
    if (!reason.isEmpty())
        return fail(QStringLiteral("The identity cannot be written in %1: %2.")
                        .arg(QDir::toNativeSeparators(folder.path()), reason));

    identity.m_key = QSslKey(pair->key, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    identity.m_certificate = QSslCertificate(pair->certificate, QSsl::Pem);
    if (identity.m_key.isNull() || identity.m_certificate.isNull())
        return fail(QStringLiteral("The new identity cannot be read back."));
    identity.m_fingerprint = identity.m_certificate.digest(QCryptographicHash::Sha256);
    if (!setAsidePaths.isEmpty())
        identity.m_notice =
            QStringLiteral("This copy could not read its identity and made a new one, so your "
                           "opponent needs a new invitation from you; the old %1 kept as %2.")
                .arg(setAsidePaths.size() == 1 ? QStringLiteral("file is")
                                               : QStringLiteral("files are"),
                     setAsidePaths.join(QStringLiteral(" and ")));
    return identity;
}
