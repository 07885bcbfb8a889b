// The X11 workspace adapter against a private Xvfb, openbox and real clients.
#include "X11DesktopTest.h"

#include <QFile>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

using X11WorkspaceTest = X11DesktopTest;

TEST_F(X11WorkspaceTest, ListsApplicationsAndHidesOnlyTheOneAsked) {
    startWindowManager();
    desktopFile("org.example.Notes.desktop", "Example Notes");
    auto ws = workspace();
    ASSERT_TRUE(ws->isAvailable());
    EXPECT_TRUE(ws->runningApplications().isEmpty());

    // One at a time, so that the window manager's list has a known order.
    const pid_t xterm = display.launch({"xterm"});
    ASSERT_TRUE(waitForApp(*ws, "XTerm"));
    const pid_t xeyes = display.launch({"xeyes"}); // no _NET_WM_PID: found via X-Resource
    ASSERT_TRUE(waitForApp(*ws, "XEyes"));
    testWindow({"--class", "notes,Notes", "--gtk-id", "org.example.Notes", "--no-pid-property"});
    ASSERT_TRUE(waitForApp(*ws, "org.example.Notes"));
    const uint32_t own = display.createOwnWindow("QuillmossTest");
    ASSERT_TRUE(waitForApp(*ws, X11Workspace::ownIdentifier()));

    const QList<RunningApplication> apps = ws->runningApplications();
    ASSERT_EQ(apps.size(), 4);
    EXPECT_EQ(apps[0].identifier, "XTerm");
    EXPECT_EQ(apps[0].displayName, "XTerm");
    EXPECT_EQ(apps[1].identifier, "XEyes");
    EXPECT_EQ(apps[2].identifier, "org.example.Notes");
    EXPECT_EQ(apps[2].displayName, "Example Notes");
    EXPECT_EQ(apps[3].identifier, X11Workspace::ownIdentifier());
    for (const RunningApplication &app : apps) {
        EXPECT_TRUE(app.isRegular) << app.identifier.toStdString();
        EXPECT_FALSE(app.isHidden) << app.identifier.toStdString();
        EXPECT_EQ(app.isOwnProcess, app.identifier == X11Workspace::ownIdentifier()) << app.identifier.toStdString();
    }

    // The own window is never iconified, even when asked; the request for
    // XEyes is sent after it, so once XEyes is iconic the first had its turn.
    ws->hide(X11Workspace::ownIdentifier());
    ws->hide("XEyes");
    const uint32_t eyes = waitForWindow("XEyes");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(eyes); }));
    EXPECT_FALSE(display.isIconic(own));
    EXPECT_FALSE(display.isIconic(waitForWindow("XTerm")));

    const QList<RunningApplication> after = ws->runningApplications();
    EXPECT_TRUE(findApp(after, "XEyes")->isHidden);
    EXPECT_FALSE(findApp(after, "XTerm")->isHidden);
    // Hiding never touches the process.
    EXPECT_TRUE(alive(xeyes));
    EXPECT_TRUE(alive(xterm));
}

