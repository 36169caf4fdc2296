// Runs a program, Trelvant as built or installed, in a sandbox of its own
// for scripts: options stored where the program reads them, a free port, the
// data folder inside. Once the program files datagrams, the --info file gets
// the lines "pid N", "port N" and "data PATH"; then it waits for the program
// and ends with its exit code.
//
//   trelvant-sandbox --info FILE [--keep] [--option KEY=VALUE]... PROGRAM
//   trelvant-sandbox --free-port        prints a UDP port free now
//
// --keep leaves the home, its data and the stored options behind; an empty
// FilePath leaves the data in the default folder.
#include "sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"info", "Where to write pid, port and data folder.", "file"},
                       {"keep", "Leave the home and the options behind."},
                       {"option", "A stored option.", "key=value"},
                       {"free-port", "Print a UDP port that is free now, and end."}});
    parser.addPositionalArgument("program", "The program to run.");
    parser.process(app);
    if (parser.isSet("free-port")) {
        std::printf("%u\n", unsigned(freeUdpPort()));
        return 0;
    }
    QVariantMap options;
    for (const QString &option : parser.values("option"))
        options.insert(option.section('=', 0, 0), option.section('=', 1));

    Sandbox sandbox(options);
    sandbox.keep(parser.isSet("keep"));
    QProcess program;
    if (parser.positionalArguments().isEmpty() ||
        !sandbox.start(program, parser.positionalArguments().first()))
        return 1;
    QFile info(parser.value("info"));
    if (!info.open(QIODevice::WriteOnly))
        return 1;
    info.write(QString("pid %1\nport %2\ndata %3\n")
                   .arg(program.processId())
                   .arg(sandbox.port())
                   .arg(sandbox.dataFolder())
                   .toUtf8());
    info.close();
    program.waitForFinished(-1);
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : 1;
}
