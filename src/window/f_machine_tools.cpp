#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/ui.h"
#include "window/f_machine.h"

#include <QAction>
#include <QDate>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>

namespace bw {

namespace {

// Tool keys in the order SetTools assigns them, with their availability in the editing
// state (1); the browsing state (2) is the opposite for each.
struct ToolState {
    const char* key;
    bool editing;
};
constexpr ToolState kToolStates[] = {
    {"new", false},      {"edit", false}, {"Save", true},  {"Cancel", true},
    {"loadrest", false}, {"dele", false}, {"exit", false},
};

} // namespace

void F_Machine::SetTools(short state) {
    if (state != 1 && state != 2)
        return;
    for (const ToolState& t : kToolStates) {
        const QString key = QString::fromLatin1(t.key);
        // The tool is looked up afresh for each assignment.
        QAction* a = tool(key);
        if (!a)
            throw Error(err::InvalidProcedureCall,
                        QStringLiteral("Invalid procedure call or argument"));
        const bool available = state == 1 ? t.editing : !t.editing;
        // A tool refused by the permission check at load is never given back.
        a->setEnabled(available && !refusedTools_.contains(key));
    }
}

void F_Machine::selectWholeText(QLineEdit* box) {
    // Caret to the start, then the selection extended to the end: typing replaces the text.
    box->home(false);
    box->end(true);
}

void F_Machine::TxtHour_GotFocus(int index) {
    selectWholeText(TxtHour(index));
}

void F_Machine::TxtMin_GotFocus(int index) {
    selectWholeText(TxtMin(index));
}

bool F_Machine::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::FocusIn || type == QEvent::MouseButtonRelease) {
        for (int k = 0; k < 30; ++k) {
            QLineEdit* hour = TxtHourArr[static_cast<size_t>(k)];
            QLineEdit* minute = TxtMinArr[static_cast<size_t>(k)];
            if (watched != hour && watched != minute)
                continue;
            auto* box = static_cast<QLineEdit*>(watched);
            if (type == QEvent::FocusIn) {
                // A mouse press places the caret after the focus arrives; the selection is
                // made again when that press ends.
                const auto reason = static_cast<QFocusEvent*>(event)->reason();
                mouseFocusBox_ = reason == Qt::MouseFocusReason ? box : nullptr;
                if (box == hour)
                    TxtHour_GotFocus(k);
                else
                    TxtMin_GotFocus(k);
            } else if (mouseFocusBox_ == box) {
                mouseFocusBox_ = nullptr;
                selectWholeText(box);
            }
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void F_Machine::Txt_Machine_KeyUp(int key, int shift) {
    // Releasing a key in the terminal-number box has no effect.
    Q_UNUSED(key);
    Q_UNUSED(shift);
}

void F_Machine::CmdGatherdata_Click() {
    // The data-collection component opens the terminals' serial ports itself.
    releaseBellPort();
    try {
        std::shared_ptr<IShowA> gather =
            CreateObject<IShowA>(QStringLiteral("Fenlowe") + QStringLiteral(".KQ"));
        QVariant user = state().CurrentUser;
        QVariant title = messages::text(1119);
        QVariant caption = messages::text(1118);
        QVariant today = QDate::currentDate();
        gather->ShowA(user, title, caption, today);
        gather.reset(); // released as soon as ShowA returns
    } catch (const Error& e) {
        // The data-collection component is the host's: tell the operator and carry on.
        MsgBox(QString::number(e.number()) + QStringLiteral(":") + e.description(), mb::Information,
               messages::text(100));
    } catch (const std::exception& e) {
        MsgBox(QStringLiteral("0:") + QString::fromLocal8Bit(e.what()), mb::Information,
               messages::text(100));
    }
}

} // namespace bw
