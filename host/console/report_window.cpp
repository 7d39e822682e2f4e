#include "host/console/report_window.h"

#include "host/report/month_files.h"

#include "host/console/console_texts.h"
#include "host/console/read_fault.h"
#include "host/ledger/ledger.h"
#include "platform/language.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QTextTable>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <memory>

namespace bw::host::console {

namespace {

// A cell as the table shows it: the row's texts, then the counts.
QString cellText(const report::Table& t, int row, int column) {
    if (column < t.textColumns)
        return t.texts[row].at(column);
    const report::Counts& c = t.counts[row];
    const int m = column - t.textColumns;
    return QString::number(m < report::ColumnCount ? c.meals[m] : c.total());
}

enum class Made { Line, None };
constexpr TextEntry<Made> kMadeTexts[] = {
    {Made::Line, u"夜间例行作业已生成 %1 月报表和工资文件：%2（%3，%4）",
     u"夜間例行作業已產生 %1 月報表和薪資檔案：%2（%3，%4）"},
    {Made::None, u"夜间例行作业尚未生成月报表（设置 [report] out-dir 后自动生成）",
     u"夜間例行作業尚未產生月報表（設定 [report] out-dir 後自動產生）"},
};

// When the nightly run made the month's files, newest first (three months at most).
QString madeText() {
    QList<report::MadeMonth> made;
    try {
        store::SqlConnection cn(connectionString());
        made = report::madeMonths(cn);
    } catch (const std::exception&) {
    }
    if (made.isEmpty())
        return tableText(kMadeTexts, Made::None, uiLanguage());
    QStringList lines;
    for (const report::MadeMonth& m : made.mid(0, 3))
        lines << tableText(kMadeTexts, Made::Line, uiLanguage())
                     .arg(m.month, m.madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                          QDir::toNativeSeparators(m.workbook).simplified(),
                          QDir::toNativeSeparators(m.payroll).simplified());
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ReportWindow::ReportWindow(const QList<int>& selected, const MealWindows& windows, QWidget* parent)
    : QWidget(parent, Qt::Window), selected_(selected), windows_(windows) {
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(text(Text::MonthReport));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(text(Text::Month), this));
    monthEdit_ = new QDateEdit(QDate::currentDate(), this);
    monthEdit_->setObjectName(QStringLiteral("Month"));
    monthEdit_->setDisplayFormat(QStringLiteral("yyyy-MM"));
    bar->addWidget(monthEdit_);
    which_ = new QComboBox(this);
    which_->setObjectName(QStringLiteral("Terminals"));
    which_->addItem(text(Text::All));
    if (!selected_.isEmpty())
        which_->addItem(text(Text::SelectedTerminals).arg(selected_.size()));
    bar->addWidget(which_);
    byDay_ = new QCheckBox(text(Text::ReportByDay), this);
    byDay_->setObjectName(QStringLiteral("ByDay"));
    bar->addWidget(byDay_);
    auto* show = new QPushButton(text(Text::Show), this);
    auto* exportButton = new QPushButton(text(Text::ExportReport), this);
    auto* printButton = new QPushButton(text(Text::PrintReport), this);
    exportButton->setObjectName(QStringLiteral("Export"));
    printButton->setObjectName(QStringLiteral("Print"));
    for (QPushButton* b : {show, exportButton, printButton})
        bar->addWidget(b);
    bar->addStretch();
    layout->addLayout(bar);
    tabs_ = new QTabWidget(this);
    layout->addWidget(tabs_, 1);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("Note"));
    note_->setTextFormat(Qt::PlainText); // file names and database reasons are not markup
    layout->addWidget(note_);
    auto* made = new QLabel(madeText(), this);
    made->setObjectName(QStringLiteral("MadeMonths"));
    made->setTextFormat(Qt::PlainText);
    layout->addWidget(made);
    resize(900, 600);

    connect(show, &QPushButton::clicked, this, [this] {
        showMonth(monthEdit_->date(), which_->currentIndex() == 1, byDay_->isChecked());
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        if (shown_.isEmpty() &&
            !showMonth(monthEdit_->date(), which_->currentIndex() == 1, byDay_->isChecked()))
            return;
        const QString path =
            askSaveFile(text(Text::ExportReport), QStringLiteral("meals-%1.xlsx").arg(month_),
                        QStringLiteral("Excel (*.xlsx);;CSV (*.csv)"));
        if (!path.isEmpty())
            exportTo(path);
    });
    connect(printButton, &QPushButton::clicked, this, [this] {
        if (shown_.isEmpty() &&
            !showMonth(monthEdit_->date(), which_->currentIndex() == 1, byDay_->isChecked()))
            return;
        print();
    });
}

QString ReportWindow::note() const {
    return note_->text();
}

bool ReportWindow::showMonth(const QDate& month, bool selectedOnly, bool byDay) {
    report::Request rq;
    rq.month = month;
    rq.byDay = byDay;
    rq.windows = windows_;
    if (selectedOnly)
        rq.terminals = selected_;
    // A month of a large site takes a second or more to count: it is counted on a worker, and
    // meanwhile the program's windows paint and their readings go on; what the user types or
    // clicks waits until the count is shown, so no window closes under it.
    auto r = std::make_shared<report::MonthReport>();
    auto fault = std::make_shared<ReadFault>();
    const QString connection = connectionString();
    QFutureWatcher<void> counting;
    QEventLoop wait;
    const QPointer<ReportWindow> self(this);
    connect(&counting, &QFutureWatcher<void>::finished, &wait, &QEventLoop::quit);
    setControlsEnabled(false);
    note_->setText(text(Text::ReportCounting));
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    counting.setFuture(QtConcurrent::run([r, fault, connection, rq] {
        *fault = attempt([&] {
            store::SqlConnection cn(connection);
            *r = report::readMonthReport(cn, rq);
        });
    }));
    if (!counting.isFinished())
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::restoreOverrideCursor();
    if (!self)
        return false; // the window was closed by the desktop meanwhile
    setControlsEnabled(true);
    if (fault->failed()) {
        note_->setText(reasonText(*fault));
        return false;
    }
    return showCounted(*r);
}

void ReportWindow::setControlsEnabled(bool enabled) {
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != note_ && w != tabs_)
            w->setEnabled(enabled);
}

