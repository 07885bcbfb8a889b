#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

class QFileSystemWatcher;
class QTimer;

namespace quillmoss {

// The per-user key → value store every subsystem keeps its settings and
// records in. Either backed by a JSON file (the app) or held in memory (tests).
//
// File format: one JSON object. bool → true/false, numbers → JSON numbers,
// strings → JSON strings, dictionaries → JSON objects, binary data → an object
// with the single member "$data" holding the standard Base64 of the bytes.
//
// Typed reads never fail: a value of another type reads as absent (false or 0
// for the bool/number reads). Values the store does not understand are kept
// untouched, so nothing a user or another tool put in the file is lost.
class PreferencesStore : public QObject {
    Q_OBJECT
public:
    // A store that lives in memory only.
    explicit PreferencesStore(QObject *parent = nullptr);
    // A store backed by `filePath`, loaded now and watched for changes made by
    // other processes.
    static std::unique_ptr<PreferencesStore> openFile(const QString &filePath, QObject *parent = nullptr);

    // $XDG_CONFIG_HOME/quillmoss (or ~/.config/quillmoss), read afresh each call.
    static QString configDirectory();
    // The app's own domain and the shared "group.quillmoss" suite.
    static QString standardFilePath();
    static QString groupFilePath(const QString &suiteName = QStringLiteral("group.quillmoss"));

    ~PreferencesStore() override;

    QString filePath() const { return m_filePath; }

    bool contains(const QString &key) const;
    QStringList keys() const;
    // The raw stored value (QJsonValue::Undefined when absent).
    QJsonValue value(const QString &key) const;

    bool boolValue(const QString &key) const;
    double doubleValue(const QString &key) const;
    qint64 integerValue(const QString &key) const;
    std::optional<QString> stringValue(const QString &key) const;
    std::optional<QByteArray> dataValue(const QString &key) const;
    std::optional<QVariantMap> dictionaryValue(const QString &key) const;
    // True when a value is stored and it is a bool (so a caller can tell an
    // absent flag from a stored false).
    std::optional<bool> optionalBool(const QString &key) const;

    void setBool(const QString &key, bool value);
    void setDouble(const QString &key, double value);
    void setInteger(const QString &key, qint64 value);
    void setString(const QString &key, const QString &value);
    void setData(const QString &key, const QByteArray &value);
    void setDictionary(const QString &key, const QVariantMap &value);
    void setValue(const QString &key, const QJsonValue &value);

    void remove(const QString &key);
    // Removes every key of this domain at once (the file is emptied).
    void removeAll();

    // Re-reads the backing file now (normally done by the file watcher).
    void reloadFromDisk();

    static QJsonValue encodeData(const QByteArray &bytes);
    static std::optional<QByteArray> decodeData(const QJsonValue &value);

signals:
    // After every change made through the store, and after the backing file
    // was changed by somebody else.
    void changed();

private:
    enum class LoadResult { Loaded, Missing, Corrupt, Unreadable };
    LoadResult readFile(QJsonObject &into) const;
    void loadInitial();
    void persist();
    void watch();
    void onFileEvent();
    void setAside(const QString &why);

    QString m_filePath;
    QJsonObject m_values;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_reloadDebounce = nullptr;
};

} // namespace quillmoss
