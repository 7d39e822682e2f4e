#include "host/web/web_server.h"

#include "host/web/web_texts.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTimer>
#include <QtConcurrent>
#include <algorithm>

// The pages' script and style sheet, built into the library.
static void initResources() {
    Q_INIT_RESOURCE(web);
}

namespace bw::host::web {

Clock steadyClock() {
    return [] {
        static QElapsedTimer started = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return started.elapsed();
    };
}

qint64 Throttle::waitMs(const QString& key, qint64 now) const {
    const auto it = entries_.constFind(key);
    return it == entries_.cend() ? 0 : std::max<qint64>(0, it->until - now);
}

void Throttle::failed(const QString& key, qint64 now) {
    Entry& e = entries_[key];
    ++e.failures;
    if (e.failures >= Free)
        e.until = now + std::min<qint64>(1000LL << std::min(e.failures - Free, 20), 900000);
    // A bounded table: the oldest waits are forgotten first when it grows too large.
    if (entries_.size() > 100000)
        entries_.clear();
}

namespace {

const QByteArray kSessionCookie = "bw_session";
const QByteArray kLanguageCookie = "bw_lang";

QByteArray newSessionId() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

QString tx(T key, int lang) {
    return escape(text(key, lang));
}

QString cell(const QString& text, const char* tag = "td") {
    return QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), escape(text));
}

QString handText(const QString& hand, int lang) {
    static const QList<QPair<QString, T>> hands = {
        {QStringLiteral("silent"), T::Silent},
        {QStringLiteral("clock"), T::HandClock},
        {QStringLiteral("names"), T::HandNames},
        {QStringLiteral("collection"), T::HandCollection},
        {QStringLiteral("records"), T::HandRecords},
        {QStringLiteral("impossible-records"), T::HandImpossible},
        {QStringLiteral("clock-unread"), T::HandClockUnread},
        {QStringLiteral("names-unread"), T::HandNamesUnread}};
    for (const auto& h : hands)
        if (h.first == hand)
            return text(h.second, lang);
    return hand;
}

QString valueText(const QJsonValue& v, int lang) {
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("-");
    if (v.isBool())
        return text(v.toBool() ? T::Yes : T::No, lang);
    if (v.isDouble())
        return QString::number(v.toInteger());
    if (v.isObject())
        return v[QStringLiteral("at")].toString() + QLatin1Char(' ') +
               (v[QStringLiteral("ok")].toBool() ? QStringLiteral("✓") : QStringLiteral("✗"));
    return v.toString();
}

QByteArray json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Response jsonAnswer(const QJsonObject& o, int status = 200) {
    Response r;
    r.status = status;
    r.type = "application/json";
    r.body = json(o);
    return r;
}

QJsonObject countsJson(const report::Counts& c) {
    return {{QStringLiteral("breakfast"), c.meals[0]},
            {QStringLiteral("lunch"), c.meals[1]},
            {QStringLiteral("dinner"), c.meals[2]},
            {QStringLiteral("other"), c.meals[3]},
            {QStringLiteral("total"), c.total()}};
}

QJsonObject monthJson(const report::MonthReport& m) {
    QJsonArray employees;
    for (const report::PersonRow& p : m.employees) {
        QJsonObject o = countsJson(p.counts);
        o[QStringLiteral("employee")] = p.employee;
        o[QStringLiteral("name")] = p.name;
        o[QStringLiteral("cards")] = p.cards;
        employees.append(o);
    }
    QJsonArray cards;
    for (const report::PersonRow& p : m.cards) {
        QJsonObject o = countsJson(p.counts);
        o[QStringLiteral("cards")] = p.cards;
        cards.append(o);
    }
    return {{QStringLiteral("month"), m.month.toString(QStringLiteral("yyyy-MM"))},
            {QStringLiteral("employees"), employees},
            {QStringLiteral("cards"), cards},
            {QStringLiteral("total"), countsJson(m.total)}};
}

QDate monthOf(const Request& request, const QDate& today) {
    const QString text = request.query.queryItemValue(QStringLiteral("month"));
    const QDate m = report::parseMonth(text);
    return m.isValid() ? m : QDate(today.year(), today.month(), 1);
}

