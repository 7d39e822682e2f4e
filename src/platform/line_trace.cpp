#include "platform/line_trace.h"

#include <QMutex>

namespace bw::trace {

namespace {

struct Installed {
    QMutex mutex;
    std::shared_ptr<Sink> sink;
};

Installed& installed() {
    static Installed i;
    return i;
}

} // namespace

void setSink(std::shared_ptr<Sink> sink) {
    QMutexLocker lock(&installed().mutex);
    installed().sink = std::move(sink);
}

bool enabled() {
    QMutexLocker lock(&installed().mutex);
    return installed().sink != nullptr;
}

void record(const Frame& frame) {
    if (frame.bytes.isEmpty())
        return;
    std::shared_ptr<Sink> sink;
    {
        QMutexLocker lock(&installed().mutex);
        sink = installed().sink;
    }
    if (sink)
        sink->write(frame);
}

void note(const QString& where, const QString& text) {
    std::shared_ptr<Sink> sink;
    {
        QMutexLocker lock(&installed().mutex);
        sink = installed().sink;
    }
    if (sink)
        sink->note(where, text);
}

QByteArray formatNote(double ms, const QString& where, const QString& text) {
    QString clean = text;
    for (QChar& c : clean)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    return QByteArray::number(ms, 'f', 3).rightJustified(12, ' ') + ' ' + where.toUtf8() +
           " note " + clean.toUtf8() + '\n';
}

QByteArray formatLine(double ms, const Frame& frame) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray line = QByteArray::number(ms, 'f', 3).rightJustified(12, ' ');
    line += ' ';
    line += frame.where.toUtf8();
    line += frame.direction == Frame::Direction::Out ? " out" : " in ";
    for (qsizetype i = 0; i < frame.bytes.size(); ++i) {
        const auto b = quint8(frame.bytes[i]);
        line += ' ';
        line += hex[b >> 4];
        line += hex[b & 0x0F];
        if (i < frame.ninth.size() && frame.ninth.testBit(i))
            line += '*';
    }
    line += '\n';
    return line;
}

} // namespace bw::trace
