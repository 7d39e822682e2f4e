#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace bw::store {
class SqlConnection;
}

// Tokens that let programs read the site over the web view's API (payroll's month figures, a
// monitor's status). The database keeps each token's SHA-256 hash, never the token: a token is
// shown once, when it is made.
namespace bw::host::tokens {

// What a token may read: status, meals (the month's figures), log.
QStringList rightKeys();

struct Token {
    QString name;
    QStringList rights;
    QString created;
};

// Makes token `name` with the rights of `list` ("status,meals"); returns the token itself.
// Raises std::invalid_argument for a bad name or right or a name in use, or the database's error.
QString addToken(store::SqlConnection& cn, const QString& name, const QString& list);
QList<Token> listTokens(store::SqlConnection& cn);
// False when there was no such token.
bool revokeToken(store::SqlConnection& cn, const QString& name);
// The token's entry, when `secret` is a token of the database.
std::optional<Token> findToken(store::SqlConnection& cn, const QByteArray& secret);

} // namespace bw::host::tokens
