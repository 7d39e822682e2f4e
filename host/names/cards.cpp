#include "host/names/cards.h"

#include "platform/error.h"
#include "platform/safe_file.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QVariant>
#include <cerrno>
#include <iconv.h>

namespace bw::host::names {

namespace {

constexpr int CardDigits = 8;
constexpr int MaxEmployee = 50; // CardMapping.EmpNo, Employees.EmpNo
constexpr int MaxName = 100;    // Employees.Name

bool hasControl(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

// What a spreadsheet opening the file would run or take as a formula, as read or as kept
// (trimmed: " =HYPERLINK(...)" is kept as a formula).
bool formulaLike(const QString& cell) {
    for (const QString& t : {cell, cell.trimmed()}) {
        const QChar c = t.isEmpty() ? QChar() : t.front();
        if (c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') ||
            c == QLatin1Char('@') || c == QLatin1Char('\t') || c == QLatin1Char('\r'))
            return true;
    }
    return false;
}

// A cell's refusal before what it holds is looked at.
std::optional<CardRefusal> cellRefusal(const QString& cell) {
    if (formulaLike(cell))
        return CardRefusal::Formula;
    if (hasControl(cell))
        return CardRefusal::ControlCharacter;
    return std::nullopt;
}

[[noreturn]] void refuse(CardRefusal why, int row = 0, int otherRow = 0) {
    throw CardsRefused(RefusedRow{row, why, otherRow, QString()});
}

void requireTerminal(store::SqlConnection& cn, int terminal) {
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = ?"), {terminal});
    if (terminal < 1 || terminal > 255 || rows.isEmpty() || rows.first().value(0).toInt() == 0)
        refuse(CardRefusal::NoSuchTerminal);
}

bool onTerminal(store::SqlConnection& cn, int terminal, const QString& card) {
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT COUNT(*) FROM CardMapping WHERE MachAddr = ? AND CardNo = ?"),
        {terminal, card});
    return !rows.isEmpty() && rows.first().value(0).toInt() > 0;
}

// The card's value checked and its number as it is kept.
Card checked(const Card& given) {
    CardRefusal why{};
    const std::optional<QString> number = cardNumber(given.card, &why);
    if (!number)
        refuse(why);
    if (const auto bad = checkCard(given))
        refuse(*bad);
    return Card{*number, given.employee.trimmed(), given.name.trimmed()};
}

// The employee's name, where one is given; Employees keeps one row per employee number.
void setName(store::SqlConnection& cn, const Card& card) {
    if (card.name.isEmpty())
        return;
    cn.executeBound(QStringLiteral("INSERT INTO Employees (EmpNo, Name) VALUES (?, ?) ON CONFLICT "
                                   "(EmpNo) DO UPDATE SET Name = excluded.Name"),
                    {card.employee, card.name});
}

// The text of a file: UTF-8 when it is valid UTF-8 (its byte-order mark dropped), else
// GB18030 when it decodes as that, else nothing. A NUL byte is no text in either.
std::optional<QString> decode(const QByteArray& bytes, bool& gb18030) {
    gb18030 = false;
    if (bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == iconv_t(-1))
        return std::nullopt;
    QByteArray out(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* to = out.data();
    size_t outLeft = size_t(out.size());
    const size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (done == size_t(-1) || inLeft != 0)
        return std::nullopt;
    out.truncate(out.size() - int(outLeft));
    gb18030 = true;
    return QString::fromUtf8(out);
}

// The records of CSV text, each with its cells: comma-separated, a quoted cell may hold
// commas, quotes ("") and line ends.
QList<QStringList> records(const QString& text) {
    QList<QStringList> out;
    QStringList record;
    QString cell;
    bool quoted = false;
    bool any = false; // something of the record was read
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && cell.isEmpty()) {
            quoted = any = true;
        } else if (c == QLatin1Char(',')) {
            record << cell;
            cell.clear();
            any = true;
        } else if (c == QLatin1Char('\n') ||
                   (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))) {
            if (c == QLatin1Char('\r'))
                ++i;
            record << cell;
            out << record;
            record.clear();
            cell.clear();
            any = false;
        } else {
            cell += c;
            any = true;
        }
    }
    if (any || !cell.isEmpty()) {
        record << cell;
        out << record;
    }
    return out;
}

enum Column { CardColumn, EmployeeColumn, NameColumn };

// The column a header cell names, or -1.
int columnNamed(const QString& cell) {
    static const QHash<QString, int> names{
        {QStringLiteral("卡号"), CardColumn},     {QStringLiteral("卡號"), CardColumn},
        {QStringLiteral("cardno"), CardColumn},   {QStringLiteral("工号"), EmployeeColumn},
        {QStringLiteral("工號"), EmployeeColumn}, {QStringLiteral("empno"), EmployeeColumn},
        {QStringLiteral("姓名"), NameColumn},     {QStringLiteral("name"), NameColumn},
    };
    return names.value(cell.trimmed().toLower(), -1);
}

