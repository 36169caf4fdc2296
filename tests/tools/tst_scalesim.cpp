// Runs the built scale simulator and checks what it would send: the worked
// example byte for byte, and generated traffic that keeps the frame rules.
#include "fixture.h"
#include "reception/frame.h"

#include <QProcess>

namespace {

QByteArrayList runSim(const QStringList &args)
{
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(SCALE_SIM_PATH, args + QStringList{"--hex"});
    if (!sim.waitForFinished(60000) || sim.exitCode() != 0)
        return {};
    QByteArrayList frames;
    for (const QByteArray &line : sim.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            frames << QByteArray::fromHex(line);
    return frames;
}

} // namespace

class TestScaleSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exampleBytes() { QCOMPARE(runSim({"--example"}), QByteArrayList{example}); }

    void generatedFramesPassRules_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("records");
        QTest::newRow("defaults: one 65-byte frame") << QStringList() << 1 << 1;
        QTest::newRow("many records per datagram") << QStringList{"--records", "29"} << 1 << 29;
        QTest::newRow("multi-packet transfers of several scales")
            << QStringList{"--scales", "3", "--transfers", "4", "--packets", "5", "--records", "2"}
            << 60 << 2;
        QTest::newRow("interleaved scales with empty records")
            << QStringList{"--scales",     "4",           "--transfers", "10",
                           "--interleave", "--empty-plu", "50"}
            << 40 << 1;
    }
    void generatedFramesPassRules()
    {
        QFETCH(QStringList, args);
        QFETCH(int, frames);
        QFETCH(int, records);
        const QByteArrayList sent = runSim(args + QStringList{"--seed", "7"});
        QCOMPARE(sent.size(), frames);
        for (const QByteArray &f : sent) {
            QVERIFY2(frame::hasValidPrefix(f) && frame::hasValidLength(f) && frame::hasValidCrc(f),
                     f.toHex(' ').constData());
            QCOMPARE(f.size(), 15 + records * 50);
        }
    }
};

QTEST_GUILESS_MAIN(TestScaleSim)
#include "tst_scalesim.moc"
