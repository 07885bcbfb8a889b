#pragma once

#include <QObject>
#include <QStringList>

namespace quillmoss {

// quillmoss:// links the program was opened with: on its own command line or
// handed over by a second launch. The peer layer connects to linkReceived()
// and acts on them; while nothing does, each link is noted on the console.
class IncomingLinks final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    static bool isAppLink(const QString &text);
    // Passes on every quillmoss:// link among `arguments`; other arguments
    // (a program name, options, file names) are not links and are skipped.
    void handleArguments(const QStringList &arguments);

signals:
    void linkReceived(const QString &link);
};

} // namespace quillmoss
