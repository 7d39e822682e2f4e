#pragma once

#include "host/ledger/operators.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class QTableWidget;

namespace bw::host::console {

// The administrators' window of the site's operators: who may sign in, with which rights,
// disabled or not, with a password or not; and adding an operator, changing its rights or
// password, and disabling it. Every change is made as the signed-in operator (`by`) on a
// connection of its own, so that a server checks that operator's session; a refusal is said
// in the operator's language and changes nothing.
class OperatorsWindow : public QDialog {
public:
    OperatorsWindow(const QString& by, const QString& caption, QWidget* parent = nullptr);

    // Reads the operators again; false (after saying why) when they cannot be read.
    bool reload();
    const QList<operators::Operator>& shown() const { return shown_; }
    // The operator of the selected row; empty when none is selected.
    QString selected() const;

    void addOperator();
    void changeRights();
    void changePassword();
    void disableOperator();

private:
    // Runs a change on a connection of its own and reads the operators again; a refusal or the
    // database's error is shown. False when the change was not made.
    bool change(const std::function<void(store::SqlConnection&)>& work);

    QString by_;
    QString caption_;
    QTableWidget* table_ = nullptr;
    QList<operators::Operator> shown_;
};

} // namespace bw::host::console
