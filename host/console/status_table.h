#pragma once

#include "host/site/status.h"

#include <QAbstractTableModel>
#include <QList>

namespace bw::host::console {

// The site status: one row per terminal of the register, in register order. A row that needs
// a hand is coloured and marked with a warning icon.
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

    void reset(const QList<site::TerminalStatus>& all);
    // Replaces the row of the same terminal, or adds one.
    void update(const site::TerminalStatus& status);
    const QList<site::TerminalStatus>& all() const { return rows_; }
    int needingHand() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<site::TerminalStatus> rows_;
};

// A cell's text: "—" for what could not be read.
QString statusCell(const site::TerminalStatus& status, int column);
// A column's heading.
QString headingOf(int column);
// The whole row on one line, in the operator's language: "3号机：端口：COM1；...".
QString statusNote(const site::TerminalStatus& status);

} // namespace bw::host::console
