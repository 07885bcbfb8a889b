#include "app/AppSettings.h"

namespace quillmoss {

AppSettings::AppSettings(PreferencesStore &prefs, QObject *parent) : QObject(parent), m_prefs(prefs) {
    connect(&m_prefs, &PreferencesStore::changed, this, &AppSettings::changed);
}

QString AppSettings::userName() const { return m_prefs.stringValue(kUserName).value_or(QString()); }
void AppSettings::setUserName(const QString &name) { m_prefs.setString(kUserName, name); }
QString AppSettings::displayName() const {
    const auto stored = m_prefs.stringValue(kUserName);
    return stored ? *stored : QStringLiteral("User");
}

bool AppSettings::hasCompletedOnboarding() const { return m_prefs.boolValue(kHasCompletedOnboarding); }
void AppSettings::setHasCompletedOnboarding(bool done) { m_prefs.setBool(kHasCompletedOnboarding, done); }

bool AppSettings::showMenuBarIcon() const { return m_prefs.optionalBool(kShowMenuBarIcon).value_or(true); }
void AppSettings::setShowMenuBarIcon(bool show) { m_prefs.setBool(kShowMenuBarIcon, show); }

bool AppSettings::hideMenuBarWhenConnected() const {
    return m_prefs.optionalBool(kHideMenuBarWhenConnected).value_or(true);
}
void AppSettings::setHideMenuBarWhenConnected(bool hide) { m_prefs.setBool(kHideMenuBarWhenConnected, hide); }

bool AppSettings::hideDockIcon() const { return m_prefs.boolValue(kHideDockIcon); }

bool AppSettings::hasStartedFirstSession() const { return m_prefs.boolValue(kHasStartedFirstSession); }
void AppSettings::setHasStartedFirstSession(bool started) { m_prefs.setBool(kHasStartedFirstSession, started); }

} // namespace quillmoss
