#include "QrImage.h"

#include "devices/MultipeerManager.h"

#include <qrencode.h>

#include <memory>

namespace quillmoss {

namespace {
constexpr int kQuietZoneModules = 4;
struct QRcodeDeleter {
    void operator()(QRcode *code) const { QRcode_free(code); }
};
} // namespace

QImage qrCodeImage(const QString &text, int pixelsPerModule) {
    if (pixelsPerModule < 1) return {};
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, QRcodeDeleter> code(QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_H));
    if (!code || code->width <= 0) return {};

    const int modules = code->width;
    const int side = (modules + 2 * kQuietZoneModules) * pixelsPerModule;
    QImage image(side, side, QImage::Format_Grayscale8);
    if (image.isNull()) return {};
    image.fill(255);
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x) {
            // Bit 0 of each module byte: 1 = dark.
            if (!(code->data[y * modules + x] & 1)) continue;
            const int left = (x + kQuietZoneModules) * pixelsPerModule;
            const int top = (y + kQuietZoneModules) * pixelsPerModule;
            for (int row = top; row < top + pixelsPerModule; ++row)
                std::fill_n(image.scanLine(row) + left, pixelsPerModule, uchar(0));
        }
    }
    return image;
}

QImage generateQRCode(const MultipeerManager &peers, const QString &type) {
    return qrCodeImage(peers.qrLinkText(type));
}

} // namespace quillmoss
