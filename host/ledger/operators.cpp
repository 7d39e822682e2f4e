#include "host/ledger/operators.h"

#include "messages/catalogue.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QSqlDriver>
#include <QVariant>
#include <libpq-fe.h>
#include <pwd.h>
#include <sodium.h>
#include <unistd.h>

namespace bw::host::operators {

namespace {

// The terminal window's functions under the caption: the message ids of their texts.
struct RightDef {
    const char* key;
    int message;            // the terminal window's function (caption + text), or 0
    const char* functionId; // a function of the host's own, or nullptr
};
const RightDef kRights[] = {
    {"add", 1062, nullptr},         {"save", 1063, nullptr},  {"delete", 1064, nullptr},
    {"edit", 1065, nullptr},        {"test", 1066, nullptr},  {"clock", 1067, nullptr},
    {"bells", 1068, nullptr},       {"init", 1069, nullptr},  {"collect", 0, "采集数据"},
    {"clear", 0, "采集数据并清除"}, {"names", 0, "下载名单"}, {"cards", 0, "卡号管理"},
};

constexpr int MaxNameBytes = 63; // a PostgreSQL role name
constexpr int MaxPasswordBytes = 1024;

void checkName(const QString& name) {
    bool bad = name.trimmed().isEmpty() || name != name.trimmed() ||
               name.toUtf8().size() > MaxNameBytes || name == QLatin1String("*");
    for (const QChar c : name)
        bad = bad || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    if (bad)
        throw Refused(Refusal::BadName, name);
}

void checkPasswordText(const QString& password, const QString& name) {
    if (password.isEmpty() || password.toUtf8().size() > MaxPasswordBytes)
        throw Refused(Refusal::BadPassword, name);
}

bool tableHas(store::SqlConnection& cn, const QString& sql, const QVariantList& values) {
    const auto rows = cn.queryBound(sql, values);
    return !rows.isEmpty() && rows.first().value(0).toLongLong() > 0;
}

bool isAdministrator(store::SqlConnection& cn, const QString& name) {
    return tableHas(cn,
                    QStringLiteral("SELECT COUNT(*) FROM UserGrants g JOIN Operators o ON o.Name = "
                                   "g.UserName AND o.Disabled = 0 WHERE g.UserName = ? AND "
                                   "g.FunctionName = '*'"),
                    {name});
}

bool isOperator(store::SqlConnection& cn, const QString& name) {
    return tableHas(cn, QStringLiteral("SELECT COUNT(*) FROM Operators WHERE Name = ?"), {name});
}

// Administrators that stay enabled with the right when `name` loses it or is disabled.
bool otherAdministrators(store::SqlConnection& cn, const QString& name) {
    return tableHas(cn,
                    QStringLiteral("SELECT COUNT(*) FROM UserGrants g JOIN Operators o ON o.Name = "
                                   "g.UserName AND o.Disabled = 0 WHERE g.UserName <> ? AND "
                                   "g.FunctionName = '*'"),
                    {name});
}

QStringList functionsOfKeys(const QStringList& keys, const QString& caption) {
    QStringList functions;
    for (const QString& key : keys)
        for (const QString& f : functionsOf(key, caption))
            if (!functions.contains(f))
                functions << f;
    return functions;
}

// The PostgreSQL verifier of a password (SCRAM-SHA-256 as the server is set to take it), made
// here so that the password itself never reaches the server's statements or its log.
QString serverVerifier(store::SqlConnection& cn, const QString& name, const QString& password) {
    const QVariant handle = cn.database().driver()->handle();
    PGconn* pg = handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                      qstrcmp(handle.typeName(), "pg_conn*") == 0)
                     ? *static_cast<PGconn* const*>(handle.data())
                     : nullptr;
    if (!pg)
        throw Error(store::dberr::ProviderFailure,
                    QStringLiteral("Cannot make a password verifier: no server connection (%1)")
                        .arg(QString::fromLatin1(handle.typeName())));
    char* made = PQencryptPasswordConn(pg, password.toUtf8().constData(), name.toUtf8().constData(),
                                       nullptr);
    if (!made)
        throw Error(store::dberr::ProviderFailure,
                    QStringLiteral("Cannot make a password verifier: %1")
                        .arg(QString::fromUtf8(PQerrorMessage(pg)).trimmed()));
    const QString verifier = QString::fromLatin1(made);
    PQfreemem(made);
    return verifier;
}

// A server's refusal raised by the schema's functions: the refusal's name in the message
// ("bw:Refusal"), so that it travels typed through the driver.
const struct {
    const char* tag;
    Refusal why;
} kServerRefusals[] = {
    {"bw:NotAdministrator", Refusal::NotAdministrator},
    {"bw:Exists", Refusal::Exists},
    {"bw:NoSuchOperator", Refusal::NoSuchOperator},
    {"bw:LastAdministrator", Refusal::LastAdministrator},
    {"bw:BadName", Refusal::BadName},
};

// Runs one of the schema's operator functions; its refusal comes back as Refused.
void callServer(store::SqlConnection& cn, const QString& sql, const QVariantList& values,
                const QString& name) {
    try {
        cn.queryBound(sql, values);
    } catch (const Error& e) {
        for (const auto& r : kServerRefusals)
            if (e.description().contains(QLatin1String(r.tag)))
                throw Refused(r.why, name);
        throw;
    }
}

QString arrayLiteral(const QStringList& items) {
    QStringList quoted;
    for (QString item : items)
        quoted << QLatin1Char('"') +
                      item.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
                          .replace(QLatin1Char('"'), QLatin1String("\\\"")) +
                      QLatin1Char('"');
    return QLatin1Char('{') + quoted.join(QLatin1Char(',')) + QLatin1Char('}');
}

// A server that answered the sign-in with its refusal (rather than not being there).
bool serverRefused(const Error& e) {
    return e.description().contains(QLatin1String("FATAL"));
}

} // namespace

