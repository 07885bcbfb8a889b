// Peer transport figures over loopback: identity generation, connection set-up
// (TCP + TLS 1.3 + invitation and acceptance) with one message round trip,
// bulk delivery, and resident memory per connected peer.
//
//   transport_bench [rounds=30] [peers=50]

#include "PeerIdentity.h"
#include "TlsPeerTransport.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillmoss;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

qint64 residentKiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4 : 0; // pages of 4 KiB
}

// Runs the event loop until `condition` holds, checking it whenever the loop
// has nothing left to do (a polling wait would add its sleep to every figure).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000) {
    if (condition())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    const auto check = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                        &loop, [&] {
                                            if (condition())
                                                loop.quit();
                                        });
    loop.exec();
    QObject::disconnect(check);
    return condition();
}

std::unique_ptr<TlsPeerTransport> make(const PeerIdentity &identity) {
    TlsPeerTransport::Options options;
    options.dnsSd = false;
    options.listenAddress = QHostAddress::LocalHost;
    auto t = std::make_unique<TlsPeerTransport>(identity, SystemClock::instance(), options);
    // The app accepts every invitation; so does the benchmark, at once.
    QObject::connect(t.get(), &PeerTransport::invitationReceived, t.get(),
                     [p = t.get()](const PeerHandle &peer) { p->respondToInvitation(peer, true); });
    return t;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    const int peers = argc > 2 ? std::max(1, atoi(argv[2])) : 50;

    std::vector<double> generation;
    std::vector<PeerIdentity> identities;
    for (int i = 0; i < peers + 1; ++i) {
        QElapsedTimer t;
        t.start();
        identities.push_back(PeerIdentity::create(QStringLiteral("Peer %1").arg(i)));
        generation.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("identity generation (EC P-256 + self-signed cert): median %.1f ms, p90 %.1f ms over %d\n",
                median(generation), percentile(generation, 0.9), int(generation.size()));

    // Set-up and first round trip, fresh connection each round.
    auto hub = make(identities[0]);
    auto client = make(identities[1]);
    client->addKnownPeer(hub->localPeer(), QHostAddress::LocalHost, hub->listeningPort());
    QObject::connect(hub.get(), &PeerTransport::dataReceived, hub.get(),
                     [h = hub.get()](const PeerHandle &from, const QByteArray &data) { h->send(data, {from}, nullptr); });
    int echoes = 0;
    QObject::connect(client.get(), &PeerTransport::dataReceived, client.get(),
                     [&echoes](const PeerHandle &, const QByteArray &) { ++echoes; });
    std::vector<double> connectMs, roundTripMs;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        client->invite(hub->localPeer(), 30000);
        if (!waitFor([&] { return !client->connectedPeers().isEmpty(); })) {
            std::printf("round %d: no connection\n", r);
            return 1;
        }
        connectMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const int before = echoes;
        client->send(R"({"action":"syncState","isFocusing":false})", {hub->localPeer()}, nullptr);
        if (!waitFor([&] { return echoes > before; }))
            return 1;
        roundTripMs.push_back(t.nsecsElapsed() / 1e6);
        client->disconnectPeer(hub->localPeer());
        waitFor([&] { return hub->connectedPeers().isEmpty(); });
    }
    std::printf("connect (TCP + TLS 1.3 + invite/accept): median %.2f ms, p90 %.2f ms over %d\n", median(connectMs),
                percentile(connectMs, 0.9), rounds);
    std::printf("first message round trip: median %.3f ms, p90 %.3f ms\n", median(roundTripMs),
                percentile(roundTripMs, 0.9));
    std::vector<double> total(connectMs.size());
    for (size_t i = 0; i < total.size(); ++i)
        total[i] = connectMs[i] + roundTripMs[i];
    std::printf("connect + round trip: median %.2f ms\n", median(total));

    // Bulk: 2000 messages of 1 KiB one way on a connected pair.
    client->invite(hub->localPeer(), 30000);
    waitFor([&] { return !client->connectedPeers().isEmpty(); });
    {
        int received = 0;
        auto counter = QObject::connect(hub.get(), &PeerTransport::dataReceived, hub.get(),
                                        [&received](const PeerHandle &, const QByteArray &) { ++received; });
        const QByteArray kib(1024, 'm');
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 2000; ++i)
            client->send(kib, {hub->localPeer()}, nullptr);
        waitFor([&] { return received >= 2000; });
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("bulk: 2000 x 1 KiB in %.1f ms (%.1f MiB/s, echoes included)\n", ms, 2000.0 / 1024 / (ms / 1000));
        QObject::disconnect(counter);
    }
    client->disconnectPeer(hub->localPeer());
    waitFor([&] { return hub->connectedPeers().isEmpty(); });

    // Memory: `peers` transports connect to one hub. Both ends of every
    // connection live in this process, so the delta covers both.
    std::vector<std::unique_ptr<TlsPeerTransport>> others;
    for (int i = 1; i <= peers; ++i) {
        others.push_back(make(identities[i]));
        others.back()->addKnownPeer(hub->localPeer(), QHostAddress::LocalHost, hub->listeningPort());
    }
    client.reset();
    waitFor([] { return false; }, 300); // let the idle transports settle
    const qint64 before = residentKiB();
    QElapsedTimer t;
    t.start();
    // In waves that stay within the hub's bound on connections not yet accepted.
    for (size_t i = 0; i < others.size(); ++i) {
        others[i]->invite(hub->localPeer(), 30000);
        if (i % 8 == 7 || i + 1 == others.size())
            waitFor([&] { return hub->connectedPeers().size() == qsizetype(i + 1); });
    }
    if (!waitFor([&] { return hub->connectedPeers().size() == peers; })) {
        std::printf("only %d of %d peers connected\n", int(hub->connectedPeers().size()), peers);
        return 1;
    }
    const double allMs = t.nsecsElapsed() / 1e6;
    QString error;
    for (auto &o : others)
        o->send("hello", {hub->localPeer()}, &error);
    waitFor([] { return false; }, 500);
    const qint64 after = residentKiB();
    std::printf("%d peers connected, in waves of 8, in %.0f ms\n", peers, allMs);
    std::printf("resident memory: +%lld KiB for %d connections = %.1f KiB per connected peer (both ends)\n",
                (long long)(after - before), peers, double(after - before) / peers);
    return 0;
}