LogQuery logQueryOf(const Request& request) {
    const auto item = [&](const char* key) {
        return request.query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded).left(255);
    };
    LogQuery q;
    // Without dates: the last thirty days.
    const QDate today = QDate::currentDate();
    q.from = QDate::fromString(item("from"), Qt::ISODate);
    q.to = QDate::fromString(item("to"), Qt::ISODate);
    if (!q.to.isValid())
        q.to = today;
    if (!q.from.isValid())
        q.from = q.to.addDays(-30);
    q.user = item("user");
    q.action = item("action");
    q.page = std::clamp(item("page").toInt(), 0, 1000);
    return q;
}

} // namespace

WebServer::WebServer(SiteView& site, ServerSettings settings, Clock clock, QObject* parent)
    : QTcpServer(parent), site_(site), settings_(std::move(settings)), clock_(std::move(clock)) {
    initResources();
    checks_.setMaxThreadCount(1);
}

void WebServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (connections_ >= settings_.maxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++connections_;
    connect(socket, &QObject::destroyed, this, [this] { --connections_; });
    socket->setSslConfiguration(settings_.tls);
    socket->setReadBufferSize(settings_.limits.headBytes + settings_.limits.bodyBytes);
    // One deadline at a time: the request's (its head and body must all be in), then the idle
    // wait for the next request.
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    deadline->start(settings_.requestTimeoutMs);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::errorOccurred, socket, [socket](QAbstractSocket::SocketError) {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QSslSocket::sslErrors, socket, [socket](const QList<QSslError>&) {
        socket->abort();
        socket->deleteLater();
    });
    auto busy = std::make_shared<bool>(false);
    auto serve = std::make_shared<std::function<void()>>();
    *serve = [this, socket, deadline, buffer, busy, weak = std::weak_ptr(serve)] {
        if (*busy)
            return;
        // A new request has the whole time-out for its head and body, however slowly they come.
        if (buffer->isEmpty())
            deadline->start(settings_.requestTimeoutMs);
        buffer->append(socket->readAll());
        Request request;
        request.peer = socket->peerAddress().toString().toUtf8();
        const Parse parsed = parseRequest(*buffer, settings_.limits, request);
        if (parsed == Parse::NeedMore)
            return;
        QPointer<QSslSocket> alive(socket);
        const auto reply = [alive, deadline, buffer, busy, weak, this](Response response) {
            *busy = false;
            if (!alive)
                return;
            alive->write(serialize(response));
            if (response.close) {
                alive->disconnectFromHost();
                return;
            }
            deadline->start(settings_.keepAliveMs);
            if (!buffer->isEmpty())
                if (const auto next = weak.lock())
                    (*next)();
        };
        if (parsed == Parse::TooLarge || parsed == Parse::Malformed) {
            Response r =
                parsed == Parse::TooLarge ? plain(431, "too large") : plain(400, "bad request");
            r.close = true;
            reply(r);
            return;
        }
        *busy = true;
        deadline->stop();
        const bool close = request.header("connection").toLower() == "close";
        answerLater(request, [reply, close](Response r) {
            r.close = r.close || close;
            reply(r);
        });
    };
    connect(socket, &QSslSocket::readyRead, socket, [serve] { (*serve)(); });
    socket->startServerEncryption();
}

std::optional<Viewer> WebServer::sessionOf(const Request& request, QByteArray* id) {
    const QByteArray cookie = request.cookie(kSessionCookie);
    const auto it = sessions_.find(cookie);
    if (cookie.size() != 64 || it == sessions_.end())
        return std::nullopt;
    const qint64 now = clock_();
    if (now - it->lastUse > qint64(settings_.idleMinutes) * 60000) {
        sessions_.erase(it);
        return std::nullopt;
    }
    it->lastUse = now;
    if (id)
        *id = cookie;
    return it->viewer;
}

WebServer::Context WebServer::contextOf(const Request& request) {
    Context c;
    const QByteArray chosen = request.cookie(kLanguageCookie);
    c.lang = chosen == "1028"   ? 1028
             : chosen == "2052" ? 2052
                                : languageOf(request.header("accept-language"));
    c.viewer = sessionOf(request);
    return c;
}

