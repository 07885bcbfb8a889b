#include "DBusNotifications.h"
#include "DesktopBusTest.h"
#include "FakeDesktopServices.h"

#include <QElapsedTimer>

#include <optional>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

using Authorization = std::optional<NotificationAuthorization>;

class DBusNotificationsTest : public DesktopBusTest {};

} // namespace

TEST_F(DBusNotificationsTest, ServedNotificationsArriveAsWritten) {
    FakeNotificationServer fake(server);
    ASSERT_TRUE(fake.serve());
    DBusNotifications notifications(client);

    Authorization answer;
    notifications.queryAuthorization([&](NotificationAuthorization a) { answer = a; });
    EXPECT_FALSE(answer) << "the answer must not come inside the call";
    ASSERT_TRUE(eventually([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, NotificationAuthorization::Authorized);

    const QString title = QStringLiteral("Break time");
    const QString body = QStringLiteral("Break started (5 min) — Maths & <Physics>");
    notifications.post(QStringLiteral("A1"), title, body);
    ASSERT_TRUE(eventually([&] { return fake.received.size() == 1; }));
    const auto &plain = fake.received.front();
    EXPECT_EQ(plain.appName, "quillmoss");
    EXPECT_EQ(plain.icon, "app.quillmoss");
    EXPECT_EQ(plain.summary, title);
    EXPECT_EQ(plain.body, body);
    EXPECT_EQ(plain.replacesId, 0u);
    EXPECT_TRUE(plain.actions.isEmpty());
    EXPECT_EQ(plain.hints.value(QStringLiteral("suppress-sound")), QVariant(true));
    EXPECT_EQ(plain.expireTimeout, -1);

    // A server that reads markup gets the same text escaped; the title is never markup.
    fake.capabilities << QStringLiteral("body-markup");
    bool granted = false;
    notifications.requestAuthorization([&](bool g) { granted = g; });
    ASSERT_TRUE(eventually([&] { return granted; }));
    notifications.post(QStringLiteral("A2"), title, body);
    ASSERT_TRUE(eventually([&] { return fake.received.size() == 2; }));
    EXPECT_EQ(fake.received.back().summary, title);
    EXPECT_EQ(fake.received.back().body, QStringLiteral("Break started (5 min) — Maths &amp; &lt;Physics&gt;"));

    EXPECT_TRUE(consoleLines().isEmpty());
}

TEST_F(DBusNotificationsTest, MissingServiceIsOneLinePerOutageAndUsedOnceItAppears) {
    DBusNotifications notifications(client);
    std::vector<NotificationAuthorization> answers;
    std::vector<bool> grants;
    for (int i = 0; i < 3; ++i) {
        notifications.queryAuthorization([&](NotificationAuthorization a) { answers.push_back(a); });
        notifications.post(QStringLiteral("N%1").arg(i), QStringLiteral("Back to study"), QStringLiteral("x"));
    }
    notifications.requestAuthorization([&](bool g) { grants.push_back(g); });
    ASSERT_TRUE(eventually([&] { return answers.size() == 3 && grants.size() == 1; }));
    EXPECT_EQ(answers, std::vector<NotificationAuthorization>(3, NotificationAuthorization::Denied));
    EXPECT_FALSE(grants.front());

    // The service starts later: the next post reaches it.
    FakeNotificationServer fake(server);
    ASSERT_TRUE(fake.serve());
    notifications.post(QStringLiteral("N9"), QStringLiteral("Session complete"), QStringLiteral("Nice work"));
    ASSERT_TRUE(eventually([&] { return fake.received.size() == 1; }));
    EXPECT_EQ(fake.received.front().summary, "Session complete");

    // It goes away again: a new outage, a new line.
    ASSERT_TRUE(fake.withdraw());
    answers.clear();
    notifications.queryAuthorization([&](NotificationAuthorization a) { answers.push_back(a); });
    ASSERT_TRUE(eventually([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers.front(), NotificationAuthorization::Denied);

    const QStringList lines = consoleLines();
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    for (const QString &line : lines) {
        EXPECT_TRUE(line.startsWith("Desktop notifications unavailable: ")) << line.toStdString();
        EXPECT_TRUE(line.contains("ServiceUnknown")) << line.toStdString();
    }
}

TEST_F(DBusNotificationsTest, NoBusAtAllIsDenied) {
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/quillmoss-bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    DBusNotifications notifications(nowhere);
    Authorization answer;
    std::optional<bool> granted;
    notifications.queryAuthorization([&](NotificationAuthorization a) { answer = a; });
    notifications.requestAuthorization([&](bool g) { granted = g; });
    notifications.post(QStringLiteral("X"), QStringLiteral("Break time"), QStringLiteral("x"));
    EXPECT_FALSE(answer || granted) << "the answers must not come inside the calls";
    ASSERT_TRUE(eventually([&] { return answer && granted; }));
    EXPECT_EQ(*answer, NotificationAuthorization::Denied);
    EXPECT_FALSE(*granted);
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    EXPECT_EQ(consoleLines().size(), 1);
}

TEST_F(DBusNotificationsTest, HungServerTimesOutWithoutHoldingTheMainThread) {
    FakeNotificationServer fake(server);
    fake.hang = true;
    ASSERT_TRUE(fake.serve());
    DBusNotifications notifications(client);

    QElapsedTimer clock;
    clock.start();
    Authorization answer;
    notifications.queryAuthorization([&](NotificationAuthorization a) { answer = a; });
    EXPECT_LT(clock.elapsed(), 1000);
    ASSERT_TRUE(eventually([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, NotificationAuthorization::Denied);
    EXPECT_EQ(fake.callsTaken, 1);
    EXPECT_GE(clock.elapsed(), kDBusCallTimeoutMs / 2) << "answered before the timeout: not the hung path";
    const QStringList lines = consoleLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.front().contains("NoReply")) << lines.front().toStdString();
}
