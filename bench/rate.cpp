#include "bench.h"

namespace benchmark {

void rate()
{
    const Traffic t{100, bench.quick ? 1 : 2, bench.quick ? 10000 : 30000};
    const QVariantMap debug{{"ShowTrayMessage", false}, {"Debug", true}};
    // Ten entries, the sender (127.0.0.1) matching the last.
    const QVariantMap allowed{
        {"ShowTrayMessage", false},
        {"AllowedSenders", "10.0.0.0/8 172.16.0.0/12 192.168.0.0/24 192.168.2.0/24 "
                           "192.168.3.0/24 192.168.4.0/24 fd00::/8 2001:db8::/32 ::1 127.0.0.1"}};
    qputenv("TMPDIR", QFile::encodeName(bench.rateData)); // where the sandboxes go
    QList<Sweep> s = sweep({{"bare recvmmsg", {}, "bare"},
                            {"Trelvant", quiet},
                            {"Trelvant, debug on", debug},
                            {"Trelvant, 10 allowed senders", allowed}},
                           t, fastRates());
    qputenv("TMPDIR", QFile::encodeName(bench.tmp));
    s += sweep({{"Trelvant, data on disk", quiet}}, t, fastRates());
    section("rate",
            tables("rate", s, s[0]) +
                QStringList{"seconds", str(t.seconds), "minimum",   str(t.minimum),
                            "bare",    s[0].text(),    "notices",   s[1].text(),
                            "ofBare",  s[1].of(s[0]),  "ofBareMet", yes(s[1].ratio(s[0]) >= 0.9),
                            "disk",    s[4].text(),    "debug",     s[2].text(),
                            "debugOf", s[2].of(s[1]),  "debugMet",  yes(s[2].ratio(s[1]) >= 0.5),
                            "allowed", s[3].text(),    "allowedOf", s[3].of(s[1])});
}

} // namespace benchmark
