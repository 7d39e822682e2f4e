#pragma once

#include <QString>

class QWidget;

namespace bw::host::console {

// The about box's lines: the version, the host database in use (its password masked) and
// the settings file.
QString aboutText(const QString& connection, const QString& settingsFile);

// The manual: the installed manual page as text (man -P cat brackwater), else the README
// beside the program's build, else empty.
QString manualText();

// The manual in a read-only window of its own.
void showManual(QWidget* parent);

} // namespace bw::host::console
