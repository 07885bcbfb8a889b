#include "AvahiServiceDiscovery.h"

#include "platform/Clock.h"
#include "platform/Console.h"

#include <QtEndian>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

namespace quillmoss {

namespace {

QString avahiError(int error) { return QString::fromUtf8(avahi_strerror(error)); }

QString instanceIdOf(int interface, int protocol, const char *name, const char *type, const char *domain) {
    return QStringLiteral("%1/%2/%3/%4/%5")
        .arg(interface)
        .arg(protocol)
        .arg(QString::fromUtf8(name), QString::fromUtf8(type), QString::fromUtf8(domain));
}

QMap<QString, QString> readTxt(AvahiStringList *list) {
    QMap<QString, QString> txt;
    for (AvahiStringList *l = list; l; l = avahi_string_list_get_next(l)) {
        char *key = nullptr;
        char *value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(l, &key, &value, &size) < 0)
            continue;
        const QString k = QString::fromUtf8(key);
        // RFC 6763: a key seen twice keeps its first value.
        if (!k.isEmpty() && !txt.contains(k))
            txt.insert(k, value ? QString::fromUtf8(value, qsizetype(size)) : QString());
        avahi_free(key);
        avahi_free(value);
    }
    return txt;
}

// A DNS-SD instance name is at most 63 bytes of UTF-8; cut on a character boundary.
QString instanceName(const QString &wanted) {
    QString name = wanted.trimmed();
    while (name.toUtf8().size() > 63)
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    return name.isEmpty() ? QStringLiteral("quillmoss") : name;
}

} // namespace

// The C callbacks, forwarding to the object that registered them.
struct AvahiCallbacks {
    static void client(AvahiClient *client, AvahiClientState state, void *self) {
        static_cast<AvahiServiceDiscovery *>(self)->onClientState(client, state);
    }
    static void group(AvahiEntryGroup *, AvahiEntryGroupState state, void *self) {
        static_cast<AvahiServiceDiscovery *>(self)->onGroupState(state);
    }
    static void browse(AvahiServiceBrowser *, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                       const char *name, const char *type, const char *domain, AvahiLookupResultFlags, void *self) {
        static_cast<AvahiServiceDiscovery *>(self)->onBrowseEvent(interface, protocol, event, name, type, domain);
    }
    static void resolve(AvahiServiceResolver *resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiResolverEvent event, const char *name, const char *type, const char *domain,
                        const char *, const AvahiAddress *address, uint16_t port, AvahiStringList *txt,
                        AvahiLookupResultFlags, void *self) {
        DnsSdService service;
        service.instanceId = instanceIdOf(interface, protocol, name, type, domain);
        const bool found = event == AVAHI_RESOLVER_FOUND && address && address->proto == AVAHI_PROTO_INET;
        if (found) {
            service.name = QString::fromUtf8(name);
            service.txt = readTxt(txt);
            service.address = QHostAddress(qFromBigEndian(address->data.ipv4.address));
            service.port = port;
        }
        static_cast<AvahiServiceDiscovery *>(self)->onResolved(resolver, service.instanceId, found, service);
    }
};

AvahiServiceDiscovery::AvahiServiceDiscovery(Clock &clock, QObject *parent)
    : QObject(parent), m_clock(clock), m_retryTimer(clock.createTimer()) {
    qRegisterMetaType<DnsSdService>();
    connect(m_retryTimer.get(), &ClockTimer::timeout, this, [this] {
        m_retryTimer->stop();
        if (!m_client) {
            ensureClient();
            return;
        }
        registerService();
        if (!m_browser && !m_browseType.isEmpty())
            startBrowser();
    });
}

AvahiServiceDiscovery::~AvahiServiceDiscovery() {
    // Freeing the client frees its groups, browsers and resolvers with it.
    if (m_client)
        avahi_client_free(m_client);
}

void AvahiServiceDiscovery::publish(const QString &type, const QString &name, quint16 port,
                                    const QMap<QString, QString> &txt) {
    if (!avahi_is_valid_service_type_strict(type.toUtf8().constData())) {
        consoleLine(QStringLiteral("Not advertising: invalid service type ") + type);
        return;
    }
    m_publish = true;
    m_publishType = type;
    m_publishName = instanceName(name);
    m_publishedName = m_publishName;
    m_publishPort = port;
    m_publishTxt.clear();
    for (auto it = txt.begin(); it != txt.end(); ++it) {
        // One TXT string holds "key=value" in at most 255 bytes; keys have no '='.
        if (it.key().isEmpty() || it.key().contains(u'=') || (it.key() + u'=' + it.value()).toUtf8().size() > 255) {
            consoleLine(QStringLiteral("Not advertising the discovery entry ") + it.key() +
                        QStringLiteral(": not a valid TXT entry"));
            continue;
        }
        m_publishTxt.insert(it.key(), it.value());
    }
    if (m_group)
        avahi_entry_group_reset(m_group);
    m_established = false;
    ensureClient();
    registerService();
}

