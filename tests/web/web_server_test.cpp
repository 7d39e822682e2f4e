// The web view over a real TLS socket: hostile clients are refused or ended, and the server
// keeps answering the others.
#include "common/test_support.h"
#include "host/ledger/operators.h"
#include "host/ledger/tokens.h"
#include "host/web/tls_pair.h"
#include "host/web/web_server.h"
#include "store/backends.h"

#include <QJsonArray>
#include <QSslSocket>
#include <QTest>
#include <gtest/gtest.h>

using namespace bw::host::web;

namespace {

struct FakeSite : SiteView {
    bool revoked = false;
    QStringList notes;
    std::optional<Viewer> signIn(const QString& name, const QString& password) override {
        if (name == QLatin1String("ann") && password == QLatin1String("right"))
            return Viewer{name, true, true};
        return std::nullopt;
    }
    std::optional<Viewer> token(const QByteArray& secret) override {
        if (secret == "bwt_good" && !revoked)
            return Viewer{QStringLiteral("token:payroll"), true, false};
        return std::nullopt;
    }
    QJsonObject status(bool) override { return {{QStringLiteral("terminals"), QJsonArray()}}; }
    bw::host::report::MonthReport month(const QDate& m) override {
        return {m, {}, {}, {}, {}, {}, {}};
    }
    QByteArray workbook(const QDate&, int, bw::host::report::Format) override { return "PK"; }
    QList<QStringList> log(const LogQuery&, bool* more) override {
        *more = false;
        return {};
    }
    void note(const QString& user, const QString& action, const QString&) override {
        notes << user + QLatin1Char(' ') + action;
    }
};

struct Answer {
    int status = 0; // 0: the connection ended without an answer
    QByteArray head;
    QByteArray header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
};

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString problem;
        const TlsPair tls = tlsPair({}, {}, bw::test::tempDir(), problem);
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        ServerSettings settings;
        settings.tls = tls.configuration;
        settings.requestTimeoutMs = 600;
        settings.maxConnections = 8;
        settings.limits.headerLines = 20;
        server = std::make_unique<WebServer>(site, settings, [this] { return now; });
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0));
    }

    // Sends raw bytes (spread over `pauses` waits of pauseMs each) and reads the answer.
    Answer send(const QByteArray& raw, int pauses = 0, int pauseMs = 0) {
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->serverPort());
        const auto ended = [&] { return socket.state() == QAbstractSocket::UnconnectedState; };
        if (!QTest::qWaitFor([&] { return socket.isEncrypted() || ended(); }, 5000) || ended())
            return {};
        const int step = pauses ? std::max<int>(1, raw.size() / pauses) : raw.size();
        for (int at = 0; at < raw.size() && socket.state() == QAbstractSocket::ConnectedState;
             at += step) {
            socket.write(raw.mid(at, step));
            if (pauses)
                QTest::qWait(pauseMs);
        }
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                got += socket.readAll();
                return got.contains("\r\n\r\n") ||
                       socket.state() != QAbstractSocket::ConnectedState;
            },
            5000);
        Answer a;
        a.head = got.left(got.indexOf("\r\n\r\n"));
        a.status = got.startsWith("HTTP/1.1 ") ? got.mid(9, 3).toInt() : 0;
        return a;
    }
    Answer get(const QByteArray& path, const QByteArray& extra = {}) {
        return send("GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n");
    }
    Answer signIn(const QByteArray& password) {
        const QByteArray body = "name=ann&password=" + password;
        return send("POST /signin HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    QByteArray cookieOf(const Answer& a) { return a.header("Set-Cookie").split(';').first(); }

    FakeSite site;
    qint64 now = 1000000;
    std::unique_ptr<WebServer> server;
};

TEST_F(WebServerTest, WrongPasswordsWaitLongerEachTimeAndTheRightOneStillSignsIn) {
    QList<int> waits;
    for (int i = 0; i < 20; ++i) {
        Answer a = signIn("wrong");
        if (a.status == 429) {
            waits << a.header("Retry-After").toInt();
            now += qint64(waits.last()) * 1000;
            a = signIn("wrong");
        }
        EXPECT_EQ(a.status, 401) << "attempt " << i;
    }
    ASSERT_EQ(waits.size(), 20 - Throttle::Free);
    for (int i = 1; i < waits.size(); ++i)
        EXPECT_GE(waits[i], waits[i - 1]) << i;
    EXPECT_GT(waits.last(), waits.first());
    EXPECT_EQ(signIn("right").status, 429); // still waiting: not even the right one is heard
    EXPECT_EQ(get("/signin").status, 200);  // others are served meanwhile
    now += 900000;
    const Answer in = signIn("right");
    EXPECT_EQ(in.status, 303);
    EXPECT_TRUE(in.header("Set-Cookie").contains("HttpOnly; SameSite=Strict"));
    EXPECT_EQ(site.notes.count(QStringLiteral("ann 网页登录失败")), 20);
}

TEST_F(WebServerTest, ForgedAndIdleCookiesAreSentToTheSignIn) {
    const QByteArray cookie = cookieOf(signIn("right"));
    EXPECT_EQ(get("/status", "Cookie: " + cookie + "\r\n").status, 200);
    EXPECT_EQ(
        get("/status", "Cookie: bw_session=" + QByteArray(64, 'a') + "\r\n").header("Location"),
        "/signin");
    now += 16 * 60000;
    EXPECT_EQ(get("/status", "Cookie: " + cookie + "\r\n").header("Location"), "/signin");
}

TEST_F(WebServerTest, ARevokedTokenIsRefused) {
    EXPECT_EQ(get("/api/v1/meals?month=2026-01", "Authorization: Bearer bwt_good\r\n").status, 200);
    EXPECT_EQ(get("/api/v1/log", "Authorization: Bearer bwt_good\r\n").status, 403);
    site.revoked = true;
    EXPECT_EQ(get("/api/v1/status", "Authorization: Bearer bwt_good\r\n").status, 401);
}

TEST_F(WebServerTest, HostileRequestsAreRefused) {
    const struct {
        const char* what;
        QByteArray raw;
        int status;
    } rows[] = {
        {"dot segments", "GET /static/../../etc/passwd HTTP/1.1\r\n\r\n", 400},
        {"escaped dots", "GET /static/%2e%2e/x HTTP/1.1\r\n\r\n", 400},
        {"a file path", "GET /etc/passwd HTTP/1.1\r\n\r\n", 404},
        {"many headers", "GET / HTTP/1.1\r\n" + QByteArray("X: y\r\n").repeated(30) + "\r\n", 431},
        {"a long header", "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n", 431},
        {"a large body", "POST /signin HTTP/1.1\r\nContent-Length: 99999\r\n\r\n", 431},
        {"chunked", "POST /signin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
        {"not HTTP", "HELLO\r\n\r\n", 400},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(send(row.raw).status, row.status) << row.what;
        EXPECT_EQ(get("/signin").status, 200) << "after " << row.what;
    }
}

TEST_F(WebServerTest, AClientSendingAByteAtATimeIsEndedWhileOthersAreServed) {
    // 40 bytes, one every 50 ms: two seconds, far beyond the 600 ms a request may take.
    const Answer slow = send("GET /signin HTTP/1.1\r\nHost: slowly....\r\n\r\n", 40, 50);
    EXPECT_EQ(slow.status, 0);
    EXPECT_EQ(get("/signin").status, 200);
}

TEST_F(WebServerTest, ConnectionsAboveTheLimitAreClosedAndServedAgainOnceOthersEnd) {
    std::vector<std::unique_ptr<QSslSocket>> idle;
    for (int i = 0; i < 8; ++i) {
        idle.push_back(std::make_unique<QSslSocket>());
        idle.back()->setPeerVerifyMode(QSslSocket::VerifyNone);
        idle.back()->connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->serverPort());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->connections() == 8; }, 5000));
    EXPECT_EQ(get("/signin").status, 0);
    idle.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->connections() == 0; }, 5000));
    EXPECT_EQ(get("/signin").status, 200);
}

} // namespace

