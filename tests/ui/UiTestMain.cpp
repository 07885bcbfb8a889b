// Runs the screens' Qt Quick tests against real managers over an in-memory
// preferences store, fake platform ports and a manual clock.
#include "TestHarness.h"

#include <QApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

using namespace quillmoss;
using namespace quillmoss::test;

class Setup : public QObject {
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine *engine) {
        engine->addImportPath(QStringLiteral("qrc:/"));
        new TestHarnessHolder(engine);
    }

private:
    struct TestHarnessHolder : QObject {
        explicit TestHarnessHolder(QQmlEngine *engine) : QObject(engine), harness(*engine) {}
        TestHarness harness;
    };
};

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "quillmoss_ui", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "UiTestMain.moc"
