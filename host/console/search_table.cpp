#include "host/console/search_table.h"

#include "platform/error.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace bw::host::console {

SearchTable makeSearchTable(QWidget* owner, QVBoxLayout* layout, const QStringList& headings,
                            const QString& placeholder, const QStringList& names) {
    SearchTable t;
    t.search = new QLineEdit(owner);
    t.search->setObjectName(names.value(0));
    t.search->setPlaceholderText(placeholder);
    t.search->setClearButtonEnabled(true);
    layout->addWidget(t.search);
    t.model = new QStandardItemModel(0, int(headings.size()), owner);
    t.model->setHorizontalHeaderLabels(headings);
    t.filter = new QSortFilterProxyModel(owner);
    t.filter->setSourceModel(t.model);
    t.filter->setFilterKeyColumn(-1);
    t.filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    t.table = new QTableView(owner);
    t.table->setObjectName(names.value(1));
    t.table->setModel(t.filter);
    t.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    t.table->setSelectionMode(QAbstractItemView::SingleSelection);
    t.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t.table->verticalHeader()->hide();
    t.table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(t.table, 1);
    t.note = new QLabel(owner);
    t.note->setObjectName(names.value(2));
    t.note->setTextFormat(Qt::PlainText);
    t.note->setWordWrap(true);
    layout->addWidget(t.note);
    return t;
}

void setRow(QStandardItemModel* model, int r, const QStringList& values) {
    for (int col = 0; col < values.size(); ++col) {
        auto* item = new QStandardItem(values[col].simplified());
        item->setData(values[col], Qt::UserRole);
        model->setItem(r, col, item);
    }
}

QString reasonOf(const std::exception& e) {
    const auto* error = dynamic_cast<const Error*>(&e);
    const QString reason =
        (error ? error->description() : QString::fromLocal8Bit(e.what())).simplified();
    return reason.isEmpty() ? QStringLiteral("?") : reason;
}

} // namespace bw::host::console