// On PostgreSQL an operator signs in as the server's role, and the program's own connections
// stay its own; an administrator's token is found by the web's role.
TEST(WebSiteOnPostgres, OperatorsSignInAsTheirRolesAndTokensAreFound) {
    if (!qEnvironmentVariable("BW_PG_CONN").startsWith(QStringLiteral("postgres")))
        GTEST_SKIP() << "needs BW_PG_CONN as a postgresql:// URL";
    namespace op = bw::host::operators;
    bw::test::PostgresBackend pg;
    pg.setUp();
    const QString caption = QString::fromUtf8(bw::host::kDemoCaption);
    const QString boss = QStringLiteral("bw_webboss_%1").arg(QCoreApplication::applicationPid());
    pg.admin->Execute("DROP ROLE IF EXISTS " + boss);
    {
        auto owner = bw::store::SqlConnection::open(pg.connectionString);
        bw::host::createHostSchema(*owner, true);
        op::addOperator(*owner, {}, boss, {"admin"}, "boss pw", caption);
        pg.admin->Execute("GRANT bw_signin TO " + boss);
    }
    const auto site = siteView(pg.connectionString, caption, bw::host::defaultMealWindows());
    EXPECT_FALSE(site->signIn(boss, QStringLiteral("wrong")));
    const auto viewer = site->signIn(boss, QStringLiteral("boss pw"));
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(viewer->month && viewer->log);
    EXPECT_TRUE(bw::store::serverSignIn().user.isEmpty());
    QString token;
    {
        bw::store::SqlConnection as(pg.connectionString, bw::store::ServerSignIn{boss, "boss pw"});
        token = bw::host::tokens::addToken(as, QStringLiteral("payroll"), QStringLiteral("status"));
    }
    EXPECT_TRUE(site->token(token.toLatin1()));
    pg.tearDown();
    pg.admin = bw::store::SqlConnection::open(qEnvironmentVariable("BW_PG_CONN"));
    pg.admin->Execute("DROP ROLE IF EXISTS " + boss);
}
