#include "AtspiClient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>

namespace quillmoss::atspi {

namespace {

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");

// One object reference, "(so)": bus name and object path.
Ref readRef(const QDBusArgument &argument) {
    Ref ref;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> ref.bus >> path;
    argument.endStructure();
    ref.path = path.path();
    return ref;
}

QList<Ref> readRefs(const QDBusArgument &argument) {
    QList<Ref> refs;
    argument.beginArray();
    while (!argument.atEnd())
        refs.append(readRef(argument));
    argument.endArray();
    return refs;
}

// The reply's first value when it is a container of `signature`.
std::optional<QDBusArgument> firstArgument(const std::optional<QDBusMessage> &reply, QLatin1String signature) {
    if (!reply || reply->arguments().isEmpty() || !reply->arguments().constFirst().canConvert<QDBusArgument>())
        return std::nullopt;
    QDBusArgument argument = reply->arguments().constFirst().value<QDBusArgument>();
    if (argument.currentSignature() != signature)
        return std::nullopt;
    return argument;
}

// The protocol's bit sets: value v is bit v % 32 of word v / 32.
QList<int> bitSet(const QList<unsigned> &values, int words) {
    QList<int> bits(words, 0);
    for (unsigned v : values) {
        if (int(v / 32) < words)
            bits[int(v / 32)] = int(unsigned(bits[int(v / 32)]) | (1u << (v % 32)));
    }
    return bits;
}

} // namespace

AtspiClient::AtspiClient(const QString &sessionBusAddress, int callTimeoutMs)
    : m_sessionAddress(sessionBusAddress), m_timeoutMs(callTimeoutMs) {
    const QString tag = QString::number(reinterpret_cast<quintptr>(this), 16);
    m_connectionName = QStringLiteral("quillmoss-a11y-") + tag;
    m_sessionConnectionName = QStringLiteral("quillmoss-a11y-session-") + tag;
}

AtspiClient::~AtspiClient() {
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
    QDBusConnection::disconnectFromBus(m_sessionConnectionName);
}

std::optional<QString> AtspiClient::busAddress() {
    const QString fromEnvironment = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    QDBusConnection session = m_sessionAddress.isEmpty()
                                  ? QDBusConnection::sessionBus()
                                  : QDBusConnection::connectToBus(m_sessionAddress, m_sessionConnectionName);
    if (!session.isConnected()) {
        m_lastError = QStringLiteral("no session bus");
        return std::nullopt;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
        QStringLiteral("GetAddress"));
    // Never auto-start the launcher from here: switching accessibility on is
    // the user's decision, taken through the accessibility switch.
    request.setAutoStartService(false);
    const QDBusMessage reply = session.call(request, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        m_lastError = reply.errorName();
        return std::nullopt;
    }
    const QString address = reply.arguments().constFirst().toString();
    if (address.isEmpty())
        return std::nullopt;
    return address;
}

bool AtspiClient::ensureConnected() {
    if (m_bus && m_bus->isConnected())
        return true;
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
    const auto address = busAddress();
    if (!address)
        return false;
    QDBusConnection bus = QDBusConnection::connectToBus(*address, m_connectionName);
    if (!bus.isConnected()) {
        m_lastError = bus.lastError().message();
        return false;
    }
    m_bus = bus;
    return true;
}

std::optional<QDBusMessage> AtspiClient::call(const Ref &object, const QString &interface, const QString &method,
                                              const QVariantList &arguments) {
    if (!m_bus || object.isNull())
        return std::nullopt;
    if (m_hung.contains(object.bus)) {
        m_lastError = QStringLiteral("org.freedesktop.DBus.Error.NoReply");
        return std::nullopt;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(object.bus, object.path, interface, method);
    request.setArguments(arguments);
    request.setAutoStartService(false);
    QDBusMessage reply = m_bus->call(request, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_lastError = reply.errorName();
        if (m_lastError == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            m_lastError == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
            m_hung.insert(object.bus);
        return std::nullopt;
    }
    m_lastError.clear();
    return reply;
}

std::optional<QVariant> AtspiClient::property(const Ref &object, const QString &interface, const QString &name) {
    const auto reply = call(object, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                            {interface, name});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().value<QDBusVariant>().variant();
}

std::optional<QList<Ref>> AtspiClient::applications() {
    return children(Ref{kRegistry, kRootPath});
}

std::optional<qint64> AtspiClient::processId(const QString &busName) {
    const auto reply = call(Ref{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus")},
                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"),
                            {busName});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().toLongLong();
}

std::optional<QList<Ref>> AtspiClient::children(const Ref &object) {
    const auto argument =
        firstArgument(call(object, kAccessible, QStringLiteral("GetChildren"), {}), QLatin1String("a(so)"));
    if (!argument)
        return std::nullopt;
    return readRefs(*argument);
}

std::optional<Ref> AtspiClient::parent(const Ref &object) {
    const auto value = property(object, kAccessible, QStringLiteral("Parent"));
    if (!value || !value->canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value->value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(so)"))
        return std::nullopt;
    return readRef(argument);
}

std::optional<unsigned> AtspiClient::role(const Ref &object) {
    const auto reply = call(object, kAccessible, QStringLiteral("GetRole"), {});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().toUInt();
}

std::optional<quint64> AtspiClient::states(const Ref &object) {
    const auto argument = firstArgument(call(object, kAccessible, QStringLiteral("GetState"), {}), QLatin1String("au"));
    if (!argument)
        return std::nullopt;
    const QList<uint> words = qdbus_cast<QList<uint>>(*argument);
    if (words.size() < 2)
        return std::nullopt;
    return quint64(words[0]) | (quint64(words[1]) << 32);
}

std::optional<QString> AtspiClient::name(const Ref &object) {
    const auto value = property(object, kAccessible, QStringLiteral("Name"));
    if (!value)
        return std::nullopt;
    return value->toString();
}

std::optional<QString> AtspiClient::text(const Ref &object) {
    const auto reply = call(object, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().toString();
}

std::optional<QStringList> AtspiClient::actionNames(const Ref &object) {
    const auto argument = firstArgument(
        call(object, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("GetActions"), {}), QLatin1String("a(sss)"));
    if (!argument)
        return std::nullopt;
    QStringList names;
    argument->beginArray();
    while (!argument->atEnd()) {
        QString actionName, description, keyBinding;
        argument->beginStructure();
        *argument >> actionName >> description >> keyBinding;
        argument->endStructure();
        names.append(actionName);
    }
    argument->endArray();
    return names;
}

bool AtspiClient::doAction(const Ref &object, int index) {
    const auto reply = call(object, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), {index});
    return reply && !reply->arguments().isEmpty() && reply->arguments().constFirst().toBool();
}

std::optional<QList<Ref>> AtspiClient::matches(const Ref &root, const QList<unsigned> &roles,
                                               const QList<unsigned> &states, int count) {
    enum { MatchAll = 1, MatchAny = 2 };
    QDBusArgument rule;
    rule.beginStructure();
    rule << bitSet(states, 2) << int(MatchAll);
    rule << QMap<QString, QString>() << int(MatchAll);
    rule << bitSet(roles, 4) << int(MatchAny);
    rule << QStringList() << int(MatchAll);
    rule << false; // not inverted
    rule.endStructure();
    const uint canonicalOrder = 1;
    const bool descend = true;
    const auto argument = firstArgument(call(root, QStringLiteral("org.a11y.atspi.Collection"),
                                             QStringLiteral("GetMatches"),
                                             {QVariant::fromValue(rule), canonicalOrder, count, descend}),
                                        QLatin1String("a(so)"));
    if (!argument)
        return std::nullopt;
    return readRefs(*argument);
}

} // namespace quillmoss::atspi
