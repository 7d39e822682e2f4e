#include "host/names/name_lists.h"

#include "host/link/terminal_protocol.h"

namespace bw::host::names {

QStringList cardsOf(store::SqlConnection& cn, int address) {
    QStringList cards;
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT CardNo FROM CardMapping WHERE MachAddr = ?"), {address});
    cards.reserve(rows.size());
    for (const QVariantList& row : rows)
        cards.append(row.value(0).toString());
    return protocol::normalisedCards(cards);
}

QHash<int, QStringList> cardsOfEach(store::SqlConnection& cn, const QList<int>& addresses) {
    constexpr int PerQuery = 500; // bound values per statement, well within every engine's
    QHash<int, QStringList> out;
    for (int first = 0; first < addresses.size(); first += PerQuery) {
        const QList<int> some = addresses.mid(first, PerQuery);
        QVariantList values;
        for (int a : some) {
            values << a;
            out.insert(a, {});
        }
        // The database matches MachAddr against the numbers, as it does for one terminal; the
        // rows are then grouped here by the number they matched.
        QString marks = QStringLiteral("?");
        marks += QStringLiteral(", ?").repeated(int(some.size()) - 1);
        const auto rows = cn.queryBound(
            QStringLiteral("SELECT MachAddr, CardNo FROM CardMapping WHERE MachAddr IN (%1)")
                .arg(marks),
            values);
        for (const QVariantList& row : rows) {
            bool ok = false;
            const int a = row.value(0).toInt(&ok);
            if (ok && out.contains(a))
                out[a].append(row.value(1).toString());
        }
    }
    for (QStringList& cards : out)
        cards = protocol::normalisedCards(cards);
    return out;
}

} // namespace bw::host::names
