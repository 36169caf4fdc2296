// Measures Trelvant from outside and writes bench/RESULTS.md: the CPU cost of
// one datagram (bench_datagram under callgrind), the highest paced rate at
// which nothing is lost against a bare recvmmsg() receiver (scale-sim's
// traffic, sent by bench-sender where scale-sim is too slow), debug dumps on and
// off, a storm of one-datagram transfers with balloons on and off, how soon
// the tray menu opens during a flood, and resident memory after a million
// datagrams. Every figure is taken for each build given, so an earlier
// revision stands beside the current one.
//
//   bench-driver --build DIR [--before DIR] [--before-name NAME] [--quick]
//                [--parts cpu,rate,memory,storm,menu] [--results FILE]
//
// The storm and the menu need a desktop with a tray (run under
// tools/desktop.sh); elsewhere they are left out.
#include "sandbox.h"

#include <QAbstractNativeEventFilter>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

struct Build
{
    QString name, dir;
    QString trelvant() const { return dir + "/Trelvant"; }
};

struct Config
{
    QList<Build> builds; // the earlier revision first, when there is one
    QString sim, bare, sender, traffic;
    QStringList parts;
    bool quick = false;
    bool desktop = false;
    int scales = 8;
} cfg;

const QString stamp = "2024-03-07T08:09:05"; // the time in the records: same bytes every run
constexpr qint64 oneRecordBytes = 65;        // 13 bytes of head, a 50-byte record, the CRC

QString run(const QString &program, const QStringList &args, int timeoutMs = 900000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAll());
}

QString firstMatch(const QString &text, const QString &pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).captured(1);
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString procFile(qint64 pid, const char *name)
{
    return readText(QString("/proc/%1/%2").arg(pid).arg(name));
}

qint64 rssKiB(qint64 pid)
{
    return firstMatch(procFile(pid, "status"), "^VmRSS:\\s+(\\d+)").toLongLong();
}

// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    const QString stat = procFile(pid, "stat");
    const QStringList f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return f.size() > 12 ? (f[11].toDouble() + f[12].toDouble()) / double(sysconf(_SC_CLK_TCK)) : 0;
}

// What waits in a bound UDP socket's queue, and what the kernel dropped for it.
struct Queue
{
    qint64 bytes = 0, drops = 0;
};
Queue socketQueue(quint16 port)
{
    Queue q;
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile f(table);
        f.open(QIODevice::ReadOnly);
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> c = line.simplified().split(' ');
            if (c.size() > 12 && c[1].split(':').value(1).toUInt(nullptr, 16) == port) {
                q.bytes += c[4].split(':').value(1).toLongLong(nullptr, 16);
                q.drops += c.last().toLongLong();
            }
        }
    }
    return q;
}

// Trelvant in a sandbox of its own, or, without a program, the bare receiver.
struct Receiver
{
    Sandbox sandbox;
    QProcess process;
    QString program;

    Receiver(const QString &program_, const QVariantMap &options) : sandbox(options), program(program_) {}
    ~Receiver()
    {
        process.kill();
        process.waitForFinished();
    }
    bool start()
    {
        if (!program.isEmpty())
            return sandbox.start(process, program);
        process.start(cfg.bare, {QString::number(sandbox.port()), sandbox.home() + "/raw.bin"});
        return process.waitForReadyRead(5000);
    }
    qint64 pid() const { return process.processId(); }
    qint64 records() const
    {
        return program.isEmpty() ? QFileInfo(sandbox.home() + "/raw.bin").size() / oneRecordBytes
                                 : sandbox.records().size();
    }
    // Waits until the socket is empty and nothing more reaches the files.
    qint64 drained(qint64 expected) const
    {
        QElapsedTimer waited;
        waited.start();
        for (qint64 last = -1; waited.elapsed() < 60000; QThread::msleep(250)) {
            if (socketQueue(sandbox.port()).bytes > 0)
                continue;
            const qint64 n = records();
            if (n >= expected || n == last)
                return n;
            last = n;
        }
        return records();
    }
};

struct Sent
{
    qint64 datagrams = 0;
    double rate = 0;
};

