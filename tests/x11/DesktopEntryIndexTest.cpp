// Desktop entries, default applications and sandbox IDs: plain files, no
// display needed.
#include "X11DesktopTest.h"
#include "X11SandboxApp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillmoss;
using quillmoss::test::writeFile;

namespace {

QByteArray app(const QByteArray &name, const QByteArray &extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n" + extra;
}

class DesktopEntryIndexTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString home() const { return temp.path() + QStringLiteral("/home/applications"); }
    QString system() const { return temp.path() + QStringLiteral("/system/applications"); }
};

TEST_F(DesktopEntryIndexTest, IdsFollowTheDesktopEntryRulesAndFolderPrecedence) {
    writeFile(system() + "/kde4/konsole.desktop", app("Konsole"));
    writeFile(system() + "/org.example.Mail.desktop", app("System Mail", "StartupWMClass=MailWin\n"));
    writeFile(home() + "/org.example.Mail.desktop", app("My Mail", "StartupWMClass=MyMailWin\n"));
    writeFile(system() + "/removed.desktop", app("Removed"));
    writeFile(home() + "/removed.desktop", app("Removed", "Hidden=true\n"));
    writeFile(system() + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");
    writeFile(system() + "/Editor.desktop",
              "# comment\n[Desktop Action new]\nName=Wrong group\n[Desktop Entry]\nType=Application\n"
              "Name = Text\\sEditor\nName=Second occurrence\nStartupWMClass=editor-main\n");

    DesktopEntryIndex index({home(), system()});
    EXPECT_EQ(DesktopEntryIndex::idForRelativePath("kde4/konsole.desktop"), "kde4-konsole");
    ASSERT_TRUE(index.entry("kde4-konsole"));
    EXPECT_EQ(index.entry("kde4-konsole")->name, "Konsole");

    // The user's folder comes first, for the entry and for its WM class.
    EXPECT_EQ(index.entry("org.example.Mail")->name, "My Mail");
    EXPECT_EQ(index.idForStartupWMClass("MyMailWin"), "org.example.Mail");
    EXPECT_EQ(index.idForStartupWMClass("MailWin"), "");
    // Hidden=true deletes the entry for this user; a Link is no application.
    EXPECT_FALSE(index.entry("removed"));
    EXPECT_FALSE(index.entry("link"));

    EXPECT_EQ(index.entry("Editor")->name, "Text Editor");
    EXPECT_EQ(index.idForStartupWMClass("editor-main"), "Editor");
    EXPECT_EQ(index.idForStartupWMClass("Editor-Main"), "") << "StartupWMClass compares exactly";
    EXPECT_EQ(index.idMatchingIgnoringCase("EDITOR"), "Editor");
    EXPECT_EQ(index.idMatchingIgnoringCase("kde4-KONSOLE"), "kde4-konsole");
    EXPECT_EQ(index.idMatchingIgnoringCase("nothing"), "");
}

TEST_F(DesktopEntryIndexTest, DefaultApplicationPrefersDesktopSpecificListsAndSkipsUninstalled) {
    const QString config = temp.path() + "/config";
    writeFile(system() + "/org.example.Files.desktop", app("Files"));
    writeFile(system() + "/nemo.desktop", app("Nemo"));
    writeFile(system() + "/thunar.desktop", app("Thunar"));
    DesktopEntryIndex index({home(), system()});

    EXPECT_EQ(index.defaultApplication("inode/directory", {config}, {"xfce"}), "");

    // The data folder's list is the last resort.
    writeFile(system() + "/mimeapps.list", "[Default Applications]\ninode/directory=org.example.Files.desktop\n");
    EXPECT_EQ(index.defaultApplication("inode/directory", {config}, {"xfce"}), "org.example.Files");

    // A user's choice of an application that is not installed falls through
    // to the next one named.
    writeFile(config + "/mimeapps.list",
              "[Added Associations]\ninode/directory=thunar.desktop;\n"
              "[Default Applications]\ninode/directory=missing.desktop;nemo.desktop;\n");
    EXPECT_EQ(index.defaultApplication("inode/directory", {config}, {"xfce"}), "nemo");

    writeFile(config + "/xfce-mimeapps.list", "[Default Applications]\ninode/directory=thunar.desktop\n");
    EXPECT_EQ(index.defaultApplication("inode/directory", {config}, {"xfce"}), "thunar");
    EXPECT_EQ(index.defaultApplication("inode/directory", {config}, {"gnome"}), "nemo");
}

TEST_F(DesktopEntryIndexTest, ChangesInTheFoldersAreSeenWithoutRestart) {
    // The user's folder does not exist yet; its parent does.
    QDir().mkpath(temp.path() + "/home");
    writeFile(system() + "/a.desktop", app("A"));
    DesktopEntryIndex index({home(), system()});
    const quint64 before = index.generation();
    EXPECT_FALSE(index.entry("late"));

    writeFile(home() + "/late.desktop", app("Late", "StartupWMClass=LateWin\n"));
    ASSERT_TRUE(test::waitUntil([&] { return index.entry("late").has_value(); }));
    EXPECT_GT(index.generation(), before);
    EXPECT_EQ(index.idForStartupWMClass("LateWin"), "late");

    // A new subfolder, then a file inside it.
    writeFile(system() + "/vendor/tool.desktop", app("Tool"));
    ASSERT_TRUE(test::waitUntil([&] { return index.entry("vendor-tool").has_value(); }));
    writeFile(system() + "/vendor/other.desktop", app("Other"));
    ASSERT_TRUE(test::waitUntil([&] { return index.entry("vendor-other").has_value(); }));

    QFile::remove(system() + "/a.desktop");
    ASSERT_TRUE(test::waitUntil([&] { return !index.entry("a").has_value(); }));
}

TEST(SandboxAppTest, ReadsFlatpakAndSnapFromProcAndNeverFails) {
    QTemporaryDir proc;
    writeFile(proc.path() + "/100/root/.flatpak-info",
              "[Instance]\nname=wrong\n[Application]\nname=org.example.Flat\nruntime=x\n");
    writeFile(proc.path() + "/100/cgroup", "0::/user.slice/snap.shouldnotwin.app.scope\n");
    writeFile(proc.path() + "/200/cgroup",
              "12:pids:/user.slice\n0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "snap.firefox.firefox-5c2f3a.scope\n");
    writeFile(proc.path() + "/300/cgroup", "0::/user.slice/session-2.scope\n");
    writeFile(proc.path() + "/300/environ", QByteArray("HOME=/home/u\0SNAP_NAME=spotify\0SNAP=/snap/x\0", 44));
    writeFile(proc.path() + "/400/cgroup", "0::/snap.\n");

    const SandboxApp flat = sandboxAppOfProcess(100, proc.path());
    EXPECT_EQ(flat.kind, SandboxApp::Kind::Flatpak);
    EXPECT_EQ(flat.name, "org.example.Flat");
    const SandboxApp snap = sandboxAppOfProcess(200, proc.path());
    EXPECT_EQ(snap.kind, SandboxApp::Kind::Snap);
    EXPECT_EQ(snap.name, "firefox");
    EXPECT_EQ(sandboxAppOfProcess(300, proc.path()).name, "spotify");
    EXPECT_EQ(sandboxAppOfProcess(400, proc.path()).kind, SandboxApp::Kind::None);
    EXPECT_EQ(sandboxAppOfProcess(999, proc.path()).kind, SandboxApp::Kind::None);
    EXPECT_EQ(sandboxAppOfProcess(0, proc.path()).kind, SandboxApp::Kind::None);
    // A real process that is not sandboxed.
    EXPECT_EQ(sandboxAppOfProcess(getpid()).kind, SandboxApp::Kind::None);
}

} // namespace
