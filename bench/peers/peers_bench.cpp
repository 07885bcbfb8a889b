// Linked devices over a veth bridge between network namespaces, each device a
// peer_harness with its own avahi-daemon. Prints:
//   - start on A → focusing on B, and stop on A → stopped on B (once connected)
//   - both harnesses started → connected (discovery, TLS, invitation)
//   - link opened → both sides trust each other (connection + handshakes)
//   - a message round trip through both cores (A starts, B stops, A stopped)
//   - resident memory of A per connected peer
//
//   peers_bench [starts=25] [connectRuns=5] [extraPeers=5]

#include "NetLab.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillmoss::netlab;

namespace {

const QString kHarness = QStringLiteral(QUILLMOSS_PEER_HARNESS);

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void report(const char *what, const std::vector<double> &ms) {
    std::printf("%-46s n=%-3zu median %7.1f ms  p95 %7.1f ms  max %7.1f ms\n", what, ms.size(), percentile(ms, 0.5),
                percentile(ms, 0.95), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()));
}

[[noreturn]] void fail(const QString &why) {
    std::fprintf(stderr, "peers_bench: %s\n", qPrintable(why));
    std::exit(1);
}

struct Lab {
    NetLab net;
    std::unique_ptr<Harness> start(int host, const QString &name, const QString &home) {
        auto h = std::make_unique<Harness>();
        if (!h->start(net.netnsPath(host), kHarness, home, net.busAddress(host), name)) fail("a harness did not start");
        return h;
    }
};

bool trusts(Harness &h, const QString &id) {
    return h.saw(QStringLiteral("trusted ")) &&
           std::any_of(h.lines().crbegin(), h.lines().crend(), [&](const QString &l) {
               return l.startsWith(QLatin1String("trusted ")) && l.contains(id);
           });
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, atoi(argv[1])) : 25;
    const int connectRuns = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    const int extraPeers = argc > 3 ? std::max(1, atoi(argv[3])) : 5;

    Lab lab;
    QString error;
    if (!lab.net.setUp(2, &error)) fail(error);
    const QString aHome = lab.net.newConfigHome(), bHome = lab.net.newConfigHome();
    auto a = lab.start(0, QStringLiteral("Desk A"), aHome);
    auto b = lab.start(1, QStringLiteral("Laptop B"), bHome);

    // Link once; later runs find each other from the stored links.
    a->send(QStringLiteral("linktext"));
    b->send(QStringLiteral("link ") + a->next(QStringLiteral("linktext ")).mid(9));
    if (a->stateWhen([](const QJsonObject &s) { return s[QLatin1String("connectedPeers")].toInt() == 1; })
            [QLatin1String("connectedPeers")]
                .toInt() != 1)
        fail("A and B did not connect");

    // Both started → connected.
    std::vector<double> connectMs;
    for (int run = 0; run < connectRuns; ++run) {
        a->quit();
        b->quit();
        a.reset();
        b.reset();
        QElapsedTimer t;
        t.start();
        a = lab.start(0, QStringLiteral("Desk A"), aHome);
        b = lab.start(1, QStringLiteral("Laptop B"), bHome);
        if (a->next(QStringLiteral("connected 1"), 20000).isNull() ||
            b->next(QStringLiteral("connected 1"), 20000).isNull())
            fail("no connection after a restart");
        connectMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    // Start on A → focusing on B; stop on A → stopped on B.
    std::vector<double> startMs, stopMs;
    for (int i = 0; i < starts; ++i) {
        QElapsedTimer t;
        t.start();
        a->send(QStringLiteral("start 25"));
        if (b->next(QStringLiteral("focusing 1")).isNull()) fail("B did not follow a start");
        startMs.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        a->send(QStringLiteral("stop"));
        if (b->next(QStringLiteral("focusing 0")).isNull()) fail("B did not follow a stop");
        stopMs.push_back(double(t.nsecsElapsed()) / 1e6);
        a->next(QStringLiteral("focusing 0"));
    }

    // Round trip: A starts, B (the guest) stops, A stops with it.
    std::vector<double> roundTripMs;
    for (int i = 0; i < std::max(10, starts / 2); ++i) {
        QElapsedTimer t;
        t.start();
        a->send(QStringLiteral("start 25"));
        if (b->next(QStringLiteral("focusing 1")).isNull()) fail("B did not follow a start");
        b->send(QStringLiteral("stop"));
        if (a->next(QStringLiteral("focusing 0")).isNull()) fail("A did not follow B's stop");
        roundTripMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    // Fresh devices linking to A (connection, TLS, invitation, both handshakes),
    // kept connected for the memory figure.
    const qint64 rssBefore = a->state()[QLatin1String("residentKiB")].toInteger();
    std::vector<std::unique_ptr<Harness>> others;
    std::vector<double> linkMs;
    for (int i = 0; i < extraPeers; ++i) {
        auto n = lab.start(1, QStringLiteral("Peer %1").arg(i), lab.net.newConfigHome());
        // Let it be discovered first: the figure is the linking, not discovery.
        if (!waitFor([&] { return a->saw(QStringLiteral("found ") + n->peerKey()); }, 20000))
            fail("a new peer was not discovered");
        a->send(QStringLiteral("linktext"));
        const QString text = a->next(QStringLiteral("linktext ")).mid(9);
        QElapsedTimer t;
        t.start();
        n->send(QStringLiteral("link ") + text);
        if (!waitFor([&] { return trusts(*a, n->deviceId()); }, 20000)) fail("a new peer was not linked");
        linkMs.push_back(double(t.nsecsElapsed()) / 1e6);
        others.push_back(std::move(n));
    }
    const QJsonObject after = a->stateWhen(
        [&](const QJsonObject &s) { return s[QLatin1String("connectedPeers")].toInt() == 1 + extraPeers; });
    const qint64 rssAfter = after[QLatin1String("residentKiB")].toInteger();

    std::printf("linked devices over a veth bridge (two network namespaces, avahi-daemon in each)\n");
    report("both started -> connected", connectMs);
    report("start on A -> focusing on B", startMs);
    report("stop on A -> stopped on B", stopMs);
    report("round trip: A start, B stop, A stopped", roundTripMs);
    report("link opened -> both linked (TLS + handshakes)", linkMs);
    std::printf("%-46s %lld KiB -> %lld KiB with %d more peers: %.1f KiB per peer\n", "resident memory of A",
                (long long)rssBefore, (long long)rssAfter, extraPeers, double(rssAfter - rssBefore) / extraPeers);
    for (auto &n : others) n->quit();
    return 0;
}
