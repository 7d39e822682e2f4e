#include "store/connection_string.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace bw::store {

namespace {

// "Key=Value;Key=Value" into lower-cased keys with their (trimmed) values.
QHash<QString, QString> keyValues(const QString& text) {
    QHash<QString, QString> out;
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        out.insert(part.left(eq).trimmed().toLower(), part.mid(eq + 1).trimmed());
    }
    return out;
}

QString firstOf(const QHash<QString, QString>& kv, std::initializer_list<const char*> keys) {
    for (const char* k : keys) {
        auto it = kv.constFind(QString::fromLatin1(k));
        if (it != kv.constEnd())
            return *it;
    }
    return QString();
}

// A schema name goes into the server's search path through the "options" connect option.
QString schemaOption(const QString& schema) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (schema.isEmpty() || !plain.match(schema).hasMatch())
        return QString();
    return QStringLiteral("options=-csearch_path=") + schema;
}

void appendOption(QString& options, const QString& option) {
    if (option.isEmpty())
        return;
    if (!options.isEmpty())
        options += QLatin1Char(';');
    options += option;
}

BackendSettings sqliteFile(const QString& path) {
    BackendSettings out;
    out.kind = BackendSettings::Kind::Sqlite;
    out.driver = QStringLiteral("QSQLITE");
    out.databaseName = path;
    out.connectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
    if (path.isEmpty()) {
        out.kind = BackendSettings::Kind::Invalid;
        out.problem = QStringLiteral("no database file named");
    }
    return out;
}

// A file that several computers share through a file server may be on a local disk of one
// of them: that one is told to keep the rollback journal with "Journal Mode=Delete".
BackendSettings sqliteKeyValues(const QHash<QString, QString>& kv) {
    BackendSettings out = sqliteFile(firstOf(kv, {"data source", "database", "file"}));
    const QString mode = firstOf(kv, {"journal mode", "journal_mode"}).toLower();
    static const QStringList known{QStringLiteral("delete"), QStringLiteral("truncate"),
                                   QStringLiteral("persist"), QStringLiteral("wal")};
    if (mode.isEmpty() || out.kind == BackendSettings::Kind::Invalid)
        return out;
    if (known.contains(mode)) {
        out.journalMode = mode;
    } else {
        out.kind = BackendSettings::Kind::Invalid;
        out.problem = QStringLiteral("unknown journal mode (Delete, Truncate, Persist or WAL)");
    }
    return out;
}

// Why Qt refused a URL, without the URL itself: Qt's own text quotes the whole source and its
// user information, password included, and names the character it refused.
QString urlProblem(const QString& text, const QUrl& url) {
    static const QRegularExpression character(QStringLiteral("\\(character '.*' not permitted\\)"));
    QString why = url.errorString().section(QStringLiteral("; source was"), 0, 0);
    why.replace(character, QStringLiteral("(a character that must be written as %XX)"));
    const QString authority = text.section(QStringLiteral("://"), 1).section(u'/', 0, 0);
    if (authority.count(u'@') > 1)
        why += QStringLiteral("; an @ in the user name or password is written %40");
    return why;
}

BackendSettings postgresUrl(const QString& text) {
    BackendSettings out;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        out.problem = QStringLiteral("not a valid PostgreSQL address: ") + urlProblem(text, url);
        return out;
    }
    out.kind = BackendSettings::Kind::Postgres;
    out.driver = QStringLiteral("QPSQL");
    out.host = url.host();
    out.port = url.port(-1);
    out.user = url.userName(QUrl::FullyDecoded);
    out.password = url.password(QUrl::FullyDecoded);
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    out.databaseName = path;
    const QUrlQuery query(url);
    for (const auto& item : query.queryItems(QUrl::FullyDecoded)) {
        if (item.first.compare(QLatin1String("schema"), Qt::CaseInsensitive) == 0)
            appendOption(out.connectOptions, schemaOption(item.second));
        else
            appendOption(out.connectOptions, item.first + QLatin1Char('=') + item.second);
    }
    return out;
}

