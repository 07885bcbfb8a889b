// Discovery through a real avahi-daemon, checked against an independent
// mDNS stack. The program moves itself into a network and mount namespace of
// its own first: the daemon it starts sees nothing but that namespace's
// loopback, and its runtime directory lives on a private /run.

#include "../TransportTestSupport.h"
#include "support/ManualClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

QString g_isolationError = QStringLiteral("not attempted");

// Before any thread exists: unshare() of a mount namespace needs that.
void isolate() {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        g_isolationError = QStringLiteral("unshare: ") + QString::fromLocal8Bit(strerror(errno));
        return;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        g_isolationError = QStringLiteral("mount: ") + QString::fromLocal8Bit(strerror(errno));
        return;
    }
    g_isolationError.clear();
}

bool run(const QString &program, const QStringList &args) { return QProcess::execute(program, args) == 0; }

// Waits for a helper to end, killing it by its PID if it does not.
void finish(QProcess &process) {
    if (process.state() == QProcess::NotRunning || process.waitForFinished(10000))
        return;
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(pid_t(pid), SIGKILL);
    process.waitForFinished(10000);
}

// A daemon of the test, killed by its PID.
class Daemon {
public:
    ~Daemon() { stop(); }
    bool start(const QString &program, const QStringList &args) {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program, args);
        return m_process.waitForStarted(10000);
    }
    bool waitForOutput(const QByteArray &text) {
        return eventually([&] {
            m_output += m_process.readAll();
            return m_output.contains(text);
        });
    }
    void stop() {
        const qint64 pid = m_process.processId();
        if (pid <= 0 || m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(pid), SIGTERM);
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(10000)) {
            ::kill(pid_t(pid), SIGKILL);
            m_process.waitForFinished(10000);
        }
    }
    QByteArray output() {
        m_output += m_process.readAll();
        return m_output;
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

const QString kType = QStringLiteral("quillmoss-sync");
const QString kDnsSdType = QStringLiteral("_quillmoss-sync._tcp.local.");

class AvahiDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_isolationError.isEmpty())
            GTEST_SKIP() << "needs root to make a private network namespace (" << g_isolationError.toStdString() << ")";
        ASSERT_TRUE(m_dir.isValid());
        // Loopback only, with multicast so that mDNS works on it.
        ASSERT_TRUE(run(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                                               QStringLiteral("up"), QStringLiteral("multicast"), QStringLiteral("on")}));
        ASSERT_TRUE(run(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("replace"),
                                               QStringLiteral("224.0.0.0/4"), QStringLiteral("dev"), QStringLiteral("lo")}));
        ASSERT_TRUE(QDir().mkpath(QStringLiteral("/run/avahi-daemon")));

        // One address for the whole process: libdbus reads it only once.
        static QTemporaryDir busDir;
        const QString bus = busDir.filePath(QStringLiteral("system_bus"));
        QFile::remove(bus);
        ASSERT_TRUE(m_dbus.start(QStringLiteral("dbus-daemon"),
                                 {QStringLiteral("--config-file=/usr/share/dbus-1/system.conf"),
                                  QStringLiteral("--address=unix:path=") + bus, QStringLiteral("--nofork"),
                                  QStringLiteral("--nopidfile")}));
        ASSERT_TRUE(eventually([&] { return QFile::exists(bus); }));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + bus).toUtf8());

        QFile conf(m_dir.filePath(QStringLiteral("avahi-daemon.conf")));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("[server]\nhost-name=quillmoss-test\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                   "enable-dbus=yes\ndisallow-other-stacks=no\n"
                   "[wide-area]\nenable-wide-area=no\n"
                   "[publish]\npublish-hinfo=no\npublish-workstation=no\n"
                   "[reflector]\nenable-reflector=no\n");
    }

    bool startAvahi() {
        return m_avahi.start(QStringLiteral("avahi-daemon"),
                             {QStringLiteral("-f"), m_dir.filePath(QStringLiteral("avahi-daemon.conf")),
                              QStringLiteral("--no-chroot"), QStringLiteral("--no-drop-root"),
                              QStringLiteral("--no-rlimits")}) &&
               m_avahi.waitForOutput("Server startup complete");
    }

    std::unique_ptr<TlsPeerTransport> make(const PeerIdentity &identity) {
        TlsPeerTransport::Options options;
        options.listenAddress = QHostAddress::LocalHost;
        return std::make_unique<TlsPeerTransport>(identity, clock, options);
    }

    // What python3-zeroconf sees of the service type.
    QJsonArray zeroconfBrowse(int count) {
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(QUILLMOSS_ZEROCONF_PEER), QStringLiteral("browse"), kDnsSdType,
                     QStringLiteral("127.0.0.1"), QString::number(count), QStringLiteral("10")});
        if (!probe.waitForFinished(30000)) {
            finish(probe);
            return {};
        }
        return QJsonDocument::fromJson(probe.readAllStandardOutput()).array();
    }

    ManualClock clock;
    QTemporaryDir m_dir;
    Daemon m_dbus;
    Daemon m_avahi;
};

