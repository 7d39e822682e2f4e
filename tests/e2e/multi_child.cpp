// One workstation of the multi-workstation tests: this test program started again by
// runWorkstations with BW_WS_ROLE set. It opens the real window through ShowA on the shared
// database (no simulator: nothing here talks to a terminal), plays its script and writes what
// it saw to its result file after every step, so a workstation that is killed still tells
// how far it came.

#include "common/hooked_ledger.h"
#include "e2e/e2e_support.h"
#include "e2e/multi_support.h"

#include "entry/kq.h"
#include "host/app/host_setup.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "window/f_machine.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLineEdit>
#include <QSaveFile>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace bw::multi {

namespace {

// Meeting points of the two workstations: each writes "<name>.<role>" into the shared folder
// and waits for the other's. A workstation that gives up writes "abort.<role>", which ends the
// other's waits at once.
class Barrier {
public:
    Barrier(QString dir, QString role) : dir_(std::move(dir)), role_(std::move(role)) {
        other_ = role_ == QLatin1String("A") ? QStringLiteral("B") : QStringLiteral("A");
    }

    // Meets the other workstation; returns the text it left at the barrier.
    QString sync(const QString& name, const QString& mine = QStringLiteral("-")) {
        put(name + QLatin1Char('.') + role_, mine);
        const QString theirs = dir_ + QLatin1Char('/') + name + QLatin1Char('.') + other_;
        const QString aborted = dir_ + QStringLiteral("/abort.") + other_;
        QDeadlineTimer deadline(kBarrierTimeoutMs);
        while (!QFile::exists(theirs)) {
            if (QFile::exists(aborted))
                throw Error(5, QStringLiteral("workstation ") + other_ +
                                   QStringLiteral(" gave up before barrier ") + name);
            if (deadline.hasExpired())
                throw Error(5, QStringLiteral("time-out at barrier ") + name);
            QThread::msleep(1);
        }
        QFile f(theirs);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    // Meets the other workstation, then both go on at the later of the two proposed instants,
    // a little after both arrived, so the two steps that follow start together.
    void go(const QString& name) {
        const qint64 mine = QDateTime::currentMSecsSinceEpoch() + 150;
        const qint64 theirs = sync(name, QString::number(mine)).toLongLong();
        const qint64 start = qMax(mine, theirs);
        while (QDateTime::currentMSecsSinceEpoch() < start) {
            if (start - QDateTime::currentMSecsSinceEpoch() > 3)
                QThread::msleep(1);
        }
    }

    void abort() { put(QStringLiteral("abort.") + role_, QStringLiteral("-")); }

private:
    // Written whole under its final name, so the other never reads half a file.
    void put(const QString& name, const QString& text) {
        QSaveFile f(dir_ + QLatin1Char('/') + name);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(text.toUtf8());
            f.commit();
        }
    }

    QString dir_;
    QString role_;
    QString other_;
};

Barrier* barrier = nullptr;
QString heldBarrier; // set by a "hold" step, used by the next UpdateBatch
QString holdProblem; // why the barriers of a held UpdateBatch failed

// In front of UpdateBatch: the barriers of a "hold" step, when one is set.
void holdBeforeUpdateBatch() {
    if (heldBarrier.isEmpty() || !barrier)
        return;
    const QString name = heldBarrier;
    heldBarrier.clear();
    try {
        barrier->sync(name + QStringLiteral("-read"));
        barrier->sync(name + QStringLiteral("-go"));
    } catch (const Error& e) {
        holdProblem = e.description();
        throw;
    }
}

QJsonArray boxesFrom(const test::RecordingMessageBox& boxes, qsizetype from) {
    QJsonArray out;
    for (qsizetype i = from; i < boxes.boxes.size(); ++i) {
        const auto& b = boxes.boxes[i];
        out.append(QJsonObject{{"text", b.text}, {"style", b.style}, {"title", b.title}});
    }
    return out;
}

class Workstation {
public:
    Workstation()
        : role_(qEnvironmentVariable(kRoleVar)), resultFile_(qEnvironmentVariable(kResultVar)),
          barrier_(qEnvironmentVariable(kDirVar), role_) {
        result_.insert(QStringLiteral("role"), role_);
        barrier = &barrier_;
    }
    ~Workstation() {
        barrier = nullptr;
        heldBarrier.clear();
        holdProblem.clear();
    }

    QString failure() const { return result_.value(QStringLiteral("failure")).toString(); }

    void run() {
        try {
            open();
            const QJsonArray steps = readScript();
            for (const QJsonValue& s : steps)
                play(s.toObject());
            result_.insert(QStringLiteral("done"), true);
        } catch (const Error& e) {
            fail(e.boxText());
        }
        save();
        close();
    }

private:
    void open() {
        resetState();
        host::registerDefaultComponents();
        Registry::instance().registerClass(progid::DbTools, [] {
            return std::make_shared<test::HookedLedger>(holdBeforeUpdateBatch);
        });
        host::setConnectionString(qEnvironmentVariable(kDbVar));

        auto kq = CreateObject<IShowA>(progid::Component);
        QVariant user(QString::fromLatin1(kUser));
        QVariant title(QStringLiteral("Brackwater"));
        QVariant caption(QString::fromUtf8(host::kDemoCaption));
        QVariant date(QDate::currentDate());
        kq->ShowA(user, title, caption, date);
        result_.insert(QStringLiteral("loadBoxes"), boxesFrom(boxes_, 0));
        if (!window())
            throw Error(5, QStringLiteral("no window after ShowA"));
        save();
    }

    void close() {
        if (QWidget* w = KQ::window()) {
            w->close();
            delete w;
        }
        host::closeSharedConnection();
        host::setConnectionString(QString());
        resetState();
    }

