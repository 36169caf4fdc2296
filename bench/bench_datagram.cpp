// The CPU cost of one datagram on the receive path, without a socket: the
// main object is built in a throw-away home and each benchmark iteration
// hands it one datagram through saveMessage(), ending a batch after every
// 256 as the receiver does after one pass over its socket. The figure per
// iteration is therefore one datagram with its share of the batch's end.
//
//   bench_datagram                       wall clock, adaptive iteration count
//   bench_datagram -callgrind -iterations 2560     instructions (valgrind)
#include "app/gravex.h"
#include "reception/frame.h"

#include <QApplication>
#include <QDirIterator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

// The main object lets a struct of this name reach its private parts.
struct GravexProbe
{
    Gravex &g;
#ifdef BENCH_PASS_FLAG
    // Revisions up to fd54c91: a pass sets `receiving` and ends in finishWrites().
    void save(const QByteArray &d)
    {
        if (!g.receiving) {
            g.receiving = true;
            g.checkedDateFolder.clear();
        }
        g.saveMessage(d);
    }
    void endBatch()
    {
        g.receiving = false;
        g.finishWrites();
    }
#else
    void save(const QByteArray &d) { g.saveMessage(d); }
    void endBatch() { g.finishBatch(); }
#endif
};

namespace {

constexpr int batch = 256;

// Transaction 1234 of 5.12.2011 14:03:09, PLU 105, price 4590, weight 1250.
const QByteArray record = QByteArray::fromHex(
    "D2040000000000000B0C050E03090200000000000001070369000000EE110000E20400000000000000000000000000000000");

// A valid datagram: packet `number` of `count`, carrying `records` records.
QByteArray datagram(int records, quint16 number, quint16 count)
{
    const auto le16 = [](int v) {
        const char bytes[] = {char(v & 0xFF), char(v >> 8)};
        return QByteArray(bytes, 2);
    };
    const QByteArray data = record.repeated(records);
    QByteArray d = QByteArray::fromHex("F855CE") + le16(int(data.size()) + 8) + "\x02\x08" +
                   le16(number) + le16(count) + le16(int(data.size())) + data;
    return d + le16(frame::crc16(QByteArrayView(d).sliced(frame::bodyOffset)));
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

} // namespace

class BenchDatagram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void perDatagram_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("debug");
        QTest::newRow("1 record, mid-transfer") << datagram(1, 2, 60000) << false;
        QTest::newRow("20 records, mid-transfer") << datagram(20, 2, 60000) << false;
        QTest::newRow("1 record, one-datagram transfers") << datagram(1, 1, 1) << false;
        QTest::newRow("1 record, mid-transfer, debug on") << datagram(1, 2, 60000) << true;
    }

    void perDatagram()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, debug);
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath(".config"));
        {
            QSettings options(home.filePath(".config/Ponderix.conf"), QSettings::IniFormat);
            options.setValue("FilePath", home.filePath("data"));
            options.setValue("UdpPort", freeUdpPort());
            options.setValue("Language", "English");
            options.setValue("ShowTrayMessage", false);
            options.setValue("AutoLoad", false);
            options.setValue("Debug", debug);
        }
        Gravex gravex;
        GravexProbe probe{gravex};
        int n = 0;
        QBENCHMARK {
            probe.save(datagram);
            if (++n % batch == 0)
                probe.endBatch();
        }
        probe.endBatch();
        // Every datagram left its line: the files hold at least 40 bytes a datagram.
        qint64 bytes = 0;
        for (QDirIterator it(home.filePath("data"), {"data_*.txt"}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            bytes += QFileInfo(it.next()).size();
        QVERIFY2(bytes >= 40LL * n, qPrintable(QString("%1 bytes for %2 datagrams").arg(bytes).arg(n)));
    }
};

QTEST_MAIN(BenchDatagram)
#include "bench_datagram.moc"
