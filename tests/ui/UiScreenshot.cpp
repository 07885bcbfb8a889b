// Renders one screen offscreen to a PNG, over the test harness, so a person
// can look at it:  ui_screenshot <qml file or qrc url> <out.png> [width height] [js]
// The optional js runs against the harness first, e.g.
//   "testHarness.advance(1000); focusManager.startPreview()"
#include "TestHarness.h"

#include <QApplication>
#include <QQmlComponent>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

using namespace quillmoss::test;

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: ui_screenshot <qml> <out.png> [width height] [js]\n");
        return 2;
    }
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    TestHarness harness(engine);
    const int width = argc > 4 ? QString(argv[3]).toInt() : 400;
    const int height = argc > 4 ? QString(argv[4]).toInt() : 750;
    if (argc > 5) {
        // Evaluated in the root context so the managers are in scope.
        QQmlExpression expression(engine.rootContext(), nullptr, QString::fromUtf8(argv[5]));
        expression.evaluate();
        if (expression.hasError()) std::fprintf(stderr, "js: %s\n", qPrintable(expression.error().toString()));
    }
    QString source = QString::fromLocal8Bit(argv[1]);
    const QUrl url = source.startsWith("qrc:") ? QUrl(source) : QUrl::fromLocalFile(source);
    QQmlComponent component(&engine, url);
    QObject *object = component.create();
    if (!object) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    QQuickWindow *window = qobject_cast<QQuickWindow *>(object);
    if (!window) {
        window = new QQuickWindow;
        auto *item = qobject_cast<QQuickItem *>(object);
        item->setParentItem(window->contentItem());
        item->setParent(nullptr);
        item->setSize(QSizeF(width, height));
        window->setColor(QColor("#0d0d14"));
    }
    window->resize(width, height);
    window->show();
    // Let animations settle, then grab.
    QTimer::singleShot(800, [&] {
        window->grabWindow().save(QString::fromLocal8Bit(argv[2]));
        app.quit();
    });
    const int status = app.exec();
    // Before the managers it binds to go away.
    if (window != object) delete window;
    delete object;
    return status;
}
