#include "bench.h"

namespace benchmark {

void start()
{
    const int files = bench.quick ? 5000 : 20000, datagrams = 5000;
    const QByteArray content =
        readText(PROJECT_SOURCE_DIR "/tests/data/example-english.txt").toLatin1();
    qint64 openMs[2] = {-1, -1}, written = 0, sent = 0;
    double restS = -1; // until a second with under 0.02 s of CPU: counted
    for (const bool traffic : {false, true}) {
        Subject r{{"", quiet}};
        const QString day =
            r.sandbox.dataFolder() + "/" + QDate::currentDate().toString("dd.MM.yyyy");
        QDir().mkpath(day);
        for (int i = 1; i <= files; ++i) {
            QFile f(day + QString("/data_%1.txt").arg(i));
            if (f.open(QIODevice::WriteOnly))
                f.write(content);
        }
        QElapsedTimer t;
        t.start();
        if (!r.sandbox.start(r.process, trelvant(), false))
            continue;
        while (udpPort(r.sandbox.port()).sockets == 0 && t.elapsed() < 10000)
            QThread::msleep(1);
        openMs[traffic] = t.elapsed();
        if (traffic) {
            sent = sentBy(run(sim(), simArgs(r.sandbox.port(), 100, datagrams, 1000)));
            written = r.drained(files + sent) - files;
        }
        QList<double> cpu; // every 100 ms
        for (int tick = 0; !traffic && tick < 600 && restS < 0; ++tick, QThread::msleep(100)) {
            cpu << cpuSeconds(r.process.processId());
            if (cpu.size() > 10 && cpu.last() - cpu[cpu.size() - 11] < 0.02)
                restS = (t.elapsed() - 1000) / 1000.0;
        }
    }
    const bool openMet =
        std::min(openMs[0], openMs[1]) >= 0 && std::max(openMs[0], openMs[1]) <= 1000;
    section("start", {"files", str(files), "datagrams", str(datagrams), "sent", str(sent), "open",
                      QString("%1 ms; %2 ms").arg(openMs[0]).arg(openMs[1]), "openMet",
                      yes(openMet), "rest", restS < 0 ? QString("> 60 s") : num(restS, 1) + " s",
                      "lost", str(sent - written), "lostMet", yes(sent > 0 && written == sent)});
}

} // namespace benchmark
