#include "host/ledger/tokens.h"

#include "store/sql_connection.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <stdexcept>

namespace bw::host::tokens {
namespace {

// Tokens are 256 random bits: a plain hash is all a stolen table needs to be useless.
QString hashOf(const QByteArray& secret) {
    return QString::fromLatin1(
        QCryptographicHash::hash(secret, QCryptographicHash::Sha256).toHex());
}

// A file database made before the table was: it is added. A server's schema has it from its
// owner (the operators may not make tables there).
void ensureTable(store::SqlConnection& cn) {
    if (cn.engine() == store::SqlConnection::Engine::Postgres)
        return;
    cn.Execute(QStringLiteral("CREATE TABLE IF NOT EXISTS WebToken (Name VARCHAR(64) NOT NULL "
                              "PRIMARY KEY, Hash VARCHAR(64) NOT NULL, Rights VARCHAR(255), "
                              "Created VARCHAR(20))"));
}

} // namespace

QStringList rightKeys() {
    return {QStringLiteral("status"), QStringLiteral("meals"), QStringLiteral("log")};
}

QString addToken(store::SqlConnection& cn, const QString& name, const QString& list) {
    if (name.isEmpty() || name.size() > 64 ||
        std::any_of(name.cbegin(), name.cend(), [](QChar c) { return !c.isPrint(); }))
        throw std::invalid_argument("a token's name is 1 to 64 printable characters");
    QStringList rights;
    for (const QString& r : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!rightKeys().contains(r.trimmed()))
            throw std::invalid_argument("rights are status, meals and log");
        rights << r.trimmed();
    }
    ensureTable(cn);
    if (!cn.queryBound(QStringLiteral("SELECT 1 FROM WebToken WHERE Name = ?"), {name}).isEmpty())
        throw std::invalid_argument("a token of that name exists");
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray secret =
        "bwt_" + QByteArray(reinterpret_cast<const char*>(words), sizeof words)
                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    cn.executeBound(QStringLiteral("INSERT INTO WebToken (Name, Hash, Rights, Created) VALUES "
                                   "(?, ?, ?, ?)"),
                    {name, hashOf(secret), rights.join(QLatin1Char(',')),
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
    return QString::fromLatin1(secret);
}

QList<Token> listTokens(store::SqlConnection& cn) {
    ensureTable(cn);
    QList<Token> out;
    for (const QVariantList& row :
         cn.queryBound(QStringLiteral("SELECT Name, Rights, Created FROM WebToken ORDER BY Name")))
        out << Token{row.value(0).toString(),
                     row.value(1).toString().split(QLatin1Char(','), Qt::SkipEmptyParts),
                     row.value(2).toString()};
    return out;
}

bool revokeToken(store::SqlConnection& cn, const QString& name) {
    ensureTable(cn);
    return cn.executeBound(QStringLiteral("DELETE FROM WebToken WHERE Name = ?"), {name}) > 0;
}

std::optional<Token> findToken(store::SqlConnection& cn, const QByteArray& secret) {
    if (!secret.startsWith("bwt_") || secret.size() > 100)
        return std::nullopt;
    const auto rows =
        cn.queryBound(QStringLiteral("SELECT Name, Rights, Created FROM WebToken WHERE Hash = ?"),
                      {hashOf(secret)});
    if (rows.isEmpty())
        return std::nullopt;
    return Token{rows.first().value(0).toString(),
                 rows.first().value(1).toString().split(QLatin1Char(','), Qt::SkipEmptyParts),
                 rows.first().value(2).toString()};
}

} // namespace bw::host::tokens
