#pragma once

#include <QImage>
#include <QString>

namespace quillmoss {

class MultipeerManager;

// A QR code of `text`'s UTF-8 bytes at error-correction level H, each module
// `pixelsPerModule` pixels square, black on white with the standard quiet
// zone of four modules. A null image when the text does not fit a QR code.
QImage qrCodeImage(const QString &text, int pixelsPerModule = 10);

// The code a showing screen displays: this device's payload of `type`
// ("quillmoss" or "session_invite") as a link, 10 pixels per module.
QImage generateQRCode(const MultipeerManager &peers, const QString &type);

} // namespace quillmoss
