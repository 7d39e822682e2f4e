#include "host/console/console_texts.h"

#include "platform/language.h"

namespace bw::host::console {

namespace {

constexpr TextEntry<Text> kTexts[] = {
    {Text::Title, u"就餐机管理系统", u"就餐機管理系統"},
    {Text::MenuFile, u"系统", u"系統"},
    {Text::MenuView, u"就餐机", u"就餐機"},
    {Text::MenuHelp, u"帮助", u"說明"},
    {Text::TerminalManagement, u"就餐机管理", u"就餐機管理"},
    {Text::DataCollection, u"数据采集", u"數據採集"},
    {Text::Refresh, u"刷新状态", u"刷新狀態"},
    {Text::OperationLog, u"操作日志", u"操作日誌"},
    {Text::Settings, u"设置", u"設定"},
    {Text::About, u"关于", u"關於"},
    {Text::Manual, u"使用手册", u"使用手冊"},
    {Text::Exit, u"退出", u"退出"},
    {Text::Operator, u"操作员：%1", u"操作員：%1"},
    {Text::OperatorField, u"操作员", u"操作員"},
    {Text::NeedHand, u"%1 台需要处理", u"%1 台需要處理"},
    {Text::AllWell, u"全部正常", u"全部正常"},
    {Text::Refreshing, u"正在读取状态…", u"正在讀取狀態…"},
    {Text::RefreshedAt, u"状态读取于 %1", u"狀態讀取於 %1"},
    {Text::ColTerminal, u"机器号", u"機器號"},
    {Text::ColPort, u"端口", u"端口"},
    {Text::ColPlace, u"位置", u"位置"},
    {Text::ColAnswers, u"应答", u"應答"},
    {Text::ColRoundTrip, u"往返(ms)", u"往返(ms)"},
    {Text::ColReason, u"原因", u"原因"},
    {Text::ColClock, u"时钟偏差(秒)", u"時鐘偏差(秒)"},
    {Text::ColWaiting, u"待采集记录", u"待採集記錄"},
    {Text::ColNames, u"名单", u"名單"},
    {Text::ColLastCollection, u"上次采集", u"上次採集"},
    {Text::ColLastNightly, u"上次夜间处理", u"上次夜間處理"},
    {Text::Yes, u"是", u"是"},
    {Text::No, u"否", u"否"},
    {Text::InStep, u"一致", u"一致"},
    {Text::OutOfStep, u"不一致", u"不一致"},
    {Text::Collect, u"采集", u"採集"},
    {Text::SetClock, u"校时", u"校時"},
    {Text::DownloadNames, u"下载名单", u"下載名單"},
    {Text::LineTest, u"线路测试", u"線路測試"},
    {Text::NoTerminal, u"请先选择就餐机", u"請先選擇就餐機"},
    {Text::NoAnswer, u"无应答", u"無應答"},
    {Text::HandClock, u"时钟偏差过大", u"時鐘偏差過大"},
    {Text::HandNames, u"名单与卡号对照不一致", u"名單與卡號對照不一致"},
    {Text::HandCollection, u"上次采集失败", u"上次採集失敗"},
    {Text::HandRecords, u"待采集记录过多", u"待採集記錄過多"},
    {Text::Cancelled, u"已取消", u"已取消"},
    {Text::ActionRunning, u"正在%1…", u"正在%1…"},
    {Text::ActionDone, u"%1完成，%2 项失败", u"%1完成，%2 項失敗"},
    {Text::NoDatabase, u"无法读取数据库", u"無法讀取數據庫"},
    {Text::MealsTitle, u"近14天每日就餐人次", u"近14天每日就餐人次"},
    {Text::MealsToday, u"今日至今：%1 人次", u"今日至今：%1 人次"},
    {Text::MealsUnreadable, u"无法读取就餐记录", u"無法讀取就餐記錄"},
    {Text::Terminal, u"%1号机", u"%1號機"},
    {Text::From, u"从", u"從"},
    {Text::To, u"到", u"到"},
    {Text::User, u"用户", u"用戶"},
    {Text::Action, u"操作", u"操作"},
    {Text::All, u"全部", u"全部"},
    {Text::Show, u"查询", u"查詢"},
    {Text::ExportCsv, u"导出CSV", u"匯出CSV"},
    {Text::ExportDone, u"已导出 %1 条到 %2", u"已匯出 %1 筆到 %2"},
    {Text::ExportFailed, u"无法写入 %1", u"無法寫入 %1"},
    {Text::ColTime, u"时间", u"時間"},
    {Text::ColUser, u"用户", u"用戶"},
    {Text::ColObject, u"对象", u"對象"},
    {Text::ColAction, u"操作", u"操作"},
    {Text::ColResult, u"结果", u"結果"},
    {Text::Database, u"数据库连接", u"數據庫連接"},
    {Text::TestDatabase, u"测试连接", u"測試連接"},
    {Text::DatabaseOk, u"连接成功", u"連接成功"},
    {Text::DatabaseFailed, u"无法连接数据库：%1", u"無法連接數據庫：%1"},
    {Text::Language, u"语言", u"語言"},
    {Text::LanguageDefault, u"随系统", u"隨系統"},
    {Text::SerialDevices, u"串口设备", u"串口設備"},
    {Text::ComPort, u"COM口", u"COM口"},
    {Text::Device, u"设备", u"設備"},
    {Text::Description, u"说明", u"說明"},
    {Text::ById, u"固定名称", u"固定名稱"},
    {Text::TcpPortMap, u"TCP端口映射", u"TCP端口映射"},
    {Text::FromPort, u"原端口", u"原端口"},
    {Text::ToPort, u"实际端口", u"實際端口"},
    {Text::Add, u"添加", u"新增"},
    {Text::Remove, u"删除", u"刪除"},
    {Text::BellSection, u"显示打铃设置", u"顯示打鈴設定"},
    {Text::TraceLine, u"线路跟踪文件", u"線路追蹤檔案"},
    {Text::Simulator, u"启动模拟器", u"啟動模擬器"},
    {Text::SettingsKept, u"设置已保存到 %1", u"設定已儲存到 %1"},
    {Text::SettingsNotKept, u"无法保存设置：%1", u"無法儲存設定：%1"},
    {Text::NextStart, u"语言与串口在下次启动时生效", u"語言與串口在下次啟動時生效"},
    {Text::Version, u"版本：%1", u"版本：%1"},
    {Text::DatabaseInUse, u"数据库：%1", u"數據庫：%1"},
    {Text::SettingsFile, u"设置文件：%1", u"設定檔案：%1"},
};

} // namespace

QString text(Text id, int lang) {
    return tableText(kTexts, id, lang);
}

QString text(Text id) {
    return text(id, uiLanguage());
}

} // namespace bw::host::console
