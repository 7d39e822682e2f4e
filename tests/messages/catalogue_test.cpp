// The message catalogue: every text in both languages, character for character.

#include "messages/catalogue.h"
#include "platform/language.h"

#include <QSet>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Expected {
    int id;
    QString zhCN;
    QString zhTW;
};

const std::vector<Expected>& expectedCatalogue() {
    static const std::vector<Expected> all = {
        {100, u"系统提示"_qs, u"系統提示"_qs},
        {101, u"警告"_qs, u"警告"_qs},
        {1000, u"考勤"_qs, u"考勤"_qs},
        {1001, u"计次"_qs, u"計次"_qs},
        {1002, u"进出"_qs, u"進出"_qs},
        {1003, u"退出"_qs, u"退出"_qs},
        {1004, u"删除"_qs, u"刪除"_qs},
        {1005, u"增加"_qs, u"增加"_qs},
        {1006, u"保存"_qs, u"保存"_qs},
        {1007, u"编辑"_qs, u"編輯"_qs},
        {1008, u"取消"_qs, u"取消"_qs},
        {1009, u"考勤机初始化"_qs, u"考勤機初始化"_qs},
        {1010, u"机器号不可为空！"_qs, u"機器號不可為空！"_qs},
        {1011, u"增加机器"_qs, u"增加機器"_qs},
        {1012, u"机器:'|01增加成功！"_qs, u"機器:'|01增加成功！"_qs},
        {1013, u"成功"_qs, u"成功"_qs},
        {1014, u"请选择考勤机!"_qs, u"請選擇考勤機!"_qs},
        {1015, u"此操作将清除掉考勤机中的全部'|01数据，建议先采集数据!继续吗？"_qs,
         u"此操作將清除掉考勤機中的全部'|01數據，建議先采集數據!繼續嗎？"_qs},
        {1016, u"考勤机初始化"_qs, u"考勤機初始化"_qs},
        {1017, u"考勤机'|01"_qs, u"考勤機'|01"_qs},
        {1018, u"成功"_qs, u"成功"_qs},
        {1019, u"考勤机'|01初始化成功!"_qs, u"考勤機'|01初始化成功!\t"_qs},
        {1020, u"失败"_qs, u"失敗"_qs},
        {1021, u"考勤机'|01初始化失败!"_qs, u"考勤機'|01初始化失敗!\t"_qs},
        {1022, u"考勤机'|01通讯口打开失败!"_qs, u"考勤機'|01通訊口打開失敗!\t"_qs},
        {1023, u"机器: '|01 初始化成功！"_qs, u"機器: '|01 初始化成功！"_qs},
        {1024, u"设置考勤机日期,时间．．．"_qs, u"設置考勤機日期,時間．．．"_qs},
        {1025, u"考勤机'|01日期设置成功!"_qs, u"考勤機'|01日期設置成功!\t"_qs},
        {1026, u"考勤机'|01日期设置失败!"_qs, u"考勤機'|01日期設置失敗!\t"_qs},
        {1027, u"通讯口打开失败!"_qs, u"通訊口打開失敗!"_qs},
        {1028, u"第一组设置闹铃成功"_qs, u"第一組設置鬧鈴成功"_qs},
        {1029, u"第一组设置闹铃不成功"_qs, u"第一組設置鬧鈴不成功"_qs},
        {1030, u"第二组设置闹铃成功"_qs, u"第二組設置鬧鈴成功"_qs},
        {1031, u"第二组设置闹铃不成功"_qs, u"第二組設置鬧鈴不成功"_qs},
        {1032, u"第三组设置闹铃成功"_qs, u"第三組設置鬧鈴成功"_qs},
        {1033, u"第三组设置闹铃不成功"_qs, u"第三組設置鬧鈴不成功"_qs},
        {1034, u"请选择考勤机!"_qs, u"請選擇考勤機"_qs},
        {1035, u"机器:'|01暂不支持TCPIP方式的此功能!"_qs,
         u"機器:'|01暫不支持TCPIP方式的此功能!\t"_qs},
        {1036, u"设置考勤机闹铃次数．．．"_qs, u"設置考勤機鬧鈴次數．．．\t"_qs},
        {1037, u"机器:'|01设置闹铃次数成功!"_qs, u"機器:'|01設置鬧鈴次數成功!"_qs},
        {1038, u"机器:'|01设置闹铃次数失败或者考勤机不支持本功能!"_qs,
         u"機器:'|01設置鬧鈴次數失敗或者考勤機不支持本功能!\t"_qs},
        {1039, u"请选择考勤机!"_qs, u"請選擇考勤機!"_qs},
        {1040, u"读取考勤机闹铃信息．．．"_qs, u"讀取考勤機鬧鈴信息．．．"_qs},
        {1041, u"机器:'|01地址号超限(1--255)!"_qs, u"機器:'|01地址號超限(1--255)!"_qs},
        {1042, u"机器:'|01通讯错误或者考勤机不支持本功能!"_qs,
         u"機器:'|01通訊錯誤或者考勤機不支持本功能!\t"_qs},
        {1043, u"机器:'|01读取闹铃点失败或者考勤机不支持本功能!"_qs,
         u"機器:'|01讀取鬧鈴點失敗或者考勤機不支持本功能!\t"_qs},
        {1044, u"机器:'|01读取闹铃点成功!"_qs, u"機器:'|01讀取鬧鈴點成功!\t"_qs},
        {1045, u"通讯口打开失败!"_qs, u"通訊口打開失敗!"_qs},
        {1046, u"错误：'|01请选择考勤机．．．"_qs, u"錯誤：'|01請選擇考勤機．．．\t"_qs},
        {1047, u"机器:'|01通讯测试成功!"_qs, u"機器:'|01通訊測試成功!"_qs},
        {1048, u"机器:'|01通讯测试失败!"_qs, u"機器:'|01通訊測試失敗!"_qs},
        {1049, u"错误：'|01通讯口['|02]打开失败!"_qs, u"錯誤：'|01通訊口['|02]打開失敗!"_qs},
        {1050, u"错误：'|01通讯口打开失败!"_qs, u"錯誤：'|01通訊口打開失敗!"_qs},
        {1051, u"已经删除机器："_qs, u"已經刪除機器："_qs},
        {1052, u"请选择要删除的机器!"_qs, u"請選擇要刪除的機器!"_qs},
        {1053, u"删除机器"_qs, u"刪除機器"_qs},
        {1054, u"机器: '|01删除成功！"_qs, u"機器: '|01刪除成功!"_qs},
        {1055, u"机器管理"_qs, u"機器管理"_qs},
        {1056, u"机号"_qs, u"機號"_qs},
        {1057, u"串口|IP"_qs, u"串口|IP"_qs},
        {1058, u"用途"_qs, u"用途"_qs},
        {1059, u"场所"_qs, u"場所"_qs},
        {1060, u"组别"_qs, u"組別"_qs},
        {1061, u"考勤系统"_qs, u"考勤系統"_qs},
        {1062, u".增加"_qs, u".增加"_qs},
        {1063, u".保存"_qs, u".保存"_qs},
        {1064, u".删除"_qs, u".刪除"_qs},
        {1065, u".修改"_qs, u".修改"_qs},
        {1066, u".通讯测试"_qs, u".通訊測試"_qs},
        {1067, u".日期时间设置"_qs, u".日期時間設置"_qs},
        {1068, u".下传"_qs, u".下傳"_qs},
        {1069, u".考勤机初始化"_qs, u".考勤機初始化"_qs},
        {1070, u"当前机器："_qs, u"當前機器："_qs},
        {1071, u"机器"_qs, u"機器"_qs},
        {1072, u"IP地址："_qs, u"IP地址："_qs},
        {1073, u"串口："_qs, u"串口："_qs},
        {1074, u"错误:"_qs, u"錯誤:"_qs},
        {1075, u"机器组"_qs, u"機器組"_qs},
        {1076, u"错误：'|01请选择考勤机．．．"_qs, u"錯誤：'|01請選擇考勤機．．．\t"_qs},
        {1077, u"机器'|01通讯测试成功!"_qs, u"機器'|01通訊測試成功!"_qs},
        {1078, u"错误：'|01 通讯测试失败!"_qs, u"錯誤：'|01 通訊測試失敗!"_qs},
        {1079, u"错误：'|01通讯口打开失败!"_qs, u"錯誤：'|01通訊口打開失敗!\t"_qs},
        {1080, u"错误：'|01请选择考勤机!"_qs, u"錯誤：'|01請選擇考勤機!"_qs},
        {1081, u"请您输入新考勤机地址：(1-98)\", \"修改考勤机地址......"_qs,
         u"請您輸入新考勤機地址：(1-98)\", \"修改考勤機地址......\t"_qs},
        {1082, u"错误：'|01请输入数字!"_qs, u"錯誤：'|01請輸入數字!"_qs},
        {1083, u"错误：'|01 非法数字!"_qs, u"錯誤：'|01 非法數字!"_qs},
        {1084, u"机器："_qs, u"機器："_qs},
        {1085, u"考勤机'|01地址成功,修改后为'|02!"_qs, u"考勤機'|01地址成功,修改後爲'|02!"_qs},
        {1086, u"考勤机'|01地址修改失败!"_qs, u"考勤機'|01地址修改失敗!"_qs},
        {1087, u"错误：'|01  通讯口打开失败!"_qs, u"錯誤：'|01  通訊口打開失敗!"_qs},
        {1088, u"请选择考勤机!"_qs, u"請選擇考勤機!"_qs},
        {1089, u"设置考勤机日期．．．"_qs, u"設置考勤機日期．．．"_qs},
        {1090, u"考勤机'|01日期设置成功!"_qs, u"考勤機'|01日期設置成功!"_qs},
        {1091, u"考勤机'|01日期设置失败!"_qs, u"考勤機'|01日期設置失敗!\t"_qs},
        {1092, u"通讯口打开失败!"_qs, u"通訊口打開失敗!"_qs},
        {1093, u"设置考勤机时间!"_qs, u"設置考勤機時間!"_qs},
        {1094, u"此操作将清除掉考勤机中的全部'|01数据，建议先采集数据!继续吗？"_qs,
         u"此操作將清除掉考勤機中的全部'|01數據，建議先采集數據!繼續嗎？"_qs},
        {1095, u"考勤机'|01初始化成功!"_qs, u"考勤機'|01初始化成功!"_qs},
        {1096, u"考勤机'|01初始化失败!"_qs, u"考勤機'|01初始化失敗!"_qs},
        {1097, u"考勤机'|01通讯口打开失败!"_qs, u"考勤機'|01通訊口打開失敗!"_qs},
        {1098, u"时间段:'|01设置有误,请核对!"_qs, u"時間段:'|01設置有誤,請核對!"_qs},
        {1099, u"时间段:14设置有误,请核对!"_qs, u"時間段:14設置有誤,請核對!"_qs},
        {1100, u"时间段:'|01设置有误,请核对!"_qs, u"時間段:'|01設置有誤,請核對!"_qs},
        {1101, u"设置考勤机的打铃时间．．．"_qs, u"設置考勤機的打鈴時間"_qs},
        {1102, u"请选择考勤机!"_qs, u"請選擇考勤機!"_qs},
        {1103, u"考勤机'|01的打铃时间设置成功!"_qs, u"考勤機'|01的打鈴時間設置成功!"_qs},
        {1104, u"考勤机'|01的打铃时间设置失败!"_qs, u"考勤機'|01的打鈴時間設置失敗!"_qs},
        {1105, u"考勤机'|01的打铃时间设置成功!"_qs, u"考勤機'|01的打鈴時間設置成功!"_qs},
        {1106, u"通讯口打开失败!"_qs, u"通訊口打開失敗!"_qs},
        {1107, u"错误：'|01请填写机器号!"_qs, u"錯誤：'|01請填寫機器號!"_qs},
        {1108, u"错误：'|01机器号：'|02已经存在!"_qs, u"錯誤：'|01機器號：'|02已經存在!"_qs},
        {1109, u"开始显示读入的铃点……"_qs, u"開始顯示讀入的鈴點……"_qs},
        {1110, u"设置响铃次数"_qs, u"設置響鈴次數"_qs},
        {1111,
         u"系统检测出您所使用的考勤机动态库版本太低！'|01当前版本为：'|02请使用V7.3以上的版本，否则与考勤机通讯的部分功能将出错！"_qs,
         u"系統檢測出您所使用的考勤機動態庫版本太低！'|01當前版本爲：'|02請使用V7.3以上的版本，否則與考勤機通訊的部分功能將出錯！"_qs},
        {1112, u"小时"_qs, u"小時"_qs},
        {1113, u"分钟"_qs, u"分鐘"_qs},
        {1114, u"进"_qs, u"進"_qs},
        {1115, u"出"_qs, u"出"_qs},
        {1116, u"请输入“0-23”之间的数！"_qs, u"請輸入\"0-23\"之間的數！"_qs},
        {1117, u"请输入“0-59”之间的数！"_qs, u"請輸入\"0-59\"之間的數！"_qs},
        {1118, u"计次餐饮.采集脱机数据"_qs, u"計次餐飲.採集脫機資料"_qs},
        {1119, u"采集脱机数据"_qs, u"採集脫機資料"_qs},
    };
    return all;
}

