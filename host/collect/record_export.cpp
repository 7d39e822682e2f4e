#include "host/collect/record_export.h"

#include "host/collect/collect_texts.h"
#include "host/collect/meal_store.h"
#include "platform/error.h"
#include "platform/safe_file.h"
#include "store/sql_connection.h"

#include <QSqlError>
#include <QSqlRecord>
#include <QStringConverter>
#include <algorithm>

namespace bw::host::collect {

namespace {

constexpr int kCardColumn = 2;
constexpr int kEmployeeColumn = 3;

QString dayStart(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
}

} // namespace

QString periodFilter(const QDate& from, const QDate& until, const QList<int>& terminals,
                     QVariantList& values) {
    values << dayStart(from) << dayStart(until);
    QString sql = QStringLiteral(" FROM MealRecord WHERE RecordTime >= ? AND RecordTime < ?");
    if (!terminals.isEmpty()) {
        QStringList marks;
        for (int t : terminals) {
            marks << QStringLiteral("?");
            values << t;
        }
        sql += QStringLiteral(" AND MachAddr IN (") + marks.join(QStringLiteral(", ")) +
               QLatin1Char(')');
    }
    return sql;
}

QSqlQuery selectRecords(store::SqlConnection& cn, const RecordFilter& filter) {
    QVariantList values{text(Text::FlagIn), text(Text::FlagOut), text(Text::FlagMeal)};
    const QString sql =
        QStringLiteral("SELECT MachAddr, RecordNo, CardNo, EmpNo, RecordTime, CASE Flag WHEN 1 "
                       "THEN ? WHEN 2 THEN ? ELSE ? END, CollectedAt, CollectedBy") +
        periodFilter(filter.from, filter.to.addDays(1), filter.terminals, values) +
        QStringLiteral(" ORDER BY RecordTime, MachAddr, RecordNo");
    QSqlQuery q;
    cn.attempt(store::SqlConnection::Use::Read, [&] {
        q = QSqlQuery(cn.database());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    });
    return q;
}

QStringList recordHeadings() {
    QStringList out;
    for (Text t : {Text::ColTerminal, Text::ColRecordNo, Text::ColCard, Text::ColEmployee,
                   Text::ColTime, Text::ColFlag, Text::ColCollectedAt, Text::ColCollectedBy})
        out << text(t);
    return out;
}

QString recordText(const QVariant& value) {
    // Times as the table holds them on every database, not in ISO form.
    return value.typeId() == QMetaType::QDateTime ? timeText(value.toDateTime()) : value.toString();
}

QString csvCell(const QString& value, bool keepText) {
    QString v = value;
    static const QString formulaStart = QStringLiteral("=+-@\t\r");
    const bool digits = !v.isEmpty() && std::all_of(v.cbegin(), v.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (keepText && digits)
        v = QStringLiteral("=\"") + v + QLatin1Char('"');
    else if (!v.isEmpty() && formulaStart.contains(v.front()))
        v.prepend(QLatin1Char('\''));
    if (!v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('"')) &&
        !v.contains(QLatin1Char('\n')) && !v.contains(QLatin1Char('\r')))
        return v;
    v.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

qint64 exportRecords(store::SqlConnection& cn, const RecordFilter& filter, const QString& path,
                     QString* why) {
    const auto failed = [why](const QString& reason) {
        if (why)
            *why = reason;
        return qint64(-1);
    };
    // Card numbers and meal times: the owner shares the file, if at all, by choice.
    SafeFile file(path, SafeFile::Access::Private);
    if (!file.open())
        return failed(file.errorString());
    QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::WriteBom);
    QStringList head;
    for (const QString& h : recordHeadings())
        head << csvCell(h);
    file.write(utf8.encode(head.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
    qint64 rows = 0;
    try {
        // Read forward and written as it comes: the file grows, memory does not.
        QSqlQuery q = selectRecords(cn, filter);
        const int columns = q.record().count();
        while (q.next()) {
            QStringList line;
            for (int c = 0; c < columns; ++c)
                line << csvCell(recordText(q.value(c)), c == kCardColumn || c == kEmployeeColumn);
            file.write(utf8.encode(line.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
            ++rows;
        }
        const QString error = q.lastError().isValid() ? q.lastError().text() : QString();
        q.finish();
        if (!error.isEmpty())
            return failed(singleLine(error));
    } catch (const Error& e) {
        qWarning("Records not exported (%s)", qUtf8Printable(e.description()));
        return failed(singleLine(e.description()));
    }
    return file.commit() ? rows : failed(file.errorString());
}

QString exportFileName(const QDate& from, const QDate& to) {
    const QString format = QStringLiteral("yyyy-MM-dd");
    if (from == to)
        return QStringLiteral("meal-records-%1.csv").arg(from.toString(format));
    return QStringLiteral("meal-records-%1_%2.csv").arg(from.toString(format), to.toString(format));
}

} // namespace bw::host::collect
