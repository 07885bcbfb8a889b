#include "session/SessionModel.h"

#include <gtest/gtest.h>

using namespace quillmoss;

namespace {
const QDateTime t0(QDate(2026, 1, 5), QTime(8, 0), Qt::UTC);
}

TEST(SessionModel, CurrentBlockFollowsBoundaries) {
    const SessionPlan plan = defaultPlan();
    auto at = [&](double s) { return currentBlockIndex(plan, t0, t0.addMSecs(qint64(s * 1000))); };
    EXPECT_EQ(at(0), 0);
    EXPECT_EQ(at(1499.9), 0);
    EXPECT_EQ(at(1500), 1);
    EXPECT_EQ(at(1800), 2);
    EXPECT_EQ(at(3299.999), 2);
    EXPECT_EQ(at(3300), std::nullopt);
    EXPECT_EQ(at(-5), 0);
    EXPECT_EQ(totalDuration(plan), 3300);
    EXPECT_EQ(totalDuration({}), 0);
    EXPECT_EQ(currentBlockIndex({}, t0, t0), std::nullopt);
}

TEST(SessionModel, DurationLabels) {
    EXPECT_EQ(durationLabel(1500), "25 min");
    EXPECT_EQ(durationLabel(89), "1 min");
    EXPECT_EQ(durationLabel(90), "2 min");
    EXPECT_EQ(durationLabel(0), "1 min");
    EXPECT_EQ(durationLabel(20), "1 min");
    EXPECT_EQ(durationLabel(3569), "59 min");
    EXPECT_EQ(durationLabel(3570), "1 hr");
    EXPECT_EQ(durationLabel(3600), "1 hr");
    EXPECT_EQ(durationLabel(5400), "1 hr 30 min");
    EXPECT_EQ(durationLabel(7200), "2 hr");
    EXPECT_EQ(durationLabel(7500), "2 hr 5 min");
}

TEST(SessionModel, CustomSubject) {
    EXPECT_EQ(customSubject("  Study Session \n"), std::nullopt);
    EXPECT_EQ(customSubject("study session"), QString("study session"));
    EXPECT_EQ(customSubject("   "), std::nullopt);
    EXPECT_EQ(customSubject(" Maths "), QString("Maths"));
}

TEST(SessionModel, BlocksRoundTripAndRejectBadMembers) {
    const SessionPlan plan = defaultPlan();
    EXPECT_EQ(decodePlan(encodePlan(plan)), plan);
    const QByteArray json = encodePlan(plan);
    EXPECT_TRUE(json.contains(uuidText(plan[0].id).toLatin1()));
    EXPECT_EQ(uuidText(plan[0].id), uuidText(plan[0].id).toUpper());

    EXPECT_EQ(decodePlan(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","type":"study","duration":60}])"),
              std::nullopt);
    EXPECT_EQ(decodePlan(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","type":"Study"}])"), std::nullopt);
    EXPECT_EQ(decodePlan(R"([{"id":"not-a-uuid","type":"Study","duration":60}])"), std::nullopt);
    EXPECT_EQ(decodePlan(R"({"id":1})"), std::nullopt);
    auto ok = decodePlan(R"([{"duration":60,"type":"Break","id":"6f9619ff-8b86-d011-b42d-00c04fc964ff"}])");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->at(0).type, BlockType::Break);
}

TEST(SessionModel, CurrentSessionStateJson) {
    CurrentSessionState state{t0, t0.addSecs(3300), "Maths", defaultPlan(), std::nullopt};
    const QByteArray withoutId = state.encode();
    EXPECT_FALSE(withoutId.contains("sessionId"));
    auto back = CurrentSessionState::decode(withoutId);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sessionId, std::nullopt);
    EXPECT_EQ(back->startTime, t0);
    EXPECT_EQ(back->blocks, state.blocks);

    state.sessionId = QUuid::createUuid();
    back = CurrentSessionState::decode(state.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sessionId, state.sessionId);

    // 2001-01-01 reference dates.
    auto manual = CurrentSessionState::decode(R"({"startTime":0,"endTime":60,"subject":"","blocks":[]})");
    ASSERT_TRUE(manual);
    EXPECT_EQ(manual->startTime, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));

    EXPECT_EQ(CurrentSessionState::decode(R"({"startTime":0,"endTime":60,"blocks":[]})"), std::nullopt);
    EXPECT_EQ(CurrentSessionState::decode(R"({"startTime":"x","endTime":60,"subject":"","blocks":[]})"),
              std::nullopt);
    EXPECT_EQ(BuilderState::decode(R"({"blocks":[]})"), std::nullopt);
    auto builder = BuilderState::decode(BuilderState{defaultPlan(), "Bio"}.encode());
    ASSERT_TRUE(builder);
    EXPECT_EQ(builder->subject, "Bio");
}
