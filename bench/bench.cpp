// Measures Trelvant from outside and writes bench/RESULTS.md: the prose and
// table heads of bench/report.md.in with the figures filled in. `parts` at
// the end lists the measurements; the storm and the menu need a desktop with
// a tray (run under tools/desktop.sh) and are left out elsewhere.
//
//   bench-driver --build DIR [--quick] [--parts cpu,rate,memory,storm,menu,sync,start,handover]
//                [--results FILE] [--rate-data DIR]
#include "sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

const QString stamp = "2024-03-07T08:09:05"; // the time in the records: same bytes every run
constexpr int scales = 8;
constexpr qint64 oneRecordBytes = 65; // 13 bytes of head, a 50-byte record, the CRC
const char eatmydata[] = "/usr/lib/x86_64-linux-gnu/libeatmydata.so";
using Values = QMap<QString, QString>;
using Rows = QList<QStringList>;

QString fill(QString text, const Values &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text.replace("{{" + it.key() + "}}", it.value());
    return text;
}

// Table rows in Markdown, below a head that the template holds.
QString rows(const Rows &rows)
{
    QStringList lines;
    for (const QStringList &r : rows)
        lines << "| " + r.join(" | ") + " |";
    return lines.join('\n');
}

// What the measurements read, and the report they add to.
struct Bench
{
    QString build, rateData, tmp = QDir::tempPath();
    bool quick = false;
    Values blocks; // of the template, by name
    Rows summary;  // figure, measured, goal, met
    QString details;

    QString tool(const QString &path) const { return build + path; }
    void figure(const QString &what, const QString &value, const QString &goal = "-", const QString &met = "-")
    {
        summary << QStringList{what, value, goal, met};
    }
    void section(const char *block, Values values)
    {
        values.insert({{"scales", QString::number(scales)}, {"stamp", stamp}, {"tmp", tmp},
                       {"rateData", rateData}, {"attempts", quick ? "1" : "3"}});
        details += fill(blocks.value(block), values);
    }
};

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(900000);
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

QString num(double v, int decimals = 0)
{
    return QString::number(v, 'f', decimals);
}

QString mib(qint64 kib, bool sign = false)
{
    return (sign && kib >= 0 ? "+" : "") + num(kib / 1024.0, 1) + " MiB";
}

QString yes(bool met)
{
    return met ? "met" : "**not met**";
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}

qint64 rssKiB(qint64 pid)
{
    return firstMatch(readText(QString("/proc/%1/status").arg(pid)), "^VmRSS:\\s+(\\d+)").toLongLong();
}

// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    const QString stat = readText(QString("/proc/%1/stat").arg(pid));
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
    for (const QString &line : readText("/proc/net/udp").split('\n') + readText("/proc/net/udp6").split('\n')) {
        const QStringList c = line.simplified().split(' ');
        if (c.size() > 12 && c[1].section(':', 1).toUInt(nullptr, 16) == port) {
            q.bytes += c[4].section(':', 1).toLongLong(nullptr, 16);
            q.drops += c.last().toLongLong();
        }
    }
    return q;
}

// Milliseconds to create, write 100 bytes to and close one file in the
// temporary folder, where the sandboxes keep their data; with `sync`, also
// made durable as Trelvant makes a new data file durable.
QString fileCreation(bool sync = false)
{
    QTemporaryDir dir;
    const int folder = open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    QElapsedTimer t;
    t.start();
    const QByteArray line(100, 'x');
    for (int i = 0; i < 500; ++i) {
        const int f = open(QFile::encodeName(dir.filePath(QString::number(i))).constData(), O_WRONLY | O_CREAT, 0644);
        if (write(f, line.constData(), 100) != 100 || (sync && (fdatasync(f) || fsync(folder))) || close(f))
            return "failed";
    }
    close(folder);
    return num(t.nsecsElapsed() / 1e6 / 500, 2) + " ms";
}

// Sandboxes made while it lives keep their files in `dir`.
struct TempIn
{
    const QByteArray saved = qgetenv("TMPDIR");
    explicit TempIn(const QString &dir) { qputenv("TMPDIR", QFile::encodeName(dir)); }
    ~TempIn() { saved.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", saved); }
};

// ---------------------------------------------------------------- receivers and traffic

// Trelvant, Trelvant with its syncs made no-ops, or the bare receiver.
enum class Kind { Trelvant, NoSync, Bare, BareFiles };
struct Target
{
    QString name;
    Kind kind = Kind::Trelvant;
    QVariantMap options;
};

// A receiver in a sandbox of its own, killed with it.
struct Receiver
{
    const Bench &b;
    const Target &t;
    Sandbox sandbox;
    QProcess process;

