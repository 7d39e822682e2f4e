#pragma once

namespace bw {

// Languages of the user interface (Windows locale ids).
constexpr int LangSimplified = 2052;
constexpr int LangTraditional = 1028;

// The user-interface language: what setUiLanguage set, else the locale's
// (zh_TW, zh_HK and zh_MO give 1028), else 2052.
int uiLanguage();
void setUiLanguage(int lang); // 0 returns to the locale's choice

} // namespace bw
