#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace bw::host::web {

// The [web] section of the settings file in use.
struct WebSettings {
    QString cert;                                   // [web] cert: the certificate's PEM file
    QString key;                                    // [web] key: its private key's PEM file
    QHostAddress address = QHostAddress::LocalHost; // [web] listen: ADDRESS:PORT
    quint16 port = 8443;
    int idleMinutes = 15; // [web] idle-minutes: 1..1440
};
// Values that make no sense are left at their defaults and described in problems.
WebSettings readWebSettings(const QString& path, QStringList* problems);
// "ADDRESS:PORT" or "[v6]:PORT"; false when it is neither.
bool parseListen(const QString& text, QHostAddress& address, quint16& port);

} // namespace bw::host::web
