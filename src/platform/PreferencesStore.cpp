#include "platform/PreferencesStore.h"
#include "platform/Console.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace quillmoss {

namespace {
const QString kDataMember = QStringLiteral("$data");

QJsonValue variantToJson(const QVariant &v);

QJsonObject mapToJson(const QVariantMap &map) {
    QJsonObject o;
    for (auto it = map.begin(); it != map.end(); ++it) o.insert(it.key(), variantToJson(it.value()));
    return o;
}

QJsonValue variantToJson(const QVariant &v) {
    switch (v.typeId()) {
    case QMetaType::QByteArray: return PreferencesStore::encodeData(v.toByteArray());
    case QMetaType::QVariantMap: return mapToJson(v.toMap());
    default: return QJsonValue::fromVariant(v);
    }
}

// Durability of the rename itself: sync the folder entry too.
void syncDirectory(const QString &dir) {
    int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

PreferencesStore::PreferencesStore(QObject *parent) : QObject(parent) {}

PreferencesStore::~PreferencesStore() = default;

std::unique_ptr<PreferencesStore> PreferencesStore::openFile(const QString &filePath, QObject *parent) {
    auto store = std::make_unique<PreferencesStore>(parent);
    store->m_filePath = filePath;
    store->loadInitial();
    store->watch();
    return store;
}

QString PreferencesStore::configDirectory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/quillmoss");
}

QString PreferencesStore::standardFilePath() { return configDirectory() + QStringLiteral("/preferences.json"); }

QString PreferencesStore::groupFilePath(const QString &suiteName) {
    return configDirectory() + QLatin1Char('/') + suiteName + QStringLiteral(".json");
}

// ---- reads ----------------------------------------------------------------

bool PreferencesStore::contains(const QString &key) const { return m_values.contains(key); }

QStringList PreferencesStore::keys() const { return m_values.keys(); }

QJsonValue PreferencesStore::value(const QString &key) const {
    auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? QJsonValue(QJsonValue::Undefined) : it.value();
}

bool PreferencesStore::boolValue(const QString &key) const { return optionalBool(key).value_or(false); }

std::optional<bool> PreferencesStore::optionalBool(const QString &key) const {
    const QJsonValue v = value(key);
    if (!v.isBool()) return std::nullopt;
    return v.toBool();
}

double PreferencesStore::doubleValue(const QString &key) const {
    const QJsonValue v = value(key);
    return v.isDouble() ? v.toDouble() : 0.0;
}

qint64 PreferencesStore::integerValue(const QString &key) const {
    const QJsonValue v = value(key);
    if (!v.isDouble()) return 0;
    const double d = v.toDouble();
    // Out-of-range numbers would be undefined behaviour to convert.
    if (!(d > -9.2e18 && d < 9.2e18)) return 0;
    return static_cast<qint64>(d);
}

std::optional<QString> PreferencesStore::stringValue(const QString &key) const {
    const QJsonValue v = value(key);
    if (!v.isString()) return std::nullopt;
    return v.toString();
}

std::optional<QByteArray> PreferencesStore::dataValue(const QString &key) const { return decodeData(value(key)); }

std::optional<QVariantMap> PreferencesStore::dictionaryValue(const QString &key) const {
    const QJsonValue v = value(key);
    if (!v.isObject() || decodeData(v)) return std::nullopt;
    return v.toObject().toVariantMap();
}

QJsonValue PreferencesStore::encodeData(const QByteArray &bytes) {
    return QJsonObject{{kDataMember, QString::fromLatin1(bytes.toBase64())}};
}

std::optional<QByteArray> PreferencesStore::decodeData(const QJsonValue &value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    if (o.size() != 1 || !o.value(kDataMember).isString()) return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(o.value(kDataMember).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return *decoded;
}

// ---- writes ---------------------------------------------------------------

void PreferencesStore::setBool(const QString &key, bool value) { setValue(key, value); }
void PreferencesStore::setDouble(const QString &key, double value) { setValue(key, value); }
void PreferencesStore::setInteger(const QString &key, qint64 value) { setValue(key, value); }
void PreferencesStore::setString(const QString &key, const QString &value) { setValue(key, value); }
void PreferencesStore::setData(const QString &key, const QByteArray &value) { setValue(key, encodeData(value)); }
void PreferencesStore::setDictionary(const QString &key, const QVariantMap &value) { setValue(key, mapToJson(value)); }

void PreferencesStore::setValue(const QString &key, const QJsonValue &value) {
    if (value.isUndefined()) {
        remove(key);
        return;
    }
    m_values.insert(key, value);
    persist();
    emit changed();
}

void PreferencesStore::remove(const QString &key) {
    if (!m_values.contains(key)) return;
    m_values.remove(key);
    persist();
    emit changed();
}

void PreferencesStore::removeAll() {
    m_values = QJsonObject();
    persist();
    emit changed();
}

// ---- the backing file -----------------------------------------------------

PreferencesStore::LoadResult PreferencesStore::readFile(QJsonObject &into) const {
    QFile file(m_filePath);
    if (!file.exists()) return LoadResult::Missing;
    if (!file.open(QIODevice::ReadOnly)) return LoadResult::Unreadable;
    const QByteArray bytes = file.readAll();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return LoadResult::Corrupt;
    into = doc.object();
    return LoadResult::Loaded;
}

void PreferencesStore::loadInitial() {
    QJsonObject loaded;
    switch (readFile(loaded)) {
    case LoadResult::Loaded: m_values = loaded; break;
    case LoadResult::Missing: break;
    case LoadResult::Corrupt: setAside(QStringLiteral("is not a JSON object")); break;
    case LoadResult::Unreadable:
        consoleLine(QStringLiteral("Preferences: cannot read %1; starting empty").arg(m_filePath));
        break;
    }
}

void PreferencesStore::setAside(const QString &why) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    const QString aside = m_filePath + QStringLiteral(".corrupt-") + stamp;
    if (QFile::rename(m_filePath, aside))
        consoleLine(QStringLiteral("Preferences: %1 %2; moved it to %3 and started empty").arg(m_filePath, why, aside));
    else
        consoleLine(QStringLiteral("Preferences: %1 %2 and could not be moved aside").arg(m_filePath, why));
}

void PreferencesStore::persist() {
    if (m_filePath.isEmpty()) return;
    const QFileInfo info(m_filePath);
    QDir().mkpath(info.absolutePath());
    QFile::setPermissions(info.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        consoleLine(QStringLiteral("Preferences: cannot write %1: %2").arg(m_filePath, file.errorString()));
        return;
    }
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        consoleLine(QStringLiteral("Preferences: cannot write %1: %2").arg(m_filePath, file.errorString()));
        return;
    }
    syncDirectory(info.absolutePath());
    // A rename replaces the watched inode; keep watching the new file.
    if (m_watcher && !m_watcher->files().contains(m_filePath)) m_watcher->addPath(m_filePath);
}

