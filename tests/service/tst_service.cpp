// The service as its watchers see it: a real `Trelvant --service` in a
// sandbox of its own, watched from this process, from a process of another
// account, and by the tray program; and reception handed over to it by a
// tray program that was receiving.
#include "datagrams.h"
#include "fixture.h"
#include "i18n/strings.h"
#include "intruder.h"
#include "platform/platform.h"
#include "service.h"
#include "service/protocol.h"
#include "service/service.h"
#include "service/serviceclient.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

const QString trelvant = QStringLiteral(TRELVANT_PATH);

#ifdef Q_OS_LINUX
QList<QByteArray> sorted(QList<QByteArray> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The inode of the UDP socket bound to `port`, as the system lists it; 0
// when there is none.
qint64 udpSocketOn(quint16 port)
{
    const QString hexPort = QString::asprintf(":%04X ", port);
    for (const char *table : {"/proc/net/udp6", "/proc/net/udp"}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[1].endsWith(hexPort.trimmed().toLatin1()))
                return fields[9].toLongLong();
        }
    }
    return 0;
}

// A figure of /proc/PID/status, in KiB: VmRSS the memory resident now,
// VmHWM the most it ever was.
qint64 memoryKiB(qint64 pid, const char *figure)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(QByteArray(QByteArray(figure) + ':')))
            return line.mid(qstrlen(figure) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Whether process `pid` has the socket of that inode open.
bool holds(qint64 pid, qint64 inode)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System)) {
        if (fd.symLinkTarget().endsWith(QStringLiteral("socket:[%1]").arg(inode)))
            return true;
    }
    return false;
}
#endif

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A watcher hears arrivals, asks for the status, and changes the port,
    // which the service binds at once; a stop request ends it with 0.
    void watcherHearsAndChanges()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        ServiceClient client;
        QVERIFY(client.connectNow(5000));
        QVERIFY(client.serviceReceiving());
        QCOMPARE(client.whoMayChange(), QString()); // the service's own account
        QSignalSpy arrived(&client, &ServiceClient::arrived);
        service.sandbox.send(example);
        QTRY_COMPARE(arrived.count(), 1);
        QCOMPARE(client.recordsToday(), 1);

        QSignalSpy status(&client, &ServiceClient::statusChanged);
        client.requestStatus();
        QTRY_COMPARE(status.count(), 1);
        QCOMPARE(status.value(0).value(0).value<status::Snapshot>().reception.stored, 1);

        // The answers to its Apply: the options in force, and whether the
        // folder asked for was refused.
        QList<std::pair<options::Values, Reception::Change>> answers;
        connect(&client, &ServiceClient::optionsChanged, this,
                [&answers](const options::Values &v, Reception::Change change) {
                    answers.append({v, change});
                });
        const quint16 next = freeUdpPort();
        options::Values request = client.options();
        request.udpPort = next;
        client.apply(request, request.filePath);
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(answers[0].first.udpPort, next);
        QCOMPARE(answers[0].second, Reception::Applied);
        QUdpSocket().writeDatagram(example, QHostAddress::LocalHost, next);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>({lineOf(1234), lineOf(1234)}));

        // A folder the service cannot write in is not taken.
        const QString nowhere = service.sandbox.home() + "/plain/data";
        QFile(service.sandbox.home() + "/plain").open(QIODevice::WriteOnly);
        request.filePath = nowhere;
        client.apply(request, nowhere);
        QTRY_COMPARE(answers.size(), 2);
        QCOMPARE(answers[1].second, Reception::FolderNotMade);
        QCOMPARE(answers[1].first.filePath, client.options().filePath);
        QCOMPARE(service.sandbox.stored("FilePath").toString(),
                 QDir::toNativeSeparators(service.sandbox.dataFolder()));
#ifdef Q_OS_LINUX
        // Nor one that is there but takes no files, not even root's.
        request.filePath = "/proc";
        client.apply(request, "/proc");
        QTRY_COMPARE(answers.size(), 3);
        QCOMPARE(answers[2].second, Reception::FolderNotMade);
        QCOMPARE(service.sandbox.stored("FilePath").toString(),
                 QDir::toNativeSeparators(service.sandbox.dataFolder()));
#endif