    F_Machine* window() const { return qobject_cast<F_Machine*>(KQ::window()); }

    QJsonArray readScript() const {
        QFile f(qEnvironmentVariable(kScriptVar));
        if (!f.open(QIODevice::ReadOnly))
            throw Error(53, QStringLiteral("no script"));
        return QJsonDocument::fromJson(f.readAll()).array();
    }

    void play(const QJsonObject& step) {
        const QString op = step.value(QStringLiteral("op")).toString();
        const qsizetype boxesBefore = boxes_.boxes.size();
        QJsonObject record = step;
        F_Machine* w = window();
        if (!w)
            throw Error(5, QStringLiteral("the window is gone"));

        if (op == QLatin1String("sync")) {
            barrier_.sync(step.value(QStringLiteral("name")).toString());
        } else if (op == QLatin1String("go")) {
            barrier_.go(step.value(QStringLiteral("name")).toString());
        } else if (op == QLatin1String("tool")) {
            clickTool(*w, step.value(QStringLiteral("key")).toString());
        } else if (op == QLatin1String("select")) {
            const QString address = step.value(QStringLiteral("addr")).toString();
            if (!clickTerminal(*w, address))
                throw Error(5, QStringLiteral("no list entry ") + address);
        } else if (op == QLatin1String("type")) {
            const QString field = step.value(QStringLiteral("field")).toString();
            QWidget* target = fieldOf(*w, field);
            if (!target)
                throw Error(5, QStringLiteral("no field ") + field);
            test::Installation::typeInto(target, step.value(QStringLiteral("text")).toString());
        } else if (op == QLatin1String("refresh")) {
            // The list is reloaded by "cancel", which is offered while editing.
            QAction* cancel = w->tool(QStringLiteral("Cancel"));
            if (cancel && !cancel->isEnabled())
                clickTool(*w, QStringLiteral("edit"));
            clickTool(*w, QStringLiteral("Cancel"));
            record.insert(QStringLiteral("list"), listOf(*w));
        } else if (op == QLatin1String("list")) {
            record.insert(QStringLiteral("list"), listOf(*w));
        } else if (op == QLatin1String("hold")) {
            heldBarrier = step.value(QStringLiteral("name")).toString();
        } else if (op == QLatin1String("sql")) {
            connection()->Execute(step.value(QStringLiteral("sql")).toString());
        } else if (op == QLatin1String("query")) {
            const auto rows =
                connection()->queryBound(step.value(QStringLiteral("sql")).toString());
            record.insert(QStringLiteral("value"),
                          rows.isEmpty() ? QString() : rows.first().value(0).toString());
        } else {
            throw Error(5, QStringLiteral("unknown step ") + op);
        }
        if (!holdProblem.isEmpty())
            throw Error(5, holdProblem);
        record.insert(QStringLiteral("boxes"), boxesFrom(boxes_, boxesBefore));
        record.insert(QStringLiteral("status"), w->statusText());
        steps_.append(record);
        save();
    }

    static QWidget* fieldOf(F_Machine& w, const QString& name) {
        if (name == QLatin1String("Txt_Machine"))
            return w.Txt_Machine;
        if (name == QLatin1String("Cbo_COM"))
            return w.Cbo_COM;
        if (name == QLatin1String("Cbo_Team"))
            return w.Cbo_Team;
        if (name == QLatin1String("CmbGroup"))
            return w.CmbGroup;
        if (name == QLatin1String("CmbMachType"))
            return w.CmbMachType;
        return nullptr;
    }

    static std::shared_ptr<store::SqlConnection> connection() {
        auto cn = host::sharedConnection();
        if (!cn)
            throw Error(3709, QStringLiteral("no connection"));
        return cn;
    }

    static bool clickTerminal(F_Machine& w, const QString& address) {
        QTreeWidget* list = w.LVW_Machine;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            if (item->text(0) != address)
                continue;
            list->scrollToItem(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(item).center());
            return true;
        }
        return false;
    }

    static void clickTool(F_Machine& w, const QString& key) {
        QAction* a = w.tool(key);
        QWidget* button = a ? w.toolbarBand->widgetForAction(a) : nullptr;
        if (!button)
            throw Error(5, QStringLiteral("no tool ") + key);
        if (!a->isEnabled())
            throw Error(5, QStringLiteral("tool ") + key + QStringLiteral(" is disabled"));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    static QJsonArray listOf(const F_Machine& w) {
        QJsonArray rows;
        const QTreeWidget* list = w.LVW_Machine;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QJsonArray columns;
            for (int c = 0; c < 5; ++c)
                columns.append(list->topLevelItem(i)->text(c));
            rows.append(columns);
        }
        return rows;
    }

    void fail(const QString& why) {
        result_.insert(QStringLiteral("failure"),
                       QStringLiteral("step %1: %2").arg(steps_.size() + 1).arg(why));
        barrier_.abort();
    }

    void save() {
        result_.insert(QStringLiteral("steps"), steps_);
        QSaveFile f(resultFile_);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QJsonDocument(result_).toJson());
            f.commit();
        }
    }

    test::RecordingMessageBox boxes_;
    QString role_;
    QString resultFile_;
    Barrier barrier_;
    QJsonObject result_;
    QJsonArray steps_;
};

} // namespace

TEST(MultiWorkstationChild, Run) {
    if (qEnvironmentVariableIsEmpty(kRoleVar))
        GTEST_SKIP() << "runs only as a workstation started by the MultiWorkstation tests";
    Workstation ws;
    ws.run();
    EXPECT_TRUE(ws.failure().isEmpty()) << ws.failure().toStdString();
}

} // namespace bw::multi