Response WebServer::finish(Response r, const Context& c) {
    if (!c.setCookie.isEmpty())
        r.set("Set-Cookie", c.setCookie);
    return r;
}

Response WebServer::answer(const Request& request) {
    Context c = contextOf(request);
    return finish(route(request, c), c);
}

void WebServer::answerLater(const Request& request, const std::function<void(Response)>& reply) {
    if (request.method != "POST" || request.path != "/signin") {
        reply(answer(request));
        return;
    }
    // A password's check takes a while (Argon2id, or a server's sign-in): it runs on a thread
    // of its own, one at a time, while the others are answered.
    auto c = std::make_shared<Context>(contextOf(request));
    if (auto wait = signInWait(request, *c)) {
        reply(finish(*wait, *c));
        return;
    }
    auto* watcher = new QFutureWatcher<std::optional<Viewer>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [=, this] {
        watcher->deleteLater();
        reply(finish(signedIn(request, *c, watcher->result()), *c));
    });
    watcher->setFuture(QtConcurrent::run(
        &checks_, [site = &site_, request] { return checkSignIn(*site, request); }));
}

Response WebServer::route(const Request& request, Context& c) {
    static const QHash<QByteArray, QByteArray> assets = {{"/static/app.js", ":/web/app.js"},
                                                         {"/static/style.css", ":/web/style.css"}};
    const QByteArray& path = request.path;
    const bool get = request.method == "GET";
    if (path.startsWith("/api/"))
        return get ? api(request, c) : plain(405, "GET only");
    if (get && assets.contains(path)) {
        QFile f(QString::fromLatin1(assets.value(path)));
        f.open(QIODevice::ReadOnly);
        Response r;
        r.type = path.endsWith(".js") ? "text/javascript" : "text/css";
        r.body = f.readAll();
        return r;
    }
    if (get && path == "/static/chart.js") {
        static const QByteArray chart = [] {
            QFile f(QStringLiteral("/usr/share/javascript/chart.js/chart.min.js"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        Response r;
        r.type = "text/javascript";
        r.body = chart;
        return chart.isEmpty() ? plain(404, "not found") : r;
    }
    if (get && (path == "/lang/2052" || path == "/lang/1028")) {
        c.setCookie = kLanguageCookie + '=' + path.mid(6) +
                      "; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age=31536000";
        return redirect("/");
    }
    if (path == "/signin")
        return get                        ? signInPage(c, {})
               : request.method == "POST" ? signIn(request, c)
                                          : plain(405, "no");
    if (path == "/signout" && request.method == "POST")
        return signOut(request, c);
    if (!get)
        return plain(405, "no");
    if (path == "/")
        return redirect(c.viewer ? "/status" : "/signin");
    static const QList<QByteArray> pages = {"/status",     "/meals",     "/month",
                                            "/month.xlsx", "/month.csv", "/log"};
    if (!pages.contains(path))
        return plain(404, "not found");
    if (!c.viewer)
        return redirect("/signin");
    if (path == "/status")
        return statusPage(request, c);
    if (path == "/log")
        return c.viewer->log ? logPage(request, c) : page(c, {}, tx(T::NotAllowed, c.lang));
    if (!c.viewer->month)
        return page(c, {}, tx(T::NotAllowed, c.lang));
    if (path == "/meals")
        return mealsPage(c);
    return path == "/month" ? monthPage(request, c) : workbook(request, c);
}

Response WebServer::page(Context& c, const QString& title, const QString& body) {
    const int l = c.lang;
    QString nav;
    if (c.viewer) {
        nav = QStringLiteral("<a href=\"/status\">%1</a>").arg(tx(T::Status, l));
        if (c.viewer->month)
            nav += QStringLiteral(" <a href=\"/meals\">%1</a> <a href=\"/month\">%2</a>")
                       .arg(tx(T::Meals, l), tx(T::Month, l));
        if (c.viewer->log)
            nav += QStringLiteral(" <a href=\"/log\">%1</a>").arg(tx(T::Log, l));
        nav += QStringLiteral(" <span class=\"who\">%1</span> <form method=\"post\" "
                              "action=\"/signout\" class=\"inline\"><button id=\"signout\" "
                              "type=\"submit\">%2</button></form>")
                   .arg(escape(c.viewer->name), tx(T::SignOut, l));
    }
    nav += QStringLiteral(" <a id=\"lang\" href=\"/lang/%1\">%2</a>")
               .arg(l == 1028 ? 2052 : 1028)
               .arg(tx(T::Language, l));
    const QString html =
        QStringLiteral("<!DOCTYPE html><html lang=\"%1\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">"
                       "<title>%2 - %3</title><link rel=\"stylesheet\" href=\"/static/style.css\">"
                       "<script src=\"/static/chart.js\" defer></script>"
                       "<script src=\"/static/app.js\" defer></script></head><body>"
                       "<nav>%4</nav><main><h1>%2</h1>%5</main></body></html>")
            .arg(l == 1028 ? QStringLiteral("zh-TW") : QStringLiteral("zh-CN"),
                 title.isEmpty() ? tx(T::Title, l) : title, tx(T::Title, l), nav, body);
    Response r;
    r.body = html.toUtf8();
    return r;
}

Response WebServer::signInPage(Context& c, const QString& problem, int status) {
    const int l = c.lang;
    const QString body =
        QStringLiteral("%1<form method=\"post\" action=\"/signin\" class=\"signin\">"
                       "<label>%2 <input name=\"name\" id=\"name\" autocomplete=\"username\" "
                       "maxlength=\"64\" required></label><label>%3 <input name=\"password\" "
                       "id=\"password\" type=\"password\" autocomplete=\"current-password\" "
                       "maxlength=\"256\" required></label><button type=\"submit\" "
                       "id=\"signin\">%4</button></form>")
            .arg(problem.isEmpty()
                     ? QString()
                     : QStringLiteral("<p class=\"problem\">%1</p>").arg(escape(problem)),
                 tx(T::Name, l), tx(T::Password, l), tx(T::SignIn, l));
    c.viewer.reset();
    Response r = page(c, tx(T::SignIn, l), body);
    r.status = status;
    return r;
}

std::optional<Response> WebServer::signInWait(const Request& request, Context& c) {
    const QString name =
        request.form().queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).left(64);
    const qint64 now = clock_();
    const qint64 wait =
        std::max(names_.waitMs(name, now), addresses_.waitMs(QString::fromUtf8(request.peer), now));
    if (wait <= 0)
        return std::nullopt;
    Response r = signInPage(c, text(T::Wait, c.lang).arg((wait + 999) / 1000), 429);
    r.set("Retry-After", QByteArray::number((wait + 999) / 1000));
    return r;
}

std::optional<Viewer> WebServer::checkSignIn(SiteView& site, const Request& request) {
    const QUrlQuery form = request.form();
    return site.signIn(form.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).left(64),
                       form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded));
}

