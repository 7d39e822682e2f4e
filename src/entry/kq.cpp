#include "entry/kq.h"

#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/convert.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "platform_ui/message_box.h"
#include "window/f_machine.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace bw {

namespace {

// Notes when the window it watches gets a close request, until the window is shown again.
class CloseWatcher : public QObject {
public:
    using QObject::QObject;
    bool closeRequested = false;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close)
            closeRequested = true;
        else if (event->type() == QEvent::Show)
            closeRequested = false;
        return QObject::eventFilter(watched, event);
    }
};

// The component's one window and how it is made. Closing the window unloads it (it deletes
// itself when closed), so the next ShowA makes and loads a fresh one.
struct WindowSlot {
    QPointer<QWidget> window;
    QPointer<CloseWatcher> watcher;
    KQ::WindowFactory factory;
    KQ::WindowShower shower;

    // True when the window was closed but its deletion has not happened yet.
    bool closedButNotGone() const {
        return window && watcher && watcher->closeRequested && window->isHidden();
    }
};

WindowSlot& slot() {
    static WindowSlot s;
    return s;
}

QWidget* makeMachineWindow() {
    return new F_Machine();
}

void showMachineWindow(QWidget* w) {
    if (auto* machine = qobject_cast<F_Machine*>(w))
        machine->showWindow();
    else
        w->show();
}

void showPlain(QWidget* w) {
    w->show();
}

// Shows the one window, making it first when there is none.
void showTheWindow() {
    WindowSlot& s = slot();
    if (s.closedButNotGone()) {
        // Its pending deletion may not have run yet: let it go and load a new one.
        s.window->deleteLater();
        s.window = nullptr;
    }
    if (!s.window) {
        QWidget* made = s.factory ? s.factory() : makeMachineWindow();
        if (!made)
            throw Error(err::CannotCreateObject, QStringLiteral("The window cannot be created"));
        s.window = made;
        s.watcher = new CloseWatcher(made);
        made->installEventFilter(s.watcher);
    }
    if (s.shower)
        s.shower(s.window);
    else if (s.factory)
        showPlain(s.window);
    else
        showMachineWindow(s.window);
}

} // namespace

void KQ::setWindowFactory(WindowFactory factory, WindowShower shower) {
    slot().factory = std::move(factory);
    slot().shower = std::move(shower);
}

QWidget* KQ::window() {
    const WindowSlot& s = slot();
    return s.closedButNotGone() ? nullptr : s.window.data();
}

bool KQ::isSupportedVersion(const QString& ver) {
    return ver.left(3).toLower() == QStringLiteral("v7.");
}

void KQ::ShowA(QVariant& VarUser, QVariant& /*VarTitle*/, QVariant& VarCaption,
               QVariant& /*VarSysDate*/) {
    ComponentState& st = state();

    // Caller values; a value that has no text fails the call here.
    st.CurrentUser = CStr(VarUser);
    st.CurrentCaption = CStr(VarCaption);

    // The host components that serve all later work, replacing any earlier ones.
    st.connect = CreateObject<IConnect>(progid::Connect);
    st.language = CreateObject<ILanguage>(progid::Language);

    showTheWindow();

    if (isSupportedVersion(st.connect->Ver()))
        return;

    const QString lf = QStringLiteral("\n");
    const QString warning =
        st.language->ReplaceRes(messages::text(1111), 2, lf, st.connect->Ver() + lf);
    MsgBox(warning, mb::OKOnly, messages::text(100));
}

void registerComponent() {
    // The component speaks through windows, whoever hosts it.
    useWindowMessageBoxes();
    Registry::instance().registerClass(progid::Component, [] { return std::make_shared<KQ>(); });
}

} // namespace bw