#ifdef Q_OS_UNIX
        QSignalSpy gone(&client, &ServiceClient::disconnected);
        ::kill(pid_t(service.process.processId()), SIGTERM);
        QVERIFY(service.process.waitForFinished(10000));
        QCOMPARE(service.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.process.exitCode(), 0);
        QTRY_COMPARE(gone.count(), 1);
#endif
    }

    // A day from the service's data folder: its figures, and its records in
    // pages; of two days asked one after the other, the second is answered.
    void dayFromTheService()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        const QDate today = QDate::currentDate();
        const QString folder = service.sandbox.dataFolder() + today.toString("/dd.MM.yyyy");
        QVERIFY(QDir().mkpath(folder));
        QByteArray records;
        for (int n = 1; n <= 6000; ++n)
            records += lineOf(n) + "\r\n";
        QVERIFY(records.size() > protocol::recordPageBytes); // more than a page
        QFile file(folder + "/data_1.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(englishHeader + records);
        file.close();

        ServiceClient client;
        QVERIFY(client.connectNow(5000));
        QList<status::DayAnswer> answers;
        connect(&client, &ServiceClient::dayRead, this,
                [&answers](const status::DayAnswer &a) { answers.append(a); });
        client.requestDay(today.addDays(-1), false);
        client.requestDay(today, false);
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(answers[0].date, today);
        QCOMPARE(answers[0].report.records, 6000);
        QCOMPARE(answers[0].report.scales.value(0).notFiled, 0);
        QCOMPARE(answers[0].report.scales.value(0).lastTransaction, 6000);
        QVERIFY(answers[0].records.isEmpty());

        client.requestDay(today, true);
        QTRY_COMPARE(answers.size(), 2);
        QCOMPARE(answers[1].report.records, 6000);
        QVERIFY(answers[1].whoMayRead.isEmpty());
        QCOMPARE(answers[1].records.size(), records.size());
        QVERIFY(answers[1].records == records);
#ifdef Q_OS_UNIX
        // A service gone answers too: the window must not wait for ever.
        client.requestDay(today, true);
        service.process.kill();
        QTRY_COMPARE(answers.size(), 3);
        client.requestDay(today, false);
        QTRY_COMPARE(answers.size(), 4);
        QVERIFY(answers[3].unreachable);
#endif
    }

    // A watcher sending what is not a request, or far too much, or asking
    // for pages to keep the service reading, is let go;
    // the service goes on serving the others and filing.
    void hostileWatcher()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        const QList<QByteArray> attacks = {
            QByteArray::fromHex("ffffffff"), // a length beyond any request
            QByteArray::fromHex("0000000a"
                                "9bffffffffffffffff00"), // an array of 2^64-1
            QByteArray::fromHex("00000003"
                                "a100ff"), // not CBOR that parses
            // Pages of records asked for before the one before came.
            protocol::frame({protocol::GetDayRecords, protocol::DayAsked{1, 2461000}.toMap()})
                .repeated(2),
        };
        for (const QByteArray &attack : attacks) {
            QLocalSocket hostile;
            hostile.connectToServer(platform::serviceSocketName());
            QVERIFY(hostile.waitForConnected(5000));
            hostile.write(attack);
            QVERIFY(hostile.state() == QLocalSocket::UnconnectedState ||
                    hostile.waitForDisconnected(5000));
        }
        ServiceClient client;
        QVERIFY(client.connectNow(5000));
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>{lineOf(1234)});
    }

    // While the service receives, no other program, of its account or
    // another, can bind its port beside it.
    void portIsTheServicesAlone()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        for (const QByteArray &account : otherAccounts()) {
            for (const char *address : {"::", "0.0.0.0", "127.0.0.1"}) {
                Intruder intruder;
                QVERIFY(intruder.start({"bind", QString::number(service.sandbox.port()), address},
                                       account.isEmpty() ? nullptr : account.constData()));
                QCOMPARE(intruder.line() + ' ' + address + ' ' + account,
                         "refused " + QString(address) + ' ' + account);
            }
        }
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>{lineOf(1234)});
    }

#ifdef Q_OS_LINUX
    // A client that asks and asks and never reads what it is told is let
    // go before it costs the service its memory (its unread answers count),
    // also in the middle of a batch of its requests; the service goes on
    // telling the others and filing.
    void hogIsLetGo()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        QVERIFY(service.openToOthers());
        const qint64 pid = service.process.processId();
        const qint64 rest = memoryKiB(pid, "VmRSS");
        QFile peak(QStringLiteral("/proc/%1/clear_refs").arg(pid)); // the peak starts from here
        QVERIFY(peak.open(QIODevice::WriteOnly) && peak.write("5") == 1);
        peak.close();
        for (const QByteArray &account : otherAccounts()) {
            Intruder hog;
            QVERIFY(hog.start({"hog"}, account.isEmpty() ? nullptr : account.constData()));
            QCOMPARE(hog.line(40000), QString("dropped"));
        }
