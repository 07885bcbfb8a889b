#pragma once

#include <QDBusConnection>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillmoss::atspi {

// One object in an application's accessibility tree: the application's bus
// name and the object's path.
struct Ref {
    QString bus;
    QString path;
    bool isNull() const { return bus.isEmpty() || path.isEmpty() || path == QLatin1String("/org/a11y/atspi/null"); }
    bool operator==(const Ref &other) const { return bus == other.bus && path == other.path; }
};

// AT-SPI2 role and state numbers (the protocol's, stable across versions).
enum Role : unsigned {
    RoleComboBox = 11,
    RoleFrame = 23,
    RolePageTab = 37,
    RolePageTabList = 38,
    RolePushButton = 43,
    RoleText = 61,
    RoleToolBar = 63,
    RoleEntry = 79,
};
enum State : unsigned {
    StateActive = 1,
    StateEditable = 7,
    StateFocused = 12,
    StateSelected = 23,
    StateShowing = 25,
    StateSingleLine = 26,
};

// A blocking client of the accessibility bus, speaking the AT-SPI2 D-Bus
// protocol directly. Every call has its own timeout and a failure is an empty
// result, never an exception or an abort, so a browser that hangs or quits
// mid-walk only ends that walk. Meant for a worker thread.
class AtspiClient {
public:
    // `sessionBusAddress` empty: the desktop session bus.
    AtspiClient(const QString &sessionBusAddress, int callTimeoutMs);
    ~AtspiClient();
    AtspiClient(const AtspiClient &) = delete;
    AtspiClient &operator=(const AtspiClient &) = delete;

    // Connects to the accessibility bus when not connected yet; false when it
    // cannot be reached (no session bus, accessibility never switched on).
    bool ensureConnected();
    // The error of the last failed call ("" when none failed).
    QString lastError() const { return m_lastError; }
    // Starts one read or close: an application that let a call time out
    // during it gets no further calls until the next one, so a hung browser
    // costs one timeout per operation, not one per call.
    void beginOperation() { m_hung.clear(); }

    // The applications registered on the bus (their root objects).
    std::optional<QList<Ref>> applications();
    std::optional<qint64> processId(const QString &busName);

    std::optional<QList<Ref>> children(const Ref &object);
    std::optional<Ref> parent(const Ref &object);
    std::optional<unsigned> role(const Ref &object);
    // State bits: bit n set when state n holds.
    std::optional<quint64> states(const Ref &object);
    std::optional<QString> name(const Ref &object);
    std::optional<QString> text(const Ref &object);
    std::optional<QStringList> actionNames(const Ref &object);
    bool doAction(const Ref &object, int index);
    // Descendants of `root` (tree order) whose role is one of `roles` and that
    // have every state in `states`; at most `count` of them (0: all). The walk
    // runs inside the application, so stopping early saves it work.
    std::optional<QList<Ref>> matches(const Ref &root, const QList<unsigned> &roles,
                                      const QList<unsigned> &states, int count);

private:
    std::optional<QDBusMessage> call(const Ref &object, const QString &interface, const QString &method,
                                     const QVariantList &arguments);
    std::optional<QVariant> property(const Ref &object, const QString &interface, const QString &name);
    std::optional<QString> busAddress();

    QString m_sessionAddress;
    int m_timeoutMs;
    QString m_connectionName;
    QString m_sessionConnectionName;
    std::optional<QDBusConnection> m_bus;
    QString m_lastError;
    QSet<QString> m_hung;
};

} // namespace quillmoss::atspi
