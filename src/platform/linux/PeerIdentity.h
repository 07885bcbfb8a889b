#pragma once

#include "platform/PeerTransport.h"

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

namespace quillmoss {

class PreferencesStore;

// This installation's identity on the peer network: a random peer key (UUID
// text), the display name it was created with, and an EC P-256 key with a
// self-signed certificate whose common name is the peer key. It is kept as a
// whole so that peers that pinned the certificate keep recognising us.
class PeerIdentity {
public:
    // The preferences key the identity is kept under.
    static inline const QString kPreferencesKey = QStringLiteral("MultipeerPeerID");

    // A new identity (about 60 ms: key generation and signing) under a new
    // random key, or under `peerKey` when given. Invalid only if OpenSSL fails.
    static PeerIdentity create(const QString &displayName, const QString &peerKey = {});
    // The identity `encode()` produced, or nothing when `stored` does not
    // decode, lacks a member, or its key and certificate do not belong together.
    static std::optional<PeerIdentity> load(const QByteArray &stored);
    // The stored identity from `prefs`, or a new one that is then stored in its
    // place (`*created` tells which).
    static PeerIdentity restore(PreferencesStore &prefs, const QString &displayName, bool *created = nullptr);

    // JSON: {"peerKey", "displayName", "privateKey" (PEM), "certificate" (PEM)}.
    QByteArray encode() const;

    bool isValid() const { return !m_key.isEmpty() && !m_privateKey.isNull() && !m_certificate.isNull(); }
    PeerHandle handle() const { return {m_key, m_displayName}; }
    QString key() const { return m_key; }
    QString displayName() const { return m_displayName; }
    QSslKey privateKey() const { return m_privateKey; }
    QSslCertificate certificate() const { return m_certificate; }
    // SHA-256 of the certificate's DER form, as peers see it.
    QByteArray fingerprint() const;

private:
    QString m_key;
    QString m_displayName;
    QByteArray m_privateKeyPem;
    QByteArray m_certificatePem;
    QSslKey m_privateKey;
    QSslCertificate m_certificate;
};

// The common name of a certificate's subject (the peer key for ours).
QString certificateCommonName(const QSslCertificate &certificate);

} // namespace quillmoss
