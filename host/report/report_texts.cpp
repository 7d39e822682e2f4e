#include "host/report/report_texts.h"

#include "platform/language.h"

namespace bw::host::report {

namespace {

constexpr TextEntry<Text> kTexts[] = {
    {Text::SheetEmployees, u"员工就餐", u"員工就餐"},
    {Text::SheetCards, u"无员工的卡号", u"無員工的卡號"},
    {Text::SheetDays, u"按机器和日期", u"按機器和日期"},
    {Text::ColEmployee, u"工号", u"工號"},
    {Text::ColName, u"姓名", u"姓名"},
    {Text::ColCard, u"卡号", u"卡號"},
    {Text::ColTerminal, u"机器号", u"機器號"},
    {Text::ColDay, u"日期", u"日期"},
    {Text::ColBreakfast, u"早餐", u"早餐"},
    {Text::ColLunch, u"午餐", u"午餐"},
    {Text::ColDinner, u"晚餐", u"晚餐"},
    {Text::ColOther, u"时段外", u"時段外"},
    {Text::ColTotal, u"合计", u"合計"},
    {Text::Total, u"总计", u"總計"},
    {Text::ColDepartment, u"部门", u"部門"},
    {Text::SheetDepartments, u"部门汇总", u"部門彙總"},
    {Text::SheetRepeats, u"重复刷卡", u"重複刷卡"},
    {Text::ColPeople, u"人数", u"人數"},
    {Text::ColMeal, u"餐别", u"餐別"},
    {Text::ColFirstSwipe, u"计餐刷卡", u"計餐刷卡"},
    {Text::ColRepeatSwipe, u"重复刷卡时间", u"重複刷卡時間"},
    {Text::Subtotal, u"小计", u"小計"},
    {Text::NoDepartment, u"未分部门", u"未分部門"},
    {Text::ColAmount, u"金额", u"金額"},
};

} // namespace

QString text(Text id, int lang) {
    return tableText(kTexts, id, lang);
}

} // namespace bw::host::report
