#pragma once

// What the parts of the bench share: the run's settings and report, reading
// /proc, the paced traffic, the bare receiver, and what is measured
// (Subject: Trelvant or a bare receiver in a sandbox of its own). Each part
// is a file of its own (cpu.cpp, rate.cpp, ...); main.cpp runs them and
// writes the report.
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

namespace benchmark {

inline const QString stamp = "2024-03-07T08:09:05"; // the time in the records: same bytes every run
constexpr int scales = 8, batch = 64;               // batch: datagrams per sendmmsg() or recvmmsg()
constexpr qint64 recordBytes = 65; // a one-record datagram: 13 bytes of head, the CRC
inline const QVariantMap quiet{{"ShowTrayMessage", false}}, balloons{{"ShowTrayMessage", true}};

// The run's settings and the report it adds to.
struct Bench
{
    QString build, rateData, tmp = QDir::tempPath();
    bool quick = false;
    QMap<QString, QString> blocks; // of the template, by name
    QStringList summary;           // rows of its table
    QString details;
};
extern Bench bench;

inline const auto str = [](qint64 v) { return QString::number(v); };
inline const auto num = [](double v, int decimals = 0) {
    return QString::number(v, 'f', decimals);
};
inline const auto yes = [](bool met) { return met ? "met" : "**not met**"; };
inline const auto mib = [](qint64 kib) -> QString { return num(kib / 1024.0, 1) + " MiB"; };
inline const auto grown = [](qint64 kib) -> QString { return (kib >= 0 ? "+" : "") + mib(kib); };
inline const auto sim = []() -> QString { return bench.build + "/tools/scale-sim/scale-sim"; };
inline const auto trelvant = []() -> QString { return bench.build + "/Trelvant"; };
inline const auto firstMatch = [](const QString &text, const QString &pattern) {
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).captured(1);
};
inline const auto sentBy = [](const QString &simOutput) {
    return firstMatch(simOutput, "^datagrams:\\s+(\\d+)").toLongLong();
};

// Whether `process` has the socket of that inode open.
bool holdsSocket(const QProcess &process, qint64 inode);

// A row of a Markdown table, below a head that the template holds.
template <class... Cells> QString row(const Cells &...cells)
{
    return "| " + QStringList{cells...}.join(" | ") + " |";
}

// `text` with each {{name}} replaced, from pairs of name and value.
QString fill(QString text, const QStringList &pairs);
// The part's block and its rows of the summary table, filled in.
void section(const QString &part, const QStringList &pairs);
QString run(const QString &program, const QStringList &args);
QString readText(const QString &path);
double median(QList<double> v);
qint64 rssKiB(qint64 pid);
// User and system time of a process so far, in seconds.
double cpuSeconds(qint64 pid);

// The UDP sockets bound to a port: how many, what waits in them and what the kernel dropped, and
// the inode of the last one listed.
struct Port
{
    int sockets = 0;
    qint64 queued = 0, drops = 0, inode = 0;
};
Port udpPort(quint16 port);

// Milliseconds to create, write 100 bytes to and close a file in the temporary folder, where the
// sandboxes keep their data; with `sync`, made durable as Trelvant makes a new data file durable.
QString fileCreation(bool sync = false);
// scale-sim's arguments for `datagrams` of one record, `packets` to a transfer, to `port`.
QStringList simArgs(quint16 port, int packets, qint64 datagrams, int rate);
// A UDP socket with the receive buffer Trelvant asks for, bound to `port` to receive, or to send
// connected to it on 127.0.0.1; -1 if that failed.
int udpSocket(quint16 port, bool receive);

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
int bare(quint16 port, const QByteArray &dir, bool perDatagram);

// Trelvant, under Debian's eatmydata (which preloads libeatmydata.so: syncs made no-ops) or
// not, or the `bare` receiver ("bare" or "bare-files").
struct Target
{
    QString name;
    QVariantMap options = {};
    QString bare = {};
    bool eatmydata = false;
};

// What is measured: Trelvant or a bare receiver, in a sandbox of its own, killed with it.
struct Subject
{
    const Target t;
    Sandbox sandbox{t.options};
    QProcess process;

    explicit Subject(const Target &target) : t(target) {}
    ~Subject()
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

// Sends `count` datagrams of `t` at `rate` a second; how many were sent, and in how many seconds.
std::pair<qint64, double> sendPaced(const Traffic &t, quint16 port, int rate, qint64 count);

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

void pacedRun(Sweep &s, const Target &target, const Traffic &traffic, int rate);
QList<Sweep> sweep(const QList<Target> &targets, const Traffic &traffic, const QList<int> &rates);

inline const auto fastRates = [] {
    return bench.quick
               ? QList<int>{50000, 100000, 150000, 200000, 250000, 300000}
               : QList<int>{20000,  40000,  60000,  80000,  100000, 120000, 140000, 160000, 180000,
                            200000, 225000, 250000, 275000, 300000, 350000, 400000, 500000};
};

// The tables `prefix`Held, the highest zero-loss rate of each sweep against `reference`'s, and
// `prefix`Runs, every run.
QStringList tables(const QString &prefix, const QList<Sweep> &sweeps, const Sweep &reference);
// Figure per data row of bench_datagram, from Qt Test's RESULT lines.
QMap<QString, double> benchResults(const QStringList &args);

// The parts, each in a file of its name.
void cpu();
void rate();
void memory();
void storm();
void menu();
void sync();
void start();
void handover();

} // namespace benchmark
