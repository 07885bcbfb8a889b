#pragma once

#include "platform/PreferencesStore.h"

#include <QObject>

namespace quillmoss {

// The flags and texts the screens bind to, each tied to its preferences key:
// read when asked (with its default when absent), written through at once,
// and re-announced when anybody else changes the store.
class AppSettings final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString userName READ userName WRITE setUserName NOTIFY changed)
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE setHasCompletedOnboarding NOTIFY changed)
    Q_PROPERTY(bool showMenuBarIcon READ showMenuBarIcon WRITE setShowMenuBarIcon NOTIFY changed)
    Q_PROPERTY(bool hideMenuBarWhenConnected READ hideMenuBarWhenConnected WRITE setHideMenuBarWhenConnected NOTIFY
                   changed)
    Q_PROPERTY(bool hideDockIcon READ hideDockIcon NOTIFY changed)
    Q_PROPERTY(bool hasStartedFirstSession READ hasStartedFirstSession WRITE setHasStartedFirstSession NOTIFY changed)
public:
    explicit AppSettings(PreferencesStore &prefs, QObject *parent = nullptr);

    static inline const QString kUserName = QStringLiteral("userName");
    static inline const QString kHasCompletedOnboarding = QStringLiteral("hasCompletedOnboarding");
    static inline const QString kShowMenuBarIcon = QStringLiteral("showMenuBarIcon");
    static inline const QString kHideMenuBarWhenConnected = QStringLiteral("hideMenuBarWhenConnected");
    static inline const QString kHideDockIcon = QStringLiteral("hideDockIcon");
    static inline const QString kHasStartedFirstSession = QStringLiteral("hasStartedFirstSession");

    // The stored name, empty when none (onboarding's field starts empty).
    QString userName() const;
    void setUserName(const QString &name);
    // The name the home screen greets: "User" when none is stored.
    Q_INVOKABLE QString displayName() const;
    bool hasCompletedOnboarding() const;
    void setHasCompletedOnboarding(bool done);
    bool showMenuBarIcon() const;
    void setShowMenuBarIcon(bool show);
    bool hideMenuBarWhenConnected() const;
    void setHideMenuBarWhenConnected(bool hide);
    bool hideDockIcon() const;
    bool hasStartedFirstSession() const;
    void setHasStartedFirstSession(bool started);

signals:
    void changed();

private:
    PreferencesStore &m_prefs;
};

} // namespace quillmoss