BackendSettings postgresKeyValues(const QHash<QString, QString>& kv) {
    BackendSettings out;
    out.kind = BackendSettings::Kind::Postgres;
    out.driver = QStringLiteral("QPSQL");
    out.host = firstOf(kv, {"host", "server", "data source"});
    bool ok = false;
    const int port = firstOf(kv, {"port"}).toInt(&ok);
    out.port = ok ? port : -1;
    out.databaseName = firstOf(kv, {"database", "initial catalog", "dbname"});
    out.user = firstOf(kv, {"user id", "user", "uid", "username"});
    out.password = firstOf(kv, {"password", "pwd"});
    appendOption(out.connectOptions, schemaOption(firstOf(kv, {"schema", "search path"})));
    const QString timeout = firstOf(kv, {"timeout", "connect timeout"});
    if (!timeout.isEmpty())
        appendOption(out.connectOptions, QStringLiteral("connect_timeout=") + timeout);
    return out;
}

// One value of an ODBC connection string; braces keep ';', '{' and '}' and outer blanks in it.
QString odbcValue(const QString& value) {
    static const QRegularExpression special(QStringLiteral("[;{}]|^\\s|\\s$"));
    if (!value.contains(special))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

void appendOdbc(QString& text, const char* key, const QString& value) {
    if (value.isEmpty())
        return;
    if (!text.isEmpty())
        text += QLatin1Char(';');
    text += QLatin1String(key) + QLatin1Char('=') + odbcValue(value);
}

BackendSettings odbcSettings(const QString& odbcText) {
    BackendSettings out;
    out.kind = BackendSettings::Kind::Odbc;
    out.driver = QStringLiteral("QODBC");
    out.databaseName = odbcText;
    return out;
}

bool isYes(const QString& value) {
    const QString v = value.toLower();
    return v == QLatin1String("sspi") || v == QLatin1String("true") || v == QLatin1String("yes");
}

// A Windows host's SQL Server string (Provider=SQLOLEDB.1) through the FreeTDS ODBC driver.
// Data Source may be "host", "host,port", "tcp:host,port", "host\instance" or "(local)".
BackendSettings sqlServerThroughFreeTds(const QHash<QString, QString>& kv) {
    QString source = firstOf(kv, {"data source", "server", "address", "addr", "network address"});
    if (source.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        source.remove(0, 4);
    QString port;
    const qsizetype comma = source.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        port = source.mid(comma + 1).trimmed();
        source = source.left(comma).trimmed();
    }
    // This machine by Windows' names; FreeTDS reaches it over TCP.
    const qsizetype slash = source.indexOf(QLatin1Char('\\'));
    const QString machine = slash >= 0 ? source.left(slash) : source;
    if (machine == QLatin1String(".") ||
        machine.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
        source = QStringLiteral("127.0.0.1") + source.mid(machine.size());
    BackendSettings out;
    if (source.isEmpty()) {
        out.problem = QStringLiteral("no SQL Server named (Data Source)");
        return out;
    }
    if (isYes(firstOf(kv, {"integrated security", "trusted_connection"}))) {
        out.problem = QStringLiteral("Windows sign-in (Integrated Security) is not available "
                                     "here; give User ID and Password");
        return out;
    }
    QString odbc = QStringLiteral("Driver={FreeTDS}");
    appendOdbc(odbc, "Server", source);
    appendOdbc(odbc, "Port", port);
    appendOdbc(odbc, "Database", firstOf(kv, {"initial catalog", "database"}));
    appendOdbc(odbc, "UID", firstOf(kv, {"user id", "uid", "user"}));
    appendOdbc(odbc, "PWD", firstOf(kv, {"password", "pwd"}));
    appendOdbc(odbc, "ClientCharset", QStringLiteral("UTF-8"));
    out = odbcSettings(odbc);
    // FreeTDS waits for the server's connection by the one and for its sign-in by the other.
    const QString timeout = firstOf(kv, {"connect timeout", "timeout"});
    if (!timeout.isEmpty())
        out.connectOptions =
            QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(timeout);
    return out;
}

// A Windows host's Access string (Provider=Microsoft.Jet.OLEDB.4.0) through the MDB Tools
// ODBC driver; Data Source names the .mdb file on this machine.
BackendSettings accessThroughMdbTools(const QHash<QString, QString>& kv) {
    const QString file = firstOf(kv, {"data source", "dbq"});
    if (file.isEmpty()) {
        BackendSettings out;
        out.problem = QStringLiteral("no Access database file named (Data Source)");
        return out;
    }
    QString odbc = QStringLiteral("Driver={MDBTools}");
    appendOdbc(odbc, "DBQ", file);
    return odbcSettings(odbc);
}

// Whether "key=value;key=value" options set key (case aside).
bool hasOption(const QString& options, const QString& key) {
    for (const QString& part : options.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (part.section(QLatin1Char('='), 0, 0).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

QString connectOptionsWithTimeouts(const BackendSettings& settings, int timeoutS) {
    QList<QPair<QString, int>> wanted;
    if (settings.kind == BackendSettings::Kind::Postgres)
        wanted = {{QStringLiteral("connect_timeout"), timeoutS},
                  {QStringLiteral("keepalives_idle"), timeoutS},
                  {QStringLiteral("keepalives_interval"), timeoutS},
                  {QStringLiteral("keepalives_count"), 3},
                  {QStringLiteral("tcp_user_timeout"), 4 * timeoutS * 1000}};
    else if (settings.kind == BackendSettings::Kind::Odbc)
        wanted = {{QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT"), timeoutS},
                  {QStringLiteral("SQL_ATTR_CONNECTION_TIMEOUT"), timeoutS}};
    QString options = settings.connectOptions;
    for (const auto& [key, value] : wanted)
        if (!hasOption(options, key))
            appendOption(options, key + QLatin1Char('=') + QString::number(value));
    return options;
}

BackendSettings parseConnectionString(const QString& connectionString) {
    const QString text = connectionString.trimmed();
    const QString lower = text.toLower();

    if (lower.startsWith(QLatin1String("sqlite://")))
        return sqliteFile(text.mid(9));
    if (lower.startsWith(QLatin1String("sqlite:")))
        return sqliteFile(text.mid(7));
    if (lower.startsWith(QLatin1String("postgresql://")) ||
        lower.startsWith(QLatin1String("postgres://")))
        return postgresUrl(text);
    if (lower.startsWith(QLatin1String("odbc:"))) {
        BackendSettings out = odbcSettings(text.mid(5));
        if (out.databaseName.isEmpty()) {
            out.kind = BackendSettings::Kind::Invalid;
            out.problem = QStringLiteral("no ODBC data source named");
        }
        return out;
    }
    if (text.contains(QLatin1Char('=')) && text.contains(QLatin1Char(';'))) {
        const auto kv = keyValues(text);
        const QString provider = kv.value(QStringLiteral("provider")).toLower();
        if (provider == QLatin1String("postgresql") || provider == QLatin1String("postgres") ||
            provider == QLatin1String("pgsql"))
            return postgresKeyValues(kv);
        if (provider == QLatin1String("sqlite"))
            return sqliteKeyValues(kv);
        if (provider == QLatin1String("sqloledb") || provider == QLatin1String("sqloledb.1"))
            return sqlServerThroughFreeTds(kv);
        if (provider == QLatin1String("microsoft.jet.oledb.4.0"))
            return accessThroughMdbTools(kv);
        BackendSettings out;
        out.problem =
            QStringLiteral("unsupported provider: ") + kv.value(QStringLiteral("provider"));
        return out;
    }
    if (lower.endsWith(QLatin1String(".db")) || lower.endsWith(QLatin1String(".sqlite")) ||
        lower.endsWith(QLatin1String(".sqlite3")))
        return sqliteFile(text);

    BackendSettings out;
    out.problem = QStringLiteral("unrecognised connection string");
    return out;
}

QString maskPassword(const QString& connection) {
    // URL form: the part between "user:" and the last "@", as a password may hold an "@" or
    // "/" that was not written %XX, and in a URL's query all from Password, PWD or SSLPassword
    // on (a ';' there is no separator, and its later items go with it); key form: the value of
    // one of these keys, quoted ({...} with "}}" for a brace, "..." with "" for a quote, '...'
    // with '' for an apostrophe; each may hold ';' and may be left open), and whatever follows
    // up to the next ';'.
    static const QRegularExpression url(QStringLiteral("^(\\s*[a-z][a-z0-9+.-]*://[^:/@?#]*:).*@"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression query(
        QStringLiteral(
            "^(\\s*[a-z][a-z0-9+.-]*://[^?#]*\\?(?:.*?&)??\\s*(?:password|pwd|sslpassword)"
            "\\s*=).*"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression key(
        QStringLiteral("(^|;|:)(\\s*(?:password|pwd|sslpassword)\\s*=\\s*)"
                       "((?:\\{(?:[^}]|\\}\\})*\\}?|\"(?:[^\"]|\"\")*\"?|'(?:[^']|'')*'?)?[^;]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString out = connection;
    out.replace(url, QStringLiteral("\\1***@"));
    out.replace(query, QStringLiteral("\\1***"));
    out.replace(key, QStringLiteral("\\1\\2***"));
    return out;
}

} // namespace bw::store
