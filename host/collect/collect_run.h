#pragma once

#include "host/collect/collector.h"
#include "host/collect/meal_store.h"
#include "host/link/link.h"

#include <QList>
#include <QString>
#include <atomic>
#include <functional>

namespace bw::host::collect {

// The terminal's side over the connect link, Pellworth.Link.
class LinkSource : public RecordSource {
public:
    LinkSource(int address, const QString& port);
    ~LinkSource() override;
    // Opens the serial line or the TCP connection the port text names.
    bool open();
    bool status(RecordStatus& status) override;
    bool read(quint32 from, int count, QVector<MealRecord>& out) override;
    bool erase(quint32 upTo) override;
    QString error() const override;
    Failure failure() const override;
    Link& link() { return link_; }

private:
    int address_;
    QString port_;
    QString openError_;
    Link link_;
};

// Collects every terminal in turn on the connection cn (which must belong to the calling
// thread): the records go into MealRecord, each terminal's collection into CtrlLog.
// progress(i, so far, total) and done(i, outcome) name the terminal by its index.
struct RunHandlers {
    std::function<void(int, qint64, qint64)> progress;
    std::function<void(int, const Outcome&)> done;
};
void runCollection(store::SqlConnection& cn, const QList<TerminalEntry>& terminals,
                   const QString& user, const Options& options, const RunHandlers& handlers,
                   const std::atomic_bool* cancel = nullptr);

// Downloads to every terminal in turn its list from CardMapping (names::cardsOf) with
// Link::writeNameList: the outcome's total is the list's cards, read those sent; the terminal
// keeps its previous list unless the outcome is Done. Each is logged as "下载名单".
void runNameDownload(store::SqlConnection& cn, const QList<TerminalEntry>& terminals,
                     const QString& user, const RunHandlers& handlers,
                     const std::atomic_bool* cancel = nullptr);
QString namesResultText(const Outcome& outcome);

// A run over terminals on one connection: runCollection or runNameDownload.
using LineJob =
    std::function<void(store::SqlConnection&, const QList<TerminalEntry>&, const RunHandlers&)>;
// Runs job on every line of the terminals at the same time (workLines), each line on a
// connection of its own to the database `connection` and the terminals of a line in turn.
// The handlers name the terminal by its index in terminals and are called one at a time,
// from the lines' threads. A line whose connection fails ends with its terminals failed.
void runOnLines(const QString& connection, const QList<TerminalEntry>& terminals,
                const RunHandlers& handlers, const LineJob& job);

// The one-line result of a terminal in the user-interface language.
QString resultText(const Outcome& outcome);
// The same in plain English, for the command line.
QString resultLine(const Outcome& outcome);

} // namespace bw::host::collect
