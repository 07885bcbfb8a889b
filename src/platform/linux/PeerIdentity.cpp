#include "PeerIdentity.h"

#include "platform/Console.h"
#include "platform/PreferencesStore.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace quillmoss {

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T *p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509_free>>;

// Self-signed certificates are compared by fingerprint, never by validity, but
// a far end keeps strict TLS stacks from refusing them as expired.
constexpr long kValidityDays = 365L * 30;

QByteArray bioBytes(BIO *bio) {
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

Bio readOnlyBio(const QByteArray &bytes) { return Bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size()))); }

bool randomSerial(X509 *x) {
    std::unique_ptr<BIGNUM, Deleter<BN_free>> bn(BN_new());
    if (!bn || !BN_rand(bn.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY))
        return false;
    return BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(x)) != nullptr;
}

Cert selfSignedCertificate(EVP_PKEY *key, const QString &commonName) {
    Cert x(X509_new());
    if (!x || !X509_set_version(x.get(), 2) || !randomSerial(x.get()))
        return {};
    if (!X509_gmtime_adj(X509_getm_notBefore(x.get()), -24L * 3600) ||
        !X509_time_adj_ex(X509_getm_notAfter(x.get()), int(kValidityDays), 0, nullptr))
        return {};
    X509_NAME *name = X509_get_subject_name(x.get());
    const QByteArray cn = commonName.toUtf8();
    if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(cn.constData()),
                                    int(cn.size()), -1, 0) ||
        !X509_set_issuer_name(x.get(), name) || !X509_set_pubkey(x.get(), key) ||
        !X509_sign(x.get(), key, EVP_sha256()))
        return {};
    return x;
}

} // namespace

QString certificateCommonName(const QSslCertificate &certificate) {
    const QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    return names.size() == 1 ? names.first() : QString();
}

PeerIdentity PeerIdentity::create(const QString &displayName, const QString &peerKey) {
    PeerIdentity identity;
    const QString key = peerKey.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() : peerKey;

    PKey pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!pkey)
        return identity;
    Cert cert = selfSignedCertificate(pkey.get(), key);
    Bio keyBio(BIO_new(BIO_s_mem()));
    Bio certBio(BIO_new(BIO_s_mem()));
    if (!cert || !keyBio || !certBio ||
        !PEM_write_bio_PrivateKey(keyBio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certBio.get(), cert.get()))
        return identity;

    identity.m_key = key;
    identity.m_displayName = displayName;
    identity.m_privateKeyPem = bioBytes(keyBio.get());
    identity.m_certificatePem = bioBytes(certBio.get());
    identity.m_privateKey = QSslKey(identity.m_privateKeyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    identity.m_certificate = QSslCertificate(identity.m_certificatePem, QSsl::Pem);
    if (!identity.isValid())
        return PeerIdentity();
    return identity;
}

std::optional<PeerIdentity> PeerIdentity::load(const QByteArray &stored) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(stored, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue key = o.value(QLatin1String("peerKey")), name = o.value(QLatin1String("displayName")),
                     keyPem = o.value(QLatin1String("privateKey")), certPem = o.value(QLatin1String("certificate"));
    if (!key.isString() || !name.isString() || !keyPem.isString() || !certPem.isString())
        return std::nullopt;
    if (QUuid::fromString(key.toString()).isNull())
        return std::nullopt;

    PeerIdentity identity;
    identity.m_key = key.toString();
    identity.m_displayName = name.toString();
    identity.m_privateKeyPem = keyPem.toString().toUtf8();
    identity.m_certificatePem = certPem.toString().toUtf8();

    // The pair must belong together and the certificate must name this key:
    // a mismatch would make every peer see a stranger.
    Bio keyBio = readOnlyBio(identity.m_privateKeyPem);
    Bio certBio = readOnlyBio(identity.m_certificatePem);
    PKey pkey(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    Cert cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!pkey || !cert || EVP_PKEY_get_base_id(pkey.get()) != EVP_PKEY_EC || X509_check_private_key(cert.get(), pkey.get()) != 1)
        return std::nullopt;

    identity.m_privateKey = QSslKey(identity.m_privateKeyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    identity.m_certificate = QSslCertificate(identity.m_certificatePem, QSsl::Pem);
    if (!identity.isValid() || certificateCommonName(identity.m_certificate) != identity.m_key)
        return std::nullopt;
    return identity;
}

PeerIdentity PeerIdentity::restore(PreferencesStore &prefs, const QString &displayName, bool *created) {
    const std::optional<QByteArray> stored = prefs.dataValue(kPreferencesKey);
    if (stored) {
        if (std::optional<PeerIdentity> identity = load(*stored)) {
            if (created)
                *created = false;
            return *identity;
        }
        consoleLine(QStringLiteral("Stored peer identity is unreadable; creating a new one"));
    }
    if (created)
        *created = true;
    PeerIdentity identity = create(displayName);
    if (identity.isValid())
        prefs.setData(kPreferencesKey, identity.encode());
    else
        consoleLine(QStringLiteral("Could not create a peer identity: key generation failed"));
    return identity;
}

QByteArray PeerIdentity::encode() const {
    const QJsonObject o{{QStringLiteral("peerKey"), m_key},
                        {QStringLiteral("displayName"), m_displayName},
                        {QStringLiteral("privateKey"), QString::fromUtf8(m_privateKeyPem)},
                        {QStringLiteral("certificate"), QString::fromUtf8(m_certificatePem)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray PeerIdentity::fingerprint() const { return m_certificate.digest(QCryptographicHash::Sha256); }

} // namespace quillmoss
