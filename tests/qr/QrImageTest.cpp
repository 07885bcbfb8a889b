#include "QrImage.h"
#include "core/MultipeerTestRig.h"

#include <ZXing/ReadBarcode.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

struct Decoded {
    QString text;
    std::string ecLevel;
};

std::optional<Decoded> readCode(const QImage &image) {
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                int(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) return std::nullopt;
    return Decoded{QString::fromStdString(result.text()), result.ecLevel()};
}

using QrImageTest = PeerTest;

} // namespace

TEST_F(QrImageTest, GeneratedCodesReadBackToTheSamePayloadAtLevelH) {
    Device &d = device(QStringLiteral("Zoë's Desk ✏️ — 研究室"));
    d.prefs.setString("userName", QStringLiteral("Zoë"));
    d.start();
    for (const QString &type : {QRCodeData::kLinkType, QRCodeData::kInviteType}) {
        const QImage image = generateQRCode(d.mp(), type);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), image.height());
        // 10 pixels per module, a version-sized symbol plus four modules of margin each side.
        ASSERT_EQ(image.width() % 10, 0);
        const int modules = image.width() / 10 - 8;
        EXPECT_TRUE(modules >= 21 && (modules - 21) % 4 == 0) << modules;

        const auto decoded = readCode(image);
        ASSERT_TRUE(decoded) << type.toStdString();
        EXPECT_EQ(decoded->ecLevel, "H");
        EXPECT_EQ(decoded->text, d.mp().qrLinkText(type));
        EXPECT_EQ(parseQRCode(decoded->text), d.mp().qrCodeData(type));
    }
}

TEST(QrImage, TextBeyondTheLargestSymbolGivesNoImage) {
    EXPECT_FALSE(qrCodeImage(QString(1200, u'a')).isNull());
    EXPECT_TRUE(qrCodeImage(QString(3000, u'a')).isNull());
    EXPECT_TRUE(qrCodeImage(QStringLiteral("x"), 0).isNull());
}
