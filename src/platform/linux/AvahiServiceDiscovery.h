#pragma once

#include "AvahiQtPoll.h"

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace quillmoss {

class Clock;
class ClockTimer;

// One resolved DNS-SD service instance (IPv4).
struct DnsSdService {
    QString instanceId; // stable while the instance exists: interface, protocol, name, type, domain
    QString name;
    QMap<QString, QString> txt;
    QHostAddress address;
    quint16 port = 0;
};

// Publishes one service and browses one service type through the system
// avahi-daemon, on the main thread's event loop.
//
// The daemon or the system bus may be missing, appear later or restart: the
// client is created with AVAHI_CLIENT_NO_FAIL, re-created in the background
// when creating it fails or it fails later, and what was asked for (the
// publication, the browse) is set up again whenever the daemon is back. Each
// outage is worth one console line, not one per retry.
class AvahiServiceDiscovery final : public QObject {
    Q_OBJECT
public:
    explicit AvahiServiceDiscovery(Clock &clock, QObject *parent = nullptr);
    ~AvahiServiceDiscovery() override;

    // `type` like "_quillmoss-sync._tcp"; TXT entries as key=value. Replaces a
    // publication made before. A name taken by another service is replaced by
    // Avahi's alternative ("name #2").
    void publish(const QString &type, const QString &name, quint16 port, const QMap<QString, QString> &txt);
    void unpublish();
    // Reports every instance of `type` through serviceResolved (again when its
    // data changes) and serviceRemoved. Replaces an earlier browse; instances
    // of it are dropped without serviceRemoved.
    void browse(const QString &type);
    void stopBrowsing();

    bool isRunning() const { return m_running; }
    // The name actually published (after collisions), empty when none is.
    QString publishedName() const { return m_established ? m_publishedName : QString(); }

    static constexpr int kRetryMs = 5000;

signals:
    void serviceResolved(const quillmoss::DnsSdService &service);
    void serviceRemoved(const QString &instanceId);
    void publishedNameChanged(const QString &name);

private:
    friend struct AvahiCallbacks;

    void ensureClient();
    void onClientState(AvahiClient *client, int state);
    void onClientFailed(int error);
    void scheduleRetry();
    void registerService();
    void onGroupState(int state);
    void onBrowseEvent(int interface, int protocol, int event, const char *name, const char *type, const char *domain);
    void onResolved(AvahiServiceResolver *resolver, const QString &instanceId, bool found, DnsSdService service);
    void startBrowser();
    void dropBrowser(bool reportRemovals);
    void reportOutage(const QString &line);
    void reportRecovered();

    Clock &m_clock;
    AvahiQtPoll m_poll;
    AvahiClient *m_client = nullptr;
    bool m_running = false;
    bool m_outageReported = false;
    std::unique_ptr<ClockTimer> m_retryTimer;

    // Publication asked for.
    bool m_publish = false;
    QString m_publishType;
    QString m_publishName;   // as asked
    QString m_publishedName; // after collisions
    quint16 m_publishPort = 0;
    QMap<QString, QString> m_publishTxt;
    AvahiEntryGroup *m_group = nullptr;
    bool m_established = false;

    // Browse asked for.
    QString m_browseType;
    AvahiServiceBrowser *m_browser = nullptr;
    std::map<QString, AvahiServiceResolver *> m_resolvers; // per instance id
    std::map<QString, bool> m_resolved;                    // instance ids reported found
};

} // namespace quillmoss

Q_DECLARE_METATYPE(quillmoss::DnsSdService)
