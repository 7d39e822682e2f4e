#include "host/collect/collect_texts.h"

#include "platform/language.h"

namespace bw::host::collect {

namespace {

constexpr TextEntry<Text> kTexts[] = {
    {Text::Terminals, u"就餐机", u"就餐機"},
    {Text::Collect, u"采集", u"採集"},
    {Text::CollectAndClear, u"采集并清除", u"採集並清除"},
    {Text::Cancel, u"取消", u"取消"},
    {Text::Terminal, u"机器号", u"機器號"},
    {Text::Progress, u"进度", u"進度"},
    {Text::Result, u"结果", u"結果"},
    {Text::From, u"从", u"從"},
    {Text::To, u"到", u"到"},
    {Text::All, u"全部", u"全部"},
    {Text::Show, u"查询", u"查詢"},
    {Text::ExportCsv, u"导出CSV", u"匯出CSV"},
    {Text::Operator, u"操作员：%1", u"操作員：%1"},
    {Text::Waiting, u"等待", u"等待"},
    {Text::Done, u"完成：读取 %1 条，新增 %2 条", u"完成：讀取 %1 筆，新增 %2 筆"},
    {Text::DoneCleared, u"完成：读取 %1 条，新增 %2 条，已清除至第 %3 条",
     u"完成：讀取 %1 筆，新增 %2 筆，已清除至第 %3 筆"},
    {Text::Failed, u"失败：%1（已保存 %2 条，未清除）", u"失敗：%1（已儲存 %2 筆，未清除）"},
    {Text::Cancelled, u"已取消（已保存 %1 条，未清除）", u"已取消（已儲存 %1 筆，未清除）"},
    {Text::NoTerminal, u"请先选择就餐机", u"請先選擇就餐機"},
    {Text::NoDatabase, u"无法打开数据库", u"無法開啟資料庫"},
    {Text::Refused, u"没有此操作的权限", u"沒有此操作的權限"},
    {Text::Running, u"正在采集…", u"正在採集…"},
    {Text::ExportDone, u"已导出 %1 条到 %2", u"已匯出 %1 筆到 %2"},
    {Text::ExportFailed, u"无法写入 %1", u"無法寫入 %1"},
    {Text::ShownFirst, u"只显示前 %1 条，请缩小日期范围或导出CSV",
     u"只顯示前 %1 筆，請縮小日期範圍或匯出CSV"},
    // The two actions are the operation log's keys of a collection (what the status and the
    // recovery of an unfinished clear look for): their texts stay as entries were written.
    {Text::ActionCollect, u"采集数据", u"採集數據"},
    {Text::ActionCollectClear, u"采集数据并清除", u"採集數據並清除"},
    {Text::ColTerminal, u"机器号", u"機器號"},
    {Text::ColRecordNo, u"记录号", u"記錄號"},
    {Text::ColCard, u"卡号", u"卡號"},
    {Text::ColEmployee, u"工号", u"工號"},
    {Text::ColTime, u"时间", u"時間"},
    {Text::ColFlag, u"标志", u"標誌"},
    {Text::ColCollectedAt, u"采集时间", u"採集時間"},
    {Text::ColCollectedBy, u"采集人", u"採集人"},
    {Text::FlagMeal, u"就餐", u"就餐"},
    {Text::FlagIn, u"进", u"進"},
    {Text::FlagOut, u"出", u"出"},
    {Text::ReasonCannotOpen, u"无法打开端口", u"無法開啟連接埠"},
    {Text::ReasonNoAnswer, u"就餐机无应答", u"就餐機無應答"},
    {Text::ReasonRefused, u"就餐机拒绝请求", u"就餐機拒絕請求"},
    {Text::ReasonBadBlock, u"数据块多次校验错误", u"資料塊多次校驗錯誤"},
    {Text::ReasonConnectionLost, u"连接中断", u"連接中斷"},
    {Text::ReasonDatabase, u"数据库出错：", u"資料庫出錯："},
    {Text::ReasonBadStatus, u"就餐机报告的记录数不可能", u"就餐機報告的記錄數不可能"},
    {Text::FailedUnconfirmed, u"失败：%1（已保存 %2 条，清除未确认）",
     u"失敗：%1（已儲存 %2 筆，清除未確認）"},
    {Text::NoteRaw, u"；%1 条记录无法解读，已原样保存", u"；%1 筆記錄無法解讀，已原樣儲存"},
    {Text::NoteRestart, u"；就餐机记录号重新开始，已另存为新序列",
     u"；就餐機記錄號重新開始，已另存為新序列"},
    {Text::NoteGap, u"；记录号有缺口，缺口后的记录留在就餐机上",
     u"；記錄號有缺口，缺口後的記錄留在就餐機上"},
    {Text::ClearPending, u"已发送清除至第 %1 条，等待确认", u"已發送清除至第 %1 筆，等待確認"},
    {Text::DownloadNames, u"下载名单", u"下載名單"},
    {Text::RunningNames, u"正在下载名单…", u"正在下載名單…"},
    {Text::NamesDone, u"完成：名单共 %1 张卡", u"完成：名單共 %1 張卡"},
    {Text::NamesFailed, u"失败：%1（原名单未改变）", u"失敗：%1（原名單未改變）"},
    {Text::NamesCancelled, u"已取消（原名单未改变）", u"已取消（原名單未改變）"},
    {Text::ReasonTooManyCards, u"名单有 %1 张卡，就餐机最多 %2 张",
     u"名單有 %1 張卡，就餐機最多 %2 張"},
    {Text::ReasonLineBusy, u"线路 %1 被占用：%2", u"線路 %1 被佔用：%2"},
    {Text::ReasonNoDevice, u"设置文件没有为 %1 指定设备", u"設定檔案沒有為 %1 指定設備"},
    {Text::ReasonUnconfirmed, u"已发送，未收到确认", u"已發送，未收到確認"},
    {Text::ReasonNotInRegister, u"不是机器资料中的 6429 型就餐机",
     u"不是機器資料中的 6429 型就餐機"},
    {Text::ReasonBadPort, u"端口“%1”不是串口或网络地址", u"連接埠「%1」不是序列埠或網路位址"},
    {Text::ReasonSystem, u"（%1）", u"（%1）"},
    {Text::NamesInStep, u"名单一致：共 %1 张卡", u"名單一致：共 %1 張卡"},
    {Text::NamesWould, u"将下载 %1 张卡（就餐机现有 %2 张）",
     u"將下載 %1 張卡（就餐機現有 %2 張）"},
    {Text::ActionClock, u"校时", u"校時"},
    {Text::ClockSet, u"完成：时钟已设为 %1", u"完成：時鐘已設為 %1"},
    {Text::ClockFailed, u"失败：%1（时钟未改变）", u"失敗：%1（時鐘未改變）"},
    {Text::HeldBy, u"另一个程序", u"另一個程序"},
    {Text::ReasonClockUnsynchronised, u"计算机的时钟未与时间服务器同步，不校时",
     u"電腦的時鐘未與時間伺服器同步，不校時"},
    {Text::ReasonClockTooFar, u"校时将使时钟变动 %1 秒，超过允许的范围，不校时",
     u"校時將使時鐘變動 %1 秒，超過允許的範圍，不校時"},
    {Text::ReasonClockYear, u"年份 %1 超出就餐机可保存的范围（2000-2099）",
     u"年份 %1 超出就餐機可儲存的範圍（2000-2099）"},
    {Text::ClearConfirmedLater, u"已清除至第 %1 条（采集中断，下次采集时确认）",
     u"已清除至第 %1 筆（採集中斷，下次採集時確認）"},
    {Text::ClearNotDoneLater, u"未清除至第 %1 条（采集中断，下次采集时确认）",
     u"未清除至第 %1 筆（採集中斷，下次採集時確認）"},
    {Text::ReasonOtherWorkstation, u"由工作站“%1”处理，本工作站不联系",
     u"由工作站「%1」處理，本工作站不聯繫"},
    {Text::ActionAssign, u"指定工作站", u"指定工作站"},
    {Text::NoWorkstation, u"不指定工作站", u"不指定工作站"},
};

} // namespace

QString text(Text id, int lang) {
    return tableText(kTexts, id, lang);
}

QString text(Text id) {
    return text(id, uiLanguage());
}

} // namespace bw::host::collect
