#include "UiContext.h"

#include "session/SessionFormatting.h"
#include "session/SessionModel.h"

#include <QDir>
#include <QFontDatabase>
#include <QJSValue>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>

namespace quillmoss {

AppClock::AppClock(Clock &clock, QObject *parent) : QObject(parent), m_clock(clock), m_timer(clock.createTimer()) {
    connect(m_timer.get(), &ClockTimer::timeout, this, &AppClock::tick);
    m_timer->start(1000);
}

void AppClock::after(int ms, const QJSValue &callback) {
    if (!callback.isCallable()) return;
    m_clock.callLater(ms, this, [callback]() mutable { callback.call(); });
}

QString Formatting::clockText(double seconds) const { return quillmoss::clockText(seconds); }
QString Formatting::focusedTimeText(double seconds) const { return quillmoss::focusedTimeText(seconds); }
QString Formatting::greetingForHour(int hour) const { return quillmoss::greetingForHour(hour); }
QString Formatting::planMinutesText(double seconds) const { return quillmoss::planMinutesText(seconds); }
QString Formatting::durationLabel(double seconds) const { return quillmoss::durationLabel(seconds); }
QString Formatting::resetDateText(const QDateTime &date) const {
    return EmergencyUnlockManager::formatResetDate(date);
}

UiContext::UiContext(QQmlEngine &engine, AppServices &services, QObject *parent)
    : QObject(parent), m_clock(services.ports().clock) {
    registerFonts();
    QQmlContext *root = engine.rootContext();
    root->setContextProperty(QStringLiteral("focusManager"), &services.focus());
    root->setContextProperty(QStringLiteral("statistics"), &services.statistics());
    root->setContextProperty(QStringLiteral("unlockManager"), &services.unlock());
    root->setContextProperty(QStringLiteral("deviceIds"), &services.deviceIds());
    root->setContextProperty(QStringLiteral("appSettings"), &services.settings());
    root->setContextProperty(QStringLiteral("services"), &services);
    root->setContextProperty(QStringLiteral("appClock"), &m_clock);
    root->setContextProperty(QStringLiteral("formatter"), &m_format);
}

void UiContext::registerFonts() {
    static bool done = false;
    if (done) return;
    done = true;
    // A missing font is not fatal: text falls back to the system font.
    const QStringList fonts = QDir(QStringLiteral(":/fonts")).entryList({QStringLiteral("*.ttf")});
    for (const QString &font : fonts) QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/") + font);
}

} // namespace quillmoss
