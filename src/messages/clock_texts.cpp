#include "messages/clock_texts.h"

#include "messages/catalogue.h"
#include "platform/language.h"

namespace bw::messages {

namespace {

constexpr TextEntry<ClockText> kClockTexts[] = {
    {ClockText::AskUnsynchronised,
     u"计算机的时钟未与时间服务器同步，可能不准。仍要把机器:'|01的时间设为计算机的时间吗？",
     u"電腦的時鐘未與時間伺服器同步，可能不準。仍要把機器:'|01的時間設為電腦的時間嗎？"},
    {ClockText::AskTooFar, u"校时将使机器:'|01的时钟变动'|02秒，超过允许的范围。仍要校时吗？",
     u"校時將使機器:'|01的時鐘變動'|02秒，超過允許的範圍。仍要校時嗎？"},
    {ClockText::YearOutOfRange,
     u"年份'|01超出考勤机可保存的范围(2000-2099)，不能校时！请先检查计算机的日期。",
     u"年份'|01超出考勤機可儲存的範圍(2000-2099)，不能校時！請先檢查電腦的日期。"},
};

} // namespace

QString clockText(ClockText id, int lang) {
    return tableText(kClockTexts, id, lang);
}

bool clockRefusalAsks(ClockRefusal refusal) {
    return refusal == ClockRefusal::Unsynchronised || refusal == ClockRefusal::TooFar;
}

QString clockRefusalText(const ClockVerdict& v, const QString& terminal, int lang) {
    switch (v.refusal) {
    case ClockRefusal::None:
        return QString();
    case ClockRefusal::Unsynchronised:
        return fillPlaceholders(clockText(ClockText::AskUnsynchronised, lang), terminal);
    case ClockRefusal::TooFar:
        return fillPlaceholders(clockText(ClockText::AskTooFar, lang), terminal,
                                QString::number(v.changeS.value_or(0)));
    case ClockRefusal::YearOutOfRange:
        return fillPlaceholders(clockText(ClockText::YearOutOfRange, lang),
                                v.send.isValid() ? QString::number(v.send.date().year())
                                                 : QStringLiteral("?"));
    }
    return QString();
}

} // namespace bw::messages