bool ReportWindow::showCounted(const report::MonthReport& r) {
    month_ = r.month.toString(QStringLiteral("yyyy-MM"));
    shown_ = report::reportTables(r, uiLanguage());
    showTables();
    note_->setText(text(Text::ReportCounted)
                       .arg(month_)
                       .arg(r.total.total())
                       .arg(r.employees.size())
                       .arg(r.cards.size()));
    return true;
}

void ReportWindow::showTables() {
    while (tabs_->count() > 0) {
        QWidget* page = tabs_->widget(0);
        tabs_->removeTab(0);
        delete page;
    }
    for (const report::Table& t : std::as_const(shown_)) {
        auto* view = new QTableWidget(int(t.texts.size()), int(t.headings.size()), tabs_);
        view->setHorizontalHeaderLabels(t.headings);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->hide();
        for (int r = 0; r < t.texts.size(); ++r)
            for (int c = 0; c < t.headings.size(); ++c) {
                auto* item = new QTableWidgetItem(cellText(t, r, c));
                if (c >= t.textColumns)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                view->setItem(r, c, item);
            }
        tabs_->addTab(view, t.name);
    }
}

bool ReportWindow::exportTo(const QString& path) {
    const report::WriteFault fault = report::writeReport(shown_, path, report::formatOf(path));
    note_->setText(fault.failed() ? text(Text::ReportNotWritten).arg(path, fault.reason)
                                  : text(Text::ReportWritten).arg(path));
    return !fault.failed();
}

QString ReportWindow::html() const {
    // A table's head rows are printed again at the top of every page it runs over: the site,
    // the month and the table's name, then its column headings.
    QString out;
    for (const report::Table& t : shown_) {
        out += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" "
                              "width=\"100%\"><thead><tr><th colspan=\"%1\" align=\"left\">%2"
                              "</th></tr><tr>")
                   .arg(t.headings.size())
                   .arg(QStringLiteral("%1 · %2 %3 · %4")
                            .arg(siteName_, text(Text::MonthReport), month_, t.name)
                            .toHtmlEscaped());
        for (const QString& h : t.headings)
            out += QStringLiteral("<th>%1</th>").arg(h.toHtmlEscaped());
        out += QStringLiteral("</tr></thead>");
        for (int r = 0; r < t.texts.size(); ++r) {
            out += QStringLiteral("<tr>");
            for (int c = 0; c < t.headings.size(); ++c)
                out += (c < t.textColumns ? QStringLiteral("<td>%1</td>")
                                          : QStringLiteral("<td align=\"right\">%1</td>"))
                           .arg(cellText(t, r, c).toHtmlEscaped());
            out += QStringLiteral("</tr>");
        }
        out += QStringLiteral("</table><p></p>");
    }
    return out;
}

bool ReportWindow::print() {
    QPrinter printer(QPrinter::HighResolution);
    // The dialog names a PDF file after the document when printing to a file.
    printer.setDocName(QStringLiteral("meals-%1").arg(month_));
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return printOn(printer, printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName()
                                                                          : QString());
}

bool ReportWindow::printTo(const QString& pdfPath) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    return printOn(printer, pdfPath);
}

bool ReportWindow::printOn(QPrinter& printer, const QString& pdfPath) {
    QTextDocument doc;
    doc.setHtml(html());
    // The two head rows of each table (the site and month, the headings) on every page.
    for (QTextFrame* frame : doc.rootFrame()->childFrames())
        if (auto* table = qobject_cast<QTextTable*>(frame)) {
            QTextTableFormat format = table->format();
            format.setHeaderRowCount(2);
            table->setFormat(format);
        }
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    doc.print(&printer);
    // The printer says nothing of a file it could not write: the file tells.
    bool done = printer.printerState() != QPrinter::Error;
    if (!pdfPath.isEmpty()) {
        const QFileInfo file(pdfPath);
        done = done && file.size() > 0 && file.lastModified() >= before;
    }
    const QString where = pdfPath.isEmpty() ? printer.printerName() : pdfPath;
    note_->setText(done ? text(Text::ReportPrinted).arg(where)
                        : text(Text::ExportFailed).arg(where));
    return done;
}

} // namespace bw::host::console
