#pragma once

#include "app/AppServices.h"

#include <QDateTime>
#include <QJSValue>
#include <QObject>

#include <memory>

class QQmlEngine;

namespace quillmoss {

// The present instant for the screens, moving once a second with the app's
// clock (a manual clock in tests), so time shown on screen is testable.
class AppClock final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QDateTime now READ now NOTIFY tick)
    Q_PROPERTY(double nowMs READ nowMs NOTIFY tick)
    Q_PROPERTY(int hour READ hour NOTIFY tick)
public:
    explicit AppClock(Clock &clock, QObject *parent = nullptr);
    QDateTime now() const { return m_clock.now(); }
    double nowMs() const { return double(m_clock.now().toMSecsSinceEpoch()); }
    // Hour of the present moment in the user's time zone.
    int hour() const { return m_clock.now().toLocalTime().time().hour(); }
    // Runs `callback` (a QML function) once after `ms` on the app's clock.
    Q_INVOKABLE void after(int ms, const QJSValue &callback);
signals:
    void tick();

private:
    Clock &m_clock;
    std::unique_ptr<ClockTimer> m_timer;
};

// Text rules shared by the screens.
class Formatting final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QString clockText(double seconds) const;
    Q_INVOKABLE QString focusedTimeText(double seconds) const;
    Q_INVOKABLE QString greetingForHour(int hour) const;
    Q_INVOKABLE QString planMinutesText(double seconds) const;
    Q_INVOKABLE QString durationLabel(double seconds) const;
    // Abbreviated date and short time in the user's locale.
    Q_INVOKABLE QString resetDateText(const QDateTime &date) const;
};

// Puts the managers where the screens find them (context properties):
// focusManager, statistics, unlockManager, deviceIds, appSettings, services,
// appClock, formatter. Also registers the bundled fonts once.
class UiContext final : public QObject {
    Q_OBJECT
public:
    UiContext(QQmlEngine &engine, AppServices &services, QObject *parent = nullptr);
    static void registerFonts();

private:
    AppClock m_clock;
    Formatting m_format;
};

} // namespace quillmoss
