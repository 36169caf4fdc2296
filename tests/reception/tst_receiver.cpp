// The receiving socket over loopback: datagrams filed in arrival order, a
// pass that gives the event loop its turn under a flood, ports that cannot
// or must not be opened, binding again on Apply, and a port no other
// program can share.
#include "datagrams.h"
#include "fixture.h"
#include "intruder.h"
#include "reception/localaddresses.h"

#include <QNetworkInterface>

#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

namespace {

// Where a program may bind the port: all addresses (both protocols, IPv4
// alone), loopback, and the first address of the computer that is not.
QStringList addressesOfThisComputer()
{
    QStringList addresses{"::", "0.0.0.0", "127.0.0.1"};
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            addresses << a.toString();
            break;
        }
    }
    return addresses;
}

} // namespace

class TestReceiver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void datagramsFiledInArrivalOrder()
    {
        Fixture f;
        f.send(
            {packet1of3, headerSwapped, QByteArray(), packet2of3, wrongCrc, packet3of3, example});
        QTRY_COMPARE(readFile(f.file("data_2.txt")), englishFile({1234}));
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2, 3}));
        QTRY_VERIFY(f.blinking()); // once the files are on the disk
    }

    // One pass reads for a few milliseconds, then lets the event loop run;
    // the datagrams still waiting are read by the passes that follow.
    void floodIsReadInPasses()
    {
        Fixture f;
        const int count = 2000;
        QByteArray records;
        for (int i = 0; i < 20; ++i)
            records += exampleRecord;
        // 20 records, packet 1 of 2 so that they all go to one file.
        const QByteArray twenty = packet("F855CE F003 0208 0100 0200 E803", records, "B3E9");
        QByteArrayList flood;
        for (int i = 0; i < count; ++i)
            flood << twenty;
        f.send(flood);
        QMetaObject::invokeMethod(f.gravex.get(), "receiveMessage");
        const auto lines = [&] {
            return readFile(f.file("data_1.txt")).count('\n') - englishHeader.count('\n');
        };
        QVERIFY2(lines() < 20 * count, "one pass read the whole flood");
        QTRY_COMPARE_WITH_TIMEOUT(lines(), 20 * count, 30000);
    }

    void portNotOpened_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("warning");
        QTest::newRow("empty") << ""
                               << "UDP port 0 could not be opened:\nnot a valid port number";
        QTest::newRow("not a number") << "abc"
                                      << "UDP port 0 could not be opened:\nnot a valid port number";
        QTest::newRow("70000 keeps its low 16 bits, 4464: taken")
            << "70000"
            << "UDP port 4464 could not be opened:\n";
    }
    // The program runs on without a port and says why; the options window
    // shows what was stored.
    void portNotOpened()
    {
        QFETCH(QString, port);
        QFETCH(QString, warning);
        QUdpSocket holder; // takes 4464 for itself
        holder.bind(QHostAddress::Any, 4464, QUdpSocket::DontShareAddress);
        Fixture f({{"UdpPort", port}});
        QVERIFY2(shownWarning().startsWith(warning), qPrintable(shownWarning()));
        QVERIFY(!f.probe->portOpen());
        QCOMPARE(f.find<QLineEdit>("port")->text(), QString::number(quint16(port.toInt())));
    }

    // Apply binds again, to the port in the window, and loses nothing: what
    // waited in the socket is filed.
    void applyBindsAgain_data()
    {
        QTest::addColumn<bool>("newPort");
        QTest::newRow("same port") << false;
        QTest::newRow("another port") << true;
    }
    void applyBindsAgain()
    {
        QFETCH(bool, newPort);
        Fixture f;
        const quint16 next = newPort ? freeUdpPort() : f.port();
        f.send({packet1of3, packet2of3}); // read by nobody yet
        f.find<QLineEdit>("port")->setText(QString::number(next));
        f.apply();
        QCOMPARE(f.port(), next);
        f.send({packet3of3}, next);
        QTRY_COMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2, 3}));
    }

    // No other program, of this account or another, can bind the port beside
    // the program and take the scales' datagrams from it: not on all the
    // computer's addresses, nor on one of them.
    void portIsTheProgramsAlone_data()
    {
        QTest::addColumn<QByteArray>("account");
        for (const QByteArray &account : otherAccounts())
            QTest::newRow(account.isEmpty() ? "this account" : account.constData()) << account;
    }
    void portIsTheProgramsAlone()
    {
        QFETCH(QByteArray, account);
        Fixture f;
        for (const QString &address : addressesOfThisComputer()) {
            Intruder intruder;
            QVERIFY(intruder.start({"bind", QString::number(f.port()), address},
                                   account.isEmpty() ? nullptr : account.constData()));
            QCOMPARE(intruder.line() + ' ' + address, "refused " + address);
        }
        f.send({example});
        QTRY_COMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
    }

