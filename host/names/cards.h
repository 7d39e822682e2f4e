#pragma once

#include "store/sql_connection.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The cards of a terminal: CardMapping's rows (card number, employee number, terminal) with
// the employee's name from Employees, changed one by one or imported from a CSV file, and
// exported to one. Card and employee numbers are text: their leading zeros are kept.
namespace bw::host::names {

struct Card {
    QString card;     // as the terminal holds it: eight digits
    QString employee; // EmpNo
    QString name;     // Employees.Name; empty when the employee has none
    bool operator==(const Card&) const = default;
};

// Why a value, a row or a file was refused; words are the front ends'.
enum class CardRefusal {
    CardMissing,
    CardNotDigits, // letters or other characters in the card number
    CardTooLong,   // more than eight digits
    EmployeeMissing,
    EmployeeTooLong, // more than 50 characters
    NameTooLong,     // more than 100 characters
    ControlCharacter,
    Formula,        // a cell a spreadsheet would take as a formula (= + - @ tab CR first)
    DuplicateCard,  // the card is on the terminal (or earlier in the file) already
    NoSuchCard,     // the card to change or remove is not on the terminal
    NoSuchTerminal, // no terminal of that number in MachineInfo
    WrongEncoding,  // neither UTF-8 nor GB18030
    FileTooLarge,
    EmptyFile, // no card row
    NoCardColumn,
    CannotRead, // the file cannot be opened or read (detail: the system's reason)
    CannotWrite,
};

struct RefusedRow {
    int row = 0; // the file's row (the header is row 1); 0: the file as a whole or a value
    CardRefusal why = CardRefusal::CardMissing;
    int otherRow = 0; // DuplicateCard: the row that has the card first
    QString detail;   // CannotRead, CannotWrite: the system's reason
};

// A refusal in English, for the command-line programs: "row 7: card number has letters".
QString describe(const RefusedRow& refused);

// Raised by the changes below for a refused value; nothing was written then. Database errors
// come as bw::Error.
struct CardsRefused : std::runtime_error {
    explicit CardsRefused(RefusedRow r) : std::runtime_error("card refused"), refused(r) {}
    RefusedRow refused;
};

// The card number of text as the terminal holds it: one to eight digits, given leading zeros
// up to eight (a spreadsheet that took the number as a number dropped them). The one rule for
// every card the host writes, matching what protocol::normalisedCards sends.
std::optional<QString> cardNumber(const QString& text, CardRefusal* why = nullptr);
// The check of a card's employee number and name (and the formula rule for every cell).
std::optional<CardRefusal> checkCard(const Card& card);

// A change written to the database, for the operation log: the log function given to the
// changes below is called inside their transaction, and a log entry that cannot be written
// undoes the change.
struct CardChange {
    enum Kind { Added, Changed, Removed, Imported } kind = Added;
    Card card;          // Added, Changed, Removed
    QString formerCard; // Changed: the card number it had
    int rows = 0;       // Imported: the rows written
    bool replaced = false;
};
using LogChange = std::function<void(const CardChange&)>;

// The terminal's cards with their employees' names, ordered by card number.
QList<Card> listCards(store::SqlConnection& cn, int terminal);
// Adds a card; formerCard empty, or changes the card formerCard into card; removes one. Raise
// CardsRefused (NoSuchTerminal, DuplicateCard, NoSuchCard, a value's refusal).
void addCard(store::SqlConnection& cn, int terminal, const Card& card, const LogChange& log);
void changeCard(store::SqlConnection& cn, int terminal, const QString& formerCard, const Card& card,
                const LogChange& log);
void removeCard(store::SqlConnection& cn, int terminal, const QString& card, const LogChange& log);

// A CSV file read for an import: the rows that would be written and every row refused.
struct CardFile {
    QList<Card> cards;
    QList<int> rows; // the file's row of each card
    QList<RefusedRow> refused;
    bool gb18030 = false; // the file was read as GB18030 (else UTF-8)
    bool ok() const { return refused.isEmpty() && !cards.isEmpty(); }
};
// The largest file read.
constexpr qint64 MaxCardFileBytes = 20 * 1024 * 1024;

// Reads a CSV file of cards: UTF-8 with or without byte-order mark, else GB18030 when it
// decodes as that; comma-separated, "" quotes; a first row naming the columns (卡号/卡號/
// CardNo, 工号/工號/EmpNo, 姓名/Name, in any order) is the header, else the columns are card,
// employee, name. Blank rows are skipped; a card twice is refused at its second row.
CardFile readCardFile(const QString& path);
CardFile readCardText(const QByteArray& bytes);

// Writes the file's cards to the terminal in one transaction: replace, the terminal's cards
// become the file's; else the file's cards are added, and those on the terminal already get
// the file's employee. Employees' names are set where the file gives one. Raises
// CardsRefused (the file's first refusal, NoSuchTerminal) or bw::Error; nothing is written
// then. Returns the rows written.
int importCards(store::SqlConnection& cn, int terminal, const CardFile& file, bool replace,
                const LogChange& log);

// The CSV text of cards for a spreadsheet: UTF-8 with a byte-order mark, the header in the
// language given (2052, 1028), a cell a spreadsheet would take as a formula led by a quote.
QByteArray cardsCsv(const QList<Card>& cards, int lang);
// Writes it to path (whole or not at all); raises CardsRefused(CannotWrite).
void exportCards(const QList<Card>& cards, const QString& path, int lang);

// The pieces of the card file's reader that the register's reader shares: a file's bytes read
// as a card file's are (its size looked at first), the records of bytes decoded as a card
// file's are, a cell's own refusal, a cell written for a spreadsheet, and bytes written to
// path whole or not at all (raises CardsRefused(CannotWrite)).
std::optional<RefusedRow> readFileBytes(const QString& path, QByteArray& bytes);
struct CsvRecords {
    QList<QStringList> records;
    bool gb18030 = false;
    std::optional<RefusedRow> refused; // the file as a whole
};
CsvRecords readCsvRecords(const QByteArray& bytes);
std::optional<CardRefusal> cellRefusalOf(const QString& cell);
QString csvCellText(QString cell);
void writeWhole(const QByteArray& bytes, const QString& path);

} // namespace bw::host::names
