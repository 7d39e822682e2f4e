#pragma once

#include "host/names/cards.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

// The site's register of employees: each with a number (工号), a name, a department, the day
// they start and, when known, the day they leave (the first day they are no longer employed);
// departments with the terminal groups (MachineInfo.Ver) whose terminals their people may use
// (every terminal when none is named); and cards over their life: a card is an employee's from
// a day (to a last day, for visitors' and temporary cards) in a state. Days are kept as
// "yyyy-MM-dd" texts, which every engine compares in their order.
namespace bw::host::names {

enum class CardState { InUse = 0, Lost = 1, Replaced = 2, Returned = 3 };

struct Employee {
    QString number;
    QString name;
    QString department;
    QDate start;
    QDate leave; // invalid: not known
    bool operator==(const Employee&) const = default;
    // Employed on day: started, and not yet left.
    bool employedOn(const QDate& day) const;
};

struct HeldCard {
    QString card;
    QString employee;
    QDate from;
    QDate last; // invalid: open
    CardState state = CardState::InUse;
    bool operator==(const HeldCard&) const = default;
};

// Why a row of the register's file or a change of the register was refused.
enum class RegisterRefusal {
    Cell,              // a cell's own refusal (cardWhy): formula, control character, ...
    DepartmentMissing, // no 部门
    NameMissing,       // no 姓名
    BadDate,           // a day that is no yyyy-MM-dd (or yyyy/M/d)
    LeaveBeforeStart,  // the leaving day is not after the start
    DuplicateEmployee, // the employee is in the file already (otherRow)
    CardOfTwo,         // the card is another employee's at the same time (otherRow or detail)
    MissingColumns,    // the header lacks 工号, 姓名 or 部门 (detail: which)
    NoSuchEmployee,
    NoSuchCard,    // no card of that number in use
    CardInUse,     // the new card of a replacement is some employee's already
    File,          // the file as a whole (cardWhy: wrong encoding, too large, empty, ...)
    CannotWrite,   // detail: the system's reason
    DepartmentName // a department name longer than 100 characters or empty
};

struct RegisterRefused {
    int row = 0; // the file's row (the header is row 1); 0: a value or the file
    RegisterRefusal why = RegisterRefusal::Cell;
    CardRefusal cardWhy = CardRefusal::CardMissing; // Cell, File
    int otherRow = 0;
    QString detail; // CardOfTwo: the other employee; MissingColumns; File: the system's reason
};

// A refusal in English for the command-line programs: "row 7: no department".
QString describe(const RegisterRefused& refused);

struct RegisterRefusedError : std::runtime_error {
    explicit RegisterRefusedError(RegisterRefused r)
        : std::runtime_error("register change refused"), refused(std::move(r)) {}
    RegisterRefused refused;
};

// One row of HR's list.
struct EmployeeRow {
    Employee employee;
    QString card; // eight digits; empty: none given
    int row = 0;
};

struct EmployeeFile {
    QList<EmployeeRow> rows;
    QList<RegisterRefused> refused;
    bool gb18030 = false;
    // The file has the columns of the start and leaving days: an employee in the register
    // keeps theirs when it has not.
    bool startGiven = false, leaveGiven = false;
    bool ok() const { return refused.isEmpty() && !rows.isEmpty(); }
};

// Reads HR's list: the header 工号,姓名,部门,卡号 and optionally 入职日期,离职日期 (Traditional
// and English names too, in any order); the file read as a card file is (UTF-8 with or without
// a byte-order mark, else GB18030). Every refused row is in refused. A row without a start day
// starts on today.
EmployeeFile readEmployeeText(const QByteArray& bytes, const QDate& today);
EmployeeFile readEmployeeFile(const QString& path, const QDate& today);

// A change of the register, for the operation log (written in the change's transaction; an
// entry that cannot be written undoes the change).
struct RegisterChange {
    enum Kind { Imported, Saved, CardLost, CardReplaced, CardReturned, CardGiven } kind = Saved;
    QString employee;
    QString card;
    QString newCard;                      // CardReplaced
    int added = 0, changed = 0, left = 0; // Imported: employees added, changed, given a leaving day
    bool replace = false;
};
using LogRegister = std::function<void(const RegisterChange&)>;

struct ImportOutcome {
    QList<RegisterRefused> refused; // nothing written when any
    int added = 0, changed = 0, left = 0;
    QStringList newDepartments;
};

// Writes the file's employees and cards in one transaction, or nothing when any row is
// refused (every refusal against the database found first): replace, employees of the
// register absent from the file get today as their leaving day (unless they left earlier). An
// employee's new card takes the place of the one they had (Replaced). The name lists are derived
// afterwards in the same transaction. Raises bw::Error for the database's errors.
ImportOutcome importEmployees(store::SqlConnection& cn, const EmployeeFile& file, bool replace,
                              const QDate& today, const LogRegister& log);

// The register, by employee number; with each employee's cards in use today.
struct RegisterEntry {
    Employee employee;
    QStringList cards;
};
QList<RegisterEntry> listRegister(store::SqlConnection& cn, const QDate& today);
QList<HeldCard> cardsOfEmployee(store::SqlConnection& cn, const QString& employee);
QStringList departments(store::SqlConnection& cn);
// The terminal groups a department is limited to (empty: every terminal).
QStringList departmentGroups(store::SqlConnection& cn, const QString& department);
void setDepartmentGroups(store::SqlConnection& cn, const QString& department,
                         const QStringList& groups, const LogRegister& log);

// Adds or changes one employee, and gives them card (when not empty) from today; raises
// RegisterRefusedError.
void saveEmployee(store::SqlConnection& cn, const Employee& employee, const QString& card,
                  const QDate& today, const LogRegister& log);

// A card's life: lost, replaced by a new one (from today), returned. Raise RegisterRefusedError.
void cardLost(store::SqlConnection& cn, const QString& card, const QDate& today,
              const LogRegister& log);
void cardReplaced(store::SqlConnection& cn, const QString& card, const QString& newCard,
                  const QDate& today, const LogRegister& log);
void cardReturned(store::SqlConnection& cn, const QString& card, const QDate& today,
                  const LogRegister& log);
// A visitor's or temporary card: the employee's until its last day.
void giveCard(store::SqlConnection& cn, const QString& employee, const QString& card,
              const QDate& from, const QDate& last, const LogRegister& log);

// Whether the site keeps a register (any employee with a start day): only then are the name
// lists derived from it; a site without one keeps its lists per terminal.
bool keepsRegister(store::SqlConnection& cn);

// CardMapping made what the register says for day: every card in use of every employee
// employed, on every model-6429 terminal their department may use. With employees given, only
// their rows are touched. Nothing is done on a site without a register. Returns the rows
// deleted plus the rows inserted.
int deriveNameLists(store::SqlConnection& cn, const QDate& day, const QStringList& employees = {});

// The register as HR's list (with 入职日期, 离职日期), UTF-8 with a byte-order mark, cells safe for
// spreadsheets; written whole or not at all (raises RegisterRefusedError CannotWrite).
QByteArray registerCsv(const QList<RegisterEntry>& entries, int lang);
void exportRegister(const QList<RegisterEntry>& entries, const QString& path, int lang);

QString dayText(const QDate& day);
// "yyyy-MM-dd" or "yyyy/M/d"; invalid for anything else.
QDate parseDay(const QString& text);

} // namespace bw::host::names
