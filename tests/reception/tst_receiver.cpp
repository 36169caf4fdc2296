// The receiving socket over loopback, a port that cannot be opened, the
// size of the socket's receive queue, and the notice of new results.
#include "frames.h"
#include "sandbox.h"
#include "tray/tray.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

using namespace frames;
using namespace sandbox;

namespace {

constexpr int wantedReceiveBuffer = 4 * 1024 * 1024;

void send(quint16 port, const QByteArrayList &datagrams)
{
    QUdpSocket sender;
    for (const QByteArray &datagram : datagrams)
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port),
                 qint64(datagram.size()));
}

int receiveBuffer(QUdpSocket *socket)
{
    return socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

// The largest receive buffer an unprivileged program may ask for, where the
// system tells; 0 where it does not.
int systemReceiveBufferLimit()
{
    QFile limit(QStringLiteral("/proc/sys/net/core/rmem_max"));
    return limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt() : 0;
}

} // namespace

class TestReceiver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transferOverLoopback();
    void portThatCannotBeOpened();
    void receiveBufferEnlarged();
    void notice_data();
    void notice();
};

// Every datagram of a readyRead batch is read, in arrival order; what is
// not a frame is skipped, and what was written is on disk before the
// transfer ends.
void TestReceiver::transferOverLoopback()
{
    Sandbox sb;
    sb.start();
    const quint16 port = sb.probe->udpSocket()->localPort();
    QVERIFY(port != 0);

    send(port, {hex("F855CE"), QByteArray(), packet1of3, size64, packet2of3});
    QTRY_COMPARE(readFile(sb.dataFile(1)), englishFile({1, 2}));
    QVERIFY(sb.probe->dataFile()->isOpen());

    send(port, {packet3of3, single5});
    QTRY_COMPARE(readFile(sb.dataFile(2)), englishFile({5}));
    QCOMPARE(readFile(sb.dataFile(1)), englishFile({1, 2, 3}));
}

// A port held by another program without sharing: the program runs on and
// a later Apply binds again, at start-up as after an Apply.
void TestReceiver::portThatCannotBeOpened()
{
    auto *holder = new QUdpSocket(this);
    QVERIFY(holder->bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
    const quint16 taken = holder->localPort();
    Sandbox sb;
    sb.start({{QStringLiteral("UdpPort"), taken}});
    QUdpSocket *socket = sb.probe->udpSocket();
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sb.probe->warningCount(), 1);
    QVERIFY(sb.probe->lastWarning().startsWith(
        QStringLiteral("UDP port %1 could not be opened:\n").arg(taken)));
    QVERIFY(sb.probe->lastWarning().size() > QStringLiteral("UDP port %1 could not be opened:\n").arg(taken).size());

    delete holder;
    sb.probe->applyOptions();
    QCOMPARE(socket->state(), QAbstractSocket::BoundState);
    QCOMPARE(socket->localPort(), taken);
    send(taken, {single5});
    QTRY_COMPARE(readFile(sb.dataFile(1)), englishFile({5}));

    holder = new QUdpSocket(this);
    QVERIFY(holder->bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
    const quint16 takenLater = holder->localPort();
    sb.probe->portEdit()->setText(QString::number(takenLater));
    sb.probe->applyOptions();
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sb.probe->warningCount(), 2);

    delete holder;
    sb.probe->applyOptions();
    QCOMPARE(socket->localPort(), takenLater);
    send(takenLater, {single6});
    QTRY_COMPARE(readFile(sb.dataFile(2)), englishFile({6}));
}

// A burst from several scales waits in the socket's queue while files are
// written. Linux grants twice what is asked, up to its limit.
void TestReceiver::receiveBufferEnlarged()
{
    QUdpSocket plain;
    QVERIFY(plain.bind(QHostAddress::LocalHost, 0));
    const int systemDefault = receiveBuffer(&plain);
    const int wanted = qMin(wantedReceiveBuffer, systemReceiveBufferLimit());
    Sandbox sb;
    sb.start();
    QUdpSocket *socket = sb.probe->udpSocket();

    for (int round = 0; round < 2; ++round) {
        QVERIFY2(receiveBuffer(socket) > systemDefault,
                 qPrintable(QStringLiteral("%1 granted, the default is %2")
                                .arg(receiveBuffer(socket))
                                .arg(systemDefault)));
        QVERIFY(receiveBuffer(socket) >= wanted);
        sb.probe->applyOptions(); // binds a new socket, which needs it again
        QCOMPARE(socket->state(), QAbstractSocket::BoundState);
    }
}

void TestReceiver::notice_data()
{
    QTest::addColumn<bool>("balloons");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("noticed");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("text written") << true << example << true << englishFile({1234});
    QTest::newRow("balloons off") << false << example << false << englishFile({1234});
    QTest::newRow("empty text") << true << pluZero << false << englishHeader;
    QTest::newRow("wrong CRC") << true << wrongCrc << false << QByteArray();
}

void TestReceiver::notice()
{
    QFETCH(bool, balloons);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, noticed);
    QFETCH(QByteArray, file);
    Sandbox sb;
    sb.start({{QStringLiteral("ShowTrayMessage"), balloons}});
    Tray *tray = sb.probe->trayIcon();

    QDateTime before = QDateTime::currentDateTime();
    before.setTime(QTime(before.time().hour(), before.time().minute(), before.time().second()));
    sb.save(datagram);
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(readFile(sb.dataFile(1)), file);
    QCOMPARE(GravexProbe::blinkTimer(tray)->isActive(), noticed);
    if (!noticed) {
        QVERIFY(tray->messageTime.isEmpty());
        return;
    }
    const QString pattern = QStringLiteral("dd.MM.yyyy  hh:mm:ss");
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}  \\d\\d:\\d\\d:\\d\\d$"))
                 .match(tray->messageTime)
                 .hasMatch(),
             qPrintable(tray->messageTime));
    const QDateTime shown = QDateTime::fromString(tray->messageTime, pattern);
    QVERIFY(shown >= before && shown <= after);
}

QTEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
