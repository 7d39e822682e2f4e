#include "e2e/e2e_support.h"

#include "bell/serial_port.h"
#include "common/test_support.h"
#include "entry/kq.h"
#include "host/app/host_setup.h"
#include "host/cli/host_options.h"
#include "host/ledger/ledger.h"
#include "host/link/link.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/registry.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QLineEdit>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

namespace bw::test {

Installation::Installation(const QStringList& simArguments) {
    resetState();
    dir_ = tempDir();
    dbPath_ = dir_ + QStringLiteral("/host.db");
    host::registerDefaultComponents();

    host::HostOptions options;
    options.db = QStringLiteral("sqlite:") + dbPath_;
    options.demo = true;
    error_ = host::prepareDatabase(options);
    if (!error_.isEmpty())
        return;

    QStringList args{QStringLiteral("--addr"), QStringLiteral("1,2,3"), QStringLiteral("--tcp"),
                     QStringLiteral("127.0.0.1:0")};
    args += simArguments;
    if (!sim_.start(program(QStringLiteral("brackwater-sim")), args,
                    dir_ + QStringLiteral("/sim.json"))) {
        error_ = sim_.error();
        return;
    }
    bell::setDevicePath(1, sim_.ptyPath());
    host::setTcpPortMap(1001, sim_.tcpPort());

    try {
        auto kq = CreateObject<IShowA>(progid::Component);
        QVariant user(QStringLiteral("admin"));
        QVariant title(QStringLiteral("Brackwater"));
        QVariant caption(QStringLiteral("就餐机管理"));
        QVariant date(QDate::currentDate());
        kq->ShowA(user, title, caption, date);
    } catch (const Error& e) {
        error_ = e.boxText();
        return;
    }
    if (!window())
        error_ = QStringLiteral("no window after ShowA");
    else if (!boxes_.boxes.isEmpty())
        error_ = QStringLiteral("unexpected box at load: ") + boxes_.lastText();
}

Installation::~Installation() {
    if (QWidget* w = KQ::window()) {
        w->close();
        delete w;
    }
    sim_.stop();
    host::clearTcpPortMap();
    bell::setDevicePath(1, QString());
    host::closeSharedConnection();
    resetState();
}

F_Machine* Installation::window() const {
    return qobject_cast<F_Machine*>(KQ::window());
}

bool Installation::clickTerminal(const QString& address) {
    QTreeWidget* list = window()->LVW_Machine;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->text(0) != address)
            continue;
        list->scrollToItem(item);
        const QRect r = list->visualItemRect(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        return true;
    }
    return false;
}

void Installation::clickTool(const QString& key) {
    QAction* a = window()->tool(key);
    QWidget* button = a ? window()->toolbarBand->widgetForAction(a) : nullptr;
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

void Installation::typeInto(QWidget* field, const QString& text) {
    QLineEdit* edit = qobject_cast<QLineEdit*>(field);
    if (auto* combo = qobject_cast<QComboBox*>(field))
        edit = combo->lineEdit();
    if (!edit)
        return;
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    // Key events carry only ASCII keys; other characters go in as an input method would.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        QTest::keyClicks(edit, text);
    else
        edit->insert(text);
}

QVariant Installation::scalar(const QString& sql) const {
    host::Ledger ledger;
    RecordsetPtr rs = ledger.RecordSetA(sql);
    if (rs->RecordCount() == 0)
        return QVariant();
    // The first column's name is not known here: the statements name it "v".
    return rs->field(QStringLiteral("v"));
}

void Installation::exec(const QString& sql) const {
    host::sharedConnection()->Execute(sql);
}

} // namespace bw::test