#ifndef __SANITIZE_ADDRESS__ // whose quarantine keeps what is freed
        const qint64 highest = memoryKiB(pid, "VmHWM");
        QVERIFY2(highest - rest <= 20 * 1024,
                 qPrintable(QString("%1 KiB at rest, %2 KiB at the peak").arg(rest).arg(highest)));
#endif
        ServiceClient client;
        QVERIFY(client.connectNow(5000));
        QSignalSpy arrived(&client, &ServiceClient::arrived);
        service.sandbox.send(example);
        QTRY_COMPARE(arrived.count(), 1);
    }

    // Connections that never say a word take no place a tray program needs:
    // one account holds a few at most, and they go after a few seconds.
    void silentConnectionsLockNobodyOut()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        QVERIFY(service.openToOthers());
        for (const QByteArray &account : otherAccounts()) {
            Intruder silent;
            QVERIFY(
                silent.start({"silent", "64"}, account.isEmpty() ? nullptr : account.constData()));
            const QString open = silent.line();
            QVERIFY2(open.startsWith("open ") && open.mid(5).toInt() <= 4, qPrintable(open));
            ServiceClient client;
            QVERIFY(client.connectNow(5000));
        }
    }
#endif

#ifdef Q_OS_LINUX
    // The socket a program offers the service while it holds the service's
    // port: taken only from an account that may change the service (another
    // could go on reading a copy of it), and only when it is bound to every
    // address (the service receives from every network). A service set to
    // port 0, which is no port, takes none.
    void offeredSocket_data()
    {
        QTest::addColumn<QByteArray>("account");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("portZero");
        QTest::addColumn<QString>("answer");
        QTest::newRow("every IPv4 address") << QByteArray() << "0.0.0.0" << false << "taken";
        QTest::newRow("every address") << QByteArray() << "" << false << "taken";
        QTest::newRow("the loopback address") << QByteArray() << "127.0.0.1" << false << "refused";
        QTest::newRow("the IPv6 loopback address") << QByteArray() << "::1" << false << "refused";
        QTest::newRow("a service set to port 0")
            << QByteArray() << "127.0.0.1" << true << "refused";
        if (::geteuid() == 0)
            QTest::newRow("another account") << QByteArray("nobody") << "" << false << "refused";
    }
    void offeredSocket()
    {
        QFETCH(QByteArray, account);
        QFETCH(QString, address);
        QFETCH(bool, portZero);
        QFETCH(QString, answer);
        const quint16 port = freeUdpPort();
        ServiceProcess service({{"UdpPort", portZero ? 0 : port}});
        service.follow(); // for the other program too
        Intruder other;
        QStringList args{"offer", QString::number(port)};
        if (!address.isEmpty())
            args << address;
        QVERIFY(other.start(args, account.isEmpty() ? nullptr : account.constData()));
        QCOMPARE(other.line(), QString("bound"));
        QVERIFY(service.start(false));
        QVERIFY(service.openToOthers());
        ServiceClient client;
        QTRY_VERIFY(client.connectNow(1000));
        QVERIFY(!client.serviceReceiving());
        other.process.write("go\n");
        QCOMPARE(other.line(), answer);
        QTRY_COMPARE(client.serviceReceiving(), answer == "taken");
    }
#endif

