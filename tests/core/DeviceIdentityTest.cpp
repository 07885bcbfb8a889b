#include "devices/ComputerName.h"
#include "devices/DeviceIDManager.h"
#include "platform/PreferencesStore.h"
#include "session/SessionModel.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillmoss;

namespace {
auto named(const QString &name) {
    return [name] { return name; };
}
} // namespace

TEST(DeviceIdentity, IdIsCreatedOnceAndKept) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("preferences.json");
    QString id;
    {
        auto prefs = PreferencesStore::openFile(path);
        DeviceIDManager ids(*prefs, named("Desk"));
        id = ids.deviceID();
        EXPECT_EQ(id.size(), 36);
        EXPECT_EQ(id, id.toUpper());
        EXPECT_TRUE(uuidFromText(id));
        EXPECT_EQ(prefs->stringValue("quillmoss_device_id"), id);

        // Cleared storage (the app-data reset) does not change identity mid-run.
        prefs->removeAll();
        EXPECT_EQ(ids.deviceID(), id);
        EXPECT_FALSE(prefs->contains("quillmoss_device_id"));
        prefs->setString("quillmoss_device_id", id);
    }
    auto prefs = PreferencesStore::openFile(path);
    EXPECT_EQ(DeviceIDManager(*prefs, named("Desk")).deviceID(), id) << "a later run reads the stored id";

    prefs->removeAll();
    const QString fresh = DeviceIDManager(*prefs, named("Desk")).deviceID();
    EXPECT_NE(fresh, id) << "after a reset the next run is a new device";
    EXPECT_EQ(prefs->stringValue("quillmoss_device_id"), fresh);
}

TEST(DeviceIdentity, StoredIdIsTakenAsItIs) {
    PreferencesStore prefs;
    prefs.setString("quillmoss_device_id", "legacy-id-lower");
    EXPECT_EQ(DeviceIDManager(prefs, named("")).deviceID(), "legacy-id-lower");

    // An empty id could not tell devices apart: replaced by a real one.
    prefs.setString("quillmoss_device_id", "");
    const QString id = DeviceIDManager(prefs, named("")).deviceID();
    EXPECT_TRUE(uuidFromText(id));
    EXPECT_EQ(prefs.stringValue("quillmoss_device_id"), id);
}

TEST(DeviceIdentity, NameFallsBackToComputerThenMac) {
    PreferencesStore prefs;
    QString computer = "Study Laptop";
    DeviceIDManager ids(prefs, [&] { return computer; });
    int changes = 0;
    QObject::connect(&ids, &DeviceIDManager::deviceNameChanged, [&] { ++changes; });

    EXPECT_EQ(ids.deviceName(), "Study Laptop");
    prefs.setString("customDeviceName", "");
    EXPECT_EQ(ids.deviceName(), "Study Laptop");
    EXPECT_EQ(changes, 0);

    prefs.setString("customDeviceName", "Ana's desk");
    EXPECT_EQ(ids.deviceName(), "Ana's desk");
    EXPECT_EQ(changes, 1);
    prefs.setBool("isMuted", true); // unrelated keys do not announce a rename
    EXPECT_EQ(changes, 1);

    prefs.remove("customDeviceName");
    EXPECT_EQ(changes, 2);
    computer.clear();
    EXPECT_EQ(ids.deviceName(), "Mac");
}

TEST(DeviceIdentity, PrettyHostnameParsing) {
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=\"Ana's Laptop\"\nCHASSIS=laptop\n"), "Ana's Laptop");
    EXPECT_EQ(prettyHostnameFromMachineInfo("# comment\nPRETTY_HOSTNAME='Say \"hi\"'"), "Say \"hi\"");
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=Plain\\ name  \n"), "Plain name");
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=\"a \\\"b\\\" \\\\ \\$c\""), "a \"b\" \\ $c");
    EXPECT_EQ(prettyHostnameFromMachineInfo("  PRETTY_HOSTNAME = \"one\"\nPRETTY_HOSTNAME=two"), "two");
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=\"unterminated"), "unterminated");
    EXPECT_EQ(prettyHostnameFromMachineInfo("ICON_NAME=computer\nNOT AN ASSIGNMENT\n"), "");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString info = dir.filePath("machine-info");
    EXPECT_EQ(computerNameFrom(info, "host-7"), "host-7") << "no file";
    QFile file(info);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_HOSTNAME=\"Büro PC\"\n");
    file.close();
    EXPECT_EQ(computerNameFrom(info, "host-7"), "Büro PC");
}
