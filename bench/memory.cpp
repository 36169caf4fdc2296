#include "bench.h"

namespace benchmark {

void memory()
{
    qputenv("TMPDIR", QFile::encodeName(bench.rateData)); // the sandbox where the rate's go
    Subject r{{"", balloons}};
    qputenv("TMPDIR", QFile::encodeName(bench.tmp));
    const qint64 datagrams = bench.quick ? 200000 : 1000000;
    qint64 rest = 0, after = 0, written = 0, sent = 0;
    if (r.start()) {
        QThread::sleep(2);
        rest = rssKiB(r.process.processId());
        sent = sentBy(run(sim(), simArgs(r.sandbox.port(), 100, datagrams, 50000)));
        written = r.drained(sent);
        after = rssKiB(r.process.processId());
    }
    const QString records = QString("%1 of %2").arg(written).arg(sent);
    section("memory", {"datagrams", str(datagrams), "shown", bench.quick ? "200,000" : "1,000,000",
                       "change", grown(after - rest), "met", yes(sent && after - rest <= 5 * 1024),
                       "row", row(mib(rest), mib(after), grown(after - rest), records)});
}

} // namespace benchmark
