#pragma once

#include "app/TrayPort.h"

#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace quillmoss {

// The status item as a system tray icon. The time left goes into the icon
// (minutes) and the tooltip (the title text); the menu offers "Open
// quillmoss", "Check for Updates…" and "Quit".
class SystemTray final : public QObject, public TrayPort {
    Q_OBJECT
public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

    bool isHostAvailable() const override;
    bool exists() const override { return m_icon != nullptr; }
    void create(const StatusDisplay &display) override;
    void discard() override;
    void show(const StatusDisplay &display) override;

    QSystemTrayIcon *trayIcon() const { return m_icon.get(); }
    QMenu *menu() const { return m_menu.get(); }

signals:
    void openChosen();
    void checkForUpdatesChosen();
    void quitChosen();

private:
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    StatusDisplay m_shown;
};

} // namespace quillmoss
