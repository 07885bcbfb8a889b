// One installation of the app's core, without a desktop, driven over stdin:
// the real preferences file, peer identity, TLS transport with Avahi DNS-SD
// and the managers, so that tests and benchmarks can run several of them in
// network namespaces and watch what they do.
//
// Environment: XDG_CONFIG_HOME (its own preferences), DBUS_SYSTEM_BUS_ADDRESS
// (its avahi-daemon), QUILLMOSS_DEVICE_NAME (the computer name it reports).
// Option: --device-id ID stores ID as this installation's device id before
// anything reads it (to play a device that claims another's id).
//
// Commands, one a line:
//   linktext        prints "linktext <this device's link text>"
//   link TEXT       opens a link; prints "link ok" or "link refused"
//   start MINUTES   starts a one-block session
//   stop            ends the running session
//   state           prints "state {json}"
//   quit            exits (also at the end of stdin)
// Events, printed as they happen:
//   ready {json}                    set up; device id, peer key and port
//   found KEY DEVICEID              the transport found a peer
//   connected COUNT                 connected peers changed
//   trusted ID,ID,...               the linked devices changed
//   focusing 0|1 STARTMS ENDMS      the session started or ended
//   history COUNT                   the session history changed
// Everything else on stdout is the app's own console lines.

#include "PeerIdentity.h"
#include "TlsPeerTransport.h"
#include "app/AppServices.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

#include "platform/UnavailableWorkspace.h"

using namespace quillmoss;