#ifdef Q_OS_WIN
    // Windows lets a program bind a port in use with SO_REUSEADDR unless the
    // socket holding it asked for it alone.
    void portIsForThisSocketAlone()
    {
        Fixture f;
        BOOL exclusive = FALSE;
        int size = sizeof exclusive;
        QCOMPARE(::getsockopt(SOCKET(f.probe->socketDescriptor()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                              reinterpret_cast<char *>(&exclusive), &size),
                 0);
        QVERIFY(exclusive);
    }
#endif

    // The same port kept through Apply is the same socket.
    void applyKeepsTheSocket()
    {
        Fixture f;
        const qintptr socket = f.probe->socketDescriptor();
        f.apply();
        QCOMPARE(f.probe->socketDescriptor(), socket);
    }

    // This computer's addresses, as the system lists them one change after
    // another: "a b | a c | c" starts with a and b, then lists a and c, then
    // c alone; "!c" starts again with c. Told: the old and the new address,
    // once both are known.
    void addressChangeTold_data()
    {
        QTest::addColumn<QString>("lists");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("leaseRenewedNewFirst")
            << "10.0.0.5 | 10.0.0.5 10.0.0.9 | 10.0.0.9" << QStringList{"", "10.0.0.5 > 10.0.0.9"};
        QTest::newRow("leaseRenewedOldFirst")
            << "10.0.0.5 | | 10.0.0.9" << QStringList{"", "10.0.0.5 > 10.0.0.9"};
        QTest::newRow("cableBackInSameAddress") << "10.0.0.5 | | 10.0.0.5" << QStringList{"", ""};
        QTest::newRow("anotherNetworkAdded")
            << "10.0.0.5 | 10.0.0.5 192.168.7.2" << QStringList{""};
        QTest::newRow("toldOnce") << "10.0.0.5 | 10.0.0.9 | 10.0.0.9 | 10.0.0.9 192.168.7.2"
                                  << QStringList{"10.0.0.5 > 10.0.0.9", "", ""};
        QTest::newRow("ipv6TemporaryAddressesComeAndGo")
            << "10.0.0.5 2001:db8::1 | 10.0.0.5 2001:db8::2" << QStringList{""};
        QTest::newRow("loopbackAndLinkLocalAreNoScalesAddress")
            << "10.0.0.5 127.0.0.1 | 169.254.3.3 fe80::1 ::1" << QStringList{""};
        QTest::newRow("startedAgainForgetsWhatWent")
            << "10.0.0.5 | | !10.0.0.9 | 10.0.0.9 192.168.7.2" << QStringList{"", ""};
    }

    void addressChangeTold()
    {
        QFETCH(QString, lists);
        QFETCH(QStringList, told);
        const auto addresses = [](const QString &list) {
            QList<QHostAddress> all;
            for (const QString &a : list.split(' ', Qt::SkipEmptyParts))
                all << QHostAddress(a);
            return LocalAddresses::reachable(all);
        };
        const QStringList steps = lists.split('|');
        LocalAddresses local;
        local.start(addresses(steps[0]));
        QStringList seen;
        for (const QString &step : steps.mid(1)) {
            if (const QString restart = step.trimmed(); restart.startsWith('!')) {
                local.start(addresses(restart.mid(1)));
                continue;
            }
            const LocalAddresses::Change change = local.update(addresses(step));
            seen << (change.gone.isEmpty() ? QString()
                                           : change.gone.join(',') + " > " + change.came.join(','));
        }
        QCOMPARE(seen, told);
    }

    // A day is answered once: the reading then rests until another is asked.
    void dayAnsweredOnce()
    {
        Fixture f;
        QList<QDate> answered;
        connect(f.probe->reception(), &Reception::dayRead, this,
                [&answered](const status::DayAnswer &a) { answered << a.date; });
        const QDate today = QDate::currentDate();
        f.probe->reception()->requestDay(today, false);
        QTRY_COMPARE(answered, QList<QDate>{today});
        f.probe->reception()->requestDay(today.addDays(-1), false);
        QTRY_COMPARE(answered, (QList<QDate>{today, today.addDays(-1)}));
    }

#ifdef Q_OS_LINUX
    // The system's word that addresses changed wakes the watch. Seen in a
    // network namespace of its own, where bringing the loopback up gives it
    // its addresses: nothing of this computer's network changes.
    void addressWatchWakes()
    {
        QProcess watcher;
        watcher.start("unshare",
                      {"--user", "--map-root-user", "--net", INTRUDER_PATH, "addresses"});
        QVERIFY(!watcher.waitForStarted() || watcher.waitForFinished(10000));
        const QString said = QString::fromLocal8Bit(watcher.readAllStandardOutput()).trimmed();
        if (said.isEmpty() || said == "cannot change addresses")
            QSKIP("needs a network namespace of its own (unshare --user --net)");
        QCOMPARE(said, QString("changed"));
    }
#endif
};

QTEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
