#pragma once

#include "host/report/report_writer.h"

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// What the web view shows of a site, behind one interface: the program's is the site layer over
// the host database (siteView()); the tests give their own.
namespace bw::host::web {

// What a signed-in operator or a token may see.
struct Viewer {
    QString name;
    bool month = false; // the month's figures (the report or cards right)
    bool log = false;   // the operation log (administrators)
};

struct LogQuery {
    QDate from;
    QDate to;
    QString user;
    QString action;
    int page = 0; // 0: the newest
};

class SiteView {
public:
    virtual ~SiteView() = default;
    // The operator, when name and password are right (checked as the console checks them).
    virtual std::optional<Viewer> signIn(const QString& name, const QString& password) = 0;
    // The token's holder, when the token is one of the database's and not revoked.
    virtual std::optional<Viewer> token(const QByteArray& secret) = 0;
    // The terminals' status as brackwater-site status --json gives it; empty while it was never
    // read. fresh: start a new reading (the answer is the last one still).
    virtual QJsonObject status(bool fresh) = 0;
    // The month's report (per employee and card, and per terminal and day).
    virtual report::MonthReport month(const QDate& month) = 0;
    // The month's workbook (or its CSV file, for payroll), in the language given.
    virtual QByteArray workbook(const QDate& month, int lang, report::Format format) = 0;
    // A page of the operation log, newest first, and whether older entries follow.
    virtual QList<QStringList> log(const LogQuery& query, bool* more) = 0;
    // An entry of the web view's own in the operation log.
    virtual void note(const QString& user, const QString& action, const QString& result) = 0;
};

// The site of the host database `connection`; caption is the terminal window's, for rights.
std::unique_ptr<SiteView> siteView(const QString& connection, const QString& caption,
                                   const MealWindows& windows);

} // namespace bw::host::web
