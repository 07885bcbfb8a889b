#pragma once
// Real managers over an in-memory preferences store, fake platform ports and
// a manual clock, as the screens' tests and the screenshot tool see them.
#include "UiContext.h"
#include "app/AppServices.h"
#include "support/Fakes.h"
#include "support/ManualClock.h"

#include <QDesktopServices>
#include <QQmlContext>
#include <QQmlEngine>

namespace quillmoss::test {

// What a test file sees as `testHarness`.
class TestHarness final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject *workspace READ workspaceObject CONSTANT)
public:
    explicit TestHarness(QQmlEngine &engine) : m_engine(engine) { reset(); }

    // Fresh managers over an empty store, at 2026-03-02 09:00 local time.
    Q_INVOKABLE void reset() {
        m_context.reset();
        m_services.reset();
        m_prefs = std::make_unique<PreferencesStore>();
        m_clock = std::make_unique<ManualClock>(QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::LocalTime).toUTC());
        m_services = std::make_unique<AppServices>(PlatformPorts{*m_clock, *m_prefs, &m_group, m_workspace, m_browsers,
                                                                 m_notifications, m_sounds, m_idle,
                                                                 [] { return QStringLiteral("Test Machine"); }});
        m_services->peers().setTarget(&m_peers);
        m_context = std::make_unique<UiContext>(m_engine, *m_services);
        m_engine.rootContext()->setContextProperty(QStringLiteral("testHarness"), this);
    }
    // Moves the app's clock on, firing its timers.
    Q_INVOKABLE void advance(int ms) { m_clock->advance(ms); }
    // Sets the local wall-clock time of the app's clock.
    Q_INVOKABLE void setLocalTime(int hour, int minute) {
        m_clock->setNow(QDateTime(QDate(2026, 3, 2), QTime(hour, minute), Qt::LocalTime).toUTC());
        m_clock->advance(1000);
    }
    Q_INVOKABLE void addRunningApp(const QString &id, bool regular) { m_workspace.add(id, regular); }
    Q_INVOKABLE void setPreference(const QString &key, const QVariant &value) {
        m_prefs->setValue(key, QJsonValue::fromVariant(value));
    }
    Q_INVOKABLE QVariant preference(const QString &key) const { return m_prefs->value(key).toVariant(); }
    Q_INVOKABLE bool hasPreference(const QString &key) const { return m_prefs->contains(key); }
    Q_INVOKABLE int setupStatusCount() const { return int(m_peers.setupStatuses.size()); }
    Q_INVOKABLE bool lastSetupStatus() const { return !m_peers.setupStatuses.empty() && m_peers.setupStatuses.back(); }
    Q_INVOKABLE bool enforcementOn() const { return m_services->enforcer().isMonitoring(); }
    Q_INVOKABLE QStringList hiddenApps() const { return m_workspace.hidden; }
    QObject *workspaceObject() { return &m_workspace; }
    // Starts a session of the default plan (study 25, break 5, study 25 min)
    // as if started from the builder.
    Q_INVOKABLE void startDefaultPlan() {
        const SessionPlan plan = defaultPlan();
        m_services->focus().startSession(kDefaultSubject, plan, totalDuration(plan));
    }
    // Addresses handed to the desktop to open, captured instead of opened
    // from the first call of this on.
    Q_INVOKABLE void captureOpenedUrls() {
        m_openedUrls.clear();
        m_capturingUrls = true;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "urlOpened");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "urlOpened");
    }
    Q_INVOKABLE QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void urlOpened(const QUrl &url) { m_openedUrls.append(url.toString()); }
    ~TestHarness() override {
        if (m_capturingUrls) {
            QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
            QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        }
    }
    // Replaces the engine's blocking selection (stored, as a save would).
    Q_INVOKABLE void setSelection(const QStringList &apps, const QStringList &sites) {
        m_services->focus().setSelection(MacActivitySelection{apps, sites});
    }

private:
    QQmlEngine &m_engine;
    PreferencesStore m_group;
    FakeWorkspace m_workspace;
    FakeBrowserTabs m_browsers;
    FakeNotifications m_notifications;
    FakeSounds m_sounds;
    FakeIdleInhibit m_idle;
    FakePeers m_peers;
    std::unique_ptr<PreferencesStore> m_prefs;
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<UiContext> m_context;
    QStringList m_openedUrls;
    bool m_capturingUrls = false;
};


} // namespace quillmoss::test
