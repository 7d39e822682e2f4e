#include "host/web/http.h"

namespace bw::host::web {
namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

// A path this server has routes for: absolute, printable, no dot segments, no escapes.
bool plainPath(const QByteArray& path) {
    if (!path.startsWith('/') || path.contains("..") || path.contains("//") || path.contains('%') ||
        path.contains('\\'))
        return false;
    for (const char c : path)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return false;
    return true;
}

} // namespace

QByteArray Request::header(const QByteArray& lowerName) const {
    for (const auto& h : headers)
        if (h.first == lowerName)
            return h.second;
    return {};
}

QByteArray Request::cookie(const QByteArray& name) const {
    for (const auto& h : headers) {
        if (h.first != "cookie")
            continue;
        for (const QByteArray& part : h.second.split(';')) {
            const QByteArray item = part.trimmed();
            if (item.startsWith(name + '='))
                return item.mid(name.size() + 1);
        }
    }
    return {};
}

QUrlQuery Request::form() const {
    QByteArray text = body;
    text.replace('+', ' ');
    return QUrlQuery(QString::fromUtf8(text));
}

Parse parseRequest(QByteArray& buffer, const Limits& limits, Request& request) {
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return buffer.size() > limits.headBytes ? Parse::TooLarge : Parse::NeedMore;
    if (end + 4 > limits.headBytes)
        return Parse::TooLarge;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    if (lines.size() - 1 > limits.headerLines)
        return Parse::TooLarge;
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    if (first.size() != 3 || !first[2].startsWith("HTTP/1."))
        return Parse::Malformed;
    Request r;
    r.method = first[0];
    const QByteArray target = first[1];
    const int q = target.indexOf('?');
    r.path = q < 0 ? target : target.left(q);
    if (!plainPath(r.path))
        return Parse::Malformed;
    if (q >= 0)
        r.query = QUrlQuery(QString::fromUtf8(target.mid(q + 1)));
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::Malformed;
        r.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    if (!r.header("transfer-encoding").isEmpty())
        return Parse::Malformed;
    const QByteArray lengthText = r.header("content-length");
    qint64 length = 0;
    if (!lengthText.isEmpty()) {
        bool ok = false;
        length = lengthText.toLongLong(&ok);
        if (!ok || length < 0)
            return Parse::Malformed;
        if (length > limits.bodyBytes)
            return Parse::TooLarge;
    }
    if (buffer.size() < end + 4 + length)
        return Parse::NeedMore;
    r.body = buffer.mid(end + 4, int(length));
    r.peer = request.peer;
    buffer.remove(0, end + 4 + int(length));
    request = r;
    return Parse::Done;
}

QByteArray serialize(const Response& response) {
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    out += "Content-Type: " + response.type + "\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += "Content-Security-Policy: default-src 'self'; script-src 'self'; style-src 'self'; "
           "img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'self'; "
           "frame-ancestors 'none'\r\n";
    out += "X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
           "Referrer-Policy: no-referrer\r\nCache-Control: no-store\r\n"
           "Strict-Transport-Security: max-age=31536000\r\n";
    for (const auto& h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    if (response.close)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += response.body;
    return out;
}

Response redirect(const QByteArray& to) {
    Response r;
    r.status = 303;
    r.set("Location", to);
    return r;
}

Response plain(int status, const QByteArray& text) {
    Response r;
    r.status = status;
    r.type = "text/plain; charset=utf-8";
    r.body = text + '\n';
    return r;
}

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace bw::host::web
