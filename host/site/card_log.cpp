#include "host/site/card_log.h"

#include "host/collect/meal_store.h"
#include "platform/language.h"

namespace bw::host::site {

namespace {

// The log's words in Simplified (2052) and Traditional (1028) Chinese.
enum class Word { Action, Added, Changed, Removed, Imported, Replaced };

constexpr TextEntry<Word> kWords[] = {
    {Word::Action, u"卡号对照", u"卡號對照"},
    {Word::Added, u"增加卡号 %1（工号 %2 %3）", u"新增卡號 %1（工號 %2 %3）"},
    {Word::Changed, u"卡号 %4 改为 %1（工号 %2 %3）", u"卡號 %4 改為 %1（工號 %2 %3）"},
    {Word::Removed, u"删除卡号 %1（工号 %2）", u"刪除卡號 %1（工號 %2）"},
    {Word::Imported, u"导入 %1 张卡", u"匯入 %1 張卡"},
    {Word::Replaced, u"导入 %1 张卡，替换原有卡号", u"匯入 %1 張卡，取代原有卡號"},
};

QString word(Word id) {
    return tableText(kWords, id, uiLanguage());
}

} // namespace

void logCardChange(store::SqlConnection& cn, const QString& user, int terminal,
                   const names::CardChange& change) {
    const names::Card& c = change.card;
    QString result;
    switch (change.kind) {
    case names::CardChange::Added:
        result = word(Word::Added).arg(c.card, c.employee, c.name);
        break;
    case names::CardChange::Changed:
        result = word(Word::Changed).arg(c.card, c.employee, c.name, change.formerCard);
        break;
    case names::CardChange::Removed:
        result = word(Word::Removed).arg(c.card, c.employee);
        break;
    case names::CardChange::Imported:
        result = word(change.replaced ? Word::Replaced : Word::Imported).arg(change.rows);
        break;
    }
    collect::writeTerminalAction(cn, user, terminal, word(Word::Action), result.simplified());
}

} // namespace bw::host::site
