// The gui pieces need a QApplication (message boxes, tray icons, windows).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    // Offscreen unless told otherwise, also when ctest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
