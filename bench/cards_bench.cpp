// An import of cards from a CSV file into the embedded database, as `brackwater-site cards
// import` makes it: the file read (encoding, header, every row checked), then every row written
// in one transaction with the operation log's entry.
//
// BM_ImportCards/20000: 20,000 cards with names, a GB18030 file, onto a terminal that holds
// them already (every row an update) or none (--replace: every row an insert); the limit is 1 s.

#include "host/ledger/schema.h"
#include "host/names/cards.h"
#include "store/sql_connection.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <iconv.h>

namespace {

QByteArray gb18030(const QByteArray& utf8) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    QByteArray out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = size_t(utf8.size()), outLeft = size_t(out.size());
    char* to = out.data();
    iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    out.truncate(out.size() - int(outLeft));
    return out;
}

QString cardFile(const QTemporaryDir& dir, int n) {
    QByteArray text = "卡号,工号,姓名\r\n";
    for (int i = 0; i < n; ++i)
        text += QStringLiteral("%1,E%2,职工%3\r\n")
                    .arg(i + 1, 8, 10, QLatin1Char('0'))
                    .arg(i, 6, 10, QLatin1Char('0'))
                    .arg(i)
                    .toUtf8();
    const QString path = dir.filePath(QStringLiteral("cards.csv"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(gb18030(text));
    return path;
}

void BM_ImportCards(benchmark::State& state) {
    QTemporaryDir dir;
    const QString file = cardFile(dir, int(state.range(0)));
    bw::store::SqlConnection cn(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("h.db")),
                                bw::store::Create::Yes);
    bw::host::createHostSchema(cn, true);
    const bool replace = state.range(1) != 0;
    for (auto _ : state) {
        const bw::host::names::CardFile cards = bw::host::names::readCardFile(file);
        if (!cards.ok()) {
            state.SkipWithError("the file was refused");
            return;
        }
        bw::host::names::importCards(cn, 1, cards, replace, {});
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ImportCards)
    ->ArgsProduct({{20000}, {0, 1}})
    ->ArgNames({"cards", "replace"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
