#pragma once

#include "session/SessionModel.h"

#include <QJsonObject>

namespace quillmoss {

// What the session engine and the emergency unlock need from the peer layer.
// Until linked devices exist the app uses NoPeers.
class PeerPort {
public:
    virtual ~PeerPort() = default;
    // "startFocus" with the running session to every connected peer.
    virtual void sendStartFocus(const QDateTime &startTime, const QDateTime &endTime, const QString &subject,
                                const SessionPlan &blocks) = 0;
    // "stopFocus" to the connected linked devices.
    virtual void sendStopFocus() = 0;
    // Whether this device is setting up a session (the builder is open).
    virtual void sendSetupStatus(bool isSettingUp) = 0;
    // A message to every connected peer.
    virtual void sendToAllConnected(const QJsonObject &message) = 0;
    // Guests that joined this device's session through its lobby.
    virtual int guestPeerCount() const = 0;
};

class NoPeers final : public PeerPort {
public:
    void sendStartFocus(const QDateTime &, const QDateTime &, const QString &, const SessionPlan &) override {}
    void sendStopFocus() override {}
    void sendSetupStatus(bool) override {}
    void sendToAllConnected(const QJsonObject &) override {}
    int guestPeerCount() const override { return 0; }
};

} // namespace quillmoss
