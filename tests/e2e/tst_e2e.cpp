// End to end over loopback: the built Trelvant in a sandbox of its own, fed
// by scale-sim or by this test, for what only the real executable shows:
// garbage among valid datagrams from several scales, a kill or a request to
// end mid-transfer, a second start, a file size limit, an unwritable folder.
#include "datagrams.h"
#include "sandbox.h"

#include <QDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

const QString trelvant = QStringLiteral(TRELVANT_PATH);

// scale-sim's own record lines for what it sent, in file order.
QList<QByteArray> simulate(const Sandbox &sandbox, const QStringList &args)
{
    const QString expect = sandbox.home() + "/expected.txt";
    QProcess sim;
    sim.start(SCALE_SIM_PATH,
              args + QStringList{"--port", QString::number(sandbox.port()), "--expect", expect});
    if (!sim.waitForFinished(120000) || sim.exitCode() != 0)
        return {"scale-sim failed"};
    QFile file(expect);
    file.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeLast();
    for (QByteArray &line : lines)
        line.chop(1);
    return lines;
}

QList<QByteArray> lines(std::initializer_list<int> transactions)
{
    QList<QByteArray> out;
    for (int n : transactions)
        out << lineOf(n);
    return out;
}

bool ended(QProcess &process)
{
    return process.waitForFinished(10000);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void garbageFromSeveralScales()
    {
        Sandbox sandbox;
        QProcess program;
        QVERIFY(sandbox.start(program, trelvant));
        const QList<QByteArray> expected =
            simulate(sandbox, {"--scales", "4", "--transfers", "40", "--packets", "3", "--records",
                               "2", "--corrupt", "15", "--empty-plu", "5", "--rate", "2000"});
        QVERIFY(expected.size() > 400);
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.records(), expected, 20000);
        QCOMPARE(sandbox.damagedFile(), QString());
    }

    // Every line handed over before the kill is in the file, whole.
    void killedMidTransfer()
    {
        Sandbox sandbox;
        QProcess program;
        QVERIFY(sandbox.start(program, trelvant));
        sandbox.send(packet1of3);
        sandbox.send(packet2of3);
        QTRY_COMPARE(sandbox.records(), lines({1, 2}));
        program.kill();
        QVERIFY(ended(program));
        QCOMPARE(sandbox.records(), lines({1, 2}));
        QCOMPARE(sandbox.damagedFile(), QString());
    }

    // A second start shows the first one's window and ends, and the transfer
    // under way stays in one file.
    void secondStart()
    {
        Sandbox sandbox;
        QProcess first, second;
        QVERIFY(sandbox.start(first, trelvant));
        sandbox.send(packet1of3);
        QTRY_COMPARE(sandbox.records(), lines({1}));
        QVERIFY(sandbox.start(second, trelvant, false));
        QVERIFY(ended(second));
        QCOMPARE(second.exitCode(), 0);
        sandbox.send(packet2of3);
        sandbox.send(packet3of3);
        QTRY_COMPARE(sandbox.records(), lines({1, 2, 3}));
        QCOMPARE(QFile(sandbox.dataFiles().last()).size(), englishFile({1, 2, 3}).size());
    }

    // A data folder that became a plain file: the transfer is lost (the user
    // is warned), the program runs on, and files again once it is a folder.
    void unwritableDataFolder()
    {
        Sandbox sandbox;
        QProcess program;
        QVERIFY(sandbox.start(program, trelvant));
        QVERIFY(QDir(sandbox.dataFolder()).removeRecursively());
        QFile plain(sandbox.dataFolder());
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        for (const QByteArray &d : {packet1of3, packet2of3, packet3of3})
            sandbox.send(d);
        QVERIFY(sandbox.settle());
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(plain.remove() && QDir().mkdir(sandbox.dataFolder()));
        sandbox.send(example);
        QTRY_COMPARE(sandbox.records(), lines({1234}));
    }

#ifdef Q_OS_UNIX
    // Logout, systemctl stop, Ctrl+C: what was read is stored, exit 0.
    void endRequestedWhileDraining_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void endRequestedWhileDraining()
    {
        QFETCH(int, signal);
        Sandbox sandbox;
        QProcess program;
        QVERIFY(sandbox.start(program, trelvant));
        const QList<QByteArray> sent = simulate(sandbox, {"--packets", "5000", "--rate", "50000"});
        QTRY_VERIFY_WITH_TIMEOUT(!sandbox.records().isEmpty(), 10000);
        ::kill(pid_t(program.processId()), signal);
        QVERIFY(ended(program));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QList<QByteArray> written = sandbox.records();
        QVERIFY(!written.isEmpty());
        QCOMPARE(written, sent.mid(0, written.size()));
        QCOMPARE(sandbox.damagedFile(), QString());
    }

    // A question about the open data file that the system cannot answer (no
    // search permission on its folder, as a network folder may deny it) is
    // no reason to give the file up: the transfer stays in it, whole.
    void doubtKeepsTheTransfer()
    {
        Sandbox sandbox;
        QProcess program;
        if (::geteuid() == 0) // root is never denied
            QVERIFY(sandbox.handTo(program, "nobody"));
        QVERIFY(sandbox.start(program, trelvant));
        sandbox.send(packet1of3);
        QTRY_COMPARE(sandbox.records(), lines({1}));
        const QString file = sandbox.dataFiles().last();
        const QString day = QFileInfo(file).path();
        QVERIFY(QFile::setPermissions(day, QFile::ReadOwner | QFile::WriteOwner));
        sandbox.send(packet2of3);
        sandbox.send(packet3of3);
        QVERIFY(sandbox.settle());
        QVERIFY(QFile::setPermissions(day, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(sandbox.dataFiles().last(), file);
        QCOMPARE(readFile(file), englishFile({1, 2, 3}));
    }

    // A file size limit is a failed write like a full disk, not the end.
    void fileSizeLimit()
    {
        Sandbox sandbox;
        QProcess program;
        program.setChildProcessModifier([] {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 4096;
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        QVERIFY(sandbox.start(program, trelvant));
        simulate(sandbox, {"--packets", "200", "--rate", "2000"});
        sandbox.send(example);
        QTRY_VERIFY(sandbox.records().contains(lineOf(1234)));
        QCOMPARE(program.state(), QProcess::Running);
        QCOMPARE(sandbox.damagedFile(), QString());
    }
#endif
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
