#pragma once

#include <QBitArray>
#include <QByteArray>
#include <QString>
#include <memory>

namespace bw::trace {

// One frame as it went over a line: the bytes of one write, or of one read that returned
// bytes. `ninth` holds, for bytes written on a serial line, the bit each byte carried after
// its data bits (the parity bit, or the first stop bit without parity); it is empty where that
// is not known (bytes read, TCP).
struct Frame {
    enum class Direction { Out, In };
    QString where; // "COM3", or "host:port" of a TCP connection
    Direction direction = Direction::Out;
    QByteArray bytes;
    QBitArray ninth;
};

// Where the frames go. The host program installs one (a file) when asked for a line trace;
// without one, nothing is recorded and nothing is formatted.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(const Frame& frame) = 0;
    // A line's event that carries no bytes, such as a port that could not be opened.
    virtual void note(const QString& where, const QString& text) {
        Q_UNUSED(where);
        Q_UNUSED(text);
    }
};

void setSink(std::shared_ptr<Sink> sink);
bool enabled();
// Hands the frame to the installed sink, if any; empty frames are not recorded.
void record(const Frame& frame);
// Hands an event of the line `where` to the installed sink, if any.
void note(const QString& where, const QString& text);

// One trace line: the time in milliseconds (three decimals), where, "out" or "in", and the
// bytes in hex, each byte whose ninth bit is 1 followed by '*'. Ends with a newline.
QByteArray formatLine(double ms, const Frame& frame);
// A note's line: the time, where, "note" and the text with control characters as spaces.
QByteArray formatNote(double ms, const QString& where, const QString& text);

} // namespace bw::trace
