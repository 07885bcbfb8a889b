#include "platform/PreferencesStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quillmoss;

namespace {

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Waits for a file-system event to be delivered; bounded, not a fixed sleep.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct FileStoreTest : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("quillmoss/preferences.json"); }
};

} // namespace

TEST(PreferencesStore, TypedReadsTreatOtherTypesAsAbsent) {
    PreferencesStore store;
    store.setBool("flag", true);
    store.setInteger("count", 42);
    store.setDouble("ratio", 2.5);
    store.setString("name", "Ada");
    store.setData("blob", QByteArray("\x00\x01\xff", 3));
    store.setDictionary("map", {{"a", 1}, {"b", "x"}});

    EXPECT_TRUE(store.boolValue("flag"));
    EXPECT_EQ(store.integerValue("count"), 42);
    EXPECT_EQ(store.doubleValue("ratio"), 2.5);
    EXPECT_EQ(store.stringValue("name"), QString("Ada"));
    EXPECT_EQ(store.dataValue("blob"), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(store.dictionaryValue("map")->value("b").toString(), "x");

    // Wrong types and absent keys.
    EXPECT_FALSE(store.boolValue("name"));
    EXPECT_EQ(store.optionalBool("count"), std::nullopt);
    EXPECT_EQ(store.integerValue("name"), 0);
    EXPECT_EQ(store.doubleValue("flag"), 0);
    EXPECT_EQ(store.stringValue("count"), std::nullopt);
    EXPECT_EQ(store.dataValue("map"), std::nullopt);
    EXPECT_EQ(store.dictionaryValue("blob"), std::nullopt); // data is not a dictionary
    EXPECT_EQ(store.stringValue("missing"), std::nullopt);
    EXPECT_FALSE(store.contains("missing"));

    // A "$data" member that is not Base64 is not data.
    store.setValue("bad", QJsonObject{{"$data", "!!not base64!!"}});
    EXPECT_EQ(store.dataValue("bad"), std::nullopt);
}

TEST(PreferencesStore, SignalsEveryChangeAndRemoves) {
    PreferencesStore store;
    QSignalSpy spy(&store, &PreferencesStore::changed);
    store.setBool("a", true);
    store.setString("b", "x");
    store.remove("a");
    store.remove("never-there"); // no change, no signal
    EXPECT_EQ(spy.count(), 3);
    store.removeAll();
    EXPECT_EQ(spy.count(), 4);
    EXPECT_TRUE(store.keys().isEmpty());
}

TEST_F(FileStoreTest, WritesTheDocumentedFormatWithPrivatePermissions) {
    {
        auto store = PreferencesStore::openFile(path());
        store->setBool("hideDockIcon", true);
        store->setInteger("n", 3);
        store->setData("FocusSelection", QByteArray("{}"));
    }
    const QJsonObject o = QJsonDocument::fromJson(readAll(path())).object();
    EXPECT_EQ(o.value("hideDockIcon"), QJsonValue(true));
    EXPECT_EQ(o.value("n"), QJsonValue(3));
    EXPECT_EQ(o.value("FocusSelection").toObject().value("$data").toString(), "e30=");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    auto reopened = PreferencesStore::openFile(path());
    EXPECT_TRUE(reopened->boolValue("hideDockIcon"));
    EXPECT_EQ(reopened->dataValue("FocusSelection"), QByteArray("{}"));
}

TEST_F(FileStoreTest, CorruptFileIsSetAsideNotOverwritten) {
    QDir().mkpath(dir.filePath("quillmoss"));
    writeAll(path(), "[1, 2, 3]");
    auto store = PreferencesStore::openFile(path());
    EXPECT_TRUE(store->keys().isEmpty());
    const QStringList aside = QDir(dir.filePath("quillmoss")).entryList({"preferences.json.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(dir.filePath("quillmoss/" + aside[0])), "[1, 2, 3]");
    store->setBool("x", true);
    EXPECT_TRUE(QJsonDocument::fromJson(readAll(path())).object().value("x").toBool());
}

TEST_F(FileStoreTest, UnknownValuesSurviveRewrites) {
    QDir().mkpath(dir.filePath("quillmoss"));
    writeAll(path(), R"({"custom": [1, {"deep": null}], "other": null})");
    auto store = PreferencesStore::openFile(path());
    store->setBool("new", true);
    const QJsonObject o = QJsonDocument::fromJson(readAll(path())).object();
    EXPECT_EQ(o.value("custom").toArray().size(), 2);
    EXPECT_TRUE(o.contains("other"));
}

TEST_F(FileStoreTest, ExternalEditsReloadAndSignal) {
    auto store = PreferencesStore::openFile(path());
    store->setBool("hideDockIcon", false);
    QSignalSpy spy(store.get(), &PreferencesStore::changed);

    // Another process replaces the file the usual way (write elsewhere, rename).
    const QString temp = dir.filePath("quillmoss/edit.tmp");
    writeAll(temp, R"({"hideDockIcon": true})");
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QFile::rename(temp, path()));
    ASSERT_TRUE(waitFor([&] { return store->boolValue("hideDockIcon"); }));
    EXPECT_GE(spy.count(), 1);

    // And in place, twice (the watch must survive the first event).
    writeAll(path(), R"({"hideDockIcon": false, "x": 1})");
    ASSERT_TRUE(waitFor([&] { return store->integerValue("x") == 1; }));
    writeAll(path(), R"({"hideDockIcon": true, "x": 2})");
    ASSERT_TRUE(waitFor([&] { return store->integerValue("x") == 2; }));
}

TEST_F(FileStoreTest, RemoveAllEmptiesOnlyThisDomain) {
    auto standard = PreferencesStore::openFile(path());
    auto group = PreferencesStore::openFile(PreferencesStore::groupFilePath().isEmpty()
                                                ? QString()
                                                : dir.filePath("quillmoss/group.quillmoss.json"));
    standard->setString("a", "1");
    group->setInteger("stats_restricted_attempts", 3);
    standard->removeAll();
    EXPECT_EQ(QJsonDocument::fromJson(readAll(path())).object(), QJsonObject());
    EXPECT_EQ(group->integerValue("stats_restricted_attempts"), 3);
}

TEST(PreferencesPaths, FollowXdgConfigHomeReadAfresh) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/qm-a");
    EXPECT_EQ(PreferencesStore::standardFilePath(), "/tmp/qm-a/quillmoss/preferences.json");
    qputenv("XDG_CONFIG_HOME", "/tmp/qm-b");
    EXPECT_EQ(PreferencesStore::groupFilePath(), "/tmp/qm-b/quillmoss/group.quillmoss.json");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(PreferencesStore::standardFilePath(), QDir::homePath() + "/.config/quillmoss/preferences.json");
    if (!saved.isNull()) qputenv("XDG_CONFIG_HOME", saved);
}

// A writer process is killed at random moments; whatever survives must be
// the old or the new document, complete.
TEST_F(FileStoreTest, KillDuringWriteLeavesACompleteFile) {
    const QString writer = QCoreApplication::applicationDirPath() + "/prefs_writer";
    ASSERT_TRUE(QFile::exists(writer)) << writer.toStdString();
    int survived = 0;
    for (int round = 0; round < 25; ++round) {
        QProcess process;
        process.start(writer, {path()});
        ASSERT_TRUE(process.waitForStarted(10000));
        // Let it write a random number of times before the kill.
        const int target = 1 + QRandomGenerator::global()->bounded(40);
        int written = 0;
        ASSERT_TRUE(waitFor([&] {
            process.waitForReadyRead(5);
            written += process.readAllStandardOutput().count('\n');
            return written >= target;
        }, 30000));
        process.kill();
        process.waitForFinished(10000);

        const QJsonDocument doc = QJsonDocument::fromJson(readAll(path()));
        ASSERT_TRUE(doc.isObject()) << "torn file in round " << round;
        const QJsonObject o = doc.object().value("record").toObject();
        // The writer stores a run of N copies of one letter together with N.
        const qint64 length = o.value("length").toInteger();
        const QString payload = o.value("payload").toString();
        ASSERT_EQ(payload.size(), length);
        ASSERT_EQ(payload, QString(length, payload.isEmpty() ? 'a' : payload[0]));
        ++survived;
    }
    EXPECT_EQ(survived, 25);
}