TEST_F(X11WorkspaceTest, ResolvesIdentifiersInOrderAndFollowsDesktopEntryChanges) {
    startWindowManager();
    desktopFile("org.example.Editor.desktop", "Example Editor", "StartupWMClass=EditorMain\n");
    desktopFile("editormain.desktop", "Loses to StartupWMClass");
    desktopFile("sketchpad.desktop", "Sketch Pad");
    desktopFile("CalcApp.desktop", "Calculator");
    desktopFile("vendor/tool.desktop", "Tool", "StartupWMClass=ToolWin\n");
    auto ws = workspace();

    testWindow({"--class", "editor,EditorMain"});
    testWindow({"--class", "sketch,SketchPad"});
    testWindow({"--class", "calcapp,Calculator9"});
    testWindow({"--class", "unlisted,Unlisted"});
    testWindow({"--class", "editor,EditorMain", "--gtk-id", "org.example.Other"});
    testWindow({"--class", "viewer,Viewer", "--kde-desktop-file", "org.kde.viewer"});
    testWindow({"--class", "tool,ToolWin"});
    QList<RunningApplication> apps;
    ASSERT_TRUE(waitUntil([&] { return (apps = ws->runningApplications()).size() == 7; })) << describe(apps);

    const auto expectApp = [&](const QString &id, const QString &name) {
        const auto app = findApp(apps, id);
        ASSERT_TRUE(app) << id.toStdString();
        EXPECT_EQ(app->displayName, name) << id.toStdString();
    };
    expectApp("org.example.Editor", "Example Editor"); // StartupWMClass beats a name match
    expectApp("sketchpad", "Sketch Pad");              // ID equals the class, ignoring case
    expectApp("CalcApp", "Calculator");                // ... or the instance
    expectApp("Unlisted", "Unlisted");                 // no entry: the class
    expectApp("org.example.Other", "EditorMain");      // the GTK application ID comes first
    expectApp("org.kde.viewer", "Viewer");
    expectApp("vendor-tool", "Tool");

    // An application installed while it runs is recognised without restart.
    desktopFile("unlisted.desktop", "Now Listed");
    ASSERT_TRUE(waitUntil([&] { return findApp(ws->runningApplications(), "unlisted").has_value(); }));
    EXPECT_EQ(findApp(ws->runningApplications(), "unlisted")->displayName, "Now Listed");
    EXPECT_FALSE(findApp(ws->runningApplications(), "Unlisted"));
}

TEST_F(X11WorkspaceTest, HideIconifiesEveryOrdinaryWindowOfTheApplicationAndNothingElse) {
    startWindowManager();
    auto ws = workspace();
    const pid_t multi = testWindow({"--class", "multi,Multi", "--windows", "3"});
    testWindow({"--class", "multi,Multi"}); // a second process of the same application
    testWindow({"--class", "multi,Multi", "--type", "utility"});
    testWindow({"--class", "multi,Multi", "--type", "dialog"});
    testWindow({"--class", "other,Other"});
    display.launch({"xclock"});
    ASSERT_TRUE(waitUntil([&] {
        const auto apps = ws->runningApplications();
        return display.windowsOfClass("Multi").size() == 6 && findApp(apps, "Other") && findApp(apps, "XClock");
    }));

    ws->hide("Multi");
    ws->hide(""); // nothing has an empty identifier to hide
    ws->hide("NoSuchApplication");
    ws->hide("XClock");
    const uint32_t clock = waitForWindow("XClock");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(clock); }));
    int iconic = 0;
    for (uint32_t w : display.windowsOfClass("Multi"))
        iconic += display.isIconic(w) ? 1 : 0;
    EXPECT_EQ(iconic, 5) << "the four normal windows and the dialog, not the utility window";
    EXPECT_FALSE(display.isIconic(waitForWindow("Other")));

    const auto apps = ws->runningApplications();
    EXPECT_TRUE(findApp(apps, "Multi")->isHidden) << "hidden although its utility window shows";
    EXPECT_TRUE(findApp(apps, "XClock")->isHidden);
    EXPECT_FALSE(findApp(apps, "Other")->isHidden);
    EXPECT_TRUE(alive(multi));
    EXPECT_EQ(display.windowsOfClass("Multi").size(), 6u) << "iconified, not unmapped or closed";
}

