// What the parts of the bench share (bench.h).
#include "bench.h"

namespace benchmark {

Bench bench;

// Whether `process` has the socket of that inode open.
bool holdsSocket(const QProcess &process, qint64 inode)
{
    const QDir fds(QString("/proc/%1/fd").arg(process.processId()));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System)) {
        if (fd.symLinkTarget().endsWith(QString("socket:[%1]").arg(inode)))
            return true;
    }
    return false;
}

// `text` with each {{name}} replaced, from pairs of name and value.
QString fill(QString text, const QStringList &pairs)
{
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        text.replace("{{" + pairs[i] + "}}", pairs[i + 1]);
    return text;
}

// The part's block and its rows of the summary table, filled in.
void section(const QString &part, const QStringList &pairs)
{
    bench.summary << fill(bench.blocks.value(part + " summary"), pairs).trimmed();
    bench.details += fill(bench.blocks.value(part), pairs);
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(900000);
    return QString::fromLocal8Bit(p.readAll());
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}

qint64 rssKiB(qint64 pid)
{
    return firstMatch(readText(QString("/proc/%1/status").arg(pid)), "^VmRSS:\\s+(\\d+)")
        .toLongLong();
}

// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    const QString stat = readText(QString("/proc/%1/stat").arg(pid));
    const QStringList f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return f.size() > 12 ? (f[11].toDouble() + f[12].toDouble()) / double(sysconf(_SC_CLK_TCK)) : 0;
}

Port udpPort(quint16 port)
{
    Port p;
    for (const QString &line :
         QString(readText("/proc/net/udp") + readText("/proc/net/udp6")).split('\n')) {
        const QStringList c = line.simplified().split(' ');
        if (c.size() > 12 && c[1].section(':', 1).toUInt(nullptr, 16) == port) {
            ++p.sockets;
            p.queued += c[4].section(':', 1).toLongLong(nullptr, 16);
            p.drops += c.last().toLongLong();
            p.inode = c[9].toLongLong();
        }
    }
    return p;
}

// Milliseconds to create, write 100 bytes to and close a file in the temporary folder, where the
// sandboxes keep their data; with `sync`, made durable as Trelvant makes a new data file durable.
QString fileCreation(bool sync)
{
    QTemporaryDir dir;
    const int folder = open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 500; ++i) {
        const int f =
            open(QFile::encodeName(dir.filePath(str(i))).constData(), O_WRONLY | O_CREAT, 0644);
        if (write(f, QByteArray(100, 'x').constData(), 100) != 100 ||
            (sync && (fdatasync(f) || fsync(folder))) || close(f))
            return "failed";
    }
    close(folder);
    return num(t.nsecsElapsed() / 1e6 / 500, 2) + " ms";
}

// scale-sim's arguments for `datagrams` of one record, `packets` to a transfer, to `port`.
QStringList simArgs(quint16 port, int packets, qint64 datagrams, int rate)
{
    const qint64 transfers = (datagrams + scales * packets - 1) / (scales * packets);
    return {"--port",    str(port),    "--scales",    str(scales),
            "--packets", str(packets), "--transfers", str(transfers),
            "--records", "1",          "--rate",      str(rate),
            "--seed",    "1",          "--time",      stamp};
}

// A UDP socket with the receive buffer Trelvant asks for, bound to `port` to receive, or to send
// connected to it on 127.0.0.1; -1 if that failed.
int udpSocket(quint16 port, bool receive)
{
    const sockaddr_in address{
        AF_INET, htons(port), {htonl(receive ? INADDR_ANY : INADDR_LOOPBACK)}, {}};
    const auto *a = reinterpret_cast<const sockaddr *>(&address);
    const int sock = socket(AF_INET, SOCK_DGRAM, 0), buffer = 4 * 1024 * 1024;
    if (receive)
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (sock >= 0 &&
        (receive ? bind(sock, a, sizeof address) : connect(sock, a, sizeof address)) == 0)
        return sock;
    perror("bench-driver");
    return -1;
}

