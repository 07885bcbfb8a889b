#include "DesktopEntryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QSet>

namespace quillmoss {

namespace {

QString unescapeValue(const QString &raw) {
    if (!raw.contains(QLatin1Char('\\')))
        return raw;
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out.append(c);
            continue;
        }
        const QChar n = raw.at(++i);
        switch (n.unicode()) {
        case 's': out.append(QLatin1Char(' ')); break;
        case 'n': out.append(QLatin1Char('\n')); break;
        case 't': out.append(QLatin1Char('\t')); break;
        case 'r': out.append(QLatin1Char('\r')); break;
        default: out.append(n); break; // "\\" and "\;" keep the character
        }
    }
    return out;
}

QStringList splitPathList(const QByteArray &value, const QString &fallback) {
    const QString text = value.isEmpty() ? fallback : QString::fromLocal8Bit(value);
    QStringList out;
    for (const QString &part : text.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid in these variables and would depend on
        // the working directory.
        if (QDir::isAbsolutePath(part))
            out.append(QDir::cleanPath(part));
    }
    return out;
}

QString homeRelative(const char *variable, const char *fallbackUnderHome) {
    const QByteArray value = qgetenv(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(value)))
        return QDir::cleanPath(QString::fromLocal8Bit(value));
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
}

QString localisedName(const QHash<QString, QString> &group) {
    const QString locale = QLocale::system().name(); // "de_DE"
    const QString language = locale.section(QLatin1Char('_'), 0, 0);
    for (const QString &key : {QStringLiteral("Name[%1]").arg(locale),
                               QStringLiteral("Name[%1]").arg(language)}) {
        const QString value = group.value(key);
        if (!value.isEmpty())
            return value;
    }
    return group.value(QStringLiteral("Name"));
}

QString withoutDesktopSuffix(QString id) {
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    return id;
}

} // namespace

QHash<QString, QString> readKeyFileGroup(const QString &path, const QString &group) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    // These files are small; a cap keeps a mistaken path (a device, a huge
    // file) from stalling the main thread.
    const QByteArray bytes = file.read(1 << 20);
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    bool inGroup = false;
    for (const QByteArray &rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = (line == header);
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key)) // the first occurrence counts
            keys.insert(key, unescapeValue(line.mid(eq + 1).trimmed()));
    }
    return keys;
}

DesktopEntryIndex::DesktopEntryIndex(QStringList applicationDirs, QObject *parent)
    : QObject(parent), m_dirs(std::move(applicationDirs)), m_watcher(new QFileSystemWatcher(this)) {
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &path) {
        // A parent is watched only to see its applications/ folder appear;
        // other changes there (~/.local/share is busy) do not matter.
        if (m_parentWatches.contains(path)) {
            bool appeared = false;
            for (const QString &dir : std::as_const(m_dirs))
                appeared = appeared || (QFileInfo(dir).absolutePath() == path && QFileInfo(dir).isDir());
            if (!appeared)
                return;
        }
        m_stale = true;
        emit changed();
    });
    watchFolders();
}

DesktopEntryIndex::~DesktopEntryIndex() = default;

QStringList DesktopEntryIndex::applicationDirsFromEnvironment() {
    QStringList dataDirs{homeRelative("XDG_DATA_HOME", ".local/share")};
    dataDirs += splitPathList(qgetenv("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share"));
    QStringList out;
    for (const QString &dir : dataDirs) {
        const QString apps = dir + QStringLiteral("/applications");
        if (!out.contains(apps))
            out.append(apps);
    }
    return out;
}

QStringList DesktopEntryIndex::configDirsFromEnvironment() {
    QStringList out{homeRelative("XDG_CONFIG_HOME", ".config")};
    for (const QString &dir : splitPathList(qgetenv("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg"))) {
        if (!out.contains(dir))
            out.append(dir);
    }
    return out;
}