Response WebServer::signIn(const Request& request, Context& c) {
    if (auto wait = signInWait(request, c))
        return *wait;
    return signedIn(request, c, checkSignIn(site_, request));
}

Response WebServer::signedIn(const Request& request, Context& c,
                             const std::optional<Viewer>& viewer) {
    const QString name =
        request.form().queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).left(64);
    const QString address = QString::fromUtf8(request.peer);
    const qint64 now = clock_();
    if (!viewer) {
        names_.failed(name, now);
        addresses_.failed(address, now);
        site_.note(name, text(T::LogRefused, 2052), address);
        return signInPage(c, text(T::WrongSignIn, c.lang), 401);
    }
    names_.succeeded(name);
    addresses_.succeeded(address);
    // Old sessions that ended by idleness go when a new one starts, so the table stays small.
    const qint64 idle = qint64(settings_.idleMinutes) * 60000;
    sessions_.removeIf([&](const auto& s) { return now - s.value().lastUse > idle; });
    const QByteArray id = newSessionId();
    sessions_.insert(id, Session{*viewer, now});
    site_.note(viewer->name, text(T::LogSignIn, 2052), address);
    c.setCookie = kSessionCookie + '=' + id + "; Path=/; Secure; HttpOnly; SameSite=Strict";
    return redirect("/status");
}

Response WebServer::signOut(const Request& request, Context& c) {
    QByteArray id;
    if (const auto viewer = sessionOf(request, &id)) {
        sessions_.remove(id);
        site_.note(viewer->name, text(T::LogSignOut, 2052), QString::fromUtf8(request.peer));
    }
    c.setCookie = kSessionCookie + "=; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age=0";
    return redirect("/signin");
}

