#include "host/report/report_writer.h"

#include "host/collect/record_export.h"
#include "host/report/report_texts.h"
#include "platform/safe_file.h"

#include <QDir>
#include <QFileInfo>
#include <QStringConverter>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
                  int lang) {
    Table t;
    t.name = name;
    t.textColumns = 3;
    t.headings << text(Text::ColEmployee, lang) << text(Text::ColName, lang)
               << text(Text::ColCard, lang) << meals;
    for (const PersonRow& r : rows) {
        t.texts << QStringList{r.employee, r.name, r.cards};
        t.counts << r.counts;
    }
    addTotalRow(t, lang);
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
            lxw_format* format = r + 1 == t.texts.size() ? bold : nullptr;
            for (int c = 0; c < t.textColumns; ++c) {
                const QString& value = t.texts[r].at(c);
                // Written as strings: digits keep their zeros, "=..." stays text.
                if (!value.isEmpty())
                    worksheet_write_string(sheet, row, lxw_col_t(c),
                                           value.left(kMaxCellText).toUtf8().constData(), format);
            }
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

WriteFault writeCsv(const QList<Table>& tables, const QString& path) {
    SafeFile file(path, SafeFile::Access::Private);
    if (!file.open())
        return {WriteFault::Kind::CannotCreate, file.errorString()};
    QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::WriteBom);
    auto line = [&](const QStringList& cells) {
        file.write(utf8.encode(cells.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
    };
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
                cells << collect::csvCell(t.texts[r].at(c), t.textColumns == 3 && c != 1);
            for (qint64 n : t.counts[r].meals)
                cells << QString::number(n);
            line(cells << QString::number(t.counts[r].total()));
        }
    }
    if (!file.commit())
        return {WriteFault::Kind::CannotWrite, file.errorString()};
    return {};
}

} // namespace

QList<Table> reportTables(const MonthReport& report, int lang) {
    const QStringList meals = countHeadings(report, lang);
    QList<Table> out{peopleTable(report.employees, text(Text::SheetEmployees, lang), meals, lang),
                     peopleTable(report.cards, text(Text::SheetCards, lang), meals, lang)};
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
