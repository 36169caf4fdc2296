// What accepted datagrams leave on disk: the numbered data files with their
// header, the debug dump, the start-up numbering, and what happens when a
// file cannot be written; the receiving socket over loopback, a port that
// cannot be opened, the socket's receive queue and the arrival notice.
#include "fixture.h"

#include <QDateTime>
#include <QFileInfo>

namespace {

// The Russian header in Windows-1251.
const QByteArray russianHeader = hex(
    // # Формат данных в сообщениях передаваемых весами Масса-К в режиме On-Line
    "2320d4eef0ece0f220e4e0ededfbf520e220f1eeeee1f9e5ede8fff520efe5f0e5e4e0e2e0e5ecfbf5"
    "20e2e5f1e0ece820cce0f1f1e02dca20e220f0e5e6e8ece5204f6e2d4c696e650d0a"
    "0d0a"
    "2320cdeeece5f020f2f0e0ede7e0eaf6e8e80d0a"                 // # Номер транзакции
    "2320d1f2e0f2f3f120e7e0efe8f1e80d0a"                       // # Статус записи
    "2320c4e0f2e020e820e2f0e5ecff2020f2f0e0ede7e0eaf6e8e80d0a" // # Дата и время  транзакции
    "2320c3f0f3efefeee2eee920edeeece5f00d0a"                   // # Групповой номер
    "2320cdeeece5f020e2e5f1eee20d0a"                           // # Номер весов
    "2320cdeeece5f020eeefe5f0e0f2eef0e00d0a"                   // # Номер оператора
    "2320504c5520f2eee2e0f0e00d0a"                             // # PLU товара
    "2320d6e5ede020f2eee2e0f0e00d0a"                           // # Цена товара
    "2320cce0f1f1e020f2eee2e0f0e00d0a"                         // # Масса товара
    "0d0a0d0a");

void createFile(const QString &path, const QByteArray &content = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void send(quint16 port, const QByteArrayList &datagrams)
{
    QUdpSocket sender;
    for (const QByteArray &datagram : datagrams)
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port),
                 qint64(datagram.size()));
}

