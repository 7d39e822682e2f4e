#include "host/console/operators_window.h"

#include "host/console/console_texts.h"
#include "host/console/sign_in.h"
#include "host/ledger/ledger.h"
#include "platform/error.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bw::host::console {

namespace {

// What a change asks for: a name, rights, a password twice; each part only when asked.
class OperatorForm : public QDialog {
public:
    OperatorForm(const QString& title, bool withName, const QStringList* rights, bool withPassword,
                 QWidget* parent)
        : QDialog(parent) {
        setWindowTitle(title);
        auto* form = new QFormLayout(this);
        if (withName) {
            name_ = new QLineEdit(this);
            form->addRow(text(Text::ColName), name_);
        }
        if (rights) {
            auto* box = new QWidget(this);
            auto* grid = new QGridLayout(box);
            grid->setContentsMargins(0, 0, 0, 0);
            const QStringList keys = operators::rightKeys();
            for (qsizetype i = 0; i < keys.size(); ++i) {
                auto* check = new QCheckBox(rightText(keys[i]), box);
                check->setChecked(rights->contains(keys[i]));
                check->setProperty("key", keys[i]);
                grid->addWidget(check, int(i / 3), int(i % 3));
                checks_ << check;
            }
            form->addRow(text(Text::ColRights), box);
        }
        if (withPassword) {
            password_ = new QLineEdit(this);
            repeat_ = new QLineEdit(this);
            for (QLineEdit* field : {password_, repeat_})
                field->setEchoMode(QLineEdit::Password);
            form->addRow(text(Text::NewPassword), password_);
            form->addRow(text(Text::RepeatPassword), repeat_);
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            if (passwordsAgree())
                accept();
        });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }

    QString name() const { return name_ ? name_->text().trimmed() : QString(); }
    QString password() const { return password_ ? password_->text() : QString(); }
    QStringList rights() const {
        QStringList keys;
        for (const QCheckBox* check : checks_)
            if (check->isChecked())
                keys << check->property("key").toString();
        return keys;
    }

private:
    bool passwordsAgree() {
        if (!password_)
            return true;
        const bool empty = password_->text().isEmpty();
        if (!empty && password_->text() == repeat_->text())
            return true;
        MsgBox(text(empty ? Text::PasswordEmpty : Text::PasswordsDiffer), mb::Exclamation,
               windowTitle());
        password_->clear();
        repeat_->clear();
        return false;
    }

    QLineEdit* name_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* repeat_ = nullptr;
    QList<QCheckBox*> checks_;
};

QTableWidgetItem* cell(const QString& value) {
    auto* item = new QTableWidgetItem(value);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QString reasonOf(const std::exception& e) {
    const auto* error = dynamic_cast<const Error*>(&e);
    const QString reason =
        (error ? error->description() : QString::fromLocal8Bit(e.what())).simplified();
    return reason.isEmpty() ? QStringLiteral("?") : reason;
}

} // namespace

OperatorsWindow::OperatorsWindow(const QString& by, const QString& caption, QWidget* parent)
    : QDialog(parent), by_(by), caption_(caption) {
    setObjectName(QStringLiteral("Operators"));
    setWindowTitle(text(Text::Operators));
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 4, this);
    table_->setObjectName(QStringLiteral("OperatorTable"));
    table_->setHorizontalHeaderLabels({text(Text::ColName), text(Text::ColRights),
                                       text(Text::ColDisabled), text(Text::ColPasswordSet)});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_, 1);
    auto* buttons = new QHBoxLayout;
    const std::pair<Text, void (OperatorsWindow::*)()> actions[] = {
        {Text::AddOperator, &OperatorsWindow::addOperator},
        {Text::ChangeRights, &OperatorsWindow::changeRights},
        {Text::ChangePassword, &OperatorsWindow::changePassword},
        {Text::DisableOperator, &OperatorsWindow::disableOperator}};
    for (const auto& [label, run] : actions) {
        auto* button = new QPushButton(text(label), this);
        connect(button, &QPushButton::clicked, this, [this, run = run] { (this->*run)(); });
        buttons->addWidget(button);
    }
    buttons->addStretch();
    layout->addLayout(buttons);
    resize(640, 400);
    reload();
}

