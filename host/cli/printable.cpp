#include "host/cli/printable.h"

#include "platform/error.h"

#include <QByteArray>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace bw::host {

namespace {

// Characters that print nothing yet change what follows: the Unicode line and paragraph
// separators, and the bidirectional marks, embeddings, overrides and isolates, with which a
// name could show its text reversed or hide part of a line.
bool isInvisibleControl(char16_t u) {
    return u == 0x2028 || u == 0x2029 || u == 0x200E || u == 0x200F || u == 0x061C ||
           (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (isInvisibleControl(u))
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void sayLine(const QString& line) {
    std::fprintf(stdout, "%s\n", printable(line).toUtf8().constData());
    std::fflush(stdout);
}

int failWith(const char* program, int code, const QString& message) {
    // What callers took from the register or a terminal is made printable before it comes
    // here; the line breaks left are a driver's or the system's message, kept on one line.
    std::fprintf(stderr, "%s: %s\n", program, printable(singleLine(message)).toUtf8().constData());
    return code;
}

bool stderrIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool devOk = false, inoOk = false;
    const qulonglong dev = stream.left(colon).toULongLong(&devOk);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&inoOk);
    struct stat st {};
    return devOk && inoOk && ::fstat(STDERR_FILENO, &st) == 0 && qulonglong(st.st_dev) == dev &&
           qulonglong(st.st_ino) == ino;
}

void alertLine(const char* program, const QString& message) {
    std::fprintf(stderr, "%s%s: %s\n", stderrIsJournal() ? "<3>" : "", program,
                 printable(message).toUtf8().constData());
    std::fflush(stderr);
}

} // namespace bw::host
