#pragma once

#include "devices/PeerPort.h"

namespace quillmoss {

// Lets the engine and the emergency unlock be built with their peer port
// before the peer manager exists; the peer manager plugs itself in later.
class PeerRelay final : public PeerPort {
public:
    void setTarget(PeerPort *target) { m_target = target ? target : &m_none; }
    PeerPort &target() const { return *m_target; }

    void sendStartFocus(const QDateTime &s, const QDateTime &e, const QString &subject,
                        const SessionPlan &blocks) override {
        m_target->sendStartFocus(s, e, subject, blocks);
    }
    void sendStopFocus() override { m_target->sendStopFocus(); }
    void sendSetupStatus(bool on) override { m_target->sendSetupStatus(on); }
    void sendToAllConnected(const QJsonObject &m) override { m_target->sendToAllConnected(m); }
    int guestPeerCount() const override { return m_target->guestPeerCount(); }

private:
    NoPeers m_none;
    PeerPort *m_target = &m_none;
};

} // namespace quillmoss
