#include "host/report/report_writer.h"

#include "host/collect/record_export.h"
#include "host/report/report_texts.h"
#include "platform/safe_file.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QStringConverter>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <xlsxwriter.h>

namespace bw::host::report {

namespace {

// A cell of a sheet holds at most this many characters.
constexpr int kMaxCellText = 32767;

QStringList countHeadings(const MonthReport& report, int lang) {
    QStringList out;
    const Text meals[MealCount] = {Text::ColBreakfast, Text::ColLunch, Text::ColDinner};
    for (int m = 0; m < MealCount; ++m)
        out << text(meals[m], lang) + QLatin1Char(' ') + mealWindowText(report.windows[m]);
    return out << text(Text::ColOther, lang) << text(Text::ColTotal, lang);
}

void addTotalRow(Table& t, int lang) {
    Counts sum;
    for (const Counts& c : std::as_const(t.counts))
        for (int m = 0; m < ColumnCount; ++m)
            sum.meals[m] += c.meals[m];
    QStringList texts(t.textColumns);
    texts[0] = text(Text::Total, lang);
    t.texts << texts;
    t.counts << sum;
}

Table peopleTable(const QList<PersonRow>& rows, const QString& name, const QStringList& meals,
                  int lang, Text total = Text::Total) {
    Table t;
    t.name = name;
    t.textColumns = 4;
    t.numberTexts = {0, 3};
    t.headings << text(Text::ColEmployee, lang) << text(Text::ColName, lang)
               << text(Text::ColDepartment, lang) << text(Text::ColCard, lang) << meals;
    for (const PersonRow& r : rows) {
        t.texts << QStringList{r.employee, r.name, r.department, r.cards};
        t.counts << r.counts;
    }
    addTotalRow(t, lang);
    t.texts.last()[0] = text(total, lang);
    return t;
}

QString departmentOf(const PersonRow& r, int lang) {
    return r.department.isEmpty() ? text(Text::NoDepartment, lang) : r.department;
}

// The departments' totals, and a sheet of each department's employees.
QList<Table> departmentTables(const MonthReport& report, const QStringList& meals, int lang,
                              QStringList& used) {
    QMap<QString, QList<PersonRow>> byDepartment;
    for (const PersonRow& r : report.employees)
        byDepartment[departmentOf(r, lang)] << r;
    Table sum;
    sum.name = sheetName(text(Text::SheetDepartments, lang), used);
    sum.textColumns = 2;
    sum.headings << text(Text::ColDepartment, lang) << text(Text::ColPeople, lang) << meals;
    QList<Table> out;
    for (auto it = byDepartment.cbegin(); it != byDepartment.cend(); ++it) {
        out << peopleTable(*it, sheetName(it.key(), used), meals, lang, Text::Subtotal);
        sum.texts << QStringList{it.key(), QString::number(it->size())};
        sum.counts << out.last().counts.last();
    }
    addTotalRow(sum, lang);
    sum.texts.last()[1] = QString::number(report.employees.size());
    return QList<Table>{sum} + out;
}

Table repeatTable(const MonthReport& report, int lang, QStringList& used) {
    Table t;
    t.name = sheetName(text(Text::SheetRepeats, lang), used);
    t.textColumns = 6;
    t.numberTexts = {0, 1};
    t.headings << text(Text::ColEmployee, lang) << text(Text::ColCard, lang)
               << text(Text::ColDay, lang) << text(Text::ColMeal, lang)
               << text(Text::ColFirstSwipe, lang) << text(Text::ColRepeatSwipe, lang);
    const Text meals[MealCount] = {Text::ColBreakfast, Text::ColLunch, Text::ColDinner};
    for (const RepeatRow& r : report.repeats)
        t.texts << QStringList{
            r.employee, r.card, r.day, text(meals[int(r.meal) % MealCount], lang), r.first, r.time};
    return t;
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

WriteFault writeXlsx(const QList<Table>& tables, const QString& path) {
    // libxlsxwriter writes the file by name at its close: it writes the writer's temporary
    // file, which then takes the target's place.
    SafeFile part(path, SafeFile::Access::Private);
    if (!part.open())
        return {WriteFault::Kind::CannotCreate, part.errorString()};
    const QByteArray partName = QFile::encodeName(part.temporaryName());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    lxw_workbook* book = workbook_new_opt(partName.constData(), &options);
    if (!book)
        return {WriteFault::Kind::CannotWrite, systemReason(ENOMEM)};
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    for (const Table& t : tables) {
        lxw_worksheet* sheet = workbook_add_worksheet(book, t.name.toUtf8().constData());
        if (!sheet)
            continue;
        worksheet_set_column(sheet, 0, lxw_col_t(t.headings.size() - 1), 14, nullptr);
        for (int c = 0; c < t.headings.size(); ++c)
            worksheet_write_string(sheet, 0, lxw_col_t(c), t.headings[c].toUtf8().constData(),
                                   bold);
        for (int r = 0; r < t.texts.size(); ++r) {
            const lxw_row_t row = lxw_row_t(r + 1);
            lxw_format* format = r + 1 == t.texts.size() && !t.counts.isEmpty() ? bold : nullptr;
            for (int c = 0; c < t.textColumns; ++c) {
                const QString& value = t.texts[r].at(c);
                // Written as strings: digits keep their zeros, "=..." stays text.
                if (!value.isEmpty())
                    worksheet_write_string(sheet, row, lxw_col_t(c),
                                           value.left(kMaxCellText).toUtf8().constData(), format);
            }
            if (t.counts.isEmpty())
                continue;
            for (int m = 0; m < ColumnCount; ++m)
                worksheet_write_number(sheet, row, lxw_col_t(t.textColumns + m),
                                       double(t.counts[r].meals[m]), format);
            worksheet_write_number(sheet, row, lxw_col_t(t.textColumns + ColumnCount),
                                   double(t.counts[r].total()), format);
        }
    }
    errno = 0;
    const lxw_error closed = workbook_close(book);
    if (closed != LXW_NO_ERROR) {
        const int error = errno;
        return {WriteFault::Kind::CannotWrite,
                error != 0 ? systemReason(error) : QString::fromUtf8(lxw_strerror(closed))};
    }
    if (!part.commit())
        return {WriteFault::Kind::CannotWrite, part.errorString()};
    return {};
}

// A CSV file of lines written by write: UTF-8 with a byte-order mark, the owner's alone,
// replaced only when all of it is written.
WriteFault
writeCsvLines(const QString& path,
              const std::function<void(const std::function<void(const QStringList&)>&)>& write) {
    SafeFile file(path, SafeFile::Access::Private);
    if (!file.open())
        return {WriteFault::Kind::CannotCreate, file.errorString()};
    QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::WriteBom);
    write([&](const QStringList& cells) {
        file.write(utf8.encode(cells.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
    });
    if (!file.commit())
        return {WriteFault::Kind::CannotWrite, file.errorString()};
    return {};
}

WriteFault writeCsv(const QList<Table>& tables, const QString& path) {
    return writeCsvLines(path, [&](const auto& line) {
        bool first = true;
        for (const Table& t : tables) {
            if (!first)
                line({});
            first = false;
            line({collect::csvCell(t.name)});
            QStringList head;
            for (const QString& h : t.headings)
                head << collect::csvCell(h);
            line(head);
            for (int r = 0; r < t.texts.size(); ++r) {
                QStringList cells;
                // Employee and card numbers are kept as text, with their leading zeros.
                for (int c = 0; c < t.textColumns; ++c)
                    cells << collect::csvCell(t.texts[r].at(c), t.numberTexts.contains(c));
                if (t.counts.isEmpty()) {
                    line(cells);
                    continue;
                }
                for (qint64 n : t.counts[r].meals)
                    cells << QString::number(n);
                line(cells << QString::number(t.counts[r].total()));
            }
        }
    });
}

} // namespace

QString sheetName(const QString& wanted, QStringList& used) {
    QString name = wanted.simplified();
    for (QChar& c : name)
        if (QStringLiteral("[]:*?/\\").contains(c) || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    while (name.startsWith(QLatin1Char('\'')))
        name.remove(0, 1);
    name = name.left(31);
    if (name.isEmpty())
        name = QStringLiteral("_");
    QString candidate = name;
    for (int n = 2; used.contains(candidate, Qt::CaseInsensitive); ++n) {
        const QString tail = QStringLiteral("(%1)").arg(n);
        candidate = name.left(31 - int(tail.size())) + tail;
    }
    used << candidate;
    return candidate;
}

QList<Table> reportTables(const MonthReport& report, int lang) {
    const QStringList meals = countHeadings(report, lang);
    QStringList used{text(Text::SheetEmployees, lang), text(Text::SheetCards, lang),
                     text(Text::SheetDays, lang)};
    QList<Table> out{peopleTable(report.employees, text(Text::SheetEmployees, lang), meals, lang)};
    out += departmentTables(report, meals, lang, used);
    out << peopleTable(report.cards, text(Text::SheetCards, lang), meals, lang);
    if (!report.repeats.isEmpty())
        out << repeatTable(report, lang, used);
    if (!report.days.isEmpty()) {
        Table t;
        t.name = text(Text::SheetDays, lang);
        t.textColumns = 2;
        t.headings << text(Text::ColTerminal, lang) << text(Text::ColDay, lang) << meals;
        for (const DayRow& d : report.days) {
            t.texts << QStringList{QString::number(d.terminal), d.day};
            t.counts << d.counts;
        }
        addTotalRow(t, lang);
        out << t;
    }
    return out;
}

Format formatOf(const QString& path) {
    return path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? Format::Csv : Format::Xlsx;
}

WriteFault writeReport(const QList<Table>& tables, const QString& path, Format format) {
    return format == Format::Csv ? writeCsv(tables, path) : writeXlsx(tables, path);
}

} // namespace bw::host::report

namespace bw::host::report {

WriteFault writePayroll(const MonthReport& report, const Prices& prices, const QString& path,
                        int lang) {
    return writeCsvLines(path, [&](const auto& line) {
        line({text(Text::ColEmployee, lang), text(Text::ColName, lang),
              text(Text::ColDepartment, lang), text(Text::ColBreakfast, lang),
              text(Text::ColLunch, lang), text(Text::ColDinner, lang),
              text(Text::ColAmount, lang)});
        for (const PersonRow& r : report.employees) {
            QStringList cells{collect::csvCell(r.employee), collect::csvCell(r.name),
                              collect::csvCell(r.department)};
            for (int m = 0; m < MealCount; ++m)
                cells << QString::number(r.counts.meals[m]);
            line(cells << yuanText(amountFen(r.counts, prices)));
        }
    });
}

} // namespace bw::host::report
