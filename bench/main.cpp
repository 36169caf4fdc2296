// Measures Trelvant from outside and writes bench/RESULTS.md from bench/report.md.in, a block for
// each part measured (a file of its own each). It sends the paced traffic itself and, run as
// `bench-driver bare PORT DIR` or `bare-files PORT DIR`, is the bare receiver.
//
//   bench-driver --build DIR [--quick] [--parts cpu,rate,memory,storm,menu,sync,start,handover]
//                [--results FILE] [--rate-data DIR]
#include "bench.h"

using namespace benchmark;

namespace {

// What can be measured, in the report's order; `tray`: only on a desktop with a tray.
const struct Part
{
    const char *name;
    void (*measure)();
    bool tray;
} parts[] = {{"cpu", cpu, false},       {"rate", rate, false},
             {"memory", memory, false}, {"storm", storm, true},
             {"menu", menu, true},      {"sync", benchmark::sync, false},
             {"start", start, false},   {"handover", handover, false}};

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