bool OperatorsWindow::reload() {
    try {
        store::SqlConnection cn(connectionString());
        shown_ = operators::listOperators(cn, caption_);
    } catch (const operators::Refused& refused) {
        MsgBox(refusalText(refused), mb::Exclamation, windowTitle());
        return false;
    } catch (const std::exception& e) {
        MsgBox(text(Text::OperatorsUnreadable).arg(reasonOf(e)), mb::Critical, windowTitle());
        return false;
    }
    table_->setRowCount(int(shown_.size()));
    for (int r = 0; r < int(shown_.size()); ++r) {
        const operators::Operator& o = shown_[r];
        // Names come from the database: a cell shows them as written, on one line.
        table_->setItem(r, 0, cell(o.name.simplified()));
        table_->setItem(r, 1, cell(o.rights.join(QStringLiteral(", "))));
        table_->setItem(r, 2, cell(text(o.disabled ? Text::Yes : Text::No)));
        table_->setItem(r, 3, cell(text(o.hasPassword ? Text::Yes : Text::No)));
        table_->item(r, 0)->setData(Qt::UserRole, o.name);
    }
    table_->resizeColumnsToContents();
    return true;
}

QString OperatorsWindow::selected() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    for (const QTableWidgetItem* item : items)
        if (item->column() == 0)
            return item->data(Qt::UserRole).toString();
    const int row = table_->currentRow();
    return row >= 0 && table_->item(row, 0) ? table_->item(row, 0)->data(Qt::UserRole).toString()
                                            : QString();
}

bool OperatorsWindow::change(const std::function<void(store::SqlConnection&)>& work) {
    try {
        store::SqlConnection cn(connectionString());
        work(cn);
    } catch (const operators::Refused& refused) {
        MsgBox(refusalText(refused), mb::Exclamation, windowTitle());
        return false;
    } catch (const std::exception& e) {
        MsgBox(text(Text::OperatorChangeFailed).arg(reasonOf(e)), mb::Critical, windowTitle());
        return false;
    }
    reload();
    return true;
}

void OperatorsWindow::addOperator() {
    const QStringList none;
    OperatorForm form(text(Text::AddOperator), true, &none, true, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change([&](store::SqlConnection& cn) {
        operators::addOperator(cn, by_, form.name(), form.rights(), form.password(), caption_);
    });
}

void OperatorsWindow::changeRights() {
    const QString name = selected();
    if (name.isEmpty())
        return;
    QStringList rights;
    for (const operators::Operator& o : std::as_const(shown_))
        if (o.name == name)
            rights = o.rights;
    OperatorForm form(text(Text::ChangeRights) + QStringLiteral(" · ") + name.simplified(), false,
                      &rights, false, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change([&](store::SqlConnection& cn) {
        operators::setRights(cn, by_, name, form.rights(), caption_);
    });
}

void OperatorsWindow::changePassword() {
    const QString name = selected();
    if (name.isEmpty())
        return;
    OperatorForm form(text(Text::ChangePassword) + QStringLiteral(" · ") + name.simplified(), false,
                      nullptr, true, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change(
        [&](store::SqlConnection& cn) { operators::setPassword(cn, by_, name, form.password()); });
}

void OperatorsWindow::disableOperator() {
    const QString name = selected();
    if (name.isEmpty() ||
        MsgBox(text(Text::ConfirmDisable).arg(name.simplified()),
               mb::YesNo | mb::Question | mb::DefaultButton2, windowTitle()) != mb::Yes)
        return;
    change([&](store::SqlConnection& cn) { operators::disableOperator(cn, by_, name); });
}

} // namespace bw::host::console