    Receiver(const Bench &bench, const Target &target) : b(bench), t(target), sandbox(target.options) {}
    ~Receiver()
    {
        process.kill();
        process.waitForFinished();
    }
    bool start()
    {
        const QString port = QString::number(sandbox.port());
        if (t.kind == Kind::Bare || t.kind == Kind::BareFiles) {
            QDir().mkpath(sandbox.dataFolder());
            process.start(b.tool("/bench/bench-bare-receiver"),
                          t.kind == Kind::Bare ? QStringList{port, sandbox.home() + "/raw.bin"}
                                               : QStringList{port, sandbox.dataFolder(), "--file-per-datagram"});
            return process.waitForReadyRead(5000);
        }
        // Sandbox::start hands the program the driver's environment.
        if (t.kind == Kind::NoSync)
            qputenv("LD_PRELOAD", eatmydata);
        const bool started = sandbox.start(process, b.tool("/Trelvant"));
        qunsetenv("LD_PRELOAD");
        if (!started)
            qWarning("%s did not start", qPrintable(b.tool("/Trelvant")));
        return started;
    }
    // Record lines written, read here: sandbox.records() is slow over the
    // tens of thousands of files that one-datagram transfers leave.
    qint64 records() const
    {
        if (t.kind == Kind::Bare)
            return QFileInfo(sandbox.home() + "/raw.bin").size() / oneRecordBytes;
        qint64 n = 0;
        for (QDirIterator it(sandbox.dataFolder(), {"data_*.txt"}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();) {
            QFile f(it.next());
            if (t.kind == Kind::BareFiles)
                n += f.size() / oneRecordBytes;
            else if (f.open(QIODevice::ReadOnly))
                n += std::max<qint64>(f.readAll().count('\n') - 13, 0); // below a header of 13 lines
        }
        return n;
    }
    // Waits until the socket is empty and nothing more reaches the files.
    qint64 drained(qint64 expected) const
    {
        QElapsedTimer waited;
        waited.start();
        for (qint64 last = -1, n; waited.elapsed() < 60000; last = n, QThread::msleep(250)) {
            n = socketQueue(sandbox.port()).bytes > 0 ? -1 : records();
            if (n >= expected || (n >= 0 && n == last))
                return n;
        }
        return records();
    }
};

QStringList simArgs(quint16 port, int packets, qint64 datagrams, int rate)
{
    const qint64 transfers = (datagrams + scales * packets - 1) / (scales * packets);
    return {"--port", QString::number(port), "--scales", QString::number(scales),
            "--packets", QString::number(packets), "--transfers", QString::number(transfers),
            "--records", "1", "--rate", QString::number(rate), "--seed", "1", "--time", stamp};
}

// Datagrams sent and at what rate, from scale-sim or bench-sender.
struct Sent
{
    qint64 datagrams = 0;
    double rate = 0;
};
Sent send(const QString &program, const QStringList &args)
{
    const QString out = run(program, args);
    return {firstMatch(out, "^datagrams:\\s+(\\d+)").toLongLong(), firstMatch(out, "^rate:\\s+(\\d+)").toDouble()};
}

// 80000 datagrams of scale-sim's as hex lines for bench-sender, sent for
// `seconds` at any rate and at least `minimum`, in whole rounds of the scales' transfers.
struct Traffic
{
    QString file;
    int round, seconds, minimum;
};
Traffic traffic(const Bench &b, const QTemporaryDir &dir, int packets, int seconds, int minimum)
{
    Traffic t{dir.filePath(QString("traffic-%1.hex").arg(packets)), scales * packets, seconds, minimum};
    QProcess hex;
    hex.setStandardOutputFile(t.file);
    hex.start(b.tool("/tools/scale-sim/scale-sim"), simArgs(0, packets, 80000, 0).mid(2) << "--hex");
    hex.waitForFinished();
    return t;
}

// ---------------------------------------------------------------- paced rate

// A rising series of paced runs against one receiver.
struct Sweep
{
    QString receiver;
    Rows runs;
    int held = 0;         // the highest rate at which a run lost nothing
    bool limited = false; // the sender fell short of it
    bool top = false;     // it is the highest rate tried: the limit lies above
    QString text() const
    {
        return (top ? "≥ " : "") + QString::number(held) + (limited ? " (sender-limited)" : "");
    }
    double ratio(const Sweep &to) const { return double(held) / std::max(1, to.held); }
};

// One run at `rate` in a fresh sandbox, added to `s`.
void pacedRun(const Bench &b, Sweep &s, const Target &target, const Traffic &traffic, int rate)
{
    Receiver r(b, target);
    const bool started = r.start();
    const double cpu0 = cpuSeconds(r.process.processId());
    const qint64 wanted = std::max<qint64>(qint64(rate) * traffic.seconds, traffic.minimum);
    const qint64 count = (wanted + traffic.round - 1) / traffic.round * traffic.round;
    const Sent sent = !started ? Sent{} : send(b.tool("/bench/bench-sender"),
        {QString::number(r.sandbox.port()), QString::number(rate), QString::number(count), traffic.file});
    const qint64 written = r.drained(sent.datagrams);
    const double cpuUs = (cpuSeconds(r.process.processId()) - cpu0) * 1e6 / std::max<qint64>(written, 1);
    const bool limited = sent.rate < 0.97 * rate;
    s.runs << QStringList{s.receiver, QString::number(rate), num(sent.rate) + (limited ? " (sender-limited)" : ""),
                          QString::number(sent.datagrams), QString::number(written),
                          QString::number(sent.datagrams - written),
                          QString::number(socketQueue(r.sandbox.port()).drops), num(cpuUs, 1)};
    qInfo("  %s at %d/s: %lld of %lld", qPrintable(s.receiver), rate, written, sent.datagrams);
    if (sent.datagrams > 0 && written == sent.datagrams) {
        s.held = rate;
        s.limited = limited;
    }
}

// Rising rates, the targets taking turns at each so that the machine's drift
// weighs on all alike. A rate counts as held when one of up to three runs
// loses nothing (other work on the machine only ever adds loss); a target's
// series ends at the first rate that every run lost at.
QList<Sweep> sweep(const Bench &b, const QList<Target> &targets, const Traffic &traffic, const QList<int> &rates)
{
    QList<Sweep> s;
    for (const Target &t : targets)
        s << Sweep{t.name, {}};
    for (int r = 0; r < rates.size(); ++r)
        for (int i = 0; i < targets.size(); ++i)
            for (int attempt = 0; attempt < (b.quick ? 1 : 3) && s[i].held == rates.value(r - 1); ++attempt)
                pacedRun(b, s[i], targets[i], traffic, rates[r]);
    for (Sweep &x : s)
        x.top = x.held == rates.last();
    return s;
}

QList<int> fastRates(const Bench &b)
{
    if (b.quick)
        return {50000, 100000, 150000, 200000, 250000, 300000};
    return {20000,  40000,  60000,  80000,  100000, 120000, 140000, 160000, 180000,
            200000, 225000, 250000, 275000, 300000, 350000, 400000, 500000};
}

// The highest zero-loss rate of each sweep against `reference`'s, and every run.
std::pair<QString, QString> rateTables(const QList<Sweep> &sweeps, const Sweep &reference)
{
    Rows held, runs;
    for (const Sweep &s : sweeps) {
        held << QStringList{s.receiver, s.text(), num(s.ratio(reference), 2)};
        runs += s.runs;
    }
    return {rows(held), rows(runs)};
}

// ---------------------------------------------------------------- the measurements

// Figure per data row of bench_datagram, from Qt Test's RESULT lines.
QMap<QString, double> benchResults(const Bench &b, const QStringList &args)
{
    QMap<QString, double> figures;
    const QRegularExpression result("RESULT : \\S+:\"([^\"]+)\":\\s*\\n\\s*([\\d.,]+) ");
    for (auto it = result.globalMatch(run(b.tool("/bench/bench_datagram"), args)); it.hasNext();) {
        const auto m = it.next();
        figures[m.captured(1)] = m.captured(2).remove(',').toDouble();
    }
    return figures;
}

void cpu(Bench &b)
{
    const auto instructions = benchResults(b, {"-callgrind", "-iterations", b.quick ? "512" : "2560"});
    const auto ms = benchResults(b, {"-minimumvalue", "200"});
    Rows table;
    for (auto it = instructions.cbegin(); it != instructions.cend(); ++it) {
        table << QStringList{it.key(), num(it.value()), num(ms.value(it.key()) * 1e6)};
        b.figure("Instructions per datagram: " + it.key(), num(it.value()));
    }
    b.section("cpu", {{"rows", rows(table)}});
}

void rate(Bench &b)
{
    const QTemporaryDir dir;
    const Traffic t = traffic(b, dir, 100, b.quick ? 1 : 2, b.quick ? 10000 : 30000);
    const QVariantMap quiet{{"ShowTrayMessage", false}}, debug{{"ShowTrayMessage", false}, {"Debug", true}};
    // Ten entries, the sender (127.0.0.1) matching the last.
    const QVariantMap allowed{{"ShowTrayMessage", false},
                              {"AllowedSenders", "10.0.0.0/8 172.16.0.0/12 192.168.0.0/24 192.168.2.0/24 "
                                                 "192.168.3.0/24 192.168.4.0/24 fd00::/8 2001:db8::/32 ::1 127.0.0.1"}};
    QList<Sweep> s;
    {
        const TempIn shm(b.rateData);
        s = sweep(b, {{"bare recvmmsg", Kind::Bare, {}}, {"Trelvant", Kind::Trelvant, quiet},
                      {"Trelvant, debug on", Kind::Trelvant, debug},
                      {"Trelvant, 10 allowed senders", Kind::Trelvant, allowed}}, t, fastRates(b));
    }
    s += sweep(b, {{"Trelvant, data on disk", Kind::Trelvant, quiet}}, t, fastRates(b));
    b.figure(QString("Zero-loss rate, notices off (bare recvmmsg: %1/s)").arg(s[0].text()),
             QString("%1/s (%2 of bare)").arg(s[1].text(), num(s[1].ratio(s[0]), 2)), "≥ 0.9 of bare",
             yes(s[1].ratio(s[0]) >= 0.9));
    b.figure("Zero-loss rate, notices off, data on disk", s[4].text() + "/s");
    b.figure("Zero-loss rate, debug on", QString("%1/s (%2 of debug off)").arg(s[2].text(), num(s[2].ratio(s[1]), 2)),
             "≥ 0.5 of debug off", yes(s[2].ratio(s[1]) >= 0.5));
    b.figure("Zero-loss rate, 10 allowed senders",
             QString("%1/s (%2 of none)").arg(s[3].text(), num(s[3].ratio(s[1]), 2)), "unchanged within noise");
    const auto [held, runs] = rateTables(s, s[0]);
    b.section("rate", {{"seconds", QString::number(t.seconds)}, {"minimum", QString::number(t.minimum)},
                       {"held", held}, {"runs", runs}});
}

void memory(Bench &b)
{
    const TempIn shm(b.rateData);
    const Target target{"", Kind::Trelvant, {{"ShowTrayMessage", true}}};
    Receiver r(b, target);
    const qint64 datagrams = b.quick ? 200000 : 1000000;
    qint64 rest = 0, after = 0, written = 0;
    Sent sent;
    if (r.start()) {
        QThread::sleep(2);
        rest = rssKiB(r.process.processId());
        sent = send(b.tool("/tools/scale-sim/scale-sim"), simArgs(r.sandbox.port(), 100, datagrams, 50000));
        written = r.drained(sent.datagrams);
        after = rssKiB(r.process.processId());
    }
    b.figure(QString("VmRSS after %1 datagrams against rest").arg(b.quick ? "200,000" : "1,000,000"),
             mib(after - rest, true), "within 5 MiB", yes(sent.datagrams && after - rest <= 5 * 1024));
    b.section("memory", {{"datagrams", QString::number(datagrams)},
                         {"row", rows({{mib(rest), mib(after), mib(after - rest, true),
                                        QString("%1 of %2").arg(written).arg(sent.datagrams)}})}});
}

// 2000 one-datagram transfers a second, balloons off, then on: what is lost,
// VmRSS at rest, right after the burst and 10 s later, the CPU used in those
// 10 s, and when the program is at rest again (a second with under 0.02 s of CPU).
void storm(Bench &b)
{
    Rows table;
    qint64 lost[2] = {}, sent = 0, grown = 0;
    double calm = -1; // seconds from the burst's end
    for (const bool balloons : {false, true}) {
        const Target target{"", Kind::Trelvant, {{"ShowTrayMessage", balloons}}};
        Receiver r(b, target);
        r.start();
        QThread::sleep(2);
        const qint64 pid = r.process.processId(), rest = rssKiB(pid);
        const QStringList args = simArgs(r.sandbox.port(), 1, b.quick ? 6000 : 20000, 2000);
        sent = send(b.tool("/tools/scale-sim/scale-sim"), args).datagrams;
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
        lost[balloons] = sent - r.drained(sent);
        grown = std::max(after, later) - rest;
        table << QStringList{balloons ? "on" : "off", QString::number(sent), QString::number(lost[balloons]),
                             mib(rest), mib(after - rest, true), mib(later - rest, true),
                             num(cpu.value(100, cpu.last()) - cpu.first(), 2), calm < 0 ? "> 60" : num(calm, 1)};
    }
    b.figure("Storm: datagrams lost, balloons on / off", QString("%1 / %2").arg(lost[1]).arg(lost[0]),
             "on loses no more than off", yes(sent && lost[1] <= lost[0]));
    b.figure("Storm, balloons on: VmRSS against rest (largest)", mib(grown, true), "within 10 MiB",
             yes(grown <= 10 * 1024));
    b.figure("Storm, balloons on: back at rest after the burst", table.last().last() + " s", "≤ 2 s",
             yes(calm >= 0 && calm <= 2));
    b.section("storm", {{"seconds", b.quick ? "3" : "10"}, {"rows", rows(table)}});
}

// The X display as its server reports it, on a connection of the driver's
// own with SubstructureNotify selected on the root window: a popup menu is
// seen the moment Trelvant maps it, with no polling in between.
struct Display
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE"), tooltip = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");