#ifdef Q_OS_LINUX
    // A service too busy to take a connection at once (its queue of them
    // full): the tray program is let in when there is room, and then asks
    // as ever.
    void serviceBusyAtFirst()
    {
        QTemporaryDir folder;
        qputenv("RUNTIME_DIRECTORY", QFile::encodeName(folder.path()));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(platform::serviceSocketName());
        QVERIFY(size_t(path.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 0), 0);
        QLocalSocket queued; // takes the one place in the queue
        queued.connectToServer(platform::serviceSocketName());
        QVERIFY(queued.waitForConnected(1000));

        ServiceClient client;
        QVERIFY(!client.connectNow(0));
        QLocalServer service;
        QVERIFY(service.listen(listener));
        QList<protocol::Message> heard;
        connect(&service, &QLocalServer::newConnection, &service, [&] {
            while (QLocalSocket *peer = service.nextPendingConnection()) {
                connect(peer, &QLocalSocket::readyRead, peer, [&, peer] {
                    QByteArray bytes = peer->readAll();
                    QVERIFY(protocol::takeMessages(bytes, &heard, protocol::largestRequest));
                    protocol::send(peer, protocol::Hello,
                                   protocol::Greeting{protocol::version, {}, {}});
                    protocol::send(peer, protocol::Options, protocol::Settings{});
                });
            }
        });
        QTRY_VERIFY(client.isConnected());
        QCOMPARE(heard.value(0).kind, protocol::GetOptions);
    }
#endif

    // A message as long as the most taken is taken; one byte more closes the
    // connection. Each message comes after its length in four bytes.
    void longestMessageTaken()
    {
        const QByteArray framed = protocol::frame({protocol::Warning, protocol::Text{"x"}.toMap()});
        const quint32 length = quint32(framed.size() - 4);
        QByteArray buffer = framed;
        QList<protocol::Message> messages;
        QVERIFY(protocol::takeMessages(buffer, &messages, length));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(protocol::Text::fromMap(messages[0].values).text, QString("x"));
        buffer = framed;
        QVERIFY(!protocol::takeMessages(buffer, &messages, length - 1));
    }

    // Whatever a watcher asks first, it hears the hello and the options in
    // force before the answer.
    void firstMessageIsAnsweredWithHelloAndOptions()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        QLocalSocket watcher;
        platform::connectToService(watcher);
        QVERIFY(watcher.state() == QLocalSocket::ConnectedState || watcher.waitForConnected(5000));
        protocol::send(&watcher, protocol::GetStatus);
        QByteArray buffer;
        QList<protocol::Message> heard;
        while (heard.size() < 3 && watcher.waitForReadyRead(5000)) {
            buffer += watcher.readAll();
            QVERIFY(protocol::takeMessages(buffer, &heard, protocol::largestAnswer));
        }
        QCOMPARE(heard.size(), 3);
        QCOMPARE(heard[0].kind, protocol::Hello);
        QCOMPARE(heard[1].kind, protocol::Options);
        QCOMPARE(protocol::Settings::fromMap(heard[1].values).udpPort, service.sandbox.port());
        QCOMPARE(heard[2].kind, protocol::Status);
    }

#ifdef Q_OS_LINUX
    // Watchers of accounts that may not change the service fill all but a
    // few of its places at most: one account more of them is turned away,
    // and one who may change still finds room.
    void othersLeaveRoomForChangers()
    {
        if (::geteuid() != 0)
            QSKIP("needs other accounts: run as root");
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        QVERIFY(service.openToOthers());
        // Each account, a user number without one, holds its most; the
        // numbers lie above any that Debian gives out.
        const int accountLimit = Service::accountLimit;
        const int keptPlaces = Service::watcherLimit - Service::keptForChangers;
        const uid_t firstUid = 3000000000u;
        const gid_t nogroup = 65534;
        std::vector<std::unique_ptr<Intruder>> crowd;
        for (int i = 0; i <= keptPlaces / accountLimit; ++i) {
            crowd.push_back(std::make_unique<Intruder>());
            QVERIFY(crowd.back()->start({"crowd", QString::number(accountLimit)}, firstUid + i,
                                        nogroup));
            const int kept = i < keptPlaces / accountLimit ? accountLimit : 0;
            QCOMPARE(crowd.back()->line(), QString("open %1").arg(kept));
        }
        // The rest filled with those who may change, this account's newest:
        // one more of them pushes out the newest of the others (the last
        // account's last), never one who may change.
        const gid_t serviceGroup = ::getegid();
        crowd.push_back(std::make_unique<Intruder>());
        QVERIFY(crowd.back()->start({"crowd", QString::number(accountLimit)}, firstUid + 100,
                                    serviceGroup));
        QCOMPARE(crowd.back()->line(), QString("open %1").arg(accountLimit));
        std::vector<std::unique_ptr<ServiceClient>> mine;
        while (int(mine.size()) < accountLimit) {
            mine.push_back(std::make_unique<ServiceClient>());
            QVERIFY(mine.back()->connectNow(5000));
        }
        QCOMPARE(keptPlaces + 2 * accountLimit, Service::watcherLimit); // full
        crowd.push_back(std::make_unique<Intruder>());
        QVERIFY(crowd.back()->start({"crowd", "1"}, firstUid + 101, serviceGroup));
        QCOMPARE(crowd.back()->line(), QString("open 1"));
        QCOMPARE(crowd[size_t(keptPlaces / accountLimit) - 1]->line(), QString("gone"));
        for (const auto &client : mine) {
            QSignalSpy answered(client.get(), &ServiceClient::statusChanged);
            client->requestStatus();
            QTRY_COMPARE(answered.count(), 1);
        }
    }