namespace {

// --- a desktop with nothing on it: no windows, browsers, notifications or sounds

class NoNotifications final : public NotificationPort {
public:
    void queryAuthorization(std::function<void(NotificationAuthorization)> done) override {
        done(NotificationAuthorization::Denied);
    }
    void requestAuthorization(std::function<void(bool)> done) override { done(false); }
    void post(const QString &, const QString &, const QString &) override {}
};

class NoSounds final : public SoundPort {
public:
    void play(SoundEvent) override {}
};

class NoIdleInhibit final : public IdleInhibitPort {
public:
    void inhibit(const QString &) override {}
    void release() override {}
    bool isInhibited() const override { return false; }
};

void emitLine(const QByteArray &line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

qint64 unixMs(const QDateTime &t) { return t.isValid() ? t.toMSecsSinceEpoch() : 0; }

qint64 residentKiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

class Harness final : public QObject {
public:
    Harness(std::unique_ptr<PreferencesStore> prefs, const QString &computerName)
        : m_prefs(std::move(prefs)),
          m_identity(PeerIdentity::restore(*m_prefs, computerName)),
          m_transport(m_identity, SystemClock::instance()),
          m_services(PlatformPorts{SystemClock::instance(), *m_prefs, nullptr, m_workspace, m_browsers,
                                   m_notifications, m_sounds, m_idle, [computerName] { return computerName; },
                                   &m_transport, nullptr}) {
        MultipeerManager &peers = *m_services.multipeer();
        FocusManager &focus = m_services.focus();
        connect(&m_transport, &PeerTransport::peerFound, this,
                [](const PeerHandle &peer, const QMap<QString, QString> &info) {
                    emitLine("found " + peer.key.toUtf8() + ' ' + info.value(QStringLiteral("deviceId")).toUtf8());
                });
        connect(&peers, &MultipeerManager::connectedPeersChanged, this, [&peers] {
            emitLine("connected " + QByteArray::number(peers.connectedPeerCount()));
        });
        connect(&peers, &MultipeerManager::trustedDevicesChanged, this, [this] {
            // The signal also fires for connection changes; report the list only when it moved.
            const QByteArray ids = trustedIds().join(QLatin1Char(',')).toUtf8();
            if (ids == m_lastTrusted) return;
            m_lastTrusted = ids;
            emitLine("trusted " + ids);
        });
        connect(&focus, &FocusManager::isFocusingChanged, this, [&focus] {
            emitLine("focusing " + QByteArray(focus.isFocusing() ? "1 " : "0 ") +
                     QByteArray::number(unixMs(focus.sessionStartTime())) + ' ' +
                     QByteArray::number(unixMs(focus.sessionEndTime())));
        });
        connect(&m_services.statistics(), &AnalyticsManager::sessionHistoryChanged, this, [this] {
            emitLine("history " + QByteArray::number(m_services.statistics().sessionHistory().size()));
        });
        m_lastTrusted = trustedIds().join(QLatin1Char(',')).toUtf8();

        m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_stdin, &QSocketNotifier::activated, this, &Harness::readInput);

        const QJsonObject ready{{QStringLiteral("deviceId"), peers.deviceId()},
                                {QStringLiteral("peerKey"), m_identity.key()},
                                {QStringLiteral("port"), int(m_transport.listeningPort())}};
        emitLine("ready " + QJsonDocument(ready).toJson(QJsonDocument::Compact));
    }

private:
    QStringList trustedIds() {
        QStringList ids;
        for (const TrustedDevice &d : m_services.multipeer()->trustedDevices()) ids << d.deviceId;
        return ids;
    }

    void readInput() {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_stdin->setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        m_input.append(buffer, n);
        for (qsizetype end; (end = m_input.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(m_input.left(end)).trimmed();
            m_input.remove(0, end + 1);
            if (!line.isEmpty()) command(line);
        }
    }

    void command(const QString &line) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString verb = space < 0 ? line : line.left(space);
        const QString argument = space < 0 ? QString() : line.mid(space + 1).trimmed();
        MultipeerManager &peers = *m_services.multipeer();
        FocusManager &focus = m_services.focus();
        if (verb == QLatin1String("linktext")) {
            emitLine("linktext " + peers.qrLinkText(QRCodeData::kLinkType).toUtf8());
        } else if (verb == QLatin1String("link")) {
            emitLine(peers.handleIncomingLink(argument) ? "link ok" : "link refused");
        } else if (verb == QLatin1String("start")) {
            bool ok = false;
            const double minutes = argument.toDouble(&ok);
            if (!ok || !(minutes > 0) || minutes > 24 * 60) {
                emitLine("error start needs a number of minutes");
                return;
            }
            focus.startSession(kDefaultSubject, {SessionBlock::make(BlockType::Study, minutes * 60)}, minutes * 60);
        } else if (verb == QLatin1String("stop")) {
            focus.endSession();
        } else if (verb == QLatin1String("state")) {
            emitLine("state " + QJsonDocument(state()).toJson(QJsonDocument::Compact));
        } else if (verb == QLatin1String("quit")) {
            QCoreApplication::quit();
        } else {
            emitLine("error unknown command " + verb.toUtf8());
        }
    }

    QJsonObject state() {
        MultipeerManager &peers = *m_services.multipeer();
        FocusManager &focus = m_services.focus();
        AnalyticsManager &stats = m_services.statistics();
        return {{QStringLiteral("deviceId"), peers.deviceId()},
                {QStringLiteral("isFocusing"), focus.isFocusing()},
                {QStringLiteral("sessionStartTime"), unixMs(focus.sessionStartTime())},
                {QStringLiteral("sessionEndTime"), unixMs(focus.sessionEndTime())},
                {QStringLiteral("connectedPeers"), peers.connectedPeerCount()},
                {QStringLiteral("trustedDeviceIds"), QJsonArray::fromStringList(trustedIds())},
                {QStringLiteral("historyCount"), int(stats.sessionHistory().size())},
                {QStringLiteral("sessionsCompleted"), stats.lifetimeStats().sessionsCompleted},
                {QStringLiteral("residentKiB"), residentKiB()}};
    }

    std::unique_ptr<PreferencesStore> m_prefs;
    PeerIdentity m_identity;
    TlsPeerTransport m_transport;
    UnavailableWorkspace m_workspace;
    NoBrowserTabs m_browsers;
    NoNotifications m_notifications;
    NoSounds m_sounds;
    NoIdleInhibit m_idle;
    AppServices m_services;
    QSocketNotifier *m_stdin = nullptr;
    QByteArray m_input;
    QByteArray m_lastTrusted;
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QString forcedId;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--device-id") && i + 1 < args.size()) {
            forcedId = args[++i];
        } else {
            std::fprintf(stderr, "usage: peer_harness [--device-id ID]\n");
            return 2;
        }
    }
    const QString name = qEnvironmentVariable("QUILLMOSS_DEVICE_NAME", QStringLiteral("Harness"));
    auto prefs = PreferencesStore::openFile(PreferencesStore::standardFilePath());
    if (!forcedId.isEmpty()) prefs->setString(DeviceIDManager::kDeviceIdKey, forcedId);
    Harness harness(std::move(prefs), name);
    return app.exec();
}