Response WebServer::statusPage(const Request& request, Context& c) {
    const int l = c.lang;
    const QJsonObject status = site_.status(request.query.hasQueryItem(QStringLiteral("fresh")));
    QJsonArray terminals = status[QStringLiteral("terminals")].toArray();
    QList<QJsonObject> rows;
    for (const QJsonValue& v : terminals)
        rows << v.toObject();
    // What needs a hand first, then by number.
    std::stable_sort(rows.begin(), rows.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a[QStringLiteral("needsHand")].toBool() > b[QStringLiteral("needsHand")].toBool();
    });
    const int needing = int(std::count_if(rows.cbegin(), rows.cend(), [](const QJsonObject& o) {
        return o[QStringLiteral("needsHand")].toBool();
    }));
    QString body =
        QStringLiteral("<p><a id=\"reload\" class=\"button\" href=\"/status?fresh=1\">%1"
                       "</a> <span id=\"readat\">%2</span></p>")
            .arg(tx(T::Reload, l),
                 status.isEmpty()
                     ? tx(T::NotReadYet, l)
                     : escape(text(T::ReadAt, l).arg(status[QStringLiteral("readAt")].toString())));
    if (!status.isEmpty())
        body += QStringLiteral("<p class=\"%1\" id=\"summary\">%2</p>")
                    .arg(needing ? QStringLiteral("hand") : QStringLiteral("fine"),
                         needing ? tx(T::NeedsHand, l).arg(needing) : tx(T::Fine, l));
    if (status.contains(QStringLiteral("error")))
        body += QStringLiteral("<p class=\"problem\">%1: %2</p>")
                    .arg(tx(T::Cannot, l), escape(status[QStringLiteral("error")].toString()));
    body += QStringLiteral("<table id=\"terminals\" data-reload=\"60\"><thead><tr>");
    for (const T h : {T::Terminal, T::Port, T::Place, T::Answers, T::RoundTrip, T::Clock,
                      T::Records, T::Names, T::LastCollection, T::Hands, T::Fault})
        body += cell(text(h, l), "th");
    body += QStringLiteral("</tr></thead><tbody>");
    for (const QJsonObject& o : rows) {
        const bool hand = o[QStringLiteral("needsHand")].toBool();
        const bool silent = !o[QStringLiteral("answers")].toBool();
        QStringList hands;
        for (const QJsonValue& h : o[QStringLiteral("hands")].toArray())
            hands << handText(h.toString(), l);
        body += QStringLiteral("<tr class=\"%1\" data-terminal=\"%2\">")
                    .arg(silent ? QStringLiteral("hand silent")
                         : hand ? QStringLiteral("hand")
                                : QStringLiteral("fine"))
                    .arg(o[QStringLiteral("terminal")].toInt());
        for (const char* key : {"terminal", "port", "place", "answers", "roundTripMs",
                                "clockOffsetS", "recordsWaiting", "namesInStep", "lastCollection"})
            body += cell(valueText(o[QLatin1String(key)], l));
        body += cell(hands.join(QStringLiteral(", ")));
        body += cell(o[QStringLiteral("reason")].toString());
        body += QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table>");
    return page(c, tx(T::Status, l), body);
}

