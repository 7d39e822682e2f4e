#include "host/names/employees.h"

#include "platform/error.h"
#include "store/sql_connection.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace bw::host::names {

namespace {

constexpr int MaxEmployee = 50;
constexpr int MaxName = 100;
constexpr int MaxDepartment = 100;
// Rows sent in one statement: few round trips to a server, well within every engine's bound
// values.
constexpr int RowsPerStatement = 400;

enum Column { Number, Name, Department, CardColumn, Start, Leave, Columns };

int columnNamed(const QString& cell) {
    static const QHash<QString, int> names{
        {QStringLiteral("工号"), Number},       {QStringLiteral("工號"), Number},
        {QStringLiteral("empno"), Number},      {QStringLiteral("姓名"), Name},
        {QStringLiteral("name"), Name},         {QStringLiteral("部门"), Department},
        {QStringLiteral("部門"), Department},   {QStringLiteral("department"), Department},
        {QStringLiteral("卡号"), CardColumn},   {QStringLiteral("卡號"), CardColumn},
        {QStringLiteral("cardno"), CardColumn}, {QStringLiteral("入职日期"), Start},
        {QStringLiteral("入職日期"), Start},    {QStringLiteral("到職日期"), Start},
        {QStringLiteral("startdate"), Start},   {QStringLiteral("离职日期"), Leave},
        {QStringLiteral("離職日期"), Leave},    {QStringLiteral("leavedate"), Leave},
    };
    return names.value(cell.trimmed().toLower(), -1);
}

const char16_t* const kHeaders[][Columns] = {
    {u"工号", u"姓名", u"部门", u"卡号", u"入职日期", u"离职日期"},
    {u"工號", u"姓名", u"部門", u"卡號", u"到職日期", u"離職日期"},
};

// A text column's NULL, typed, as every driver binds it.
QVariant nullText() {
    return QVariant(QMetaType(QMetaType::QString));
}

QVariant dayValue(const QDate& day) {
    return day.isValid() ? QVariant(dayText(day)) : nullText();
}

[[noreturn]] void refuse(RegisterRefusal why, const QString& detail = {},
                         CardRefusal cardWhy = CardRefusal::CardMissing) {
    throw RegisterRefusedError(RegisterRefused{0, why, cardWhy, 0, detail});
}

// A period of days, start included, end not (invalid end: open).
struct Period {
    QDate from, until;
    bool empty() const { return until.isValid() && from >= until; }
    bool overlaps(const Period& o) const {
        return !empty() && !o.empty() && (!o.until.isValid() || from < o.until) &&
               (!until.isValid() || o.from < until);
    }
};

// The days from today on in which a card is in effect: its own days within the employee's.
Period inEffect(const HeldCard& c, const Employee& e, const QDate& today) {
    Period p{std::max({c.from, e.start, today}), e.leave};
    if (c.last.isValid() && (!p.until.isValid() || c.last.addDays(1) < p.until))
        p.until = c.last.addDays(1);
    return p;
}

Employee employeeOf(const QVariantList& row) {
    return Employee{row.value(0).toString(), row.value(1).toString(), row.value(2).toString(),
                    parseDay(row.value(3).toString()), parseDay(row.value(4).toString())};
}

const QString kEmployeeColumns =
    QStringLiteral("SELECT EmpNo, Name, Department, StartDay, LeaveDay FROM Employees");

// The employees of the register (a start day given) by number.
QHash<QString, Employee> registerEmployees(store::SqlConnection& cn) {
    QHash<QString, Employee> out;
    for (const QVariantList& row :
         cn.queryBound(kEmployeeColumns + QStringLiteral(" WHERE StartDay IS NOT NULL")))
        out.insert(row.value(0).toString(), employeeOf(row));
    return out;
}

std::optional<Employee> findEmployee(store::SqlConnection& cn, const QString& number) {
    const auto rows = cn.queryBound(
        kEmployeeColumns + QStringLiteral(" WHERE EmpNo = ? AND StartDay IS NOT NULL"), {number});
    if (rows.isEmpty())
        return std::nullopt;
    return employeeOf(rows.first());
}

HeldCard heldOf(const QVariantList& row) {
    return HeldCard{row.value(0).toString(), row.value(1).toString(),
                    parseDay(row.value(2).toString()), parseDay(row.value(3).toString()),
                    CardState(row.value(4).toInt())};
}

const QString kCardColumns =
    QStringLiteral("SELECT CardNo, EmpNo, FromDay, LastDay, State FROM EmployeeCard");

// The cards in use that have not ended before today.
QList<HeldCard> cardsInUse(store::SqlConnection& cn, const QDate& today, const QString& card = {}) {
    QString sql = kCardColumns + QStringLiteral(" WHERE State = 0 AND (LastDay IS NULL OR "
                                                "LastDay >= ?)");
    QVariantList values{dayText(today)};
    if (!card.isEmpty()) {
        sql += QStringLiteral(" AND CardNo = ?");
        values << card;
    }
    QList<HeldCard> out;
    for (const QVariantList& row : cn.queryBound(sql, values))
        out << heldOf(row);
    return out;
}

// Rows written a statement at a time, each statement RowsPerStatement rows: head is the
// statement up to VALUES, tail what follows the rows.
void insertRows(store::SqlConnection& cn, const QString& head, int columns,
                const QList<QVariantList>& rows, const QString& tail = {}) {
    const QString one =
        QLatin1Char('(') + QStringLiteral("?, ").repeated(columns - 1) + QStringLiteral("?)");
    if (cn.engine() == store::SqlConnection::Engine::Sqlite) {
        // The embedded database takes a row a statement, prepared once: its driver looks up
        // every bound value of a statement by name, which many values make slow.
        if (rows.isEmpty())
            return;
        cn.ensureUsable(store::SqlConnection::Use::Write);
        QSqlQuery q(cn.database());
        if (!q.prepare(head + QStringLiteral(" VALUES ") + one + tail))
            throw store::databaseError(store::dberr::CommandFailed, q.lastQuery(), q.lastError());
        for (const QVariantList& row : rows) {
            for (int i = 0; i < row.size(); ++i)
                q.bindValue(i, row[i]);
            if (!q.exec())
                throw store::databaseError(store::dberr::CommandFailed, q.lastQuery(),
                                           q.lastError());
        }
        return;
    }
    for (qsizetype first = 0; first < rows.size(); first += RowsPerStatement) {
        const qsizetype n = std::min<qsizetype>(RowsPerStatement, rows.size() - first);
        QVariantList values;
        values.reserve(n * columns);
        for (qsizetype i = first; i < first + n; ++i)
            values += rows[i];
        cn.executeBound(head + QStringLiteral(" VALUES ") +
                            (one + QStringLiteral(", ")).repeated(int(n) - 1) + one + tail,
                        values);
    }
}

void addDepartments(store::SqlConnection& cn, const QStringList& names) {
    QList<QVariantList> rows;
    for (const QString& d : names)
        rows << QVariantList{d};
    insertRows(cn, QStringLiteral("INSERT INTO Departments (Name)"), 1, rows);
}

// The departments among names that the register has not yet.
QStringList missingDepartments(store::SqlConnection& cn, const QStringList& names) {
    QSet<QString> known;
    for (const QString& d : departments(cn))
        known.insert(d);
    QStringList out;
    for (const QString& d : names)
        if (!known.contains(d) && !out.contains(d))
            out << d;
    return out;
}

void upsertEmployees(store::SqlConnection& cn, const QList<Employee>& employees) {
    QList<QVariantList> rows;
    for (const Employee& e : employees)
        rows << QVariantList{e.number, e.name, e.department, dayValue(e.start), dayValue(e.leave)};
    insertRows(cn,
               QStringLiteral("INSERT INTO Employees (EmpNo, Name, Department, StartDay, "
                              "LeaveDay)"),
               5, rows,
               QStringLiteral(" ON CONFLICT (EmpNo) DO UPDATE SET Name = excluded.Name, "
                              "Department = excluded.Department, StartDay = excluded.StartDay, "
                              "LeaveDay = excluded.LeaveDay"));
}

void insertCards(store::SqlConnection& cn, const QList<HeldCard>& cards) {
    QList<QVariantList> rows;
    for (const HeldCard& c : cards)
        rows << QVariantList{c.card, c.employee, dayText(c.from), dayValue(c.last), int(c.state)};
    insertRows(cn,
               QStringLiteral("INSERT INTO EmployeeCard (CardNo, EmpNo, FromDay, LastDay, State)"),
               5, rows);
}

// The employee's cards in use other than keep end today as replaced.
void replaceFormerCards(store::SqlConnection& cn, const QString& employee, const QString& keep,
                        const QDate& today) {
    cn.executeBound(QStringLiteral("UPDATE EmployeeCard SET State = ?, LastDay = ? WHERE EmpNo = "
                                   "? AND State = 0 AND CardNo <> ?"),
                    {int(CardState::Replaced), dayText(today), employee, keep});
}

// The refusal of giving card to the employee e from from on, when another employee has it in
// the same days (holders: the card's holdings in use, people: their employees).
std::optional<QString> otherHolder(const QList<HeldCard>& holders,
                                   const QHash<QString, Employee>& people, const HeldCard& given,
                                   const Employee& e, const QDate& today) {
    const Period wanted = inEffect(given, e, today);
    for (const HeldCard& h : holders) {
        if (h.employee == e.number || h.card != given.card)
            continue;
        const auto it = people.constFind(h.employee);
        if (it == people.cend() || inEffect(h, *it, today).overlaps(wanted))
            return h.employee;
    }
    return std::nullopt;
}

RegisterRefused rowRefusal(int row, RegisterRefusal why, CardRefusal cardWhy = {}) {
    return RegisterRefused{row, why, cardWhy, 0, QString()};
}

// The departments' allowed terminals, then the cards in use on day of the employees employed
// on day on them: the rows CardMapping should have.
QString desiredRows(const store::SqlConnection& cn, const QString& only) {
    // The pairs are made once (SQLite would otherwise try every terminal for every card).
    const bool materialized = cn.engine() != store::SqlConnection::Engine::Other;
    return QStringLiteral("WITH Allowed (Department, MachAddr) AS ") +
           (materialized ? QStringLiteral("MATERIALIZED ") : QString()) +
           QStringLiteral(
               "(SELECT d.Name, m.MachAddr FROM "
               "Departments d JOIN MachineInfo m ON m.MachVer = '6429' WHERE NOT EXISTS (SELECT "
               "1 FROM DepartmentGroup g WHERE g.Department = d.Name) OR EXISTS (SELECT 1 FROM "
               "DepartmentGroup g WHERE g.Department = d.Name AND g.TerminalGroup = m.Ver)) "
               "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) SELECT c.CardNo, c.EmpNo, "
               "a.MachAddr FROM EmployeeCard c JOIN Employees e ON e.EmpNo = c.EmpNo JOIN "
               "Allowed a ON a.Department = e.Department WHERE c.State = 0 AND c.FromDay <= ? "
               "AND (c.LastDay IS NULL OR c.LastDay >= ?) AND e.StartDay <= ? AND (e.LeaveDay "
               "IS NULL OR e.LeaveDay > ?)") +
           only;
}

QString marks(qsizetype n) {
    return QStringLiteral("?, ").repeated(int(n) - 1) + QLatin1Char('?');
}

} // namespace

