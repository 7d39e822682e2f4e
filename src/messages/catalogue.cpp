#include "messages/catalogue.h"

#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/language.h"

#include <QStringView>
#include <algorithm>
#include <iterator>

namespace bw::messages {

namespace {

// One catalogue entry: its Simplified Chinese (2052) and Traditional Chinese (1028) text.
struct Entry {
    int id;
    const char16_t* zhCN;
    const char16_t* zhTW;
};

// Texts are kept exactly as the terminals' operators know them, including the trailing tab
// of some 1028 texts and the small differences of punctuation between the two languages.
// Kept sorted by id.
constexpr Entry kCatalogue[] = {
    {100, u"系统提示", u"系統提示"},
    {101, u"警告", u"警告"},
    {1000, u"考勤", u"考勤"},
    {1001, u"计次", u"計次"},
    {1002, u"进出", u"進出"},
    {1003, u"退出", u"退出"},
    {1004, u"删除", u"刪除"},
    {1005, u"增加", u"增加"},
    {1006, u"保存", u"保存"},
    {1007, u"编辑", u"編輯"},
    {1008, u"取消", u"取消"},
    {1009, u"考勤机初始化", u"考勤機初始化"},
    {1010, u"机器号不可为空！", u"機器號不可為空！"},
    {1011, u"增加机器", u"增加機器"},
    {1012, u"机器:'|01增加成功！", u"機器:'|01增加成功！"},
    {1013, u"成功", u"成功"},
    {1014, u"请选择考勤机!", u"請選擇考勤機!"},
    {1015, u"此操作将清除掉考勤机中的全部'|01数据，建议先采集数据!继续吗？",
     u"此操作將清除掉考勤機中的全部'|01數據，建議先采集數據!繼續嗎？"},
    {1016, u"考勤机初始化", u"考勤機初始化"},
    {1017, u"考勤机'|01", u"考勤機'|01"},
    {1018, u"成功", u"成功"},
    {1019, u"考勤机'|01初始化成功!", u"考勤機'|01初始化成功!\t"},
    {1020, u"失败", u"失敗"},
    {1021, u"考勤机'|01初始化失败!", u"考勤機'|01初始化失敗!\t"},
    {1022, u"考勤机'|01通讯口打开失败!", u"考勤機'|01通訊口打開失敗!\t"},
    {1023, u"机器: '|01 初始化成功！", u"機器: '|01 初始化成功！"},
    {1024, u"设置考勤机日期,时间．．．", u"設置考勤機日期,時間．．．"},
    {1025, u"考勤机'|01日期设置成功!", u"考勤機'|01日期設置成功!\t"},
    {1026, u"考勤机'|01日期设置失败!", u"考勤機'|01日期設置失敗!\t"},
    {1027, u"通讯口打开失败!", u"通訊口打開失敗!"},
    {1028, u"第一组设置闹铃成功", u"第一組設置鬧鈴成功"},
    {1029, u"第一组设置闹铃不成功", u"第一組設置鬧鈴不成功"},
    {1030, u"第二组设置闹铃成功", u"第二組設置鬧鈴成功"},
    {1031, u"第二组设置闹铃不成功", u"第二組設置鬧鈴不成功"},
    {1032, u"第三组设置闹铃成功", u"第三組設置鬧鈴成功"},
    {1033, u"第三组设置闹铃不成功", u"第三組設置鬧鈴不成功"},
    {1034, u"请选择考勤机!", u"請選擇考勤機"},
    {1035, u"机器:'|01暂不支持TCPIP方式的此功能!", u"機器:'|01暫不支持TCPIP方式的此功能!\t"},
    {1036, u"设置考勤机闹铃次数．．．", u"設置考勤機鬧鈴次數．．．\t"},
    {1037, u"机器:'|01设置闹铃次数成功!", u"機器:'|01設置鬧鈴次數成功!"},
    {1038, u"机器:'|01设置闹铃次数失败或者考勤机不支持本功能!",
     u"機器:'|01設置鬧鈴次數失敗或者考勤機不支持本功能!\t"},
    {1039, u"请选择考勤机!", u"請選擇考勤機!"},
    {1040, u"读取考勤机闹铃信息．．．", u"讀取考勤機鬧鈴信息．．．"},
    {1041, u"机器:'|01地址号超限(1--255)!", u"機器:'|01地址號超限(1--255)!"},
    {1042, u"机器:'|01通讯错误或者考勤机不支持本功能!",
     u"機器:'|01通訊錯誤或者考勤機不支持本功能!\t"},
    {1043, u"机器:'|01读取闹铃点失败或者考勤机不支持本功能!",
     u"機器:'|01讀取鬧鈴點失敗或者考勤機不支持本功能!\t"},
    {1044, u"机器:'|01读取闹铃点成功!", u"機器:'|01讀取鬧鈴點成功!\t"},
    {1045, u"通讯口打开失败!", u"通訊口打開失敗!"},
    {1046, u"错误：'|01请选择考勤机．．．", u"錯誤：'|01請選擇考勤機．．．\t"},
    {1047, u"机器:'|01通讯测试成功!", u"機器:'|01通訊測試成功!"},
    {1048, u"机器:'|01通讯测试失败!", u"機器:'|01通訊測試失敗!"},
    {1049, u"错误：'|01通讯口['|02]打开失败!", u"錯誤：'|01通訊口['|02]打開失敗!"},
    {1050, u"错误：'|01通讯口打开失败!", u"錯誤：'|01通訊口打開失敗!"},
    {1051, u"已经删除机器：", u"已經刪除機器："},
    {1052, u"请选择要删除的机器!", u"請選擇要刪除的機器!"},
    {1053, u"删除机器", u"刪除機器"},
    {1054, u"机器: '|01删除成功！", u"機器: '|01刪除成功!"},
    {1055, u"机器管理", u"機器管理"},
    {1056, u"机号", u"機號"},
    {1057, u"串口|IP", u"串口|IP"},
    {1058, u"用途", u"用途"},
    {1059, u"场所", u"場所"},
    {1060, u"组别", u"組別"},
    {1061, u"考勤系统", u"考勤系統"},
    {1062, u".增加", u".增加"},
    {1063, u".保存", u".保存"},
    {1064, u".删除", u".刪除"},
    {1065, u".修改", u".修改"},
    {1066, u".通讯测试", u".通訊測試"},
    {1067, u".日期时间设置", u".日期時間設置"},
    {1068, u".下传", u".下傳"},
    {1069, u".考勤机初始化", u".考勤機初始化"},
    {1070, u"当前机器：", u"當前機器："},
    {1071, u"机器", u"機器"},
    {1072, u"IP地址：", u"IP地址："},
    {1073, u"串口：", u"串口："},
    {1074, u"错误:", u"錯誤:"},
    {1075, u"机器组", u"機器組"},
    {1076, u"错误：'|01请选择考勤机．．．", u"錯誤：'|01請選擇考勤機．．．\t"},
    {1077, u"机器'|01通讯测试成功!", u"機器'|01通訊測試成功!"},
    {1078, u"错误：'|01 通讯测试失败!", u"錯誤：'|01 通訊測試失敗!"},
    {1079, u"错误：'|01通讯口打开失败!", u"錯誤：'|01通訊口打開失敗!\t"},
    {1080, u"错误：'|01请选择考勤机!", u"錯誤：'|01請選擇考勤機!"},
    {1081, u"请您输入新考勤机地址：(1-98)\", \"修改考勤机地址......",
     u"請您輸入新考勤機地址：(1-98)\", \"修改考勤機地址......\t"},
    {1082, u"错误：'|01请输入数字!", u"錯誤：'|01請輸入數字!"},
    {1083, u"错误：'|01 非法数字!", u"錯誤：'|01 非法數字!"},
    {1084, u"机器：", u"機器："},
    {1085, u"考勤机'|01地址成功,修改后为'|02!", u"考勤機'|01地址成功,修改後爲'|02!"},
    {1086, u"考勤机'|01地址修改失败!", u"考勤機'|01地址修改失敗!"},
    {1087, u"错误：'|01  通讯口打开失败!", u"錯誤：'|01  通訊口打開失敗!"},
    {1088, u"请选择考勤机!", u"請選擇考勤機!"},
    {1089, u"设置考勤机日期．．．", u"設置考勤機日期．．．"},
    {1090, u"考勤机'|01日期设置成功!", u"考勤機'|01日期設置成功!"},
    {1091, u"考勤机'|01日期设置失败!", u"考勤機'|01日期設置失敗!\t"},
    {1092, u"通讯口打开失败!", u"通訊口打開失敗!"},
    {1093, u"设置考勤机时间!", u"設置考勤機時間!"},
    {1094, u"此操作将清除掉考勤机中的全部'|01数据，建议先采集数据!继续吗？",
     u"此操作將清除掉考勤機中的全部'|01數據，建議先采集數據!繼續嗎？"},
    {1095, u"考勤机'|01初始化成功!", u"考勤機'|01初始化成功!"},
    {1096, u"考勤机'|01初始化失败!", u"考勤機'|01初始化失敗!"},
    {1097, u"考勤机'|01通讯口打开失败!", u"考勤機'|01通訊口打開失敗!"},
    {1098, u"时间段:'|01设置有误,请核对!", u"時間段:'|01設置有誤,請核對!"},
    {1099, u"时间段:14设置有误,请核对!", u"時間段:14設置有誤,請核對!"},
    {1100, u"时间段:'|01设置有误,请核对!", u"時間段:'|01設置有誤,請核對!"},
    {1101, u"设置考勤机的打铃时间．．．", u"設置考勤機的打鈴時間"},
    {1102, u"请选择考勤机!", u"請選擇考勤機!"},
    {1103, u"考勤机'|01的打铃时间设置成功!", u"考勤機'|01的打鈴時間設置成功!"},
    {1104, u"考勤机'|01的打铃时间设置失败!", u"考勤機'|01的打鈴時間設置失敗!"},
    {1105, u"考勤机'|01的打铃时间设置成功!", u"考勤機'|01的打鈴時間設置成功!"},
    {1106, u"通讯口打开失败!", u"通訊口打開失敗!"},
    {1107, u"错误：'|01请填写机器号!", u"錯誤：'|01請填寫機器號!"},
    {1108, u"错误：'|01机器号：'|02已经存在!", u"錯誤：'|01機器號：'|02已經存在!"},
    {1109, u"开始显示读入的铃点……", u"開始顯示讀入的鈴點……"},
    {1110, u"设置响铃次数", u"設置響鈴次數"},
    {1111,
     u"系统检测出您所使用的考勤机动态库版本太低！'|01当前版本为：'|02请使用V7."
     u"3以上的版本，否则与考勤机通讯的部分功能将出错！",
     u"系統檢測出您所使用的考勤機動態庫版本太低！'|01當前版本爲：'|02請使用V7."
     u"3以上的版本，否則與考勤機通訊的部分功能將出錯！"},
    {1112, u"小时", u"小時"},
    {1113, u"分钟", u"分鐘"},
    {1114, u"进", u"進"},
    {1115, u"出", u"出"},
    {1116, u"请输入“0-23”之间的数！", u"請輸入\"0-23\"之間的數！"},
    {1117, u"请输入“0-59”之间的数！", u"請輸入\"0-59\"之間的數！"},
    {1118, u"计次餐饮.采集脱机数据", u"計次餐飲.採集脫機資料"},
    {1119, u"采集脱机数据", u"採集脫機資料"},
};

const Entry* find(int id) {
    const auto* first = std::begin(kCatalogue);
    const auto* last = std::end(kCatalogue);
    const auto* it =
        std::lower_bound(first, last, id, [](const Entry& e, int key) { return e.id < key; });
    if (it == last || it->id != id)
        return nullptr;
    return it;
}

} // namespace

QString text(int id) {
    return text(id, uiLanguage());
}

QString text(int id, int lang) {
    const Entry* e = find(id);
    if (!e)
        return QString();
    return QString::fromUtf16(lang == LangTraditional ? e->zhTW : e->zhCN);
}

const QList<int>& ids() {
    static const QList<int> all = [] {
        QList<int> list;
        list.reserve(static_cast<qsizetype>(std::size(kCatalogue)));
        for (const Entry& e : kCatalogue)
            list.append(e.id);
        return list;
    }();
    return all;
}

QString fillPlaceholders(const QString& templ, const QString& v1, const QString& v2) {
    return fillPlaceholders(templ, v2.isNull() ? 1 : 2, v1, v2);
}

QString fillPlaceholders(const QString& templ, int count, const QString& v1, const QString& v2) {
    static const QString first = QStringLiteral("'|01");
    static const QString second = QStringLiteral("'|02");
    QString out;
    out.reserve(templ.size() + v1.size() + v2.size());
    qsizetype i = 0;
    // One pass over the template, so a value that itself looks like a placeholder is
    // inserted as it is.
    while (i < templ.size()) {
        const QStringView rest = QStringView(templ).mid(i);
        if (count >= 1 && rest.startsWith(first)) {
            out += v1;
            i += first.size();
        } else if (count >= 2 && rest.startsWith(second)) {
            out += v2;
            i += second.size();
        } else {
            out += templ[i];
            ++i;
        }
    }
    return out;
}

QString replace(int id, const QVariant& v1) {
    auto language = state().language;
    if (!language)
        throw objectNotSet();
    return language->ReplaceRes(text(id), 1, v1);
}

QString replace(int id, const QVariant& v1, const QVariant& v2) {
    auto language = state().language;
    if (!language)
        throw objectNotSet();
    return language->ReplaceRes(text(id), 2, v1, v2);
}

} // namespace bw::messages
