#pragma once

#include "platform/vbdate.h"

#include <QString>
#include <QVariant>

namespace bw {

// Conversions that behave like the host platform's.

// Text to 16-bit integer: blanks around it ignored, decimal (with fraction and exponent) or
// &H/&O, rounded half to even. Not a number: Error 13 "Type mismatch"; outside
// -32768..32767: Error 6 "Overflow".
short CInt(const QString& text);
short CInt(const QVariant& value);

// Text to a number (double), as CInt but without rounding or range limit.
double CDbl(const QString& text);

// Text to a time of day on the zero date: "H:M" or "H:M:S" (hour 0-23, minute and second
// 0-59), blanks around it ignored. Anything else: Error 13 "Type mismatch".
VbDate CTime(const QString& text);

// The leading number of a text: the longest leading part that reads as a decimal number,
// blanks skipped; 0 when there is none.
double Val(const QString& text);

// A number's shortest decimal text (5 -> "5", 12.5 -> "12.5", -0.25 -> "-0.25").
QString CStr(double value);
// A value as text: strings unchanged, numbers as above, booleans True/False,
// dates as general date. A null value raises Error 94 "Invalid use of Null"; a value that has
// no text (a list, a map, an object) raises Error 13 "Type mismatch".
QString CStr(const QVariant& value);
// A value with an empty text appended: null becomes the empty text.
QString TextOf(const QVariant& value);

// A number as the value to store: a whole number within 64 bits as an integer (so a text
// column receives "5", not "5.0"), any other number as a double.
QVariant NumberValue(double value);

// Leading and trailing spaces removed (only spaces, as the platform's Trim).
QString Trim(const QString& text);
// Characters from the 1-based position on; empty when the text is shorter.
QString Mid(const QString& text, int start);
QString Mid(const QString& text, int start, int length);

// Round half to even.
double RoundHalfEven(double value);

} // namespace bw