bool Employee::employedOn(const QDate& day) const {
    return start.isValid() && start <= day && (!leave.isValid() || day < leave);
}

QString dayText(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QDate parseDay(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{4})[-/]([0-9]{1,2})[-/]([0-9]{1,2})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return QDate();
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

QString describe(const RegisterRefused& r) {
    QString why;
    switch (r.why) {
    case RegisterRefusal::Cell:
    case RegisterRefusal::File:
        why = describe(RefusedRow{0, r.cardWhy, 0, r.detail});
        break;
    case RegisterRefusal::DepartmentMissing:
        why = QStringLiteral("no department");
        break;
    case RegisterRefusal::NameMissing:
        why = QStringLiteral("no name");
        break;
    case RegisterRefusal::BadDate:
        why = QStringLiteral("a day that is no date (yyyy-mm-dd)");
        break;
    case RegisterRefusal::LeaveBeforeStart:
        why = QStringLiteral("leaving day not after the start");
        break;
    case RegisterRefusal::DuplicateEmployee:
        why = QStringLiteral("employee given in row %1 already").arg(r.otherRow);
        break;
    case RegisterRefusal::CardOfTwo:
        why = r.otherRow > 0
                  ? QStringLiteral("card given in row %1 for the same days").arg(r.otherRow)
                  : QStringLiteral("card is employee %1's in the same days").arg(r.detail);
        break;
    case RegisterRefusal::MissingColumns:
        why = QStringLiteral("the header names no column ") + r.detail;
        break;
    case RegisterRefusal::NoSuchEmployee:
        why = QStringLiteral("no such employee in the register");
        break;
    case RegisterRefusal::NoSuchCard:
        why = QStringLiteral("no such card in use");
        break;
    case RegisterRefusal::CardInUse:
        why = QStringLiteral("the new card is in use already");
        break;
    case RegisterRefusal::CannotWrite:
        why = QStringLiteral("cannot write the file: ") + r.detail;
        break;
    case RegisterRefusal::DepartmentName:
        why = QStringLiteral("department name empty or longer than 100 characters");
        break;
    }
    return r.row > 0 ? QStringLiteral("row %1: %2").arg(r.row).arg(why) : why;
}

EmployeeFile readEmployeeText(const QByteArray& bytes, const QDate& today) {
    EmployeeFile file;
    const CsvRecords csv = readCsvRecords(bytes);
    file.gb18030 = csv.gb18030;
    if (csv.refused) {
        file.refused << RegisterRefused{0, RegisterRefusal::File, csv.refused->why, 0, {}};
        return file;
    }
    int at[Columns] = {-1, -1, -1, -1, -1, -1};
    const QStringList header = csv.records.value(0);
    for (int i = 0; i < header.size(); ++i)
        if (const int c = columnNamed(header[i]); c >= 0 && at[c] < 0)
            at[c] = i;
    QStringList missing;
    for (const int c : {Number, Name, Department})
        if (at[c] < 0)
            missing << QString::fromUtf16(kHeaders[0][c]);
    if (!missing.isEmpty()) {
        file.refused << RegisterRefused{
            1, RegisterRefusal::MissingColumns, {}, 0, missing.join(QStringLiteral(", "))};
        return file;
    }
    file.startGiven = at[Start] >= 0;
    file.leaveGiven = at[Leave] >= 0;
    QHash<QString, int> rowOf;           // employee -> row
    QHash<QString, QList<int>> cardRows; // card -> the rows (indexes into file.rows) giving it
    for (int i = 1; i < csv.records.size(); ++i) {
        const QStringList& record = csv.records[i];
        const int row = i + 1;
        if (std::all_of(record.cbegin(), record.cend(),
                        [](const QString& cell) { return cell.trimmed().isEmpty(); }))
            continue;
        QString cells[Columns];
        std::optional<RegisterRefused> bad;
        for (int c = 0; c < Columns; ++c) {
            cells[c] = at[c] >= 0 ? record.value(at[c]) : QString();
            if (const auto cellBad = cellRefusalOf(cells[c]); cellBad && !bad)
                bad = rowRefusal(row, RegisterRefusal::Cell, *cellBad);
            cells[c] = cells[c].trimmed();
        }
        EmployeeRow r;
        r.row = row;
        Employee& e = r.employee;
        e = Employee{cells[Number], cells[Name], cells[Department], today, QDate()};
        if (!bad && e.number.isEmpty())
            bad = rowRefusal(row, RegisterRefusal::Cell, CardRefusal::EmployeeMissing);
        if (!bad && e.number.size() > MaxEmployee)
            bad = rowRefusal(row, RegisterRefusal::Cell, CardRefusal::EmployeeTooLong);
        if (!bad && e.name.isEmpty())
            bad = rowRefusal(row, RegisterRefusal::NameMissing);
        if (!bad && e.name.size() > MaxName)
            bad = rowRefusal(row, RegisterRefusal::Cell, CardRefusal::NameTooLong);
        if (!bad && e.department.isEmpty())
            bad = rowRefusal(row, RegisterRefusal::DepartmentMissing);
        if (!bad && e.department.size() > MaxDepartment)
            bad = rowRefusal(row, RegisterRefusal::DepartmentName);
        if (!bad && !cells[CardColumn].isEmpty()) {
            CardRefusal why{};
            if (const auto number = cardNumber(cells[CardColumn], &why))
                r.card = *number;
            else
                bad = rowRefusal(row, RegisterRefusal::Cell, why);
        }
        if (!bad && !cells[Start].isEmpty() && !(e.start = parseDay(cells[Start])).isValid())
            bad = rowRefusal(row, RegisterRefusal::BadDate);
        if (!bad && !cells[Leave].isEmpty() && !(e.leave = parseDay(cells[Leave])).isValid())
            bad = rowRefusal(row, RegisterRefusal::BadDate);
        if (!bad && e.leave.isValid() && e.leave <= e.start)
            bad = rowRefusal(row, RegisterRefusal::LeaveBeforeStart);
        if (!bad && rowOf.contains(e.number)) {
            bad = rowRefusal(row, RegisterRefusal::DuplicateEmployee);
            bad->otherRow = rowOf.value(e.number);
        }
        // A card two rows give: only to one after the other has left.
        if (!bad && !r.card.isEmpty()) {
            for (const int other : cardRows.value(r.card)) {
                const Employee& o = file.rows[other].employee;
                if (Period{o.start, o.leave}.overlaps(Period{e.start, e.leave})) {
                    bad = rowRefusal(row, RegisterRefusal::CardOfTwo);
                    bad->otherRow = file.rows[other].row;
                    break;
                }
            }
        }
        if (bad) {
            file.refused << *bad;
            continue;
        }
        rowOf.insert(e.number, row);
        if (!r.card.isEmpty())
            cardRows[r.card] << int(file.rows.size());
        file.rows << r;
    }
    if (file.rows.isEmpty() && file.refused.isEmpty())
        file.refused << RegisterRefused{0, RegisterRefusal::File, CardRefusal::EmptyFile, 0, {}};
    return file;
}

EmployeeFile readEmployeeFile(const QString& path, const QDate& today) {
    QByteArray bytes;
    if (const auto refused = readFileBytes(path, bytes)) {
        EmployeeFile file;
        file.refused << RegisterRefused{0, RegisterRefusal::File, refused->why, 0, refused->detail};
        return file;
    }
    return readEmployeeText(bytes, today);
}

ImportOutcome importEmployees(store::SqlConnection& cn, const EmployeeFile& file, bool replace,
                              const QDate& today, const LogRegister& log) {
    ImportOutcome out;
    if (!file.refused.isEmpty() || file.rows.isEmpty()) {
        out.refused = file.refused;
        if (out.refused.isEmpty())
            out.refused << RegisterRefused{0, RegisterRefusal::File, CardRefusal::EmptyFile, 0, {}};
        return out;
    }
    cn.inOneTransaction([&] {
        const QHash<QString, Employee> before = registerEmployees(cn);
        // The register as the file leaves it.
        QHash<QString, Employee> after = before;
        QList<Employee> written;
        QSet<QString> inFile;
        for (const EmployeeRow& r : file.rows) {
            Employee e = r.employee;
            const auto was = before.constFind(e.number);
            if (was != before.cend()) {
                if (!file.startGiven)
                    e.start = was->start;
                if (!file.leaveGiven)
                    e.leave = was->leave;
            }
            inFile.insert(e.number);
            after.insert(e.number, e);
            if (was == before.cend())
                ++out.added;
            else if (!(*was == e))
                ++out.changed;
            if (was == before.cend() || !(*was == e))
                written << e;
        }
        if (replace) {
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (inFile.contains(it.key()) || (it->leave.isValid() && it->leave <= today))
                    continue;
                Employee e = *it;
                e.leave = std::max(today, e.start.addDays(1));
                after.insert(e.number, e);
                written << e;
                ++out.left;
            }
        }
        // The cards: a row's card, unless the employee has it in use already; the holdings of
        // the employees the file gives another card end.
        const QList<HeldCard> inUse = cardsInUse(cn, today);
        QHash<QString, QList<HeldCard>> byCard;
        QHash<QString, QSet<QString>> cardsOf;
        for (const HeldCard& h : inUse) {
            byCard[h.card] << h;
            cardsOf[h.employee].insert(h.card);
        }
        QList<HeldCard> given;
        QStringList replacing;
        for (const EmployeeRow& r : file.rows) {
            const QString& number = r.employee.number;
            if (r.card.isEmpty() || cardsOf.value(number).contains(r.card))
                continue;
            if (!cardsOf.value(number).isEmpty())
                replacing << number;
            const Employee& e = after.value(number);
            given << HeldCard{r.card, number,
                              before.contains(number) ? std::max(today, e.start) : e.start, QDate(),
                              CardState::InUse};
        }
        // Holdings that end with the import: those of employees the file gives another card.
        QSet<QString> ending(replacing.cbegin(), replacing.cend());
        for (qsizetype i = 0; i < given.size(); ++i) {
            QList<HeldCard> holders;
            for (const HeldCard& h : byCard.value(given[i].card))
                if (!ending.contains(h.employee))
                    holders << h;
            if (const auto other =
                    otherHolder(holders, after, given[i], after.value(given[i].employee), today)) {
                const auto r = std::find_if(file.rows.cbegin(), file.rows.cend(), [&](auto& row) {
                    return row.employee.number == given[i].employee;
                });
                out.refused << RegisterRefused{r->row, RegisterRefusal::CardOfTwo, {}, 0, *other};
            }
        }
        if (!out.refused.isEmpty())
            return; // nothing written
        QStringList named;
        for (const EmployeeRow& r : file.rows)
            named << r.employee.department;
        out.newDepartments = missingDepartments(cn, named);
        addDepartments(cn, out.newDepartments);
        upsertEmployees(cn, written);
        for (const QString& number : std::as_const(replacing))
            for (const HeldCard& h : std::as_const(given))
                if (h.employee == number)
                    replaceFormerCards(cn, number, h.card, today);
        insertCards(cn, given);
        deriveNameLists(cn, today);
        if (log) {
            RegisterChange change;
            change.kind = RegisterChange::Imported;
            change.added = out.added;
            change.changed = out.changed;
            change.left = out.left;
            change.replace = replace;
            log(change);
        }
    });
    if (!out.refused.isEmpty()) {
        out.added = out.changed = out.left = 0;
        out.newDepartments.clear();
    }
    return out;
}