int receiveBuffer(QUdpSocket *socket)
{
    return socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filing_data()
    {
        QTest::addColumn<QString>("debug");
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QStringList>("names");       // today's folder afterwards
        QTest::addColumn<QByteArrayList>("contents"); // of those files, in the same order
        QTest::newRow("three packets: one file, one header")
            << "false" << QByteArrayList{packet1of3, packet2of3, packet3of3}
            << QStringList{"data_1.txt"} << QByteArrayList{englishFile({1, 2, 3})};
        QTest::newRow("dropped datagrams amid a transfer")
            << "false"
            << QByteArrayList{packet1of3, wrongCrc, headerSwapped, size64, packet2of3, packet3of3}
            << QStringList{"data_1.txt"} << QByteArrayList{englishFile({1, 2, 3})};
        QTest::newRow("last packet lost: next transfer appends")
            << "false" << QByteArrayList{packet1of3, packet2of3, example}
            << QStringList{"data_1.txt"} << QByteArrayList{englishFile({1, 2, 1234})};
        QTest::newRow("two transfers, one without text: dumps share their numbers")
            << "true" << QByteArrayList{example, pluZero}
            << QStringList{"data_1.txt", "data_2.txt", "debug_1.txt", "debug_2.txt"}
            << QByteArrayList{englishFile({1234}), englishHeader, example, pluZero};
        QTest::newRow("dump holds the last datagram, wrong CRC too")
            << "true" << QByteArrayList{packet1of3, wrongCrc}
            << QStringList{"data_1.txt", "debug_1.txt"}
            << QByteArrayList{englishFile({1}), wrongCrc};
    }
    void filing()
    {
        QFETCH(QString, debug);
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QStringList, names);
        QFETCH(QByteArrayList, contents);
        Fixture f({{"Debug", debug}});
        for (const QByteArray &datagram : datagrams)
            f.save(datagram);
        QCOMPARE(f.filesOfToday(), names);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(readFile(f.file(names[i])), contents[i]);
    }

    // Checks 1-3 come before the date folder and the dump, checks 4-5 after.
    void failedChecksLeaveTraces_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("traces");
        QTest::newRow("64 bytes") << size64 << false;
        QTest::newRow("header bytes swapped") << headerSwapped << false;
        QTest::newRow("subtype 09") << subtype09 << false;
        QTest::newRow("bodyLength off by one") << bodyLengthPlusOne << true;
        QTest::newRow("wrong CRC") << wrongCrc << true;
    }
    void failedChecksLeaveTraces()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, traces);
        Fixture f({{"Debug", "true"}});
        QVERIFY(QDir(f.file({})).removeRecursively());
        f.probe->fileCounter() = 5;
        f.save(datagram);
        QCOMPARE(QFileInfo::exists(f.file({})), traces);
        // A new date folder restarts the numbering.
        QCOMPARE(f.filesOfToday(), traces ? QStringList{"debug_1.txt"} : QStringList());
        QCOMPARE(readFile(f.file("debug_1.txt")), traces ? datagram : QByteArray());
        QVERIFY(!f.noticed());
    }

    void startupNumbering_data()
    {
        QTest::addColumn<QStringList>("entries"); // a trailing '/' makes a folder
        QTest::addColumn<qint64>("counter");
        QTest::newRow("data_1..7 and debug_9")
            << QStringList{"data_1.txt", "data_2.txt", "data_3.txt", "data_4.txt",
                           "data_5.txt", "data_6.txt", "data_7.txt", "debug_9.txt"}
            << qint64(10);
        QTest::newRow("all digits of a name") << QStringList{"a1b2.txt"} << qint64(13);
        QTest::newRow("above 2^31-1 ignored")
            << QStringList{"data_2147483648.txt", "data_4294967305.txt", "data_3.txt"} << qint64(4);
        QTest::newRow("2^31-1 still counts")
            << QStringList{"data_2147483647.txt"} << qint64(2147483648);
        QTest::newRow("folders and hidden files not counted")
            << QStringList{"99/", ".data_50.txt", "notes.txt", "data_2.txt"} << qint64(3);
    }
    void startupNumbering()
    {
        QFETCH(QStringList, entries);
        QFETCH(qint64, counter);
        Fixture f;
        for (const QString &entry : entries) {
            if (entry.endsWith('/'))
                QVERIFY(QDir().mkdir(f.file(entry)));
            else
                createFile(f.file(entry));
        }
        f.probe->setFileCounter(); // as the start-up does
        QCOMPARE(f.probe->fileCounter(), counter);
    }

    // A data folder ending with a separator gives the same paths as without.
    void trailingSeparatorGivesSamePaths()
    {
        Fixture f({{"Debug", "true"}});
        f.probe->filePath() = QDir::toNativeSeparators(f.path("data")) + QDir::separator();
        f.save(example);
        QCOMPARE(f.probe->dataFile()->fileName(), QDir::toNativeSeparators(f.file("data_1.txt")));
        QCOMPARE(f.probe->debugFile()->fileName(), QDir::toNativeSeparators(f.file("debug_1.txt")));
    }

    // The header is written in the language in force when the file is
    // opened; a change applies from the next file.
    void headerInTheLanguageOfItsOpening()
    {
        Fixture f({{"Language", "Russian"}});
        f.save(packet1of3);
        f.probe->language() = 1; // as Apply leaves it
        f.save(packet2of3);
        f.save(packet3of3);
        f.save(example);
        QCOMPARE(readFile(f.file("data_1.txt")),
                 russianHeader + lineOf(1) + "\r\n" + lineOf(2) + "\r\n" + lineOf(3) + "\r\n");
        QCOMPARE(readFile(f.file("data_2.txt")), englishFile({1234}));
    }

    // A crash or a forced logoff mid-transfer loses no line that was handled:
    // each one is with the system before the next datagram is read.
    void linesReachTheSystemAtOnce()
    {
        Fixture f;
        f.save(packet1of3);
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1}));
        QVERIFY(f.noticed());
        f.save(packet2of3);
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2}));
    }

    // After the data folder was changed while running, the counter may name a
    // file that exists there: the transfer moves on to a free number, and its
    // dump follows it.
    void takenNameIsNeverEmptied()
    {
        Fixture f({{"Debug", "true"}});
        const QString day = f.path("other/") + QDate::currentDate().toString("dd.MM.yyyy");
        QVERIFY(QDir().mkpath(day));
        for (const char *name : {"/data_1.txt", "/data_2.txt", "/debug_1.txt"})
            createFile(day + name, name);
        f.probe->filePath() = QDir::toNativeSeparators(f.path("other"));
        f.save(example);
        for (const char *name : {"/data_1.txt", "/data_2.txt", "/debug_1.txt"})
            QCOMPARE(readFile(day + name), QByteArray(name));
        QCOMPARE(readFile(day + "/data_3.txt"), englishFile({1234}));
        QCOMPARE(readFile(day + "/debug_3.txt"), example);
    }

    // Root may write anywhere, so a plain file stands in for a folder that
    // cannot be written.
    void unopenableFolderLosesOnlyItsTransfer_data()
    {
        QTest::addColumn<QString>("badFolder"); // under the home, which holds a file "plain"
        QTest::newRow("data folder is a plain file") << "plain";
        QTest::newRow("data folder's parent is gone") << "gone/data";
    }
    void unopenableFolderLosesOnlyItsTransfer()
    {
        QFETCH(QString, badFolder);
        Fixture f;
        createFile(f.path("plain"), "not a folder");
        f.probe->filePath() = QDir::toNativeSeparators(f.path(badFolder));
        for (const QByteArray &datagram : {packet1of3, packet2of3, packet3of3})
            f.save(datagram);
        QVERIFY(!f.noticed());
        QCOMPARE(f.probe->warningCount(), 1);
        QVERIFY(f.probe->lastWarning().startsWith("Data could not be saved to the file:\n"));
        QVERIFY(f.probe->lastWarning().endsWith("data_1.txt"));
        // Nothing was created in place of the missing folders.
        QVERIFY(!QFileInfo::exists(f.path("gone")));
        QCOMPARE(readFile(f.path("plain")), QByteArray("not a folder"));

        // Once the folder is back, the next transfer gets a file of its own.
        f.probe->filePath() = QDir::toNativeSeparators(f.path("data"));
        f.save(example);
        QCOMPARE(f.filesOfToday().size(), 1);
        QCOMPARE(readFile(f.file(f.filesOfToday().value(0))), englishFile({1234}));
        QVERIFY(f.noticed());
    }

    void writeFailureLosesOnlyItsTransfer()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("needs /dev/full");
        Fixture f;
        f.save(packet1of3);
        f.probe->trayIcon()->messageTime.clear();
        GravexProbe::blinkTimer(f.probe->trayIcon())->stop();
        // The rest of this transfer meets a full disk.
        f.probe->dataFile()->close();
        f.probe->dataFile()->setFileName("/dev/full");
        QVERIFY(f.probe->dataFile()->open(QIODevice::WriteOnly));
        f.save(packet2of3);
        f.save(packet3of3);
        QVERIFY(!f.noticed());
        QCOMPARE(f.probe->warningCount(), 1);

        f.save(example);
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1}));
        QCOMPARE(readFile(f.file("data_2.txt")), englishFile({1234}));
        QVERIFY(f.noticed());
    }

    // Datagrams read in one go are written in arrival order, what is not a
    // frame is skipped, and the lines are on disk before the transfer ends.
    void transferOverLoopback()
    {
        Fixture f;
        const quint16 port = f.probe->udpSocket()->localPort();
        send(port, {hex("F855CE"), QByteArray(), packet1of3, size64, packet2of3});
        QTRY_COMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2}));
        QVERIFY(f.noticed());

        send(port, {packet3of3, example});
        QTRY_COMPARE(readFile(f.file("data_2.txt")), englishFile({1234}));
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2, 3}));
    }

    // A port held by another program: the program runs on, says so once,
    // and a later Apply binds again.
    void portThatCannotBeOpened()
    {
        auto holder = std::make_unique<QUdpSocket>();
        QVERIFY(holder->bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
        const quint16 taken = holder->localPort();
        Fixture f({{"UdpPort", QString::number(taken)}});
        QCOMPARE(f.probe->udpSocket()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(f.probe->warningCount(), 1);
        QVERIFY2(f.probe->lastWarning().startsWith(
                     QStringLiteral("UDP port %1 could not be opened:\n").arg(taken)),
                 qPrintable(f.probe->lastWarning()));

        f.probe->applyOptions(); // still taken: Apply says so too
        QCOMPARE(f.probe->warningCount(), 2);
        holder.reset();
        f.probe->applyOptions();
        QCOMPARE(f.probe->udpSocket()->localPort(), taken);
        send(taken, {example});
        QTRY_COMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
        QCOMPARE(f.probe->warningCount(), 2);
    }

    // A burst from several scales waits in the socket's queue while files
    // are written. Linux grants twice what is asked, up to its limit.
    void receiveBufferEnlarged()
    {
        QUdpSocket plain;
        QVERIFY(plain.bind(QHostAddress::LocalHost, 0));
        QFile limit("/proc/sys/net/core/rmem_max");
        const int systemLimit =
            limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt() : 0;
        Fixture f;
        for (int round = 0; round < 2; ++round) { // Apply binds anew
            QVERIFY(receiveBuffer(f.probe->udpSocket()) > receiveBuffer(&plain));
            QVERIFY(receiveBuffer(f.probe->udpSocket()) >= qMin(4 * 1024 * 1024, systemLimit));
            f.probe->applyOptions();
        }
    }

    void notice_data()
    {
        QTest::addColumn<QString>("balloons");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("noticed");
        QTest::newRow("text written") << "true" << example << true;
        QTest::newRow("balloons off") << "false" << example << false;
        QTest::newRow("empty text") << "true" << pluZero << false;
    }
    void notice()
    {
        QFETCH(QString, balloons);
        QFETCH(QByteArray, datagram);
        QFETCH(bool, noticed);
        Fixture f({{"ShowTrayMessage", balloons}});
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        f.save(datagram);
        QCOMPARE(GravexProbe::blinkTimer(f.probe->trayIcon())->isActive(), noticed);
        const QString shown = f.probe->trayIcon()->messageTime;
        QCOMPARE(!shown.isEmpty(), noticed);
        if (noticed) {
            const QDateTime time = QDateTime::fromString(shown, "dd.MM.yyyy  hh:mm:ss");
            QVERIFY2(time > before && time <= QDateTime::currentDateTime(), qPrintable(shown));
        }
    }
};

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