QString describe(const Refused& r) {
    const QString n = r.name;
    switch (r.why) {
    case Refusal::WrongSignIn:
        return QStringLiteral("wrong operator name or password, or the operator is disabled");
    case Refusal::NoPasswordYet:
        return QStringLiteral("operator %1 has no password yet: sign in once in the window").arg(n);
    case Refusal::NotAnOperator:
        return QStringLiteral("%1 is no operator of this database (or is disabled)").arg(n);
    case Refusal::NotAdministrator:
        return QStringLiteral("only an administrator changes operators");
    case Refusal::BadName:
        return QStringLiteral("an operator name is 1 to 63 bytes without control characters");
    case Refusal::BadPassword:
        return QStringLiteral("a password is 1 to 1024 bytes");
    case Refusal::Exists:
        return QStringLiteral("the name %1 is taken").arg(n);
    case Refusal::NoSuchOperator:
        return QStringLiteral("no operator %1").arg(n);
    case Refusal::LastAdministrator:
        return QStringLiteral("%1 is the last administrator").arg(n);
    case Refusal::UnknownRight:
        return QStringLiteral("unknown right %1 (rights: admin, %2)")
            .arg(n, rightKeys().mid(1).join(QStringLiteral(", ")));
    }
    return QString();
}

QStringList rightKeys() {
    QStringList keys{QStringLiteral("admin")};
    for (const RightDef& r : kRights)
        keys << QString::fromLatin1(r.key);
    return keys;
}

QStringList functionsOf(const QString& key, const QString& caption) {
    if (key == QLatin1String("admin"))
        return {QStringLiteral("*")};
    for (const RightDef& r : kRights) {
        if (key != QLatin1String(r.key))
            continue;
        if (r.functionId)
            return {QString::fromUtf8(r.functionId)};
        QStringList both{caption + messages::text(r.message, 2052)};
        const QString traditional = caption + messages::text(r.message, 1028);
        if (!both.contains(traditional))
            both << traditional;
        return both;
    }
    return {};
}

QStringList keysOf(const QStringList& functions, const QString& caption) {
    QStringList keys;
    for (const QString& key : rightKeys())
        for (const QString& f : functionsOf(key, caption))
            if (functions.contains(f) && !keys.contains(key))
                keys << key;
    return keys;
}