QList<RegisterEntry> listRegister(store::SqlConnection& cn, const QDate& today) {
    QHash<QString, QStringList> cards;
    for (const HeldCard& h : cardsInUse(cn, today))
        cards[h.employee] << h.card;
    QList<RegisterEntry> out;
    for (const QVariantList& row : cn.queryBound(
             kEmployeeColumns + QStringLiteral(" WHERE StartDay IS NOT NULL ORDER BY EmpNo"))) {
        RegisterEntry entry{employeeOf(row), cards.value(row.value(0).toString())};
        entry.cards.sort();
        out << entry;
    }
    return out;
}

QList<HeldCard> cardsOfEmployee(store::SqlConnection& cn, const QString& employee) {
    QList<HeldCard> out;
    for (const QVariantList& row :
         cn.queryBound(kCardColumns + QStringLiteral(" WHERE EmpNo = ? ORDER BY FromDay, CardNo"),
                       {employee}))
        out << heldOf(row);
    return out;
}

QStringList departments(store::SqlConnection& cn) {
    QStringList out;
    for (const QVariantList& row :
         cn.queryBound(QStringLiteral("SELECT Name FROM Departments ORDER BY Name")))
        out << row.value(0).toString();
    return out;
}

QStringList departmentGroups(store::SqlConnection& cn, const QString& department) {
    QStringList out;
    for (const QVariantList& row : cn.queryBound(
             QStringLiteral("SELECT TerminalGroup FROM DepartmentGroup WHERE Department = ? "
                            "ORDER BY TerminalGroup"),
             {department}))
        out << row.value(0).toString();
    return out;
}

