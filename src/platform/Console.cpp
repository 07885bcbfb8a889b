#include "platform/Console.h"

#include <cstdio>

namespace quillmoss {

void consoleLine(const QString &line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace quillmoss
