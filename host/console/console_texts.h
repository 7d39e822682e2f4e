#pragma once

#include <QString>

namespace bw::host::console {

// The console's own texts, in Simplified (2052) and Traditional (1028) Chinese. Placeholders
// %1, %2 ... are filled by QString::arg.
enum class Text {
    Title,
    MenuFile,
    MenuView,
    MenuHelp,
    TerminalManagement,
    DataCollection,
    Refresh,
    OperationLog,
    Settings,
    About,
    Manual,
    Exit,
    Operator, // %1 name
    OperatorField,
    NeedHand, // %1 terminals
    AllWell,
    TrayHand,     // the tray notification's title
    TrayHandMore, // %1 more terminals needing a hand, not listed
    Refreshing,
    RefreshedAt, // %1 time
    ColTerminal,
    ColPort,
    ColPlace,
    ColAnswers,
    ColRoundTrip,
    ColReason,
    ColClock,
    ColWaiting,
    ColNames,
    ColLastCollection,
    ColLastNightly,
    Yes,
    No,
    InStep,
    OutOfStep,
    Collect,
    SetClock,
    DownloadNames,
    LineTest,
    LineTestDone,
    ReportCounting,
    InForceDatabase,
    InForceSimulator,
    InForcePorts,
    EmbeddedDatabase,
    NoDeviceSet,
    NoTerminal,
    EmptyRegister, // how to begin with a register without terminals
    NoTerminals,   // the summary over a register without terminals
    NoAnswer,
    HandClock,
    HandNames,
    HandCollection,
    HandRecords,
    HandImpossibleRecords,
    HandClockUnread,
    HandNamesUnread,
    Cancelled,
    ActionRunning, // %1 action
    ActionDone,    // %1 action, %2 failed steps
    ActionRefused, // %1 action the operator has no right to: nothing was sent
    LineTestRefused,
    ClockNotSet, // the computer's clock is unsynchronised: clocks are not set
    ClockManual, // [clock] require-synchronised=false, in the operator's words
    ClockMaxChange,
    ClockMaxChangeDefault, // %1 seconds
    Seconds,
    SettingsReadOnly,
    SiteNameField,   // the canteen's name on printed reports
    TakesEffectNow,  // what the settings changed that is in force at once
    WaitsForRestart, // %1 the settings that take effect at the next start
    NoDatabase,
    MealsTitle,       // chart title
    MealsToday,       // %1 meals today so far
    MealsUnreadable,  // %1 reason
    StatusUnreadable, // %1 reason
    LogUnreadable,    // %1 reason
    LogReading,
    AsOf, // %1 time the figures shown were read
    ReasonCannotOpen,
    ReasonRefused,
    ReasonOther,
    ReasonQuoted,   // %1 our words, %2 the database's description
    Terminal,       // %1 number
    OtherTerminals, // %1 how many
    From,
    To,
    User,
    Action,
    All,
    Show,
    ExportCsv,
    ExportDone, // %1 rows, %2 file
    ExportFailed,
    Older,        // the page of older entries
    Newer,        // the page of newer entries
    LogPlace,     // %1 page number, %2 matching entries
    LogPlaceMany, // %1 page number, %2 the most that are counted
    ColTime,
    ColUser,
    ColObject,
    ColAction,
    ColResult,
    Database,
    TestDatabase,
    DatabaseOk,
    DatabaseFailed, // %1 reason
    Language,
    LanguageDefault,
    SerialDevices,
    ComPort,
    Device,
    Description,
    ById,
    TcpPortMap,
    FromPort,
    ToPort,
    Add,
    Remove,
    BellSection,
    TraceLine,
    Simulator,
    SettingsKept, // %1 file
    SettingsNotKept,
    Version,       // %1
    DatabaseInUse, // %1
    SettingsFile,  // %1
    AssignHere,    // the selected terminals to this workstation
    AssignNone,    // the selected terminals to no workstation
    AssignedHere,  // %1 terminals, %2 this workstation
    AssignedNone,  // %1 terminals
    AssignFailed,  // %1 reason
    // The sign-in and the lock
    SignIn,
    Password,
    NewPassword,
    RepeatPassword,
    FirstPassword, // %1 operator
    LockedNote,    // %1 operator
    SwitchOperator,
    PasswordsDiffer,
    PasswordEmpty,
    SignInFailed, // %1 the database's reason
    // The operators window
    Operators,
    ColName,
    ColRights,
    ColDisabled,
    ColPasswordSet,
    AddOperator,
    ChangeRights,
    ChangePassword,
    DisableOperator,
    ConfirmDisable,       // %1 operator
    OperatorsUnreadable,  // %1 reason
    OperatorChangeFailed, // %1 reason
    // Why a sign-in or a change of operators was refused; %1 the operator's name
    RefusedWrongSignIn,
    RefusedNoPasswordYet,
    RefusedNotAnOperator,
    RefusedNotAdministrator,
    RefusedBadName,
    RefusedBadPassword,
    RefusedExists,
    RefusedNoSuchOperator,
    RefusedLastAdministrator,
    RefusedUnknownRight,
    // The rights by their keys
    RightAdmin,
    RightAdd,
    RightSave,
    RightEdit,
    RightDelete,
    RightTest,
    RightClock,
    RightBells,
    RightInit,
    RightCollect,
    RightClear,
    RightNames,
    // The monthly report
    MonthReport,
    Month,
    SelectedTerminals, // %1 terminals
    ExportReport,
    PrintReport,
    ReportWritten,    // %1 file
    ReportNotWritten, // %1 file, %2 the system's reason
    ReportPrinted,    // %1 file
    ReportCounted,    // %1 month, %2 records, %3 employees, %4 cards without an employee
    ReportByDay,
    RightCards,
    // The cards window
    Cards,   // the window and the operation log's action
    CardsOf, // %1 terminal
    ColCard,
    ColEmployee,
    ColEmployeeName,
    Search,
    AddCard,
    EditCard,
    RemoveCard,
    ImportCards,
    ExportCards,
    ReplaceCards,  // the import's choice: the file's cards replace the terminal's
    ConfirmRemove, // %1 card
    CardsToWrite,  // %1 cards
    RowsRefused,   // %1 rows
    RowRefused,    // %1 row, %2 reason
    WriteCards,
    CardsWritten,     // %1 cards
    CardsChanged,     // the list on the terminal is out of step
    CardsUnreadable,  // %1 reason
    CardChangeFailed, // %1 reason
    CardsExported,    // %1 cards, %2 file
    CsvFiles,
    // The log's results of a change; %1 card, %2 employee, %3 name, %4 former card
    // Why a card was refused
    CardMissing,
    CardNotDigits,
    CardTooLong,
    EmployeeMissing,
    EmployeeTooLong,
    NameTooLong,
    ControlCharacter,
    FormulaCell,
    DuplicateCard,
    DuplicateCardInFile, // %1 the row that has it first
    NoSuchCard,
    NoSuchTerminal,
    WrongEncoding,
    FileTooLarge, // %1 MB
    EmptyCardFile,
    NoCardColumn,
    CannotRead,  // %1 reason
    CannotWrite, // %1 reason
};

// The text in the user-interface language (1028 for Traditional, else Simplified).
QString text(Text id);
QString text(Text id, int lang);

} // namespace bw::host::console