void PreferencesStore::watch() {
    m_watcher = new QFileSystemWatcher(this);
    const QFileInfo info(m_filePath);
    QDir().mkpath(info.absolutePath());
    m_watcher->addPath(info.absolutePath());
    if (info.exists()) m_watcher->addPath(m_filePath);
    m_reloadDebounce = new QTimer(this);
    m_reloadDebounce->setSingleShot(true);
    m_reloadDebounce->setInterval(30);
    connect(m_reloadDebounce, &QTimer::timeout, this, &PreferencesStore::reloadFromDisk);
    auto onEvent = [this] { onFileEvent(); };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, onEvent);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, onEvent);
}

void PreferencesStore::onFileEvent() {
    if (QFileInfo::exists(m_filePath) && !m_watcher->files().contains(m_filePath)) m_watcher->addPath(m_filePath);
    m_reloadDebounce->start();
}

void PreferencesStore::reloadFromDisk() {
    if (m_filePath.isEmpty()) return;
    QJsonObject loaded;
    switch (readFile(loaded)) {
    case LoadResult::Loaded:
        if (loaded == m_values) return; // our own write, or no real change
        m_values = loaded;
        emit changed();
        return;
    case LoadResult::Missing:
        // Deleted from outside: the domain is now empty.
        if (m_values.isEmpty()) return;
        m_values = QJsonObject();
        emit changed();
        return;
    case LoadResult::Corrupt:
        // Keep what we hold; the broken file is kept for the user to inspect.
        setAside(QStringLiteral("was replaced by something that is not a JSON object"));
        return;
    case LoadResult::Unreadable: return;
    }
}

} // namespace quillmoss
