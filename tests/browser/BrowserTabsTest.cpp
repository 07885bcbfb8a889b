// Real browsers on a private desktop: a session bus with accessibility
// switched on by AccessibilitySwitch, Xvfb with openbox, a local web server.

#include "AccessibilitySwitch.h"
#include "AtspiBrowserTabs.h"
#include "DesktopSession.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace quillmoss;
using namespace quillmoss::test;

namespace {

constexpr int kStartTimeoutMs = 30000;

struct ReadResult {
    bool answered = false;
    std::optional<QString> address;
    qint64 elapsedMs = 0;
};

ReadResult readAddress(AtspiBrowserTabs &tabs, BrowserFamily family) {
    // Shared, so that an answer later than the wait cannot write to a stack
    // frame that is gone.
    auto result = std::make_shared<ReadResult>();
    QElapsedTimer timer;
    timer.start();
    tabs.readFrontTabAddress(family, [result, timer](std::optional<QString> address) {
        result->answered = true;
        result->address = address;
        result->elapsedMs = timer.elapsed();
    });
    waitFor([&] { return result->answered; }, 30000);
    return *result;
}

bool addressContains(AtspiBrowserTabs &tabs, BrowserFamily family, const QString &part) {
    const ReadResult read = readAddress(tabs, family);
    return read.address && read.address->contains(part);
}

// Closes the front tab and waits for the adapter's report.
std::optional<bool> closeFrontTab(AtspiBrowserTabs &tabs, BrowserFamily family, qint64 *elapsedMs) {
    std::optional<bool> closed;
    QElapsedTimer timer;
    timer.start();
    auto connection = QObject::connect(&tabs, &AtspiBrowserTabs::closeFinished,
                                       [&](BrowserFamily f, bool ok) {
                                           if (f == family)
                                               closed = ok;
                                       });
    tabs.closeFrontTab(family);
    waitFor([&] { return closed.has_value(); }, 20000);
    QObject::disconnect(connection);
    if (elapsedMs)
        *elapsedMs = timer.elapsed();
    return closed;
}

double ownCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000.0 + usage.ru_utime.tv_usec / 1000.0 + usage.ru_stime.tv_sec * 1000.0 +
           usage.ru_stime.tv_usec / 1000.0;
}

