#include "SystemTray.h"

#include "StatusIconPainter.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace quillmoss {

SystemTray::SystemTray(QObject *parent) : QObject(parent) {}

SystemTray::~SystemTray() = default;

bool SystemTray::isHostAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void SystemTray::create(const StatusDisplay &display) {
    discard();
    m_menu = std::make_unique<QMenu>();
    QAction *open = m_menu->addAction(QStringLiteral("Open quillmoss"), this, &SystemTray::openChosen);
    open->setObjectName(QStringLiteral("openAction"));
    m_menu->addSeparator();
    QAction *updates =
        m_menu->addAction(QStringLiteral("Check for Updates\u2026"), this, &SystemTray::checkForUpdatesChosen);
    updates->setObjectName(QStringLiteral("checkForUpdatesAction"));
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit"), this, &SystemTray::quitChosen);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_icon = std::make_unique<QSystemTrayIcon>();
    m_icon->setContextMenu(m_menu.get());
    // A plain click on the icon brings the window forward, as "Open" does.
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit openChosen();
    });
    m_icon->setIcon(paintStatusIcon(display));
    m_icon->setToolTip(display.title);
    m_shown = display;
    m_icon->show();
}

void SystemTray::discard() {
    m_icon.reset();
    m_menu.reset();
}

void SystemTray::show(const StatusDisplay &display) {
    if (!m_icon) return;
    // The picture only changes with the icon kind and the minutes.
    if (display.icon != m_shown.icon || display.minutesLeft != m_shown.minutesLeft)
        m_icon->setIcon(paintStatusIcon(display));
    if (display.title != m_shown.title) m_icon->setToolTip(display.title);
    m_shown = display;
}

} // namespace quillmoss
