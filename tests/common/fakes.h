#pragma once

#include "platform/line_trace.h"
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

// Installed as the line-trace sink for its lifetime; keeps each frame as its trace line with
// the time left out ("COM1 out 01* 02 55 56").
class RecordingTraceSink : public trace::Sink {
public:
    static std::shared_ptr<RecordingTraceSink> install() {
        auto sink = std::make_shared<RecordingTraceSink>();
        trace::setSink(sink);
        return sink;
    }
    ~RecordingTraceSink() override = default;
    void write(const trace::Frame& frame) override {
        lines << QString::fromUtf8(trace::formatLine(0, frame)).mid(13).trimmed();
    }
    void note(const QString& where, const QString& text) override {
        lines << where + QStringLiteral(" note ") + text;
    }
    QStringList lines;
};

} // namespace bw::test