void AvahiServiceDiscovery::unpublish() {
    m_publish = false;
    m_established = false;
    if (m_group)
        avahi_entry_group_free(std::exchange(m_group, nullptr));
}

void AvahiServiceDiscovery::browse(const QString &type) {
    if (!avahi_is_valid_service_type_strict(type.toUtf8().constData())) {
        consoleLine(QStringLiteral("Not browsing: invalid service type ") + type);
        return;
    }
    dropBrowser(false);
    m_browseType = type;
    ensureClient();
    if (m_running)
        startBrowser();
}

void AvahiServiceDiscovery::stopBrowsing() {
    m_browseType.clear();
    dropBrowser(false);
}

void AvahiServiceDiscovery::ensureClient() {
    if (m_client)
        return;
    int error = 0;
    // The state callback runs inside avahi_client_new() already and takes the
    // client from its argument.
    AvahiClient *client =
        avahi_client_new(m_poll.api(), AVAHI_CLIENT_NO_FAIL, &AvahiCallbacks::client, this, &error);
    m_client = client;
    if (!client) {
        m_running = false;
        m_group = nullptr;
        m_browser = nullptr;
        m_resolvers.clear();
        reportOutage(QStringLiteral("Local network discovery unavailable (%1); retrying in the background")
                         .arg(avahiError(error)));
        scheduleRetry();
    }
}

void AvahiServiceDiscovery::onClientState(AvahiClient *client, int state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        m_client = client;
        m_running = true;
        reportRecovered();
        registerService();
        if (!m_browser && !m_browseType.isEmpty())
            startBrowser();
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The daemon renames the host or re-registers: our records go and are
        // added again once it runs.
        m_client = client;
        m_running = false;
        m_established = false;
        if (m_group)
            avahi_entry_group_reset(m_group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        m_client = client;
        m_running = false;
        reportOutage(QStringLiteral("Local network discovery is waiting for avahi-daemon"));
        break;
    case AVAHI_CLIENT_FAILURE:
        // During avahi_client_new() a failure is reported by its result.
        if (m_client)
            onClientFailed(avahi_client_errno(client));
        break;
    default:
        break;
    }
}

void AvahiServiceDiscovery::onClientFailed(int error) {
    m_running = false;
    m_established = false;
    reportOutage(QStringLiteral("Local network discovery lost (%1); retrying in the background").arg(avahiError(error)));
    // Not inside the client's own callback: free it from the event loop, then
    // start over (the daemon may simply have restarted).
    postToMainQueue(this, [this] {
        dropBrowser(true);
        m_group = nullptr;
        if (m_client)
            avahi_client_free(std::exchange(m_client, nullptr));
        ensureClient();
    });
}

void AvahiServiceDiscovery::scheduleRetry() {
    if (!m_retryTimer->isActive())
        m_retryTimer->start(kRetryMs);
}

void AvahiServiceDiscovery::registerService() {
    if (!m_client || !m_running || !m_publish)
        return;
    if (!m_group) {
        m_group = avahi_entry_group_new(m_client, &AvahiCallbacks::group, this);
        if (!m_group) {
            consoleLine(QStringLiteral("Could not advertise: ") + avahiError(avahi_client_errno(m_client)));
            scheduleRetry();
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group))
        return;

    AvahiStringList *txt = nullptr;
    for (auto it = m_publishTxt.end(); it != m_publishTxt.begin();) {
        --it; // avahi prepends: add backwards to keep the order
        txt = avahi_string_list_add_pair(txt, it.key().toUtf8().constData(), it.value().toUtf8().constData());
    }
    int result = AVAHI_ERR_COLLISION;
    // Another service on this host may hold the name (a second instance with
    // the same computer name): take Avahi's alternatives until one is free.
    for (int attempt = 0; attempt < 50 && result == AVAHI_ERR_COLLISION; ++attempt) {
        result = avahi_entry_group_add_service_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0),
                                                      m_publishedName.toUtf8().constData(),
                                                      m_publishType.toUtf8().constData(), nullptr, nullptr,
                                                      m_publishPort, txt);
        if (result == AVAHI_ERR_COLLISION) {
            char *alternative = avahi_alternative_service_name(m_publishedName.toUtf8().constData());
            m_publishedName = QString::fromUtf8(alternative);
            avahi_free(alternative);
        }
    }
    avahi_string_list_free(txt);
    if (result >= 0)
        result = avahi_entry_group_commit(m_group);
    if (result < 0) {
        consoleLine(QStringLiteral("Could not advertise: ") + avahiError(result));
        avahi_entry_group_reset(m_group);
        scheduleRetry();
    }
}

