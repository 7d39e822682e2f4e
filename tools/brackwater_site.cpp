// brackwater-site: a site's routine without anyone watching: name lists, clocks and the
// nightly collection of every model-6429 terminal of the register, and their status.
//
//   brackwater-site [--db CONNECTION] [--com n=DEVICE] [--tcp-port-map FROM=TO] [--json]
//                   [--line-wait SECONDS]
//     sync-names [N ...] [--dry-run] [--force]
//     sync-clocks [N ...] [--force]
//     sync-clocks [N ...]
//     nightly [--clear]
//     status [N ...] [--prometheus FILE]
//     assign N [N ...] [--workstation NAME]    (NAME "": to none)
//     unassign N [N ...]
//     operator add NAME --rights LIST [--password-stdin] | operator rights NAME LIST |
//     operator password NAME [--password-stdin] | operator disable NAME | operator list |
//     token add NAME --rights LIST | token list | token revoke NAME
//     backup [--to DIR] [--keep N]
//     cards import FILE --terminal N [--replace] | cards export FILE --terminal N
//     cards lost CARD | cards replace OLD NEW | cards return CARD
//     employees import FILE [--replace] | employees export FILE
//
// One line per terminal and step on stdout (--json: one document). Exit status: 0 all done,
// 1 some terminal failed, 2 bad arguments, 3 the database cannot be used (not there, gone, or
// without the register's tables), 4 not allowed (this program's operator, the desktop account
// on a file database or the session's role on a server, is none or lacks a step's right:
// nothing was sent for that step), 5 a line stayed busy. status prints one line per terminal; its
// exit status is 0 when every terminal answers and none needs a hand, 1 when some does, 2 and 3 as
// above. assign gives terminals of the register to a workstation (this one unless --workstation
// names another), unassign to none; they exit 1 when a number is no terminal of the register.
// backup copies the embedded database into DIR (default [site] backup-dir) and keeps the newest
// N (default [site] backup-keep, else 14); it is an administrator's, exits 1 when the copy
// failed (the older backups stay) and 2 on a database server. nightly makes one after its
// steps when [site] backup-dir is set; a failed one makes its exit 1. After its steps nightly
// reads every terminal's status again: each terminal that needs a hand gets a line on standard
// error (at priority err when that is the journal) and the exit is 1. status --prometheus
// writes the status also into FILE for a node exporter's textfile collector; a file that
// cannot be written makes the exit 1.
// cards import reads a CSV file of cards (UTF-8 or GB18030; card, employee number, name) and
// writes every row to the terminal's cards or none: a refused row is said ("row 7: card number
// has letters") and makes the exit 1; --replace makes the file's cards the terminal's only
// ones. cards export writes the terminal's cards as CSV for a spreadsheet. Both take the right
// "cards" (卡号管理).
// employees import reads HR's list of the site's employees (工号,姓名,部门,卡号 and optionally
// 入职日期,离职日期) and writes all of it or nothing, every refused row said first; --replace takes
// it as the whole list: employees absent from it leave today. The terminals' name lists are then
// derived from the register. employees export writes the register as such a list. cards lost,
// replace and return change a card of the register; the lists follow at once. All take the
// right "cards".

#include "host/cli/host_options.h"
#include "host/cli/password_input.h"
#include "host/cli/printable.h"
#include "host/collect/meal_store.h"
#include "host/ledger/backup.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/schema.h"
#include "host/ledger/stations.h"
#include "host/ledger/tokens.h"
#include "host/names/cards.h"
#include "host/names/employees.h"
#include "host/report/month_files.h"
#include "host/site/card_log.h"
#include "host/site/site_run.h"
#include "host/site/status.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/line_lock.h"
#include "platform/safe_file.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>
#include <optional>

using bw::host::site::Step;

