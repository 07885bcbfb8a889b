#include "devices/ComputerName.h"

#include <QFile>
#include <QSysInfo>

namespace quillmoss {

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; }

// Parses one value starting at `i` up to the end of its logical line, the way
// the shell (and systemd's environment-file reader) would: '…' is literal,
// "…" honours \" \\ \` \$ and line continuations, a bare backslash escapes
// the next character, and unquoted trailing blanks are dropped.
QString parseValue(const QString &text, qsizetype &i) {
    const qsizetype n = text.size();
    QString value;
    qsizetype significant = 0;
    while (i < n && text[i] != u'\n') {
        const QChar c = text[i];
        if (c == u'\\') {
            if (i + 1 < n && text[i + 1] != u'\n') value += text[i + 1];
            i += 2; // a backslash before a newline continues the line
            significant = value.size();
        } else if (c == u'\'') {
            for (++i; i < n && text[i] != u'\''; ++i) value += text[i];
            ++i;
            significant = value.size();
        } else if (c == u'"') {
            for (++i; i < n && text[i] != u'"'; ++i) {
                if (text[i] == u'\\' && i + 1 < n) {
                    const QChar e = text[i + 1];
                    if (e == u'\n') {
                        ++i;
                        continue;
                    }
                    if (e == u'"' || e == u'\\' || e == u'`' || e == u'$') {
                        value += e;
                        ++i;
                        continue;
                    }
                }
                value += text[i];
            }
            ++i;
            significant = value.size();
        } else {
            value += c;
            if (!isBlank(c)) significant = value.size();
            ++i;
        }
    }
    value.truncate(significant);
    return value;
}

} // namespace

QString prettyHostnameFromMachineInfo(const QString &text) {
    QString result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (isBlank(text[i]) || text[i] == u'\n')) ++i;
        if (i >= n) break;
        if (text[i] == u'#' || text[i] == u';') {
            while (i < n && text[i] != u'\n') ++i;
            continue;
        }
        const qsizetype keyStart = i;
        while (i < n && text[i] != u'=' && text[i] != u'\n') ++i;
        if (i >= n || text[i] == u'\n') continue; // not an assignment
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        ++i;
        while (i < n && isBlank(text[i])) ++i;
        const QString value = parseValue(text, i);
        if (key == QLatin1String("PRETTY_HOSTNAME")) result = value; // the last assignment wins
    }
    return result;
}

QString computerNameFrom(const QString &machineInfoPath, const QString &hostName) {
    QFile file(machineInfoPath);
    if (file.open(QIODevice::ReadOnly)) {
        // The file is tiny; a cap keeps a bogus path (a device, a huge file) harmless.
        const QString pretty = prettyHostnameFromMachineInfo(QString::fromUtf8(file.read(64 * 1024)));
        if (!pretty.trimmed().isEmpty()) return pretty;
    }
    return hostName.trimmed();
}

QString systemComputerName() {
    return computerNameFrom(QStringLiteral("/etc/machine-info"), QSysInfo::machineHostName());
}

} // namespace quillmoss
