#include "host/console/employees_window.h"

#include "host/console/cards_window.h"
#include "host/console/search_table.h"
#include "host/ledger/ledger.h"
#include "host/site/card_log.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace bw::host::console {

namespace {

enum class T {
    Title,
    Number,
    Name,
    Department,
    Card,
    Start,
    Leave,
    Leaves,
    Search,
    Add,
    Edit,
    Groups,
    GroupsNote,
    Lost,
    Replace,
    Return,
    Import,
    Export,
    NewCard,
    ConfirmLost,
    ConfirmReturn,
    Changed,
    Unreadable,
    Failed,
    RowsRefused,
    ToWrite,
    ReplaceAll,
    Write,
    Written,
    Exported,
    CsvFiles,
    DepartmentMissing,
    NameMissing,
    BadDate,
    LeaveBeforeStart,
    DuplicateEmployee,
    CardOfTwoRow,
    CardOfTwo,
    MissingColumns,
    NoSuchEmployee,
    NoSuchCard,
    CardInUse,
    CannotWrite,
    DepartmentName,
    RowRefused,
};

constexpr TextEntry<T> kTexts[] = {
    {T::Title, u"员工", u"員工"},
    {T::Number, u"工号", u"工號"},
    {T::Name, u"姓名", u"姓名"},
    {T::Department, u"部门", u"部門"},
    {T::Card, u"卡号", u"卡號"},
    {T::Start, u"入职日期", u"到職日期"},
    {T::Leave, u"离职日期", u"離職日期"},
    {T::Leaves, u"已定离职日期", u"已定離職日期"},
    {T::Search, u"搜索工号、姓名、部门或卡号", u"搜尋工號、姓名、部門或卡號"},
    {T::Add, u"增加", u"新增"},
    {T::Edit, u"修改", u"修改"},
    {T::Groups, u"部门可用机器组…", u"部門可用機器組…"},
    {T::GroupsNote, u"不选任何组：该部门可用全部机器", u"不選任何組：該部門可用全部機器"},
    {T::Lost, u"挂失", u"掛失"},
    {T::Replace, u"换卡", u"換卡"},
    {T::Return, u"退卡", u"退卡"},
    {T::Import, u"导入员工名单…", u"匯入員工名單…"},
    {T::Export, u"导出…", u"匯出…"},
    {T::NewCard, u"新卡号：", u"新卡號："},
    {T::ConfirmLost, u"卡号 %1 挂失？挂失后该卡在所有机器上失效。",
     u"卡號 %1 掛失？掛失後該卡在所有機器上失效。"},
    {T::ConfirmReturn, u"卡号 %1 退卡？", u"卡號 %1 退卡？"},
    {T::Changed, u"名单已改变：相关机器的名单与登记不一致，请下载名单（夜间例行作业也会下载）。",
     u"名單已改變：相關機器的名單與登記不一致，請下載名單（夜間例行作業也會下載）。"},
    {T::Unreadable, u"无法读取员工登记：%1", u"無法讀取員工登記：%1"},
    {T::Failed, u"未能保存：%1", u"未能儲存：%1"},
    {T::RowsRefused, u"%1 行被拒绝，未写入任何数据：", u"%1 列被拒絕，未寫入任何資料："},
    {T::ToWrite, u"将写入 %1 名员工：", u"將寫入 %1 名員工："},
    {T::ReplaceAll, u"这是完整名单：名单外的员工今天离职", u"這是完整名單：名單外的員工今天離職"},
    {T::Write, u"写入", u"寫入"},
    {T::Written, u"新增 %1 人，修改 %2 人，%3 人离职。", u"新增 %1 人，修改 %2 人，%3 人離職。"},
    {T::Exported, u"%1 名员工已导出到 %2", u"%1 名員工已匯出到 %2"},
    {T::CsvFiles, u"CSV 文件 (*.csv)", u"CSV 檔案 (*.csv)"},
    {T::DepartmentMissing, u"没有部门", u"沒有部門"},
    {T::NameMissing, u"没有姓名", u"沒有姓名"},
    {T::BadDate, u"日期无效（应为 yyyy-mm-dd）", u"日期無效（應為 yyyy-mm-dd）"},
    {T::LeaveBeforeStart, u"离职日期不在入职日期之后", u"離職日期不在到職日期之後"},
    {T::DuplicateEmployee, u"该员工已在第 %1 行", u"該員工已在第 %1 列"},
    {T::CardOfTwoRow, u"该卡已在第 %1 行给了同期的员工", u"該卡已在第 %1 列給了同期的員工"},
    {T::CardOfTwo, u"该卡同期属于员工 %1", u"該卡同期屬於員工 %1"},
    {T::MissingColumns, u"标题行缺少列：%1", u"標題列缺少欄：%1"},
    {T::NoSuchEmployee, u"没有这个员工", u"沒有這個員工"},
    {T::NoSuchCard, u"没有在用的这个卡号", u"沒有在用的這個卡號"},
    {T::CardInUse, u"新卡号已在使用", u"新卡號已在使用"},
    {T::CannotWrite, u"无法写入文件：%1", u"無法寫入檔案：%1"},
    {T::DepartmentName, u"部门名称为空或超过 100 个字", u"部門名稱為空或超過 100 個字"},
    {T::RowRefused, u"第 %1 行：%2", u"第 %1 列：%2"},
};

QString t(T id) {
    return tableText(kTexts, id, uiLanguage());
}

// An employee's values, for adding or changing one.
class EmployeeForm : public QDialog {
public:
    EmployeeForm(const QString& title, const names::RegisterEntry& now,
                 const QStringList& departments, QWidget* parent)
        : QDialog(parent) {
        setWindowTitle(title);
        auto* form = new QFormLayout(this);
        number_ = new QLineEdit(now.employee.number, this);
        number_->setMaxLength(50);
        number_->setReadOnly(!now.employee.number.isEmpty());
        name_ = new QLineEdit(now.employee.name, this);
        name_->setMaxLength(100);
        department_ = new QComboBox(this);
        department_->setEditable(true);
        department_->addItems(departments);
        department_->setCurrentText(now.employee.department);
        card_ = new QLineEdit(now.cards.value(0), this);
        card_->setMaxLength(8);
        start_ = new QDateEdit(
            now.employee.start.isValid() ? now.employee.start : QDate::currentDate(), this);
        start_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        leaves_ = new QCheckBox(t(T::Leaves), this);
        leaves_->setChecked(now.employee.leave.isValid());
        leave_ = new QDateEdit(now.employee.leave.isValid() ? now.employee.leave
                                                            : QDate::currentDate().addDays(1),
                               this);
        leave_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        leave_->setEnabled(leaves_->isChecked());
        connect(leaves_, &QCheckBox::toggled, leave_, &QWidget::setEnabled);
        form->addRow(t(T::Number), number_);
        form->addRow(t(T::Name), name_);
        form->addRow(t(T::Department), department_);
        form->addRow(t(T::Card), card_);
        form->addRow(t(T::Start), start_);
        form->addRow(leaves_, leave_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    names::Employee employee() const {
        return {number_->text(), name_->text(), department_->currentText(), start_->date(),
                leaves_->isChecked() ? leave_->date() : QDate()};
    }
    QString card() const { return card_->text(); }

private:
    QLineEdit* number_ = nullptr;
    QLineEdit* name_ = nullptr;
    QComboBox* department_ = nullptr;
    QLineEdit* card_ = nullptr;
    QDateEdit* start_ = nullptr;
    QCheckBox* leaves_ = nullptr;
    QDateEdit* leave_ = nullptr;
};

} // namespace

QString employeesTitle() {
    return t(T::Title);
}

QString registerRefusalText(const names::RegisterRefused& r) {
    using R = names::RegisterRefusal;
    static const QHash<int, T> words{
        {int(R::DepartmentMissing), T::DepartmentMissing},
        {int(R::NameMissing), T::NameMissing},
        {int(R::BadDate), T::BadDate},
        {int(R::LeaveBeforeStart), T::LeaveBeforeStart},
        {int(R::NoSuchEmployee), T::NoSuchEmployee},
        {int(R::NoSuchCard), T::NoSuchCard},
        {int(R::CardInUse), T::CardInUse},
        {int(R::DepartmentName), T::DepartmentName},
    };
    QString why;
    switch (r.why) {
    case R::Cell:
    case R::File:
        why = refusalText(names::RefusedRow{0, r.cardWhy, 0, r.detail});
        break;
    case R::DuplicateEmployee:
        why = t(T::DuplicateEmployee).arg(r.otherRow);
        break;
    case R::CardOfTwo:
        why = r.otherRow > 0 ? t(T::CardOfTwoRow).arg(r.otherRow)
                             : t(T::CardOfTwo).arg(r.detail.simplified());
        break;
    case R::MissingColumns:
    case R::CannotWrite:
        why = t(r.why == R::MissingColumns ? T::MissingColumns : T::CannotWrite)
                  .arg(r.detail.simplified());
        break;
    default:
        why = t(words.value(int(r.why)));
    }
    return r.row > 0 ? t(T::RowRefused).arg(r.row).arg(why) : why;
}

EmployeesWindow::EmployeesWindow(const QString& user, QWidget* parent)
    : QDialog(parent), user_(user) {
    setObjectName(QStringLiteral("Employees"));
    setWindowTitle(t(T::Title));
    auto* layout = new QVBoxLayout(this);
    const SearchTable parts = makeSearchTable(
        this, layout,
        {t(T::Number), t(T::Name), t(T::Department), t(T::Card), t(T::Start), t(T::Leave)},
        t(T::Search),
        {QStringLiteral("EmployeeSearch"), QStringLiteral("EmployeeTable"),
         QStringLiteral("EmployeesNote")});
    search_ = parts.search;
    model_ = parts.model;
    filter_ = parts.filter;
    table_ = parts.table;
    note_ = parts.note;
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& s) { setSearch(s); });
    connect(table_, &QTableView::doubleClicked, this, [this] { editEmployee(); });
    auto* buttons = new QHBoxLayout;
    const std::tuple<const char*, T, void (EmployeesWindow::*)()> actions[] = {
        {"AddEmployee", T::Add, &EmployeesWindow::addEmployee},
        {"EditEmployee", T::Edit, &EmployeesWindow::editEmployee},
        {"DepartmentGroups", T::Groups, &EmployeesWindow::editDepartment},
        {"CardLost", T::Lost, &EmployeesWindow::cardLost},
        {"CardReplaced", T::Replace, &EmployeesWindow::cardReplaced},
        {"CardReturned", T::Return, &EmployeesWindow::cardReturned},
        {"ImportEmployees", T::Import, &EmployeesWindow::importList},
        {"ExportEmployees", T::Export, &EmployeesWindow::exportList}};
    for (const auto& [name, label, run] : actions) {
        auto* button = new QPushButton(t(label), this);
        button->setObjectName(QString::fromLatin1(name));
        connect(button, &QPushButton::clicked, this, [this, run = run] { (this->*run)(); });
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    resize(820, 560);
    reload();
}

bool EmployeesWindow::reload() {
    try {
        store::SqlConnection cn(connectionString());
        shown_ = names::listRegister(cn, QDate::currentDate());
    } catch (const std::exception& e) {
        note_->setText(t(T::Unreadable).arg(reasonOf(e)));
        return false;
    }
    model_->setRowCount(int(shown_.size()));
    for (int r = 0; r < int(shown_.size()); ++r) {
        const names::Employee& e = shown_[r].employee;
        setRow(model_, r,
               {e.number, e.name, e.department, shown_[r].cards.join(QStringLiteral(", ")),
                names::dayText(e.start), e.leave.isValid() ? names::dayText(e.leave) : QString()});
    }
    table_->resizeColumnsToContents();
    return true;
}

void EmployeesWindow::setSearch(const QString& s) {
    if (search_->text() != s)
        search_->setText(s);
    filter_->setFilterFixedString(s.trimmed());
}

int EmployeesWindow::visibleRows() const {
    return filter_->rowCount();
}

QString EmployeesWindow::selected() const {
    const QModelIndex current = table_->currentIndex();
    return current.isValid() ? filter_->index(current.row(), 0).data(Qt::UserRole).toString()
                             : QString();
}

void EmployeesWindow::select(const QString& employee) {
    for (int r = 0; r < filter_->rowCount(); ++r)
        if (filter_->index(r, 0).data(Qt::UserRole).toString() == employee)
            table_->setCurrentIndex(filter_->index(r, 0));
}

QString EmployeesWindow::selectedCard() const {
    const QString employee = selected();
    for (const names::RegisterEntry& e : shown_)
        if (e.employee.number == employee)
            return e.cards.value(0);
    return QString();
}

bool EmployeesWindow::change(
    const std::function<void(store::SqlConnection&, const names::LogRegister&)>& work) {
    const QString keep = selected();
    try {
        store::SqlConnection cn(connectionString());
        work(cn, [&](const names::RegisterChange& c) { site::logRegisterChange(cn, user_, c); });
    } catch (const names::RegisterRefusedError& r) {
        MsgBox(registerRefusalText(r.refused), mb::Exclamation, windowTitle());
        return false;
    } catch (const std::exception& e) {
        MsgBox(t(T::Failed).arg(reasonOf(e)), mb::Critical, windowTitle());
        return false;
    }
    reload();
    select(keep);
    note_->setText(t(T::Changed));
    if (changed)
        changed();
    return true;
}

void EmployeesWindow::saveForm(const names::RegisterEntry& now, const QString& title) {
    QStringList known;
    try {
        store::SqlConnection cn(connectionString());
        known = names::departments(cn);
    } catch (const std::exception&) {
    }
    EmployeeForm form(title, now, known, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change([&](store::SqlConnection& cn, const names::LogRegister& log) {
        names::saveEmployee(cn, form.employee(), form.card(), QDate::currentDate(), log);
    });
}

void EmployeesWindow::addEmployee() {
    saveForm({}, t(T::Add));
}

void EmployeesWindow::editEmployee() {
    const QString employee = selected();
    for (const names::RegisterEntry& e : std::as_const(shown_))
        if (!employee.isEmpty() && e.employee.number == employee)
            return saveForm(e, t(T::Edit) + QStringLiteral(" · ") + employee.simplified());
}

void EmployeesWindow::editDepartment() {
    QStringList known, groups, chosen;
    QString department;
    for (const names::RegisterEntry& e : std::as_const(shown_))
        if (e.employee.number == selected())
            department = e.employee.department;
    try {
        store::SqlConnection cn(connectionString());
        known = names::departments(cn);
        for (const QVariantList& row : cn.queryBound(QStringLiteral(
                 "SELECT DISTINCT Ver FROM MachineInfo WHERE MachVer = '6429' ORDER BY Ver")))
            groups << row.value(0).toString();
        if (!department.isEmpty())
            chosen = names::departmentGroups(cn, department);
    } catch (const std::exception& e) {
        note_->setText(t(T::Unreadable).arg(reasonOf(e)));
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("DepartmentGroupsDialog"));
    dialog.setWindowTitle(t(T::Groups));
    auto* layout = new QVBoxLayout(&dialog);
    auto* name = new QComboBox(&dialog);
    name->setEditable(true);
    name->addItems(known);
    name->setCurrentText(department);
    layout->addWidget(name);
    auto* list = new QListWidget(&dialog);
    for (const QString& g : std::as_const(groups)) {
        auto* item = new QListWidgetItem(g.simplified(), list);
        item->setData(Qt::UserRole, g);
        item->setCheckState(chosen.contains(g) ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(list, 1);
    auto* note = new QLabel(t(T::GroupsNote), &dialog);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QStringList picked;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
            picked << list->item(i)->data(Qt::UserRole).toString();
    change([&](store::SqlConnection& cn, const names::LogRegister& log) {
        names::setDepartmentGroups(cn, name->currentText(), picked, log);
    });
}

void EmployeesWindow::cardLost() {
    const QString card = selectedCard();
    if (card.isEmpty() ||
        MsgBox(t(T::ConfirmLost).arg(card), mb::YesNo | mb::Question | mb::DefaultButton2,
               windowTitle()) != mb::Yes)
        return;
    change([&](store::SqlConnection& cn, const names::LogRegister& log) {
        names::cardLost(cn, card, QDate::currentDate(), log);
    });
}

void EmployeesWindow::cardReturned() {
    const QString card = selectedCard();
    if (card.isEmpty() ||
        MsgBox(t(T::ConfirmReturn).arg(card), mb::YesNo | mb::Question | mb::DefaultButton2,
               windowTitle()) != mb::Yes)
        return;
    change([&](store::SqlConnection& cn, const names::LogRegister& log) {
        names::cardReturned(cn, card, QDate::currentDate(), log);
    });
}

void EmployeesWindow::cardReplaced() {
    const QString card = selectedCard();
    if (card.isEmpty())
        return;
    bool ok = false;
    const QString fresh = QInputDialog::getText(this, t(T::Replace) + QStringLiteral(" · ") + card,
                                                t(T::NewCard), QLineEdit::Normal, QString(), &ok);
    if (!ok || fresh.trimmed().isEmpty())
        return;
    change([&](store::SqlConnection& cn, const names::LogRegister& log) {
        names::cardReplaced(cn, card, fresh, QDate::currentDate(), log);
    });
}

void EmployeesWindow::importList() {
    const QString path = askOpenFile(t(T::Import), t(T::CsvFiles));
    if (!path.isEmpty())
        previewAndImport(path);
}

bool EmployeesWindow::previewAndImport(const QString& path) {
    const QDate today = QDate::currentDate();
    const names::EmployeeFile file = names::readEmployeeFile(path, today);
    QDialog preview(this);
    preview.setObjectName(QStringLiteral("EmployeePreview"));
    preview.setWindowTitle(t(T::Import) + QStringLiteral(" · ") + QDir::toNativeSeparators(path));
    auto* layout = new QVBoxLayout(&preview);
    auto* list = new QListWidget(&preview);
    list->setObjectName(QStringLiteral("PreviewRows"));
    auto* said = new QLabel(&preview);
    said->setTextFormat(Qt::PlainText);
    layout->addWidget(said);
    if (!file.refused.isEmpty()) {
        said->setText(t(T::RowsRefused).arg(file.refused.size()));
        for (const names::RegisterRefused& r : file.refused)
            list->addItem(registerRefusalText(r));
    } else {
        said->setText(t(T::ToWrite).arg(file.rows.size()));
        for (const names::EmployeeRow& r : file.rows)
            list->addItem(
                QStringList{r.employee.number, r.employee.name, r.employee.department, r.card}
                    .join(QStringLiteral("  "))
                    .simplified());
    }
    layout->addWidget(list, 1);
    auto* replace = new QCheckBox(t(T::ReplaceAll), &preview);
    replace->setObjectName(QStringLiteral("ReplaceEmployees"));
    layout->addWidget(replace);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &preview);
    QPushButton* write = buttons->addButton(t(T::Write), QDialogButtonBox::AcceptRole);
    write->setObjectName(QStringLiteral("WriteEmployees"));
    write->setEnabled(file.ok()); // all rows or none
    replace->setEnabled(file.ok());
    connect(buttons, &QDialogButtonBox::accepted, &preview, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &preview, &QDialog::reject);
    layout->addWidget(buttons);
    preview.resize(560, 440);
    if (preview.exec() != QDialog::Accepted || !file.ok())
        return false;
    names::ImportOutcome done;
    if (!change([&](store::SqlConnection& cn, const names::LogRegister& log) {
            done = names::importEmployees(cn, file, replace->isChecked(), today, log);
            if (!done.refused.isEmpty())
                throw names::RegisterRefusedError(done.refused.first());
        }))
        return false;
    note_->setText(t(T::Written).arg(done.added).arg(done.changed).arg(done.left) +
                   QLatin1Char('\n') + t(T::Changed));
    return true;
}

void EmployeesWindow::exportList() {
    const QString path = askSaveFile(t(T::Export), QStringLiteral("employees.csv"), t(T::CsvFiles));
    if (path.isEmpty())
        return;
    try {
        names::exportRegister(shown_, path, uiLanguage());
    } catch (const names::RegisterRefusedError& r) {
        MsgBox(registerRefusalText(r.refused), mb::Exclamation, windowTitle());
        return;
    }
    note_->setText(
        t(T::Exported).arg(shown_.size()).arg(QDir::toNativeSeparators(path).simplified()));
}

} // namespace bw::host::console
