#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace bw::sim {

// Fault modes of a simulated line (one set per run).
struct Faults {
    bool silent = false;       // never answers
    int partial = -1;          // >= 0: only the first N bytes of each reply are sent
    bool wrongAddress = false; // replies carry another address in byte 0
    int delayMs = 0;           // each reply is held back this long (the transport applies it)
    bool garbage = false;      // replies are random bytes of the right length
    int corruptEvery = 0;      // > 0: every Nth record block goes out with a wrong check byte
    // Records that go out with other bytes after their number (card, date and time, flag:
    // 11 bytes), by record number: a record the host cannot read.
    std::map<quint32, QByteArray> recordBytes;
    // Records numbered hideFrom to hideTo are kept but left out of record blocks (a gap).
    quint32 hideFrom = 1, hideTo = 0;
    qint64 statusCount = -1; // >= 0: the record status claims this many records
    // The name-list commit is done, but its reply is lost, cut to three bytes, sent with
    // another address or as random bytes: the host cannot know whether the list was taken.
    enum class CommitReply { Whole, Lost, Short, WrongAddress, Garbled };
    CommitReply commitReply = CommitReply::Whole;
    // A terminal that answers only some requests: these it never answers.
    bool ignoreClock = false; // clock read and set (the connect link's)
    bool ignoreNames = false; // every name-list request
    // The name-list status reply goes out wrong: its check byte, cut short, or under another
    // terminal's address.
    enum class NamesStatusFault { None, BadCheck, Short, OtherAddress };
    NamesStatusFault namesStatus = NamesStatusFault::None;
};

// One meal record as a terminal keeps it.
struct MealRecord {
    quint32 number = 0; // the terminal's record number: increasing, never given twice
    quint32 card = 0;   // card number, eight decimal digits
    QDateTime time;     // to the second
    quint8 flag = 0;    // 0 meal, 1 in, 2 out
};

// What one simulated model-6429 terminal keeps.
struct Terminal {
    int address = 1;
    qint64 clockOffsetSecs = 0;       // terminal clock = host clock + offset
    std::array<quint8, 60> bellBcd{}; // hour, minute of bell times 0..29, BCD
    int bellCount = 0;                // 0..30
    std::deque<MealRecord> records;   // stored meal records, oldest first
    quint32 lastRecordNumber = 0;     // the last number given (kept by a clear)
    QStringList nameList;             // the name (card) list: eight-digit cards, sorted, each once
    QStringList staged;               // cards of a name-list download not yet committed
    int stagedBlocks = 0;             // blocks appended to staged since the download began
    std::array<std::array<QTime, 10>, 3> bellGroups{}; // groups 1..3 written by the connect link
    QDateTime clock() const { return QDateTime::currentDateTime().addSecs(clockOffsetSecs); }

    // Card number of the demo name list's entry i (0-based): 00010001 for the first.
    static quint32 cardOfName(int i) { return quint32(10001 + i); }
    // The card of name-list entry i, as a number; 0 when it is not eight digits.
    quint32 listedCard(int i) const;
    // Stores a new record under the next record number.
    void addRecord(quint32 card, const QDateTime& time, quint8 flag);
    // Adds n records of the name list's cards in turn, one every 20 s up to now; none
    // without a list (the terminal takes no meal of a card it does not know).
    void makeRecords(int n);
};

// One or more terminals on one multi-drop line. The line decodes requests and produces the
// replies; how bytes travel (in memory, pseudo-terminal, TCP) and pacing are the transport's.
class Line {
public:
    explicit Line(const QList<int>& addresses);
    ~Line();

    void setFaults(const Faults& faults);
    const Faults& faults() const;

    // A character whose ninth bit is known (bit 8 of ch: 1 address, 0 data). Returns the reply
    // bytes when this character completed a request (empty otherwise).
    QByteArray receive9(quint16 ch);
    // Bytes without their ninth bit (pseudo-terminal, TCP): requests are found by their
    // structure and check byte. Returns the reply bytes of every request completed.
    QByteArray receiveRaw(const QByteArray& bytes);
    // The same for one of several independent byte streams (each TCP connection, the
    // pseudo-terminal): every channel keeps its own partial request. Channel 0 is the one
    // receiveRaw(bytes) uses.
    QByteArray receiveRaw(const QByteArray& bytes, int channel);
    // Forgets the partial request of a channel (its connection went away).
    void resetChannel(int channel);

    // Called after every request that changed a terminal's state.
    void setChangeHandler(std::function<void()> handler);
    // Every terminal's state as JSON text: {"terminals": {"<address>": {...}}}.
    QByteArray stateJson() const;
    // Takes back what stateJson() wrote for the terminals of this line (a power cycle): records,
    // numbering, name list, clock offset and bell times. False when the text is not such a
    // state; a terminal it does not name keeps what it has.
    bool loadState(const QByteArray& json);

    Terminal* terminal(int address); // nullptr when no such terminal
    QList<int> addresses() const;

    // Hex trace of requests and replies (when enabled), one line each.
    void setTrace(bool on);
    QStringList takeTrace();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace bw::sim