// The least a receiver can do: up to 64 datagrams per recvmmsg() call appended to dir/data_0.txt
// with one writev(), or, `perDatagram`, each in a new file dir/data_N.txt with one write().
int bare(quint16 port, const QByteArray &dir, bool perDatagram)
{
    const int sock = udpSocket(port, true);
    const QByteArray all = dir + "/data_0.txt";
    const int file = perDatagram ? 0 : open(all.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (sock < 0 || file < 0)
        return 1;
    puts("ready");
    fflush(stdout);
    static char data[batch][65536];
    Batch in;
    for (long next = 1;;) {
        for (int i = 0; i < batch; ++i)
            in.iov[i] = {data[i], sizeof data[i]};
        const int n = recvmmsg(sock, in.headers, batch, MSG_WAITFORONE, nullptr);
        for (int i = 0; i < n; ++i)
            in.iov[i].iov_len = in.headers[i].msg_len; // what writev() and write() take of it
        for (int i = 0; perDatagram && i < n; ++i) {
            const QByteArray name = dir + "/data_" + QByteArray::number(next++) + ".txt";
            const int f = open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (f < 0 || write(f, data[i], in.iov[i].iov_len) < 0 || close(f) != 0)
                return 1;
        }
        if (!perDatagram && n > 0 && writev(file, in.iov, n) < 0)
            return 1;
    }
}

// Sends `count` datagrams of `t`, cycling through them, at `rate` a second on a fixed schedule
// and up to 64 per sendmmsg() call, faster than scale-sim can: how many, at what rate.
std::pair<qint64, double> sendPaced(const Traffic &t, quint16 port, int rate, qint64 count)
{
    const int sock = udpSocket(port, false);
    Batch out;
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    while (sock >= 0 && sent < count) {
        const qint64 due = std::min(count, qint64(clock.nsecsElapsed() / 1e9 * rate) + 1);
        if (due <= sent) {
            QThread::usleep(50); // ahead of the schedule
            continue;
        }
        const int n = int(std::min<qint64>(batch, due - sent));
        for (int i = 0; i < n; ++i) {
            const QByteArray &d = t.datagrams[(sent + i) % t.datagrams.size()];
            out.iov[i] = {const_cast<char *>(d.constData()), size_t(d.size())};
        }
        const int done = sendmmsg(sock, out.headers, unsigned(n), 0);
        if (done < 0)
            return {};
        sent += done;
    }
    close(sock);
    return {sent, sent / (clock.nsecsElapsed() / 1e9)};
}

// One run at `rate` in a fresh sandbox, added to `s`.
void pacedRun(Sweep &s, const Target &target, const Traffic &traffic, int rate)
{
    Subject r{target};
    const bool started = r.start();
    const double cpu0 = cpuSeconds(r.process.processId());
    const int round = scales * traffic.packets; // whole transfers of every scale
    const qint64 wanted = std::max<qint64>(qint64(rate) * traffic.seconds, traffic.minimum);
    const qint64 count = (wanted + round - 1) / round * round;
    const auto [sent, achieved] =
        started ? sendPaced(traffic, r.sandbox.port(), rate, count) : std::pair(0LL, 0.0);
    const qint64 written = r.drained(sent);
    const double cpuUs =
        (cpuSeconds(r.process.processId()) - cpu0) * 1e6 / std::max<qint64>(written, 1);
    const bool limited = achieved < 0.97 * rate;
    s.runs << row(s.receiver, str(rate), num(achieved) + (limited ? " (sender-limited)" : ""),
                  str(sent), str(written), str(sent - written),
                  str(udpPort(r.sandbox.port()).drops), num(cpuUs, 1));
    qInfo("  %s at %d/s: %lld of %lld", qPrintable(s.receiver), rate, written, sent);
    if (sent > 0 && written == sent)
        std::tie(s.held, s.limited) = std::pair(rate, limited);
}

// Rising rates, the targets taking turns at each so that the machine's drift weighs on all
// alike. A rate counts as held when one of up to three runs loses nothing (other work on the
// machine only ever adds loss); a target's series ends at the first rate that every run lost at.
QList<Sweep> sweep(const QList<Target> &targets, const Traffic &traffic, const QList<int> &rates)
{
    QList<Sweep> s;
    for (const Target &t : targets)
        s << Sweep{t.name};
    for (int r = 0; r < rates.size(); ++r)
        for (int i = 0; i < targets.size(); ++i)
            for (int n = 0; n < (bench.quick ? 1 : 3) && s[i].held == rates.value(r - 1); ++n)
                pacedRun(s[i], targets[i], traffic, rates[r]);
    for (Sweep &x : s)
        x.top = x.held == rates.last();
    return s;
}

// The tables `prefix`Held, the highest zero-loss rate of each sweep against `reference`'s, and
// `prefix`Runs, every run.
QStringList tables(const QString &prefix, const QList<Sweep> &sweeps, const Sweep &reference)
{
    QStringList held, runs;
    for (const Sweep &s : sweeps) {
        held << row(s.receiver, s.text(), s.of(reference));
        runs += s.runs;
    }
    return {prefix + "Held", held.join('\n'), prefix + "Runs", runs.join('\n')};
}

// Figure per data row of bench_datagram, from Qt Test's RESULT lines.
QMap<QString, double> benchResults(const QStringList &args)
{
    QMap<QString, double> figures;
    const QRegularExpression result("RESULT : \\S+:\"([^\"]+)\":\\s*\\n\\s*([\\d.,]+) ");
    for (auto it = result.globalMatch(run(bench.build + "/bench/bench_datagram", args));
         it.hasNext();) {
        const auto m = it.next();
        figures[m.captured(1)] = m.captured(2).remove(',').toDouble();
    }
    return figures;
}

} // namespace benchmark
