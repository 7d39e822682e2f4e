#pragma once

#include <QString>

namespace bw::host::collect {

// The data-collection component's own texts, in Simplified (2052) and Traditional (1028)
// Chinese. Placeholders %1, %2 ... are filled by QString::arg.
enum class Text {
    Terminals,
    Collect,
    CollectAndClear,
    Cancel,
    Terminal,
    Progress,
    Result,
    From,
    To,
    All,
    Show,
    ExportCsv,
    Operator,
    Waiting,
    Done,        // %1 read, %2 new
    DoneCleared, // %1 read, %2 new, %3 cleared up to
    Failed,      // %1 reason, %2 records stored
    Cancelled,   // %1 records stored
    NoTerminal,  // nothing selected
    NoDatabase,
    Refused, // permission
    Running,
    ExportDone,    // %1 rows, %2 file
    ExportFailed,  // %1 file
    ShownFirst,    // %1 rows: more records than the table shows
    ActionCollect, // operation log actions
    ActionCollectClear,
    ColTerminal,
    ColRecordNo,
    ColCard,
    ColEmployee,
    ColTime,
    ColFlag,
    ColCollectedAt,
    ColCollectedBy,
    FlagMeal,
    FlagIn,
    FlagOut,
    ReasonCannotOpen, // why a terminal's collection failed
    ReasonNoAnswer,
    ReasonRefused,
    ReasonBadBlock,
    ReasonConnectionLost,
    ReasonDatabase, // followed by the database's own text
    ReasonBadStatus,
    FailedUnconfirmed, // %1 reason, %2 records stored; the delete's reply never came
    NoteRaw,           // %1 records kept as they came
    NoteRestart,       // the terminal's numbering started again
    NoteGap,           // records after a gap stay on the terminal
    ClearPending,      // %1 the number the delete names; log entry until the reply
    DownloadNames,     // the button, its permission's function and its operation-log action
    RunningNames,
    NamesDone,   // %1 cards
    NamesFailed, // %1 reason
    NamesCancelled,
    ReasonTooManyCards, // %1 cards, %2 the most a terminal holds
    ReasonLineBusy,     // %1 the device, %2 the program holding it
    ReasonNoDevice,     // %1 "COM<n>"
    ReasonUnconfirmed,
    ReasonNotInRegister,
    ReasonBadPort,             // %1 the register's port text
    ReasonSystem,              // %1 the system's own reason: appended to a device
    NamesInStep,               // %1 cards
    NamesWould,                // %1 cards, %2 cards held
    ActionClock,               // operation log action of a clock step
    ClockSet,                  // %1 the time sent
    ClockFailed,               // %1 reason
    HeldBy,                    // "another program" when the holder is not known
    ReasonClockUnsynchronised, // the clock guard's refusals
    ReasonClockTooFar,         // %1 seconds the push would move the clock
    ReasonClockYear,           // %1 the year
    ClearConfirmedLater,       // %1: a ClearPending entry the next collection found done
    ClearNotDoneLater,         // %1: ... found not done (the records are still there)
    ReasonOtherWorkstation,    // %1 the workstation the register gives the terminal to
    ActionAssign,              // operation log: a terminal given to a workstation
    NoWorkstation,             // ... to none
    ReasonTwoUnits,            // %1 the terminal number two units answer to
    NoteHeld,                  // %1 records held back, not stored
    NoteUnwritten,             // %1 operation-log entries and step rows the database refused
};
// The last of the texts: a text added after it is to be named here.
inline constexpr Text LastText = Text::NoteUnwritten;

// The text in the user-interface language (1028 for Traditional, else Simplified).
QString text(Text id);
QString text(Text id, int lang);

} // namespace bw::host::collect