    Display()
    {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);
    }
    ~Display() { xcb_disconnect(x); }
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    // Balloons are tooltip windows.
    bool isBalloon(xcb_window_t w)
    {
        auto *reply = xcb_get_property_reply(x, xcb_get_property(x, 0, w, type, XCB_ATOM_ATOM, 0, 16), nullptr);
        const auto *types = reply ? static_cast<const xcb_atom_t *>(xcb_get_property_value(reply)) : nullptr;
        const bool found = types && std::count(types, types + xcb_get_property_value_length(reply) / 4, tooltip);
        free(reply);
        return found;
    }
    // The next window other than a balloon mapped within `ms`, or with
    // `gone` that window unmapped; 0 if none.
    xcb_window_t next(int ms, xcb_window_t gone = 0)
    {
        QElapsedTimer t;
        for (t.start(); t.elapsed() < ms;) {
            pollfd p{xcb_get_file_descriptor(x), POLLIN, 0};
            poll(&p, 1, int(ms - t.elapsed()));
            while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
                const int kind = e->response_type & 0x7F;
                const xcb_window_t w = reinterpret_cast<xcb_map_notify_event_t *>(e)->window; // where unmap's is
                free(e);
                if (gone ? kind == XCB_UNMAP_NOTIFY && w == gone : kind == XCB_MAP_NOTIFY && !isBalloon(w))
                    return w;
            }
        }
        return 0;
    }
    // Milliseconds from the right click on the icon (xdotool, whose start is
    // counted) until its menu is mapped, or -1; the menu is closed again.
    double openMenu(QPoint icon)
    {
        QElapsedTimer t;
        t.start();
        // Qt opens the menu on the press; "click" would add xdotool's own 100 ms after it.
        run("xdotool", {"mousemove", QString::number(icon.x()), QString::number(icon.y()), "mousedown", "3"});
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
    // The screen's pixels in `r`.
    QByteArray pixels(QRect r)
    {
        auto *image = xcb_get_image_reply(x, xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(r.x()),
            int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height()), ~0u), nullptr);
        const QByteArray bytes = image ? QByteArray(reinterpret_cast<const char *>(xcb_get_image_data(image)),
                                                    xcb_get_image_data_length(image)) : QByteArray();
        free(image);
        return bytes;
    }
};