void setDepartmentGroups(store::SqlConnection& cn, const QString& department,
                         const QStringList& groups, const LogRegister& log) {
    const QString name = department.trimmed();
    if (name.isEmpty() || name.size() > MaxDepartment || cellRefusalOf(department))
        refuse(RegisterRefusal::DepartmentName);
    cn.inOneTransaction([&] {
        addDepartments(cn, missingDepartments(cn, {name}));
        cn.executeBound(QStringLiteral("DELETE FROM DepartmentGroup WHERE Department = ?"), {name});
        QList<QVariantList> rows;
        for (const QString& g : groups)
            if (!g.trimmed().isEmpty())
                rows << QVariantList{name, g.trimmed()};
        insertRows(cn, QStringLiteral("INSERT INTO DepartmentGroup (Department, TerminalGroup)"), 2,
                   rows);
        QStringList people;
        for (const QVariantList& row : cn.queryBound(
                 QStringLiteral("SELECT EmpNo FROM Employees WHERE Department = ?"), {name}))
            people << row.value(0).toString();
        deriveNameLists(cn, QDate::currentDate(), people);
        if (log)
            log(RegisterChange{RegisterChange::Saved, name, {}, {}, 0, 0, 0, false});
    });
}

void saveEmployee(store::SqlConnection& cn, const Employee& given, const QString& cardText,
                  const QDate& today, const LogRegister& log) {
    Employee e{given.number.trimmed(), given.name.trimmed(), given.department.trimmed(),
               given.start.isValid() ? given.start : today, given.leave};
    for (const QString* cell : {&given.number, &given.name, &given.department, &cardText})
        if (const auto bad = cellRefusalOf(*cell))
            refuse(RegisterRefusal::Cell, {}, *bad);
    if (e.number.isEmpty() || e.number.size() > MaxEmployee)
        refuse(RegisterRefusal::Cell, {},
               e.number.isEmpty() ? CardRefusal::EmployeeMissing : CardRefusal::EmployeeTooLong);
    if (e.name.isEmpty())
        refuse(RegisterRefusal::NameMissing);
    if (e.name.size() > MaxName)
        refuse(RegisterRefusal::Cell, {}, CardRefusal::NameTooLong);
    if (e.department.isEmpty())
        refuse(RegisterRefusal::DepartmentMissing);
    if (e.department.size() > MaxDepartment)
        refuse(RegisterRefusal::DepartmentName);
    if (e.leave.isValid() && e.leave <= e.start)
        refuse(RegisterRefusal::LeaveBeforeStart);
    QString card;
    if (!cardText.trimmed().isEmpty()) {
        CardRefusal why{};
        const auto number = cardNumber(cardText, &why);
        if (!number)
            refuse(RegisterRefusal::Cell, {}, why);
        card = *number;
    }
    cn.inOneTransaction([&] {
        const std::optional<Employee> was = findEmployee(cn, e.number);
        QStringList touched{e.number};
        if (!card.isEmpty()) {
            const QList<HeldCard> holders = cardsInUse(cn, today, card);
            const bool held = std::any_of(holders.cbegin(), holders.cend(), [&](const HeldCard& h) {
                return h.employee == e.number;
            });
            if (!held) {
                QHash<QString, Employee> people;
                for (const HeldCard& h : holders)
                    if (const auto p = findEmployee(cn, h.employee))
                        people.insert(h.employee, *p);
                const HeldCard wanted{card, e.number, was ? std::max(today, e.start) : e.start,
                                      QDate(), CardState::InUse};
                if (const auto other = otherHolder(holders, people, wanted, e, today))
                    refuse(RegisterRefusal::CardOfTwo, *other);
                replaceFormerCards(cn, e.number, card, today);
                insertCards(cn, {wanted});
            }
        }
        addDepartments(cn, missingDepartments(cn, {e.department}));
        upsertEmployees(cn, {e});
        deriveNameLists(cn, today, touched);
        if (log)
            log(RegisterChange{RegisterChange::Saved, e.number, card, {}, 0, 0, 0, false});
    });
}

