#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/ui.h"
#include "window/f_machine.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>

namespace bw {

namespace {

// Stands in for the host's connection when the database-tools component has none:
// a connection object that was never opened. Every use of it fails as ADO's would.
class UnopenedConnection : public Connection {
public:
    QString ConnectionString() const override { return QString(); }
    bool isOpen() const override { return false; }
    void Execute(const QString&, int) override { throw closed(); }
    void BeginTrans() override { throw closed(); }
    void CommitTrans() override { throw closed(); }
    void RollbackTrans() override { throw closed(); }

private:
    static Error closed() {
        return Error(3709, QStringLiteral("The connection cannot be used to perform this "
                                          "operation. It is either closed or invalid in this "
                                          "context."));
    }
};

struct ColumnDesign {
    const char* key;
    int heading;
    double fraction;
};

// Columns of the terminal list, in index order.
constexpr ColumnDesign kColumns[] = {
    {"Machine", 1056, 0.15}, {"COM", 1057, 0.3},  {"MachDesc", 1058, 0.15},
    {"Team", 1059, 0.25},    {"Ver", 1060, 0.15},
};

// Adds an item without touching the box's text: the first item of an empty list does not
// become the selected one.
void addItemKeepingText(QComboBox* combo, const QString& item) {
    const QString text = combo->currentText();
    const bool noneSelected = combo->currentIndex() < 0;
    combo->addItem(item);
    if (noneSelected && combo->currentIndex() >= 0) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->setEditText(text);
    }
}

// The targets of the permission checks at load, in the order they are checked.
struct PermissionTarget {
    int message;
    const char* tool;                // a tool of band "toolbar", or
    QPushButton* F_Machine::*button; // a button
};
constexpr PermissionTarget kPermissionTargets[] = {
    {1062, "new", nullptr},
    {1063, "Save", nullptr},
    {1064, "dele", nullptr},
    {1065, "edit", nullptr},
    {1066, nullptr, &F_Machine::Cmd_Test},
    {1067, nullptr, &F_Machine::Cmd_DateTime},
    {1068, nullptr, &F_Machine::Cmd_Ring},
    {1069, "loadrest", nullptr},
};

} // namespace

void F_Machine::addColumns() {
    const double listWidth = LVW_Machine->width();
    columnWidths_.clear();
    QTreeWidgetItem* header = LVW_Machine->headerItem();
    int index = 0;
    for (const auto& c : kColumns) {
        const double width = listWidth * c.fraction;
        LVW_Machine->setColumnCount(index + 1);
        header = LVW_Machine->headerItem();
        header->setText(index, messages::text(c.heading));
        header->setData(index, Qt::UserRole, QString::fromLatin1(c.key));
        LVW_Machine->setColumnWidth(index, static_cast<int>(width));
        columnWidths_.append(width);
        ++index;
    }
}

void F_Machine::takeAway(const char* toolKey, QPushButton* button) {
    if (button) {
        button->setEnabled(false);
        return;
    }
    const QString key = QString::fromLatin1(toolKey);
    if (QAction* a = tool(key))
        a->setEnabled(false);
    if (!refusedTools_.contains(key))
        refusedTools_.append(key);
}

void F_Machine::Form_Load() {
    // Targets whose permission check has not (yet) answered true. When the load fails before
    // every check answered, these stay taken away: a broken permission component or grants
    // table must not leave every tool usable by anyone.
    QList<const PermissionTarget*> unconfirmed;
    for (const PermissionTarget& t : kPermissionTargets)
        unconfirmed.append(&t);
    auto failClosed = [&] {
        for (const PermissionTarget* t : unconfirmed)
            takeAway(t->tool, t->button ? this->*(t->button) : nullptr);
    };
    try {
        // 1. Hidden until the end of the sequence.
        if (!showingDirectly_)
            hide();

        // 2. Permission component (for the load only), database-tools component (kept).
        std::shared_ptr<IPermission> permission = CreateObject<IPermission>(progid::Permission);
        dbTools_ = CreateObject<IDbTools>(progid::DbTools);
        ConnectionPtr cn = dbTools_->ActiveCn();
        if (!cn)
            cn = std::make_shared<UnopenedConnection>();
        cn_ = cn;

        // 3. The language component adapts the window's captions.
        if (!state().language)
            throw objectNotSet();
        int result = 0;
        state().language->LoadControlInfo(cn, QStringLiteral("Brackwater"), this, result);

        // 4. Usage list: one item.
        CmbMachType->clear();
        CmbMachType->setEditText(QString());
        addItemKeepingText(CmbMachType, messages::text(1001));

        // 5. Captions of the hour and minute rows.
        for (QLineEdit* t : {Text2, Text1, Text5})
            t->setText(messages::text(1112));
        for (QLineEdit* t : {Text3, Text4, Text6})
            t->setText(messages::text(1113));

        // 6. Direction box.
        addItemKeepingText(Cbo_Ver, messages::text(1114));
        addItemKeepingText(Cbo_Ver, messages::text(1115));

        // 7.
        dbTools_->ConnectA();

        // 8.
        setStatus(messages::text(1055));

        // 9. Icon view until the list fill switches to the report view.
        lvwReportView_ = false;
        LVW_Machine->setHeaderHidden(true);

        // 10. Columns, widths from the list's width now.
        addColumns();

        // 11.
        ListMachine();
        ListGroup();

        // 12. Port names COM1..COM16.
        for (int n = 1; n <= 16; ++n)
            addItemKeepingText(Cbo_COM, QStringLiteral("COM") + QString::number(n));

        // 13.
        DTP_Date->setDate(QDate::currentDate());
        DTP_Time->setTime(QTime::currentTime());

        // 14. Permission checks: only ever take away.
        const QString systemName = messages::text(1061);
        for (const PermissionTarget& c : kPermissionTargets) {
            const QString functionName = state().CurrentCaption + messages::text(c.message);
            const bool permitted = permission->CheckPermission(
                cn, systemName, state().CurrentUser, QVariant(), functionName, true, true);
            // A permitted target is left as it is, a tool the host removed from the band
            // included; a refused one that is missing has nothing left to take away.
            if (permitted != false)
                unconfirmed.removeOne(&c);
            else
                takeAway(c.tool, c.button ? this->*c.button : nullptr);
        }
        permission.reset();

        // 15, 16. Tooltips of the bell-time boxes.
        for (QLineEdit* box : TxtHourArr)
            box->setToolTip(messages::text(1116));
        for (QLineEdit* box : TxtMinArr)
            box->setToolTip(messages::text(1117));

        // 17.
        if (!showingDirectly_)
            show();
    } catch (const Error& e) {
        failClosed();
        MsgBox(QString::number(e.number()) + QStringLiteral(":") + e.description(), mb::OKOnly,
               QString());
    } catch (const std::exception& e) {
        failClosed();
        MsgBox(QStringLiteral("0:") + QString::fromLocal8Bit(e.what()), mb::OKOnly, QString());
    }
}

} // namespace bw
