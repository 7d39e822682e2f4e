#include "host/lexicon/lexicon.h"

#include "messages/catalogue.h"
#include "platform/convert.h"
#include "platform/language.h"
#include "platform/registry.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QMetaProperty>
#include <QObject>
#include <QTranslator>
#include <QWidget>
#include <memory>

namespace bw::host {

namespace {

// Design captions of the terminal-management window and their 1028 texts.
const QHash<QString, QString>& captionTable() {
    static const QHash<QString, QString> table = {
        // toolbar band and tools
        {u"工具栏"_qs, u"工具欄"_qs},
        {u"增加"_qs, u"增加"_qs},
        {u"编辑"_qs, u"編輯"_qs},
        {u"保存"_qs, u"儲存"_qs},
        {u"取消"_qs, u"取消"_qs},
        {u"考勤机初始化"_qs, u"考勤機初始化"_qs},
        {u"删除"_qs, u"刪除"_qs},
        {u"退出"_qs, u"退出"_qs},
        // captions of the detail frame
        {u"机器号："_qs, u"機器號："_qs},
        {u"串口或IP："_qs, u"序列埠或IP："_qs},
        {u"场   所："_qs, u"場   所："_qs},
        {u"用  途："_qs, u"用  途："_qs},
        {u"组     别："_qs, u"組     別："_qs},
        {u"标     志："_qs, u"標     誌："_qs},
        {u"日期："_qs, u"日期："_qs},
        {u"时间："_qs, u"時間："_qs},
        {u"考勤机日期和时间与操作系统一致"_qs, u"考勤機日期和時間與作業系統一致"_qs},
        {u"响铃次数："_qs, u"響鈴次數："_qs},
        {u"响铃时间："_qs, u"響鈴時間："_qs},
        // buttons
        {u"通讯测试"_qs, u"通訊測試"_qs},
        {u"设置日期时间"_qs, u"設定日期時間"_qs},
        {u"采集就餐数据"_qs, u"採集就餐資料"_qs},
        {u"设置闹铃时间"_qs, u"設定鬧鈴時間"_qs},
        {u"设置闹铃次数"_qs, u"設定鬧鈴次數"_qs},
        {u"读取闹铃设置"_qs, u"讀取鬧鈴設定"_qs},
        // the window itself
        {u"就餐机管理 (机型：6429) V5.2"_qs, u"就餐機管理 (機型：6429) V5.2"_qs},
    };
    return table;
}

// Replaces the string properties of obj that hold a known caption; returns the count.
int translateObject(QObject* obj) {
    static const char* const names[] = {"text", "windowTitle", "title"};
    int changed = 0;
    const QMetaObject* meta = obj->metaObject();
    for (const char* name : names) {
        const int index = meta->indexOfProperty(name);
        if (index < 0)
            continue;
        const QMetaProperty prop = meta->property(index);
        if (!prop.isWritable() || prop.metaType().id() != QMetaType::QString)
            continue;
        const QString current = prop.read(obj).toString();
        const QString translated = Lexicon::traditionalCaption(current);
        if (translated.isNull() || translated == current)
            continue;
        prop.write(obj, translated);
        ++changed;
    }
    return changed;
}

// The text of a value as the placeholder receives it: strings as they are, numbers in
// plain decimal, an empty value as nothing.
QString valueText(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return QString();
    return TextOf(value);
}

} // namespace

QString Lexicon::ReplaceRes(const QString& templ, short count, const QVariant& v1,
                            const QVariant& v2) {
    return messages::fillPlaceholders(templ, count, valueText(v1),
                                      count >= 2 ? valueText(v2) : QString());
}

void Lexicon::LoadControlInfo(ConnectionPtr& /*cn*/, const QString& /*project*/, QWidget* form,
                              int& result) {
    result = translateCaptions(form, uiLanguage());
    if (bellSectionShown())
        revealBellSection(form);
}

QString Lexicon::traditionalCaption(const QString& simplified) {
    return captionTable().value(simplified);
}

int Lexicon::translateCaptions(QWidget* form, int lang) {
    // The window is designed in 2052: nothing to do for it (or for any other language).
    if (!form || lang != LangTraditional)
        return 0;
    int changed = translateObject(form);
    const auto widgets = form->findChildren<QWidget*>();
    for (QWidget* w : widgets)
        changed += translateObject(w);
    const auto actions = form->findChildren<QAction*>();
    for (QAction* a : actions)
        changed += translateObject(a);
    return changed;
}

bool loadQtTexts(int lang) {
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const char* name = lang == LangTraditional  ? "qtbase_zh_TW"
                       : lang == LangSimplified ? "qtbase_zh_CN"
                                                : nullptr;
    if (!name)
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromLatin1(name),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    installed = std::move(translator);
    return true;
}

void registerLexicon() {
    Registry::instance().registerClass(progid::Language,
                                       [] { return std::make_shared<Lexicon>(); });
}

} // namespace bw::host