TEST_F(X11WorkspaceTest, WindowsOutsideTheTaskbarMakeNoRegularApplication) {
    startWindowManager();
    auto ws = workspace();
    testWindow({"--class", "dock,Dock", "--type", "dock"});
    testWindow({"--class", "palette,Palette", "--type", "utility"});
    testWindow({"--class", "splash,Splash", "--type", "splash"});
    testWindow({"--class", "tray,Tray", "--skip-taskbar"});
    testWindow({"--class", "prompt,Prompt", "--type", "dialog"});
    QList<RunningApplication> apps;
    ASSERT_TRUE(waitUntil([&] { return (apps = ws->runningApplications()).size() == 5; }));
    for (const char *id : {"Dock", "Palette", "Splash", "Tray"}) {
        ASSERT_TRUE(findApp(apps, id)) << id;
        EXPECT_FALSE(findApp(apps, id)->isRegular) << id;
    }
    EXPECT_TRUE(findApp(apps, "Prompt")->isRegular);

    // Only ordinary windows are iconified: the tray window stays, the
    // dialog, sent later, goes.
    ws->hide("Tray");
    ws->hide("Prompt");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(waitForWindow("Prompt")); }));
    EXPECT_FALSE(display.isIconic(waitForWindow("Tray")));
}

TEST_F(X11WorkspaceTest, AppearedReportsNewApplicationsAndHiddenOnesShownAgain) {
    startWindowManager();
    auto ws = workspace();
    display.launch({"xterm"});
    ASSERT_TRUE(waitForApp(*ws, "XTerm"));

    // A subscriber that behaves like enforcement: hide everything but XTerm.
    QStringList reports;
    QObject::connect(ws.get(), &WorkspacePort::appeared, ws.get(), [&](const RunningApplication &app) {
        reports.append(app.identifier);
        EXPECT_TRUE(app.isRegular);
        EXPECT_FALSE(app.isHidden);
        if (app.identifier != "XTerm")
            ws->hide(app.identifier);
    });
    ws->setWatching(true);
    EXPECT_TRUE(ws->isWatching());

    // Not reported: a window that is not ordinary.
    testWindow({"--class", "dock,Dock", "--type", "dock"});
    const QString latency = temp.path() + "/latency";
    testWindow({"--class", "late,Late", "--report-iconic", latency});
    const uint32_t late = waitForWindow("Late");
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(latency); })) << "the new window was never iconified";
    QFile file(latency);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const qint64 micros = file.readAll().trimmed().toLongLong();
    EXPECT_GT(micros, 0);
    EXPECT_LT(micros, 3'000'000) << "from mapping to iconic, event-driven";
    EXPECT_EQ(reports, QStringList{"Late"});

    // Brought back by a pager: reported again, hidden again.
    settle();
    display.activate(late);
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 2 && display.isIconic(late); }));
    EXPECT_EQ(reports, (QStringList{"Late", "Late"}));

    // The same for an application hidden by someone else and shown again.
    ws->hide("XTerm");
    const uint32_t xterm = waitForWindow("XTerm");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(xterm); }));
    settle();
    display.activate(xterm);
    ASSERT_TRUE(waitUntil([&] { return reports.size() == 3; }));
    EXPECT_EQ(reports.last(), "XTerm");

    // Not watching: nothing is reported.
    ws->setWatching(false);
    ws->hide("XTerm");
    ASSERT_TRUE(waitUntil([&] { return display.isIconic(xterm); }));
    display.activate(xterm);
    ASSERT_TRUE(waitUntil([&] { return !display.isIconic(xterm); }));
    ASSERT_TRUE(waitUntil([&] { return !findApp(ws->runningApplications(), "XTerm")->isHidden; }));
    testWindow({"--class", "later,Later"});
    ASSERT_TRUE(waitForApp(*ws, "Later"));
    EXPECT_EQ(reports.size(), 3);
}

