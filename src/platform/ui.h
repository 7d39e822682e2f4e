#pragma once

#include <QList>
#include <QString>

namespace bw {

// Message-box styles and answers as the host platform numbers them.
namespace mb {
constexpr int OKOnly = 0;
constexpr int YesNo = 4;
constexpr int Critical = 16;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;
constexpr int DefaultButton2 = 256; // the second button answers Enter
constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace mb

// Every message box and beep of the component goes through this interface, so a test
// can answer the boxes and read their text, style and title.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // An empty title means the platform's default title.
    virtual int MsgBox(const QString& text, int style, const QString& title) = 0;
    virtual void Beep() = 0;
    // Asks for a file to write (save) or to read. Empty when the user cancels; a box
    // without windows has no file to offer.
    virtual QString FileName(bool save, const QString& title, const QString& suggested,
                             const QString& filter);
};

IMessageBox& ui();
// Installs a message-box implementation (not owned); nullptr restores the default one.
void setUi(IMessageBox* box);
// The default one (not owned): a program with windows names its window boxes here
// (platform_ui/message_box.h); nullptr, or none named, writes to the standard error.
void setDefaultUi(IMessageBox* box);
// The answers of a box of this style's buttons, in the order the style names them, and the
// one Enter presses.
QList<int> boxButtons(int style);
int defaultAnswer(int style);

// Shorthands.
int MsgBox(const QString& text, int style = mb::OKOnly, const QString& title = QString());
void Beep();
QString askSaveFile(const QString& title, const QString& suggested, const QString& filter);
QString askOpenFile(const QString& title, const QString& filter);

} // namespace bw
