#pragma once

#include <QByteArray>
#include <QString>

namespace bw {

// The one writer of every file a program writes at a path that an operator, a command line or
// the settings name (reports, exports, the status file for a monitor, settings).
//
// What it guarantees:
// - It never writes through a symbolic link that another user owns, nor through any link in
//   a folder that every user may write in and that keeps its files to their owners (a sticky
//   folder such as /tmp): there another user could point it anywhere. The program's own
//   links elsewhere are followed, one at a time, each checked the same way.
// - The path is replaced whole or not at all: the text goes to a new file of the same folder
//   (created exclusively, never through a link), is flushed to the disk and then renamed over
//   the path; a reader sees the old file or the new one. A failure leaves the old file and no
//   temporary one.
// - The new file gets the mode of the file it replaces, else 0644, or 0600 for a private file
//   (one that holds card numbers, names or passwords).
// A refusal and a failure say why in refusal(): the kind as data, the words for people.
class SafeFile {
public:
    enum class Access { Shared, Private };
    enum class Refusal {
        None,
        ForeignLink,  // a symbolic link another user owns
        StickyLink,   // a symbolic link in a folder every user may write in
        LinkLoop,     // links that lead to links too many times
        NotAFile,     // the path is a folder, a device or a pipe
        CannotCreate, // the temporary file could not be made (the system's reason)
        CannotWrite,  // writing, flushing or renaming failed (the system's reason)
    };

    explicit SafeFile(const QString& path, Access access = Access::Shared);
    ~SafeFile(); // removes the temporary file when nothing was committed
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Checks the path and makes the temporary file; false with refusal() when it cannot.
    bool open();
    // Appends bytes; a failure is kept and reported by commit().
    bool write(const QByteArray& bytes);
    // The temporary file's name, for a library that writes a file by name (it was made by
    // open(), exclusively, and is written in place).
    QString temporaryName() const;
    // Closes the writing, flushes it to the disk and puts it in the path's place.
    bool commit();

    Refusal refusal() const { return refusal_; }
    // Why not, in words: empty while nothing failed.
    QString errorString() const { return reason_; }
    // The path that is replaced (links of the program's own followed); known after open().
    QString target() const { return target_; }

private:
    bool fail(Refusal kind, const QString& reason);
    bool failErrno(Refusal kind, int error);

    QString path_;
    QString target_;
    QByteArray temporary_;
    QByteArray buffer_;
    Access access_;
    unsigned mode_ = 0;
    int fd_ = -1;
    int writeErrno_ = 0;
    Refusal refusal_ = Refusal::None;
    QString reason_;
};

// The whole text written at path in one go; empty when written, else why not (with the path).
QString writeSafely(const QString& path, const QByteArray& bytes,
                    SafeFile::Access access = SafeFile::Access::Shared);

} // namespace bw