QStringList simArgs(quint16 port, int datagramsPerTransfer, qint64 datagrams, int rate)
{
    const qint64 transfers = (datagrams + cfg.scales * datagramsPerTransfer - 1) / (cfg.scales * datagramsPerTransfer);
    return {"--port", QString::number(port), "--scales", QString::number(cfg.scales), "--packets",
            QString::number(datagramsPerTransfer), "--transfers", QString::number(transfers),
            "--records", "1", "--rate", QString::number(rate), "--seed", "1", "--time", stamp};
}

Sent simulate(const QStringList &args)
{
    const QString out = run(cfg.sim, args);
    return {firstMatch(out, "^datagrams:\\s+(\\d+)").toLongLong(),
            firstMatch(out, "^rate:\\s+(\\d+)").toDouble()};
}

QString mib(qint64 kib)
{
    return QString::number(kib / 1024.0, 'f', 1) + " MiB";
}

QString signedMib(qint64 kib)
{
    return (kib >= 0 ? "+" : "") + mib(kib);
}

// ---------------------------------------------------------------- CPU per datagram

// Figure per data row of bench_datagram, from Qt Test's RESULT lines.
QMap<QString, double> benchResults(const QString &program, const QStringList &args)
{
    QMap<QString, double> figures;
    const QRegularExpression result("RESULT : \\S+:\"([^\"]+)\":\\s*\\n\\s*([\\d.,]+) ");
    auto it = result.globalMatch(run(program, args));
    while (it.hasNext()) {
        const auto m = it.next();
        figures[m.captured(1)] = m.captured(2).remove(',').toDouble();
    }
    return figures;
}

// ---------------------------------------------------------------- paced rate

struct Run
{
    int rate = 0;
    Sent sent;
    qint64 written = 0, drops = 0;
    double cpuUs = 0; // receiver CPU per datagram written
    bool lost() const { return written < sent.datagrams; }
    bool senderLimited() const { return sent.rate < 0.97 * rate; }
};

struct Sweep
{
    QString receiver;
    QList<Run> runs;
    int held = 0; // the highest rate of the rising series at which a run lost nothing
    bool heldSenderLimited = false;
};

Run pacedRun(const QString &program, const QVariantMap &options, int rate)
{
    Receiver r(program, options);
    Run result;
    result.rate = rate;
    if (!r.start())
        return result;
    const double cpu0 = cpuSeconds(r.pid());
    const qint64 transfers = (std::max<qint64>(qint64(rate) * (cfg.quick ? 1 : 2), cfg.quick ? 10000 : 30000) + 799) / 800;
    const QString out = run(cfg.sender, {QString::number(r.sandbox.port()), QString::number(rate),
                                         QString::number(transfers * 800), cfg.traffic});
    result.sent = {firstMatch(out, "^datagrams:\\s+(\\d+)").toLongLong(), firstMatch(out, "^rate:\\s+(\\d+)").toDouble()};
    result.written = r.drained(result.sent.datagrams);
    result.drops = socketQueue(r.sandbox.port()).drops;
    result.cpuUs = (cpuSeconds(r.pid()) - cpu0) * 1e6 / std::max<qint64>(result.written, 1);
    return result;
}

// A rate counts as held when one of up to three runs loses nothing (other
// work on the machine only ever adds loss); the series ends at the first
// rate that every run lost at.
Sweep sweep(const QString &receiver, const QString &program, const QVariantMap &options)
{
    const QList<int> rates = cfg.quick ? QList<int>{50000, 100000, 150000, 200000, 250000, 300000}
                                       : QList<int>{20000, 40000, 60000, 80000, 100000, 120000, 140000,
                                                    160000, 180000, 200000, 225000, 250000, 275000,
                                                    300000, 350000, 400000, 500000};
    Sweep s{receiver, {}, 0, false};
    for (int rate : rates) {
        bool held = false;
        for (int attempt = 0; attempt < (cfg.quick ? 1 : 3) && !held; ++attempt) {
            s.runs << pacedRun(program, options, rate);
            held = !s.runs.last().lost();
            qInfo("  %s at %d/s: %lld of %lld", qPrintable(receiver), rate, s.runs.last().written,
                  s.runs.last().sent.datagrams);
        }
        if (!held)
            break;
        s.held = rate;
        s.heldSenderLimited = s.runs.last().senderLimited();
    }
    return s;
}

// ---------------------------------------------------------------- storm, menu, memory

