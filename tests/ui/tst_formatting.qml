import QtQuick
import QtTest

TestCase {
    name: "Formatting"

    function test_greetingBoundaries() {
        compare(formatter.greetingForHour(11), "Good morning")
        compare(formatter.greetingForHour(12), "Good afternoon")
        compare(formatter.greetingForHour(16), "Good afternoon")
        compare(formatter.greetingForHour(17), "Good evening")
    }

    function test_appClockFollowsTheManualClock() {
        testHarness.setLocalTime(11, 59)
        compare(appClock.hour, 11)
        testHarness.advance(60 * 1000)
        compare(appClock.hour, 12)
    }
}
