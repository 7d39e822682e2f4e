#include "platform/language.h"

#include <QLocale>

namespace bw {

namespace {
int chosen = 0;
}

int uiLanguage() {
    if (chosen == LangSimplified || chosen == LangTraditional)
        return chosen;
    const QLocale loc;
    if (loc.language() == QLocale::Chinese) {
        const auto terr = loc.territory();
        if (terr == QLocale::Taiwan || terr == QLocale::HongKong || terr == QLocale::Macao)
            return LangTraditional;
        if (loc.script() == QLocale::TraditionalHanScript)
            return LangTraditional;
    }
    return LangSimplified;
}

void setUiLanguage(int lang) {
    chosen = lang;
}

} // namespace bw
