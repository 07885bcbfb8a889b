#pragma once

#include "devices/ComputerName.h"

#include <QObject>
#include <QString>

#include <functional>

namespace quillmoss {

class PreferencesStore;

// This installation's stable device id and the name it shows to other devices.
class DeviceIDManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString deviceID READ deviceID CONSTANT)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY deviceNameChanged)
public:
    static inline const QString kDeviceIdKey = QStringLiteral("quillmoss_device_id");
    static inline const QString kCustomNameKey = QStringLiteral("customDeviceName");
    static inline const QString kFallbackName = QStringLiteral("Mac");

    explicit DeviceIDManager(PreferencesStore &prefs, std::function<QString()> computerName = systemComputerName,
                             QObject *parent = nullptr);

    static DeviceIDManager *shared();
    static void setShared(DeviceIDManager *manager);

    // Created (upper-case UUID text) and stored on first use; a stored id is
    // taken as it is. Kept for the rest of the run even if the store is
    // cleared, so this device does not change identity under its peers' feet.
    QString deviceID() const;

    // The user's chosen name, else the computer's name, else "Mac".
    QString deviceName() const;

signals:
    void deviceNameChanged();

private:
    void onStoreChanged();
    QString customName() const;

    PreferencesStore &m_prefs;
    std::function<QString()> m_computerName;
    mutable QString m_cachedId;
    QString m_lastCustomName;
    QString m_lastName;
};

} // namespace quillmoss
