#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace bw::messages {

// Catalogue text of an id in the user-interface language (platform/language.h).
QString text(int id);
// Catalogue text of an id in 2052 or 1028 (any other language: 2052).
QString text(int id, int lang);
// Every id of the catalogue, ascending.
const QList<int>& ids();

// Fills "'|01" with v1 and, when given, "'|02" with v2, leaving every other character.
// This is the placeholder rule the default language component applies.
QString fillPlaceholders(const QString& templ, const QString& v1, const QString& v2 = QString());
// The same for a number of values: count 1 fills only "'|01", count 2 (or more) both;
// an empty value removes its placeholder.
QString fillPlaceholders(const QString& templ, int count, const QString& v1, const QString& v2);

// Catalogue text with its placeholder(s) filled through the shared language component's
// ReplaceRes (count 1 or 2). Errors of the language component pass to the caller.
QString replace(int id, const QVariant& v1);
QString replace(int id, const QVariant& v1, const QVariant& v2);

} // namespace bw::messages