struct Storm
{
    Sent sent;
    qint64 written = 0, rssRest = 0, rssAfter = 0, rssLater = 0;
    double cpuAfter = 0;     // CPU seconds used in the 10 s after the burst
    double restAfter = -1;   // seconds from the burst's end until at rest
};

// 2000 one-datagram transfers a second; "at rest" is a second in which the
// process uses under 2 % of a core.
Storm storm(const QString &program, bool balloons)
{
    Storm s;
    Receiver r(program, {{"ShowTrayMessage", balloons}});
    if (!r.start())
        return s;
    QThread::sleep(2);
    s.rssRest = rssKiB(r.pid());
    const int seconds = cfg.quick ? 3 : 10;
    s.sent = simulate(simArgs(r.sandbox.port(), 1, 2000 * seconds, 2000));
    s.rssAfter = rssKiB(r.pid());
    QList<double> cpu; // every 100 ms from the burst's end
    for (int tick = 0; tick <= 600; ++tick) {
        cpu << cpuSeconds(r.pid());
        if (tick == 100)
            s.rssLater = rssKiB(r.pid());
        const auto restAt = [&](int t) { return t + 10 < cpu.size() && cpu[t + 10] - cpu[t] < 0.02; };
        if (s.restAfter < 0 && tick >= 10 && restAt(tick - 10))
            s.restAfter = (tick - 10) / 10.0;
        if (tick >= 100 && s.restAfter >= 0)
            break;
        QThread::msleep(100);
    }
    s.cpuAfter = cpu.value(100, cpu.last()) - cpu.first();
    s.written = r.drained(s.sent.datagrams);
    return s;
}

QRect trayGeometry()
{
    const QString tree = run("xwininfo", {"-root", "-tree"});
    const auto m = QRegularExpression("\"trayer\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)").match(tree);
    return QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
}

// Every window mapped on the X display, seen as the X server reports it (the
// driver selects SubstructureNotify on the root window): a popup menu shows
// up here the moment Trelvant maps it, with no polling in between.
class MapWatch : public QAbstractNativeEventFilter
{
public:
    MapWatch() : x(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection())
    {
        root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                              XCB_EVENT_MASK_PROPERTY_CHANGE; // the last two: what Qt selects itself
        xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);
        qGuiApp->installNativeEventFilter(this);
    }
    ~MapWatch() override { qGuiApp->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const auto *e = static_cast<xcb_generic_event_t *>(message);
        if ((e->response_type & 0x7F) == XCB_MAP_NOTIFY)
            shown.insert(reinterpret_cast<const xcb_map_notify_event_t *>(e)->window);
        if ((e->response_type & 0x7F) == XCB_UNMAP_NOTIFY)
            shown.remove(reinterpret_cast<const xcb_unmap_notify_event_t *>(e)->window);
        return false;
    }

    // The first window mapped from now on that is not a balloon (a tooltip
    // window), within `ms`, or 0.
    xcb_window_t nextMenu(int ms)
    {
        const QSet<xcb_window_t> before = shown;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            for (xcb_window_t w : shown - before)
                if (!isTooltip(w))
                    return w;
        }
        return 0;
    }
    bool waitHidden(xcb_window_t w, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (shown.contains(w) && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        return !shown.contains(w);
    }

private:
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    bool isTooltip(xcb_window_t w)
    {
        auto *reply = xcb_get_property_reply(
            x, xcb_get_property(x, 0, w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 0, 16), nullptr);
        const auto *types = reply ? static_cast<const xcb_atom_t *>(xcb_get_property_value(reply)) : nullptr;
        const xcb_atom_t tooltip = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
        const bool found = types && std::count(types, types + xcb_get_property_value_length(reply) / 4, tooltip);
        free(reply);
        return found;
    }

    xcb_connection_t *x;
    xcb_window_t root;
    QSet<xcb_window_t> shown;
};

// Milliseconds from the right click on the icon (xdotool, whose start is
// counted) until its menu is mapped, or -1; the menu is closed again.
double openMenu(MapWatch &watch, QPoint icon)
{
    QElapsedTimer t;
    t.start();
    // Qt opens the menu on the press; "click" would add xdotool's own 100 ms after it.
    run("xdotool", {"mousemove", QString::number(icon.x()), QString::number(icon.y()), "mousedown", "3"});
    const xcb_window_t menu = watch.nextMenu(10000);
    const double ms = t.nsecsElapsed() / 1e6;
    run("xdotool", {"mouseup", "3"});
    for (int i = 0; menu && i < 20 && !watch.waitHidden(menu, 500); ++i)
        run("xdotool", {"key", "Escape"});
    return menu ? ms : -1;
}