Response WebServer::mealsPage(Context& c) {
    const int l = c.lang;
    const QDate today = QDate::currentDate();
    const QDate first = today.addDays(-13);
    // Per day of the last two weeks, the meals of every terminal together.
    QMap<QString, report::Counts> days;
    for (QDate m(first.year(), first.month(), 1); m <= today; m = m.addMonths(1))
        for (const report::DayRow& d : site_.month(m).days)
            if (d.day >= first.toString(Qt::ISODate) && d.day <= today.toString(Qt::ISODate))
                for (int i = 0; i < report::ColumnCount; ++i)
                    days[d.day].meals[i] += d.counts.meals[i];
    QJsonArray labels;
    QJsonArray series[report::ColumnCount];
    for (QDate d = first; d <= today; d = d.addDays(1)) {
        const report::Counts counts = days.value(d.toString(Qt::ISODate));
        labels.append(d.toString(QStringLiteral("MM-dd")));
        for (int i = 0; i < report::ColumnCount; ++i)
            series[i].append(counts.meals[i]);
    }
    const report::Counts todays = days.value(today.toString(Qt::ISODate));
    const T names[] = {T::Breakfast, T::Lunch, T::Dinner, T::Other};
    QJsonArray sets;
    QString head, row;
    for (int i = 0; i < report::ColumnCount; ++i) {
        sets.append(QJsonObject{{QStringLiteral("label"), text(names[i], l)},
                                {QStringLiteral("data"), series[i]}});
        head += cell(text(names[i], l), "th");
        row += cell(QString::number(todays.meals[i]));
    }
    const QJsonObject chart{{QStringLiteral("labels"), labels}, {QStringLiteral("sets"), sets}};
    const QString body =
        QStringLiteral("<h2>%1</h2><table id=\"today\"><tr>%2%3</tr><tr>%4%5</tr></table>"
                       "<h2>%6</h2><div class=\"chart\"><canvas id=\"meals\" data-chart=\"%7\">"
                       "</canvas></div>")
            .arg(tx(T::Today, l), head, cell(text(T::Total, l), "th"), row,
                 cell(QString::number(todays.total())), tx(T::TwoWeeks, l),
                 escape(QString::fromUtf8(json(chart))));
    return page(c, tx(T::Meals, l), body);
}

Response WebServer::monthPage(const Request& request, Context& c) {
    const int l = c.lang;
    const QDate month = monthOf(request, QDate::currentDate());
    const QString m = month.toString(QStringLiteral("yyyy-MM"));
    QString body =
        QStringLiteral("<form method=\"get\" action=\"/month\"><input type=\"month\" "
                       "name=\"month\" value=\"%1\"><button type=\"submit\">%2</button> "
                       "<a id=\"workbook\" class=\"button\" href=\"/month.xlsx?month=%1\">"
                       "%3</a> <a id=\"csv\" class=\"button\" href=\"/month.csv?month=%1\">"
                       "%4</a></form>")
            .arg(m, tx(T::Show, l), tx(T::Workbook, l), tx(T::PayrollFile, l));
    for (const report::Table& t : report::reportTables(site_.month(month), l)) {
        body +=
            QStringLiteral("<h2>%1</h2><table class=\"report\"><thead><tr>").arg(escape(t.name));
        for (const QString& h : t.headings)
            body += cell(h, "th");
        body += QStringLiteral("</tr></thead><tbody>");
        for (int i = 0; i < t.texts.size() && i < t.counts.size(); ++i) {
            body += QStringLiteral("<tr>");
            for (const QString& s : t.texts[i])
                body += cell(s);
            for (const qint64 n : t.counts[i].meals)
                body += cell(QString::number(n));
            body += cell(QString::number(t.counts[i].total())) + QStringLiteral("</tr>");
        }
        body += QStringLiteral("</tbody></table>");
    }
    return page(c, tx(T::Month, l) + QLatin1Char(' ') + m, body);
}

Response WebServer::workbook(const Request& request, Context& c) {
    const QDate month = monthOf(request, QDate::currentDate());
    const bool csv = request.path.endsWith(".csv");
    Response r;
    r.type = csv ? "text/csv; charset=utf-8"
                 : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
    r.body = site_.workbook(month, c.lang, csv ? report::Format::Csv : report::Format::Xlsx);
    r.set("Content-Disposition", "attachment; filename=\"meals-" +
                                     month.toString(QStringLiteral("yyyy-MM")).toLatin1() +
                                     (csv ? ".csv\"" : ".xlsx\""));
    return r.body.isEmpty() ? plain(503, "the workbook cannot be made") : r;
}

