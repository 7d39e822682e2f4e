#pragma once

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
    // Asks for a file to write (save) or to read: Qt's own dialog, so that it speaks the
    // program's language rather than the desktop's, opening in the user's documents folder
    // with the suggested name. Empty when the user cancels.
    virtual QString FileName(bool save, const QString& title, const QString& suggested,
                             const QString& filter);
};

IMessageBox& ui();
// Installs a message-box implementation (not owned); nullptr restores the default one.
void setUi(IMessageBox* box);

// A tooltip that shows text as it is written: Qt takes a tooltip that looks like markup for
// markup, so such a text is handed over escaped.
QString plainToolTip(const QString& text);

// Shorthands.
int MsgBox(const QString& text, int style = mb::OKOnly, const QString& title = QString());
void Beep();
QString askSaveFile(const QString& title, const QString& suggested, const QString& filter);
QString askOpenFile(const QString& title, const QString& filter);

} // namespace bw