const char16_t* const kHeaders[][3] = {
    {u"卡号", u"工号", u"姓名"},
    {u"卡號", u"工號", u"姓名"},
};

} // namespace

QString describe(const RefusedRow& r) {
    QString why;
    switch (r.why) {
    case CardRefusal::CardMissing:
        why = QStringLiteral("no card number");
        break;
    case CardRefusal::CardNotDigits:
        why = QStringLiteral("card number has letters");
        break;
    case CardRefusal::CardTooLong:
        why = QStringLiteral("card number has more than 8 digits");
        break;
    case CardRefusal::EmployeeMissing:
        why = QStringLiteral("no employee number");
        break;
    case CardRefusal::EmployeeTooLong:
        why = QStringLiteral("employee number longer than 50 characters");
        break;
    case CardRefusal::NameTooLong:
        why = QStringLiteral("name longer than 100 characters");
        break;
    case CardRefusal::ControlCharacter:
        why = QStringLiteral("control character in a cell");
        break;
    case CardRefusal::Formula:
        why = QStringLiteral("cell starts like a formula (= + - @ tab)");
        break;
    case CardRefusal::DuplicateCard:
        why = r.otherRow > 0 ? QStringLiteral("card given in row %1 already").arg(r.otherRow)
                             : QStringLiteral("card is on the terminal already");
        break;
    case CardRefusal::NoSuchCard:
        why = QStringLiteral("no such card on the terminal");
        break;
    case CardRefusal::NoSuchTerminal:
        why = QStringLiteral("no such terminal in the register");
        break;
    case CardRefusal::WrongEncoding:
        why = QStringLiteral("wrong encoding (neither UTF-8 nor GB18030)");
        break;
    case CardRefusal::FileTooLarge:
        why = QStringLiteral("file larger than %1 MB").arg(MaxCardFileBytes / (1024 * 1024));
        break;
    case CardRefusal::EmptyFile:
        why = QStringLiteral("no card in the file");
        break;
    case CardRefusal::NoCardColumn:
        why = QStringLiteral("the header names no card number column (卡号 or CardNo)");
        break;
    case CardRefusal::CannotRead:
        why = QStringLiteral("cannot read the file: ") + r.detail;
        break;
    case CardRefusal::CannotWrite:
        why = QStringLiteral("cannot write the file: ") + r.detail;
        break;
    }
    return r.row > 0 ? QStringLiteral("row %1: %2").arg(r.row).arg(why) : why;
}

