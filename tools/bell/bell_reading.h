#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bw::tool {

// A bell-settings read judged for a script: the count and the 30 times only when the reply
// can be believed, otherwise the exit status and a one-line reason.
struct BellReading {
    int exit = 0; // 0, or the failure's exit status
    QString reason;
    int count = 0;
    QStringList times; // "HH:MM", 30 of them
};

// result: what BellLink::ReadBellSettings gave; reply: the bytes it decoded
// (BellLink::lastReadReply); waiting: the bytes received when it timed out.
BellReading judgeBellReading(const QString& result, const QByteArray& reply, int address,
                             int waiting);

} // namespace bw::tool