namespace {

// The card's holding in use today (or from a later day); refused when there is none.
QList<HeldCard> holdingsOf(store::SqlConnection& cn, const QString& cardText, const QDate& today,
                           QString& card) {
    CardRefusal why{};
    const auto number = cardNumber(cardText, &why);
    if (!number)
        refuse(RegisterRefusal::Cell, {}, why);
    card = *number;
    const QList<HeldCard> held = cardsInUse(cn, today, card);
    if (held.isEmpty())
        refuse(RegisterRefusal::NoSuchCard);
    return held;
}

// The card's holdings in use end today in state; their employees' lists follow.
void endCard(store::SqlConnection& cn, const QString& cardText, CardState state, const QDate& today,
             const LogRegister& log, RegisterChange::Kind kind) {
    cn.inOneTransaction([&] {
        QString card;
        QStringList people;
        for (const HeldCard& h : holdingsOf(cn, cardText, today, card))
            people << h.employee;
        cn.executeBound(QStringLiteral("UPDATE EmployeeCard SET State = ?, LastDay = ? WHERE "
                                       "CardNo = ? AND State = 0 AND (LastDay IS NULL OR LastDay "
                                       ">= ?)"),
                        {int(state), dayText(today), card, dayText(today)});
        deriveNameLists(cn, today, people);
        if (log)
            log(RegisterChange{kind, people.value(0), card, {}, 0, 0, 0, false});
    });
}

} // namespace

