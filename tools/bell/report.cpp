#include "tools/bell/report.h"

#include "host/cli/printable.h"

#include <QJsonDocument>
#include <cstdio>
#include <unistd.h>

namespace bw::tool {

namespace {

void write(FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
    std::fflush(to);
}

// Line breaks inside a message would make two lines of one failure.
QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

} // namespace

Report::Report(const QString& command, bool json) : json_(json) {
    doc_[QStringLiteral("command")] = command;
}

void Report::clearProgress() {
    if (progressShown_)
        write(stdout, QStringLiteral("\r\033[K"));
    progressShown_ = false;
}

void Report::line(const QString& text) {
    if (json_)
        return;
    clearProgress();
    write(stdout, host::printable(text) + QLatin1Char('\n'));
}

void Report::progress(const QString& text) {
    if (json_ || !::isatty(STDOUT_FILENO))
        return;
    write(stdout, QStringLiteral("\r") + host::printable(text) + QStringLiteral("\033[K"));
    progressShown_ = true;
}

void Report::append(const QString& key, const QJsonValue& value) {
    QJsonArray list = doc_.value(key).toArray();
    list.append(value);
    doc_[key] = list;
}

int Report::fail(int code, const QString& message) {
    clearProgress();
    const QString text = oneLine(message);
    doc_[QStringLiteral("error")] = text;
    write(stderr, QStringLiteral("brackwater-bell: ") + host::printable(text) + QLatin1Char('\n'));
    return code;
}

int Report::finish(int code) {
    clearProgress();
    if (json_) {
        doc_[QStringLiteral("exit")] = code;
        write(stdout, QString::fromUtf8(QJsonDocument(doc_).toJson(QJsonDocument::Indented)));
    }
    return code;
}

} // namespace bw::tool
