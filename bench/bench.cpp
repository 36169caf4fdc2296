// Measures Trelvant from outside and writes bench/RESULTS.md from bench/report.md.in, a block for
// each part measured (`parts` at the end). It sends the paced traffic itself and, run as
// `bench-driver bare PORT DIR` or `bare-files PORT DIR`, is the bare receiver.
//
//   bench-driver --build DIR [--quick] [--parts cpu,rate,memory,storm,menu,sync,start,handover]
//                [--results FILE] [--rate-data DIR]
#include "sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

const QString stamp = "2024-03-07T08:09:05"; // the time in the records: same bytes every run
constexpr int scales = 8, batch = 64;        // batch: datagrams per sendmmsg() or recvmmsg()
constexpr qint64 recordBytes = 65;           // a one-record datagram: 13 bytes of head, the CRC
const QVariantMap quiet{{"ShowTrayMessage", false}}, balloons{{"ShowTrayMessage", true}};

// The run's settings and the report it adds to.
struct Bench
{
    QString build, rateData, tmp = QDir::tempPath();
    bool quick = false;
    QMap<QString, QString> blocks; // of the template, by name
    QStringList summary;           // rows of its table
    QString details;
} bench;

const auto str = [](qint64 v) { return QString::number(v); };
const auto num = [](double v, int decimals = 0) { return QString::number(v, 'f', decimals); };
const auto yes = [](bool met) { return met ? "met" : "**not met**"; };
const auto mib = [](qint64 kib) -> QString { return num(kib / 1024.0, 1) + " MiB"; };
const auto grown = [](qint64 kib) -> QString { return (kib >= 0 ? "+" : "") + mib(kib); };
const auto sim = []() -> QString { return bench.build + "/tools/scale-sim/scale-sim"; };
const auto trelvant = []() -> QString { return bench.build + "/Trelvant"; };
const auto firstMatch = [](const QString &text, const QString &pattern) {
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).captured(1);
};
const auto sentBy = [](const QString &simOutput) {
    return firstMatch(simOutput, "^datagrams:\\s+(\\d+)").toLongLong();
};

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

