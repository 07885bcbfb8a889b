#include "CanberraSounds.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace quillmoss;

namespace {
const SoundEvent kAll[] = {SoundEvent::SessionStart, SoundEvent::StudyStart, SoundEvent::BreakStart,
                           SoundEvent::SessionComplete};
}

TEST(CanberraSounds, EachMomentHasItsOwnThemeSound) {
    QSet<QString> ids;
    for (const SoundEvent event : kAll) {
        const QString id = QString::fromUtf8(CanberraSounds::eventId(event));
        ids.insert(id);
        EXPECT_TRUE(QFile::exists(QStringLiteral("/usr/share/sounds/freedesktop/stereo/%1.oga").arg(id)))
            << id.toStdString();
    }
    EXPECT_EQ(ids.size(), 4);
}

TEST(CanberraSounds, NoAudioDeviceIsOneLineAndNeverBlocks) {
    ::testing::internal::CaptureStdout();
    std::vector<bool> outcomes;
    {
        CanberraSounds sounds(QByteArrayLiteral("alsa"), QByteArrayLiteral("quillmoss-missing-device"));
        QObject::connect(&sounds, &CanberraSounds::played, [&](SoundEvent, bool started) { outcomes.push_back(started); });
        QElapsedTimer clock;
        clock.start();
        for (int round = 0; round < 2; ++round)
            for (const SoundEvent event : kAll)
                sounds.play(event);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcomes.size() == 8; }, 15000));
        sounds.play(SoundEvent::SessionComplete); // still queued when destroyed: no harm
    }
    const QStringList lines = QString::fromStdString(::testing::internal::GetCapturedStdout()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(outcomes, std::vector<bool>(8, false));
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.front().startsWith("Sounds unavailable: ")) << lines.front().toStdString();
}