class LanguageGuard {
public:
    explicit LanguageGuard(int lang) { bw::setUiLanguage(lang); }
    ~LanguageGuard() { bw::setUiLanguage(0); }
};

} // namespace

using bw::messages::ids;
using bw::messages::text;

TEST(Catalogue, IdsAreExactly100And101And1000To1119) {
    QList<int> want{100, 101};
    for (int id = 1000; id <= 1119; ++id)
        want.append(id);
    EXPECT_EQ(ids(), want);
    EXPECT_EQ(ids().size(), 122);
}

TEST(Catalogue, EverySimplifiedTextIsExact) {
    ASSERT_EQ(expectedCatalogue().size(), 122u);
    for (const Expected& e : expectedCatalogue())
        EXPECT_EQ(text(e.id, bw::LangSimplified), e.zhCN) << "id " << e.id;
}

TEST(Catalogue, EveryTraditionalTextIsExact) {
    for (const Expected& e : expectedCatalogue())
        EXPECT_EQ(text(e.id, bw::LangTraditional), e.zhTW) << "id " << e.id;
}

TEST(Catalogue, NoTextIsEmpty) {
    for (int id : ids()) {
        EXPECT_FALSE(text(id, bw::LangSimplified).isEmpty()) << id;
        EXPECT_FALSE(text(id, bw::LangTraditional).isEmpty()) << id;
    }
}