qint64 median(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

class BrowserTabsOnDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_desktop = new DesktopSession;
        s_startError = s_desktop->start();
        if (!s_startError.isEmpty())
            return;
        // Accessibility on before any browser starts, as a user grants it
        // during onboarding.
        s_startError = switchAccessibilityOn(*s_desktop);
        s_server = new TinyHttpServer;
    }
    static void TearDownTestSuite() {
        delete s_desktop;
        s_desktop = nullptr;
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_startError.isEmpty()) << s_startError.toStdString(); }

    AtspiBrowserTabs::Options options() const { return browserTabOptions(*s_desktop); }
    // Options for a session bus of its own (ended with `processes`), where
    // accessibility was never switched on.
    AtspiBrowserTabs::Options withoutAccessibility(TestProcesses &processes) const {
        AtspiBrowserTabs::Options o = options();
        o.sessionBusAddress = startSessionBus(processes, s_desktop->directory());
        return o;
    }
    QString url(const QString &path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(s_server->port()).arg(path);
    }
    QString shown(const QString &path) const { return QStringLiteral("127.0.0.1:%1%2").arg(s_server->port()).arg(path); }

    TestProcesses::Launch startChromium(const QString &profile, const QString &path,
                                        const QStringList &extra = {}) {
        return s_desktop->processes().start(
            QStringLiteral("/usr/bin/chromium"),
            chromiumArguments(profile) + extra + QStringList{url(path)},
            s_desktop->environment());
    }

    TestProcesses::Launch startFirefox(const QString &profile, const QStringList &arguments) {
        return s_desktop->processes().start(QStringLiteral("/usr/bin/firefox-esr"),
                                            QStringList{QStringLiteral("--profile"), profile} + arguments,
                                            s_desktop->environment());
    }

    // Reads, two-tab close, last-tab close and the measurements, for one
    // browser whose window shows `first` and then `second` in a new tab.
    void exerciseFrontTab(AtspiBrowserTabs &tabs, BrowserFamily family, qint64 browserPid,
                          const std::function<void()> &openSecond, const char *label) {
        ASSERT_TRUE(waitFor([&] { return tabs.isRunning(family); }, kStartTimeoutMs));
        ASSERT_TRUE(waitFor([&] { return addressContains(tabs, family, shown("/first")); }, kStartTimeoutMs))
            << "last read: " << readAddress(tabs, family).address.value_or("<none>").toStdString();

        openSecond();
        ASSERT_TRUE(waitFor([&] { return addressContains(tabs, family, shown("/second")); }, kStartTimeoutMs));

        // Each read is bounded, so under heavy load one may come back empty;
        // whatever comes back is the front tab.
        std::vector<qint64> reads;
        int found = 0;
        for (int i = 0; i < 9; ++i) {
            const ReadResult read = readAddress(tabs, family);
            if (read.address) {
                ++found;
                EXPECT_TRUE(read.address->contains(shown("/second")));
            }
            reads.push_back(read.elapsedMs);
        }
        EXPECT_GE(found, 7);

        // What one check (a /proc scan and a read) costs this process.
        AtspiBrowserTabs::Options uncached = options();
        uncached.processCacheMs = 0;
        AtspiBrowserTabs checker(uncached);
        constexpr int kChecks = 20;
        const double ownBefore = ownCpuMs();
        for (int i = 0; i < kChecks; ++i) {
            EXPECT_TRUE(checker.isRunning(family));
            readAddress(checker, family);
        }
        std::printf("[ measure  ] %s: one check costs %.2f ms CPU in this process\n", label,
                    (ownCpuMs() - ownBefore) / kChecks);

        // Two tabs: the front one goes, the other stays in front.
        qint64 firstCloseMs = 0;
        EXPECT_EQ(closeFrontTab(tabs, family, &firstCloseMs), std::optional<bool>(true));
        EXPECT_TRUE(waitFor([&] { return addressContains(tabs, family, shown("/first")); }, 30000));

        // The last tab: the window survives with a fresh tab.
        qint64 lastCloseMs = 0;
        EXPECT_EQ(closeFrontTab(tabs, family, &lastCloseMs), std::optional<bool>(true));
        EXPECT_TRUE(waitFor(
            [&] {
                const ReadResult read = readAddress(tabs, family);
                return read.address && !read.address->contains(QStringLiteral("/first"));
            },
            10000));
        EXPECT_TRUE(tabs.isRunning(family));

        std::printf("[ measure  ] %s: read median %lld ms, close (two tabs) %lld ms, close (last tab) %lld ms\n",
                    label, static_cast<long long>(median(reads)), static_cast<long long>(firstCloseMs),
                    static_cast<long long>(lastCloseMs));

        // Reads asked for while one is under way share its answer.
        std::optional<QString> first, second;
        int answers = 0;
        tabs.readFrontTabAddress(family, [&](std::optional<QString> a) { first = a, ++answers; });
        tabs.readFrontTabAddress(family, [&](std::optional<QString> a) { second = a, ++answers; });
        EXPECT_TRUE(waitFor([&] { return answers == 2; }, 30000));
        EXPECT_TRUE(first.has_value());
        EXPECT_EQ(first, second);

        // A browser that stops answering costs one bounded read (the call
        // timeout here); reads come back once it answers again.
        ::kill(pid_t(browserPid), SIGSTOP);
        const ReadResult hung = readAddress(tabs, family);
        ::kill(pid_t(browserPid), SIGCONT);
        EXPECT_TRUE(hung.answered);
        EXPECT_FALSE(hung.address.has_value());
        EXPECT_LT(hung.elapsedMs, 3000);
        EXPECT_TRUE(waitFor([&] { return readAddress(tabs, family).address.has_value(); }, 30000));

        // With calls allowed to wait longer than a read may take, the read's
        // own deadline answers, and later reads do not queue up behind the
        // stuck one.
        AtspiBrowserTabs::Options patient = options();
        patient.callTimeoutMs = 6000;
        patient.readDeadlineMs = 300;
        AtspiBrowserTabs slow(patient);
        EXPECT_TRUE(waitFor([&] { return readAddress(slow, family).address.has_value(); }, 30000));
        ::kill(pid_t(browserPid), SIGSTOP);
        const ReadResult late = readAddress(slow, family);
        const ReadResult behind = readAddress(slow, family);
        ::kill(pid_t(browserPid), SIGCONT);
        EXPECT_FALSE(late.address.has_value());
        EXPECT_LT(late.elapsedMs, 2000);
        EXPECT_FALSE(behind.address.has_value());
        EXPECT_LT(behind.elapsedMs, 1000);
        EXPECT_TRUE(waitFor([&] { return readAddress(slow, family).address.has_value(); }, 30000));
    }

    static DesktopSession *s_desktop;
    static TinyHttpServer *s_server;
    static QString s_startError;
};

DesktopSession *BrowserTabsOnDesktop::s_desktop = nullptr;
TinyHttpServer *BrowserTabsOnDesktop::s_server = nullptr;
QString BrowserTabsOnDesktop::s_startError;

