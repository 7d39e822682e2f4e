#include "host/trace/trace_file.h"

#include "platform/line_trace.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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

// Takes group and other users' access away from a regular file (a device such as /dev/null
// is left as it is).
bool ownerOnly(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return true;
    return ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
}

} // namespace

QString startLineTrace(const QString& path) {
    if (path.isEmpty()) {
        stopLineTrace();
        return QString();
    }
    // Card numbers and times: for the owner's eyes only, also in a file made looser before.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    FILE* file = fd < 0 || !ownerOnly(fd) ? nullptr : ::fdopen(fd, "a");
    if (!file) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("cannot write the line trace %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    }
    trace::setSink(std::make_shared<TraceFile>(file));
    return QString();
}

void stopLineTrace() {
    trace::setSink(nullptr);
}

} // namespace bw::host