TEST(Catalogue, SixteenTraditionalTextsEndWithATab) {
    const QSet<int> withTab{1019, 1021, 1022, 1025, 1026, 1035, 1036, 1038,
                            1042, 1043, 1044, 1046, 1076, 1079, 1081, 1091};
    for (int id : ids()) {
        EXPECT_EQ(text(id, bw::LangTraditional).endsWith(u'\t'), withTab.contains(id)) << id;
        EXPECT_FALSE(text(id, bw::LangSimplified).contains(u'\t')) << id;
    }
}

TEST(Catalogue, DifferencesBetweenTheLanguagesBeyondScript) {
    EXPECT_EQ(text(1034, bw::LangSimplified), u"请选择考勤机!"_qs);
    EXPECT_EQ(text(1034, bw::LangTraditional), u"請選擇考勤機"_qs);
    EXPECT_TRUE(text(1054, bw::LangSimplified).endsWith(u"！"_qs));
    EXPECT_TRUE(text(1054, bw::LangTraditional).endsWith(u'!'));
    EXPECT_TRUE(text(1101, bw::LangSimplified).endsWith(u"．．．"_qs));
    EXPECT_EQ(text(1101, bw::LangTraditional), u"設置考勤機的打鈴時間"_qs);
    EXPECT_EQ(text(1116, bw::LangSimplified), u"请输入\u201c0-23\u201d之间的数！"_qs);
    EXPECT_EQ(text(1116, bw::LangTraditional), u"請輸入\"0-23\"之間的數！"_qs);
    EXPECT_EQ(text(1117, bw::LangTraditional), u"請輸入\"0-59\"之間的數！"_qs);
    EXPECT_EQ(text(1119, bw::LangTraditional), u"採集脫機資料"_qs);
}