struct Menu
{
    QList<double> ms, idle;
    int missed = 0, floods = 0, blinkChanges = 0;
    qint64 flooded = 0;
    QRect icon;
};

// The icon's image is looked at every 100 ms for 4 s while scale-sim floods
// unpaced; then the menu is opened again and again until enough openings
// were timed, a new flood starting whenever one ends.
Menu menuDuringFlood(const QString &program)
{
    Menu m;
    Receiver r(program, {{"ShowTrayMessage", true}});
    if (!r.start())
        return m;
    QThread::sleep(1);
    // A balloon covers the lower half of the icon: it is clicked and looked at above that.
    m.icon = trayGeometry();
    const QRect top(m.icon.x(), m.icon.y(), m.icon.width(), m.icon.height() * 2 / 5);
    MapWatch watch;
    for (int i = 0; i < 5; ++i) // without traffic: what the measuring itself takes
        m.idle << openMenu(watch, top.center());
    QProcess flood;
    const QStringList floodArgs = simArgs(r.sandbox.port(), 100, 400000, 0);
    const auto keepFlooding = [&] {
        if (flood.state() == QProcess::NotRunning) {
            flood.start(cfg.sim, floodArgs);
            flood.waitForStarted();
            ++m.floods;
        }
    };
    keepFlooding();
    QThread::msleep(300);
    QImage last;
    for (int i = 0; i < 40; ++i, QThread::msleep(100)) {
        keepFlooding();
        const QImage now = QGuiApplication::primaryScreen()
                               ->grabWindow(0, top.x(), top.y(), top.width(), top.height())
                               .toImage();
        m.blinkChanges += !last.isNull() && now != last;
        last = now;
    }
    QElapsedTimer total;
    total.start();
    while (m.ms.size() < (cfg.quick ? 8 : 25) && total.elapsed() < 120000) {
        keepFlooding();
        const double ms = openMenu(watch, top.center());
        if (ms < 0)
            ++m.missed;
        else
            m.ms << ms;
        QThread::msleep(200);
    }
    flood.kill();
    flood.waitForFinished();
    m.flooded = qint64(m.floods) * 400000;
    return m;
}

struct Memory
{
    qint64 rest = 0, after = 0, written = 0;
    Sent sent;
};

Memory memoryAfterMillion(const QString &program)
{
    Memory m;
    Receiver r(program, {{"ShowTrayMessage", true}});
    if (!r.start())
        return m;
    QThread::sleep(2);
    m.rest = rssKiB(r.pid());
    m.sent = simulate(simArgs(r.sandbox.port(), 100, cfg.quick ? 200000 : 1000000, 50000));
    m.written = r.drained(m.sent.datagrams);
    m.after = rssKiB(r.pid());
    return m;
}

// ---------------------------------------------------------------- the report

QString table(const QStringList &header, const QList<QStringList> &rows)
{
    QString t = "| " + header.join(" | ") + " |\n|" + QString("---|").repeated(header.size()) + "\n";
    for (const QStringList &r : rows)
        t += "| " + r.join(" | ") + " |\n";
    return t + "\n";
}

QString yes(bool met)
{
    return met ? "met" : "**not met**";
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Milliseconds to create, write 100 bytes to and close one file in the
// temporary folder, where every sandbox keeps its data files.
double fileCreationMs()
{
    QTemporaryDir dir;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 500; ++i) {
        QFile f(dir.filePath(QString::number(i)));
        f.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        f.write(QByteArray(100, 'x'));
    }
    return t.nsecsElapsed() / 1e6 / 500;
}