// A row of a Markdown table, below a head that the template holds.
template <class... Cells> QString row(const Cells &...cells)
{
    return "| " + QStringList{cells...}.join(" | ") + " |";
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

// The UDP sockets bound to a port: how many, what waits in them and what the kernel dropped, and
// the inode of the last one listed.
struct Port
{
    int sockets = 0;
    qint64 queued = 0, drops = 0, inode = 0;
};
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
QString fileCreation(bool sync = false)
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

// The datagrams of one sendmmsg() or recvmmsg() call, the bytes of each in `iov`.
struct Batch
{
    iovec iov[batch];
    mmsghdr headers[batch]{};
    Batch()
    {
        for (int i = 0; i < batch; ++i)
            headers[i].msg_hdr = {nullptr, 0, &iov[i], 1, nullptr, 0, 0};
    }
};

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

// Trelvant, under Debian's eatmydata (which preloads libeatmydata.so: syncs made no-ops) or
// not, or the `bare` receiver ("bare" or "bare-files").
struct Target
{
    QString name;
    QVariantMap options = {};
    QString bare = {};
    bool eatmydata = false;
};

// A receiver in a sandbox of its own, killed with it.
struct Receiver
{
    const Target t;
    Sandbox sandbox{t.options};
    QProcess process;

    explicit Receiver(const Target &target) : t(target) {}
    ~Receiver()
    {
        process.kill();
        process.waitForFinished();
    }
    bool start()
    {
        if (t.bare.isEmpty())
            return t.eatmydata ? sandbox.start(process, "eatmydata", true, {trelvant()})
                               : sandbox.start(process, trelvant());
        QDir().mkpath(sandbox.dataFolder());
        process.start(QCoreApplication::applicationFilePath(),
                      {t.bare, str(sandbox.port()), sandbox.dataFolder()});
        return process.waitForReadyRead(5000);
    }
    // Read here: sandbox.records() is slow over the many files of one-datagram transfers.
    qint64 records() const
    {
        qint64 n = 0;
        for (QDirIterator it(sandbox.dataFolder(), {"data_*.txt"}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            QFile f(it.next());
            if (!t.bare.isEmpty())
                n += f.size() / recordBytes;
            else if (f.open(QIODevice::ReadOnly))
                n += std::max<qint64>(f.readAll().count('\n') - 13, 0); // below a 13-line header
        }
        return n;
    }
    // Waits until the socket is empty and nothing more reaches the files.
    qint64 drained(qint64 expected) const
    {
        QElapsedTimer waited;
        waited.start();
        for (qint64 last = -1, n; waited.elapsed() < 60000; last = n, QThread::msleep(250)) {
            n = udpPort(sandbox.port()).queued > 0 ? -1 : records();
            if (n >= expected || (n >= 0 && n == last))
                return n;
        }
        return records();
    }
};

// 80000 datagrams of scale-sim's, to be sent for `seconds` at any rate and at least `minimum`,
// in whole rounds of the scales' transfers.
struct Traffic
{
    int packets, seconds, minimum;
    QList<QByteArray> datagrams = load();
    QList<QByteArray> load() const
    {
        QProcess hex;
        hex.start(sim(), simArgs(0, packets, 80000, 0).mid(2) << "--hex");
        hex.waitForFinished();
        QList<QByteArray> all = hex.readAllStandardOutput().split('\n');
        all.removeAll({});
        for (QByteArray &d : all)
            d = QByteArray::fromHex(d); // skipping the blanks between the bytes
        return all;
    }
};

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

// A rising series of paced runs against one receiver.
struct Sweep
{
    QString receiver;
    QStringList runs = {};
    int held = 0;         // the highest rate at which a run lost nothing
    bool limited = false; // the sender fell short of it
    bool top = false;     // it is the highest rate tried: the limit lies above
    QString text() const
    {
        return (top ? "≥ " : "") + str(held) + (limited ? " (sender-limited)" : "");
    }
    double ratio(const Sweep &to) const { return double(held) / std::max(1, to.held); }
    QString of(const Sweep &to) const { return num(ratio(to), 2); }
};

// One run at `rate` in a fresh sandbox, added to `s`.
void pacedRun(Sweep &s, const Target &target, const Traffic &traffic, int rate)
{
    Receiver r{target};
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

const auto fastRates = [] {
    return bench.quick
               ? QList<int>{50000, 100000, 150000, 200000, 250000, 300000}
               : QList<int>{20000,  40000,  60000,  80000,  100000, 120000, 140000, 160000, 180000,
                            200000, 225000, 250000, 275000, 300000, 350000, 400000, 500000};
};

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

void cpu()
{
    const auto instructions =
        benchResults({"-callgrind", "-iterations", bench.quick ? "512" : "2560"});
    const auto ms = benchResults({"-minimumvalue", "200"});
    QStringList table, figures;
    for (auto it = instructions.cbegin(); it != instructions.cend(); ++it) {
        table << row(it.key(), num(it.value()), num(ms.value(it.key()) * 1e6));
        figures << row("Instructions per datagram: " + it.key(), num(it.value()), "-", "-");
    }
    section("cpu", {"rows", table.join('\n'), "figures", figures.join('\n')});
}

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

void memory()
{
    qputenv("TMPDIR", QFile::encodeName(bench.rateData)); // the sandbox where the rate's go
    Receiver r{{"", balloons}};
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

void storm()
{
    QStringList table;
    qint64 lost[2] = {}, sent = 0, most = 0;
    double calm = -1; // seconds from the burst's end until a second with under 0.02 s of CPU
    for (const bool on : {false, true}) {
        Receiver r{{"", on ? balloons : quiet}};
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

// The X display as its server reports it, on a connection of the driver's own with
// SubstructureNotify selected on the root window: a menu is seen the moment Trelvant maps it.
struct Display
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE"), tooltip = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
    const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

    Display()
    {
        xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &events);
        xcb_flush(x);
    }
    ~Display() { xcb_disconnect(x); }
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, strlen(name), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    // Balloons are tooltip windows.
    bool isBalloon(xcb_window_t w)
    {
        const auto cookie = xcb_get_property(x, 0, w, type, XCB_ATOM_ATOM, 0, 16);
        auto *reply = xcb_get_property_reply(x, cookie, nullptr);
        const auto *types =
            static_cast<const xcb_atom_t *>(reply ? xcb_get_property_value(reply) : 0);
        const bool found =
            types && std::count(types, types + xcb_get_property_value_length(reply) / 4, tooltip);
        free(reply);
        return found;
    }
    // The next window other than a balloon mapped within `ms`, or with `gone` that window
    // unmapped; 0 if none.
    xcb_window_t next(int ms, xcb_window_t gone = 0)
    {
        QElapsedTimer t;
        for (t.start(); t.elapsed() < ms;) {
            pollfd p{xcb_get_file_descriptor(x), POLLIN, 0};
            poll(&p, 1, int(ms - t.elapsed()));
            while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
                const int kind = e->response_type & 0x7F;
                const xcb_window_t w =
                    reinterpret_cast<xcb_map_notify_event_t *>(e)->window; // as unmap's
                free(e);
                if (gone ? kind == XCB_UNMAP_NOTIFY && w == gone
                         : kind == XCB_MAP_NOTIFY && !isBalloon(w))
                    return w;
            }
        }
        return 0;
    }
    // Milliseconds from the right click on the icon (xdotool, whose start is counted) until its
    // menu is mapped, or -1; the menu is closed again.
    double openMenu(QPoint icon)
    {
        QElapsedTimer t;
        t.start();
        // Qt opens the menu on the press; "click" would add xdotool's own 100 ms after it.
        run("xdotool", {"mousemove", str(icon.x()), str(icon.y()), "mousedown", "3"});
        const xcb_window_t menu = next(10000);
        const double ms = t.nsecsElapsed() / 1e6;
        run("xdotool", {"mouseup", "3"});
        for (int i = 0; menu && i < 20; ++i) {
            run("xdotool", {"key", "Escape"});
            if (next(500, menu))
                break;
        }
        return menu ? ms : -1;
    }
    QByteArray pixels(QRect r)
    {
        const auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, r.x(), r.y(),
                                          r.width(), r.height(), ~0u);
        auto *image = xcb_get_image_reply(x, cookie, nullptr);
        const QByteArray bytes(image ? (const char *)xcb_get_image_data(image) : nullptr,
                               image ? xcb_get_image_data_length(image) : 0);
        free(image);
        return bytes;
    }
};

void menu()
{
    Receiver r{{"", balloons}};
    QList<double> ms, idle;
    int missed = 0, floods = 0, blinks = 0;
    if (r.start()) {
        QThread::sleep(1);
        // A balloon covers the lower half of the icon: it is clicked and looked at above that.
        const auto m =
            QRegularExpression("\"trayer\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)")
                .match(run("xwininfo", {"-root", "-tree"}));
        const QRect top(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                        m.captured(2).toInt() * 2 / 5);
        Display display;
        for (int i = 0; i < 5; ++i) // without traffic: what the measuring itself takes
            idle << display.openMenu(top.center());
        QProcess flood;
        const auto keepFlooding = [&] {
            if (flood.state() == QProcess::NotRunning) {
                flood.start(sim(), simArgs(r.sandbox.port(), 100, 400000, 0));
                floods += flood.waitForStarted();
            }
        };
        keepFlooding();
        QThread::msleep(300);
        QByteArray last;
        for (int i = 0; i < 40; ++i, QThread::msleep(100)) {
            keepFlooding();
            const QByteArray now = display.pixels(top);
            blinks += !last.isNull() && now != last;
            last = now;
        }
        QElapsedTimer total;
        for (total.start(); ms.size() < (bench.quick ? 8 : 25) && total.elapsed() < 120000;
             QThread::msleep(200)) {
            keepFlooding();
            const double opened = display.openMenu(top.center());
            missed += opened < 0;
            if (opened >= 0)
                ms << opened;
        }
        flood.kill();
        flood.waitForFinished();
    }
    const QString max = num(ms.isEmpty() ? -1 : *std::max_element(ms.begin(), ms.end()));
    const QString line = row(num(median(idle)), str(ms.size()), str(missed), num(median(ms)), max,
                             str(blinks), str(floods));
    section("menu", {"median", num(median(ms)), "max", max, "met",
                     yes(!ms.isEmpty() && median(ms) < 100), "blinks", str(blinks), "row", line});
}

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

void start()
{
    const int files = bench.quick ? 5000 : 20000, datagrams = 5000;
    const QByteArray content =
        readText(PROJECT_SOURCE_DIR "/tests/data/example-english.txt").toLatin1();
    qint64 openMs[2] = {-1, -1}, written = 0, sent = 0;
    double restS = -1; // until a second with under 0.02 s of CPU: counted
    for (const bool traffic : {false, true}) {
        Receiver r{{"", quiet}};
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
            Receiver tray{{"", quiet}};
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

// What can be measured, in the report's order; `tray`: only on a desktop with a tray.
const struct Part
{
    const char *name;
    void (*measure)();
    bool tray;
} parts[] = {{"cpu", cpu, false},     {"rate", rate, false},        {"memory", memory, false},
             {"storm", storm, true},  {"menu", menu, true},         {"sync", sync, false},
             {"start", start, false}, {"handover", handover, false}};

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode = argc == 4 ? argv[1] : "";
    if (mode == "bare" || mode == "bare-files")
        return bare(quint16(atoi(argv[2])), argv[3], mode == "bare-files");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{"build", "Build folder of the sources.", "dir", "build"},
         {"parts", "What to measure.", "list", "cpu,rate,memory,storm,menu,sync,start,handover"},
         {"results", "Where the report goes.", "file", PROJECT_SOURCE_DIR "/bench/RESULTS.md"},
         {"rate-data",
          "Where the paced rate and memory runs keep their files (a tmpfs keeps the "
          "disk, shared with whatever else runs, out of the comparison).",
          "dir", QFileInfo("/dev/shm").isDir() ? "/dev/shm" : QDir::tempPath()},
         {"quick", "Fewer rates, shorter runs, no repeats."}});
    parser.addHelpOption();
    parser.process(app);
    bench.build = QFileInfo(parser.value("build")).absoluteFilePath();
    bench.rateData = parser.value("rate-data");
    bench.quick = parser.isSet("quick");
    const QString report = readText(PROJECT_SOURCE_DIR "/bench/report.md.in");
    for (const QString &block :
         report.split(QRegularExpression("^<!-- ", QRegularExpression::MultilineOption)))
        bench.blocks[block.section(" -->\n", 0, 0)] = block.section(" -->\n", 1);

    QElapsedTimer took;
    took.start();
    const QString load = readText("/proc/loadavg").section(' ', 0, 2), create = fileCreation();
    const QString started = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm 'UTC'");
    for (const Part &p : parts) {
        if (!parser.value("parts").split(',').contains(p.name))
            continue;
        if (p.tray && !qEnvironmentVariableIsSet("DISPLAY")) {
            qInfo("%s: left out, no desktop with a tray (run under tools/desktop.sh)", p.name);
            continue;
        }
        qInfo("%s", p.name);
        qputenv("QT_QPA_PLATFORM", p.tray ? "xcb" : "offscreen");
        p.measure();
    }

    const QString command =
        QString(argv[0]).section('/', -1) + " " + app.arguments().mid(1).join(' ');
    const QString cpu = firstMatch(readText("/proc/cpuinfo"), "^model name\\s*:\\s*(.*)$");
    const qint64 memory =
        firstMatch(readText("/proc/meminfo"), "^MemTotal:\\s+(\\d+)").toLongLong();
    const QString checkout =
        run("git", {"-C", PROJECT_SOURCE_DIR, "describe", "--always", "--dirty"});
    // The summary first, so that names in its rows are filled in too.
    const QString text =
        fill(bench.blocks.value("head") + bench.details,
             {"summary",  bench.summary.join('\n'),
              "command",  command,
              "started",  started,
              "took",     str(took.elapsed() / 1000),
              "cpu",      QString("%1 × %2").arg(QThread::idealThreadCount()).arg(cpu),
              "memory",   mib(memory),
              "kernel",   QSysInfo::kernelVersion(),
              "rmem",     readText("/proc/sys/net/core/rmem_max").trimmed(),
              "qt",       qVersion(),
              "load",     load + "; " + readText("/proc/loadavg").section(' ', 0, 2),
              "tmp",      bench.tmp,
              "create",   create + "; " + fileCreation(),
              "checkout", checkout.trimmed(),
              "scales",   str(scales),
              "stamp",    stamp,
              "rateData", bench.rateData,
              "attempts", bench.quick ? "1" : "3"});
    QFile out(parser.value("results"));
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write((text + "\n" + readText(PROJECT_SOURCE_DIR "/bench/earlier.md")).toUtf8());
    qInfo("Wrote %s", qPrintable(out.fileName()));
    return 0;
}
