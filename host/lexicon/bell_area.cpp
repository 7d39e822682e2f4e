// The bell section of the terminal-management window, made reachable by the host: the
// window keeps it hidden in its terminal frame, under the rows where it shares the place
// with the clock pickers. With the bell section shown the language component moves it into
// an area of its own to the right of that frame and widens the window by that area.

#include "host/lexicon/lexicon.h"

#include <QFrame>
#include <QStringList>
#include <QWidget>

namespace bw::host {

namespace {

bool shownFlag = false;

constexpr int kGap = 6;      // between the terminal frame and the bell area
constexpr int kAreaTop = 16; // the bell count's row inside the area

// The controls of the bell section, by their names in the window.
QStringList bellControlNames() {
    QStringList names{QStringLiteral("Label6"),       QStringLiteral("TxtBellNum"),
                      QStringLiteral("Label9"),       QStringLiteral("Text1"),
                      QStringLiteral("Text2"),        QStringLiteral("Text3"),
                      QStringLiteral("Text4"),        QStringLiteral("Text5"),
                      QStringLiteral("Text6"),        QStringLiteral("Cmd_Ring"),
                      QStringLiteral("Cmd_Ring_Num"), QStringLiteral("Cmd_Ring_read")};
    for (int k = 0; k < 30; ++k)
        names << QStringLiteral("TxtHour(%1)").arg(k) << QStringLiteral("TxtMin(%1)").arg(k);
    return names;
}

} // namespace

void setBellSectionShown(bool shown) {
    shownFlag = shown;
}

bool bellSectionShown() {
    return shownFlag;
}

int Lexicon::revealBellSection(QWidget* form) {
    QWidget* frame = form ? form->findChild<QWidget*>(QStringLiteral("Fra_Fram1")) : nullptr;
    QWidget* first =
        frame ? frame->findChild<QWidget*>(QStringLiteral("Label6"), Qt::FindDirectChildrenOnly)
              : nullptr;
    // Not this window, or its bell section has been moved already.
    if (!first || !frame->parentWidget())
        return 0;

    auto* area = new QFrame(frame->parentWidget());
    area->setObjectName(QStringLiteral("Fra_Bell"));
    area->setFrameShape(QFrame::StyledPanel);
    area->setGeometry(frame->geometry().translated(frame->width() + kGap, 0));

    // Every control keeps its place relative to the others; the section moves up to the
    // top of its area.
    const int shift = first->y() - kAreaTop;
    int moved = 0;
    for (const QString& name : bellControlNames()) {
        QWidget* w = frame->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
        if (!w)
            continue;
        const QRect place = w->geometry();
        w->setParent(area);
        w->setGeometry(place.translated(0, -shift));
        w->show();
        ++moved;
    }
    area->show();

    const int widening = area->width() + kGap;
    form->resize(form->width() + widening, form->height());
    for (const char* bar : {"ActiveBar21", "toolbar"})
        if (QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(bar)))
            w->resize(w->width() + widening, w->height());
    return moved;
}

} // namespace bw::host
