#include "devices/QRCodeData.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace quillmoss;

namespace {

QRCodeData sample(std::optional<QString> userName = QStringLiteral("Robin")) {
    return QRCodeData{QStringLiteral("5C0FFEE0-1234-4ABC-8DEF-001122334455"), QStringLiteral("Robin's Laptop ✏️"),
                      userName, QRCodeData::kLinkType, 1772442000.25};
}

QString link(const QByteArray &json) {
    return QRCodeData::kLinkPrefix + QString::fromLatin1(percentEncodeAlphanumericOnly(json.toBase64()));
}

} // namespace

TEST(QRCode, LinkTextIsPrefixAndAlphanumericPercentEncodedBase64) {
    const QString text = sample().linkText();
    ASSERT_TRUE(text.startsWith(QLatin1String("quillmoss://qr?data=")));
    const QString data = text.mid(QRCodeData::kLinkPrefix.size());
    static const QRegularExpression onlyAlnumAndEscapes(QStringLiteral("^([A-Za-z0-9]|%[0-9A-F]{2})+$"));
    EXPECT_TRUE(onlyAlnumAndEscapes.match(data).hasMatch()) << data.toStdString();
    EXPECT_EQ(percentEncodeAlphanumericOnly("a+b/c=_-.~"), QByteArray("a%2Bb%2Fc%3D%5F%2D%2E%7E"));
}

TEST(QRCode, ParsesBackFromTheLinkAndFromTheDecodedValue) {
    for (const auto &payload : {sample(), sample(std::nullopt)}) {
        const QString text = payload.linkText();
        EXPECT_EQ(parseQRCode(text), payload);
        const QString value = QUrlQuery(QUrl(text)).queryItemValue(QStringLiteral("data"), QUrl::FullyDecoded);
        ASSERT_FALSE(value.isEmpty());
        EXPECT_EQ(QRCodeData::decode(QByteArray::fromBase64(value.toLatin1())), payload);
        // Host and path are not looked at; a raw "+" or "=" is taken as it is.
        EXPECT_EQ(parseQRCode(QStringLiteral("quillmoss://elsewhere/x?data=") + value), payload);
    }
}

TEST(QRCode, BareJsonIsAcceptedAndUserNameIsOptional) {
    const auto parsed = parseQRCode(QStringLiteral(
        R"({"deviceId":"D1","deviceName":"Desk","type":"session_invite","timestamp":5,"extra":[1]})"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->deviceId, "D1");
    EXPECT_EQ(parsed->type, QRCodeData::kInviteType);
    EXPECT_FALSE(parsed->userName);
    EXPECT_EQ(parseQRCode(QStringLiteral(
                  R"({"deviceId":"D1","deviceName":"Desk","userName":null,"type":"quillmoss","timestamp":5})"))
                  ->userName,
              std::nullopt);
}

TEST(QRCode, RequiredMembersAndTypesAreEnforced) {
    const QByteArray good = R"({"deviceId":"D1","deviceName":"Desk","type":"quillmoss","timestamp":5})";
    ASSERT_TRUE(parseQRCode(link(good)));
    for (const QByteArray &bad : {
             QByteArray(R"({"deviceId":"D1","deviceName":"Desk","type":"quillmoss"})"),                // no timestamp
             QByteArray(R"({"deviceId":"D1","deviceName":"Desk","timestamp":5})"),                     // no type
             QByteArray(R"({"deviceName":"Desk","type":"quillmoss","timestamp":5})"),                  // no id
             QByteArray(R"({"deviceId":"","deviceName":"Desk","type":"quillmoss","timestamp":5})"),    // empty id
             QByteArray(R"({"deviceId":7,"deviceName":"Desk","type":"quillmoss","timestamp":5})"),     // id a number
             QByteArray(R"({"deviceId":"D1","deviceName":"Desk","type":"quillmoss","timestamp":"5"})"), // text time
             QByteArray(R"({"deviceId":"D1","deviceName":"Desk","userName":5,"type":"quillmoss","timestamp":5})"),
             QByteArray(R"(["D1","Desk","quillmoss",5])"),
             QByteArray("null"),
         }) {
        EXPECT_FALSE(parseQRCode(link(bad))) << bad.toStdString();
        EXPECT_FALSE(parseQRCode(QString::fromUtf8(bad))) << bad.toStdString();
    }
}

TEST(QRCode, InvalidBase64FallsBackToTheWholeTextAndFails) {
    const QString data = sample().linkText().mid(QRCodeData::kLinkPrefix.size());
    // Unpadded, with whitespace, with a foreign character: none is strict Base64.
    const QString unpadded = QStringLiteral("quillmoss://qr?data=") + QString(data).remove(QStringLiteral("%3D"));
    ASSERT_NE(unpadded, sample().linkText()) << "the sample needs Base64 padding";
    EXPECT_FALSE(parseQRCode(unpadded));
    EXPECT_FALSE(parseQRCode(QStringLiteral("quillmoss://qr?data=%20") + data));
    EXPECT_FALSE(parseQRCode(QStringLiteral("quillmoss://qr?data=*") + data.mid(1)));
    EXPECT_FALSE(parseQRCode(QStringLiteral("quillmoss://qr?other=") + data));
    EXPECT_FALSE(parseQRCode(QStringLiteral("quillmoss://qr?data=")));
    EXPECT_FALSE(parseQRCode(QStringLiteral("https://qr?data=") + data));
}

TEST(QRCode, HostileInputsAreRejectedWithoutHarm) {
    // Too long to be a code at all, even though it would parse.
    QRCodeData huge = sample();
    huge.deviceName = QString(600, u'x');
    const QString longLink = huge.linkText();
    ASSERT_LT(longLink.size(), kMaxQRCodeTextLength);
    EXPECT_TRUE(parseQRCode(longLink));
    const QString padded = QString::fromUtf8(huge.encode()) + QString(kMaxQRCodeTextLength, u' ');
    EXPECT_FALSE(parseQRCode(padded));
    // Overlong members.
    huge.deviceName = QString(5000, u'x');
    EXPECT_FALSE(parseQRCode(QString::fromUtf8(huge.encode())));
    // Bytes that are not UTF-8 inside a well-formed link, and lone surrogates.
    EXPECT_FALSE(parseQRCode(link(QByteArray("\xff\xfe{\"deviceId\":\"\xc3\x28\"}"))));
    EXPECT_FALSE(parseQRCode(QString(QChar(0xD800)) + QStringLiteral("{}")));
    EXPECT_FALSE(parseQRCode(QString()));
    EXPECT_FALSE(parseQRCode(QStringLiteral("quillmoss://qr?data=%FF%FE")));
    // Deeply nested JSON is refused by the parser, not by the stack.
    EXPECT_FALSE(parseQRCode(QString(4000, u'[') + QString(4000, u']')));
}
