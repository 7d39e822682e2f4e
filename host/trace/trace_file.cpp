#include "host/trace/trace_file.h"

#include "platform/line_trace.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace bw::host {

namespace {

constexpr qint64 FlushEveryMs = 100;

class TraceFile : public trace::Sink {
public:
    explicit TraceFile(FILE* file) : file_(file) {
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
        clock_.start();
        const QByteArray head = "# Brackwater line trace from " +
                                QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() +
                                ": ms since then, port or connection, direction, bytes in hex"
                                " (* after a byte: its ninth bit is 1)\n";
        std::fwrite(head.constData(), 1, size_t(head.size()), file_);
        std::fflush(file_);
    }
    ~TraceFile() override { std::fclose(file_); }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    void write(const trace::Frame& frame) override {
        QMutexLocker lock(&mutex_);
        const qint64 ns = clock_.nsecsElapsed();
        put(ns, trace::formatLine(double(ns) / 1e6, frame));
    }
    void note(const QString& where, const QString& text) override {
        QMutexLocker lock(&mutex_);
        const qint64 ns = clock_.nsecsElapsed();
        put(ns, trace::formatNote(double(ns) / 1e6, where, text));
    }

private:
    void put(qint64 ns, const QByteArray& line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), file_);
        if (ns / 1000000 - flushedMs_ >= FlushEveryMs) {
            std::fflush(file_);
            flushedMs_ = ns / 1000000;
        }
    }

    QMutex mutex_;
    FILE* file_;
    QElapsedTimer clock_;
    qint64 flushedMs_ = 0;
};

} // namespace

QString startLineTrace(const QString& path) {
    if (path.isEmpty()) {
        stopLineTrace();
        return QString();
    }
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "a");
    if (!file)
        return QStringLiteral("cannot write the line trace %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    trace::setSink(std::make_shared<TraceFile>(file));
    return QString();
}

void stopLineTrace() {
    trace::setSink(nullptr);
}

} // namespace bw::host
