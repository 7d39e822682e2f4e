#include "host/console/status_table.h"

#include "host/collect/collect_run.h"
#include "host/console/console_texts.h"
#include "platform/ui.h"
#include "platform_ui/message_box.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QStyle>
#include <algorithm>

namespace bw::host::console {

namespace {

const QString kUnread = QStringLiteral("—");

template <typename T, typename F> QString orUnread(const std::optional<T>& value, F show) {
    return value ? show(*value) : kUnread;
}

// When, by whom and whether it went well; the whole result is in the row's tool tip.
QString stepText(const site::StepRecord& step) {
    QString out = step.at.toString(QStringLiteral("MM-dd HH:mm"));
    if (!step.by.isEmpty())
        out += QLatin1Char(' ') + step.by;
    return out + (step.ok ? QStringLiteral(" ✓") : QStringLiteral(" ✗"));
}

// Why a row is marked: the typed fault of a silent terminal in the operator's language, else
// what needs a hand.
QString reasonText(const site::TerminalStatus& s) {
    using Hand = site::TerminalStatus::Hand;
    if (!s.answers)
        return s.fault ? collect::faultText(s.fault) : text(Text::NoAnswer);
    QStringList why;
    for (Hand h : s.handsNeeded()) {
        switch (h) {
        case Hand::Silent:
            break;
        case Hand::Clock:
            why << text(Text::HandClock);
            break;
        case Hand::Names:
            why << text(Text::HandNames);
            break;
        case Hand::Collection:
            why << text(Text::HandCollection);
            break;
        case Hand::Records:
            why << text(Text::HandRecords);
            break;
        case Hand::ImpossibleRecords:
            why << text(Text::HandImpossibleRecords);
            break;
        case Hand::ClockUnread:
            why << text(Text::HandClockUnread);
            break;
        case Hand::NamesUnread:
            why << text(Text::HandNamesUnread);
            break;
        case Hand::TwoUnits:
            why << text(Text::HandTwoUnits);
            break;
        }
    }
    return why.join(QStringLiteral("；"));
}

} // namespace

QString statusCell(const site::TerminalStatus& s, int column) {
    switch (column) {
    case StatusTable::Terminal:
        return QString::number(s.terminal);
    case StatusTable::Port:
        return s.port;
    case StatusTable::Place:
        return s.place;
    case StatusTable::Answers: // another workstation's terminal is not asked here
        return s.station.isEmpty() ? text(s.answers ? Text::Yes : Text::No) : kUnread;
    case StatusTable::RoundTrip:
        return orUnread(s.roundTripMs, [](int ms) { return QString::number(ms); });
    case StatusTable::Clock:
        return orUnread(s.clockOffsetS, [](qint64 offset) {
            return (offset > 0 ? QStringLiteral("+") : QString()) + QString::number(offset);
        });
    case StatusTable::Waiting:
        return orUnread(s.recordsWaiting, [](qint64 n) { return QString::number(n); });
    case StatusTable::Names:
        return orUnread(s.namesInStep,
                        [](bool in) { return text(in ? Text::InStep : Text::OutOfStep); });
    case StatusTable::LastCollection:
        return orUnread(s.lastCollection, stepText);
    case StatusTable::LastNightly:
        return orUnread(s.lastNightly, stepText);
    case StatusTable::Reason:
        return reasonText(s);
    }
    return QString();
}

QList<int> newlyNeedingHand(QSet<int>& needing, const QList<site::TerminalStatus>& reading) {
    QList<int> newly;
    for (const site::TerminalStatus& s : reading) {
        const site::Failure k = s.fault.kind;
        if (k == site::Failure::Cancelled || k == site::Failure::NotAllowed ||
            k == site::Failure::NotInRegister)
            continue;
        if (!s.needsHand())
            needing.remove(s.terminal);
        else if (!needing.contains(s.terminal)) {
            needing.insert(s.terminal);
            newly << s.terminal;
        }
    }
    return newly;
}

QString handNotice(const QList<site::TerminalStatus>& terminals) {
    constexpr qsizetype Listed = 4;
    QStringList lines;
    for (qsizetype i = 0; i < std::min(Listed, terminals.size()); ++i)
        lines << text(Text::Terminal).arg(terminals[i].terminal) + QStringLiteral("：") +
                     reasonText(terminals[i]);
    if (terminals.size() > Listed)
        lines << text(Text::TrayHandMore).arg(terminals.size() - Listed);
    return lines.join(QLatin1Char('\n'));
}

StatusRow statusRow(const site::TerminalStatus& status) {
    StatusRow row{status, {}, statusNote(status), status.needsHand()};
    for (int c = 0; c < StatusTable::Columns; ++c)
        row.cells << statusCell(status, c);
    return row;
}

void StatusTable::reset(const QList<StatusRow>& rows) {
    beginResetModel();
    rows_ = rows;
    all_.clear();
    all_.reserve(rows_.size());
    for (const StatusRow& r : rows_)
        all_ << r.status;
    endResetModel();
}

void StatusTable::update(const StatusRow& row) {
    for (int r = 0; r < rows_.size(); ++r)
        if (all_[r].terminal == row.status.terminal) {
            rows_[r] = row;
            all_[r] = row.status;
            emit dataChanged(index(r, 0), index(r, Columns - 1));
            return;
        }
    beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size()));
    rows_ << row;
    all_ << row.status;
    endInsertRows();
}

void StatusTable::setOld(bool old) {
    if (old == old_)
        return;
    old_ = old;
    if (!rows_.isEmpty())
        emit dataChanged(index(0, 0), index(int(rows_.size()) - 1, Columns - 1),
                         {Qt::ForegroundRole});
}

int StatusTable::needingHand() const {
    return int(
        std::count_if(rows_.cbegin(), rows_.cend(), [](const StatusRow& r) { return r.hand; }));
}

int StatusTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QString headingOf(int column) {
    static constexpr Text kHeadings[StatusTable::Columns] = {
        Text::ColTerminal,       Text::ColPort,        Text::ColPlace,   Text::ColAnswers,
        Text::ColRoundTrip,      Text::ColClock,       Text::ColWaiting, Text::ColNames,
        Text::ColLastCollection, Text::ColLastNightly, Text::ColReason};
    return column >= 0 && column < StatusTable::Columns ? text(kHeadings[column]) : QString();
}

QString statusNote(const site::TerminalStatus& s) {
    QStringList parts;
    for (int c = StatusTable::Port; c < StatusTable::Columns; ++c) {
        const QString cell = statusCell(s, c);
        if (!cell.isEmpty())
            parts << headingOf(c) + QStringLiteral("：") + cell;
    }
    return text(Text::Terminal).arg(s.terminal) + QStringLiteral("：") +
           parts.join(QStringLiteral("；"));
}

int StatusTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant StatusTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return QVariant();
    const StatusRow& r = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return r.cells.value(index.column());
    case Qt::ToolTipRole:
        return plainToolTip(r.note); // the place and the reasons are data, never markup
    case Qt::BackgroundRole:
        return r.hand ? QVariant(QBrush(QColor(255, 224, 216))) : QVariant();
    case Qt::ForegroundRole:
        return old_ ? QVariant(QBrush(QColor(128, 128, 128))) : QVariant();
    case Qt::DecorationRole:
        if (index.column() != Terminal)
            return QVariant();
        // The two icons are made once, on the first row shown.
        if (warning_.isNull()) {
            warning_ = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            fine_ = QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
        }
        return r.hand ? warning_ : fine_;
    case Qt::UserRole:
        return r.status.terminal;
    }
    return QVariant();
}

QVariant StatusTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < Columns)
        return headingOf(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace bw::host::console
