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
};

void setSink(std::shared_ptr<Sink> sink);
bool enabled();
// Hands the frame to the installed sink, if any; empty frames are not recorded.
void record(const Frame& frame);

// One trace line: the time in milliseconds (three decimals), where, "out" or "in", and the
// bytes in hex, each byte whose ninth bit is 1 followed by '*'. Ends with a newline.
QByteArray formatLine(double ms, const Frame& frame);

} // namespace bw::trace
