#include "host/console/cards_window.h"

#include "host/collect/meal_store.h"
#include "host/console/console_texts.h"
#include "host/console/search_table.h"
#include "host/ledger/ledger.h"
#include "host/site/card_log.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
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

using names::CardRefusal;

// A card's three values, for adding or changing one.
class CardForm : public QDialog {
public:
    CardForm(const QString& title, const names::Card& card, QWidget* parent) : QDialog(parent) {
        setWindowTitle(title);
        auto* form = new QFormLayout(this);
        const std::pair<QLineEdit**, std::pair<Text, QString>> fields[] = {
            {&card_, {Text::ColCard, card.card}},
            {&employee_, {Text::ColEmployee, card.employee}},
            {&name_, {Text::ColEmployeeName, card.name}}};
        for (const auto& [field, what] : fields) {
            *field = new QLineEdit(what.second, this);
            form->addRow(text(what.first), *field);
        }
        card_->setMaxLength(8);
        employee_->setMaxLength(50);
        name_->setMaxLength(100);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    names::Card card() const { return {card_->text(), employee_->text(), name_->text()}; }

private:
    QLineEdit* card_ = nullptr;
    QLineEdit* employee_ = nullptr;
    QLineEdit* name_ = nullptr;
};

} // namespace

QString refusalText(const names::RefusedRow& r) {
    static const QHash<int, Text> words{
        {int(CardRefusal::CardMissing), Text::CardMissing},
        {int(CardRefusal::CardNotDigits), Text::CardNotDigits},
        {int(CardRefusal::CardTooLong), Text::CardTooLong},
        {int(CardRefusal::EmployeeMissing), Text::EmployeeMissing},
        {int(CardRefusal::EmployeeTooLong), Text::EmployeeTooLong},
        {int(CardRefusal::NameTooLong), Text::NameTooLong},
        {int(CardRefusal::ControlCharacter), Text::ControlCharacter},
        {int(CardRefusal::Formula), Text::FormulaCell},
        {int(CardRefusal::DuplicateCard), Text::DuplicateCard},
        {int(CardRefusal::NoSuchCard), Text::NoSuchCard},
        {int(CardRefusal::NoSuchTerminal), Text::NoSuchTerminal},
        {int(CardRefusal::WrongEncoding), Text::WrongEncoding},
        {int(CardRefusal::FileTooLarge), Text::FileTooLarge},
        {int(CardRefusal::EmptyFile), Text::EmptyCardFile},
        {int(CardRefusal::NoCardColumn), Text::NoCardColumn},
        {int(CardRefusal::CannotRead), Text::CannotRead},
        {int(CardRefusal::CannotWrite), Text::CannotWrite},
    };
    QString why;
    if (r.why == CardRefusal::DuplicateCard && r.otherRow > 0)
        why = text(Text::DuplicateCardInFile).arg(r.otherRow);
    else if (r.why == CardRefusal::FileTooLarge)
        why = text(Text::FileTooLarge).arg(names::MaxCardFileBytes / (1024 * 1024));
    else if (r.why == CardRefusal::CannotRead || r.why == CardRefusal::CannotWrite)
        why = text(words.value(int(r.why))).arg(r.detail.simplified());
    else
        why = text(words.value(int(r.why)));
    return r.row > 0 ? text(Text::RowRefused).arg(r.row).arg(why) : why;
}

