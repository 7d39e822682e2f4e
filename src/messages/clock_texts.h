#pragma once

#include "platform/clock_guard.h"

#include <QString>

namespace bw::messages {

// The clock guard's texts, kept beside the catalogue (whose ids are fixed) in a table of
// their own.
enum class ClockText {
    AskUnsynchronised, // '|01 terminal: the computer's clock is not synchronised; set anyway?
    AskTooFar,         // '|01 terminal, '|02 the change in seconds: more than allowed; anyway?
    YearOutOfRange,    // '|01 the year: the terminal cannot hold it
};

QString clockText(ClockText id, int lang);

// The window's words for a refused push to terminal: the question that lets the operator
// set it anyway (Unsynchronised, TooFar) or the notice that it cannot be (YearOutOfRange);
// empty when nothing was refused.
QString clockRefusalText(const ClockVerdict& verdict, const QString& terminal, int lang);

// Whether the operator may override the refusal.
bool clockRefusalAsks(ClockRefusal refusal);

} // namespace bw::messages
