#pragma once

#include "platform/ui.h"

#include <QList>
#include <QString>
#include <deque>

namespace bw::test {

// Records every message box and beep and answers boxes from a queue (default: OK, or
// Yes for a Yes/No box when yesByDefault).
class RecordingMessageBox : public IMessageBox {
public:
    struct Box {
        QString text;
        int style = 0;
        QString title;
    };

    RecordingMessageBox() { setUi(this); }
    ~RecordingMessageBox() override { setUi(nullptr); }

    int MsgBox(const QString& text, int style, const QString& title) override {
        boxes.append({text, style, title});
        if (!answers.empty()) {
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        if ((style & 0x0F) == mb::YesNo)
            return yesByDefault ? mb::Yes : mb::No;
        return mb::OK;
    }
    void Beep() override { ++beeps; }

    void clear() {
        boxes.clear();
        beeps = 0;
    }
    QString lastText() const { return boxes.isEmpty() ? QString() : boxes.last().text; }

    QList<Box> boxes;
    std::deque<int> answers;
    bool yesByDefault = true;
    int beeps = 0;
};

} // namespace bw::test
