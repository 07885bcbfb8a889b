#include "AccessibilitySwitch.h"
#include "DesktopSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

// The switch's value as another client sees it (nullopt: nobody answers).
std::optional<bool> isEnabledOn(const QString &busAddress) {
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, QStringLiteral("switch-test-observer"));
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled")});
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
    QDBusConnection::disconnectFromBus(QStringLiteral("switch-test-observer"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

TEST(AccessibilitySwitchTest, RequestStartsTheAccessibilityBusAndTurnsItOn) {
    QTemporaryDir dir;
    TestProcesses processes(dir.path());
    const QString address = startSessionBus(processes, dir.path());
    ASSERT_FALSE(address.isEmpty());
    // Nothing runs the accessibility bus yet.
    EXPECT_EQ(isEnabledOn(address), std::nullopt);

    AccessibilitySwitch access({address, QByteArrayLiteral(":nonexistent"), 5000});
    int changes = 0;
    QObject::connect(&access, &AccessibilityPort::authorizedChanged, [&](bool) { ++changes; });
    EXPECT_FALSE(access.isAuthorized());
    EXPECT_FALSE(access.isWindowControlAvailable());

    std::optional<bool> answer;
    access.requestAccess([&](bool authorized) { answer = authorized; });
    EXPECT_FALSE(answer.has_value()) << "the answer must come later, not inside the call";
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }, 20000));
    EXPECT_TRUE(*answer);
    EXPECT_TRUE(access.isAuthorized());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(isEnabledOn(address), std::optional<bool>(true));

    // A second switch on the same desktop sees it on without asking.
    AccessibilitySwitch observer({address, QByteArrayLiteral(":nonexistent"), 5000});
    EXPECT_TRUE(waitFor([&] { return observer.isAuthorized(); }, 10000));
}

TEST(AccessibilitySwitchTest, WithoutSessionBusAccessIsRefusedQuietly) {
    AccessibilitySwitch access({QStringLiteral("unix:path=/nonexistent/quillmoss-test-bus"),
                                QByteArrayLiteral(":nonexistent"), 2000});
    std::optional<bool> answer;
    access.requestAccess([&](bool authorized) { answer = authorized; });
    EXPECT_FALSE(answer.has_value());
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_FALSE(*answer);
    EXPECT_FALSE(access.isAuthorized());
    EXPECT_FALSE(access.isWindowControlAvailable());
}

TEST(AccessibilitySwitchTest, ReportsWindowControlOnlyWithAManagedDisplay) {
    DesktopSession desktop;
    const QString error = desktop.start();
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    AccessibilitySwitch access({desktop.busAddress(), desktop.display(), 5000});
    EXPECT_TRUE(access.isWindowControlAvailable());
}

} // namespace
