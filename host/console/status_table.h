#pragma once

#include "host/site/status.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QSet>
#include <QStringList>

namespace bw::host::console {

// A terminal's status with its words: its cells, its tool tip and whether it needs a hand.
// Made where the status is read (a worker thread), so that the view only shows them.
struct StatusRow {
    site::TerminalStatus status;
    QStringList cells;
    QString note;
    bool hand = false;
};
StatusRow statusRow(const site::TerminalStatus& status);

// The site status: one row per terminal of the register, in register order. A row that needs
// a hand is coloured and marked with a warning icon; rows that could not be read again are
// greyed as old.
class StatusTable : public QAbstractTableModel {
public:
    enum Column {
        Terminal,
        Port,
        Place,
        Answers,
        RoundTrip,
        Clock,
        Waiting,
        Names,
        LastCollection,
        LastNightly,
        Reason,
        Columns
    };
    using QAbstractTableModel::QAbstractTableModel;

    void reset(const QList<StatusRow>& rows);
    // Replaces the row of the same terminal, or adds one.
    void update(const StatusRow& row);
    const QList<site::TerminalStatus>& all() const { return all_; }
    int needingHand() const;
    // The rows shown are those of an earlier reading: the last one failed.
    void setOld(bool old);
    bool old() const { return old_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<site::TerminalStatus> all_; // what all() gives, row for row with rows_
    QList<StatusRow> rows_;
    bool old_ = false;
    mutable QIcon warning_; // made on first use, on the GUI thread
    mutable QIcon fine_;
};

// The terminals a reading finds newly needing a hand, in the reading's order: those that need
// one now and did not at their previous reading, the first reading after the start included
// (once per terminal). needing, the terminals that needed a hand at their last reading, is
// brought up to date; a terminal this reading did not read (cancelled, refused to the
// operator, no terminal of the register) keeps what it had.
QList<int> newlyNeedingHand(QSet<int>& needing, const QList<site::TerminalStatus>& reading);
// The tray notification's text for those terminals: a line each for the first few, in the
// operator's language, with what each needs.
QString handNotice(const QList<site::TerminalStatus>& terminals);

// A cell's text: "—" for what could not be read.
QString statusCell(const site::TerminalStatus& status, int column);
// A column's heading.
QString headingOf(int column);
// The whole row on one line, in the operator's language: "3号机：端口：COM1；...".
QString statusNote(const site::TerminalStatus& status);

} // namespace bw::host::console
