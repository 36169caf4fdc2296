// Feeds datagrams straight into Gravex::saveMessage, without a socket, and
// reports what one datagram costs: wall-clock nanoseconds here, instructions
// when run under callgrind with --collect-atstart=no (only the measured loop
// is counted: start-up, warm-up and the event loop in between are not).
//
//   savemessage-bench --datagrams FILE [--count N] [--warmup N] [--notices]
//
// FILE holds one datagram per line in hex (scale-sim --hex). The datagrams are
// handed over in order, cyclically, N times. The program's home, options and
// data folder are a temporary folder of its own; the data files it writes are
// counted at the end to show that the loop did the work. For a system call
// trace, each measured slice lies between access() calls of the paths
// /savemessage-bench/slice-begin and /savemessage-bench/slice-end.

#include "gravexprobe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

#ifdef SCALVO_HAVE_CALLGRIND
#include <valgrind/callgrind.h>
#define COLLECT_TOGGLE() CALLGRIND_TOGGLE_COLLECT
#else
#define COLLECT_TOGGLE() ((void)0)
#endif

namespace {

// The event loop runs between bursts in the real program; here it runs
// between slices of this many datagrams, outside the counted region.
constexpr int kSlice = 256;

// Marks the start and end of each measured slice in a system call trace
// (strace): an access() of a path that does not exist.
void traceMark(const char *path)
{
    (void)::access(path, F_OK);
}

QList<QByteArray> readHexLines(const QString &path)
{
    QFile file(path);
    QList<QByteArray> datagrams;
    if (!file.open(QIODevice::ReadOnly))
        return datagrams;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            datagrams.append(QByteArray::fromHex(line));
    }
    return datagrams;
}

struct Written
{
    qint64 files = 0;
    qint64 lines = 0;
};

Written countRecordLines(const QString &dataFolder)
{
    Written w;
    QDirIterator it(dataFolder, {QStringLiteral("data_*.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        ++w.files;
        while (!f.atEnd()) {
            if (f.readLine().endsWith(";\r\n"))
                ++w.lines;
        }
    }
    return w;
}

} // namespace

int main(int argc, char **argv)
{
    // A home of our own before Qt looks for settings or a data folder.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "savemessage-bench: no temporary folder\n");
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("datagrams"), QStringLiteral("Hex datagrams, one a line."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("count"), QStringLiteral("Datagrams to measure."),
                      QStringLiteral("n"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("warmup"), QStringLiteral("Datagrams before measuring."),
                      QStringLiteral("n"), QStringLiteral("200")});
    parser.addOption({QStringLiteral("notices"), QStringLiteral("Arrival notices on.")});
    parser.process(app);

    const QList<QByteArray> datagrams = readHexLines(parser.value(QStringLiteral("datagrams")));
    const qint64 count = parser.value(QStringLiteral("count")).toLongLong();
    const qint64 warmup = parser.value(QStringLiteral("warmup")).toLongLong();
    if (datagrams.isEmpty() || count <= 0 || warmup < 0) {
        std::fprintf(stderr, "savemessage-bench: need --datagrams with hex lines and --count > 0\n");
        return 2;
    }

    const QString dataFolder = home.path() + QStringLiteral("/data");
    {
        QFile conf(home.path() + QStringLiteral("/.config/Ponderix.conf"));
        QDir().mkpath(home.path() + QStringLiteral("/.config"));
        if (!conf.open(QIODevice::WriteOnly))
            return 1;
        // Port 0: the socket takes any free port and is never used here.
        conf.write("[General]\nFilePath=" + dataFolder.toLocal8Bit() +
                   "\nUdpPort=0\nAutoLoad=false\nDebug=false\nLanguage=English\n"
                   "ShowTrayMessage=" +
                   (parser.isSet(QStringLiteral("notices")) ? "true" : "false") + "\n");
    }

    Gravex gravex;
    GravexProbe probe(gravex);
    const qsizetype n = datagrams.size();
    qsizetype next = 0;
    const auto feed = [&](qint64 howMany) {
        for (qint64 i = 0; i < howMany; ++i) {
            probe.saveMessage(datagrams.at(next));
            next = next + 1 == n ? 0 : next + 1;
        }
    };

    feed(warmup);
    QCoreApplication::processEvents();

    qint64 nanoseconds = 0;
    QElapsedTimer clock;
    for (qint64 done = 0; done < count;) {
        const qint64 slice = qMin<qint64>(kSlice, count - done);
        traceMark("/savemessage-bench/slice-begin");
        clock.start();
        COLLECT_TOGGLE();
        feed(slice);
        COLLECT_TOGGLE();
        nanoseconds += clock.nsecsElapsed();
        traceMark("/savemessage-bench/slice-end");
        done += slice;
        QCoreApplication::processEvents();
    }

    const Written w = countRecordLines(dataFolder);
    std::printf("datagrams=%lld ns_per_datagram=%.1f data_files=%lld record_lines=%lld\n",
                static_cast<long long>(count), double(nanoseconds) / double(count),
                static_cast<long long>(w.files), static_cast<long long>(w.lines));
    return 0;
}
