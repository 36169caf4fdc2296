// The socket and reading datagrams off it.
#include "reception/receiver.h"

#include "files/encodedstream.h"
#include "i18n/strings.h"

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
// How long a socket that goes is read for: what waited in it, not a stream
// that goes on.
constexpr int letGoMs = 200;
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

// Binds to the port on all local addresses, for this program alone: no other
// program, of this account or another, may bind it beside it and take the
// scales' datagrams. A port that cannot be opened leaves the program running
// and says why; a later Apply binds again. Port 0 (an empty or unreadable
// setting) would be some random port no scale sends to, so it is never
// bound. The port in use is kept as it is, with what waits in it; a new port
// is bound before the old one is read empty and closed.
bool Receiver::bindUdpSocket(bool quietly)
{
    const QString before = std::exchange(portProblem, QString());
    if (isReceiving() && udpSocket->localPort() == port)
        return true;
    auto *socket = new QUdpSocket(this);
    if (port == 0)
        portProblem = strings::invalidPortReason(language);
    else if (!socket->bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress))
        portProblem = socket->errorString();
    if (!portProblem.isEmpty()) {
        delete socket;
        letGo();
        syncQueue.finish();
        if (!quietly || portProblem != before)
            warn(strings::bindFailedText(language, port, portProblem));
        return false;
    }
    letGo();
    syncQueue.finish();
    receiveOn(socket);
    return true;
}

void Receiver::receiveOn(QUdpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
    udpSocket = socket;
    connect(udpSocket, &QUdpSocket::readyRead, this, &Receiver::receiveMessage);
}

bool Receiver::adoptSocket(qintptr socket)
{
    if (isReceiving())
        return false;
    auto *adopted = new QUdpSocket(this);
    if (!adopted->setSocketDescriptor(socket, QAbstractSocket::BoundState)) {
        delete adopted;
        return false;
    }
    portProblem.clear();
    receiveOn(adopted);
    return true;
}

bool Receiver::isReceiving() const
{
    return udpSocket && udpSocket->state() == QAbstractSocket::BoundState;
}

// The socket in use is read empty and goes at once, its port free; what it
// brought is filed, its transfer's file still open, and synced as usual.
void Receiver::letGo()
{
    if (!udpSocket)
        return;
    const QDeadlineTimer reading(letGoMs);
    while (udpSocket->hasPendingDatagrams() && !reading.hasExpired())
        receiveMessage();
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

bool Receiver::handOver(const std::function<bool(qintptr)> &give,
                        const std::function<void()> &freed)
{
    bool moved = false;
    if (udpSocket) {
        moved = give(udpSocket->socketDescriptor());
        if (moved) {
            delete std::exchange(udpSocket, nullptr); // the service's copy lives on
        } else {
            letGo();
            freed();
        }
    }
    storeAndClose();
    return moved;
}

void Receiver::take(const QByteArray &datagram, const QHostAddress &sender, qint64 nowMs)
{
    if (tally.received(sender, nowMs))
        saveMessage(datagram);
}