CardsWindow::CardsWindow(const QString& user, int terminal, QWidget* parent)
    : QDialog(parent), user_(user), terminal_(terminal) {
    setObjectName(QStringLiteral("Cards"));
    setWindowTitle(text(Text::CardsOf).arg(terminal));
    auto* layout = new QVBoxLayout(this);
    const SearchTable parts = makeSearchTable(
        this, layout, {text(Text::ColCard), text(Text::ColEmployee), text(Text::ColEmployeeName)},
        text(Text::Search),
        {QStringLiteral("CardSearch"), QStringLiteral("CardTable"), QStringLiteral("CardsNote")});
    search_ = parts.search;
    model_ = parts.model;
    filter_ = parts.filter;
    table_ = parts.table;
    note_ = parts.note;
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& t) { setSearch(t); });
    connect(table_, &QTableView::doubleClicked, this, [this] { editCard(); });
    auto* buttons = new QHBoxLayout;
    const std::tuple<const char*, Text, void (CardsWindow::*)()> actions[] = {
        {"AddCard", Text::AddCard, &CardsWindow::addCard},
        {"EditCard", Text::EditCard, &CardsWindow::editCard},
        {"RemoveCard", Text::RemoveCard, &CardsWindow::removeCard},
        {"ImportCards", Text::ImportCards, &CardsWindow::importCards},
        {"ExportCards", Text::ExportCards, &CardsWindow::exportCards}};
    for (const auto& [name, label, run] : actions) {
        auto* button = new QPushButton(text(label), this);
        button->setObjectName(QString::fromLatin1(name));
        connect(button, &QPushButton::clicked, this, [this, run = run] { (this->*run)(); });
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* send = new QPushButton(text(Text::DownloadNames), this);
    send->setObjectName(QStringLiteral("CardsDownload"));
    connect(send, &QPushButton::clicked, this, [this] {
        if (download)
            download(terminal_);
    });
    buttons->addWidget(send);
    layout->addLayout(buttons);
    resize(620, 520);
    reload();
}

bool CardsWindow::reload() {
    try {
        store::SqlConnection cn(connectionString());
        shown_ = names::listCards(cn, terminal_);
    } catch (const std::exception& e) {
        note_->setText(text(Text::CardsUnreadable).arg(reasonOf(e)));
        return false;
    }
    model_->setRowCount(int(shown_.size()));
    for (int r = 0; r < int(shown_.size()); ++r)
        setRow(model_, r, {shown_[r].card, shown_[r].employee, shown_[r].name});
    table_->resizeColumnsToContents();
    return true;
}

void CardsWindow::setSearch(const QString& t) {
    if (search_->text() != t)
        search_->setText(t);
    filter_->setFilterFixedString(t.trimmed());
}

int CardsWindow::visibleRows() const {
    return filter_->rowCount();
}

QString CardsWindow::selectedCard() const {
    const QModelIndex current = table_->currentIndex();
    if (!current.isValid())
        return QString();
    return filter_->index(current.row(), 0).data(Qt::UserRole).toString();
}

bool CardsWindow::change(
    const std::function<void(store::SqlConnection&, const names::LogChange&)>& work) {
    try {
        store::SqlConnection cn(connectionString());
        work(cn, [&](const names::CardChange& c) { site::logCardChange(cn, user_, terminal_, c); });
    } catch (const names::CardsRefused& r) {
        MsgBox(refusalText(r.refused), mb::Exclamation, windowTitle());
        return false;
    } catch (const std::exception& e) {
        MsgBox(text(Text::CardChangeFailed).arg(reasonOf(e)), mb::Critical, windowTitle());
        return false;
    }
    reload();
    // The terminal's list is not the cards any more: said here, and the console reads the
    // terminal again.
    note_->setText(text(Text::CardsChanged));
    if (changed)
        changed(terminal_);
    return true;
}

