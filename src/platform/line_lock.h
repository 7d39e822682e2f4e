#pragma once

#include <QString>

namespace bw {

// Exclusive use of one serial device by one program at a time, across processes and users.
//
// The lock is an advisory flock() on a file named after the device (its real path, so that
// /dev/serial/by-id/... and the device it points to are one line) in /run/lock, else
// /var/lock, else /tmp. The file is left in place and open to every user; the kernel drops
// the lock when its holder ends, however it ends, so a lock never outlives its program. The
// holder writes "PROGRAM PID" into the file for the ones that wait.
//
// A program outside Brackwater that opened the device through Qt's serial port holds Qt's
// own lock file of the device ("LCK..NAME"); the line is taken only once that is free too.
class LineLock {
public:
    explicit LineLock(const QString& device); // device path (e.g. /dev/ttyUSB0, /dev/pts/3)
    ~LineLock();                              // releases
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    // Waits up to waitMs (default from lineLockWaitMs()) for the line; false when it stayed
    // busy, with busyText() on the diagnostic output (logging category "bw.line", which a
    // program that reports the text itself turns off). Taking a line held already by this
    // object answers true at once.
    bool acquire(int waitMs = -1);
    void release();
    bool held() const { return held_; }
    // When busy: "<program> (pid N)", or "another program" when the holder is not known.
    QString holder() const { return holder_; }
    // When busy: "line DEVICE busy: held by PROGRAM (pid N)".
    QString busyText() const;
    QString device() const { return device_; }
    // The lock file.
    QString path() const { return path_; }

private:
    bool tryOnce(); // one attempt without waiting; holder_ names who is in the way

    QString device_;
    QString path_;
    QString real_; // the device's real path
    int fd_ = -1;
    bool held_ = false;
    QString holder_;
};

int lineLockWaitMs();           // 30,000 unless set
void setLineLockWaitMs(int ms); // tests, --line-wait

// The file Qt's serial port locks when it opens device (empty when it has no place for one).
QString qtSerialLockPath(const QString& device);

} // namespace bw