TEST(Catalogue, QuotedPartsOf1081AndLiteral14Of1099) {
    EXPECT_EQ(text(1081, bw::LangSimplified),
              u"请您输入新考勤机地址：(1-98)\", \"修改考勤机地址......"_qs);
    EXPECT_EQ(text(1081, bw::LangTraditional),
              u"請您輸入新考勤機地址：(1-98)\", \"修改考勤機地址......\t"_qs);
    EXPECT_EQ(text(1099, bw::LangSimplified), u"时间段:14设置有误,请核对!"_qs);
    EXPECT_FALSE(text(1099, bw::LangSimplified).contains(u"'|"_qs));
}

TEST(Catalogue, PlaceholdersAreTheSameInBothLanguages) {
    for (int id : ids()) {
        const QString cn = text(id, bw::LangSimplified);
        const QString tw = text(id, bw::LangTraditional);
        for (const QString& ph : {u"'|01"_qs, u"'|02"_qs}) {
            EXPECT_EQ(cn.count(ph), tw.count(ph)) << id;
            EXPECT_LE(cn.count(ph), 1) << id;
        }
        const qsizetype p1 = cn.indexOf(u"'|01"_qs);
        const qsizetype p2 = cn.indexOf(u"'|02"_qs);
        if (p2 >= 0) {
            EXPECT_LT(p1, p2) << id;
        }
    }
}

TEST(Catalogue, LookupFollowsTheUserInterfaceLanguage) {
    {
        LanguageGuard guard(bw::LangTraditional);
        EXPECT_EQ(text(100), u"系統提示"_qs);
        EXPECT_EQ(text(1019), u"考勤機'|01初始化成功!\t"_qs);
    }
    {
        LanguageGuard guard(bw::LangSimplified);
        EXPECT_EQ(text(100), u"系统提示"_qs);
        EXPECT_EQ(text(1019), u"考勤机'|01初始化成功!"_qs);
    }
}

TEST(Catalogue, OtherLanguagesReadTheSimplifiedTable) {
    EXPECT_EQ(text(1001, 1033), u"计次"_qs);
    EXPECT_EQ(text(1001, 0), u"计次"_qs);
}

TEST(Catalogue, UnknownIdGivesAnEmptyText) {
    EXPECT_TRUE(text(99, bw::LangSimplified).isEmpty());
    EXPECT_TRUE(text(102, bw::LangTraditional).isEmpty());
    EXPECT_TRUE(text(999, bw::LangSimplified).isEmpty());
    EXPECT_TRUE(text(1120, bw::LangSimplified).isEmpty());
    EXPECT_TRUE(text(-1, bw::LangSimplified).isEmpty());
}
