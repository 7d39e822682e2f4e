#pragma once

// A model-6429 terminal on the master side of a pseudo-terminal, for tests of the real
// serial port: the port under test opens the slave (path()). A pseudo-terminal carries no
// ninth bit, so requests are found by their structure and check byte. Replies can be paced
// at the line speed (11-bit characters at 19200 baud), delayed, cut short or withheld.

#include "bell/bell_frame.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace bw::test {

struct PtyOptions {
    std::set<int> addresses{1};
    bool pacing = false;
    int delayMs = 0;
    int partial = -1; // >= 0: only the first N bytes of each reply
    bool silent = false;
};

class PtyTerminal {
public:
    using Options = PtyOptions;

    explicit PtyTerminal(Options o = Options()) : opt_(std::move(o)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        path_ = QString::fromLocal8Bit(ptsname(master_));
        // Keep the slave open ourselves so the master never reads EIO between opens.
        slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        termios t{};
        if (tcgetattr(slave_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave_, TCSANOW, &t);
        }
        bells_ = QByteArray(60, '\0');
        thread_ = std::thread([this] { run(); });
    }
    ~PtyTerminal() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (slave_ >= 0)
            ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
    }
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    bool ok() const { return master_ >= 0 && slave_ >= 0 && !path_.isEmpty(); }
    QString path() const { return path_; }

    void setBells(const QByteArray& bcd60, int count) {
        std::lock_guard<std::mutex> l(m_);
        bells_ = bcd60.left(60).leftJustified(60, '\0');
        count_ = count;
    }
    void setSilent(bool on) {
        std::lock_guard<std::mutex> l(m_);
        opt_.silent = on;
    }
    void setPartial(int n) {
        std::lock_guard<std::mutex> l(m_);
        opt_.partial = n;
    }
    int bellCount() {
        std::lock_guard<std::mutex> l(m_);
        return count_;
    }
    QList<QByteArray> requests() {
        std::lock_guard<std::mutex> l(m_);
        return requests_;
    }
    QByteArray lastDateTime() {
        std::lock_guard<std::mutex> l(m_);
        return lastDateTime_;
    }

private:
    void run() {
        QByteArray buf;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            char tmp[512];
            const ssize_t n = ::read(master_, tmp, sizeof tmp);
            if (n <= 0)
                continue;
            buf.append(tmp, n);
            scan(buf);
        }
    }

    void scan(QByteArray& buf) {
        for (;;) {
            bool found = false;
            bool incomplete = false;
            for (qsizetype i = 0; i + 1 < buf.size(); ++i) {
                const auto code = static_cast<quint8>(buf.at(i + 1));
                const int need = bell::frame::requestDataLength(code);
                if (need == 0)
                    continue;
                if (i + 1 + need > buf.size()) {
                    incomplete = true;
                    break;
                }
                const auto addr = static_cast<quint8>(buf.at(i));
                const QByteArray data = buf.mid(i + 1, need);
                const int chk = (code == 0x03 || code == 0x04) ? need - 2 : need - 1;
                if (static_cast<quint8>(data.at(chk)) !=
                    bell::frame::checkByte(addr, data.left(chk)))
                    continue;
                buf.remove(0, i + 1 + need);
                answer(addr, data);
                found = true;
                break;
            }
            if (!found) {
                if (!incomplete && buf.size() > 16)
                    buf = buf.right(16);
                return;
            }
        }
    }

    void answer(quint8 addr, const QByteArray& data) {
        QByteArray reply;
        Options o;
        {
            std::lock_guard<std::mutex> l(m_);
            requests_.append(QByteArray(1, char(addr)) + data);
            o = opt_;
            if (!opt_.addresses.count(addr) || opt_.silent)
                return;
            switch (static_cast<quint8>(data.at(0))) {
            case 0x02:
                reply = QByteArray(1, char(addr)) + char(0x55);
                break;
            case 0x08:
                lastDateTime_ = data.mid(2, 6);
                reply = QByteArray(1, char(addr)) + char(0x81);
                break;
            case 0x04:
                count_ = static_cast<quint8>(data.at(2));
                reply = QByteArray(1, char(addr)) + data.left(4);
                break;
            case 0x03:
                reply = QByteArray(131, '\0');
                reply[0] = char(addr);
                reply.replace(66, 60, bells_);
                reply[126] = char(count_);
                break;
            default:
                return;
            }
        }
        if (o.partial >= 0)
            reply.truncate(o.partial);
        if (o.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(o.delayMs));
        if (!o.pacing) {
            write(reply);
            return;
        }
        // One character every 11 / 19200 s.
        const auto start = std::chrono::steady_clock::now();
        for (qsizetype k = 0; k < reply.size(); ++k) {
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds((k * 11000000) / 19200));
            write(reply.mid(k, 1));
        }
    }

    void write(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += n;
        }
    }

    Options opt_;
    int master_ = -1;
    int slave_ = -1;
    QString path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    QByteArray bells_;
    int count_ = 0;
    QList<QByteArray> requests_;
    QByteArray lastDateTime_;
};

} // namespace bw::test