Response WebServer::logPage(const Request& request, Context& c) {
    const int l = c.lang;
    const LogQuery q = logQueryOf(request);
    bool more = false;
    const QList<QStringList> rows = site_.log(q, &more);
    QString body =
        QStringLiteral(
            "<form method=\"get\" action=\"/log\" class=\"filter\"><label>%1 <input "
            "type=\"date\" name=\"from\" value=\"%2\"></label><label>%3 <input "
            "type=\"date\" name=\"to\" value=\"%4\"></label><label>%5 <input name=\"user\" "
            "value=\"%6\" maxlength=\"255\"></label><label>%7 <input name=\"action\" "
            "value=\"%8\" maxlength=\"255\"></label><button type=\"submit\">%9</button>"
            "</form><table id=\"log\"><thead><tr>")
            .arg(tx(T::From, l), q.from.toString(Qt::ISODate), tx(T::To, l),
                 q.to.toString(Qt::ISODate), tx(T::User, l), escape(q.user), tx(T::Action, l),
                 escape(q.action), tx(T::Show, l));
    for (const T h : {T::Time, T::User, T::Object, T::Action, T::Result})
        body += cell(text(h, l), "th");
    body += QStringLiteral("</tr></thead><tbody>");
    for (const QStringList& row : rows) {
        body += QStringLiteral("<tr>");
        for (const QString& s : row)
            body += cell(s);
        body += QStringLiteral("</tr>");
    }
    body += QStringLiteral("</tbody></table><p>");
    QUrlQuery link;
    for (const char* key : {"from", "to", "user", "action"})
        if (const QString v = request.query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
            !v.isEmpty())
            link.addQueryItem(QLatin1String(key),
                              QString::fromUtf8(QUrl::toPercentEncoding(v.left(255))));
    const auto pageLink = [&](int page, T label) {
        QUrlQuery to = link;
        to.addQueryItem(QStringLiteral("page"), QString::number(page));
        return QStringLiteral("<a href=\"/log?%1\">%2</a> ")
            .arg(escape(to.toString(QUrl::FullyEncoded)), tx(label, l));
    };
    if (q.page > 0)
        body += pageLink(q.page - 1, T::Newer);
    if (more)
        body += pageLink(q.page + 1, T::Older);
    body += QStringLiteral("</p>");
    return page(c, tx(T::Log, l), body);
}

Response WebServer::api(const Request& request, Context& c) {
    std::optional<Viewer> viewer = c.viewer;
    const QByteArray authorization = request.header("authorization");
    if (authorization.startsWith("Bearer ")) {
        const QString address = QString::fromUtf8(request.peer);
        const qint64 now = clock_();
        if (const qint64 wait = addresses_.waitMs(address, now); wait > 0) {
            Response r = jsonAnswer({{QStringLiteral("error"), QStringLiteral("wait")}}, 429);
            r.set("Retry-After", QByteArray::number((wait + 999) / 1000));
            return r;
        }
        viewer = site_.token(authorization.mid(7).trimmed());
        if (!viewer)
            addresses_.failed(address, now);
    }
    if (!viewer)
        return jsonAnswer({{QStringLiteral("error"), QStringLiteral("not signed in")}}, 401);
    const auto refused = [] {
        return jsonAnswer({{QStringLiteral("error"), QStringLiteral("not allowed")}}, 403);
    };
    if (request.path == "/api/v1/status") {
        QJsonObject status = site_.status(request.query.hasQueryItem(QStringLiteral("fresh")));
        return jsonAnswer(status);
    }
    if (request.path == "/api/v1/meals") {
        if (!viewer->month)
            return refused();
        const QString text = request.query.queryItemValue(QStringLiteral("month"));
        const QDate month = report::parseMonth(text);
        if (!month.isValid())
            return jsonAnswer({{QStringLiteral("error"), QStringLiteral("month=YYYY-MM")}}, 400);
        return jsonAnswer(monthJson(site_.month(month)));
    }
    if (request.path == "/api/v1/log") {
        if (!viewer->log)
            return refused();
        bool more = false;
        QJsonArray entries;
        for (const QStringList& row : site_.log(logQueryOf(request), &more))
            entries.append(QJsonObject{{QStringLiteral("time"), row.value(0)},
                                       {QStringLiteral("user"), row.value(1)},
                                       {QStringLiteral("object"), row.value(2)},
                                       {QStringLiteral("action"), row.value(3)},
                                       {QStringLiteral("result"), row.value(4)}});
        return jsonAnswer({{QStringLiteral("entries"), entries}, {QStringLiteral("more"), more}});
    }
    return jsonAnswer({{QStringLiteral("error"), QStringLiteral("no such call")}}, 404);
}

} // namespace bw::host::web
