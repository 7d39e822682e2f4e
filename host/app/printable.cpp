#include "host/app/printable.h"

#include <cstdio>

namespace bw::host {

QString printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
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
    std::fprintf(stderr, "%s: %s\n", program, printable(message).toUtf8().constData());
    return code;
}

} // namespace bw::host
