#include "session/SessionModel.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quillmoss;

namespace {
QVariantMap entry(const QString &type, const QVariant &duration, const QVariant &id = {}) {
    QVariantMap map{{QStringLiteral("type"), type}, {QStringLiteral("duration"), duration}};
    if (id.isValid()) map.insert(QStringLiteral("id"), id);
    return map;
}
} // namespace

TEST(PlanFromScreens, MapsAndBlocksKeepOrderAndIds) {
    const SessionBlock kept = SessionBlock::make(BlockType::Break, 300);
    const QString id = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    const auto plan = planFromVariantList(
        {entry("Study", 1500), QVariant::fromValue(kept), entry("Study", 3300, id), entry("Break", 0)});
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->size(), 4);
    EXPECT_EQ((*plan)[0].type, BlockType::Study);
    EXPECT_EQ((*plan)[0].duration, 1500);
    EXPECT_FALSE((*plan)[0].id.isNull());
    EXPECT_EQ((*plan)[1], kept);
    EXPECT_EQ(uuidText((*plan)[2].id), id);
    EXPECT_EQ((*plan)[3].duration, 0);
    // Blocks made without an id get distinct fresh ones.
    const auto twice = planFromVariantList({entry("Study", 60), entry("Study", 60)});
    ASSERT_TRUE(twice);
    EXPECT_NE((*twice)[0].id, (*twice)[1].id);
}

TEST(PlanFromScreens, OneBadEntrySpoilsTheList) {
    EXPECT_TRUE(planFromVariantList({}).has_value());
    EXPECT_FALSE(planFromVariantList({entry("Study", 60), entry("study", 60)}));
    EXPECT_FALSE(planFromVariantList({entry("Study", -1)}));
    EXPECT_FALSE(planFromVariantList({entry("Study", std::numeric_limits<double>::infinity())}));
    EXPECT_FALSE(planFromVariantList({entry("Study", QStringLiteral("long"))}));
    EXPECT_FALSE(planFromVariantList({entry("Study", 60, QStringLiteral("not-a-uuid"))}));
    EXPECT_FALSE(planFromVariantList({QStringLiteral("Study")}));
    EXPECT_FALSE(planFromVariantList({QVariantMap{{QStringLiteral("type"), QStringLiteral("Break")}}}));
}
