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

} // namespace bw::host::names