void CardsWindow::addCard() {
    CardForm form(text(Text::AddCard), {}, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change([&](store::SqlConnection& cn, const names::LogChange& log) {
        names::addCard(cn, terminal_, form.card(), log);
    });
}

void CardsWindow::editCard() {
    const QString card = selectedCard();
    if (card.isEmpty())
        return;
    names::Card now;
    for (const names::Card& c : std::as_const(shown_))
        if (c.card == card)
            now = c;
    CardForm form(text(Text::EditCard) + QStringLiteral(" · ") + card, now, this);
    if (form.exec() != QDialog::Accepted)
        return;
    change([&](store::SqlConnection& cn, const names::LogChange& log) {
        names::changeCard(cn, terminal_, card, form.card(), log);
    });
}

void CardsWindow::removeCard() {
    const QString card = selectedCard();
    if (card.isEmpty() ||
        MsgBox(text(Text::ConfirmRemove).arg(card.simplified()),
               mb::YesNo | mb::Question | mb::DefaultButton2, windowTitle()) != mb::Yes)
        return;
    change([&](store::SqlConnection& cn, const names::LogChange& log) {
        names::removeCard(cn, terminal_, card, log);
    });
}

void CardsWindow::importCards() {
    const QString path = askOpenFile(text(Text::ImportCards), text(Text::CsvFiles));
    if (!path.isEmpty())
        previewAndImport(path);
}

bool CardsWindow::previewAndImport(const QString& path) {
    const names::CardFile file = names::readCardFile(path);
    QDialog preview(this);
    preview.setObjectName(QStringLiteral("CardPreview"));
    preview.setWindowTitle(text(Text::ImportCards) + QStringLiteral(" · ") +
                           QDir::toNativeSeparators(path));
    auto* layout = new QVBoxLayout(&preview);
    auto* list = new QListWidget(&preview);
    list->setObjectName(QStringLiteral("PreviewRows"));
    if (!file.refused.isEmpty()) {
        // A file refused as a whole (its encoding, its size) says only why.
        const bool whole = file.refused.first().row == 0;
        auto* said = new QLabel(whole ? refusalText(file.refused.first())
                                      : text(Text::RowsRefused).arg(file.refused.size()),
                                &preview);
        said->setTextFormat(Qt::PlainText);
        layout->addWidget(said);
        for (const names::RefusedRow& r : file.refused)
            list->addItem(refusalText(r));
    } else {
        layout->addWidget(new QLabel(text(Text::CardsToWrite).arg(file.cards.size()), &preview));
        for (const names::Card& c : file.cards)
            list->addItem(
                QStringList{c.card, c.employee, c.name}.join(QStringLiteral("  ")).simplified());
    }
    layout->addWidget(list, 1);
    auto* replace = new QCheckBox(text(Text::ReplaceCards), &preview);
    replace->setObjectName(QStringLiteral("ReplaceCards"));
    layout->addWidget(replace);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &preview);
    QPushButton* write = buttons->addButton(text(Text::WriteCards), QDialogButtonBox::AcceptRole);
    write->setObjectName(QStringLiteral("WriteCards"));
    write->setEnabled(file.ok()); // all rows or none
    replace->setEnabled(file.ok());
    connect(buttons, &QDialogButtonBox::accepted, &preview, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &preview, &QDialog::reject);
    layout->addWidget(buttons);
    preview.resize(520, 420);
    if (preview.exec() != QDialog::Accepted || !file.ok())
        return false;
    const bool replacing = replace->isChecked();
    int written = 0;
    if (!change([&](store::SqlConnection& cn, const names::LogChange& log) {
            written = names::importCards(cn, terminal_, file, replacing, log);
        }))
        return false;
    note_->setText(text(Text::CardsWritten).arg(written) + QLatin1Char('\n') +
                   text(Text::CardsChanged));
    return true;
}

void CardsWindow::exportCards() {
    const QString path =
        askSaveFile(text(Text::ExportCards), QStringLiteral("cards-%1.csv").arg(terminal_),
                    text(Text::CsvFiles));
    if (!path.isEmpty())
        exportTo(path);
}

bool CardsWindow::exportTo(const QString& path) {
    try {
        names::exportCards(shown_, path, uiLanguage());
    } catch (const names::CardsRefused& r) {
        MsgBox(refusalText(r.refused), mb::Exclamation, windowTitle());
        return false;
    }
    note_->setText(text(Text::CardsExported)
                       .arg(shown_.size())
                       .arg(QDir::toNativeSeparators(path).simplified()));
    return true;
}

} // namespace bw::host::console
