#pragma once

// Shared by the X11 test files: a private display with a window manager on
// demand, desktop entries in a temporary folder, and small helpers.
#include "DesktopEntryIndex.h"
#include "X11TestDisplay.h"
#include "X11Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <optional>

namespace quillmoss::test {


inline void writeFile(const QString &path, const QByteArray &contents) {
    ASSERT_TRUE(writeFileAtomically(path, contents)) << path.toStdString();
}

inline std::optional<RunningApplication> findApp(const QList<RunningApplication> &apps, const QString &id) {
    for (const RunningApplication &app : apps) {
        if (app.identifier == id)
            return app;
    }
    return std::nullopt;
}

// For failure messages: "id(regular,hidden) …".
inline std::string describe(const QList<RunningApplication> &apps) {
    QStringList parts;
    for (const RunningApplication &app : apps)
        parts.append(QStringLiteral("%1(%2%3%4)").arg(app.identifier, app.isRegular ? "regular" : "other",
                                                       app.isHidden ? ",hidden" : "", app.isOwnProcess ? ",own" : ""));
    return parts.join(QLatin1Char(' ')).toStdString();
}

inline bool alive(pid_t pid) {
    return pid > 0 && kill(pid, 0) == 0;
}

// Lets the adapter handle what the X server has already sent it: once the
// test has seen a change through its own connection, the adapter's events
// about it are in its socket, and a round of event processing runs them.
inline void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

inline int countLines(const std::string &text, const char *needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!display.startServer())
            GTEST_SKIP() << "Xvfb cannot be started here: " << display.error().toStdString();
        applications = temp.path() + QStringLiteral("/applications");
        QDir().mkpath(applications);
    }

    void startWindowManager() { ASSERT_TRUE(display.startWindowManager()) << display.error().toStdString(); }

    void desktopFile(const QString &relativePath, const QByteArray &name, const QByteArray &extra = {}) {
        writeFile(applications + QLatin1Char('/') + relativePath,
                  "[Desktop Entry]\nType=Application\nExec=true\nName=" + name + "\n" + extra);
    }

    pid_t testWindow(const QStringList &args) { return display.launch(QStringList{QStringLiteral(X11_TEST_WINDOW)} + args); }

    std::unique_ptr<X11Workspace> workspace() {
        entries = std::make_unique<DesktopEntryIndex>(QStringList{applications});
        return std::make_unique<X11Workspace>(display.displayName(), entries.get());
    }

    // The application once it is listed (and, by default, has all `windows`).
    std::optional<RunningApplication> waitForApp(X11Workspace &ws, const QString &id) {
        std::optional<RunningApplication> found;
        if (!waitUntil([&] { return (found = findApp(ws.runningApplications(), id)).has_value(); }))
            ADD_FAILURE() << id.toStdString() << " not among " << describe(ws.runningApplications());
        return found;
    }

    uint32_t waitForWindow(const QString &wmClass) {
        std::vector<uint32_t> windows;
        waitUntil([&] { return !(windows = display.windowsOfClass(wmClass)).empty(); });
        return windows.empty() ? 0 : windows.front();
    }

    QTemporaryDir temp;
    QString applications;
    std::unique_ptr<DesktopEntryIndex> entries;
    X11TestDisplay display;
};

} // namespace quillmoss::test