#endif

    // A service of another version is not one to follow: the tray program
    // hangs up, and so is free to find the right one later.
    void otherVersionIsNotFollowed()
    {
        QLocalServer other;
        QTemporaryDir folder;
        qputenv("RUNTIME_DIRECTORY", QFile::encodeName(folder.path()));
        QVERIFY(other.listen(platform::serviceSocketName()));
        QPointer<QLocalSocket> peer;
        connect(&other, &QLocalServer::newConnection, &other, [&] {
            peer = other.nextPendingConnection();
            protocol::send(peer, protocol::Hello,
                           {{"version", protocol::version + 1}, {"receiving", true}});
            protocol::send(peer, protocol::Options, {{"udpPort", 5001}});
        });
        ServiceClient client;
        client.connectNow(0); // the rest as the event loop runs
        QTRY_VERIFY(peer);
        QTRY_COMPARE(peer->state(), QLocalSocket::UnconnectedState);
        QVERIFY(!client.isConnected());
    }

#ifndef Q_OS_WIN // there a tray program follows only the process the service manager runs
    // A connection lost and made again must begin with a hello again: a
    // peer that then sends only options is not followed.
    void helloHeardOnEveryConnection()
    {
        QLocalServer other;
        QTemporaryDir folder;
        qputenv("RUNTIME_DIRECTORY", QFile::encodeName(folder.path()));
        QVERIFY(other.listen(platform::serviceSocketName()));
        QList<QPointer<QLocalSocket>> peers;
        connect(&other, &QLocalServer::newConnection, &other, [&] {
            peers.append(other.nextPendingConnection());
            if (peers.size() == 1)
                protocol::send(peers.last(), protocol::Hello,
                               protocol::Greeting{protocol::version, {}, {}});
            protocol::send(peers.last(), protocol::Options, protocol::Settings{});
            protocol::send(peers.last(), protocol::Warning, protocol::Text{"sent"});
        });
        ServiceClient client;
        QSignalSpy warned(&client, &ServiceClient::warning);
        client.connectNow(0);
        QTRY_VERIFY(client.isConnected());
        peers.last()->abort();
        QTRY_VERIFY(!client.isConnected());
        client.connectNow(0);
        QTRY_COMPARE(warned.count(), 2); // the options before it were read
        QVERIFY(!client.isConnected());
    }
#endif

#ifdef Q_OS_WIN
    // While the service is stopped anyone may make a pipe of its name: a
    // tray program sends nothing there and follows nothing it says, however
    // well it speaks the protocol.
    void impostorIsNeverWrittenTo()
    {
        ServiceProcess service;
        QVERIFY(service.start(false));
        service.stopByServiceManager();
        Intruder impostor;
        QVERIFY(impostor.start({"pretend", "5001"}));
        QCOMPARE(impostor.line(), QString("listening"));
        ServiceClient client;
        QVERIFY(!client.connectNow(3000));
        QTest::qWait(2 * ServiceClient::retryMs); // it tries again meanwhile
        QVERIFY(!client.isConnected());
        const QByteArray said = impostor.process.readAll();
        QVERIFY2(!said.contains("written"), said.constData());
    }
#endif