void cardLost(store::SqlConnection& cn, const QString& card, const QDate& today,
              const LogRegister& log) {
    endCard(cn, card, CardState::Lost, today, log, RegisterChange::CardLost);
}

void cardReturned(store::SqlConnection& cn, const QString& card, const QDate& today,
                  const LogRegister& log) {
    endCard(cn, card, CardState::Returned, today, log, RegisterChange::CardReturned);
}

void cardReplaced(store::SqlConnection& cn, const QString& cardText, const QString& newText,
                  const QDate& today, const LogRegister& log) {
    CardRefusal why{};
    const auto fresh = cardNumber(newText, &why);
    if (!fresh)
        refuse(RegisterRefusal::Cell, {}, why);
    cn.inOneTransaction([&] {
        QString card;
        const QList<HeldCard> held = holdingsOf(cn, cardText, today, card);
        if (!cardsInUse(cn, today, *fresh).isEmpty())
            refuse(RegisterRefusal::CardInUse);
        const QString employee = held.first().employee;
        cn.executeBound(QStringLiteral("UPDATE EmployeeCard SET State = ?, LastDay = ? WHERE "
                                       "CardNo = ? AND State = 0 AND (LastDay IS NULL OR LastDay "
                                       ">= ?)"),
                        {int(CardState::Replaced), dayText(today), card, dayText(today)});
        // The new card works the same day, to the old one's last day, if it had one.
        insertCards(cn, {HeldCard{*fresh, employee, today, held.first().last, CardState::InUse}});
        deriveNameLists(cn, today, {employee});
        if (log)
            log(RegisterChange{RegisterChange::CardReplaced, employee, card, *fresh, 0, 0, 0,
                               false});
    });
}