std::optional<QString> cardNumber(const QString& text, CardRefusal* why) {
    const QString t = text.trimmed();
    CardRefusal refusal{};
    if (t.isEmpty())
        refusal = CardRefusal::CardMissing;
    else if (!std::all_of(t.begin(), t.end(),
                          [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
        refusal = formulaLike(text) ? CardRefusal::Formula : CardRefusal::CardNotDigits;
    else if (t.size() > CardDigits)
        refusal = CardRefusal::CardTooLong;
    else
        return t.rightJustified(CardDigits, QLatin1Char('0'));
    if (why)
        *why = refusal;
    return std::nullopt;
}

std::optional<CardRefusal> checkCard(const Card& card) {
    for (const QString* cell : {&card.card, &card.employee, &card.name})
        if (const auto bad = cellRefusal(*cell))
            return bad;
    const QString employee = card.employee.trimmed();
    if (employee.isEmpty())
        return CardRefusal::EmployeeMissing;
    if (employee.size() > MaxEmployee)
        return CardRefusal::EmployeeTooLong;
    if (card.name.trimmed().size() > MaxName)
        return CardRefusal::NameTooLong;
    return std::nullopt;
}

QList<Card> listCards(store::SqlConnection& cn, int terminal) {
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT c.CardNo, c.EmpNo, e.Name FROM CardMapping c LEFT JOIN Employees e "
                       "ON e.EmpNo = c.EmpNo WHERE c.MachAddr = ? ORDER BY c.CardNo"),
        {terminal});
    QList<Card> cards;
    cards.reserve(rows.size());
    for (const QVariantList& row : rows)
        cards << Card{row.value(0).toString(), row.value(1).toString(), row.value(2).toString()};
    return cards;
}

void addCard(store::SqlConnection& cn, int terminal, const Card& given, const LogChange& log) {
    const Card card = checked(given);
    cn.inOneTransaction([&] {
        requireTerminal(cn, terminal);
        if (onTerminal(cn, terminal, card.card))
            refuse(CardRefusal::DuplicateCard);
        cn.executeBound(
            QStringLiteral("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, ?, ?)"),
            {card.card, card.employee, terminal});
        setName(cn, card);
        if (log)
            log(CardChange{CardChange::Added, card, QString(), 1, false});
    });
}

void changeCard(store::SqlConnection& cn, int terminal, const QString& formerCard,
                const Card& given, const LogChange& log) {
    const Card card = checked(given);
    cn.inOneTransaction([&] {
        requireTerminal(cn, terminal);
        if (!onTerminal(cn, terminal, formerCard))
            refuse(CardRefusal::NoSuchCard);
        if (card.card != formerCard && onTerminal(cn, terminal, card.card))
            refuse(CardRefusal::DuplicateCard);
        cn.executeBound(QStringLiteral("UPDATE CardMapping SET CardNo = ?, EmpNo = ? WHERE "
                                       "MachAddr = ? AND CardNo = ?"),
                        {card.card, card.employee, terminal, formerCard});
        setName(cn, card);
        if (log)
            log(CardChange{CardChange::Changed, card, formerCard, 1, false});
    });
}

void removeCard(store::SqlConnection& cn, int terminal, const QString& card, const LogChange& log) {
    cn.inOneTransaction([&] {
        const auto rows =
            cn.queryBound(QStringLiteral("SELECT EmpNo FROM CardMapping WHERE MachAddr = ? AND "
                                         "CardNo = ?"),
                          {terminal, card});
        if (rows.isEmpty())
            refuse(CardRefusal::NoSuchCard);
        cn.executeBound(QStringLiteral("DELETE FROM CardMapping WHERE MachAddr = ? AND CardNo = ?"),
                        {terminal, card});
        if (log)
            log(CardChange{CardChange::Removed, Card{card, rows.first().value(0).toString(), {}},
                           QString(), 1, false});
    });
}

CardFile readCardText(const QByteArray& bytes) {
    CardFile file;
    const CsvRecords csv = readCsvRecords(bytes);
    file.gb18030 = csv.gb18030;
    if (csv.refused) {
        file.refused << *csv.refused;
        return file;
    }
    const QList<QStringList>& all = csv.records;
    int columns[3] = {0, 1, 2};
    int first = 0;
    if (!all.isEmpty()) {
        int named[3] = {-1, -1, -1};
        bool header = false;
        for (int i = 0; i < all.first().size(); ++i) {
            const int c = columnNamed(all.first()[i]);
            if (c >= 0 && named[c] < 0) {
                named[c] = i;
                header = true;
            }
        }
        if (header) {
            if (named[CardColumn] < 0) {
                file.refused << RefusedRow{1, CardRefusal::NoCardColumn, 0, QString()};
                return file;
            }
            std::copy(std::begin(named), std::end(named), std::begin(columns));
            first = 1;
        }
    }
    QHash<QString, int> seen; // card -> its row
    for (int i = first; i < all.size(); ++i) {
        const QStringList& record = all[i];
        const int row = i + 1;
        if (std::all_of(record.cbegin(), record.cend(),
                        [](const QString& cell) { return cell.trimmed().isEmpty(); }))
            continue;
        const auto cell = [&](int column) {
            return columns[column] >= 0 ? record.value(columns[column]) : QString();
        };
        const Card given{cell(CardColumn), cell(EmployeeColumn), cell(NameColumn)};
        CardRefusal why{};
        std::optional<CardRefusal> bad = cellRefusal(given.card);
        const std::optional<QString> number = bad ? std::nullopt : cardNumber(given.card, &why);
        if (!bad && !number)
            bad = why;
        if (!bad)
            bad = checkCard(given);
        if (!bad && seen.contains(*number)) {
            file.refused << RefusedRow{row, CardRefusal::DuplicateCard, seen.value(*number),
                                       QString()};
            continue;
        }
        if (bad) {
            file.refused << RefusedRow{row, *bad, 0, QString()};
            continue;
        }
        seen.insert(*number, row);
        file.cards << Card{*number, given.employee.trimmed(), given.name.trimmed()};
        file.rows << row;
    }
    if (file.cards.isEmpty() && file.refused.isEmpty())
        file.refused << RefusedRow{0, CardRefusal::EmptyFile, 0, QString()};
    return file;
}

CardFile readCardFile(const QString& path) {
    CardFile file;
    QByteArray bytes;
    if (const auto refused = readFileBytes(path, bytes)) {
        file.refused << *refused;
        return file;
    }
    return readCardText(bytes);
}

int importCards(store::SqlConnection& cn, int terminal, const CardFile& file, bool replace,
                const LogChange& log) {
    if (!file.refused.isEmpty())
        throw CardsRefused(file.refused.first());
    if (file.cards.isEmpty())
        refuse(CardRefusal::EmptyFile);
    cn.inOneTransaction([&] {
        requireTerminal(cn, terminal);
        QSet<QString> present;
        if (replace) {
            cn.executeBound(QStringLiteral("DELETE FROM CardMapping WHERE MachAddr = ?"),
                            {terminal});
        } else {
            for (const QVariantList& row :
                 cn.queryBound(QStringLiteral("SELECT CardNo FROM CardMapping WHERE MachAddr = ?"),
                               {terminal}))
                present.insert(row.value(0).toString());
        }
        // One statement of each kind, prepared once for every row.
        cn.ensureUsable(store::SqlConnection::Use::Write);
        QSqlQuery insert(cn.database()), update(cn.database()), name(cn.database());
        insert.prepare(
            QStringLiteral("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, ?, ?)"));
        update.prepare(
            QStringLiteral("UPDATE CardMapping SET EmpNo = ? WHERE MachAddr = ? AND CardNo = ?"));
        name.prepare(QStringLiteral("INSERT INTO Employees (EmpNo, Name) VALUES (?, ?) ON CONFLICT "
                                    "(EmpNo) DO UPDATE SET Name = excluded.Name"));
        const auto run = [](QSqlQuery& q, const QVariantList& values) {
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, values[i]);
            if (!q.exec())
                throw store::databaseError(store::dberr::CommandFailed, q.lastQuery(),
                                           q.lastError());
        };
        for (const Card& card : file.cards) {
            if (present.contains(card.card))
                run(update, {card.employee, terminal, card.card});
            else
                run(insert, {card.card, card.employee, terminal});
            if (!card.name.isEmpty())
                run(name, {card.employee, card.name});
        }
        if (log)
            log(CardChange{CardChange::Imported, Card{}, QString(), int(file.cards.size()),
                           replace});
    });
    return int(file.cards.size());
}

