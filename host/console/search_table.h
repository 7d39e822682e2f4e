#pragma once

#include <QString>
#include <QStringList>
#include <exception>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QVBoxLayout;
class QWidget;

namespace bw::host::console {

// A window's rows under a search box, with a note below them: the table selects whole rows and
// is not edited in place; the search looks in every column.
struct SearchTable {
    QLineEdit* search = nullptr;
    QStandardItemModel* model = nullptr;
    QSortFilterProxyModel* filter = nullptr;
    QTableView* table = nullptr;
    QLabel* note = nullptr;
};
// Made in owner and added to layout; names: the object names of the search box, the table and
// the note.
SearchTable makeSearchTable(QWidget* owner, QVBoxLayout* layout, const QStringList& headings,
                            const QString& placeholder, const QStringList& names);
// Row r of the model: each value shown on one line, kept whole under Qt::UserRole (values come
// from the database and from files).
void setRow(QStandardItemModel* model, int r, const QStringList& values);

// An exception's reason on one line, for a note or a box.
QString reasonOf(const std::exception& e);

} // namespace bw::host::console
