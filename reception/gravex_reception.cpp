// Gravex: the UDP socket, reading datagrams, and what a datagram says.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/frame.h"
#include "reception/recordline.h"
#include "tray/tray.h"

#include <QDateTime>
#include <QUdpSocket>

namespace {
// Room for a burst from several scales while files are written; the system
// may grant less.
constexpr int receiveBufferBytes = 4 * 1024 * 1024;
// Larger than any UDP payload, so every datagram is read whole into one
// buffer without first asking the system for its size.
constexpr qsizetype maxDatagramBytes = 65536;
} // namespace

void Gravex::createUdpSocket()
{
    udpSocket = new QUdpSocket(this);
    receiveBuffer.resize(maxDatagramBytes);
    bindUdpSocket();
    connect(udpSocket, &QUdpSocket::readyRead, this, &Gravex::receiveMessage);
}

// Binds to udpPort on all local addresses. A port that cannot be opened
// leaves the program running and says why; a later Apply binds again.
void Gravex::bindUdpSocket()
{
    if (!udpSocket->bind(QHostAddress::Any, udpPort, QUdpSocket::ShareAddress)) {
        warn(strings::bindFailedText(language, udpPort, udpSocket->errorString()));
        return;
    }
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
}

// Every waiting datagram is handled to the end, in arrival order, before the
// next one is read; what they wrote reaches the system before the program
// waits for more.
void Gravex::receiveMessage()
{
    receiving = true;
    checkedDateFolder.clear();
    while (udpSocket->hasPendingDatagrams()) {
        const qint64 size = udpSocket->readDatagram(receiveBuffer.data(), maxDatagramBytes);
        saveMessage(QByteArray(receiveBuffer.constData(), qMax<qint64>(size, 0)));
    }
    receiving = false;
    finishWrites();
}

QString Gravex::getMessageString(QByteArray messageData)
{
    return recordline::renderAll(messageData);
}

word Gravex::crc16(QByteArray buf)
{
    return frame::crc16(buf);
}

// Tells the user that new results have been written: a balloon with the
// time of arrival, and the icon blinks until it is double-clicked.
void Gravex::announceArrival()
{
    if (!showTrayMessage)
        return;
    trayIcon->messageTime = recordline::arrivalTime(QDateTime::currentDateTime());
    trayIcon->showMessage(getAppName(false), getLanguageString(14) + trayIcon->messageTime,
                          QSystemTrayIcon::Information, Tray::balloonMs);
    trayIcon->blink();
}
