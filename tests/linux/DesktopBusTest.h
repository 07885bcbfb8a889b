#pragma once

#include "PrivateBus.h"

#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace quillmoss::test {

// A private bus with a client connection (the adapters') and a server
// connection (the fakes'), and the console lines the test produced.
class DesktopBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.isRunning()) << "dbus-daemon did not start";
        client = m_bus.connect();
        server = m_bus.connect();
        ASSERT_TRUE(client.isConnected() && server.isConnected());
        ::testing::internal::CaptureStdout();
        m_capturing = true;
    }
    void TearDown() override {
        if (m_capturing)
            consoleLines();
    }
    QStringList consoleLines() {
        if (!m_capturing)
            return m_lines;
        m_capturing = false;
        const std::string out = ::testing::internal::GetCapturedStdout();
        // Assertion messages went to the capture too; give them back.
        if (HasFailure())
            std::fputs(out.c_str(), stdout);
        m_lines = QString::fromStdString(out).split(u'\n', Qt::SkipEmptyParts);
        return m_lines;
    }

    QDBusConnection client{QString()};
    QDBusConnection server{QString()};

private:
    PrivateBus m_bus;
    bool m_capturing = false;
    QStringList m_lines;
};

// QTRY-style: runs the event loop until `condition` holds, for up to 15 s.
template <typename Condition>
bool eventually(Condition condition) {
    return QTest::qWaitFor(condition, 15000);
}

} // namespace quillmoss::test
