#pragma once

#include <QHash>
#include <QSet>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QFileSystemWatcher;

namespace quillmoss {

// One installed application as its .desktop file describes it.
struct DesktopEntry {
    QString id;             // desktop-entry ID, e.g. "org.gnome.Nautilus"
    QString name;           // Name, localised when the file has a translation
    QString startupWMClass; // empty when the file does not say
};

// The keys of one group of a desktop-entry style file ("[Desktop Entry]",
// mimeapps.list, .flatpak-info). Localised keys keep their "[ll_CC]" suffix.
// Empty when the file cannot be read.
QHash<QString, QString> readKeyFileGroup(const QString &path, const QString &group);

// Installed applications by desktop-entry ID, read from the applications/
// folders of the XDG data directories. The folders are watched: after a change
// the next lookup reads them again, and generation() moves on so that callers
// can drop what they derived from the old contents.
class DesktopEntryIndex : public QObject {
    Q_OBJECT
public:
    // `applicationDirs` in precedence order: the first folder that holds an ID
    // defines it.
    explicit DesktopEntryIndex(QStringList applicationDirs, QObject *parent = nullptr);
    ~DesktopEntryIndex() override;

    // $XDG_DATA_HOME (or ~/.local/share), then each of $XDG_DATA_DIRS (or
    // /usr/local/share:/usr/share), each with "/applications" appended.
    static QStringList applicationDirsFromEnvironment();
    // $XDG_CONFIG_HOME (or ~/.config), then each of $XDG_CONFIG_DIRS (or /etc/xdg).
    static QStringList configDirsFromEnvironment();
    // $XDG_CURRENT_DESKTOP split at ':' and lower-cased.
    static QStringList currentDesktopsFromEnvironment();

    // "kde4/konsole.desktop" → "kde4-konsole".
    static QString idForRelativePath(const QString &relativePath);

    QStringList applicationDirs() const { return m_dirs; }

    std::optional<DesktopEntry> entry(const QString &id);
    // The application whose StartupWMClass is exactly `wmClass`; empty if none.
    QString idForStartupWMClass(const QString &wmClass);
    // The application whose ID equals `name` ignoring case; empty if none.
    QString idMatchingIgnoringCase(const QString &name);
    // The installed default handler of `mimeType` according to the
    // mimeapps.list files (desktop-specific ones first), without ".desktop";
    // empty when none is set or none of those set is installed.
    QString defaultApplication(const QString &mimeType, const QStringList &configDirs,
                               const QStringList &desktops);

    quint64 generation();

signals:
    // One of the watched folders changed; the next lookup reads them again.
    void changed();

private:
    void ensureFresh();
    void rescan();
    void watchFolders();

    QStringList m_dirs;
    QFileSystemWatcher *m_watcher = nullptr;
    QSet<QString> m_parentWatches;
    bool m_stale = true;
    quint64 m_generation = 0;
    QHash<QString, DesktopEntry> m_entries;
    QHash<QString, QString> m_byWMClass;
    QHash<QString, QString> m_byFoldedId;
};

} // namespace quillmoss
