#include "host/web/web_texts.h"

#include <QList>
#include <algorithm>

namespace bw::host::web {
namespace {

struct Pair {
    T key;
    const char* cn;
    const char* tw;
};

constexpr Pair kTexts[] = {
    {T::Title, "就餐机站点", "就餐機站點"},
    {T::SignIn, "登录", "登入"},
    {T::SignOut, "退出", "登出"},
    {T::Name, "操作员", "操作員"},
    {T::Password, "密码", "密碼"},
    {T::WrongSignIn, "操作员或密码不对", "操作員或密碼不正確"},
    {T::Wait, "登录失败次数过多，请 %1 秒后再试", "登入失敗次數過多，請 %1 秒後再試"},
    {T::Status, "状态", "狀態"},
    {T::Meals, "就餐", "用餐"},
    {T::Month, "月报", "月報"},
    {T::Log, "操作日志", "操作記錄"},
    {T::Terminal, "机号", "機號"},
    {T::Port, "端口", "連接埠"},
    {T::Place, "位置", "位置"},
    {T::Answers, "应答", "回應"},
    {T::RoundTrip, "往返 (ms)", "往返 (ms)"},
    {T::Clock, "时钟偏差 (秒)", "時鐘偏差 (秒)"},
    {T::Records, "待收记录", "待收記錄"},
    {T::Names, "名单一致", "名單一致"},
    {T::LastCollection, "最近采集", "最近採集"},
    {T::Hands, "需要处理", "需要處理"},
    {T::Yes, "是", "是"},
    {T::No, "否", "否"},
    {T::Silent, "无应答", "無回應"},
    {T::HandClock, "时钟偏差", "時鐘偏差"},
    {T::HandNames, "名单不一致", "名單不一致"},
    {T::HandCollection, "采集失败", "採集失敗"},
    {T::HandRecords, "记录将满", "記錄將滿"},
    {T::HandImpossible, "记录状态异常", "記錄狀態異常"},
    {T::HandClockUnread, "时钟未读到", "時鐘未讀取"},
    {T::HandNamesUnread, "名单未读到", "名單未讀取"},
    {T::Reload, "刷新", "重新整理"},
    {T::ReadAt, "读取于 %1", "讀取於 %1"},
    {T::NotReadYet, "正在读取各就餐机，请稍后刷新", "正在讀取各就餐機，請稍後重新整理"},
    {T::Today, "今天", "今天"},
    {T::TwoWeeks, "最近两周", "最近兩週"},
    {T::Breakfast, "早餐", "早餐"},
    {T::Lunch, "午餐", "午餐"},
    {T::Dinner, "晚餐", "晚餐"},
    {T::Other, "其他", "其他"},
    {T::Total, "合计", "合計"},
    {T::Workbook, "下载工作簿", "下載活頁簿"},
    {T::PayrollFile, "下载工资文件 (CSV)", "下載薪資檔案 (CSV)"},
    {T::Show, "显示", "顯示"},
    {T::From, "从", "從"},
    {T::To, "到", "到"},
    {T::User, "用户", "使用者"},
    {T::Action, "操作", "操作"},
    {T::Object, "对象", "對象"},
    {T::Result, "结果", "結果"},
    {T::Time, "时间", "時間"},
    {T::Older, "更早", "更早"},
    {T::Newer, "较新", "較新"},
    {T::NotAllowed, "没有查看此页的权限", "沒有檢視此頁的權限"},
    {T::NeedsHand, "%1 台就餐机需要处理", "%1 台就餐機需要處理"},
    {T::Fine, "全部就餐机正常", "全部就餐機正常"},
    {T::Language, "繁體中文", "简体中文"},
    {T::NoData, "没有数据", "沒有資料"},
    {T::Station, "工作站", "工作站"},
    {T::Fault, "原因", "原因"},
    {T::Cannot, "无法读取数据库", "無法讀取資料庫"},
    // The operation log's entries of the web view (written in the site's language, 2052).
    {T::LogSignIn, "网页登录", "網頁登入"},
    {T::LogRefused, "网页登录失败", "網頁登入失敗"},
    {T::LogSignOut, "网页退出", "網頁登出"},
};

} // namespace

QString text(T key, int lang) {
    for (const Pair& p : kTexts)
        if (p.key == key)
            return QString::fromUtf8(lang == 1028 ? p.tw : p.cn);
    return {};
}

int languageOf(const QByteArray& acceptLanguage) {
    const QByteArray l = acceptLanguage.toLower();
    const int tw = std::max({l.indexOf("zh-tw"), l.indexOf("zh-hk"), l.indexOf("zh-hant")});
    const int cn = std::max({l.indexOf("zh-cn"), l.indexOf("zh-sg"), l.indexOf("zh-hans")});
    if (tw >= 0 && (cn < 0 || tw < cn))
        return 1028;
    return 2052;
}

} // namespace bw::host::web