QStringList parseRights(const QString& list) {
    QStringList keys;
    for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key =
            part.trimmed() == QLatin1String("*") ? QStringLiteral("admin") : part.trimmed();
        if (!rightKeys().contains(key))
            throw Refused(Refusal::UnknownRight, key);
        if (!keys.contains(key))
            keys << key;
    }
    return keys;
}

QString desktopAccount() {
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? int(size) : 16384, '\0');
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buffer.data(), size_t(buffer.size()), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(geteuid());
}

bool serverSignsIn(store::SqlConnection& cn) {
    // Through ODBC the session cannot be opened as the operator: its table serves there.
    return cn.backend() == store::BackendSettings::Kind::Postgres;
}

QString hashPassword(const QString& password) {
    if (sodium_init() < 0)
        throw Error(store::dberr::ProviderFailure, QStringLiteral("libsodium cannot start"));
    const QByteArray pw = password.toUtf8();
    char out[crypto_pwhash_argon2id_STRBYTES];
    if (crypto_pwhash_argon2id_str(out, pw.constData(), quint64(pw.size()),
                                   crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE,
                                   crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE) != 0)
        throw Error(store::dberr::ProviderFailure,
                    QStringLiteral("Cannot hash the password: out of memory"));
    return QString::fromLatin1(out);
}

bool checkPassword(const QString& hash, const QString& password) {
    if (sodium_init() < 0)
        return false;
    const QByteArray h = hash.toLatin1();
    const QByteArray pw = password.toUtf8();
    return h.startsWith("$argon2id$") && h.size() < crypto_pwhash_argon2id_STRBYTES &&
           crypto_pwhash_argon2id_str_verify(h.constData(), pw.constData(), quint64(pw.size())) ==
               0;
}

QString signIn(const QString& connection, const QString& name, const QString& password) {
    if (name.isEmpty() || name.toUtf8().size() > MaxNameBytes ||
        password.toUtf8().size() > MaxPasswordBytes)
        throw Refused(Refusal::WrongSignIn, name);
    const store::BackendSettings settings = store::parseConnectionString(connection);
    if (settings.kind == store::BackendSettings::Kind::Postgres) {
        std::unique_ptr<store::SqlConnection> cn;
        try {
            cn = std::make_unique<store::SqlConnection>(connection,
                                                        store::ServerSignIn{name, password});
        } catch (const Error& e) {
            if (serverRefused(e))
                throw Refused(Refusal::WrongSignIn, name);
            throw;
        }
        const auto who = cn->queryBound(QStringLiteral("SELECT session_user"));
        const QString role = who.isEmpty() ? name : who.first().value(0).toString();
        // A role of the server that is no operator of this site (its owner, another program's
        // role) does not sign in here.
        if (!tableHas(*cn,
                      QStringLiteral("SELECT COUNT(*) FROM Operators WHERE Name = ? AND "
                                     "Disabled = 0"),
                      {role}))
            throw Refused(Refusal::WrongSignIn, name);
        store::setServerSignIn({role, password});
        return role;
    }
    store::SqlConnection cn(connection);
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT PasswordHash, Disabled FROM Operators WHERE Name = ?"), {name});
    const QString hash = rows.isEmpty() ? QString() : rows.first().value(0).toString();
    const bool disabled = rows.isEmpty() || rows.first().value(1).toLongLong() != 0;
    if (!disabled && hash.isEmpty() && name == desktopAccount())
        throw Refused(Refusal::NoPasswordYet, name);
    // The check runs for an unknown name too, on a hash of the same cost, so that the time
    // taken tells nothing.
    static const QString dummy =
        QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$E97kYwVayPSNRS9T0NJRbA$"
                       "GiEXNoUbQ1Q2qAOE97lxaB/Q0X7quK+At2FxAc3WeoI");
    const bool matches = checkPassword(hash.isEmpty() ? dummy : hash, password);
    if (disabled || hash.isEmpty() || !matches)
        throw Refused(Refusal::WrongSignIn, name);
    return name;
}