TEST_F(BrowserTabsOnDesktop, ChromiumFrontTabIsReadAndClosedWithoutLosingTheBrowser) {
    AtspiBrowserTabs tabs(options());
    ASSERT_FALSE(tabs.isRunning(BrowserFamily::Chrome));
    const ReadResult absent = readAddress(tabs, BrowserFamily::Chrome);
    EXPECT_TRUE(absent.answered);
    EXPECT_FALSE(absent.address.has_value());
    EXPECT_LT(absent.elapsedMs, 1000);

    const QString profile = s_desktop->directory() + QStringLiteral("/chromium-profile");
    const auto browser = startChromium(profile, QStringLiteral("/first"));
    // A second start with the same profile hands the page to the running
    // browser, which opens it in a new tab, as when a link is opened.
    exerciseFrontTab(
        tabs, BrowserFamily::Chrome, browser.pid, [&] { startChromium(profile, QStringLiteral("/second")); },
        "chromium");

    s_desktop->processes().end(browser);
    EXPECT_TRUE(waitFor([&] { return !tabs.isRunning(BrowserFamily::Chrome); }, 30000));
    const ReadResult gone = readAddress(tabs, BrowserFamily::Chrome);
    EXPECT_FALSE(gone.address.has_value());
    EXPECT_LT(gone.elapsedMs, 1000);
    EXPECT_FALSE(tabs.isRunning(BrowserFamily::Safari));
}

TEST_F(BrowserTabsOnDesktop, ChromiumWithoutAccessibilityIsReadAndClosedThroughItsDevToolsEndpoint) {
    // The adapter looks at a session without accessibility, so only the
    // browser's DevTools endpoint can answer.
    TestProcesses processes(s_desktop->directory());
    const AtspiBrowserTabs::Options o = withoutAccessibility(processes);
    ASSERT_FALSE(o.sessionBusAddress.isEmpty());
    AtspiBrowserTabs tabs(o);

    const QString profile = s_desktop->directory() + QStringLiteral("/chromium-devtools");
    const QStringList debugging{QStringLiteral("--remote-debugging-port=0")};
    const auto browser = startChromium(profile, QStringLiteral("/first"), debugging);
    const auto showsExactly = [&](const QString &path) {
        const ReadResult read = readAddress(tabs, BrowserFamily::Chrome);
        return read.address == url(path);
    };
    ASSERT_TRUE(waitFor([&] { return showsExactly(QStringLiteral("/first")); }, kStartTimeoutMs));
    startChromium(profile, QStringLiteral("/second"), debugging);
    ASSERT_TRUE(waitFor([&] { return showsExactly(QStringLiteral("/second")); }, kStartTimeoutMs));

    EXPECT_EQ(closeFrontTab(tabs, BrowserFamily::Chrome, nullptr), std::optional<bool>(true));
    EXPECT_TRUE(waitFor([&] { return showsExactly(QStringLiteral("/first")); }, 30000));
    EXPECT_EQ(closeFrontTab(tabs, BrowserFamily::Chrome, nullptr), std::optional<bool>(true));
    EXPECT_TRUE(waitFor(
        [&] {
            const ReadResult read = readAddress(tabs, BrowserFamily::Chrome);
            return read.address && !read.address->contains(QStringLiteral("/first"));
        },
        10000));
    EXPECT_TRUE(tabs.isRunning(BrowserFamily::Chrome));
    s_desktop->processes().end(browser);
}

TEST_F(BrowserTabsOnDesktop, FirefoxFrontTabIsReadAndClosedWithoutLosingTheBrowser) {
    AtspiBrowserTabs tabs(options());
    ASSERT_FALSE(tabs.isRunning(BrowserFamily::Firefox));

    const QString profile = s_desktop->directory() + QStringLiteral("/firefox-profile");
    ASSERT_TRUE(writeQuietFirefoxProfile(profile));

    const auto browser = startFirefox(profile, {url(QStringLiteral("/first"))});
    exerciseFrontTab(
        tabs, BrowserFamily::Firefox, browser.pid,
        [&] { startFirefox(profile, {QStringLiteral("--new-tab"), url(QStringLiteral("/second"))}); }, "firefox");

    s_desktop->processes().end(browser);
    EXPECT_TRUE(waitFor([&] { return !tabs.isRunning(BrowserFamily::Firefox); }, 30000));
}

TEST_F(BrowserTabsOnDesktop, WithoutAnAccessibilityBusReadsYieldNoAddressAtOnce) {
    TestProcesses processes(s_desktop->directory());
    const AtspiBrowserTabs::Options o = withoutAccessibility(processes);
    ASSERT_FALSE(o.sessionBusAddress.isEmpty());
    AtspiBrowserTabs tabs(o);
    for (BrowserFamily family : {BrowserFamily::Chrome, BrowserFamily::Firefox, BrowserFamily::Safari}) {
        const ReadResult read = readAddress(tabs, family);
        EXPECT_TRUE(read.answered);
        EXPECT_FALSE(read.address.has_value());
        EXPECT_LT(read.elapsedMs, 1000);
    }
    // A close with nothing to close reports failure and harms nothing.
    EXPECT_EQ(closeFrontTab(tabs, BrowserFamily::Chrome, nullptr), std::optional<bool>(false));
}

} // namespace
