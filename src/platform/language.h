#pragma once

#include <QString>
#include <cstddef>

namespace bw {

// Languages of the user interface (Windows locale ids).
constexpr int LangSimplified = 2052;
constexpr int LangTraditional = 1028;

// The user-interface language: what setUiLanguage set, else the locale's
// (zh_TW, zh_HK and zh_MO give 1028), else 2052.
int uiLanguage();
void setUiLanguage(int lang); // 0 returns to the locale's choice

// One text of a component's own table, in both languages.
template <class Id> struct TextEntry {
    Id id;
    const char16_t* simplified;
    const char16_t* traditional;
};

// The text of id in lang (1028: the traditional one, else the simplified one); empty when
// the table has none.
template <class Id, std::size_t N>
QString tableText(const TextEntry<Id> (&table)[N], Id id, int lang) {
    for (const TextEntry<Id>& e : table)
        if (e.id == id)
            return QString::fromUtf16(lang == LangTraditional ? e.traditional : e.simplified);
    return QString();
}

} // namespace bw
