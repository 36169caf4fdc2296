#include "bench.h"

namespace benchmark {

void storm()
{
    QStringList table;
    qint64 lost[2] = {}, sent = 0, most = 0;
    double calm = -1; // seconds from the burst's end until a second with under 0.02 s of CPU
    for (const bool on : {false, true}) {
        Subject r{{"", on ? balloons : quiet}};
        r.start();
        QThread::sleep(2);
        const qint64 pid = r.process.processId(), rest = rssKiB(pid);
        sent = sentBy(run(sim(), simArgs(r.sandbox.port(), 1, bench.quick ? 6000 : 20000, 2000)));
        const qint64 after = rssKiB(pid);
        qint64 later = 0;
        QList<double> cpu; // every 100 ms from the burst's end
        calm = -1;
        for (int tick = 0; tick <= 600 && (tick <= 100 || calm < 0); ++tick, QThread::msleep(100)) {
            cpu << cpuSeconds(pid);
            later = tick == 100 ? rssKiB(pid) : later;
            if (calm < 0 && tick >= 10 && cpu[tick] - cpu[tick - 10] < 0.02)
                calm = (tick - 10) / 10.0;
        }
        lost[on] = sent - r.drained(sent);
        most = std::max(after, later) - rest;
        table << row(on ? "on" : "off", str(sent), str(lost[on]), mib(rest), grown(after - rest),
                     grown(later - rest), num(cpu.value(100, cpu.last()) - cpu.first(), 2),
                     calm < 0 ? "> 60" : num(calm, 1));
    }
    section("storm",
            {"seconds", bench.quick ? "3" : "10", "rows", table.join('\n'), "lostOn", str(lost[1]),
             "lostOff", str(lost[0]), "lostMet", yes(sent && lost[1] <= lost[0]), "grown",
             grown(most), "grownMet", yes(most <= 10 * 1024), "calm",
             calm < 0 ? "> 60" : num(calm, 1), "calmMet", yes(calm >= 0 && calm <= 2)});
}

} // namespace benchmark
