#pragma once

#include <QString>

// The web view's own texts, in Simplified (2052) and Traditional (1028) Chinese.
namespace bw::host::web {

enum class T {
    Title,
    SignIn,
    SignOut,
    Name,
    Password,
    WrongSignIn,
    Wait,
    Status,
    Meals,
    Month,
    Log,
    Terminal,
    Port,
    Place,
    Answers,
    RoundTrip,
    Clock,
    Records,
    Names,
    LastCollection,
    Hands,
    Yes,
    No,
    Silent,
    HandClock,
    HandNames,
    HandCollection,
    HandRecords,
    HandImpossible,
    HandClockUnread,
    HandNamesUnread,
    Reload,
    ReadAt,
    NotReadYet,
    Today,
    TwoWeeks,
    Breakfast,
    Lunch,
    Dinner,
    Other,
    Total,
    Workbook,
    Show,
    From,
    To,
    User,
    Action,
    Object,
    Result,
    Time,
    Older,
    Newer,
    NotAllowed,
    NeedsHand,
    Fine,
    Language,
    NoData,
    Station,
    Fault,
    Cannot,
    LogSignIn,
    LogRefused,
    LogSignOut,
    PayrollFile
};

QString text(T key, int lang);
// 2052 or 1028 from an Accept-Language header (zh-TW, zh-HK, zh-Hant: 1028; else 2052).
int languageOf(const QByteArray& acceptLanguage);

} // namespace bw::host::web
