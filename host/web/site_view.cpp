#include "host/web/site_view.h"

#include "host/console/operation_log.h"
#include "host/ledger/operators.h"
#include "host/ledger/tokens.h"
#include "host/site/status.h"
#include "platform/error.h"
#include "store/connection_string.h"
#include "store/ctrl_log.h"
#include "store/sql_connection.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <thread>

namespace bw::host::web {
namespace {

// The host database as the web view reads it. Every call opens its own connection (a
// connection belongs to its thread); the status is read by a thread of its own, one reading at
// a time, and kept for the pages.
class DatabaseSite : public SiteView {
public:
    DatabaseSite(QString connection, QString caption, const MealWindows& windows)
        : connection_(std::move(connection)), caption_(std::move(caption)), windows_(windows) {}
    ~DatabaseSite() override {
        if (reader_.joinable())
            reader_.join();
    }

    std::optional<Viewer> signIn(const QString& name, const QString& password) override {
        try {
            const store::BackendSettings kind = store::parseConnectionString(connection_);
            if (kind.kind == store::BackendSettings::Kind::Postgres) {
                // A session as the operator's role, which only the server can open; it is
                // closed at once and leaves the program's own connections as they are.
                store::SqlConnection as(connection_, store::ServerSignIn{name, password});
                if (as.queryBound(QStringLiteral("SELECT 1 FROM Operators WHERE Name = "
                                                 "session_user AND Disabled = 0"))
                        .isEmpty())
                    return std::nullopt;
            } else {
                operators::signIn(connection_, name, password);
            }
            return viewerOf(name);
        } catch (const operators::Refused&) {
            return std::nullopt;
        } catch (const Error&) {
            return std::nullopt;
        }
    }

    std::optional<Viewer> token(const QByteArray& secret) override {
        try {
            store::SqlConnection cn(connection_);
            const auto t = tokens::findToken(cn, secret);
            if (!t || !t->rights.contains(QStringLiteral("status")))
                return std::nullopt;
            return Viewer{QStringLiteral("token:") + t->name,
                          t->rights.contains(QStringLiteral("meals")),
                          t->rights.contains(QStringLiteral("log"))};
        } catch (const Error&) {
            return std::nullopt;
        }
    }

    QJsonObject status(bool fresh) override {
        std::lock_guard lock(mutex_);
        // A reading more often than every ten seconds is not started: what was read is new.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if ((fresh || status_.isEmpty() || now - readAt_ > 60000) && !reading_ &&
            now - startedAt_ > 10000) {
            if (reader_.joinable())
                reader_.join();
            reading_ = true;
            startedAt_ = now;
            reader_ = std::thread([this] { read(); });
        }
        return status_;
    }

    report::MonthReport month(const QDate& month) override {
        report::Request rq;
        rq.month = month;
        rq.byDay = true;
        rq.windows = windows_;
        try {
            store::SqlConnection cn(connection_);
            return report::readMonthReport(cn, rq);
        } catch (const Error&) {
            report::MonthReport none;
            none.month = month;
            none.windows = rq.windows;
            return none;
        }
    }

    QByteArray workbook(const QDate& month, int lang, report::Format format) override {
        QTemporaryDir dir;
        if (!dir.isValid())
            return {};
        const QString path = dir.filePath(QStringLiteral("month"));
        if (report::writeReport(report::reportTables(this->month(month), lang), path, format)
                .failed())
            return {};
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QList<QStringList> log(const LogQuery& query, bool* more) override {
        QList<QStringList> rows;
        try {
            store::SqlConnection cn(connection_);
            const console::LogFilter filter{query.from, query.to, query.user, query.action};
            std::optional<console::LogPage> page;
            constexpr int PageSize = 100;
            for (int i = 0; i <= query.page; ++i) {
                page = console::readLogPage(cn, filter, page, PageSize);
                if (!page->more && i < query.page) {
                    page->entries.clear();
                    break;
                }
            }
            for (const console::LogEntry& e : page->entries)
                rows << QStringList{e.time, e.user, e.object, e.action, e.result};
            *more = page->more;
        } catch (const Error&) {
            *more = false;
        }
        return rows;
    }

    void note(const QString& user, const QString& action, const QString& result) override {
        try {
            store::SqlConnection cn(connection_);
            cn.Execute(store::ctrlLogStatement(connection_, user.left(64),
                                               QDateTime::currentDateTime(), QStringLiteral("web"),
                                               action, result.left(255)));
        } catch (const Error& e) {
            std::fprintf(stderr, "brackwater-web: the operation log refused an entry: %s\n",
                         e.description().toUtf8().constData());
        }
    }

private:
    Viewer viewerOf(const QString& name) {
        store::SqlConnection cn(connection_);
        Viewer v{name, false, false};
        for (const operators::Operator& o : operators::listOperators(cn, caption_))
            if (o.name == name) {
                const bool admin = o.rights.contains(QStringLiteral("admin"));
                v.month = admin || o.rights.contains(QStringLiteral("cards")) ||
                          o.rights.contains(QStringLiteral("collect"));
                v.log = admin;
            }
        return v;
    }

    void read() {
        site::StatusRequest rq;
        rq.connection = connection_;
        rq.withOthers = true;
        QJsonObject doc;
        try {
            const QList<site::TerminalStatus> all = site::readStatus(rq);
            const bool hand =
                std::any_of(all.cbegin(), all.cend(), [](const auto& s) { return s.needsHand(); });
            doc = site::statusJson(all, hand ? 1 : 0);
        } catch (const Error& e) {
            doc = site::statusJson({}, 2);
            doc[QStringLiteral("error")] = e.description();
        }
        doc[QStringLiteral("readAt")] =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        std::lock_guard lock(mutex_);
        status_ = doc;
        readAt_ = QDateTime::currentMSecsSinceEpoch();
        reading_ = false;
    }

    const QString connection_;
    const QString caption_;
    const MealWindows windows_;
    std::mutex mutex_;
    std::thread reader_;
    QJsonObject status_;
    qint64 readAt_ = 0;
    qint64 startedAt_ = -100000;
    bool reading_ = false;
};

} // namespace

std::unique_ptr<SiteView> siteView(const QString& connection, const QString& caption,
                                   const MealWindows& windows) {
    return std::make_unique<DatabaseSite>(connection, caption, windows);
}

} // namespace bw::host::web