QByteArray cardsCsv(const QList<Card>& cards, int lang) {
    const auto cellText = csvCellText;
    const auto& header = kHeaders[lang == 1028 ? 1 : 0];
    QString text = QChar(0xFEFF);
    text += QString::fromUtf16(header[0]) + QLatin1Char(',') + QString::fromUtf16(header[1]) +
            QLatin1Char(',') + QString::fromUtf16(header[2]) + QLatin1String("\r\n");
    for (const Card& c : cards)
        text += cellText(c.card) + QLatin1Char(',') + cellText(c.employee) + QLatin1Char(',') +
                cellText(c.name) + QLatin1String("\r\n");
    return text.toUtf8();
}

void exportCards(const QList<Card>& cards, const QString& path, int lang) {
    writeWhole(cardsCsv(cards, lang), path);
}

std::optional<RefusedRow> readFileBytes(const QString& path, QByteArray& bytes) {
    QFile f(path);
    // The size is looked at before anything is read; a file that grows is read no further.
    if (QFileInfo(path).size() > MaxCardFileBytes)
        return RefusedRow{0, CardRefusal::FileTooLarge, 0, QString()};
    if (!f.open(QIODevice::ReadOnly))
        return RefusedRow{0, CardRefusal::CannotRead, 0, f.errorString()};
    bytes = f.read(MaxCardFileBytes + 1);
    if (f.error() != QFileDevice::NoError)
        return RefusedRow{0, CardRefusal::CannotRead, 0, f.errorString()};
    return std::nullopt;
}

CsvRecords readCsvRecords(const QByteArray& bytes) {
    CsvRecords out;
    if (bytes.size() > MaxCardFileBytes) {
        out.refused = RefusedRow{0, CardRefusal::FileTooLarge, 0, QString()};
        return out;
    }
    const std::optional<QString> text = decode(bytes, out.gb18030);
    if (!text)
        out.refused = RefusedRow{0, CardRefusal::WrongEncoding, 0, QString()};
    else
        out.records = records(*text);
    return out;
}

std::optional<CardRefusal> cellRefusalOf(const QString& cell) {
    return cellRefusal(cell);
}

QString csvCellText(QString cell) {
    if (formulaLike(cell))
        cell.prepend(QLatin1Char('\''));
    if (cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"')) ||
        cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r')))
        cell = QLatin1Char('"') + cell.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
               QLatin1Char('"');
    return cell;
}

void writeWhole(const QByteArray& bytes, const QString& path) {
    // Card numbers and names: the owner shares the file, if at all, by choice.
    SafeFile file(path, SafeFile::Access::Private);
    if (!file.open() || !file.write(bytes) || !file.commit())
        throw CardsRefused(RefusedRow{0, CardRefusal::CannotWrite, 0, file.errorString()});
}

} // namespace bw::host::names
