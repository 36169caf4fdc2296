// Gravex: the UDP socket, reading datagrams, and what a datagram says.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/frame.h"
#include "reception/recordline.h"
#include "tray/tray.h"

#include <QDateTime>
#include <QDeadlineTimer>
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

void Gravex::createUdpSocket()
{
    udpSocket = new QUdpSocket(this);
    receiveBuffer.resize(maxDatagramBytes);
    bindUdpSocket();
    connect(udpSocket, &QUdpSocket::readyRead, this, &Gravex::receiveMessage);
}

// Binds to udpPort on all local addresses. A port that cannot be opened
// leaves the program running and says why; a later Apply binds again. Port 0
// (an empty or unreadable setting) would be some random port no scale sends
// to, so it is never bound.
void Gravex::bindUdpSocket()
{
    portProblem.clear();
    if (udpPort == 0)
        portProblem = strings::invalidPortReason(language);
    else if (!udpSocket->bind(QHostAddress::Any, udpPort, QUdpSocket::ShareAddress))
        portProblem = udpSocket->errorString();
    if (!portProblem.isEmpty()) {
        warn(strings::bindFailedText(language, udpPort, portProblem));
        return;
    }
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
}

// Every waiting datagram is handled to the end, in arrival order, before the
// next one is read. A pass reads for a few milliseconds at most and then
// hands what it brought to the system, so under a flood the tray menu still
// opens and the icon still blinks; while datagrams wait, the socket signals
// again at once. The datagram is read in place: saveMessage() keeps nothing
// of it beyond the call. A sender that is not allowed gets no further than
// being counted.
void Gravex::receiveMessage()
{
    const QDeadlineTimer pass(receivePassMs, Qt::PreciseTimer);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QHostAddress sender;
    qint64 size = 0;
    while (!pass.hasExpired() &&
           (size = udpSocket->readDatagram(receiveBuffer.data(), maxDatagramBytes, &sender)) >= 0) {
        if (tally.received(sender, now))
            saveMessage(QByteArray::fromRawData(receiveBuffer.constData(), size));
    }
    finishBatch();
}

QString Gravex::getMessageString(QByteArray messageData)
{
    return recordline::renderAll(messageData);
}

word Gravex::crc16(QByteArray buf)
{
    return frame::crc16(buf);
}

// Tells the user that new results have been stored.
void Gravex::announceArrival()
{
    if (showTrayMessage)
        trayIcon->announce(QDateTime::currentDateTime());
}
