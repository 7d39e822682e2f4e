#pragma once

#include <QString>

namespace bw {

// Exclusive use of one serial device by one program at a time, across processes and users.
//
// The lock is an advisory flock() on the device itself: the holder keeps a descriptor of the
// device open (O_NONBLOCK, so that opening never waits for a carrier) and locked from
// acquire() to release(). What it guarantees, and against whom:
// - Only a user allowed to open the device can take its lock, so no one who may not use the
//   line can keep it from those who may. There is no lock file of ours: nothing another user
//   leaves in a folder every user writes in (the old /run/lock file included) is opened,
//   waited on or obeyed.
// - Every name of the device (/dev/serial/by-id/..., a link, the device) is one inode and so
//   one lock. The kernel drops the lock when its holder ends, however it ends.
// - The holder named in busyText() is the one the kernel lists for the lock (/proc/locks and
//   /proc/PID/comm), not what a file says, so no one can name another program in its place.
// - A program outside Brackwater that opened the device exclusively (as Qt's serial port and
//   ours do, TIOCEXCL) makes the line busy too; a Qt program is then named by the flock on its
//   "LCK.." file. That file lies in a folder every user may write in, so it is never obeyed
//   nor opened: a lock another user holds on it, or a FIFO in its place, keeps no one away.
// A path that is neither a character device nor a regular file has no line to share: it is
// never opened here, and the program's own open of it reports what it is.
//
// The wait is bounded and polls; it warns once, when it gives up. On the thread of a
// QGuiApplication the lock is only tried (a busy line is reported at once with its holder):
// that thread never waits and never runs a nested event loop. Long jobs of the windows run on
// workers, where the bounded wait applies.
class LineLock {
public:
    explicit LineLock(const QString& device); // device path (e.g. /dev/ttyUSB0, /dev/pts/3)
    ~LineLock();                              // releases
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    // Waits up to waitMs (default from lineLockWaitMs(); none on a GUI thread) for the line;
    // false when it stayed busy, with busyText() on the diagnostic output (logging category
    // "bw.line", which a program that reports the text itself turns off). Taking a line held
    // already by this object answers true at once.
    bool acquire(int waitMs = -1);
    void release();
    bool held() const { return held_; }
    // When busy: "<program> (pid N)", or "another program" when the holder is not known.
    QString holder() const { return holder_; }
    // When busy: "line DEVICE busy: held by PROGRAM (pid N)".
    QString busyText() const;
    QString device() const { return device_; }
    // The file locked: the device's real path.
    QString path() const { return real_; }

private:
    bool tryOnce(); // one attempt without waiting; holder_ names who is in the way

    QString device_;
    QString real_; // the device's real path
    int fd_ = -1;  // the device, open and locked while held
    bool held_ = false;
    QString holder_;
};

int lineLockWaitMs();           // 30,000 unless set
void setLineLockWaitMs(int ms); // tests, --line-wait

// The file Qt's serial port locks when it opens device (empty when it has no place for one).
QString qtSerialLockPath(const QString& device);

} // namespace bw