QStringList DesktopEntryIndex::currentDesktopsFromEnvironment() {
    QStringList out;
    const QString value = QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP"));
    for (const QString &part : value.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        out.append(part.toLower());
    return out;
}

QString DesktopEntryIndex::idForRelativePath(const QString &relativePath) {
    QString id = withoutDesktopSuffix(relativePath);
    id.replace(QLatin1Char('/'), QLatin1Char('-'));
    return id;
}

std::optional<DesktopEntry> DesktopEntryIndex::entry(const QString &id) {
    ensureFresh();
    const auto it = m_entries.constFind(id);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return *it;
}

QString DesktopEntryIndex::idForStartupWMClass(const QString &wmClass) {
    ensureFresh();
    return m_byWMClass.value(wmClass);
}

QString DesktopEntryIndex::idMatchingIgnoringCase(const QString &name) {
    ensureFresh();
    return m_byFoldedId.value(name.toCaseFolded());
}

QString DesktopEntryIndex::defaultApplication(const QString &mimeType, const QStringList &configDirs,
                                              const QStringList &desktops) {
    QStringList files;
    for (const QStringList &dirs : {configDirs, m_dirs}) {
        for (const QString &dir : dirs) {
            for (const QString &desktop : desktops)
                files.append(dir + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list"));
            files.append(dir + QStringLiteral("/mimeapps.list"));
        }
    }
    for (const QString &file : files) {
        const QString value =
            readKeyFileGroup(file, QStringLiteral("Default Applications")).value(mimeType);
        for (const QString &candidate : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString id = withoutDesktopSuffix(candidate.trimmed());
            if (entry(id))
                return id;
        }
    }
    return {};
}

quint64 DesktopEntryIndex::generation() {
    ensureFresh();
    return m_generation;
}

void DesktopEntryIndex::ensureFresh() {
    if (m_stale)
        rescan();
}

void DesktopEntryIndex::rescan() {
    m_stale = false;
    ++m_generation;
    m_entries.clear();
    m_byWMClass.clear();
    m_byFoldedId.clear();
    QSet<QString> seen; // IDs defined (or deleted) by a folder of higher precedence
    for (const QString &dir : std::as_const(m_dirs)) {
        QStringList relativePaths;
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        const QDir base(dir);
        while (it.hasNext())
            relativePaths.append(base.relativeFilePath(it.next()));
        relativePaths.sort(); // the same answer on every scan when two files tie
        for (const QString &relative : std::as_const(relativePaths)) {
            const QString id = idForRelativePath(relative);
            if (seen.contains(id))
                continue;
            seen.insert(id);
            const QHash<QString, QString> group =
                readKeyFileGroup(base.filePath(relative), QStringLiteral("Desktop Entry"));
            // Hidden=true is how a user deletes a system-wide entry; it masks
            // the lower folders too, so it stays in `seen`.
            if (group.value(QStringLiteral("Type")) != QLatin1String("Application")
                || group.value(QStringLiteral("Hidden")) == QLatin1String("true"))
                continue;
            DesktopEntry e{id, localisedName(group), group.value(QStringLiteral("StartupWMClass"))};
            if (!e.startupWMClass.isEmpty() && !m_byWMClass.contains(e.startupWMClass))
                m_byWMClass.insert(e.startupWMClass, id);
            const QString folded = id.toCaseFolded();
            if (!m_byFoldedId.contains(folded))
                m_byFoldedId.insert(folded, id);
            m_entries.insert(id, std::move(e));
        }
    }
    watchFolders(); // new subfolders, or an applications/ folder that was just created
}

void DesktopEntryIndex::watchFolders() {
    QStringList wanted;
    m_parentWatches.clear();
    for (const QString &dir : std::as_const(m_dirs)) {
        const QFileInfo info(dir);
        if (!info.isDir()) {
            // Watching the parent notices the folder being created later.
            const QString parent = info.absolutePath();
            if (QFileInfo(parent).isDir()) {
                wanted.append(parent);
                m_parentWatches.insert(parent);
            }
            continue;
        }
        wanted.append(dir);
        QDirIterator it(dir, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            wanted.append(it.next());
    }
    const QStringList watched = m_watcher->directories();
    QStringList unwanted;
    for (const QString &path : watched) {
        if (!wanted.contains(path))
            unwanted.append(path);
    }
    if (!unwanted.isEmpty())
        m_watcher->removePaths(unwanted);
    QStringList missing;
    for (const QString &path : std::as_const(wanted)) {
        if (!watched.contains(path) && !missing.contains(path))
            missing.append(path);
    }
    if (!missing.isEmpty())
        m_watcher->addPaths(missing);
}

} // namespace quillmoss
