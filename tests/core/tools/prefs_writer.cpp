// Writes through a file-backed store in a loop until killed; used by the
// kill-during-write test.
#include "platform/PreferencesStore.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    auto store = quillmoss::PreferencesStore::openFile(QString::fromLocal8Bit(argv[1]));
    for (qint64 i = 0;; ++i) {
        const qint64 length = 1000 + (i * 7919) % 200000;
        const QChar letter(char16_t(u'a' + i % 26));
        // One write holds both values so each file is self-checking.
        store->setValue("record", QJsonObject{{"length", length}, {"payload", QString(length, letter)}});
        std::printf("%lld\n", static_cast<long long>(i));
        std::fflush(stdout);
    }
}
