#include "session/SessionFormatting.h"

#include <cmath>

namespace quillmoss {

namespace {
qint64 wholeSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return 0;
    return static_cast<qint64>(std::min(seconds, 9.0e15));
}
} // namespace

QString clockText(double seconds) {
    const qint64 s = wholeSeconds(seconds);
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString focusedTimeText(double seconds) {
    const qint64 s = wholeSeconds(seconds);
    const qint64 m = (s / 60) % 60;
    if (s < 3600) return QStringLiteral("%1m").arg(m);
    return QStringLiteral("%1h %2m").arg(s / 3600).arg(m);
}

QString greetingForHour(int hour) {
    if (hour < 12) return QStringLiteral("Good morning");
    if (hour < 17) return QStringLiteral("Good afternoon");
    return QStringLiteral("Good evening");
}

QString planMinutesText(double seconds) { return QStringLiteral("%1m").arg(wholeSeconds(seconds) / 60); }

} // namespace quillmoss
