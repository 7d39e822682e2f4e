#pragma once

#include "platform/ui.h"

namespace bw {

// Makes Qt's message boxes and file dialog the default of ui() (platform/ui.h); a program
// with windows calls it once its QApplication is made.
void useWindowMessageBoxes();

// A tooltip that shows text as it is written: Qt takes a tooltip that looks like markup for
// markup, so such a text is handed over escaped.
QString plainToolTip(const QString& text);

} // namespace bw
