#include "app/IncomingLinks.h"

#include "platform/Console.h"

#include <QMetaMethod>

namespace quillmoss {

bool IncomingLinks::isAppLink(const QString &text) {
    return text.startsWith(QLatin1String("quillmoss://"), Qt::CaseInsensitive);
}

void IncomingLinks::handleArguments(const QStringList &arguments) {
    static const QMetaMethod received = QMetaMethod::fromSignal(&IncomingLinks::linkReceived);
    for (const QString &argument : arguments) {
        if (!isAppLink(argument)) continue;
        if (!isSignalConnected(received))
            consoleLine(QStringLiteral("Link ignored, linked devices are not available yet: ") + argument);
        emit linkReceived(argument);
    }
}

} // namespace quillmoss
