#pragma once

#include "host/web/http.h"
#include "host/web/site_view.h"

#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QThreadPool>
#include <functional>

namespace bw::host::web {

// Milliseconds of a steady clock; the tests give their own.
using Clock = std::function<qint64()>;
Clock steadyClock();

struct ServerSettings {
    int idleMinutes = 15;         // a session ends after this long without use
    int maxConnections = 64;      // connections served at once; more are closed at once
    int requestTimeoutMs = 10000; // a request's head and body must be in within this
    int keepAliveMs = 30000;      // an idle connection between requests
    Limits limits;
    QSslConfiguration tls; // certificate and key
};

// Failed sign-ins of one name or from one address: from the fifth on, the next attempt is
// refused unheard for a wait that doubles each time (1 s, 2 s, 4 s, ... at most 15 minutes).
class Throttle {
public:
    static constexpr int Free = 5;
    // Milliseconds still to wait before key may try again (0: now).
    qint64 waitMs(const QString& key, qint64 now) const;
    void failed(const QString& key, qint64 now);
    void succeeded(const QString& key) { entries_.remove(key); }

private:
    struct Entry {
        int failures = 0;
        qint64 until = 0;
    };
    QHash<QString, Entry> entries_;
};

struct Session {
    Viewer viewer;
    qint64 lastUse = 0;
};

// The web view: HTTPS on a TCP server, one small bounded HTTP/1.1 reader per connection, fixed
// routes, sessions kept here only.
class WebServer : public QTcpServer {
    Q_OBJECT
public:
    WebServer(SiteView& site, ServerSettings settings, Clock clock = steadyClock(),
              QObject* parent = nullptr);
    // The answer to one request (the routes), apart from the connection; public for the bench.
    Response answer(const Request& request);
    // The same, given to reply when it is ready: a sign-in's check runs off the event loop.
    void answerLater(const Request& request, const std::function<void(Response)>& reply);
    int connections() const { return connections_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Context {
        std::optional<Viewer> viewer;
        int lang = 2052;
        QByteArray setCookie;
    };
    Context contextOf(const Request& request);
    static Response finish(Response r, const Context& c);
    std::optional<Response> signInWait(const Request& request, Context& c);
    static std::optional<Viewer> checkSignIn(SiteView& site, const Request& request);
    Response signedIn(const Request& request, Context& c, const std::optional<Viewer>& viewer);
    Response route(const Request& request, Context& c);
    Response signInPage(Context& c, const QString& problem, int status = 200);
    Response signIn(const Request& request, Context& c);
    Response signOut(const Request& request, Context& c);
    Response statusPage(const Request& request, Context& c);
    Response mealsPage(Context& c);
    Response monthPage(const Request& request, Context& c);
    Response workbook(const Request& request, Context& c);
    Response logPage(const Request& request, Context& c);
    Response api(const Request& request, Context& c);
    Response page(Context& c, const QString& title, const QString& body);
    std::optional<Viewer> sessionOf(const Request& request, QByteArray* id = nullptr);

    SiteView& site_;
    ServerSettings settings_;
    Clock clock_;
    QHash<QByteArray, Session> sessions_;
    Throttle names_;
    Throttle addresses_;
    int connections_ = 0;
    QThreadPool checks_; // one password check at a time
};

} // namespace bw::host::web
