#include "devices/DeviceIDManager.h"

#include "platform/PreferencesStore.h"
#include "session/SessionModel.h"

#include <QUuid>

namespace quillmoss {

namespace {
DeviceIDManager *s_shared = nullptr;
}

DeviceIDManager::DeviceIDManager(PreferencesStore &prefs, std::function<QString()> computerName, QObject *parent)
    : QObject(parent), m_prefs(prefs), m_computerName(std::move(computerName)) {
    m_lastCustomName = customName();
    m_lastName = deviceName();
    connect(&m_prefs, &PreferencesStore::changed, this, &DeviceIDManager::onStoreChanged);
}

DeviceIDManager *DeviceIDManager::shared() { return s_shared; }
void DeviceIDManager::setShared(DeviceIDManager *manager) { s_shared = manager; }

QString DeviceIDManager::deviceID() const {
    if (!m_cachedId.isEmpty()) return m_cachedId;
    // An empty stored id could not tell devices apart; it counts as none.
    const QString stored = m_prefs.stringValue(kDeviceIdKey).value_or(QString());
    if (!stored.isEmpty()) {
        m_cachedId = stored;
    } else {
        m_cachedId = uuidText(QUuid::createUuid());
        m_prefs.setString(kDeviceIdKey, m_cachedId);
    }
    return m_cachedId;
}

QString DeviceIDManager::customName() const { return m_prefs.stringValue(kCustomNameKey).value_or(QString()); }

QString DeviceIDManager::deviceName() const {
    const QString custom = customName();
    if (!custom.isEmpty()) return custom;
    const QString computer = m_computerName ? m_computerName() : QString();
    return computer.isEmpty() ? kFallbackName : computer;
}

void DeviceIDManager::onStoreChanged() {
    // Only a change of the chosen name is worth recomputing for; every save
    // of any record lands here.
    const QString custom = customName();
    if (custom == m_lastCustomName) return;
    m_lastCustomName = custom;
    const QString name = deviceName();
    if (name == m_lastName) return;
    m_lastName = name;
    emit deviceNameChanged();
}

} // namespace quillmoss