#ifdef Q_OS_UNIX
    // What the user must hear of goes where the system keeps services' logs,
    // and to its watchers: a packet that never came, a file not written.
    void warningsToTheLog()
    {
        ServiceProcess service;
        service.process.setProcessChannelMode(QProcess::MergedChannels);
        QVERIFY(service.start());
        service.follow();
        ServiceClient watcher;
        QVERIFY(watcher.connectNow(5000));
        QStringList heard;
        connect(&watcher, &Reception::warning, this, [&heard](const QString &t) { heard << t; });
        for (const QByteArray &p : {packet1of3, packet2of3, packet3of3, packet1of3, packet3of3})
            service.sandbox.send(p);
        QTRY_COMPARE(heard.size(), 1);
        QVERIFY2(
            QRegularExpression("^data_\\d+\\.txt: packet 2 of 3 from scale 00017 never arrived$")
                .match(heard[0])
                .hasMatch(),
            qPrintable(heard[0]));
        QByteArray log;
        QTRY_VERIFY((log += service.process.readAll()).contains(heard[0].toUtf8()));
        QVERIFY(QDir(service.sandbox.dataFolder()).removeRecursively());
        QFile(service.sandbox.dataFolder()).open(QIODevice::WriteOnly); // a plain file in its place
        service.sandbox.send(example);
        const QByteArray warning = "Data could not be saved to the file: " +
                                   QFile::encodeName(service.sandbox.dataFolder()) + '/';
        QTRY_VERIFY((log += service.process.readAll()).contains(warning));
    }
#endif

