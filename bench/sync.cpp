#include "bench.h"

namespace benchmark {

void sync()
{
    const QString create = fileCreation(), createSync = fileCreation(true);
    const Traffic one{1, bench.quick ? 3 : 10, bench.quick ? 3000 : 30000};
    const Traffic many{100, bench.quick ? 1 : 2, bench.quick ? 10000 : 30000};
    const Target syncing{"Trelvant, syncing", quiet},
        eaten{"Trelvant under eatmydata", quiet, "", true};
    const QList<int> slow =
        bench.quick ? QList<int>{500, 1000, 2000, 4000}
                    : QList<int>{500, 1000, 1500, 2000, 3000, 4000, 6000, 8000, 10000, 12000};
    const QList<Sweep> ones =
        sweep({{"bare, a file per datagram", {}, "bare-files"}, syncing, eaten}, one, slow);
    const QList<Sweep> manys = sweep({syncing, eaten}, many, fastRates());
    QStringList v{"create",        create,
                  "createSync",    createSync,
                  "createEnd",     fileCreation(),
                  "createSyncEnd", fileCreation(true),
                  "seconds",       str(one.seconds),
                  "minimum",       str(one.minimum),
                  "manySeconds",   str(many.seconds),
                  "manyMinimum",   str(many.minimum),
                  "bare",          ones[0].text()};
    // Of each size of transfer: the rate syncing, the rate not, their ratio and the goal met.
    for (const auto &[size, s, goal] :
         {std::tuple{QString("one"), ones.mid(1), 0.5}, {"many", manys, 0.8}})
        v << size + "Sync" << s[0].text() << size + "Eaten" << s[1].text() << size + "Of"
          << s[0].of(s[1]) << size + "Met" << yes(s[0].held && s[0].ratio(s[1]) >= goal);
    section("sync", v + tables("one", ones, ones[2]) + tables("many", manys, manys[1]));
}

} // namespace benchmark
