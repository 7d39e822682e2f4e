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
// - A program outside Brackwater that opened the device through Qt's serial port (which
//   makes the device exclusive and locks Qt's own "LCK.." file) makes the line busy too.
//   Qt's file lies in a folder every user may write in, and Qt's serial port obeys it: a lock
//   another user holds on it, or a file there that is no regular file (on which Qt would wait
//   forever), keeps every Qt program from the device. The line is then reported busy, held
//   by the process the kernel names or by that file; the file is never opened here.
// A path that is neither a character device nor a regular file has no line to share: it is
// never opened here, and the program's own open of it reports what it is.
//
// The wait is bounded and polls; it warns once, when it gives up. On the thread of a
// QGuiApplication the lock is only tried (a busy line is reported at once with its holder):
// that thread never waits and never runs a nested event loop. Long jobs of the windows run on
// workers, where the bounded wait applies.
//
// A TCP/IP terminal has no device: its address and port on this computer get a lock file of
// their own in endpointLockDir(), a folder that only the brackwater group (and root) may write
// in, so that only those who may use the lines can hold one. The file is opened without
// following a link and without waiting (a FIFO put in its place never blocks), and one that
// is no regular file is never locked: the terminal is then reported busy, held by that file.
// The same bounded wait and holder apply.
class LineLock {
public:
    explicit LineLock(const QString& device); // device path (e.g. /dev/ttyUSB0, /dev/pts/3)
    // A TCP/IP terminal's address (as QHostAddress writes it) and port.
    LineLock(const QString& address, quint16 port);
    ~LineLock(); // releases
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
    // When taken: the system's reason when the device is not there although its name is (no
    // hardware behind it), else empty. Nothing is locked then.
    QString missing() const { return missing_; }
    // The file locked: the device's real path.
    QString path() const { return real_; }

private:
    bool tryOnce(); // one attempt without waiting; holder_ names who is in the way
    bool tryFile(); // the same for a TCP/IP terminal's lock file

    QString device_;
    QString real_;          // the device's real path, or the lock file (empty: no folder for it)
    bool endpoint_ = false; // a TCP/IP terminal's lock file
    int fd_ = -1;           // the device or the file, open and locked while held
    bool held_ = false;
    QString holder_;
    QString missing_;
};

int lineLockWaitMs();           // 30,000 unless set
void setLineLockWaitMs(int ms); // tests, --line-wait

// The folder of the TCP/IP terminals' lock files: the shared one (/run/brackwater, made by the
// package as root:brackwater 2770) when it is a directory, not a link, that not every user may
// write in and this user may; else $XDG_RUNTIME_DIR when it is the user's own (programs of
// one user then exclude each other only); empty when neither is (nothing is locked).
QString endpointLockDir();
// The lock file of a terminal's address and port: every character of the address but letters,
// digits and dots written as _XX, so that no register value names another file.
QString endpointLockPath(const QString& address, quint16 port);
void setSharedLockDir(const QString& dir); // tests; empty: /run/brackwater

// The file Qt's serial port locks when it opens device (empty when it has no place for one).
QString qtSerialLockPath(const QString& device);

} // namespace bw
