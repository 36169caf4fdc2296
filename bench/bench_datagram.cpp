// The CPU cost of one datagram on the receive path, without a socket: each benchmark iteration
// hands a receiver one datagram as a pass over the socket would, ending a batch after every 256.
//
//   bench_datagram                                 wall clock, adaptive iteration count
//   bench_datagram -callgrind -iterations 2560     instructions (valgrind)
#include "frames.h"
#include "reception/receiver.h"
#include "sandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTest>

// Packet `number` of `count`, `records` times the worked example's record, as scale-sim builds it.
static QByteArray datagram(int records, quint16 number, quint16 count)
{
    return scalesim::buildFrame(number, count,
                                QList<scalesim::Record>(records, scalesim::exampleRecord()));
}

class BenchDatagram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void perDatagram_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("debug");
        QTest::addColumn<QString>("allowed");
        QTest::newRow("1 record, mid-transfer") << datagram(1, 2, 60000) << false << "";
        QTest::newRow("20 records, mid-transfer") << datagram(20, 2, 60000) << false << "";
        QTest::newRow("1 record, one-datagram transfers") << datagram(1, 1, 1) << false << "";
        QTest::newRow("1 record, mid-transfer, debug on") << datagram(1, 2, 60000) << true << "";
        // Ten entries, the sender matching the last.
        QTest::newRow("1 record, mid-transfer, 10 allowed senders")
            << datagram(1, 2, 60000) << false
            << "10.0.0.0/8 172.16.0.0/12 192.168.0.0/24 192.168.2.0/24 192.168.3.0/24 "
               "192.168.4.0/24 fd00::/8 2001:db8::/32 127.0.0.1 192.168.1.17";
    }

    void perDatagram()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, debug);
        QFETCH(QString, allowed);
        const Sandbox sandbox;
        QVERIFY(QDir().mkpath(sandbox.dataFolder()));
        Receiver receiver;
        receiver.setDataFolder(sandbox.dataFolder());
        receiver.setLanguage(1);
        receiver.setDebug(debug);
        QVERIFY(receiver.setAllowedSenders(allowed));
        receiver.setFileCounter();
        const QHostAddress scale(QStringLiteral("::ffff:192.168.1.17"));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        int n = 0;
        QBENCHMARK
        {
            receiver.take(datagram, scale, now);
            if (++n % 256 == 0)
                receiver.finishBatch();
        }
        receiver.storeAndClose();
        // Every datagram left its line: the files hold at least 40 bytes a datagram.
        qint64 bytes = 0;
        for (const QString &path : sandbox.dataFiles())
            bytes += QFileInfo(path).size();
        QVERIFY2(bytes >= 40LL * n,
                 qPrintable(QString("%1 bytes for %2 datagrams").arg(bytes).arg(n)));
    }
};

QTEST_GUILESS_MAIN(BenchDatagram)
#include "bench_datagram.moc"
