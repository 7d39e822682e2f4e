#pragma once

// Numbers as the terminals send them: big-endian four-byte numbers, and the CRC-32 of zip
// files (the IEEE polynomial, reflected). Header only, so that the simulator, which links no
// component library, shares them with the host's link.

#include <QByteArray>
#include <QtGlobal>

namespace bw::bytes {

// Appends v as four bytes, the most significant first.
inline void appendBig32(QByteArray& out, quint32 v) {
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

inline QByteArray big32(quint32 v) {
    QByteArray b;
    appendBig32(b, v);
    return b;
}

// The four bytes at pos as one number, the most significant first; pos + 4 must be in bytes.
inline quint32 big32At(const QByteArray& bytes, int pos) {
    return quint32(quint8(bytes[pos])) << 24 | quint32(quint8(bytes[pos + 1])) << 16 |
           quint32(quint8(bytes[pos + 2])) << 8 | quint32(quint8(bytes[pos + 3]));
}

// CRC-32 in steps: start with Crc32Start, feed bytes with crc32Add, finish with crc32End.
constexpr quint32 Crc32Start = 0xFFFFFFFFu;
inline quint32 crc32Add(quint32 crc, quint8 byte) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k)
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    return crc;
}
constexpr quint32 crc32End(quint32 crc) {
    return ~crc;
}

} // namespace bw::bytes
