#include "bench.h"

namespace benchmark {

// The datagrams the system found no socket for, so far (loopback's count is all of the bench's).
qint64 noSocketDatagrams()
{
    const QStringList lines = readText("/proc/net/snmp").split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith("Udp:") && lines[i + 1].startsWith("Udp:"))
            return lines[i + 1].simplified().split(' ').value(2).toLongLong(); // NoPorts
    }
    return -1;
}

// A tray program receiving a paced stream hands its port over to the service started beside it:
// its socket moves (a user who may change the service), or it frees the port and the service
// opens it (another user; run as root, the tray program runs as nobody). The system's count of
// datagrams that met no socket tells how long the port was unbound, to a datagram's interval.
void handover()
{
    const int runs = bench.quick ? 2 : 10, rate = 1000, datagrams = 6 * rate;
    QStringList table;
    qint64 lostMoved = 0, movedRuns = 0, freedRuns = 0, lostFreed = 0, worstUnbound = 0;
    for (const bool moved : {true, false}) {
        if (!moved && geteuid() != 0) {
            table << row(QString("freed"), QString("-"), QString("needs root"));
            continue;
        }
        for (int run = 1; run <= runs; ++run) {
            Subject tray{{"", quiet}};
            Sandbox service({{"UdpPort", int(tray.sandbox.port())}, {"ShowTrayMessage", false}});
            tray.sandbox.followService(service);
            if (!moved &&
                (!tray.sandbox.handTo(tray.process, "nobody") ||
                 !QFile::setPermissions(service.home(), QFile::ReadOwner | QFile::WriteOwner |
                                                            QFile::ExeOwner | QFile::ExeOther)))
                continue;
            QProcess serviceProcess, stream;
            if (!tray.start())
                continue;
            const quint16 port = tray.sandbox.port();
            const qint64 before = udpPort(port).inode;
            stream.start(sim(), simArgs(port, 100, datagrams, rate));
            QThread::sleep(2);
            const qint64 unboundBefore = noSocketDatagrams();
            QElapsedTimer t;
            t.start();
            service.start(serviceProcess, trelvant(), false, {"--service"});
            // Until the tray program holds no copy of its socket, or the port has another one.
            for (Port p; t.elapsed() < 10000; QThread::msleep(1)) {
                p = udpPort(port);
                if (p.sockets > 0 && (p.inode != before || !holdsSocket(tray.process, before)))
                    break;
            }
            const qint64 handedMs = t.elapsed();
            QThread::msleep(100);
            const qint64 unbound = noSocketDatagrams() - unboundBefore;
            const bool sameSocket = udpPort(port).inode == before;
            stream.waitForFinished(120000);
            const qint64 sent = sentBy(QString::fromLocal8Bit(stream.readAll()));
            qint64 filed = -1;
            for (qint64 last = -2; filed != last; QThread::msleep(500))
                last = std::exchange(filed, tray.records() + service.records().size());
            serviceProcess.kill();
            serviceProcess.waitForFinished();
            (moved ? lostMoved : lostFreed) += sent - filed;
            ++(moved ? movedRuns : freedRuns);
            if (!moved)
                worstUnbound = std::max(worstUnbound, unbound);
            table << row(QString(moved ? "moved" : "freed"), str(run), str(sent),
                         str(tray.records()), str(filed - tray.records()), str(sent - filed),
                         QString(sameSocket ? "the tray program's" : "its own"), str(unbound),
                         str(handedMs));
        }
    }
    // At `rate` datagrams a second, each that met no socket is a millisecond unbound.
    const double worstGapMs = worstUnbound * 1000.0 / rate;
    section("handover",
            {"rate", str(rate), "datagrams", str(datagrams), "rows", table.join('\n'), "runs",
             str(runs), "lostMoved", str(lostMoved), "lostFreed", str(lostFreed), "gap",
             num(worstGapMs, 0), "movedMet", yes(movedRuns == runs && lostMoved == 0), "freedMet",
             yes(freedRuns == runs && worstGapMs <= 5)});
}

} // namespace benchmark
