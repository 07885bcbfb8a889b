#include "PeerIdentity.h"
#include "platform/PreferencesStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <gtest/gtest.h>

using namespace quillmoss;

namespace {

QByteArray withMember(const QByteArray &encoded, const char *member, const QJsonValue &value) {
    QJsonObject o = QJsonDocument::fromJson(encoded).object();
    if (value.isUndefined())
        o.remove(QLatin1String(member));
    else
        o.insert(QLatin1String(member), value);
    return QJsonDocument(o).toJson();
}

TEST(PeerIdentity, NewIdentityNamesItsKeyInItsCertificateAndSurvivesEncoding) {
    const PeerIdentity identity = PeerIdentity::create(QStringLiteral("Study Box"));
    ASSERT_TRUE(identity.isValid());
    EXPECT_FALSE(QUuid::fromString(identity.key()).isNull());
    EXPECT_EQ(identity.key(), identity.key().toUpper());
    EXPECT_EQ(certificateCommonName(identity.certificate()), identity.key());
    EXPECT_EQ(identity.privateKey().algorithm(), QSsl::Ec);
    EXPECT_TRUE(identity.certificate().isSelfSigned());
    EXPECT_EQ(identity.fingerprint().size(), 32);

    const auto loaded = PeerIdentity::load(identity.encode());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->key(), identity.key());
    EXPECT_EQ(loaded->displayName(), QStringLiteral("Study Box"));
    EXPECT_EQ(loaded->fingerprint(), identity.fingerprint());
    EXPECT_EQ(loaded->privateKey(), identity.privateKey());
    EXPECT_NE(PeerIdentity::create(QStringLiteral("Study Box")).key(), identity.key());
}

TEST(PeerIdentity, StoredValuesThatDoNotHoldTogetherAreRejected) {
    const PeerIdentity one = PeerIdentity::create(QStringLiteral("One"));
    const PeerIdentity two = PeerIdentity::create(QStringLiteral("Two"));
    const QByteArray good = one.encode();
    const QJsonObject other = QJsonDocument::fromJson(two.encode()).object();

    EXPECT_FALSE(PeerIdentity::load(QByteArray()));
    EXPECT_FALSE(PeerIdentity::load("not json"));
    EXPECT_FALSE(PeerIdentity::load("[]"));
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "peerKey", QJsonValue::Undefined)));
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "privateKey", 42)));
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "certificate", QStringLiteral("-----BEGIN CERTIFICATE-----"))));
    // Someone else's certificate with our key, or our certificate under another key.
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "certificate", other.value(QLatin1String("certificate")))));
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "peerKey", two.key())));
    EXPECT_FALSE(PeerIdentity::load(withMember(good, "peerKey", QStringLiteral("not-a-uuid"))));
}

TEST(PeerIdentity, RestoreKeepsAStoredIdentityAndReplacesAnUnreadableOne) {
    PreferencesStore prefs;
    bool created = false;
    const PeerIdentity first = PeerIdentity::restore(prefs, QStringLiteral("Desk"), &created);
    EXPECT_TRUE(created);
    ASSERT_TRUE(prefs.dataValue(PeerIdentity::kPreferencesKey));

    // Kept across runs and renames of the computer.
    const PeerIdentity again = PeerIdentity::restore(prefs, QStringLiteral("Renamed"), &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(again.key(), first.key());
    EXPECT_EQ(again.displayName(), QStringLiteral("Desk"));
    EXPECT_EQ(again.fingerprint(), first.fingerprint());

    prefs.setData(PeerIdentity::kPreferencesKey, "{\"peerKey\":");
    const PeerIdentity fresh = PeerIdentity::restore(prefs, QStringLiteral("Desk"), &created);
    EXPECT_TRUE(created);
    EXPECT_NE(fresh.key(), first.key());
    EXPECT_EQ(PeerIdentity::load(*prefs.dataValue(PeerIdentity::kPreferencesKey))->key(), fresh.key());
}

} // namespace
