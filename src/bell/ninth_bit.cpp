#include "bell/ninth_bit.h"

#include "platform/timing.h"

namespace bw::bell::ninth {

void send(SerialPort& port, const QByteArray& request, int pauseMs) {
    if (request.isEmpty())
        return;
    port.setSettings(AddressSetting);
    port.output(request.left(1));
    if (pauseMs > 0)
        Sleep(pauseMs);
    port.setSettings(DataSetting);
    if (request.size() > 1)
        port.output(request.mid(1));
}

QBitArray bits(const QByteArray& request) {
    static const LineSettings address = *LineSettings::parse(AddressSetting);
    static const LineSettings data = *LineSettings::parse(DataSetting);
    QBitArray out(int(request.size()));
    for (int i = 0; i < request.size(); ++i)
        out.setBit(i, (i == 0 ? address : data).ninthBit(quint8(request[i])));
    return out;
}

} // namespace bw::bell::ninth
