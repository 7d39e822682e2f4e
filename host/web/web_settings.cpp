#include "host/web/web_settings.h"

#include <QFileInfo>
#include <QSettings>

namespace bw::host::web {

bool parseListen(const QString& text, QHostAddress& address, quint16& port) {
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    const QHostAddress a(host);
    if (!ok || p < 0 || p > 65535 || a.isNull())
        return false;
    address = a;
    port = quint16(p);
    return true;
}

WebSettings readWebSettings(const QString& path, QStringList* problems) {
    WebSettings out;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return out;
    QSettings s(path, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("web"));
    out.cert = s.value(QStringLiteral("cert")).toString();
    out.key = s.value(QStringLiteral("key")).toString();
    if (s.contains(QStringLiteral("listen")) &&
        !parseListen(s.value(QStringLiteral("listen")).toString(), out.address, out.port))
        problems->append(QStringLiteral("[web] listen takes ADDRESS:PORT; 127.0.0.1:8443 is used"));
    if (s.contains(QStringLiteral("idle-minutes"))) {
        bool ok = false;
        const int m = s.value(QStringLiteral("idle-minutes")).toString().toInt(&ok);
        if (ok && m >= 1 && m <= 1440)
            out.idleMinutes = m;
        else
            problems->append(QStringLiteral("[web] idle-minutes takes 1 to 1440; 15 is used"));
    }
    return out;
}

} // namespace bw::host::web