#ifdef Q_OS_LINUX
    // What a watcher run as `account` (or as this process) is told when it
    // asks the service to move to `port`.
    static QString watch(const char *account, quint16 port)
    {
        Intruder watcher;
        if (!watcher.start({"watch", QString::number(port)}, account))
            return QStringLiteral("no account ") + account;
        watcher.process.waitForFinished(10000);
        return QString::fromLocal8Bit(watcher.process.readAllStandardOutput());
    }

    // Anyone may watch; only the service's group (and root) may change.
    void othersMayOnlyWatch()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run a watcher as another account");
        ServiceProcess service;
        QVERIFY(service.start());
        service.follow();
        service.openToOthers();
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>{lineOf(1234)});
        // The day's figures to anyone, its records only to those who may
        // change the service: its data folder is closed to the others.
        QVERIFY(QFile::setPermissions(service.sandbox.dataFolder(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const quint16 next = freeUdpPort();
        QCOMPARE(watch("nobody", next), QString("may change: group:root\nrefused: group:root\n"
                                                "day: 1 records; records refused: group:root\n"));
        // Where the folder is open to it, a watcher reads the records itself.
        QVERIFY(QFile::setPermissions(service.sandbox.dataFolder(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther));
        QCOMPARE(watch("nobody", next), QString("may change: group:root\nrefused: group:root\n"
                                                "day: 1 records; record lines: 1\n"));
        QCOMPARE(watch(nullptr, next),
                 QString("may change: yes\nport: %1\nday: 1 records; record lines: 1\n").arg(next));
    }

    // Root may change a service that runs as an account of its own, though
    // it is neither that account nor in its group.
    void rootMayChangeAServiceOfAnotherAccount()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run the service as another account");
        ServiceProcess service;
        QVERIFY(service.sandbox.handTo(service.process, "nobody"));
        QVERIFY(service.start());
        service.follow();
        const quint16 next = freeUdpPort();
        QCOMPARE(watch(nullptr, next),
                 QString("may change: yes\nport: %1\nday: 0 records; record lines: 0\n").arg(next));
    }
#endif

#ifndef Q_OS_WIN // a service and a tray program of one account share one registry key there
    static QString serviceGone()
    {
        return strings::phrase(strings::english, strings::ServiceGone);
    }

    // The tray program that finds the service running binds no port and is
    // the service's window: its arrivals, its status, its options (changed
    // by Apply), and word at once when it is gone.
    void trayProgramIsItsWindow()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        Fixture f;
        service.follow();
        f.start();        // finds the service
        QUdpSocket probe; // the tray program's own port is free
        QVERIFY(probe.bind(QHostAddress::Any, f.sandbox.port(), QUdpSocket::DontShareAddress));
        QCOMPARE(f.find<QLineEdit>("port")->text(), QString::number(service.sandbox.port()));
        // Above the fields, whose options they are.
        const auto *note = f.find<QLabel>("serviceNote");
        QVERIFY(!note->isHidden());
        int row = -1, column = 0, rows = 0, columns = 0;
        for (const QGridLayout *grid : f.gravex->findChildren<QGridLayout *>()) {
            if (const int at = grid->indexOf(note); at >= 0)
                grid->getItemPosition(at, &row, &column, &rows, &columns);
        }
        QCOMPARE(row, 0);
        QCOMPARE(note->text(), strings::phrase(strings::english, strings::ServiceOptions));

        service.sandbox.send(example);
        QTRY_VERIFY(f.blinking());
        f.command("status");
        QWidget *window = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            window = w->objectName() == "status" ? w : window;
        QTRY_COMPARE(window->findChild<QLabel *>("stored")->text(), QString("1"));
        QCOMPARE(window->findChild<QLabel *>("source")->text(),
                 strings::phrase(strings::english, strings::ServiceReceives));
        QVERIFY(!window->findChild<QLabel *>("source")->isHidden());
        // The day, as the service reads it.
        auto *tabs = window->findChild<QTabWidget *>();
        tabs->setCurrentWidget(window->findChild<QWidget *>("day"));
        QTRY_VERIFY(window->findChild<QLabel *>("daySummary")->text().startsWith("1 records in "));
        // The senders to allow go to the service: the entry it refuses is
        // named in the window, a list it takes clears that.
        const auto applySenders = [window](const QString &list) {
            window->findChild<QLineEdit *>("allowedSenders")->setText(list);
            window->findChild<QPushButton *>("applyAllowedSenders")->click();
        };
        auto *problem = window->findChild<QLabel *>("allowedSendersProblem");
        applySenders("127.0.0.1, 10.1");
        QTRY_COMPARE(problem->text(), QString("Not an address or subnet: 10.1"));
        // So does how long a scale may be silent, applied with them.
        auto *silence = window->findChild<QSpinBox *>("silentScaleMinutes");
        QCOMPARE(silence->value(), 30);
        silence->setValue(12);
        applySenders("127.0.0.1");
        QTRY_COMPARE(service.sandbox.stored("AllowedSenders").toString(), QString("127.0.0.1"));
        QCOMPARE(service.sandbox.stored("SilentScaleMinutes").toInt(), 12);
        QVERIFY(Fixture::stored("SilentScaleMinutes").isNull()); // not stored here
        QTRY_VERIFY(problem->text().isEmpty());

        const quint16 next = freeUdpPort();
        f.find<QLineEdit>("port")->setText(QString::number(next));
        f.apply();
        QCOMPARE(Fixture::stored("UdpPort").toInt(), int(f.sandbox.port())); // not stored here
        QTRY_COMPARE(service.sandbox.stored("UdpPort").toInt(), int(next));

        service.process.kill();
        QTRY_COMPARE(shownWarning(), serviceGone());
        QTRY_VERIFY(f.probe->trayIcon()->toolTip().endsWith(serviceGone()));
    }

    // A port another program holds: the service says it does not receive,
    // takes the port when it comes free, and says so.
    void portComingFree()
    {
        QUdpSocket holder;
        const quint16 port = freeUdpPort();
        QVERIFY(holder.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress));
        ServiceProcess service({{"UdpPort", port}});
        QVERIFY(service.start(false));
        service.follow();
        ServiceClient client;
        QTRY_VERIFY(client.connectNow(1000));
        QVERIFY(!client.serviceReceiving());
        holder.close();
        QTRY_VERIFY_WITH_TIMEOUT(client.serviceReceiving(), 15000);
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>{lineOf(1234)});
    }

    // A service kept from its port leaves a tray program started meanwhile
    // receiving on its own.
    void trayReceivesBesideAServiceWithoutPort()
    {
        QUdpSocket holder;
        const quint16 port = freeUdpPort();
        QVERIFY(holder.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress));
        ServiceProcess service({{"UdpPort", port}});
        QVERIFY(service.start(false));
        Fixture f;
        service.follow();
        ServiceClient client;
        QTRY_VERIFY(client.connectNow(1000));
        QVERIFY(!client.serviceReceiving());
        f.start();
        QVERIFY(f.probe->receives());
        QVERIFY(f.probe->portOpen());
    }

    // A tray program started while the service waits for its port (another
    // program held it a moment ago) hands it over at once, not never.
    void trayStartedWhileTheServiceWaits()
    {
        QUdpSocket holder;
        const quint16 port = freeUdpPort();
        QVERIFY(holder.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress));
        ServiceProcess service({{"UdpPort", port}});
        QVERIFY(service.start(false));
        Fixture f({{"UdpPort", port}});
        service.follow();
        ServiceClient client;
        QTRY_VERIFY(client.connectNow(1000));
        QVERIFY(!client.serviceReceiving());
        holder.close();
        f.start();
        QTRY_VERIFY(client.serviceReceiving());
        QVERIFY(!f.probe->receives());
        service.sandbox.send(example);
        QTRY_COMPARE(service.sandbox.records(), QList<QByteArray>{lineOf(1234)});
    }

    // A service on another port leaves a tray program receiving on its own.
    void serviceOnAnotherPort()
    {
        ServiceProcess service;
        Sandbox tray;
        tray.followService(service.sandbox);
        QProcess program;
        QVERIFY(tray.start(program, QStringLiteral(TRELVANT_PATH)));
        QVERIFY(service.start());
        QTest::qWait(2 * ServiceClient::retryMs); // it has seen the service
        tray.send(example);
        QTRY_VERIFY(tray.records().contains(lineOf(1234)));
        program.kill();
        program.waitForFinished();
    }

    // A tray program receiving when the service starts hands reception over.
    // A user who may change the service gives it the socket itself: of a
    // paced stream through the hand-over every line is filed once, by the one
    // or the other. Another user's program frees the port instead, which the
    // service opens at once: nothing is filed twice, and only what arrived in
    // between may be lost.
    void handOver_data()
    {
        QTest::addColumn<QByteArray>("account");
        QTest::addColumn<bool>("moved");
        QTest::newRow("the socket moves") << QByteArray() << true;
#ifdef Q_OS_LINUX
        if (::geteuid() == 0)
            QTest::newRow("the port is freed") << QByteArray("nobody") << false;
#endif
    }
    void handOver()
    {
        QFETCH(QByteArray, account);
        QFETCH(bool, moved);
        ServiceProcess service;
        Sandbox tray({{"UdpPort", service.sandbox.port()}});
        tray.followService(service.sandbox);
        QProcess program;
#ifdef Q_OS_LINUX
        if (!account.isEmpty()) {
            QVERIFY(tray.handTo(program, account.constData()));
            QVERIFY(service.openToOthers());
        }
#endif
        QVERIFY(tray.start(program, trelvant));
        const qint64 before = udpSocketOn(tray.port());
        QProcess sim;
        const QString expected = service.sandbox.home() + "/expected.txt";
        sim.start(SCALE_SIM_PATH,
                  {"--port", QString::number(tray.port()), "--scales", "2", "--packets", "10",
                   "--transfers", "100", "--rate", "500", "--expect", expected});
        QTRY_VERIFY(!tray.records().isEmpty());
        QVERIFY(service.start(false));
        QVERIFY(sim.waitForFinished(30000));
        QFile file(expected);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> sent = file.readAll().split('\n');
        sent.removeLast();
        for (QByteArray &line : sent)
            line.chop(1);
        const auto filed = [&] {
            QList<QByteArray> all = tray.records() + service.sandbox.records();
            std::sort(all.begin(), all.end());
            return all;
        };
        const QList<QByteArray> all = sorted(sent);
        if (moved) {
            QTRY_COMPARE_WITH_TIMEOUT(filed(), all, 20000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(filed().size() >= all.size() - 5, 20000);
            QList<QByteArray> seen = filed();
            QVERIFY(std::unique(seen.begin(), seen.end()) == seen.end()); // none twice
            QVERIFY(std::includes(all.begin(), all.end(), seen.begin(), seen.end()));
        }
        QVERIFY(!service.sandbox.records().isEmpty());
#ifdef Q_OS_LINUX
        // The service holds the very socket the tray program had, or its own.
        QCOMPARE(udpSocketOn(tray.port()) == before, moved);
        QVERIFY(holds(service.process.processId(), udpSocketOn(tray.port())));
#endif
        // The tray program no longer takes any.
        const qsizetype inTray = tray.records().size();
        service.sandbox.send(example);
        QTRY_VERIFY(service.sandbox.records().contains(lineOf(1234)));
        QCOMPARE(tray.records().size(), inTray);
#ifdef Q_OS_LINUX
        // Nor does it hold a data file open, which would keep it from being
        // moved, nor a copy of the socket.
        QVERIFY(!holds(program.processId(), udpSocketOn(tray.port())));
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(program.processId()));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System))
            QVERIFY2(!fd.symLinkTarget().contains("/data_"), qPrintable(fd.symLinkTarget()));
#endif
        program.kill();
        program.waitForFinished();
    }
#endif
};

QTEST_MAIN(TestService)
#include "tst_service.moc"
