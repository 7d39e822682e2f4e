#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace bw::store {
class SqlConnection;
}

// The site's operators: who may sign in, with what rights.
//
// On PostgreSQL each operator is a database role that may log in. The server checks its
// password when the program opens its session, and the rights it holds on the tables follow
// its functions in UserGrants (see grantMap()); the schema belongs to an owner role that no
// operator signs in as, and only administrators change operators and UserGrants, through the
// schema's functions. The names in CtrlLog, SiteStep and MealRecord are the session's user,
// filled by the server.
//
// On a file database (SQLite, or an ODBC database without roles) the table Operators holds an
// Argon2id hash of each operator's password, never the password. Whoever can write the file
// can change anything in it: there the rights guard against mistakes, not against a local user
// with write access to the file.
namespace bw::host::operators {

// Why a sign-in or a change of operators was refused.
enum class Refusal {
    WrongSignIn,      // an unknown name, a wrong password or a disabled operator, alike
    NoPasswordYet,    // the database's first administrator has still to choose a password
    NotAnOperator,    // a program's account is no operator of the database (or is disabled)
    NotAdministrator, // changing operators is for administrators
    BadName,          // empty, too long, or with control characters
    BadPassword,      // empty or too long
    Exists,           // the name is taken already (an operator, or another role of the server)
    NoSuchOperator,
    LastAdministrator, // the one remaining administrator would go
    UnknownRight,      // a right key that is not in rightKeys()
};

struct Refused : std::runtime_error {
    Refused(Refusal why, const QString& name)
        : std::runtime_error("operator refused"), why(why), name(name) {}
    Refusal why;
    QString name;
};

// A refusal in English, for the command-line programs.
QString describe(const Refused& refused);

// The rights an operator is given by, on the command line and in the operators window, with
// the UserGrants function names each stands for (the terminal window's functions under its
// caption, in either language): admin (everything, "*"), add, save, edit, delete, test, clock,
// bells, init, collect, clear, names, cards.
QStringList rightKeys();
QStringList functionsOf(const QString& key, const QString& caption);
// The keys a set of function names amounts to (for showing an operator's rights).
QStringList keysOf(const QStringList& functions, const QString& caption);
// "a,b,c" into keys; raises Refused(UnknownRight) naming the first that is none.
QStringList parseRights(const QString& list);

// The desktop account this program runs as.
QString desktopAccount();

// Whether the database's server signs operators in itself (PostgreSQL).
bool serverSignsIn(store::SqlConnection& cn);

// Signs an operator in on the database of `connection`: checks name and password and, on a
// server, makes every connection the program opens from now on the operator's own session
// (store::setServerSignIn). Returns the operator's name as the database knows it. Raises
// Refused (WrongSignIn, NoPasswordYet) or the database's error.
QString signIn(const QString& connection, const QString& name, const QString& password);

// The first administrator's first sign-in on a file database: sets the password of `name`,
// which must be the desktop account and an operator without a password yet.
void setFirstPassword(const QString& connection, const QString& name, const QString& password);

// Whether `name` signs in for the first time on the database of `connection`: the desktop
// account, an operator of a file database without a password yet, who chooses one
// (setFirstPassword). False when the database cannot be asked.
bool needsFirstPassword(const QString& connection, const QString& name);

// Whether the demo may sign `name` in without asking: on a file database only, an enabled
// operator that has no password (the demo database's own). An operator with a password, and
// every operator of a server, always types it.
bool signsInUnasked(store::SqlConnection& cn, const QString& name);

// The operator a program without a sign-in acts as (the command-line programs, the service,
// the host program's pictures): the session's role on a server, the desktop account on a file.
// Raises Refused(NotAnOperator) when it is none or is disabled.
QString actingOperator(store::SqlConnection& cn);
// Whether `name` is the owner of the schema (a server) rather than an operator: it holds every
// right the server gives, and programs run as it act with all of them.
bool isSchemaOwner(store::SqlConnection& cn, const QString& name);

struct Operator {
    QString name;
    QStringList rights; // keys
    bool disabled = false;
    bool hasPassword = false; // file databases: a hash is set (servers: always true)
};

// Changes by an administrator: `by` is the acting operator (a server checks the session's
// user itself). Raise Refused or the database's error; nothing is changed then.
QList<Operator> listOperators(store::SqlConnection& cn, const QString& caption);
void addOperator(store::SqlConnection& cn, const QString& by, const QString& name,
                 const QStringList& rights, const QString& password, const QString& caption);
void setRights(store::SqlConnection& cn, const QString& by, const QString& name,
               const QStringList& rights, const QString& caption);
// An administrator for anyone, an operator for itself.
void setPassword(store::SqlConnection& cn, const QString& by, const QString& name,
                 const QString& password);
void disableOperator(store::SqlConnection& cn, const QString& by, const QString& name);

// A new database's first administrator: the desktop account that made it, with every right and
// no password yet (it chooses one at its first sign-in). Nothing when operators exist already.
void addFirstAdministrator(store::SqlConnection& cn);

// The nightly service's operator on a new site database: the system account `name`, with the
// routine's rights (collect, clear, clock, names) and no password, so that it never signs in
// where a person does. Nothing on a server, or when it is an operator already.
void addServiceOperator(store::SqlConnection& cn, const QString& name, const QString& caption);

// A server's schema: the operators' functions, the rights of each operator by the grant map,
// the triggers that fill the operators' names from the session, and no rights for anyone
// else. Run by the owner on making or completing the schema; nothing on a file database.
void secureServerSchema(store::SqlConnection& cn);

// The Argon2id hash of a password (libsodium's crypto_pwhash_str, interactive limits), and its
// check. Exposed for the tests and the bench.
QString hashPassword(const QString& password);
bool checkPassword(const QString& hash, const QString& password);

} // namespace bw::host::operators