void setFirstPassword(const QString& connection, const QString& name, const QString& password) {
    checkPasswordText(password, name);
    store::SqlConnection cn(connection);
    if (serverSignsIn(cn) || name != desktopAccount())
        throw Refused(Refusal::WrongSignIn, name);
    const QString hash = hashPassword(password);
    const int changed = cn.executeBound(
        QStringLiteral("UPDATE Operators SET PasswordHash = ? WHERE Name = ? AND Disabled = 0 AND "
                       "(PasswordHash IS NULL OR PasswordHash = '')"),
        {hash, name});
    if (changed != 1)
        throw Refused(Refusal::WrongSignIn, name);
}

bool needsFirstPassword(const QString& connection, const QString& name) {
    if (name.isEmpty() || name != desktopAccount())
        return false;
    try {
        store::SqlConnection cn(connection);
        return signsInUnasked(cn, name);
    } catch (const Error&) {
        return false; // the sign-in itself says what is wrong with the database
    }
}

bool signsInUnasked(store::SqlConnection& cn, const QString& name) {
    return !serverSignsIn(cn) &&
           tableHas(cn,
                    QStringLiteral("SELECT COUNT(*) FROM Operators WHERE Name = ? AND Disabled = 0 "
                                   "AND (PasswordHash IS NULL OR PasswordHash = '')"),
                    {name});
}

bool isSchemaOwner(store::SqlConnection& cn, const QString& name) {
    if (!serverSignsIn(cn))
        return false;
    return tableHas(cn,
                    QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = "
                                   "current_schema() AND tablename = 'machineinfo' AND "
                                   "tableowner = ?"),
                    {name});
}

QString actingOperator(store::SqlConnection& cn) {
    QString name = desktopAccount();
    if (serverSignsIn(cn)) {
        const auto who = cn.queryBound(QStringLiteral("SELECT session_user"));
        name = who.isEmpty() ? QString() : who.first().value(0).toString();
        if (isSchemaOwner(cn, name))
            return name;
    }
    if (!tableHas(cn,
                  QStringLiteral("SELECT COUNT(*) FROM Operators WHERE Name = ? AND Disabled = 0"),
                  {name}))
        throw Refused(Refusal::NotAnOperator, name);
    return name;
}

QList<Operator> listOperators(store::SqlConnection& cn, const QString& caption) {
    QList<Operator> out;
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT Name, Disabled, PasswordHash FROM Operators ORDER BY Name"));
    const auto grants =
        cn.queryBound(QStringLiteral("SELECT UserName, FunctionName FROM UserGrants"));
    const bool server = serverSignsIn(cn);
    for (const QVariantList& row : rows) {
        Operator o;
        o.name = row.value(0).toString();
        o.disabled = row.value(1).toLongLong() != 0;
        o.hasPassword = server || !row.value(2).toString().isEmpty();
        QStringList functions;
        for (const QVariantList& g : grants)
            if (g.value(0).toString() == o.name)
                functions << g.value(1).toString();
        o.rights = keysOf(functions, caption);
        out << o;
    }
    return out;
}

namespace {

void requireAdministrator(store::SqlConnection& cn, const QString& by) {
    if (!serverSignsIn(cn) && !isAdministrator(cn, by))
        throw Refused(Refusal::NotAdministrator, by);
}

void writeGrants(store::SqlConnection& cn, const QString& name, const QStringList& functions) {
    cn.executeBound(QStringLiteral("DELETE FROM UserGrants WHERE UserName = ?"), {name});
    for (const QString& f : functions)
        cn.executeBound(
            QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, ?)"),
            {name, f});
}

// Runs the change in one transaction: all of it or nothing.
void inTransaction(store::SqlConnection& cn, const std::function<void()>& change) {
    cn.BeginTrans();
    try {
        change();
        cn.CommitTrans();
    } catch (...) {
        try {
            cn.RollbackTrans();
        } catch (...) {
        }
        throw;
    }
}

} // namespace

