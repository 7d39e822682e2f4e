#pragma once

#include "host/names/employees.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace bw::host::console {

// The window's title, the console's menu entry: "员工".
QString employeesTitle();

// A refusal of the register in the operator's language.
QString registerRefusalText(const names::RegisterRefused& refused);

// The "员工" window: the site's register of employees (number, name, department, cards, start
// and leaving day), a search over it, adding and changing an employee, a department's terminal
// groups, a lost, replaced or returned card, and HR's list imported or exported. Each change is
// made as the signed-in operator on a connection of its own and logged; a refusal changes
// nothing and is said. After a change the console is told (changed): the lists it changed are
// out of step.
class EmployeesWindow : public QDialog {
public:
    explicit EmployeesWindow(const QString& user, QWidget* parent = nullptr);

    bool reload();
    const QList<names::RegisterEntry>& shown() const { return shown_; }
    void setSearch(const QString& text);
    int visibleRows() const;
    // The employee of the selected row (empty: none).
    QString selected() const;
    void select(const QString& employee);

    std::function<void()> changed;

    void addEmployee();
    void editEmployee();
    void editDepartment();
    void cardLost();
    void cardReplaced();
    void cardReturned();
    void importList();
    // The preview of HR's list and its import when confirmed; false when nothing was written.
    bool previewAndImport(const QString& path);
    void exportList();
    // Runs a change on a connection of its own; a refusal or the database's error is said.
    bool change(const std::function<void(store::SqlConnection&, const names::LogRegister&)>& work);

private:
    void saveForm(const names::RegisterEntry& now, const QString& title);
    QString selectedCard() const;

    QString user_;
    QList<names::RegisterEntry> shown_;
    QStandardItemModel* model_ = nullptr;
    QSortFilterProxyModel* filter_ = nullptr;
    QTableView* table_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace bw::host::console