TEST_F(X11WorkspaceTest, WithoutWindowManagerItIsUnavailableUntilOneStarts) {
    testWindow({"--class", "early,Early"});
    testing::internal::CaptureStdout();
    auto ws = workspace();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countLines(output, "X11 workspace:"), 1) << output;
    EXPECT_EQ(countLines(output, "no EWMH window manager"), 1) << output;

    QList<bool> changes;
    QStringList reports;
    QObject::connect(ws.get(), &WorkspacePort::availabilityChanged, ws.get(), [&](bool on) { changes.append(on); });
    QObject::connect(ws.get(), &WorkspacePort::appeared, ws.get(),
                     [&](const RunningApplication &app) { reports.append(app.identifier); });
    EXPECT_FALSE(ws->isAvailable());
    EXPECT_TRUE(ws->runningApplications().isEmpty());
    ws->hide("Early");
    ws->setWatching(true);

    // A window manager that starts later manages the window already there.
    startWindowManager();
    ASSERT_TRUE(waitUntil([&] { return ws->isAvailable(); }));
    EXPECT_EQ(changes, QList<bool>{true});
    ASSERT_TRUE(waitForApp(*ws, "Early"));
    ASSERT_TRUE(waitUntil([&] { return reports.contains("Early"); }));

    display.stopWindowManager();
    ASSERT_TRUE(waitUntil([&] { return !ws->isAvailable(); }));
    EXPECT_EQ(changes, (QList<bool>{true, false}));
    EXPECT_TRUE(ws->runningApplications().isEmpty());
}

TEST_F(X11WorkspaceTest, LosingTheDisplayMakesItUnavailableWithoutCrashing) {
    startWindowManager();
    auto ws = workspace();
    display.launch({"xeyes"});
    ASSERT_TRUE(waitForApp(*ws, "XEyes"));
    ws->setWatching(true);
    QList<bool> changes;
    QObject::connect(ws.get(), &WorkspacePort::availabilityChanged, ws.get(), [&](bool on) { changes.append(on); });

    display.stopServer();
    ASSERT_TRUE(waitUntil([&] { return !ws->isAvailable(); }));
    EXPECT_EQ(changes, QList<bool>{false});
    EXPECT_TRUE(ws->runningApplications().isEmpty());
    ws->hide("XEyes");
    ws->setWatching(false);
}

TEST(X11WorkspaceNoDisplayTest, NoDisplayMeansUnavailableWithOneConsoleLine) {
    QTemporaryDir temp;
    DesktopEntryIndex entries({temp.path()});
    const QByteArray savedDisplay = qgetenv("DISPLAY");
    for (const QString &name : {QString(), QStringLiteral(":64999")}) {
        if (name.isEmpty())
            qunsetenv("DISPLAY");
        testing::internal::CaptureStdout();
        X11Workspace ws(name, &entries);
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(countLines(output, "X11 workspace:"), 1) << output;
        EXPECT_FALSE(ws.isAvailable());
        EXPECT_TRUE(ws.runningApplications().isEmpty());
        ws.hide("anything");
        ws.setWatching(true);
        EXPECT_TRUE(ws.systemExemptIdentifiers().contains("org.gnome.Nautilus"));
    }
    if (!savedDisplay.isEmpty())
        qputenv("DISPLAY", savedDisplay);
}

TEST(X11WorkspaceNoDisplayTest, ExemptsTheDesktopsFileManagerAndTheUsualOnes) {
    QTemporaryDir temp;
    const QString apps = temp.path() + "/data/applications";
    const QString config = temp.path() + "/config";
    writeFile(apps + "/org.example.Files.desktop", "[Desktop Entry]\nType=Application\nName=Files\n");
    writeFile(config + "/mimeapps.list", "[Default Applications]\ninode/directory=org.example.Files.desktop\n");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    DesktopEntryIndex entries({apps});
    X11Workspace ws(":64999", &entries);
    const QStringList exempt = ws.systemExemptIdentifiers();
    if (savedConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);
    EXPECT_EQ(exempt.first(), "org.example.Files");
    for (const char *id : {"org.gnome.Nautilus", "org.kde.dolphin", "nemo", "Thunar", "pcmanfm-qt", "caja",
                           "light-locker", "xscreensaver"})
        EXPECT_TRUE(exempt.contains(id)) << id;
    EXPECT_EQ(exempt.count("org.example.Files"), 1);
}

} // namespace
