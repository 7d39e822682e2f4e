#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

// The little of HTTP/1.1 the web view speaks: one request at a time on a connection, a head of
// bounded size and line count, a body only for a sign-in form, and whole answers.
namespace bw::host::web {

struct Limits {
    int headBytes = 8192; // request line and header lines together
    int headerLines = 40; // header lines
    int bodyBytes = 4096; // a form's body
};

struct Request {
    QByteArray method;
    QByteArray path; // without the query
    QUrlQuery query;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    QByteArray peer; // the client's address
    QByteArray header(const QByteArray& lowerName) const;
    QByteArray cookie(const QByteArray& name) const;
    QUrlQuery form() const; // an application/x-www-form-urlencoded body
};

// What reading a request from a connection's buffer came to.
enum class Parse {
    NeedMore,  // the head or the body is not all there yet
    Done,      // request filled; the bytes it took are removed from the buffer
    TooLarge,  // the head or the body is above its limit (431 / 413)
    Malformed, // not a request this server answers (400)
};
Parse parseRequest(QByteArray& buffer, const Limits& limits, Request& request);

struct Response {
    int status = 200;
    QByteArray type = "text/html; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool close = false; // the connection ends after this answer
    void set(const QByteArray& name, const QByteArray& value) { headers.append({name, value}); }
};
// The answer's bytes with the headers every answer carries (the content security policy,
// no sniffing, no framing, no caching of what is private).
QByteArray serialize(const Response& response);

Response redirect(const QByteArray& to);
Response plain(int status, const QByteArray& text);

// Text for HTML: & < > " ' escaped.
QString escape(const QString& text);

} // namespace bw::host::web
