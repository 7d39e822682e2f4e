#include "platform/ui.h"

#include <cstdio>

namespace bw {

namespace {

// The boxes of a program without windows: the text goes to the standard error, its control
// characters shown as "?", and the answer is the button Enter would press; no file can be
// chosen.
class ConsoleMessageBox : public IMessageBox {
public:
    int MsgBox(const QString& text, int style, const QString& title) override {
        QString said = title.isEmpty() ? text : title + QStringLiteral(": ") + text;
        // Typed text may carry control characters: none reaches the terminal.
        for (QChar& c : said)
            if (!c.isPrint() && c != QLatin1Char('\n'))
                c = QLatin1Char('?');
        std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
        return defaultAnswer(style);
    }
    void Beep() override {}
};

ConsoleMessageBox consoleBox;
IMessageBox* fallback = &consoleBox;
IMessageBox* current = nullptr;

} // namespace

QList<int> boxButtons(int style) {
    switch (style & 0x0F) {
    case 1:
        return {mb::OK, mb::Cancel};
    case 3:
        return {mb::Yes, mb::No, mb::Cancel};
    case mb::YesNo:
        return {mb::Yes, mb::No};
    default:
        return {mb::OK};
    }
}

int defaultAnswer(int style) {
    // The style's default-button bits choose the button, the first when they name none.
    const QList<int> buttons = boxButtons(style);
    return buttons.value((style >> 8) & 0x03, buttons.front());
}

IMessageBox& ui() {
    return current ? *current : *fallback;
}
void setUi(IMessageBox* box) {
    current = box;
}
void setDefaultUi(IMessageBox* box) {
    fallback = box ? box : &consoleBox;
}

int MsgBox(const QString& text, int style, const QString& title) {
    return ui().MsgBox(text, style, title);
}
void Beep() {
    ui().Beep();
}

QString IMessageBox::FileName(bool, const QString&, const QString&, const QString&) {
    return QString();
}

QString askSaveFile(const QString& title, const QString& suggested, const QString& filter) {
    return ui().FileName(true, title, suggested, filter);
}
QString askOpenFile(const QString& title, const QString& filter) {
    return ui().FileName(false, title, QString(), filter);
}

} // namespace bw