TEST_F(AvahiDiscoveryTest, PeersOnOneHostFindEachOtherOnceTheDaemonAppearsAndConnect) {
    // Same computer name on purpose: the second advertisement must be renamed.
    const PeerIdentity aId = PeerIdentity::create(QStringLiteral("Study Desk"));
    const PeerIdentity bId = PeerIdentity::create(QStringLiteral("Study Desk"));
    auto a = make(aId);
    auto b = make(bId);
    TransportRecorder ra(*a), rb(*b);
    a->startAdvertising(kType, {{QStringLiteral("deviceId"), QStringLiteral("DEVICE-A")}});
    a->startBrowsing(kType);
    b->startAdvertising(kType, {{QStringLiteral("deviceId"), QStringLiteral("DEVICE-B")}});
    b->startBrowsing(kType);

    // The bus is there, the daemon not yet: the transports wait for it.
    ASSERT_TRUE(startAvahi());
    ASSERT_TRUE(eventually([&] { return !ra.found.isEmpty() && !rb.found.isEmpty(); }))
        << m_avahi.output().toStdString();
    ASSERT_EQ(ra.found.size(), 1); // never itself, though both are local
    ASSERT_EQ(rb.found.size(), 1);
    EXPECT_EQ(ra.found[0].first.key, bId.key());
    EXPECT_EQ(ra.found[0].first.displayName, QStringLiteral("Study Desk"));
    EXPECT_EQ(ra.found[0].second, (QMap<QString, QString>{{QStringLiteral("deviceId"), QStringLiteral("DEVICE-B")}}));
    EXPECT_EQ(rb.found[0].first.key, aId.key());
    EXPECT_EQ(rb.found[0].second, (QMap<QString, QString>{{QStringLiteral("deviceId"), QStringLiteral("DEVICE-A")}}));

    // An independent implementation reads the same records.
    const QJsonArray seen = zeroconfBrowse(2);
    ASSERT_EQ(seen.size(), 2) << QJsonDocument(seen).toJson().toStdString();
    QMap<QString, QJsonObject> byDevice;
    QSet<QString> names;
    for (const QJsonValue &v : seen) {
        const QJsonObject txt = v[QLatin1String("txt")].toObject();
        byDevice.insert(txt[QLatin1String("deviceId")].toString(), v.toObject());
        names.insert(v[QLatin1String("name")].toString());
    }
    ASSERT_TRUE(byDevice.contains(QStringLiteral("DEVICE-A")) && byDevice.contains(QStringLiteral("DEVICE-B")));
    EXPECT_EQ(byDevice[QStringLiteral("DEVICE-A")][QLatin1String("txt")][QLatin1String("peer")].toString(), aId.key());
    EXPECT_EQ(byDevice[QStringLiteral("DEVICE-B")][QLatin1String("port")].toInt(), b->listeningPort());
    EXPECT_EQ(names.size(), 2); // the collision was resolved with another name

    a->invite(ra.found[0].first, 30000);
    ASSERT_TRUE(eventually([&] { return !rb.invitations.isEmpty(); }));
    b->respondToInvitation(rb.invitations[0], true);
    ASSERT_TRUE(eventually([&] { return a->connectedPeers().size() == 1 && b->connectedPeers().size() == 1; }));
    QString error;
    ASSERT_TRUE(a->send(R"({"action":"stopFocus"})", a->connectedPeers(), &error));
    EXPECT_TRUE(eventually([&] { return rb.data.size() == 1; }));

    // Withdrawn advertisement: the other side loses the peer, the connection stays.
    b->stopAdvertising();
    EXPECT_TRUE(eventually([&] { return ra.lost.size() == 1; }));
    EXPECT_EQ(a->connectedPeers().size(), 1);
}

TEST_F(AvahiDiscoveryTest, AnAdvertisementFromAnotherStackIsFoundAndLost) {
    ASSERT_TRUE(startAvahi());
    const PeerIdentity aId = PeerIdentity::create(QStringLiteral("Reader"));
    auto a = make(aId);
    TransportRecorder ra(*a);
    a->startBrowsing(kType);

    QProcess other;
    other.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(QUILLMOSS_ZEROCONF_PEER), QStringLiteral("publish"), kDnsSdType,
                 QStringLiteral("127.0.0.1"), QStringLiteral("Other Stack"), QStringLiteral("4242"),
                 QStringLiteral("deviceId=DEVICE-Z"), QStringLiteral("peer=OTHER-KEY"), QStringLiteral("name=Zed")});
    ASSERT_TRUE(other.waitForStarted(10000));
    const auto cleanup = qScopeGuard([&] { finish(other); });
    ASSERT_TRUE(eventually([&] { return !ra.found.isEmpty(); }));
    EXPECT_EQ(ra.found[0].first.key, QStringLiteral("OTHER-KEY"));
    EXPECT_EQ(ra.found[0].first.displayName, QStringLiteral("Zed"));
    EXPECT_EQ(ra.found[0].second, (QMap<QString, QString>{{QStringLiteral("deviceId"), QStringLiteral("DEVICE-Z")}}));

    other.closeWriteChannel(); // withdraws with goodbye packets
    EXPECT_TRUE(eventually([&] { return ra.lost.size() == 1; }));
    finish(other);
}

} // namespace

int main(int argc, char **argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing |= QByteArray(argv[i]).startsWith("--gtest_list_tests");
    if (!listing)
        isolate();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