void giveCard(store::SqlConnection& cn, const QString& employee, const QString& cardText,
              const QDate& from, const QDate& last, const LogRegister& log) {
    CardRefusal why{};
    const auto card = cardNumber(cardText, &why);
    if (!card)
        refuse(RegisterRefusal::Cell, {}, why);
    if (last.isValid() && last < from)
        refuse(RegisterRefusal::LeaveBeforeStart);
    cn.inOneTransaction([&] {
        const std::optional<Employee> e = findEmployee(cn, employee.trimmed());
        if (!e)
            refuse(RegisterRefusal::NoSuchEmployee);
        const QList<HeldCard> holders = cardsInUse(cn, from, *card);
        QHash<QString, Employee> people;
        for (const HeldCard& h : holders)
            if (const auto p = findEmployee(cn, h.employee))
                people.insert(h.employee, *p);
        const HeldCard given{*card, e->number, from, last, CardState::InUse};
        if (const auto other = otherHolder(holders, people, given, *e, from))
            refuse(RegisterRefusal::CardOfTwo, *other);
        insertCards(cn, {given});
        deriveNameLists(cn, QDate::currentDate(), {e->number});
        if (log)
            log(RegisterChange{RegisterChange::CardGiven, e->number, *card, {}, 0, 0, 0, false});
    });
}

