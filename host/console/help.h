#pragma once

#include <QString>

class QWidget;

namespace bw::host::console {

// The about box's lines: the version, the host database in use (its password masked) and
// the settings file.
QString aboutText(const QString& connection, const QString& settingsFile);

// Text as the terminal shows it, from man's overstrike: "X\bX" (bold) and "_\bX" (underline)
// become "X"; a backspace with nothing to join is dropped.
QString stripOverstrike(const QString& text);

// The operator's manual in lang's language (1028 Traditional, else Simplified): its index.html
// where the package installs it beside programDir (../share/doc/brackwater/manual), else in
// the source tree of a program run from the folder it was built in, wherever that is
// (docs/manual). Empty when there is none.
QString manualPage(int lang, const QString& programDir);

// The command line's manual: the installed manual page as plain text (man -P cat brackwater),
// else the README beside the program's build, else empty.
QString manualText();

// The manual in a read-only browser window of its own: the operator's manual when there is
// one beside programDir (empty: this program's folder), else the manual page.
void showManual(QWidget* parent, const QString& programDir = QString());

} // namespace bw::host::console
