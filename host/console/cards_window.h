#pragma once

#include "host/names/cards.h"

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

// A refused row or value in the operator's language.
QString refusalText(const names::RefusedRow& refused);

// The "卡号对照" window of one terminal: its cards (card number, employee number, name), a
// search over them, and adding, changing, removing, importing and exporting cards. Each change
// is made as the signed-in operator on a connection of its own and logged; a refusal changes
// nothing and is said. After a change the console is told (changed), and the window offers the
// download of the terminal's list (download).
class CardsWindow : public QDialog {
public:
    CardsWindow(const QString& user, int terminal, QWidget* parent = nullptr);

    int terminal() const { return terminal_; }
    // Reads the cards again; false (after saying why) when they cannot be read.
    bool reload();
    const QList<names::Card>& shown() const { return shown_; }
    void setSearch(const QString& text);
    int visibleRows() const;

    std::function<void(int)> changed;  // the terminal whose cards changed
    std::function<void(int)> download; // the terminal whose list is to be downloaded

    void addCard();
    void editCard();
    void removeCard();
    // The file dialog, then the preview; writes only on the operator's confirmation.
    void importCards();
    // The preview of a file read, and the import when confirmed; false when nothing was written.
    bool previewAndImport(const QString& path);
    void exportCards();
    // Writes the cards shown to path; false (after saying why) when it cannot.
    bool exportTo(const QString& path);

private:
    // Runs a change on a connection of its own; a refusal or the database's error is said.
    bool change(const std::function<void(store::SqlConnection&, const names::LogChange&)>& work);
    QString selectedCard() const;

    QString user_;
    int terminal_ = 0;
    QList<names::Card> shown_;
    QStandardItemModel* model_ = nullptr;
    QSortFilterProxyModel* filter_ = nullptr;
    QTableView* table_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace bw::host::console
