#include "bell/traced_port.h"

#include "platform/line_trace.h"

namespace bw::bell {

void TracedPort::setSettings(const QString& text) {
    port_->setSettings(text);
    settings_.reset();
}

// The frame is recorded before the write, at the time the bytes start to go out; a write
// that then fails is still seen in the trace.
void TracedPort::output(const QByteArray& bytes) {
    if (!settings_)
        settings_ = LineSettings::parse(port_->settings());
    trace::Frame f;
    f.where = QStringLiteral("COM%1").arg(port_->commPort());
    f.bytes = bytes;
    if (settings_) {
        f.ninth.resize(bytes.size());
        for (qsizetype i = 0; i < bytes.size(); ++i)
            f.ninth.setBit(i, settings_->ninthBit(quint8(bytes[i])));
    }
    trace::record(f);
    port_->output(bytes);
}

QByteArray TracedPort::input() {
    const QByteArray bytes = port_->input();
    trace::record(
        {QStringLiteral("COM%1").arg(port_->commPort()), trace::Frame::Direction::In, bytes, {}});
    return bytes;
}

} // namespace bw::bell
