#include "StatusIconPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace quillmoss {

namespace {

const QColor kStudy(255, 51, 153); // the accent pink
const QColor kBreak(52, 199, 89);

void drawGlyph(QPainter &p, const QString &resource, const QRectF &into) {
    QSvgRenderer renderer(resource);
    if (renderer.isValid()) {
        renderer.render(&p, into);
        return;
    }
    // Without the picture a plain disc still tells that the item is there.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(into.adjusted(into.width() / 4, into.height() / 4, -into.width() / 4, -into.height() / 4));
}

} // namespace

QImage paintStatusImage(const StatusDisplay &display, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QString glyph = display.icon == StatusIcon::BreakCup ? QStringLiteral(":/quillmoss/icons/tray-cup.svg")
                                                               : QStringLiteral(":/quillmoss/icons/tray-logo.svg");
    if (display.icon == StatusIcon::IdleLogo || display.minutesLeft < 0) {
        drawGlyph(p, glyph, QRectF(0, 0, size, size));
        return image;
    }
    // The glyph above, the minutes on a coloured badge below: the badge
    // colour tells study from break even where the glyph is only a few
    // pixels tall.
    const qreal s = size;
    drawGlyph(p, glyph, QRectF(s * 0.2, 0, s * 0.6, s * 0.5));
    const QRectF badge(0, s * 0.44, s, s * 0.56);
    p.setPen(Qt::NoPen);
    p.setBrush(display.icon == StatusIcon::BreakCup ? kBreak : kStudy);
    p.drawRoundedRect(badge, s * 0.16, s * 0.16);

    const QString minutes = QString::number(display.minutesLeft);
    QFont font(QStringLiteral("Fredoka"));
    font.setWeight(QFont::Bold);
    font.setPixelSize(qMax(6, int(badge.height() * 0.92)));
    // Three or more digits must still fit across the badge.
    const qreal room = badge.width() * 0.94;
    const qreal wide = QFontMetricsF(font).horizontalAdvance(minutes);
    if (wide > room) font.setPixelSize(qMax(6, int(font.pixelSize() * room / wide)));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(badge, Qt::AlignCenter, minutes);
    return image;
}

QIcon paintStatusIcon(const StatusDisplay &display) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(paintStatusImage(display, size)));
    return icon;
}

} // namespace quillmoss
