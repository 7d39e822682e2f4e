#pragma once

#include "common/fakes.h"
#include "sim/process.h"
#include "window/f_machine.h"

#include <QString>
#include <QVariant>
#include <memory>

class QTreeWidgetItem;

namespace bw::test {

// A whole installation on this machine: the host's default components, a real SQLite host
// database with the demo data, brackwater-sim on a pseudo-terminal (COM1) and on TCP
// (port 1001 remapped), and the component's window opened through ShowA.
class Installation {
public:
    explicit Installation(const QStringList& simArguments = {});
    ~Installation();

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }

    F_Machine* window() const;
    sim::SimProcess& sim() { return sim_; }
    RecordingMessageBox& boxes() { return boxes_; }
    QString dbPath() const { return dbPath_; }

    // Clicks the list entry whose first column is `address`; false when there is none.
    bool clickTerminal(const QString& address);
    // Clicks the toolbar tool with this key through its toolbar button.
    void clickTool(const QString& key);
    // Replaces a line edit's or editable combo box's text by typing.
    static void typeInto(QWidget* field, const QString& text);

    // One value of the host database (first column of the first row), null when no row.
    QVariant scalar(const QString& sql) const;
    void exec(const QString& sql) const;

private:
    RecordingMessageBox boxes_;
    sim::SimProcess sim_;
    QString dir_;
    QString dbPath_;
    QString error_;
};

} // namespace bw::test
