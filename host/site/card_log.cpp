#include "host/site/card_log.h"

#include "host/collect/meal_store.h"
#include "platform/language.h"

namespace bw::host::site {

namespace {

// The log's words in Simplified (2052) and Traditional (1028) Chinese.
enum class Word {
    Action,
    Added,
    Changed,
    Removed,
    Imported,
    Replaced,
    RegisterAction,
    RegisterImported,
    RegisterReplaced,
    Saved,
    CardLost,
    CardReplaced,
    CardReturned,
    CardGiven
};

constexpr TextEntry<Word> kWords[] = {
    {Word::Action, u"卡号对照", u"卡號對照"},
    {Word::Added, u"增加卡号 %1（工号 %2 %3）", u"新增卡號 %1（工號 %2 %3）"},
    {Word::Changed, u"卡号 %4 改为 %1（工号 %2 %3）", u"卡號 %4 改為 %1（工號 %2 %3）"},
    {Word::Removed, u"删除卡号 %1（工号 %2）", u"刪除卡號 %1（工號 %2）"},
    {Word::Imported, u"导入 %1 张卡", u"匯入 %1 張卡"},
    {Word::Replaced, u"导入 %1 张卡，替换原有卡号", u"匯入 %1 張卡，取代原有卡號"},
    {Word::RegisterAction, u"员工登记", u"員工登記"},
    {Word::RegisterImported, u"导入员工：新增 %1 人，修改 %2 人",
     u"匯入員工：新增 %1 人，修改 %2 人"},
    {Word::RegisterReplaced, u"导入员工名单：新增 %1 人，修改 %2 人，%3 人离职",
     u"匯入員工名單：新增 %1 人，修改 %2 人，%3 人離職"},
    {Word::Saved, u"保存员工 %1 %2", u"儲存員工 %1 %2"},
    {Word::CardLost, u"卡号 %2 挂失（工号 %1）", u"卡號 %2 掛失（工號 %1）"},
    {Word::CardReplaced, u"卡号 %2 换为 %3（工号 %1）", u"卡號 %2 換為 %3（工號 %1）"},
    {Word::CardReturned, u"卡号 %2 退卡（工号 %1）", u"卡號 %2 退卡（工號 %1）"},
    {Word::CardGiven, u"发卡 %2（工号 %1）", u"發卡 %2（工號 %1）"},
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

namespace bw::host::site {

void logRegisterChange(store::SqlConnection& cn, const QString& user,
                       const names::RegisterChange& c) {
    QString result;
    QString object = c.employee;
    switch (c.kind) {
    case names::RegisterChange::Imported:
        result = c.replace ? word(Word::RegisterReplaced).arg(c.added).arg(c.changed).arg(c.left)
                           : word(Word::RegisterImported).arg(c.added).arg(c.changed);
        break;
    case names::RegisterChange::Saved:
        result = word(Word::Saved).arg(c.employee, c.card);
        break;
    case names::RegisterChange::CardLost:
        result = word(Word::CardLost).arg(c.employee, c.card);
        break;
    case names::RegisterChange::CardReplaced:
        result = word(Word::CardReplaced).arg(c.employee, c.card, c.newCard);
        break;
    case names::RegisterChange::CardReturned:
        result = word(Word::CardReturned).arg(c.employee, c.card);
        break;
    case names::RegisterChange::CardGiven:
        result = word(Word::CardGiven).arg(c.employee, c.card);
        break;
    }
    collect::writeLogEntry(cn, user, object, word(Word::RegisterAction), result.simplified());
}

} // namespace bw::host::site