void addOperator(store::SqlConnection& cn, const QString& by, const QString& name,
                 const QStringList& rights, const QString& password, const QString& caption) {
    checkName(name);
    checkPasswordText(password, name);
    const QStringList functions = functionsOfKeys(rights, caption);
    if (serverSignsIn(cn)) {
        callServer(cn, QStringLiteral("SELECT bw_operator_add(?, ?, ?::text[])"),
                   {name, serverVerifier(cn, name, password), arrayLiteral(functions)}, name);
        return;
    }
    requireAdministrator(cn, by);
    if (isOperator(cn, name))
        throw Refused(Refusal::Exists, name);
    const QString hash = hashPassword(password);
    inTransaction(cn, [&] {
        cn.executeBound(QStringLiteral("INSERT INTO Operators (Name, PasswordHash, Disabled) "
                                       "VALUES (?, ?, 0)"),
                        {name, hash});
        writeGrants(cn, name, functions);
    });
}

void setRights(store::SqlConnection& cn, const QString& by, const QString& name,
               const QStringList& rights, const QString& caption) {
    const QStringList functions = functionsOfKeys(rights, caption);
    if (serverSignsIn(cn)) {
        callServer(cn, QStringLiteral("SELECT bw_operator_rights(?, ?::text[])"),
                   {name, arrayLiteral(functions)}, name);
        return;
    }
    requireAdministrator(cn, by);
    if (!isOperator(cn, name))
        throw Refused(Refusal::NoSuchOperator, name);
    if (!functions.contains(QStringLiteral("*")) && !otherAdministrators(cn, name))
        throw Refused(Refusal::LastAdministrator, name);
    inTransaction(cn, [&] { writeGrants(cn, name, functions); });
}

void setPassword(store::SqlConnection& cn, const QString& by, const QString& name,
                 const QString& password) {
    checkPasswordText(password, name);
    if (serverSignsIn(cn)) {
        callServer(cn, QStringLiteral("SELECT bw_operator_password(?, ?)"),
                   {name, serverVerifier(cn, name, password)}, name);
        return;
    }
    if (by != name)
        requireAdministrator(cn, by);
    if (!isOperator(cn, name))
        throw Refused(Refusal::NoSuchOperator, name);
    cn.executeBound(QStringLiteral("UPDATE Operators SET PasswordHash = ? WHERE Name = ?"),
                    {hashPassword(password), name});
}

void disableOperator(store::SqlConnection& cn, const QString& by, const QString& name) {
    if (serverSignsIn(cn)) {
        callServer(cn, QStringLiteral("SELECT bw_operator_disable(?)"), {name}, name);
        return;
    }
    requireAdministrator(cn, by);
    if (!isOperator(cn, name))
        throw Refused(Refusal::NoSuchOperator, name);
    if (!otherAdministrators(cn, name))
        throw Refused(Refusal::LastAdministrator, name);
    cn.executeBound(QStringLiteral("UPDATE Operators SET Disabled = 1 WHERE Name = ?"), {name});
}

void addFirstAdministrator(store::SqlConnection& cn) {
    if (serverSignsIn(cn) || tableHas(cn, QStringLiteral("SELECT COUNT(*) FROM Operators"), {}))
        return;
    const QString name = desktopAccount();
    cn.executeBound(QStringLiteral("INSERT INTO Operators (Name, PasswordHash, Disabled) VALUES "
                                   "(?, NULL, 0)"),
                    {name});
    if (!isAdministrator(cn, name))
        cn.executeBound(
            QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, '*')"),
            {name});
}

void addServiceOperator(store::SqlConnection& cn, const QString& name, const QString& caption) {
    if (serverSignsIn(cn) || isOperator(cn, name))
        return;
    const QStringList functions =
        functionsOfKeys({QStringLiteral("collect"), QStringLiteral("clear"),
                         QStringLiteral("clock"), QStringLiteral("names")},
                        caption);
    inTransaction(cn, [&] {
        cn.executeBound(QStringLiteral("INSERT INTO Operators (Name, PasswordHash, Disabled) "
                                       "VALUES (?, NULL, 0)"),
                        {name});
        writeGrants(cn, name, functions);
    });
}

} // namespace bw::host::operators