QString machine(const QString &loadAtStart, double createAtStart)
{
    const QString cpuinfo = readText("/proc/cpuinfo");
    const QString mem = readText("/proc/meminfo");
    return table({"", ""}, {
        {"CPU", QString("%1 × %2").arg(QThread::idealThreadCount()).arg(firstMatch(cpuinfo, "^model name\\s*:\\s*(.*)$"))},
        {"Memory", mib(firstMatch(mem, "^MemTotal:\\s+(\\d+)").toLongLong())},
        {"Kernel", QSysInfo::kernelVersion()},
        {"net.core.rmem_max", readText("/proc/sys/net/core/rmem_max").trimmed() + " bytes"},
        {"Qt", qVersion()},
        {"Load average at start, at end", loadAtStart + "; " + readText("/proc/loadavg").section(' ', 0, 2)},
        {"Creating a small file in " + QDir::tempPath() + ", at start, at end",
         QString("%1 ms; %2 ms").arg(createAtStart, 0, 'f', 2).arg(fileCreationMs(), 0, 'f', 2)},
        {"Checkout", run("git", {"-C", PROJECT_SOURCE_DIR, "describe", "--always", "--dirty"}).trimmed()},
    });
}

} // namespace

int main(int argc, char **argv)
{
    cfg.desktop = qEnvironmentVariableIsSet("DISPLAY");
    if (!cfg.desktop)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"build", "Build folder of the current sources.", "dir", "build"},
                       {"before", "Build folder of an earlier revision, measured beside it.", "dir"},
                       {"before-name", "What to call the earlier revision.", "name", "before"},
                       {"parts", "What to measure.", "list", "cpu,rate,memory,storm,menu"},
                       {"results", "Where the report goes.", "file", PROJECT_SOURCE_DIR "/bench/RESULTS.md"},
                       {"rate-data", "Where the paced rate runs keep their files (a tmpfs keeps the disk, shared "
                                     "with whatever else runs, out of the comparison).", "dir",
                        QFileInfo("/dev/shm").isDir() ? "/dev/shm" : QDir::tempPath()},
                       {"quick", "Fewer rates, shorter runs, no repeats."}});
    parser.addHelpOption();
    parser.process(app);
    const QString build = QFileInfo(parser.value("build")).absoluteFilePath();
    if (parser.isSet("before"))
        cfg.builds << Build{parser.value("before-name"), QFileInfo(parser.value("before")).absoluteFilePath()};
    cfg.builds << Build{"now", build};
    cfg.sim = build + "/tools/scale-sim/scale-sim";
    cfg.bare = build + "/bench/bench-bare-receiver";
    cfg.sender = build + "/bench/bench-sender";
    cfg.parts = parser.value("parts").split(',');
    cfg.quick = parser.isSet("quick");
    const auto part = [&](const char *name) { return cfg.parts.contains(name); };

    QElapsedTimer took;
    took.start();
    const QString loadAtStart = readText("/proc/loadavg").section(' ', 0, 2);
    const double createAtStart = fileCreationMs();
    const QString started = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd HH:mm 'UTC'");
    QString summary, details;
    QList<QStringList> goals; // figure, one column per build, goal, met
    const auto figure = [&](const QString &what, const QStringList &values, const QString &goal, const QString &met) {
        goals << (QStringList{what} + values + QStringList{goal, met});
    };
    QStringList names;
    for (const Build &b : cfg.builds)
        names << b.name;

    qputenv("QT_QPA_PLATFORM", "offscreen"); // the programs run headless, until the desktop parts
    if (part("cpu")) {
        qInfo("CPU per datagram");
        QList<QStringList> rows;
        QList<QMap<QString, double>> instr, ns;
        for (const Build &b : cfg.builds) {
            const QString program = b.dir + "/bench/bench_datagram";
            instr << benchResults(program, {"-callgrind", "-iterations", cfg.quick ? "512" : "2560"});
            ns << benchResults(program, {"-minimumvalue", "200"});
        }
        for (const QString &row : instr.last().keys()) {
            QStringList r{row};
            for (int i = 0; i < cfg.builds.size(); ++i)
                r << QString::number(instr[i].value(row), 'f', 0) << QString::number(ns[i].value(row) * 1e6, 'f', 0);
            rows << r;
            figure("Instructions per datagram: " + row, [&] { QStringList v; for (auto &m : instr) v << QString::number(m.value(row), 'f', 0); return v; }(), "-", "-");
        }
        QStringList header{"datagram"};
        for (const QString &n : names)
            header << n + " instructions" << n + " ns (wall clock)";
        details += "## CPU per datagram\n\n`bench_datagram -callgrind -iterations N` (Qt Test runs itself under "
                   "`valgrind --tool=callgrind` and counts only the QBENCHMARK loop): one datagram through "
                   "`saveMessage()` per iteration, `finishBatch()` after every 256 (fd54c91: a receive pass "
                   "ending in `finishWrites()`), notices off. Instructions are user space only and repeatable; "
                   "the ns column is a native run (`-minimumvalue 200`, milliseconds per iteration × 10⁶), "
                   "system calls included, and as noisy as the machine.\n\n" + table(header, rows);
    }

    if (part("rate")) {
        qInfo("Zero-loss paced rate");
        // The traffic, made once by scale-sim: 100 transfers of 100 one-record datagrams from each scale.
        QTemporaryDir trafficDir;
        cfg.traffic = trafficDir.filePath("traffic.hex");
        QProcess hex;
        hex.setStandardOutputFile(cfg.traffic);
        hex.start(cfg.sim, simArgs(0, 100, 800 * 100, 0).mid(2) + QStringList{"--hex"});
        hex.waitForFinished();
        const QByteArray disk = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(parser.value("rate-data")));
        QList<Sweep> sweeps{sweep("bare recvmmsg", {}, {})};
        for (const Build &b : cfg.builds) {
            sweeps << sweep("Trelvant " + b.name, b.trelvant(), {{"ShowTrayMessage", false}});
            sweeps << sweep("Trelvant " + b.name + ", debug on", b.trelvant(), {{"ShowTrayMessage", false}, {"Debug", true}});
        }
        qputenv("TMPDIR", disk);
        for (const Build &b : cfg.builds)
            sweeps << sweep("Trelvant " + b.name + ", data on disk", b.trelvant(), {{"ShowTrayMessage", false}});
        QList<QStringList> runs, held;
        for (const Sweep &s : sweeps) {
            held << QStringList{s.receiver, QString::number(s.held) + (s.heldSenderLimited ? " (sender-limited)" : ""),
                                QString::number(double(s.held) / std::max(1, sweeps[0].held), 'f', 2)};
            for (const Run &r : s.runs)
                runs << QStringList{s.receiver, QString::number(r.rate), QString::number(r.sent.rate, 'f', 0) + (r.senderLimited() ? " (sender-limited)" : ""),
                                    QString::number(r.sent.datagrams), QString::number(r.written),
                                    QString::number(r.sent.datagrams - r.written), QString::number(r.drops),
                                    QString::number(r.cpuUs, 'f', 1)};
        }
        const auto heldBy = [&](int index, bool debug) { return sweeps[1 + 2 * index + (debug ? 1 : 0)].held; };
        const int now = cfg.builds.size() - 1;
        QStringList off, on;
        for (int i = 0; i <= now; ++i) {
            off << QString("%1/s (%2 of bare)").arg(heldBy(i, false)).arg(double(heldBy(i, false)) / std::max(1, sweeps[0].held), 0, 'f', 2);
            on << QString("%1/s (%2 of debug off)").arg(heldBy(i, true)).arg(double(heldBy(i, true)) / std::max(1, heldBy(i, false)), 0, 'f', 2);
        }
        figure(QString("Zero-loss rate, notices off (bare recvmmsg: %1/s)").arg(sweeps[0].held), off,
               "≥ 0.9 of bare, ≥ fd54c91",
               yes(heldBy(now, false) >= 0.9 * sweeps[0].held && heldBy(now, false) >= heldBy(0, false)));
        QStringList onDisk;
        for (int i = 0; i <= now; ++i)
            onDisk << QString("%1/s").arg(sweeps[1 + 2 * cfg.builds.size() + i].held);
        figure("Zero-loss rate, notices off, data on disk", onDisk, "-", "-");
        figure("Zero-loss rate, debug on", on, "≥ 0.5 of debug off", yes(heldBy(now, true) >= 0.5 * heldBy(now, false)));
        details += QString("## Zero-loss paced rate\n\nOne-record datagrams, 100 to a transfer, %1 scales, made once by "
                           "`scale-sim --scales %1 --packets 100 --records 1 --transfers 100 --seed 1 --time %2 --hex` "
                           "(80000 datagrams) and sent by `bench-sender P R N traffic.hex` (sendmmsg, 64 a call, on a "
                           "fixed schedule, cycling through the file; scale-sim itself tops out near 200000/s here): "
                           "N for %3 s of traffic and at least %4 datagrams (the socket's 4 MiB buffer holds about "
                           "10000). Receivers: `bench-bare-receiver P FILE`; Trelvant "
                           "headless (`QT_QPA_PLATFORM=offscreen`), a fresh sandbox per run, ShowTrayMessage false, "
                           "Debug as named. Every sandbox lives in %6 (`--rate-data`), except for the runs \"data on disk\" "
                           "(%7): Trelvant creates a data file per 100 datagrams, the bare receiver one file in all, "
                           "so the disk's file creation time (machine table), which the other users of this disk "
                           "drive up and down, weighs on Trelvant alone. Written = record lines in the data files (bare: file size / 65 bytes). "
                           "Rising rates; a rate is held when one of up to %5 runs loses nothing, and the series "
                           "stops at the first rate every run lost at. \"sender-limited\": scale-sim achieved under "
                           "97 % of the rate asked.\n\n")
                       .arg(cfg.scales).arg(stamp).arg(cfg.quick ? 1 : 2).arg(cfg.quick ? 10000 : 30000).arg(cfg.quick ? 1 : 3)
                       .arg(parser.value("rate-data"), QDir::tempPath())
                   + table({"receiver", "highest zero-loss rate/s", "ratio to bare"}, held)
                   + table({"receiver", "rate/s", "achieved/s", "sent", "written", "lost", "socket drops", "receiver CPU µs/datagram"}, runs);
    }

    if (part("memory")) {
        qInfo("Memory after a million datagrams");
        const QByteArray disk = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(parser.value("rate-data")));
        QList<QStringList> rows;
        QStringList values;
        bool met = true;
        for (const Build &b : cfg.builds) {
            const Memory m = memoryAfterMillion(b.trelvant());
            rows << QStringList{b.name, mib(m.rest), mib(m.after), signedMib(m.after - m.rest),
                                QString::number(m.written) + " of " + QString::number(m.sent.datagrams)};
            values << signedMib(m.after - m.rest);
            met = m.after - m.rest <= 5 * 1024;
        }
        qputenv("TMPDIR", disk);
        figure("VmRSS after 1,000,000 datagrams against rest", values, "within 5 MiB", yes(met));
        details += QString("## Resident memory\n\nTrelvant headless, ShowTrayMessage true, `scale-sim --scales %1 "
                           "--packets 100 --records 1 --rate 50000` for %2 datagrams, data in the folder of the rate runs; "
                           "VmRSS 2 s after start and once the socket is empty.\n\n").arg(cfg.scales).arg(cfg.quick ? 200000 : 1000000)
                   + table({"build", "at rest", "after", "change", "records written"}, rows);
    }

    if (part("storm") && cfg.desktop) {
        qInfo("Balloon storm");
        qputenv("QT_QPA_PLATFORM", "xcb");
        QList<QStringList> rows;
        QStringList loss, memory, rest;
        bool lossMet = true, memMet = true, restMet = true;
        for (const Build &b : cfg.builds) {
            const Storm off = storm(b.trelvant(), false), on = storm(b.trelvant(), true);
            for (const Storm *s : {&off, &on})
                rows << QStringList{b.name, s == &on ? "on" : "off", QString::number(s->sent.datagrams),
                                    QString::number(s->sent.datagrams - s->written), mib(s->rssRest),
                                    signedMib(s->rssAfter - s->rssRest), signedMib(s->rssLater - s->rssRest),
                                    QString::number(s->cpuAfter, 'f', 2),
                                    s->restAfter < 0 ? "> 60" : QString::number(s->restAfter, 'f', 1)};
            const qint64 lostOn = on.sent.datagrams - on.written, lostOff = off.sent.datagrams - off.written;
            loss << QString("%1 / %2").arg(lostOn).arg(lostOff);
            memory << signedMib(std::max(on.rssAfter, on.rssLater) - on.rssRest);
            rest << (on.restAfter < 0 ? QString("> 60 s") : QString::number(on.restAfter, 'f', 1) + " s");
            lossMet = lostOn <= lostOff;
            memMet = std::max(on.rssAfter, on.rssLater) - on.rssRest <= 10 * 1024;
            restMet = on.restAfter >= 0 && on.restAfter <= 2;
        }
        figure("Storm: datagrams lost, balloons on / off", loss, "on loses no more than off", yes(lossMet));
        figure("Storm, balloons on: VmRSS against rest (largest)", memory, "within 10 MiB", yes(memMet));
        figure("Storm, balloons on: back at rest after the burst", rest, "≤ 2 s", yes(restMet));
        details += QString("## Balloon storm\n\nOn the virtual desktop with a tray (`tools/desktop.sh`), "
                           "`QT_QPA_PLATFORM=xcb`: `scale-sim --scales %1 --packets 1 --records 1 --rate 2000` for "
                           "%2 s, every datagram a transfer of its own (a data file each). VmRSS 2 s after start "
                           "(rest), right after the burst and 10 s later; CPU seconds used in the 10 s after the "
                           "burst; \"at rest\" = the first second after the burst's end in which the process used "
                           "under 0.02 s of CPU.\n\n").arg(cfg.scales).arg(cfg.quick ? 3 : 10)
                   + table({"build", "balloons", "sent", "lost", "VmRSS at rest", "right after", "10 s after",
                            "CPU s in the 10 s after", "at rest after (s)"}, rows);
    }

    if (part("menu") && cfg.desktop) {
        qInfo("Tray menu during a flood");
        qputenv("QT_QPA_PLATFORM", "xcb");
        QList<QStringList> rows;
        QStringList medians, blinks;
        bool met = true;
        for (const Build &b : cfg.builds) {
            const Menu m = menuDuringFlood(b.trelvant());
            const double max = m.ms.isEmpty() ? -1 : *std::max_element(m.ms.begin(), m.ms.end());
            rows << QStringList{b.name, QString::number(median(m.idle), 'f', 0), QString::number(m.ms.size()),
                                QString::number(m.missed), QString::number(median(m.ms), 'f', 0), QString::number(max, 'f', 0),
                                QString::number(m.blinkChanges), QString::number(m.floods)};
            medians << QString("%1 ms (max %2 ms)").arg(median(m.ms), 0, 'f', 0).arg(max, 0, 'f', 0);
            blinks << QString::number(m.blinkChanges);
            met = !m.ms.isEmpty() && median(m.ms) < 100;
        }
        figure("Tray menu open during an unpaced flood, median", medians, "median < 100 ms", yes(met));
        figure("Icon image changes in 4 s of flood (blinking: about 5)", blinks, "-", "-");
        details += QString("## Tray menu during an unpaced flood\n\nOn the virtual desktop, ShowTrayMessage true, "
                           "while `scale-sim --scales %1 --packets 100 --records 1 --rate 0` sends 400000 datagrams "
                           "as fast as it can (again whenever one flood ends): `xdotool mousemove X Y mousedown 3` on "
                           "the icon (trayer's window, in its upper part: a balloon covers the lower) until the X server "
                           "reports a new window mapped that is not a balloon (a tooltip window), then Escape. The "
                           "time includes starting xdotool. \"idle\": five openings before the flood, what the "
                           "measuring itself takes. During the flood, before the menu, the icon's pixels "
                           "(its upper part) are grabbed every 100 ms for 4 s: an 800 ms blink changes them about 5 times.\n\n")
                       .arg(cfg.scales)
                   + table({"build", "idle: median ms", "openings timed", "menu not seen in 10 s", "median ms", "max ms",
                            "icon changes in 4 s", "floods"}, rows);
    }

    summary = table(QStringList{"figure"} + names + QStringList{"goal", "met now"}, goals);
    QString report = "# Receive path: measured figures\n\nWritten by `make bench` (`bench/bench.cpp`, run as `"
                     + QString(argv[0]).section('/', -1) + " " + QCoreApplication::arguments().mid(1).join(' ')
                     + "`) on " + started + "; the run took " + QString::number(took.elapsed() / 1000) + " s. "
                     "Two shared cores carry sender, receiver and whatever else runs: rates are noisy, "
                     "instruction counts are not.\n\n## Machine\n\n" + machine(loadAtStart, createAtStart)
                     + "## Summary\n\n" + summary + details;
    QFile out(parser.value("results"));
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write(report.toUtf8());
    qInfo("Wrote %s", qPrintable(out.fileName()));
    return 0;
}
