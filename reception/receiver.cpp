// The socket and reading datagrams off it.
#include "reception/receiver.h"

#include "files/encodedstream.h"
#include "i18n/strings.h"
#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QUdpSocket>

namespace {
// Room for a burst from several scales while files are written; the system
// may grant less.
constexpr int receiveBufferBytes = 4 * 1024 * 1024;
// Larger than any UDP payload, so every datagram is read whole into one
// buffer without first asking the system for its size.
constexpr qsizetype maxDatagramBytes = 65536;
// How long one pass reads before the event loop gets its turn again.
constexpr int receivePassMs = 5;
} // namespace

Receiver::Receiver()
{
    dataFile = new QFile;
    debugFile = new QFile;
    dataStream = new EncodedStream;
    dataStream->setDevice(dataFile);
    connect(&dayScanTimer, &QTimer::timeout, this, &Receiver::countTodayStep);
    connect(&dayTimer, &QTimer::timeout, this, &Receiver::followToday);
}

Receiver::~Receiver()
{
    storeAndClose();
    delete udpSocket;
    delete dataFile;
    delete debugFile;
    delete dataStream;
}

void Receiver::warn(const QString &text)
{
    tally.warning(text, QDateTime::currentMSecsSinceEpoch());
    Q_EMIT warning(text);
}

void Receiver::setDataFolder(const QString &folder)
{
    dataFolder = folder;
}

void Receiver::setPort(quint16 port_)
{
    port = port_;
}

void Receiver::setDebug(bool on)
{
    debug = on;
}

void Receiver::setLanguage(int language_)
{
    language = language_;
}

void Receiver::createUdpSocket()
{
    receiveBuffer.resize(maxDatagramBytes);
    bindUdpSocket();
}

// Binds to the port on all local addresses. A port that cannot be opened
// leaves the program running and says why; a later Apply binds again. Port 0
// (an empty or unreadable setting) would be some random port no scale sends
// to, so it is never bound. Binding again (Apply, the service's retries)
// loses nothing: the new socket takes the port first, beside the old one,
// which then takes no new datagrams and is read empty before it goes. The
// port is shared, so that the service can take it over from a tray program
// on Windows too.
bool Receiver::bindUdpSocket(bool quietly)
{
    const QString before = std::exchange(portProblem, QString());
    auto *socket = new QUdpSocket(this);
    if (port == 0)
        portProblem = strings::invalidPortReason(language);
    else if (!socket->bind(QHostAddress::Any, port,
                           QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        portProblem = socket->errorString();
    if (!portProblem.isEmpty()) {
        delete socket;
        letGo();
        if (!quietly || portProblem != before)
            warn(strings::bindFailedText(language, port, portProblem));
        return false;
    }
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
    letGo();
    udpSocket = socket;
    connect(udpSocket, &QUdpSocket::readyRead, this, &Receiver::receiveMessage);
    return true;
}

bool Receiver::isReceiving() const
{
    return udpSocket && udpSocket->state() == QAbstractSocket::BoundState;
}

// The socket in use takes no new datagrams, is read empty, and goes; what
// it brought is filed and on the disk, its transfer's file still open. A
// datagram the system was giving it as it stopped is read in a second round.
void Receiver::letGo()
{
    if (!udpSocket)
        return;
    platform::stopTakingDatagrams(udpSocket->socketDescriptor());
    for (int round = 0; round < 2; ++round) {
        while (udpSocket->hasPendingDatagrams())
            receiveMessage();
        syncQueue.finish();
    }
    delete std::exchange(udpSocket, nullptr);
}

// Every waiting datagram is handled to the end, in arrival order, before the
// next one is read. A pass reads for a few milliseconds at most and then
// hands what it brought to the system, so under a flood the tray menu still
// opens and the icon still blinks; while datagrams wait, the socket signals
// again at once. The datagram is read in place: saveMessage() keeps nothing
// of it beyond the call. A sender that is not allowed gets no further than
// being counted.
void Receiver::receiveMessage()
{
    const QDeadlineTimer pass(receivePassMs, Qt::PreciseTimer);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QHostAddress sender;
    qint64 size = 0;
    while (!pass.hasExpired() &&
           (size = udpSocket->readDatagram(receiveBuffer.data(), maxDatagramBytes, &sender)) >= 0)
        take(QByteArray::fromRawData(receiveBuffer.constData(), size), sender, now);
    finishBatch();
}

void Receiver::handOver()
{
    letGo();
}

void Receiver::take(const QByteArray &datagram, const QHostAddress &sender, qint64 nowMs)
{
    if (tally.received(sender, nowMs))
        saveMessage(datagram);
}
