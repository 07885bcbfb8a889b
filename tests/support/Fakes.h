#pragma once

#include "devices/PeerPort.h"
#include "platform/BrowserTabPort.h"
#include "platform/NotificationPort.h"
#include "platform/SoundPort.h"
#include "platform/WorkspacePort.h"
#include "session/EnforcementPort.h"

#include <QStringList>

#include <map>
#include <vector>

namespace quillmoss::test {

class FakeWorkspace final : public WorkspacePort {
public:
    QList<RunningApplication> apps;
    QStringList exempt;
    QStringList hidden; // every hide() call, in order
    bool watching = false;
    int listCalls = 0;

    bool isAvailable() const override { return true; }
    QList<RunningApplication> runningApplications() override {
        ++listCalls;
        return apps;
    }
    void hide(const QString &identifier) override {
        hidden << identifier;
        for (auto &a : apps)
            if (a.identifier == identifier) a.isHidden = true;
    }
    QStringList systemExemptIdentifiers() override { return exempt; }
    void setWatching(bool on) override { watching = on; }

    RunningApplication &add(const QString &id, bool regular = true, bool isHidden = false) {
        apps.append(RunningApplication{id, id, regular, isHidden, false});
        return apps.last();
    }
    void launch(const QString &id, bool regular = true) { emit appeared(add(id, regular)); }
    void reshow(const QString &id) {
        for (auto &a : apps)
            if (a.identifier == id) {
                a.isHidden = false;
                emit appeared(a);
            }
    }
};

// Reads answer when the test says so (or at once when `answerImmediately`).
class FakeBrowserTabs final : public BrowserTabPort {
public:
    std::map<BrowserFamily, bool> running;
    std::map<BrowserFamily, std::optional<QString>> address;
    std::vector<BrowserFamily> reads, closes;
    bool answerImmediately = true;
    std::vector<std::pair<BrowserFamily, std::function<void(std::optional<QString>)>>> pendingReads;

    bool isRunning(BrowserFamily f) override { return running[f]; }
    void readFrontTabAddress(BrowserFamily f, std::function<void(std::optional<QString>)> done) override {
        reads.push_back(f);
        if (answerImmediately)
            done(address[f]);
        else
            pendingReads.emplace_back(f, std::move(done));
    }
    void closeFrontTab(BrowserFamily f) override { closes.push_back(f); }
    void answerPending() {
        auto pending = std::move(pendingReads);
        pendingReads.clear();
        for (auto &[f, done] : pending) done(address[f]);
    }
};

class FakeNotifications final : public NotificationPort {
public:
    NotificationAuthorization status = NotificationAuthorization::Authorized;
    bool grantOnRequest = true;
    int requests = 0;
    struct Posted {
        QString identifier, title, body;
    };
    std::vector<Posted> posted;

    void queryAuthorization(std::function<void(NotificationAuthorization)> done) override { done(status); }
    void requestAuthorization(std::function<void(bool)> done) override {
        ++requests;
        if (grantOnRequest) status = NotificationAuthorization::Authorized;
        done(grantOnRequest);
    }
    void post(const QString &id, const QString &title, const QString &body) override {
        posted.push_back({id, title, body});
    }
};

class FakeSounds final : public SoundPort {
public:
    std::vector<SoundEvent> played;
    void play(SoundEvent e) override { played.push_back(e); }
};

class FakeEnforcement final : public EnforcementPort {
public:
    bool on = false;
    int applies = 0, stops = 0;
    void applyBlocking() override {
        on = true;
        ++applies;
    }
    void stopMonitoring() override {
        on = false;
        ++stops;
    }
    bool isMonitoring() const override { return on; }
};

class FakePeers final : public PeerPort {
public:
    struct Start {
        QDateTime start, end;
        QString subject;
        SessionPlan blocks;
    };
    std::vector<Start> starts;
    int stops = 0;
    std::vector<bool> setupStatuses;
    std::vector<QJsonObject> broadcasts;
    int guests = 0;

    void sendStartFocus(const QDateTime &s, const QDateTime &e, const QString &subject,
                        const SessionPlan &blocks) override {
        starts.push_back({s, e, subject, blocks});
    }
    void sendStopFocus() override { ++stops; }
    void sendSetupStatus(bool on) override { setupStatuses.push_back(on); }
    void sendToAllConnected(const QJsonObject &m) override { broadcasts.push_back(m); }
    int guestPeerCount() const override { return guests; }
};

} // namespace quillmoss::test

#include "platform/IdleInhibitPort.h"

namespace quillmoss::test {

class FakeIdleInhibit final : public IdleInhibitPort {
public:
    bool held = false;
    bool failNext = false;
    QString reason;
    int inhibits = 0;
    void inhibit(const QString &r) override {
        if (held) return;
        ++inhibits;
        if (failNext) {
            failNext = false;
            emit inhibitFailed(QStringLiteral("refused"));
            return;
        }
        held = true;
        reason = r;
        emit inhibitedChanged(true);
    }
    void release() override {
        if (!held) return;
        held = false;
        emit inhibitedChanged(false);
    }
    bool isInhibited() const override { return held; }
};

} // namespace quillmoss::test

#include "platform/AccessibilityPort.h"

namespace quillmoss::test {

class FakeAccessibility final : public AccessibilityPort {
public:
    bool authorized = false;
    bool grant = true;
    int requests = 0;
    void requestAccess(std::function<void(bool)> done) override {
        ++requests;
        postToMainQueue(this, [this, done] {
            if (authorized != grant) {
                authorized = grant;
                emit authorizedChanged(authorized);
            }
            if (done) done(authorized);
        });
    }
    void refresh() override {}
    bool isAuthorized() const override { return authorized; }
    bool isWindowControlAvailable() const override { return true; }
};

} // namespace quillmoss::test