void AvahiServiceDiscovery::onGroupState(int state) {
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        m_established = true;
        emit publishedNameChanged(m_publishedName);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        // Someone on the network holds the name already.
        char *alternative = avahi_alternative_service_name(m_publishedName.toUtf8().constData());
        consoleLine(QStringLiteral("Service name collision, renaming to ") + QString::fromUtf8(alternative));
        m_publishedName = QString::fromUtf8(alternative);
        avahi_free(alternative);
        m_established = false;
        avahi_entry_group_reset(m_group);
        registerService();
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        consoleLine(QStringLiteral("Advertising failed: ") + avahiError(avahi_client_errno(m_client)));
        m_established = false;
        avahi_entry_group_reset(m_group);
        scheduleRetry();
        break;
    default:
        break;
    }
}

void AvahiServiceDiscovery::startBrowser() {
    if (!m_client || !m_running || m_browser || m_browseType.isEmpty())
        return;
    m_browser = avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                          m_browseType.toUtf8().constData(), nullptr, AvahiLookupFlags(0),
                                          &AvahiCallbacks::browse, this);
    if (!m_browser) {
        consoleLine(QStringLiteral("Could not browse: ") + avahiError(avahi_client_errno(m_client)));
        scheduleRetry();
    }
}

void AvahiServiceDiscovery::dropBrowser(bool reportRemovals) {
    for (auto &[id, resolver] : m_resolvers)
        if (resolver)
            avahi_service_resolver_free(resolver);
    m_resolvers.clear();
    if (m_browser)
        avahi_service_browser_free(std::exchange(m_browser, nullptr));
    const auto resolved = std::exchange(m_resolved, {});
    if (reportRemovals)
        for (const auto &[id, found] : resolved)
            emit serviceRemoved(id);
}

void AvahiServiceDiscovery::onBrowseEvent(int interface, int protocol, int event, const char *name, const char *type,
                                          const char *domain) {
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        const QString id = instanceIdOf(interface, protocol, name, type, domain);
        if (m_resolvers.count(id))
            break;
        // Kept open: it reports the instance again whenever its data changes.
        AvahiServiceResolver *resolver =
            avahi_service_resolver_new(m_client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                       AvahiLookupFlags(0), &AvahiCallbacks::resolve, this);
        if (resolver)
            m_resolvers[id] = resolver;
        break;
    }
    case AVAHI_BROWSER_REMOVE: {
        const QString id = instanceIdOf(interface, protocol, name, type, domain);
        if (auto it = m_resolvers.find(id); it != m_resolvers.end()) {
            avahi_service_resolver_free(it->second);
            m_resolvers.erase(it);
        }
        if (m_resolved.erase(id))
            emit serviceRemoved(id);
        break;
    }
    case AVAHI_BROWSER_FAILURE:
        consoleLine(QStringLiteral("Browsing failed: ") + avahiError(avahi_client_errno(m_client)));
        // Not from inside the browser's own callback.
        postToMainQueue(this, [this] {
            dropBrowser(true);
            scheduleRetry();
        });
        break;
    default:
        break;
    }
}

void AvahiServiceDiscovery::onResolved(AvahiServiceResolver *resolver, const QString &instanceId, bool found,
                                       DnsSdService service) {
    auto it = m_resolvers.find(instanceId);
    if (it == m_resolvers.end() || it->second != resolver)
        return;
    if (!found) {
        // Unresolvable (timed out, or no IPv4 address): forget it; the browser
        // reports it again should it come back.
        avahi_service_resolver_free(resolver);
        m_resolvers.erase(it);
        return;
    }
    m_resolved[instanceId] = true;
    emit serviceResolved(service);
}

void AvahiServiceDiscovery::reportOutage(const QString &line) {
    if (m_outageReported)
        return;
    m_outageReported = true;
    consoleLine(line);
}

void AvahiServiceDiscovery::reportRecovered() {
    if (!m_outageReported)
        return;
    m_outageReported = false;
    consoleLine(QStringLiteral("Local network discovery available"));
}

} // namespace quillmoss