bool keepsRegister(store::SqlConnection& cn) {
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM Employees WHERE StartDay IS NOT "
                       "NULL) THEN 1 ELSE 0 END"));
    return !rows.isEmpty() && rows.first().value(0).toInt() > 0;
}

int deriveNameLists(store::SqlConnection& cn, const QDate& day, const QStringList& employees) {
    int rows = 0;
    // In the transaction of the change it follows, when there is one.
    const auto work = [&] {
        if (!keepsRegister(cn))
            return;
        const QString d = dayText(day);
        if (employees.isEmpty()) {
            rows += cn.executeBound(QStringLiteral("DELETE FROM CardMapping"), {});
            rows += cn.executeBound(desiredRows(cn, QString()), {d, d, d, d});
            return;
        }
        for (qsizetype first = 0; first < employees.size(); first += RowsPerStatement) {
            const QStringList some = employees.mid(first, RowsPerStatement);
            QVariantList values;
            for (const QString& e : some)
                values << e;
            rows += cn.executeBound(QStringLiteral("DELETE FROM CardMapping WHERE EmpNo IN (%1)")
                                        .arg(marks(some.size())),
                                    values);
            rows += cn.executeBound(
                desiredRows(cn, QStringLiteral(" AND c.EmpNo IN (%1)").arg(marks(some.size()))),
                QVariantList{d, d, d, d} + values);
        }
    };
    if (cn.inTransaction())
        work();
    else
        cn.inOneTransaction(work);
    return rows;
}

QByteArray registerCsv(const QList<RegisterEntry>& entries, int lang) {
    const auto& header = kHeaders[lang == 1028 ? 1 : 0];
    QStringList head;
    for (const char16_t* h : header)
        head << QString::fromUtf16(h);
    QString text = QChar(0xFEFF) + head.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const RegisterEntry& r : entries) {
        const Employee& e = r.employee;
        const QStringList cells{e.number,
                                e.name,
                                e.department,
                                r.cards.value(0),
                                e.start.isValid() ? dayText(e.start) : QString(),
                                e.leave.isValid() ? dayText(e.leave) : QString()};
        QStringList safe;
        for (const QString& c : cells)
            safe << csvCellText(c);
        text += safe.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

void exportRegister(const QList<RegisterEntry>& entries, const QString& path, int lang) {
    try {
        writeWhole(registerCsv(entries, lang), path);
    } catch (const CardsRefused& r) {
        refuse(RegisterRefusal::CannotWrite, r.refused.detail);
    }
}

} // namespace bw::host::names
