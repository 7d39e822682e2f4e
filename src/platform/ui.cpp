#include "platform/ui.h"

#include <QList>
#include <cstdio>

namespace bw {

namespace {

// The boxes of a program without windows: the text goes to the standard error and the
// answer is the button Enter would press; no file can be chosen.
class ConsoleMessageBox : public IMessageBox {
public:
    int MsgBox(const QString& text, int style, const QString& title) override {
        const QString said = title.isEmpty() ? text : title + QStringLiteral(": ") + text;
        std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
        return defaultAnswer(style);
    }
    void Beep() override {}
};

ConsoleMessageBox consoleBox;
IMessageBox* fallback = &consoleBox;
IMessageBox* current = nullptr;

} // namespace

int defaultAnswer(int style) {
    // The buttons in the order the style names them; its default-button bits choose one.
    static const QList<int> byButtons[] = {
        {mb::OK}, {mb::OK, mb::Cancel}, {mb::OK}, {mb::Yes, mb::No, mb::Cancel}, {mb::Yes, mb::No}};
    const int set = style & 0x0F;
    const QList<int>& buttons = set < 5 ? byButtons[set] : byButtons[0];
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