// The icon's pixels are looked at every 100 ms for 4 s while scale-sim floods
// unpaced; then the menu is opened again and again until enough openings
// were timed, a new flood starting whenever one ends.
void menu(Bench &b)
{
    const Target target{"", Kind::Trelvant, {{"ShowTrayMessage", true}}};
    Receiver r(b, target);
    QList<double> ms, idle;
    int missed = 0, floods = 0, blinks = 0;
    if (r.start()) {
        QThread::sleep(1);
        // A balloon covers the lower half of the icon: it is clicked and looked at above that.
        const auto m = QRegularExpression("\"trayer\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)")
                           .match(run("xwininfo", {"-root", "-tree"}));
        const QRect top(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                        m.captured(2).toInt() * 2 / 5);
        Display display;
        for (int i = 0; i < 5; ++i) // without traffic: what the measuring itself takes
            idle << display.openMenu(top.center());
        QProcess flood;
        const auto keepFlooding = [&] {
            if (flood.state() == QProcess::NotRunning) {
                flood.start(b.tool("/tools/scale-sim/scale-sim"), simArgs(r.sandbox.port(), 100, 400000, 0));
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
        for (total.start(); ms.size() < (b.quick ? 8 : 25) && total.elapsed() < 120000; QThread::msleep(200)) {
            keepFlooding();
            const double opened = display.openMenu(top.center());
            if (opened < 0)
                ++missed;
            else
                ms << opened;
        }
        flood.kill();
        flood.waitForFinished();
    }
    const double max = ms.isEmpty() ? -1 : *std::max_element(ms.begin(), ms.end());
    b.figure("Tray menu open during an unpaced flood, median",
             QString("%1 ms (max %2 ms)").arg(num(median(ms)), num(max)), "median < 100 ms",
             yes(!ms.isEmpty() && median(ms) < 100));
    b.figure("Icon image changes in 4 s of flood (blinking: about 5)", QString::number(blinks));
    b.section("menu", {{"row", rows({{num(median(idle)), QString::number(ms.size()), QString::number(missed),
                                      num(median(ms)), num(max), QString::number(blinks), QString::number(floods)}})}});
}

// Trelvant syncing against the same program under eatmydata, the data on the
// disk: one-datagram transfers (a file and its sync each) beside the bare
// receiver's file per datagram, then 100-datagram transfers.
void sync(Bench &b)
{
    const QString create = fileCreation(), createSync = fileCreation(true);
    const QTemporaryDir dir;
    const Traffic one = traffic(b, dir, 1, b.quick ? 3 : 10, b.quick ? 3000 : 30000);
    const Traffic many = traffic(b, dir, 100, b.quick ? 1 : 2, b.quick ? 10000 : 30000);
    const QVariantMap quiet{{"ShowTrayMessage", false}};
    const Target syncing{"Trelvant, syncing", Kind::Trelvant, quiet};
    const Target eaten{"Trelvant under eatmydata", Kind::NoSync, quiet};
    const QList<int> slow = b.quick ? QList<int>{500, 1000, 2000, 4000}
                                    : QList<int>{500, 1000, 1500, 2000, 3000, 4000, 6000, 8000, 10000, 12000};
    const Target bare{"bare, a file per datagram", Kind::BareFiles, {}};
    const QList<Sweep> ones = sweep(b, {bare, syncing, eaten}, one, slow);
    const QList<Sweep> manys = sweep(b, {syncing, eaten}, many, fastRates(b));
    const auto compare = [&](const QString &what, const Sweep &on, const Sweep &off, double goal) {
        b.figure(what, QString("%1/s against %2/s (%3)").arg(on.text(), off.text(), num(on.ratio(off), 2)),
                 QString("with syncing ≥ %1 of without").arg(goal), yes(on.held && on.ratio(off) >= goal));
    };
    compare(QString("Zero-loss rate, one-datagram transfers, data on disk: syncing against eatmydata "
                    "(bare, a file per datagram: %1/s)").arg(ones[0].text()), ones[1], ones[2], 0.5);
    compare("Zero-loss rate, 100-datagram transfers, data on disk: syncing against eatmydata", manys[0],
            manys[1], 0.8);
    const auto [oneHeld, oneRuns] = rateTables(ones, ones[2]);
    const auto [manyHeld, manyRuns] = rateTables(manys, manys[1]);
    b.section("sync", {{"eatmydata", eatmydata}, {"create", create}, {"createSync", createSync},
                       {"createEnd", fileCreation()}, {"createSyncEnd", fileCreation(true)},
                       {"seconds", QString::number(one.seconds)}, {"minimum", QString::number(one.minimum)},
                       {"manySeconds", QString::number(many.seconds)}, {"manyMinimum", QString::number(many.minimum)},
                       {"oneHeld", oneHeld}, {"oneRuns", oneRuns}, {"manyHeld", manyHeld}, {"manyRuns", manyRuns}});
}

// How many UDP sockets are bound to `port`.
int sockets(quint16 port)
{
    int n = 0;
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        for (const QString &line : readText(table).split('\n'))
            n += line.simplified().section(' ', 1, 1).section(':', 1).toUInt(nullptr, 16) == port;
    }
    return n;
}

bool bound(quint16 port)
{
    return sockets(port) > 0;
}

// Trelvant started with a day folder of many data files, which it counts
// again for the status window while it already receives: how soon its port
// is open, when it is at rest again (a second under 0.02 s of CPU: counted),
// and, in a second start, what is lost of datagrams sent from the moment the
// port is open.
void start(Bench &b)
{
    const int files = b.quick ? 5000 : 20000, datagrams = 5000;
    const QByteArray content = readText(PROJECT_SOURCE_DIR "/tests/data/example-english.txt").toLatin1();
    const Target target{"", Kind::Trelvant, {{"ShowTrayMessage", false}}};
    qint64 openMs[2] = {-1, -1}, written = 0;
    double restS = -1;
    Sent sent;
    for (int traffic = 0; traffic < 2; ++traffic) {
        Receiver r(b, target);
        const QString day = r.sandbox.dataFolder() + "/" + QDate::currentDate().toString("dd.MM.yyyy");
        QDir().mkpath(day);
        for (int i = 1; i <= files; ++i) {
            QFile f(day + QString("/data_%1.txt").arg(i));
            if (f.open(QIODevice::WriteOnly))
                f.write(content);
        }
        QElapsedTimer t;
        t.start();
        if (!r.sandbox.start(r.process, b.tool("/Trelvant"), false))
            continue;
        while (!bound(r.sandbox.port()) && t.elapsed() < 10000)
            QThread::msleep(1);
        openMs[traffic] = t.elapsed();
        if (traffic) {
            sent = send(b.tool("/tools/scale-sim/scale-sim"), simArgs(r.sandbox.port(), 100, datagrams, 1000));
            written = r.drained(files + sent.datagrams) - files;
            continue;
        }
        QList<double> cpu; // every 100 ms
        for (int tick = 0; tick < 600 && restS < 0; ++tick, QThread::msleep(100)) {
            cpu << cpuSeconds(r.process.processId());
            if (cpu.size() > 10 && cpu.last() - cpu[cpu.size() - 11] < 0.02)
                restS = (t.elapsed() - 1000) / 1000.0;
        }
    }
    const QString where = QString("Start with %1 files in today's folder").arg(files);
    b.figure(where + ": port open after", QString("%1 ms; %2 ms").arg(openMs[0]).arg(openMs[1]), "≤ 1 s",
             yes(openMs[0] >= 0 && openMs[1] >= 0 && openMs[0] <= 1000 && openMs[1] <= 1000));
    b.figure(where + ": counted, at rest again, after", restS < 0 ? QString("> 60 s") : num(restS, 1) + " s");
    b.figure(where + QString(": lost of %1 datagrams sent at 1000/s meanwhile").arg(sent.datagrams),
             QString::number(sent.datagrams - written), "none", yes(sent.datagrams > 0 && written == sent.datagrams));
    b.section("start", {{"files", QString::number(files)}, {"datagrams", QString::number(datagrams)}});
}

// A tray program receives a paced stream when the service starts on its
// port: how soon the tray program lets the port go (one socket left on it),
// and what is lost of the stream, which they file between them.
void handover(Bench &b)
{
    const int runs = b.quick ? 1 : 3, rate = 1000, datagrams = b.quick ? 6000 : 10000;
    Rows table;
    qint64 lostAll = 0;
    for (int run = 1; run <= runs; ++run) {
        const Target target{"", Kind::Trelvant, {{"ShowTrayMessage", false}}};
        Receiver tray(b, target);
        Sandbox service({{"UdpPort", int(tray.sandbox.port())}, {"ShowTrayMessage", false}});
        tray.sandbox.followService(service);
        QProcess serviceProcess;
        if (!tray.start())
            continue;
        QProcess sim;
        sim.start(b.tool("/tools/scale-sim/scale-sim"), simArgs(tray.sandbox.port(), 100, datagrams, rate));
        QThread::sleep(3);
        QElapsedTimer t;
        t.start();
        service.start(serviceProcess, b.tool("/Trelvant"), false, {"--service"});
        while (sockets(tray.sandbox.port()) < 2 && t.elapsed() < 10000)
            QThread::msleep(1);
        while (sockets(tray.sandbox.port()) > 1 && t.elapsed() < 10000)
            QThread::msleep(1);
        const qint64 handedMs = t.elapsed();
        sim.waitForFinished(120000);
        const qint64 sent = firstMatch(QString::fromLocal8Bit(sim.readAll()), "^datagrams:\\s+(\\d+)").toLongLong();
        qint64 filed = -1;
        for (qint64 last = -2; filed != last; QThread::msleep(500))
            last = std::exchange(filed, tray.records() + service.records().size());
        serviceProcess.kill();
        serviceProcess.waitForFinished();
        lostAll += sent - filed;
        table << QStringList{QString::number(run), QString::number(sent), QString::number(tray.records()),
                             QString::number(filed - tray.records()), QString::number(sent - filed),
                             QString::number(handedMs)};
    }
    b.figure(QString("Hand-over to the service, %1 datagrams/s: lines lost in %2 runs").arg(rate).arg(runs),
             QString::number(lostAll), "none", yes(!table.isEmpty() && lostAll == 0));
    b.section("handover", {{"rate", QString::number(rate)}, {"datagrams", QString::number(datagrams)},
                           {"rows", rows(table)}});
}

// What can be measured, in the report's order; `tray`: only on a desktop with a tray.
const struct Part
{
    const char *name;
    void (*measure)(Bench &);
    bool tray;
} parts[] = {{"cpu", cpu, false},    {"rate", rate, false}, {"memory", memory, false},
             {"storm", storm, true}, {"menu", menu, true},  {"sync", sync, false},
             {"start", start, false},   {"handover", handover, false}};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"build", "Build folder of the sources.", "dir", "build"},
                       {"parts", "What to measure.", "list", "cpu,rate,memory,storm,menu,sync,start,handover"},
                       {"results", "Where the report goes.", "file", PROJECT_SOURCE_DIR "/bench/RESULTS.md"},
                       {"rate-data", "Where the paced rate and memory runs keep their files (a tmpfs keeps the "
                                     "disk, shared with whatever else runs, out of the comparison).",
                        "dir", QFileInfo("/dev/shm").isDir() ? "/dev/shm" : QDir::tempPath()},
                       {"quick", "Fewer rates, shorter runs, no repeats."}});
    parser.addHelpOption();
    parser.process(app);
    Bench b;
    b.build = QFileInfo(parser.value("build")).absoluteFilePath();
    b.rateData = parser.value("rate-data");
    b.quick = parser.isSet("quick");
    const QRegularExpression block("^<!-- (\\w+) -->\\n(.*?)(?=^<!-- |\\z)",
                                   QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    for (auto it = block.globalMatch(readText(PROJECT_SOURCE_DIR "/bench/report.md.in")); it.hasNext();) {
        const auto m = it.next();
        b.blocks[m.captured(1)] = m.captured(2);
    }

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
        p.measure(b);
    }

    const QString report = fill(b.blocks.value("head"), {
        {"command", QString(argv[0]).section('/', -1) + " " + QCoreApplication::arguments().mid(1).join(' ')},
        {"started", started}, {"took", QString::number(took.elapsed() / 1000)},
        {"cpu", QString("%1 × %2").arg(QThread::idealThreadCount())
                    .arg(firstMatch(readText("/proc/cpuinfo"), "^model name\\s*:\\s*(.*)$"))},
        {"memory", mib(firstMatch(readText("/proc/meminfo"), "^MemTotal:\\s+(\\d+)").toLongLong())},
        {"kernel", QSysInfo::kernelVersion()}, {"rmem", readText("/proc/sys/net/core/rmem_max").trimmed()},
        {"qt", qVersion()}, {"load", load + "; " + readText("/proc/loadavg").section(' ', 0, 2)},
        {"tmp", b.tmp}, {"create", create + "; " + fileCreation()}, {"summary", rows(b.summary)},
        {"checkout", run("git", {"-C", PROJECT_SOURCE_DIR, "describe", "--always", "--dirty"}).trimmed()}});
    QFile out(parser.value("results"));
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write((report + b.details + "\n" + readText(PROJECT_SOURCE_DIR "/bench/earlier.md")).toUtf8());
    qInfo("Wrote %s", qPrintable(out.fileName()));
    return 0;
}