namespace {

enum Exit {
    Ok = 0,
    TerminalFailed = 1,
    BadArguments = 2,
    NoDatabase = 3,
    NotAllowed = 4,
    LineBusy = 5
};

int fail(int code, const QString& message) {
    return bw::host::failWith("brackwater-site", code, message);
}

namespace op = bw::host::operators;

// The terminal window's caption the rights are named under.
QString caption() {
    return bw::host::HostOptions().caption;
}

int refused(const op::Refused& r) {
    switch (r.why) {
    case op::Refusal::NotAnOperator:
    case op::Refusal::NotAdministrator:
    case op::Refusal::WrongSignIn:
    case op::Refusal::NoPasswordYet:
        return fail(NotAllowed, QStringLiteral("not allowed: ") + op::describe(r));
    case op::Refusal::BadName:
    case op::Refusal::BadPassword:
    case op::Refusal::UnknownRight:
        return fail(BadArguments, op::describe(r));
    default:
        return fail(TerminalFailed, op::describe(r));
    }
}

using bw::host::sayLine;

// The steps of a command; empty for an unknown one.
QList<Step> stepsOf(const QString& command) {
    if (command == QLatin1String("sync-names"))
        return {Step::Names};
    if (command == QLatin1String("sync-clocks"))
        return {Step::Clock};
    if (command == QLatin1String("nightly"))
        return {Step::Collect, Step::Clock, Step::Names};
    return {};
}

const char* const Usage =
    "brackwater-site [--db CONNECTION] [--com n=DEVICE] "
    "[--tcp-port-map FROM=TO] [--json] [--line-wait SECONDS] (sync-names [N ...] [--dry-run] "
    "[--force] | sync-clocks [N ...] [--force] | nightly [--clear] | status [N ...] "
    "[--prometheus FILE] | "
    "assign N [N ...] [--workstation NAME] | unassign N [N ...] | operator add NAME --rights "
    "LIST [--password-stdin] | operator rights NAME LIST | operator password NAME "
    "[--password-stdin] | operator disable NAME | operator list [--json] | token add NAME --rights "
    "LIST | token list | token revoke NAME | backup [--to DIR] [--keep N] | cards import FILE "
    "--terminal N [--replace] | cards export FILE --terminal N | cards lost CARD | cards replace "
    "OLD NEW | cards return CARD | employees import FILE [--replace] | employees export FILE)";

// token ...: the web view's API tokens, an administrator's to give and take back. add prints the
// token once; the database keeps only its hash.
int tokenCommand(const QString& connection, QStringList args, const QString& rights) {
    const QString verb = args.isEmpty() ? QString() : args.takeFirst();
    const bool add = verb == QLatin1String("add");
    if (!(add && args.size() == 1 && !rights.isEmpty()) &&
        !(verb == QLatin1String("revoke") && args.size() == 1 && rights.isEmpty()) &&
        !(verb == QLatin1String("list") && args.isEmpty() && rights.isEmpty()))
        return fail(BadArguments,
                    QStringLiteral("usage: token add NAME --rights LIST (rights: %1) | token list "
                                   "| token revoke NAME")
                        .arg(bw::host::tokens::rightKeys().join(QStringLiteral(", "))));
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(connection, caption());
        if (!acting.rights(bw::host::site::Action::Backup))
            return fail(NotAllowed, QStringLiteral("tokens are an administrator's"));
        bw::store::SqlConnection cn(connection);
        if (add) {
            sayLine(bw::host::tokens::addToken(cn, args.first(), rights));
        } else if (verb == QLatin1String("revoke")) {
            if (!bw::host::tokens::revokeToken(cn, args.first()))
                return fail(TerminalFailed,
                            QStringLiteral("no token ") + bw::host::printable(args.first()));
            sayLine(QStringLiteral("token %1: revoked").arg(bw::host::printable(args.first())));
        } else {
            for (const bw::host::tokens::Token& t : bw::host::tokens::listTokens(cn))
                sayLine(QStringLiteral("token %1: rights %2, made %3")
                            .arg(bw::host::printable(t.name), t.rights.join(QLatin1Char(',')),
                                 t.created));
        }
        return Ok;
    } catch (const std::invalid_argument& e) {
        return fail(BadArguments, QString::fromUtf8(e.what()));
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
}

// operator ...: the site's operators, changed by the operator this program acts as, who must
// be an administrator (a server checks its session's role itself).
int operatorCommand(const QString& connection, QStringList args, const QString& rights,
                    bool passwordStdin, bool asJson) {
    const QString verb = args.isEmpty() ? QString() : args.takeFirst();
    const QString name = args.isEmpty() ? QString() : args.first();
    const QHash<QString, int> arity{{QStringLiteral("add"), 1},
                                    {QStringLiteral("rights"), 2},
                                    {QStringLiteral("password"), 1},
                                    {QStringLiteral("disable"), 1},
                                    {QStringLiteral("list"), 0}};
    if (!arity.contains(verb) || args.size() != arity.value(verb))
        return fail(BadArguments, QStringLiteral("usage: ") + QString::fromLatin1(Usage));
    if (!rights.isEmpty() && verb != QLatin1String("add"))
        return fail(BadArguments, QStringLiteral("--rights goes with operator add"));
    if (passwordStdin && verb != QLatin1String("add") && verb != QLatin1String("password"))
        return fail(BadArguments, QStringLiteral("--password-stdin goes with operator add and "
                                                 "operator password"));
    if (verb == QLatin1String("add") && rights.isEmpty())
        return fail(BadArguments, QStringLiteral("operator add needs --rights LIST (rights: ") +
                                      op::rightKeys().join(QStringLiteral(", ")) +
                                      QStringLiteral(")"));
    try {
        QStringList keys;
        if (verb == QLatin1String("add"))
            keys = op::parseRights(rights);
        else if (verb == QLatin1String("rights"))
            keys = op::parseRights(args.value(1));
        bw::store::SqlConnection cn(connection);
        bw::host::completeHostSchema(cn); // Operators, when the database predates it
        const QString by = op::actingOperator(cn);
        if (verb == QLatin1String("list")) {
            const QList<op::Operator> all = op::listOperators(cn, caption());
            QJsonArray doc;
            for (const op::Operator& o : all) {
                if (asJson)
                    doc.append(QJsonObject{
                        {QStringLiteral("name"), o.name},
                        {QStringLiteral("rights"), QJsonArray::fromStringList(o.rights)},
                        {QStringLiteral("disabled"), o.disabled},
                        {QStringLiteral("password"), o.hasPassword}});
                else
                    sayLine(QStringLiteral("%1: %2%3%4")
                                .arg(bw::host::printable(o.name),
                                     o.rights.isEmpty() ? QStringLiteral("no rights")
                                                        : o.rights.join(QLatin1Char(',')),
                                     o.disabled ? QStringLiteral(", disabled") : QString(),
                                     o.hasPassword ? QString() : QStringLiteral(", no password")));
            }
            if (asJson)
                sayLine(QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
            return Ok;
        }
        if (verb == QLatin1String("rights")) {
            op::setRights(cn, by, name, keys, caption());
            sayLine(QStringLiteral("operator %1: rights %2")
                        .arg(bw::host::printable(name), keys.join(QLatin1Char(','))));
            return Ok;
        }
        if (verb == QLatin1String("disable")) {
            op::disableOperator(cn, by, name);
            sayLine(QStringLiteral("operator %1: disabled").arg(bw::host::printable(name)));
            return Ok;
        }
        QString why;
        const auto password = bw::host::readPassword(
            passwordStdin, QStringLiteral("password for %1").arg(bw::host::printable(name)), true,
            why);
        if (!password)
            return fail(BadArguments, why);
        if (verb == QLatin1String("add")) {
            op::addOperator(cn, by, name, keys, *password, caption());
            sayLine(QStringLiteral("operator %1: added with rights %2")
                        .arg(bw::host::printable(name), keys.join(QLatin1Char(','))));
        } else {
            op::setPassword(cn, by, name, *password);
            sayLine(QStringLiteral("operator %1: password changed").arg(bw::host::printable(name)));
        }
        return Ok;
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
}

// Writes text into file at once: a temporary file of the same folder renamed over it, readable
// by all (0644) for a collector running as another user. Empty when written, else why not.
QString writeWhole(const QString& file, const QString& text) {
    return bw::writeSafely(file, text.toUtf8());
}

// Every requested terminal's status, one line each (or one document), and in the text format
// of a node exporter's textfile collector into prometheus when named; the exit status says
// whether any needs a hand (or the file could not be written). error: why the database is not
// opened (then no terminal is asked).
int printStatus(const bw::host::site::StatusRequest& rq, bool asJson, QString error,
                const QString& prometheus) {
    QList<bw::host::site::TerminalStatus> all;
    if (error.isEmpty()) {
        try {
            all = bw::host::site::readStatus(rq, [asJson](const auto& s) {
                if (!asJson)
                    sayLine(bw::host::site::statusLine(s));
            });
        } catch (const bw::Error& e) {
            error = QStringLiteral("cannot use the database: ") + e.description();
        }
    }
    const bool hand =
        std::any_of(all.cbegin(), all.cend(), [](const auto& s) { return s.needsHand(); });
    int rc = !error.isEmpty() ? fail(NoDatabase, error) : hand ? TerminalFailed : Ok;
    if (!prometheus.isEmpty()) {
        const QString unwritten = writeWhole(
            prometheus,
            bw::host::site::statusPrometheus(all, QDateTime::currentDateTime(), error.isEmpty()));
        if (!unwritten.isEmpty())
            rc = fail(rc == Ok ? TerminalFailed : rc, unwritten);
    }
    if (asJson) {
        QJsonObject doc = bw::host::site::statusJson(all, rc);
        if (!error.isEmpty())
            doc[QStringLiteral("error")] = error;
        sayLine(QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
    }
    return rc;
}

// Gives the terminals to station ("" for none) in the register, one line each; a number that
// is no model-6429 terminal of MachineInfo is said and left out.
int assignTerminals(const QString& connection, const QList<int>& terminals,
                    const QString& station) {
    QList<int> known;
    int rc = Ok;
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(connection, caption());
        bw::store::SqlConnection cn(connection);
        bw::host::completeHostSchema(cn); // TerminalStation, when the register predates it
        const bw::host::site::Register reg = bw::host::site::readRegister(cn);
        for (int n : terminals) {
            const auto same = [n](const auto& t) { return t.address == n; };
            if (std::any_of(reg.terminals.cbegin(), reg.terminals.cend(), same) ||
                std::any_of(reg.elsewhere.cbegin(), reg.elsewhere.cend(), same)) {
                known << n;
            } else {
                sayLine(
                    QStringLiteral("terminal %1: not a model-6429 terminal of MachineInfo").arg(n));
                rc = TerminalFailed;
            }
        }
        if (!bw::host::site::assignTerminals(cn, known, station, acting.name, acting.rights))
            return fail(NotAllowed, QStringLiteral("not allowed: %1 may not change the register")
                                        .arg(bw::host::printable(acting.name)));
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase,
                    QStringLiteral("cannot assign in the database: ") + e.description());
    }
    for (int n : std::as_const(known))
        sayLine(
            station.isEmpty()
                ? QStringLiteral("terminal %1: assigned to no workstation").arg(n)
                : QStringLiteral("terminal %1: assigned to workstation %2").arg(n).arg(station));
    return rc;
}

namespace bk = bw::host::backup;

// A backup on a connection of its own; a database that cannot be opened is a failed copy.
bk::Outcome backupOn(const QString& connection, const QString& folder, int keep) {
    try {
        bw::store::SqlConnection cn(connection);
        return bk::backupDatabase(cn, QFileInfo(folder).absoluteFilePath(), keep);
    } catch (const bw::Error& e) {
        bk::Outcome failed;
        failed.failure = bk::Failure::CopyFailed;
        failed.detail = e.description();
        return failed;
    }
}

// backup: the folder and the number kept from the command line, else the settings; made by an
// administrator only.
int backupCommand(const bw::host::LineSetup& setup, QString folder, const QString& keepText) {
    int keep = setup.backupKeep > 0 ? setup.backupKeep : bk::DefaultKeep;
    if (!keepText.isNull()) {
        bool ok = false;
        keep = keepText.trimmed().toInt(&ok);
        if (!ok || keep < 1 || keep > bk::MaxKeep)
            return fail(BadArguments, QStringLiteral("--keep takes 1 to %1").arg(bk::MaxKeep));
    }
    if (folder.trimmed().isEmpty())
        folder = setup.backupDir;
    if (folder.trimmed().isEmpty())
        return fail(BadArguments,
                    QStringLiteral("no backup folder: --to DIR or [site] backup-dir"));
    bk::Outcome server;
    server.failure = bk::Failure::NotSqlite;
    // An ODBC source may be SQLite: the open connection tells.
    if (bw::store::parseConnectionString(setup.connection).kind ==
        bw::store::BackendSettings::Kind::Postgres)
        return fail(BadArguments, bk::describe(server));
    if (!setup.missingDatabase.isEmpty())
        return fail(NoDatabase, setup.missingDatabase);
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(setup.connection, caption());
        if (!acting.rights(bw::host::site::Action::Backup))
            return fail(NotAllowed,
                        QStringLiteral("not allowed: %1 is no administrator, who alone makes "
                                       "backups")
                            .arg(bw::host::printable(acting.name)));
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
    const bk::Outcome made = backupOn(setup.connection, folder, keep);
    if (made.ok())
        sayLine(bk::describe(made));
    return made.ok()                                ? Ok
           : made.failure == bk::Failure::NotSqlite ? fail(BadArguments, bk::describe(made))
                                                    : fail(TerminalFailed, bk::describe(made));
}

namespace cd = bw::host::names;
namespace reg = bw::host::names;

QString cardsCount(int n) {
    return n == 1 ? QStringLiteral("1 card") : QStringLiteral("%1 cards").arg(n);
}

// cards import|export FILE: the terminal's cards from a CSV file (all rows or none) or into one.
int cardsCommand(const bw::host::LineSetup& setup, const QStringList& args,
                 const QString& terminalText, bool replace) {
    const QString verb = args.value(0);
    if (args.size() != 2 || (verb != QLatin1String("import") && verb != QLatin1String("export")))
        return fail(BadArguments, QStringLiteral("usage: cards import FILE --terminal N "
                                                 "[--replace] | cards export FILE --terminal N"));
    bool ok = false;
    const int terminal = terminalText.trimmed().toInt(&ok);
    if (!ok || terminal < 1 || terminal > 255)
        return fail(BadArguments, QStringLiteral("cards needs --terminal N (1 to 255)"));
    if (replace && verb != QLatin1String("import"))
        return fail(BadArguments, QStringLiteral("--replace goes with cards import"));
    const QString path = args.value(1);
    if (!setup.missingDatabase.isEmpty())
        return fail(NoDatabase, setup.missingDatabase);
    const QString& connection = setup.connection;
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(connection, caption());
        if (!acting.rights(bw::host::site::Action::Cards))
            return fail(NotAllowed, QStringLiteral("not allowed: %1 may not change the cards")
                                        .arg(bw::host::printable(acting.name)));
        bw::store::SqlConnection cn(connection);
        bw::host::completeHostSchema(cn); // Employees, when the database predates it
        if (verb == QLatin1String("export")) {
            const QList<cd::Card> cards = cd::listCards(cn, terminal);
            cd::exportCards(cards, path, bw::uiLanguage());
            sayLine(QStringLiteral("terminal %1: %2 written to %3")
                        .arg(terminal)
                        .arg(cardsCount(int(cards.size())), bw::host::printable(path)));
            return Ok;
        }
        if (reg::keepsRegister(cn))
            return fail(TerminalFailed,
                        QStringLiteral("nothing imported: the site keeps a register "
                                       "of employees, whose cards the terminals' "
                                       "lists are made of (employees import)"));
        const cd::CardFile file = cd::readCardFile(path);
        if (!file.refused.isEmpty() && file.refused.first().row == 0) // the file as a whole
            return fail(TerminalFailed,
                        QStringLiteral("nothing imported: ") +
                            bw::host::printable(cd::describe(file.refused.first())));
        for (const cd::RefusedRow& r : file.refused)
            sayLine(bw::host::printable(cd::describe(r)));
        if (!file.refused.isEmpty())
            return fail(TerminalFailed,
                        QStringLiteral("nothing imported: %1 refused")
                            .arg(file.refused.size() == 1
                                     ? QStringLiteral("1 row")
                                     : QStringLiteral("%1 rows").arg(file.refused.size())));
        const int written = cd::importCards(cn, terminal, file, replace, [&](const auto& change) {
            bw::host::site::logCardChange(cn, acting.name, terminal, change);
        });
        sayLine(QStringLiteral("terminal %1: %2 imported%3")
                    .arg(terminal)
                    .arg(cardsCount(written),
                         replace ? QStringLiteral(" (the former cards replaced)") : QString()));
        return Ok;
    } catch (const cd::CardsRefused& r) {
        return fail(TerminalFailed, cd::describe(r.refused));
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
}

QString rowsCount(qsizetype n) {
    return n == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(n);
}

// employees import|export FILE, cards lost|replace|return: the site's register of employees,
// changed by this program's operator with the right "cards".
int registerCommand(const bw::host::LineSetup& setup, const QString& command,
                    const QStringList& args, bool replace) {
    const QString verb = args.value(0);
    const bool employees = command == QLatin1String("employees");
    const QHash<QString, int> arity =
        employees
            ? QHash<QString, int>{{QStringLiteral("import"), 2}, {QStringLiteral("export"), 2}}
            : QHash<QString, int>{{QStringLiteral("lost"), 2},
                                  {QStringLiteral("replace"), 3},
                                  {QStringLiteral("return"), 2}};
    if (arity.value(verb, -1) != args.size())
        return fail(BadArguments, employees
                                      ? QStringLiteral("usage: employees import FILE "
                                                       "[--replace] | employees export FILE")
                                      : QStringLiteral("usage: cards lost CARD | cards "
                                                       "replace OLD NEW | cards return CARD"));
    if (replace && !(employees && verb == QLatin1String("import")))
        return fail(BadArguments, QStringLiteral("--replace goes with import"));
    if (!setup.missingDatabase.isEmpty())
        return fail(NoDatabase, setup.missingDatabase);
    const QDate today = QDate::currentDate();
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(setup.connection, caption());
        if (!acting.rights(bw::host::site::Action::Cards))
            return fail(NotAllowed, QStringLiteral("not allowed: %1 may not change the cards")
                                        .arg(bw::host::printable(acting.name)));
        bw::store::SqlConnection cn(setup.connection);
        bw::host::completeHostSchema(cn);
        const reg::LogRegister log = [&](const reg::RegisterChange& change) {
            bw::host::site::logRegisterChange(cn, acting.name, change);
        };
        const QString what = args.value(1);
        if (!employees) {
            if (verb == QLatin1String("lost"))
                reg::cardLost(cn, what, today, log);
            else if (verb == QLatin1String("return"))
                reg::cardReturned(cn, what, today, log);
            else
                reg::cardReplaced(cn, what, args.value(2), today, log);
            sayLine(QStringLiteral("card %1: %2").arg(bw::host::printable(what.trimmed()), verb));
            return Ok;
        }
        if (verb == QLatin1String("export")) {
            const QList<reg::RegisterEntry> entries = reg::listRegister(cn, today);
            reg::exportRegister(entries, what, bw::uiLanguage());
            sayLine(QStringLiteral("%1 employees written to %2")
                        .arg(entries.size())
                        .arg(bw::host::printable(what)));
            return Ok;
        }
        const reg::EmployeeFile file = reg::readEmployeeFile(what, today);
        const reg::ImportOutcome done = file.refused.isEmpty()
                                            ? reg::importEmployees(cn, file, replace, today, log)
                                            : reg::ImportOutcome{file.refused, 0, 0, 0, {}};
        for (const reg::RegisterRefused& r : done.refused)
            sayLine(bw::host::printable(reg::describe(r)));
        if (!done.refused.isEmpty())
            return fail(
                TerminalFailed,
                QStringLiteral("nothing imported: %1 refused").arg(rowsCount(done.refused.size())));
        sayLine(QStringLiteral("employees: %1 added, %2 changed, %3 leaving today%4")
                    .arg(done.added)
                    .arg(done.changed)
                    .arg(done.left)
                    .arg(done.newDepartments.isEmpty()
                             ? QString()
                             : QStringLiteral("; new departments: ") +
                                   bw::host::printable(
                                       done.newDepartments.join(QStringLiteral(", ")))));
        return Ok;
    } catch (const reg::RegisterRefusedError& r) {
        return fail(TerminalFailed, bw::host::printable(reg::describe(r.refused)));
    } catch (const op::Refused& r) {
        return refused(r);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The operator's rights come from the permission component, as in the windows.
    bw::host::registerDbComponents();
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-site"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));
    // Each result line names the device and the system's reason, or the line's holder, already.
    QLoggingCategory::setFilterRules(
        QStringLiteral("brackwater.port.open.warning=false\nbw.line=false"));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Keep a site's model-6429 terminals in step with the host database: name lists, "
            "clocks, the nightly collection and every terminal's status, the lines at the same "
            "time.\n\n") +
        QString::fromLatin1(Usage) +
        QStringLiteral("\n\nExit status: 0 all done, 1 some terminal failed, 2 bad arguments, 3 "
                       "the database cannot be used, 4 not allowed (this program's operator is "
                       "none or lacks a right; nothing was sent for that step), 5 a line stayed "
                       "busy. nightly: 1 also when a terminal needs a hand after the run (a "
                       "line each on standard error, at priority err in the journal). status: 0 "
                       "no terminal needs a hand, 1 some does or the --prometheus file cannot "
                       "be written."));
    p.addHelpOption();
    p.addVersionOption();
    const bw::host::LineOptions lines;
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON document on standard output."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("sync-names: say which lists would be downloaded, change nothing."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("sync-names: download every list, also those in step. sync-clocks: set "
                       "the clocks also when the computer's clock is not synchronised or the "
                       "change is more than [clock] max-change allows."));
    const QCommandLineOption clear(
        QStringLiteral("clear"),
        QStringLiteral("nightly: delete on each terminal the records that were stored."));
    const QCommandLineOption rightsOption(
        QStringLiteral("rights"),
        QStringLiteral("operator add: the rights, comma-separated: ") +
            op::rightKeys().join(QLatin1Char(',')) + QStringLiteral(" (admin: every right)."),
        QStringLiteral("LIST"));
    const QCommandLineOption passwordStdin(
        QStringLiteral("password-stdin"),
        QStringLiteral("operator add, operator password: read the password from the first line "
                       "of standard input (else it is asked on the terminal, twice)."));
    const QCommandLineOption toOption(
        QStringLiteral("to"),
        QStringLiteral("backup: the folder of the backups (default: [site] backup-dir)."),
        QStringLiteral("DIR"));
    const QCommandLineOption keepOption(
        QStringLiteral("keep"),
        QStringLiteral("backup: the newest backups kept, 1 to 10000 (default: [site] "
                       "backup-keep, else 14)."),
        QStringLiteral("N"));
    const QCommandLineOption prometheusOption(
        QStringLiteral("prometheus"),
        QStringLiteral("status: write the status also in the text format of a node exporter's "
                       "textfile collector to FILE (replaced at once, mode 0644)."),
        QStringLiteral("FILE"));
    const QCommandLineOption terminalOption(
        QStringLiteral("terminal"), QStringLiteral("cards: the terminal whose cards they are."),
        QStringLiteral("N"));
    const QCommandLineOption replaceOption(
        QStringLiteral("replace"),
        QStringLiteral("cards import: the file's cards replace the terminal's (else they are "
                       "added, and cards on the terminal get the file's employee). employees "
                       "import: the file is the whole list; employees absent from it leave "
                       "today."));
    p.addOptions(lines.list());
    p.addOptions({json, dryRun, force, clear, rightsOption, passwordStdin, toOption, keepOption,
                  prometheusOption, terminalOption, replaceOption});
    p.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral(
            "sync-names, sync-clocks, nightly, status, assign, unassign, operator, backup, cards "
            "or employees."));
    p.addPositionalArgument(QStringLiteral("N"),
                            QStringLiteral("Terminal numbers (default: every terminal)."),
                            QStringLiteral("[N ...]"));
    if (!p.parse(app.arguments()))
        return fail(BadArguments, p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Ok;
    }
    if (p.isSet(QStringLiteral("version"))) {
        sayLine(QStringLiteral("brackwater-site ") + QCoreApplication::applicationVersion());
        return Ok;
    }

    QStringList args = p.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    bw::host::site::Request rq;
    rq.steps = stepsOf(command);
    const bool status = command == QLatin1String("status");
    const bool assign = command == QLatin1String("assign");
    const bool unassign = command == QLatin1String("unassign");
    if (p.isSet(prometheusOption) &&
        (command != QLatin1String("status") || p.value(prometheusOption).isEmpty()))
        return fail(BadArguments, QStringLiteral("--prometheus FILE goes with status"));
    if ((p.isSet(toOption) || p.isSet(keepOption)) && command != QLatin1String("backup"))
        return fail(BadArguments, QStringLiteral("--to and --keep go with backup"));
    const bool employees = command == QLatin1String("employees");
    if ((p.isSet(terminalOption) || p.isSet(replaceOption)) && command != QLatin1String("cards") &&
        !employees)
        return fail(BadArguments, QStringLiteral("--terminal and --replace go with cards"));
    // Every command reaches the database and the lines through the same options.
    bw::host::LineSetup setup;
    QString wrong;
    if (!bw::host::applyLineOptions(p, lines, setup, wrong))
        return fail(BadArguments, wrong);
    if (command == QLatin1String("cards") || employees) {
        const QString verb = args.value(0);
        if (employees || verb == QLatin1String("lost") || verb == QLatin1String("replace") ||
            verb == QLatin1String("return")) {
            if (p.isSet(terminalOption))
                return fail(BadArguments, QStringLiteral("--terminal goes with cards import and "
                                                         "cards export"));
            return registerCommand(setup, command, args, p.isSet(replaceOption));
        }
        return cardsCommand(setup, args, p.value(terminalOption), p.isSet(replaceOption));
    }
    if (command == QLatin1String("operator")) {
        if (!setup.missingDatabase.isEmpty())
            return fail(NoDatabase, setup.missingDatabase);
        return operatorCommand(setup.connection, args, p.value(rightsOption),
                               p.isSet(passwordStdin), p.isSet(json));
    }
    if (command == QLatin1String("token")) {
        if (!setup.missingDatabase.isEmpty())
            return fail(NoDatabase, setup.missingDatabase);
        return tokenCommand(setup.connection, args, p.value(rightsOption));
    }
    if (command == QLatin1String("backup")) {
        if (!args.isEmpty())
            return fail(BadArguments, QStringLiteral("backup takes no terminal numbers"));
        return backupCommand(setup, p.value(toOption),
                             p.isSet(keepOption) ? p.value(keepOption) : QString());
    }
    if (p.isSet(rightsOption) || p.isSet(passwordStdin))
        return fail(BadArguments, QStringLiteral("--rights and --password-stdin go with operator"));
    if (rq.steps.isEmpty() && !status && !assign && !unassign)
        return fail(
            BadArguments,
            (command.isEmpty()
                 ? QStringLiteral("no command")
                 : QStringLiteral("unknown command \"%1\"").arg(bw::host::printable(command))) +
                QStringLiteral("; usage: ") + QString::fromLatin1(Usage));
    const bool names = command == QLatin1String("sync-names");
    const bool nightly = command == QLatin1String("nightly");
    const bool clocks = command == QLatin1String("sync-clocks");
    if (p.isSet(dryRun) && !names)
        return fail(BadArguments, QStringLiteral("--dry-run goes with sync-names"));
    if (p.isSet(force) && !names && !clocks)
        return fail(BadArguments, QStringLiteral("--force goes with sync-names and sync-clocks"));
    if (p.isSet(clear) && !nightly)
        return fail(BadArguments, QStringLiteral("--clear goes with nightly"));
    if (nightly && !args.isEmpty())
        return fail(BadArguments, QStringLiteral("nightly works every terminal: ") + args.first());
    if ((assign || unassign) && args.isEmpty())
        return fail(BadArguments, command + QStringLiteral(" needs terminal numbers"));
    for (const QString& v : args) {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > 255)
            return fail(BadArguments, QStringLiteral("bad terminal number: ") + v);
        if (!rq.terminals.contains(n))
            rq.terminals << n;
    }
    rq.dryRun = p.isSet(dryRun);
    rq.force = p.isSet(force) && names;
    rq.forceClock = p.isSet(force) && clocks;
    rq.clear = p.isSet(clear);

    // The status has a short wait of its own; the other commands wait as long as asked.
    if (setup.lineWaitGiven && !status)
        bw::setLineLockWaitMs(setup.lineWaitMs);
    rq.connection = setup.connection;
    if (setup.noWorkstation && !assign)
        return fail(BadArguments,
                    QStringLiteral("--workstation \"\" goes with assign (to no workstation)"));
    if (unassign && p.isSet(lines.workstation))
        return fail(BadArguments, QStringLiteral("unassign goes without --workstation"));
    if (assign || unassign) {
        if (!setup.missingDatabase.isEmpty())
            return fail(NoDatabase, setup.missingDatabase);
        return assignTerminals(rq.connection, rq.terminals,
                               unassign || setup.noWorkstation ? QString()
                                                               : bw::host::workstation());
    }
    const bool asJson = p.isSet(json);
    // The operator this program acts as, with its rights: a step it may not take is refused
    // and nothing is sent.
    if (setup.missingDatabase.isEmpty()) {
        try {
            const bw::host::site::Acting acting =
                bw::host::site::programOperator(rq.connection, caption());
            rq.user = acting.name;
            rq.rights = acting.rights;
        } catch (const op::Refused& r) {
            return refused(r);
        } catch (const bw::Error& e) {
            return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
        }
    }
    if (status) {
        bw::host::site::StatusRequest srq;
        srq.connection = rq.connection;
        srq.terminals = rq.terminals;
        if (setup.lineWaitGiven)
            srq.lineWaitMs = setup.lineWaitMs;
        return printStatus(srq, asJson, setup.missingDatabase, p.value(prometheusOption));
    }
    QJsonArray results;
    QString error = setup.missingDatabase;
    bw::host::site::RunSummary summary;
    if (error.isEmpty()) {
        summary = bw::host::site::runSite(rq, [&](const bw::host::site::StepResult& r) {
            if (!asJson) {
                sayLine(bw::host::site::resultLine(r));
                return;
            }
            results.append(QJsonObject{{QStringLiteral("terminal"), r.terminal},
                                       {QStringLiteral("step"), bw::host::site::stepName(r.step)},
                                       {QStringLiteral("ok"), r.ok},
                                       {QStringLiteral("busy"), r.busy()},
                                       {QStringLiteral("result"), bw::host::site::resultWords(r)}});
        });
        if (!summary.databaseOpened)
            error = QStringLiteral("cannot use the database: ") + summary.databaseError;
        for (const QString& line : summary.skipped)
            std::fprintf(stderr, "brackwater-site: %s\n", line.toUtf8().constData());
    }
    // What the run leaves needing a hand, read afresh: one line per terminal at priority err,
    // and the run ends failed, so that the service's OnFailure= unit can tell someone.
    QJsonArray needHand;
    if (nightly && error.isEmpty()) {
        bw::host::site::StatusRequest srq;
        srq.connection = rq.connection;
        if (setup.lineWaitGiven)
            srq.lineWaitMs = setup.lineWaitMs;
        try {
            for (const bw::host::site::TerminalStatus& s : bw::host::site::readStatus(srq)) {
                QStringList hands;
                for (const auto h : s.handsNeeded())
                    hands
                        << (h == bw::host::site::TerminalStatus::Hand::TwoUnits
                                ? QStringLiteral("two units answer to terminal %1").arg(s.terminal)
                                : bw::host::site::handName(h));
                if (hands.isEmpty())
                    continue;
                needHand.append(s.terminal);
                bw::host::alertLine(
                    "brackwater-site",
                    QStringLiteral("terminal %1%2 needs a hand: %3")
                        .arg(s.terminal)
                        .arg(s.port.isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (%1%2)").arg(
                                       s.port, s.place.isEmpty() ? QString()
                                                                 : QStringLiteral(", ") + s.place),
                             hands.join(QStringLiteral(", "))));
            }
        } catch (const bw::Error& e) {
            needHand.append(QJsonValue());
            bw::host::alertLine("brackwater-site",
                                QStringLiteral("the terminals' status cannot be read: ") +
                                    e.description());
        }
    }
    // The nightly run's backup, after its steps, when the settings name a folder for it.
    std::optional<bk::Outcome> backedUp;
    if (nightly && error.isEmpty() && !setup.backupDir.isEmpty()) {
        backedUp = backupOn(rq.connection, setup.backupDir,
                            setup.backupKeep > 0 ? setup.backupKeep : bk::DefaultKeep);
        if (backedUp->ok() && !asJson)
            sayLine(bk::describe(*backedUp));
        else if (!backedUp->ok())
            fail(TerminalFailed, bk::describe(*backedUp));
    }
    // The first nightly run of a month makes last month's files, where [report] out-dir is set.
    namespace rp = bw::host::report;
    rp::MonthFilesOutcome month;
    if (nightly && error.isEmpty()) {
        try {
            bw::store::SqlConnection cn(rq.connection);
            month = rp::makeLastMonthFiles(cn, setup.saved, QDate::currentDate(), bw::uiLanguage());
        } catch (const bw::Error& e) {
            month.state = rp::MonthFilesOutcome::State::Failed;
            month.failure = e.description();
        }
        if (month.state == rp::MonthFilesOutcome::State::Made && !asJson)
            sayLine(QStringLiteral("month %1: %2 and %3 written")
                        .arg(month.made.month, bw::host::printable(month.made.workbook),
                             bw::host::printable(month.made.payroll)));
        else if (month.state == rp::MonthFilesOutcome::State::Failed)
            fail(TerminalFailed, QStringLiteral("month %1 not written: %2")
                                     .arg(month.made.month, bw::host::printable(month.failure)));
    }
    if (summary.notAllowed > 0)
        std::fprintf(stderr, "brackwater-site: not allowed: %s may not take %d of the steps\n",
                     bw::host::printable(rq.user).toUtf8().constData(), summary.notAllowed);
    if (summary.unwritten > 0)
        std::fprintf(stderr, "brackwater-site: %s\n",
                     bw::host::site::unwrittenLine(summary.unwritten).toUtf8().constData());
    const int rc = !error.isEmpty()                                      ? fail(NoDatabase, error)
                   : summary.unwritten > 0                               ? NoDatabase
                   : summary.notAllowed > 0                              ? NotAllowed
                   : summary.busy > 0                                    ? LineBusy
                   : summary.failed > 0                                  ? TerminalFailed
                   : !needHand.isEmpty()                                 ? TerminalFailed
                   : backedUp && !backedUp->ok()                         ? TerminalFailed
                   : month.state == rp::MonthFilesOutcome::State::Failed ? TerminalFailed
                                                                         : Ok;
    if (asJson) {
        QJsonObject doc{{QStringLiteral("command"), command},
                        {QStringLiteral("dryRun"), rq.dryRun},
                        {QStringLiteral("results"), results},
                        {QStringLiteral("exit"), rc}};
        if (!error.isEmpty())
            doc[QStringLiteral("error")] = error;
        if (backedUp)
            doc[QStringLiteral("backup")] = bk::describe(*backedUp);
        if (nightly)
            doc[QStringLiteral("needsHand")] = needHand;
        if (month.state == rp::MonthFilesOutcome::State::Made)
            doc[QStringLiteral("monthFiles")] =
                QJsonArray{month.made.month, month.made.workbook, month.made.payroll};
        sayLine(QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
    }
    return rc;
}
