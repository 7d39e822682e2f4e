#pragma once

#include <QString>

namespace bw::host::report {

// The report's headings and sheet names, in Simplified (2052) and Traditional (1028) Chinese.
enum class Text {
    SheetEmployees,
    SheetCards,
    SheetDays,
    ColEmployee,
    ColName,
    ColCard,
    ColTerminal,
    ColDay,
    ColBreakfast,
    ColLunch,
    ColDinner,
    ColOther,
    ColTotal,
    Total,
    ColDepartment,
    SheetDepartments,
    SheetRepeats,
    ColPeople,
    ColMeal,
    ColFirstSwipe,
    ColRepeatSwipe,
    Subtotal,
    NoDepartment,
    ColAmount,
};

QString text(Text id, int lang);

} // namespace bw::host::report
